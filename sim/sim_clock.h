#pragma once

#include <chrono>

#include "sim/transmitter.h"

namespace busdesk::sim {

// The steady clock, or a clock that runs `speed` times as fast from the moment
// it was made; long runs (a soak) go through hours of bus time in minutes.
class SimClock {
  public:
    explicit SimClock(double speed = 1.0)
        : origin_(Clock::now()), speed_(speed > 0 ? speed : 1.0) {}

    Clock::time_point Now() const { return ToSim(Clock::now()); }
    // The real steady-clock time at which the bus time `t` comes.
    Clock::time_point RealTime(Clock::time_point t) const {
        if (speed_ == 1.0) return t;
        return origin_ + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double, Clock::period>(
                                 static_cast<double>((t - origin_).count()) / speed_));
    }
    double speed() const { return speed_; }

  private:
    Clock::time_point ToSim(Clock::time_point real) const {
        if (speed_ == 1.0) return real;
        return origin_ + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double, Clock::period>(
                                 static_cast<double>((real - origin_).count()) * speed_));
    }

    Clock::time_point origin_;
    double speed_;
};

}  // namespace busdesk::sim
