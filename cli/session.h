#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/control.h"
#include "engine/engine.h"

namespace busdesk::cli {

// The controls as the engine published them, with what the line did in the
// tick that produced them.
struct View {
    std::shared_ptr<const std::vector<Control>> controls;
    std::uint64_t tick = 0;  // writes to the port so far: one per exchange tick
    bool fromTick = false;   // published right after a tick
    bool received = false;   // that tick read something

    const Control* Find(const std::string& name) const;
    std::string Text(const std::string& name) const;
    // The reception of the tick as the receive dump shows it: its first line's
    // bytes (hexadecimal words).
    std::vector<std::string> Dump() const;
};

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

    // engine::FrontEnd, on the engine thread.
    void Publish(engine::Snapshot snapshot) override;
    void ShowBox(std::uint64_t id, const engine::BoxRequest& request) override;

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
    // Waits for the views after `after` (a tick count) until `accept` returns a
    // verdict, or `ticks` more ticks have passed. nullopt on time-out.
    std::optional<View> WaitTicks(std::uint64_t after, int ticks,
                                  const std::function<bool(const View&)>& accept);

  private:
    class TickPort;
    Done RunDone(std::function<bool(frmSerial&)> event);

    std::function<void(const std::string&)> boxText_;
    std::unique_ptr<engine::Engine> engine_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<View> views_;  // not yet looked at by WaitTicks
    View latest_;
    std::deque<std::string> inputs_;
    std::optional<bool> question_;
    std::vector<ShownBox> boxes_;

    // Engine thread only, updated by the port.
    std::uint64_t writes_ = 0;
    std::uint64_t lastTickSeen_ = 0;
    bool lastRead_ = false;
};

}  // namespace busdesk::cli
