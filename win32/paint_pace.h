#pragma once

#include <chrono>
#include <optional>

namespace busdesk::win32 {

// What was last handed to a control, so that handing it the same again costs
// no call into the window system (under Wine each call is a round trip to
// the server, and a set text repaints the control even when it is the same).
template <class T>
class LastSet {
  public:
    // True when `value` is new to the control: the caller sets it.
    bool Take(const T& value) {
        if (value_ && *value_ == value) return false;
        value_ = value;
        return true;
    }
    // The control changed by other means (the user, a resync): set it anew.
    void Forget() { value_.reset(); }

  private:
    std::optional<T> value_;
};

// Paces a text that changes more often than anyone reads it (the status
// line's counters change every tick): shown at once when the last showing is
// a period ago, else when the period is up, so the newest text is never more
// than a period late and never shown twice in one period.
class Pace {
  public:
    using Clock = std::chrono::steady_clock;

    explicit Pace(Clock::duration period) : period_(period) {}

    // The text changed at `now`. True: show it now. False: it is due in
    // Wait(now); ask Due() then.
    bool Changed(Clock::time_point now) {
        pending_ = true;
        return Due(now);
    }

    // True when a changed text is to be shown now; it then counts as shown.
    bool Due(Clock::time_point now) {
        if (!pending_ || (everShown_ && now - shown_ < period_)) return false;
        Shown(now);
        return true;
    }

    // Shown out of turn (the bar was resized): what was pending is on screen.
    void Shown(Clock::time_point now) {
        shown_ = now;
        everShown_ = true;
        pending_ = false;
    }

    bool Pending() const { return pending_; }

    // How long a pending text still waits; zero when it is due.
    Clock::duration Wait(Clock::time_point now) const {
        if (!pending_ || !everShown_) return Clock::duration::zero();
        const Clock::duration left = shown_ + period_ - now;
        return left > Clock::duration::zero() ? left : Clock::duration::zero();
    }

  private:
    Clock::duration period_;
    // No std::optional here: GCC 12 takes its time_point for uninitialised at -O2.
    Clock::time_point shown_{};
    bool everShown_ = false;
    bool pending_ = false;
};

}  // namespace busdesk::win32
