#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/dialogs.h"
#include "link/serial_port.h"

namespace busdesk::engine {

// The Dialogs a port reports its open failures through: the engine's boxes,
// except while the line is only being tried again, when every box is answered
// as closed without being shown and its text kept as the reason.
class QuietDialogs final : public Dialogs {
  public:
    explicit QuietDialogs(Dialogs& shown) : shown_(shown) {}

    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                     const std::string& caption) override;
    std::string InputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText) override;

    void SetQuiet(bool quiet) { quiet_ = quiet; }
    // The text of the last box swallowed while quiet; empty when none.
    const std::string& Swallowed() const { return swallowed_; }
    void Forget() { swallowed_.clear(); }

  private:
    Dialogs& shown_;
    bool quiet_ = false;
    std::string swallowed_;
};

// Whether this thread is inside RetryPort::Try: what a port says on the way
// (its notices on standard error) is left unsaid then, as its boxes are.
bool InQuietTry();

// The factory's port, under the line monitor, with one addition: a quiet try
// at opening, for a line that went away. A try that opens keeps the line open
// until the window's own open of the same entry and settings takes it over,
// so no other program (a modem manager probing a re-plugged adapter, a second
// client of a network server) can take the port between the try and the
// window's open. Everything else goes to the port unchanged.
class RetryPort final : public SerialPort {
  public:
    RetryPort(std::unique_ptr<SerialPort> port, QuietDialogs& dialogs);
    ~RetryPort() override;
    RetryPort(const RetryPort&) = delete;
    RetryPort& operator=(const RetryPort&) = delete;

    // Opens `name` without a box; true when it opened, and then the line is
    // held for OpenPort. Why it failed is in LastTry().
    bool Try(const std::string& name, const std::string& settings);
    // Closes a held line nobody took over.
    void Release();
    bool Holding() const { return held_; }
    // Why the last try failed, in the port's words; empty after one opened.
    const std::string& LastTry() const { return lastTry_; }

    // The entry of the last open that failed since the last call (the user's
    // or the command line's press of the button); tries are not counted.
    std::optional<std::string> TakeFailedOpen();
    // The entry the line is open on, or was last.
    const std::string& OpenedName() const { return opened_; }

    bool OpenPort(const std::string& name, const std::string& settings) override;
    int ClosePort() override;
    void FlushPort() override { port_->FlushPort(); }
    Bytes ReadPort() override { return port_->ReadPort(); }
    std::int16_t WritePort(const Bytes& data) override { return port_->WritePort(data); }
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout) override {
        return port_->WaitReadable(timeout);
    }
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout,
                                     const WakeSignal& wake) override {
        return port_->WaitReadable(timeout, wake);
    }
    std::uint64_t DiscardedBytes() const override { return port_->DiscardedBytes(); }
    std::string OpenError() const override { return port_->OpenError(); }
    std::string NetworkTarget() const override { return port_->NetworkTarget(); }
    std::string LineNotice() const override { return port_->LineNotice(); }

  private:
    std::unique_ptr<SerialPort> port_;
    QuietDialogs& dialogs_;
    bool held_ = false;
    std::string heldName_;
    std::string heldSettings_;
    std::string lastTry_;
    std::string opened_;
    std::optional<std::string> failed_;
};

}  // namespace busdesk::engine
