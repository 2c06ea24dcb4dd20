#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "link/serial_port.h"

namespace busdesk {

// A port that hands each open to one of several ports, chosen by the entry's
// name; whichever opened last serves the reads and writes.
class SwitchedPort : public SerialPort {
  public:
    bool OpenPort(const std::string& name, const std::string& settings) override {
        if (current_ != nullptr) current_->ClosePort();
        current_ = &Choose(name);
        return current_->OpenPort(name, settings);
    }
    int ClosePort() override { return current_ != nullptr ? current_->ClosePort() : 0; }
    void FlushPort() override {
        if (current_ != nullptr) current_->FlushPort();
    }
    Bytes ReadPort() override { return current_ != nullptr ? current_->ReadPort() : Bytes{}; }
    std::int16_t WritePort(const Bytes& data) override {
        return current_ != nullptr ? current_->WritePort(data) : 0;
    }
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout) override {
        return current_ != nullptr ? current_->WaitReadable(timeout) : std::nullopt;
    }
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout,
                                     const WakeSignal& wake) override {
        return current_ != nullptr ? current_->WaitReadable(timeout, wake) : std::nullopt;
    }
    std::string OpenError() const override {
        return current_ != nullptr ? current_->OpenError() : std::string();
    }
    std::string NetworkTarget() const override {
        return current_ != nullptr ? current_->NetworkTarget() : std::string();
    }
    std::string LineNotice() const override {
        return current_ != nullptr ? current_->LineNotice() : std::string();
    }

  protected:
    // The port that opens `name`.
    virtual SerialPort& Choose(const std::string& name) = 0;

  private:
    SerialPort* current_ = nullptr;
};

}  // namespace busdesk
