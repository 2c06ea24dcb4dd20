#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "link/serial_port.h"
#include "sim/bus_core.h"
#include "sim/sim_clock.h"

// The simulated bus inside the program, behind a SerialPort of its own: no
// pseudo-terminal, so it works wherever the tool does (--demo on Windows too).
namespace busdesk::sim {

// What the tool's side of the in-process line has done.
struct LineStats {
    std::size_t opens = 0;
    std::size_t reads = 0;
    std::size_t emptyReads = 0;
    std::size_t bytesRead = 0;
    std::size_t writes = 0;
    std::size_t bytesWritten = 0;
    std::size_t discarded = 0;  // backlog thrown away after a full read
    std::size_t overrun = 0;    // bytes lost to a full input buffer
};

// The devices and the line. Thread-safe: the tool's port reads and writes on
// its own thread while faults are set from another.
class InProcessBus {
  public:
    // The default bus: readers 1, 5 and 7, two tags in reach of reader 1.
    InProcessBus();
    // `speed` above 1 runs the bus and its port's time-outs that much faster.
    explicit InProcessBus(const BusConfig& config, double speed = 1.0);
    InProcessBus(const InProcessBus&) = delete;
    InProcessBus& operator=(const InProcessBus&) = delete;

    // The same faults as the pty bus; each takes effect from the next request.
    bool SetSilent(std::uint8_t address, bool silent);
    void CorruptNextReplies(int count = 1);
    void SplitNextReplies(int count = 1,
                          std::chrono::milliseconds gap = std::chrono::milliseconds(40));
    void DelayNextReplies(int count = 1,
                          std::chrono::milliseconds delay = std::chrono::milliseconds(700));
    void SendGarbage(const Bytes& bytes);
    void SendGarbage(std::size_t count);
    void SetSurveySize(std::size_t bytes);

    BusStats Stats() const;
    LineStats Line() const;
    std::vector<ReaderConfig> Readers() const;
    std::vector<TagConfig> Tags() const;
    void SetTrafficLog(std::function<void(const std::string&)> log);
    const SimClock& clock() const { return clock_; }

  private:
    friend class InProcessPort;
    struct Arrived {
        std::uint8_t byte;
        Clock::time_point at;
    };
    // Moves what the devices have put on the line by `now` into the input
    // buffer, each byte with the time it came.
    void Arrive(Clock::time_point now);
    // Drops what came while no port listened.
    void Drain(Clock::time_point now);

    mutable std::mutex mu_;
    std::condition_variable changed_;
    SimClock clock_;
    BusCore core_;
    std::deque<Arrived> input_;
    LineStats line_;
    bool taken_ = false;  // a port has the line open
};

// The tool's port on an InProcessBus, answering to one port name. Reads keep
// the contract of the system ports: up to 255 bytes, ending after a gap of
// more than 20 ms following a byte or 256 ms after the call began, all in the
// bus's time; after a full read the backlog is discarded. One port at a time
// has the line, like an exclusive serial port.
class InProcessPort : public SerialPort {
  public:
    InProcessPort(InProcessBus& bus, Dialogs& dialogs, std::string name = "COM1:");
    ~InProcessPort() override;
    InProcessPort(const InProcessPort&) = delete;
    InProcessPort& operator=(const InProcessPort&) = delete;

    bool OpenPort(const std::string& name, const std::string& settings) override;
    int ClosePort() override;
    void FlushPort() override;
    Bytes ReadPort() override;
    std::int16_t WritePort(const Bytes& data) override;
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout) override;
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout,
                                     const WakeSignal& wake) override;
    std::uint64_t DiscardedBytes() const override;
    std::string OpenError() const override { return openError_; }

    const std::string& name() const { return name_; }

  private:
    InProcessBus& bus_;
    Dialogs& dialogs_;
    std::string name_;
    bool open_ = false;
    std::string openError_;
};

}  // namespace busdesk::sim
