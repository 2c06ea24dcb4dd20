#pragma once

#include <string>

namespace busdesk {

enum class MsgButtons { Ok, YesNo };
enum class MsgIcon { None, Warning, Stop };
enum class MsgResult { Ok, Yes, No };

// Modal boxes the model asks for. The program shows them with Qt; tests script
// the answers.
class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // Returns the button pressed; closing a Yes/No box counts as No.
    virtual MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                             const std::string& caption) = 0;
    // Returns the answer; empty on cancel.
    virtual std::string InputBox(const std::string& prompt, const std::string& title,
                                 const std::string& defaultText) = 0;
};

}  // namespace busdesk
