#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/bus_event.h"

// The readings of each device over time, taken from the decoded bus events
// (the same events the journal writes), for the trend windows and the report.
namespace busdesk::engine {

// Milliseconds since 1970-01-01 UTC.
using TimeMs = std::int64_t;
TimeMs ToMs(std::chrono::system_clock::time_point t);

// One entry of a device's series: a reading, or a request of the reader data
// that got no reading back. 16 bytes, so two hours fit in a few hundred KB.
struct TrendSample {
    TimeMs time = 0;
    std::uint32_t current = 0;
    std::uint16_t level = 0;
    std::int8_t temperature = 0;
    bool missed = false;  // asked, no reading came: the line breaks here
};

// A command the user gave a device, and what became of it.
struct TrendMark {
    enum class State : std::uint8_t { Waiting, Confirmed, Refused };
    TimeMs time = 0;
    std::uint64_t id = 0;
    std::string what;  // "calibrate_high", "mode", ...
    std::string text;  // "Калибровка верхнего уровня устройства 1"
    State state = State::Waiting;
    std::string reason;  // why not confirmed
};

// A fixed ring of samples, oldest first; the oldest are overwritten when it
// is full. Times never decrease.
class SampleRing {
  public:
    explicit SampleRing(std::size_t capacity) : capacity_(capacity) {}
    void Push(const TrendSample& s);
    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return capacity_; }
    const TrendSample& operator[](std::size_t i) const { return buf_[(head_ + i) % buf_.size()]; }
    // Index of the first sample at or after `t` (Size() when none).
    std::size_t LowerBound(TimeMs t) const;
    std::size_t MemoryBytes() const { return buf_.capacity() * sizeof(TrendSample); }

  private:
    std::size_t capacity_;
    std::vector<TrendSample> buf_;  // grows up to capacity_, then wraps
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

struct DeviceTrend {
    explicit DeviceTrend(std::size_t capacity) : samples(capacity) {}
    SampleRing samples;
    std::deque<TrendMark> marks;
    std::uint64_t version = 0;  // changes with every new sample or mark state
    // The last entry that is a reading, if any.
    std::optional<TrendSample> Latest() const;
};

// Feeds on BusEvents in the order the engine made them.
class TrendStore {
  public:
    // Two hours at the fastest the exchange can poll one device (every tick).
    static constexpr std::size_t kDefaultCapacity = 2 * 3600 * 2;
    static constexpr std::size_t kMarksKept = 2000;

    explicit TrendStore(std::size_t capacityPerDevice = kDefaultCapacity)
        : capacity_(capacityPerDevice) {}

    void Take(const BusEvent& e);
    void Take(const std::vector<BusEvent>& events) {
        for (const BusEvent& e : events) Take(e);
    }

    // The device's series; null when nothing was heard of or asked of it.
    const DeviceTrend* Device(std::uint8_t address) const;
    std::vector<std::uint8_t> Devices() const;
    // Changes whenever anything does; a window repaints only then.
    std::uint64_t Version() const { return version_; }
    std::size_t MemoryBytes() const;

  private:
    DeviceTrend& Series(std::uint8_t address);
    void Missed(TimeMs t);

    std::size_t capacity_;
    std::map<std::uint8_t, DeviceTrend> devices_;
    std::optional<std::uint8_t> polled_;              // the reader data poll awaiting its read
    std::map<std::uint64_t, std::uint8_t> commands_;  // command id → device
    std::uint64_t version_ = 0;
};

// The readings between `from` and `to` (inclusive) as CSV: one header line
// "time,address,level,temperature,current", then a line per reading with the
// local time as the journal writes it.
std::string TrendCsv(const DeviceTrend& d, std::uint8_t address, TimeMs from, TimeMs to);

}  // namespace busdesk::engine
