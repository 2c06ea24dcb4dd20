#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "sim/bus_config.h"
#include "sim/bus_model.h"
#include "sim/faults.h"
#include "sim/request_parser.h"
#include "sim/transmitter.h"

// What every simulated bus does, whatever carries its bytes: requests in,
// answers scheduled at the line's pace, faults spent on the way. Times are
// given by the caller, so a bus may run on a clock of its own.
namespace busdesk::sim {

// What the bus has seen and sent since it started.
struct BusStats {
    std::size_t requests = 0;      // frames with a good CRC
    std::size_t badCrc = 0;        // frames thrown away for their CRC
    std::size_t droppedBytes = 0;  // bytes that were no part of a good frame
    std::size_t answers = 0;       // answers put on the line
    std::size_t bytesSent = 0;
    std::size_t bytesReceived = 0;
    std::size_t unanswered = 0;  // good requests no device answered
    std::size_t corrupted = 0;   // answers sent with a wrong CRC
    std::size_t delayed = 0;     // answers held back
};

// Bytes that hold no reply: never start with the reply start byte.
Bytes GarbageBytes(std::size_t count, std::uint32_t seed = 1);

// Not thread-safe: the bus around it holds the lock.
class BusCore {
  public:
    explicit BusCore(const BusConfig& config);

    // Forgets what was on the line and counts from `now` again.
    void Restart(Clock::time_point now);
    // Bytes the tool wrote, arriving at `now`; answers are scheduled.
    void Receive(const std::uint8_t* data, std::size_t size, Clock::time_point now);
    // A half-received frame is forgotten after a quiet spell; call before
    // Receive and whenever the bus wakes.
    void Idle(Clock::time_point now);
    // When the bus must look again to forget a half frame; nullopt when none.
    std::optional<Clock::time_point> IdleDue() const;

    Transmitter& line() { return tx_; }
    const Transmitter& line() const { return tx_; }
    // Counts bytes that actually reached the line.
    void CountSent(std::size_t bytes) { sent_.bytesSent += bytes; }

    bool SetSilent(std::uint8_t address, bool silent);
    void CorruptNext(int count);
    void SplitNext(int count, std::chrono::milliseconds gap);
    void DelayNext(int count, std::chrono::milliseconds delay);
    void Garbage(const Bytes& bytes, Clock::time_point now);
    // Garbage of `count` bytes, a different pattern each time.
    void Garbage(std::size_t count, Clock::time_point now);
    void SetSurveySize(std::size_t bytes);

    BusStats Stats() const;
    const BusModel& model() const { return model_; }
    void SetTrafficLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }
    void Log(const std::string& line) const {
        if (log_) log_(line);
    }

  private:
    void Answer(const Request& q, Clock::time_point now);

    BusModel model_;
    Faults faults_;
    Transmitter tx_;
    RequestParser parser_;
    BusStats sent_;  // the parser keeps the other counts
    std::function<void(const std::string&)> log_;
    const Clock::duration replyDelay_;
    const Clock::duration byteTime_;
    Clock::time_point start_{};
    Clock::time_point lastRx_{};
    std::uint32_t garbageSeed_ = 1;
};

}  // namespace busdesk::sim
