#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs.h"

namespace busdesk::testing {

// Dialogs for tests: records every box, answers from scripts. A message box
// without a scripted answer gets Ok (or No for Yes/No); an input box without
// one gets its default text.
class ScriptedDialogs : public Dialogs {
  public:
    struct Shown {
        std::string text;
        MsgButtons buttons;
        MsgIcon icon;
        std::string caption;
    };
    struct Asked {
        std::string prompt;
        std::string title;
        std::string defaultText;
    };

    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                     const std::string& caption) override {
        messages.push_back({text, buttons, icon, caption});
        if (onMessage) onMessage();
        if (!answers.empty()) {
            MsgResult r = answers.front();
            answers.pop_front();
            return r;
        }
        return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
    }

    std::string InputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText) override {
        inputs.push_back({prompt, title, defaultText});
        if (!inputAnswers.empty()) {
            std::string r = inputAnswers.front();
            inputAnswers.pop_front();
            return r;
        }
        return defaultText;
    }

    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const Shown& m : messages) out.push_back(m.text);
        return out;
    }

    std::deque<MsgResult> answers;
    std::deque<std::string> inputAnswers;
    std::function<void()> onMessage;  // runs while the box is "open"
    std::vector<Shown> messages;
    std::vector<Asked> inputs;
};

}  // namespace busdesk::testing
