#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/frmSerial.h"
#include "engine/bus_event.h"
#include "engine/journal.h"
#include "engine/line_counters.h"
#include "link/serial_port.h"

namespace busdesk::engine {

// The engine's port: passes every call to the real port unchanged and counts
// what went over the line; told by the window how each reception was taken;
// times the answers; and turns every write and reception into bus events, once,
// for the journal (when one is kept) and for the front end (when it listens).
//
// Timing. The exchange is pipelined: a tick writes its request and reads the
// answer only at the next tick, half a second later, so the read cannot say
// when the answer came. A watcher thread therefore waits, after each full
// write, for the line to become readable (SerialPort::WaitReadable, which
// consumes nothing) and notes that moment; the next read pairs it with the
// write. It waits once per write, in the port, until the line is readable or
// it is woken (a new write, the read, a close); idle, it sleeps. The time runs from the return of WritePort (the bytes are with the
// driver; on a real UART their transmission, ~0.5 ms a byte, is included) to
// the first byte waiting. No sample is taken when bytes were already waiting
// before the write, when the read got nothing, or when the answer's code is
// not the request's (a late answer to an earlier request).
class LineMonitor final : public SerialPort, public ReceptionObserver {
  public:
    using Clock = std::chrono::steady_clock;

    // `journal` may be null; it must outlive the monitor.
    LineMonitor(std::unique_ptr<SerialPort> port, Journal* journal);
    ~LineMonitor() override;
    LineMonitor(const LineMonitor&) = delete;
    LineMonitor& operator=(const LineMonitor&) = delete;

    bool OpenPort(const std::string& name, const std::string& settings) override;
    int ClosePort() override;
    void FlushPort() override;
    Bytes ReadPort() override;
    std::int16_t WritePort(const Bytes& data) override;
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout) override;
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout,
                                     const WakeSignal& wake) override;
    std::string OpenError() const override;
    std::string NetworkTarget() const override;
    std::string LineNotice() const override;

    void Received(const Bytes& rx, Kind kind) override;

    // Keeps the decoded events of the line for TakeEvents (off: none are kept).
    void Listen(bool on);
    // The events since the last call, oldest first; engine thread.
    std::vector<BusEvent> TakeEvents();

    // The figures as they stand; engine thread.
    LineCounters Counters() const;
    // Takes one measured answer of `device` into the window of response
    // times; a different device starts the window afresh.
    void RecordResponse(int device, std::chrono::microseconds time);

  private:
    struct Pending {
        std::uint64_t id;
        Bytes frame;
        int readsLeft;
    };

    void Watch();
    void StopWatching();
    void Arm(Clock::time_point writeEnd);
    struct Reply {
        Bytes bytes;
        Decoded heard;
    };

    bool Telling() const { return journal_ != nullptr || listening_; }
    void Settle(const Reply& reply);
    void Resolve(Pending& p, bool confirmed, const Reply& reply, const char* reason);
    void Post(BusEvent::Kind kind, Bytes bytes = {});
    void Tell(BusEvent e);
    void Flush();

    std::unique_ptr<SerialPort> port_;
    Journal* journal_;

    // Engine thread.
    LineCounters counters_;
    std::deque<std::int64_t> times_;  // microseconds, oldest first
    bool requestOut_ = false;         // a request went out since the last read
    Bytes lastRequest_;               // the last request frame written in full
    bool staleBeforeWrite_ = false;   // bytes were waiting when it was written
    Clock::time_point writeEnd_{};
    std::vector<Pending> pending_;  // changing requests awaiting confirmation
    std::uint64_t nextCommand_ = 0;
    std::vector<JournalEvent> batch_;  // events not yet handed to the journal
    bool listening_ = false;
    std::vector<BusEvent> heard_;  // events not yet taken by the listener

    // Shared with the watcher.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    WakeSignal portWake_;  // ends the watcher's wait in the port
    bool armed_ = false;
    bool inPort_ = false;  // the watcher is inside WaitReadable
    bool stop_ = false;
    bool cannotTell_ = false;
    Clock::time_point armedAt_{};
    std::optional<Clock::time_point> readableAt_;
    std::thread watcher_;
};

}  // namespace busdesk::engine
