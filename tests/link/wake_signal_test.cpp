// The signal that ends a wait on the port: its handle must be ready exactly
// while it is raised, however raises and clears interleave, or a waiter would
// either sleep through a wake-up or spin on a stale one.
#include "link/wake_signal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#endif

namespace busdesk {
namespace {

bool HandleReady(const WakeSignal& w) {
#ifdef _WIN32
    return ::WaitForSingleObject(static_cast<HANDLE>(w.Event()), 0) == WAIT_OBJECT_0;
#else
    pollfd p{w.Fd(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
#endif
}

TEST(WakeSignal, TheHandleIsReadyExactlyWhileRaised) {
    // R: raise, C: clear.
    const struct Case {
        const char* steps;
        bool raised;
    } cases[] = {
        {"", false},   {"R", true},  {"RC", false},  {"RR", true},   {"RRC", false},
        {"RCR", true}, {"C", false}, {"RCC", false}, {"RRCR", true}, {"RCRC", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("steps ") + c.steps);
        WakeSignal w;
#ifdef _WIN32
        ASSERT_NE(w.Event(), nullptr);
#else
        ASSERT_GE(w.Fd(), 0);
#endif
        for (const char* s = c.steps; *s != '\0'; ++s) *s == 'R' ? w.Raise() : w.Clear();
        EXPECT_EQ(w.Raised(), c.raised);
        EXPECT_EQ(HandleReady(w), c.raised);
    }
}

TEST(WakeSignal, TheHookHearsEachRaiseUntilReset) {
    WakeSignal w;
    int heard = 0;
    w.SetHook([&] { ++heard; });
    w.Raise();
    w.Raise();
    w.Clear();
    w.SetHook({});
    w.Raise();
    EXPECT_EQ(heard, 2);
}

}  // namespace
}  // namespace busdesk
