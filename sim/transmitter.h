#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

#include "protocol/bytes.h"

namespace busdesk::sim {

using Clock = std::chrono::steady_clock;

// The sending side of the line: transmissions go out one at a time, each at
// its own pace, never before it is due and never on top of another one. Pure
// bookkeeping over given times, so it can be tested without a clock.
class Transmitter {
  public:
    // `spacing` is the time from one byte to the next; zero sends all at once.
    void Schedule(Clock::time_point due, Bytes bytes, Clock::duration spacing);
    // The bytes that are due by `now`, in line order.
    Bytes Take(Clock::time_point now);
    // When the next byte falls due; nullopt when nothing waits.
    std::optional<Clock::time_point> NextDue() const;
    bool Empty() const { return !current_ && queue_.empty(); }
    void Clear();

  private:
    struct Transmission {
        Clock::time_point due;
        std::uint64_t order;  // keeps equal due times in scheduling order
        Bytes bytes;
        Clock::duration spacing;
    };
    struct Sending {
        Transmission t;
        Clock::time_point start;
        std::size_t sent = 0;
        Clock::time_point ByteTime(std::size_t i) const {
            return start + t.spacing * static_cast<std::int64_t>(i);
        }
    };

    bool StartNext(Clock::time_point now);

    std::deque<Transmission> queue_;  // sorted by due time, then order
    std::optional<Sending> current_;
    Clock::time_point lineFree_{};  // end of the last transmission
    std::uint64_t order_ = 0;
};

}  // namespace busdesk::sim
