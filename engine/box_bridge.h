#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "app/dialogs.h"

namespace busdesk::engine {

// One box the engine asks a front end to show.
struct BoxRequest {
    enum class Kind { Message, Input };
    Kind kind = Kind::Message;
    std::string text;  // message text or prompt
    std::string caption;
    std::string defaultText;  // input boxes
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
};

// What a box answers when it is closed without a choice: No for a Yes/No box,
// OK otherwise, and an empty answer for an input box.
MsgResult ClosedResult(const BoxRequest& r);

// The model's Dialogs on the engine thread. Each box is handed to the front
// end, which shows it on its own thread and answers it from there; the engine
// thread waits. Once cancelled (the window is closing) every pending and later
// box gets the answer of a closed box at once, so the engine can always finish
// what it is doing.
class BoxBridge : public Dialogs {
  public:
    // `beforeShow` runs on the engine thread just before a box is handed over
    // (the engine publishes there); `show` hands the box to the front end.
    using Show = std::function<void(std::uint64_t id, const BoxRequest&)>;
    BoxBridge(std::function<void()> beforeShow, Show show);

    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                     const std::string& caption) override;
    std::string InputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText) override;

    // From any thread. An answer to a box that is no longer waiting is ignored.
    void Answer(std::uint64_t id, MsgResult result, const std::string& text);
    void Cancel();
    bool Cancelled() const;
    // How many boxes have been asked for so far.
    unsigned BoxesShown() const;

  private:
    struct Reply {
        bool answered = false;
        MsgResult result = MsgResult::Ok;
        std::string text;
    };
    Reply Ask(const BoxRequest& request);

    std::function<void()> beforeShow_;
    Show show_;
    mutable std::mutex mutex_;
    std::condition_variable answered_;
    std::map<std::uint64_t, Reply> waiting_;
    std::uint64_t nextId_ = 0;
    bool cancelled_ = false;
    unsigned shown_ = 0;
};

}  // namespace busdesk::engine
