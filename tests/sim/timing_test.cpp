// The sending side and the faults that shape it, over given times.
#include <gtest/gtest.h>

#include "sim/faults.h"
#include "sim/transmitter.h"

namespace busdesk::sim {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

const Clock::time_point t0{};

TEST(Transmitter, BytesGoOutAtTheirPace) {
    Transmitter tx;
    tx.Schedule(t0 + milliseconds(3), {1, 2, 3, 4}, microseconds(500));
    EXPECT_TRUE(tx.Take(t0 + microseconds(2999)).empty());
    EXPECT_EQ(tx.NextDue(), t0 + milliseconds(3));
    EXPECT_EQ(tx.Take(t0 + milliseconds(3)), (Bytes{1}));
    EXPECT_EQ(tx.NextDue(), t0 + microseconds(3500));
    EXPECT_EQ(tx.Take(t0 + microseconds(4000)), (Bytes{2, 3}));
    // A late wake-up sends everything that is due at once.
    EXPECT_EQ(tx.Take(t0 + milliseconds(50)), (Bytes{4}));
    EXPECT_TRUE(tx.Empty());
    EXPECT_FALSE(tx.NextDue().has_value());
}

TEST(Transmitter, TransmissionsNeverOverlap) {
    Transmitter tx;
    tx.Schedule(t0, {0xA1, 0xA2, 0xA3}, milliseconds(1));
    tx.Schedule(t0 + microseconds(500), {0xB1}, milliseconds(1));  // due while A is sent
    EXPECT_EQ(tx.Take(t0 + microseconds(1500)), (Bytes{0xA1, 0xA2}));
    EXPECT_EQ(tx.NextDue(), t0 + milliseconds(2));
    EXPECT_EQ(tx.Take(t0 + milliseconds(2)), (Bytes{0xA3}));
    // B waits for the line to be free after A's last byte.
    EXPECT_EQ(tx.NextDue(), t0 + milliseconds(3));
    EXPECT_EQ(tx.Take(t0 + milliseconds(3)), (Bytes{0xB1}));
}

TEST(Transmitter, EarlierDueGoesFirstWhateverTheOrderOfScheduling) {
    Transmitter tx;
    tx.Schedule(t0 + milliseconds(700), {0x70}, {});
    tx.Schedule(t0 + milliseconds(3), {0x03}, {});
    tx.Schedule(t0 + milliseconds(3), {0x04}, {});
    EXPECT_EQ(tx.Take(t0 + milliseconds(10)), (Bytes{0x03, 0x04}));
    EXPECT_EQ(tx.NextDue(), t0 + milliseconds(700));
    EXPECT_EQ(tx.Take(t0 + milliseconds(700)), (Bytes{0x70}));
}

const microseconds kByte{521};

Answer Framed22() {
    Answer a;
    for (std::uint8_t i = 0; i < 22; ++i) a.bytes.push_back(i);
    return a;
}

TEST(Faults, NoneLeaveTheAnswerAlone) {
    Faults f;
    const auto p = Shape(Framed22(), f, kByte);
    ASSERT_EQ(p.size(), 1U);
    EXPECT_EQ(p[0].after, microseconds(0));
    EXPECT_EQ(p[0].bytes, Framed22().bytes);
}

TEST(Faults, CorruptSpoilsOnlyTheCrcAndIsSpent) {
    Faults f;
    f.corrupt = 1;
    const auto p = Shape(Framed22(), f, kByte);
    const Bytes good = Framed22().bytes;
    ASSERT_EQ(p[0].bytes.size(), good.size());
    EXPECT_TRUE(std::equal(good.begin(), good.end() - 1, p[0].bytes.begin()));
    EXPECT_NE(p[0].bytes.back(), good.back());
    EXPECT_EQ(f.corrupt, 0);
    EXPECT_EQ(Shape(Framed22(), f, kByte)[0].bytes, good);
}

TEST(Faults, SplitLeavesAGapLongerThanTheReadTimeout) {
    Faults f;
    f.split = 1;
    f.splitGap = milliseconds(40);
    const auto p = Shape(Framed22(), f, kByte);
    ASSERT_EQ(p.size(), 2U);
    EXPECT_EQ(p[0].bytes.size() + p[1].bytes.size(), 22U);
    EXPECT_EQ(p[0].bytes.front(), 0);
    // The gap counts from the end of the first half.
    EXPECT_EQ(p[1].after - (p[0].after + kByte * static_cast<int>(p[0].bytes.size())),
              milliseconds(40));
    EXPECT_EQ(f.split, 0);
}

TEST(Faults, LateHoldsBackAndCombinesWithSplit) {
    Faults f;
    f.late = 1;
    f.lateBy = milliseconds(700);
    f.split = 1;
    const auto p = Shape(Framed22(), f, kByte);
    ASSERT_EQ(p.size(), 2U);
    EXPECT_EQ(p[0].after, milliseconds(700));
    EXPECT_GT(p[1].after, milliseconds(740));
}

TEST(Faults, SurveyIsPaddedButNeverCorrupted) {
    Faults f;
    f.surveySize = 20;
    f.corrupt = 1;
    Answer survey{{1, 5, 7}, true};
    const auto p = Shape(survey, f, kByte);
    ASSERT_EQ(p[0].bytes.size(), 20U);
    EXPECT_EQ(Bytes(p[0].bytes.begin(), p[0].bytes.begin() + 3), (Bytes{1, 5, 7}));
    EXPECT_EQ(f.corrupt, 1);  // kept for the next framed answer
}

}  // namespace
}  // namespace busdesk::sim
