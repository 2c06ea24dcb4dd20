#pragma once

#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/control.h"
#include "engine/bus_event.h"
#include "engine/engine.h"

namespace busdesk::cli {

// The controls as the engine published them, with what the line did in the
// tick that produced them.
struct View {
    std::shared_ptr<const std::vector<Control>> controls;
    std::uint64_t tick = 0;  // writes to the port so far: one per exchange tick
    bool fromTick = false;   // published right after a tick
    bool received = false;   // that tick read something
    std::string openError;   // why the port did not open at the last attempt
    std::string waitingFor;  // the entry whose line the engine tries again (--reconnect)
    std::string lastTry;     // why its last try failed

    const Control* Find(const std::string& name) const;
    std::string Text(const std::string& name) const;
};

// One event of the line, with the exchange tick it came in.
struct Heard {
    std::uint64_t tick = 0;
    std::uint64_t mark = 0;  // its place among every event of the session
    engine::BusEvent event;
};

// What was last heard of a device, whatever command caused it.
struct DeviceFacts {
    std::optional<std::uint32_t> serial;
    std::string version;
    std::optional<std::uint8_t> mode;
    // The exchange tick of its last framed reply, whatever it said.
    std::optional<std::uint64_t> answeredTick;
};

// A reply in a frame, whatever it says (not the survey's unframed list, not
// noise): the device it names is on the air.
bool FramedReply(const engine::Decoded& d);

// A box the window showed, and how it was answered.
struct ShownBox {
    engine::BoxRequest request;
};

// The command line's front end: keeps the latest controls, answers boxes from
// what the current step has put up, and lets the main thread wait for ticks.
class Session : public engine::FrontEnd {
  public:
    // `boxText` prints one box's text.
    Session(engine::PortFactory factory, std::function<void(const std::string&)> boxText,
            engine::Engine::Options options = {});
    ~Session() override;

    void Start();
    void Stop();
    // Told once when the engine starts waiting for a line that went away, and
    // once when it is back; set before Start.
    void OnLine(std::function<void(const std::string&)> say) { sayLine_ = std::move(say); }
    // Waits until the port is open, at most `limit`; whether it is.
    bool WaitOpen(std::chrono::milliseconds limit);

    // engine::FrontEnd, on the engine thread.
    void Publish(engine::Snapshot snapshot) override;
    void ShowBox(std::uint64_t id, const engine::BoxRequest& request) override;
    void BusEvents(const std::vector<engine::BusEvent>& events) override;

    // The answers for the boxes of the next handler: the text of an input box,
    // and Yes or No for a question.
    void AnswerInput(std::string text);
    void AnswerQuestion(bool yes);

    // User events, each through the model's own user-event call and returning
    // once the handler has finished. The event and the look at what it left
    // pending run in one turn of the engine thread: a tick in between would
    // send the frame before it was seen.
    struct Done {
        std::vector<ShownBox> boxes;        // shown while the handler ran
        std::vector<std::uint8_t> pending;  // wrs after the handler
        std::uint64_t tick = 0;             // exchange ticks before it
        bool handled = true;                // false: the control refused the event
        View after;                         // the controls the handler left
    };
    Done Click(const std::string& control);
    Done Pick(const std::string& control, int index);
    // Opening the port goes the front-end way, so the engine describes the
    // ports afresh as it does for the window.
    Done PostPickAndOpen(int portIndex);
    // Runs `when` on the engine thread; when it holds, types the texts and
    // clicks `control` in the same turn, so no tick comes between the check
    // and the click. `clicked` false when `when` did not hold.
    struct Guarded {
        bool clicked = false;
        Done done;
    };
    Guarded ClickWhen(std::function<bool(const frmSerial&)> when,
                      const std::vector<std::pair<std::string, std::string>>& texts,
                      const std::string& control);

    View Latest() const;

    // The place after the last event heard: waits from it see only later ones.
    std::uint64_t Mark() const;
    // The place of the first event heard in tick `tick` or later: a wait from
    // it also sees what that tick already brought.
    std::uint64_t MarkOfTick(std::uint64_t tick) const;
    // Waits for the first event after `*from` that `accept` takes, moving
    // `*from` past every event looked at; nullopt once tick `after + ticks`
    // has passed without one. `progress`, when given, is told each tick.
    std::optional<Heard> WaitEvent(std::uint64_t* from, std::uint64_t after, int ticks,
                                   const std::function<bool(const engine::BusEvent&)>& accept,
                                   const std::function<void(std::uint64_t tick)>& progress = {});
    DeviceFacts Facts(std::uint8_t address) const;

  private:
    class TickPort;
    Done RunDone(std::function<bool(frmSerial&)> event);

    std::function<void(const std::string&)> boxText_;
    std::function<void(const std::string&)> sayLine_;
    long long retrySeconds_ = 2;
    std::unique_ptr<engine::Engine> engine_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    View latest_;
    std::deque<std::string> inputs_;
    std::optional<bool> question_;
    std::vector<ShownBox> boxes_;
    std::deque<Heard> events_;
    std::uint64_t nextMark_ = 0;  // the mark the next event gets
    std::map<std::uint8_t, DeviceFacts> facts_;
    std::bitset<256> asked_;  // the addresses the last write asked

    // Engine thread only, updated by the port.
    std::uint64_t writes_ = 0;
    std::uint64_t lastTickSeen_ = 0;
    bool lastRead_ = false;
    std::string waitedFor_;  // the line the last notice said was awaited
};

}  // namespace busdesk::cli
