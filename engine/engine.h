#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/dialogs.h"
#include "engine/box_bridge.h"
#include "engine/bus_event.h"
#include "engine/snapshot.h"
#include "link/serial_port.h"

namespace busdesk {
class frmSerial;
}

namespace busdesk::engine {

class Journal;
class LineMonitor;
class QuietDialogs;
class RetryPort;

// Makes the port on the engine thread; the port reports its open failures
// through the Dialogs it is given.
using PortFactory = std::function<std::unique_ptr<SerialPort>(Dialogs&)>;

// What a front end gives the engine. The calls come on the engine thread; a
// front end hands them over to its own thread and must not block in them.
class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    // The controls after an event, and before every box.
    virtual void Publish(Snapshot snapshot) = 0;
    // Show this box; answer it with Engine::Answer(id, ...) from any thread.
    virtual void ShowBox(std::uint64_t id, const BoxRequest& request) = 0;
    // What the line did since the last call, decoded, oldest first: once
    // before each Publish that has any.
    virtual void BusEvents(const std::vector<BusEvent>& events) { (void)events; }
};

// The window's one event thread, without a toolkit: a thread that owns
// frmSerial, the port and the TMRComm tick. User events are queued and run in
// the order they were posted, one at a time; after each one, and before each
// box, the controls are published. A tick that falls due while a handler or
// its box is running is dropped, not run late.
class Engine {
  public:
    struct Options {
        // Tick period; zero takes TMRComm's interval. Only benchmarks change it.
        std::chrono::milliseconds tick{0};
        // What each CmbPort entry opens (for tool tips); asked on the engine
        // thread at start and after each attempt to open the port, since
        // adapters come and go.
        std::function<std::vector<std::string>()> describePorts;
        // Where the session is journalled; null for none. Must outlive the engine.
        Journal* journal = nullptr;
        // After the write failures closed the port, or a press of "Открыть
        // порт" could not open it, try the same entry again every `retry`
        // (zero: 2 s) and, once it opens, open it as that press does. Stops
        // when the user picks another entry or the port opens; off, the
        // window does nothing on its own.
        bool reconnect = false;
        std::chrono::milliseconds retry{0};
    };

    Engine(PortFactory factory, FrontEnd& frontEnd);
    Engine(PortFactory factory, FrontEnd& frontEnd, Options options);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Starts the thread, which makes the port and runs Form_Load.
    void Start();

    // The user's events; each returns the sequence number it was given.
    std::uint64_t PostClick(const std::string& control);
    std::uint64_t PostText(const std::string& control, const std::string& text);
    std::uint64_t PostPick(const std::string& control, int index);
    // Alt+key: clicks the enabled control whose caption has this access key
    // (a UTF-8 character, either case), clipped and hidden-from-view ones too.
    std::uint64_t PostAccessKey(const std::string& key);
    // Runs `fn` on the engine thread between events, with the model; for
    // front ends that read more than a snapshot holds (tests, the command line).
    void PostTask(std::function<void(frmSerial&)> fn);

    // Answers a box the front end was asked to show; any thread.
    void Answer(std::uint64_t boxId, MsgResult result, const std::string& text = {});

    // Answers every box as closed, drops events not yet run, closes the port
    // through BTNCloseCom_Click when it is open, and ends the thread. Safe to
    // call twice; the destructor calls it.
    void Stop();
    bool Running() const;

  private:
    using Clock = std::chrono::steady_clock;
    void Post(std::function<void()> event);
    void Run();
    void RunEvent(const std::function<void()>& event, bool tick = false);
    void Publish();
    // After each event: whether the line is to be waited for, and for which entry.
    void FollowLine(bool wasOpen, bool tick);
    void WaitForLine(const std::string& entry);
    void RetryLine();
    std::chrono::milliseconds RetryPeriod() const;
    void Reschedule(Clock::time_point now, bool boxWasShown);
    void DescribePorts();

    PortFactory factory_;
    FrontEnd& frontEnd_;
    Options options_;
    BoxBridge boxes_;
    // The port's boxes: the bridge's, silenced while a lost line is tried.
    std::unique_ptr<QuietDialogs> quietBoxes_;
    // The factory's port inside the line counters; the model talks to this.
    std::unique_ptr<LineMonitor> port_;
    RetryPort* retry_ = nullptr;  // owned by port_, between it and the factory's port
    std::unique_ptr<frmSerial> form_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    bool started_ = false;
    std::uint64_t nextSeq_ = 0;  // guarded by mutex_

    // Engine thread only.
    std::uint64_t seq_ = 0;  // last user event taken in
    bool ticking_ = false;
    Clock::time_point deadline_{};
    std::chrono::milliseconds interval_{0};
    std::shared_ptr<const std::vector<std::string>> portInfo_;
    std::string waitingFor_;  // the entry whose line is awaited; empty when none
    Clock::time_point retryAt_{};
    std::uint32_t tries_ = 0;

    std::thread thread_;
};

}  // namespace busdesk::engine
