#include "engine/retry_port.h"

#include <utility>

namespace busdesk::engine {

namespace {
thread_local bool quietTry = false;

// Quiet for one try, whatever way it ends.
class QuietTry {
  public:
    explicit QuietTry(QuietDialogs& dialogs) : dialogs_(dialogs) {
        dialogs_.SetQuiet(true);
        quietTry = true;
    }
    ~QuietTry() {
        dialogs_.SetQuiet(false);
        quietTry = false;
    }
    QuietTry(const QuietTry&) = delete;
    QuietTry& operator=(const QuietTry&) = delete;

  private:
    QuietDialogs& dialogs_;
};
}  // namespace

bool InQuietTry() {
    return quietTry;
}

MsgResult QuietDialogs::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                               const std::string& caption) {
    if (!quiet_) return shown_.MsgBox(text, buttons, icon, caption);
    swallowed_ = text;
    return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
}

std::string QuietDialogs::InputBox(const std::string& prompt, const std::string& title,
                                   const std::string& defaultText) {
    if (!quiet_) return shown_.InputBox(prompt, title, defaultText);
    swallowed_ = prompt;
    return {};
}

RetryPort::RetryPort(std::unique_ptr<SerialPort> port, QuietDialogs& dialogs)
    : port_(std::move(port)), dialogs_(dialogs) {}

RetryPort::~RetryPort() {
    Release();
}

bool RetryPort::Try(const std::string& name, const std::string& settings) {
    Release();
    dialogs_.Forget();
    bool ok = false;
    {
        const QuietTry quiet(dialogs_);
        ok = port_->OpenPort(name, settings);
    }
    if (!ok) {
        // The port's own reason names the cause; its box says at least which port.
        lastTry_ = port_->OpenError();
        if (lastTry_.empty()) lastTry_ = dialogs_.Swallowed();
        return false;
    }
    lastTry_.clear();
    held_ = true;
    heldName_ = name;
    heldSettings_ = settings;
    return true;
}

void RetryPort::Release() {
    if (!held_) return;
    held_ = false;
    port_->ClosePort();
}

std::optional<std::string> RetryPort::TakeFailedOpen() {
    return std::exchange(failed_, std::nullopt);
}

bool RetryPort::OpenPort(const std::string& name, const std::string& settings) {
    if (held_ && name == heldName_ && settings == heldSettings_) {
        held_ = false;
        opened_ = name;
        return true;
    }
    Release();
    if (!port_->OpenPort(name, settings)) {
        failed_ = name;
        return false;
    }
    opened_ = name;
    return true;
}

int RetryPort::ClosePort() {
    held_ = false;
    return port_->ClosePort();
}

}  // namespace busdesk::engine
