#include "win32/paint_pace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace busdesk::win32 {
namespace {

using namespace std::chrono_literals;
using Clock = Pace::Clock;

TEST(LastSet, SetsOnlyWhatIsNewToTheControl) {
    LastSet<std::wstring> caption;
    EXPECT_TRUE(caption.Take(L""));  // nothing known yet: even an empty text is set
    EXPECT_FALSE(caption.Take(L""));
    EXPECT_TRUE(caption.Take(L"Порт открыт"));
    EXPECT_FALSE(caption.Take(L"Порт открыт"));
    EXPECT_TRUE(caption.Take(L""));
    caption.Forget();
    EXPECT_TRUE(caption.Take(L""));  // changed behind our back: set again
}

TEST(LastSet, ABackAndForthIsSetEachTime) {
    LastSet<std::uint32_t> lamp;
    std::vector<bool> set;
    for (std::uint32_t colour : {0x00FF00u, 0x00FF00u, 0x0000FFu, 0x00FF00u, 0x00FF00u})
        set.push_back(lamp.Take(colour));
    EXPECT_EQ(set, (std::vector<bool>{true, false, true, true, false}));
}

// Each step: a change of the line at `at` (or the timer firing), and whether
// the bar is written then.
struct Step {
    bool timer;
    Clock::duration at;
    bool shows;
};

struct PaceCase {
    const char* name;
    std::vector<Step> steps;
};

class PaceTable : public ::testing::TestWithParam<PaceCase> {};

TEST_P(PaceTable, ShowsAtMostOnceAPeriodAndNeverLosesTheNewest) {
    const Clock::time_point t0{};
    Pace pace(1s);
    for (const Step& s : GetParam().steps) {
        const bool did = s.timer ? pace.Due(t0 + s.at) : pace.Changed(t0 + s.at);
        EXPECT_EQ(did, s.shows)
            << (s.timer ? "timer" : "change") << " at "
            << std::chrono::duration_cast<std::chrono::milliseconds>(s.at).count() << " ms";
    }
    EXPECT_FALSE(pace.Pending()) << "the newest line was never shown";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, PaceTable,
    ::testing::Values(
        // One change a tick (500 ms): the first at once, then every other.
        PaceCase{"EveryTick",
                 {{false, 0ms, true},
                  {false, 500ms, false},
                  {true, 1000ms, true},
                  {false, 1000ms, false},
                  {false, 1500ms, false},
                  {true, 2000ms, true}}},
        // A quiet spell: the next change shows at once.
        PaceCase{"AfterQuiet", {{false, 0ms, true}, {false, 5000ms, true}}},
        // A timer that fires early shows nothing; the late one shows it.
        PaceCase{"EarlyTimer",
                 {{false, 0ms, true},
                  {false, 200ms, false},
                  {true, 999ms, false},
                  {true, 1000ms, true}}},
        // A timer with nothing pending writes nothing.
        PaceCase{"IdleTimer", {{false, 0ms, true}, {true, 1000ms, false}, {true, 3000ms, false}}}),
    [](const ::testing::TestParamInfo<PaceCase>& i) { return std::string(i.param.name); });

TEST(Pace, WaitsOnlyTheRestOfThePeriod) {
    const Clock::time_point t0{};
    Pace pace(1s);
    EXPECT_EQ(pace.Wait(t0), Clock::duration::zero());
    ASSERT_TRUE(pace.Changed(t0));
    EXPECT_EQ(pace.Wait(t0 + 300ms), Clock::duration::zero()) << "nothing pending";
    ASSERT_FALSE(pace.Changed(t0 + 300ms));
    EXPECT_EQ(pace.Wait(t0 + 300ms), 700ms);
    EXPECT_EQ(pace.Wait(t0 + 1200ms), Clock::duration::zero());
}

TEST(Pace, AShowingOutOfTurnTakesThePendingLineAndRestartsThePeriod) {
    const Clock::time_point t0{};
    Pace pace(1s);
    ASSERT_TRUE(pace.Changed(t0));
    ASSERT_FALSE(pace.Changed(t0 + 400ms));
    pace.Shown(t0 + 600ms);  // the window was resized
    EXPECT_FALSE(pace.Pending());
    EXPECT_FALSE(pace.Due(t0 + 1000ms));
    EXPECT_FALSE(pace.Changed(t0 + 1100ms));
    EXPECT_TRUE(pace.Due(t0 + 1600ms));
}

}  // namespace
}  // namespace busdesk::win32
