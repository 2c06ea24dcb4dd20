#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/dialogs.h"
#include "link/net_url.h"
#include "link/port_names.h"
#include "link/serial_port.h"
#include "link/telnet.h"

namespace busdesk {

// How long the network port waits for what it cannot do without.
struct NetPortLimits {
    // A connection that is neither made nor refused in this time is given up.
    std::chrono::milliseconds connect{5000};
    // Each step of setting the line up: the server taking the com-port
    // control, then its answers to the settings.
    std::chrono::milliseconds answer{1000};
};

// A serial line behind a device server, reached over TCP: the name of an
// entry maps to "tcp://HOST:PORT" (the bytes as they are) or
// "rfc2217://HOST:PORT" (telnet with the com-port control). It keeps the
// serial port's contract: the same boxes on a failed open, the same read
// and write time-outs, short writes on a broken connection.
class NetSerialPort : public SerialPort {
  public:
    using Notice = std::function<void(const std::string& path, const std::string& text)>;
    NetSerialPort(Dialogs& dialogs, PortMap ports, Notice notice = {}, NetPortLimits limits = {});
    ~NetSerialPort() override;
    NetSerialPort(const NetSerialPort&) = delete;
    NetSerialPort& operator=(const NetSerialPort&) = delete;

    bool OpenPort(const std::string& name, const std::string& settings) override;
    int ClosePort() override;
    void FlushPort() override;
    Bytes ReadPort() override;
    std::int16_t WritePort(const Bytes& data) override;
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout) override;
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout,
                                     const WakeSignal& wake) override;
    std::uint64_t DiscardedBytes() const override { return discarded_; }
    std::string OpenError() const override { return openError_; }
    std::string NetworkTarget() const override { return url_; }
    std::string LineNotice() const override { return lineNotice_; }

  private:
    using Clock = std::chrono::steady_clock;
    bool Open(const std::string& name, const std::string& settings);
    bool Connect(const NetTarget& target, std::string& why);
    // Sets the line up over telnet; false when the server set something else.
    bool Negotiate(const LineSettings& line, const std::string& settings, std::string& why);
    // Reads what the socket has, waiting up to `wait`; false once the
    // connection is gone.
    bool Pump(std::chrono::milliseconds wait);
    // Sends all of `wire` within `deadline`; the count that went.
    std::size_t Send(const std::uint8_t* wire, std::size_t size, Clock::time_point deadline);
    void SendReplies();
    std::int16_t WritePiece(const std::uint8_t* data, std::size_t size);
    void DiscardBacklog();
    void CloseSocket();
    std::size_t Pending() const;
    void Say(const std::string& text) const;

    Dialogs& dialogs_;
    PortMap ports_;
    Notice notice_;
    NetPortLimits limits_;
    std::uintptr_t sock_;
    std::string url_;
    std::unique_ptr<telnet::Codec> telnet_;  // only on rfc2217://
    mutable std::mutex pendingMutex_;        // WaitReadable looks from another thread
    std::deque<std::uint8_t> pending_;       // data read but not yet handed out
    std::atomic<bool> gone_{false};          // the other end closed or reset
    bool settingUp_ = false;                 // sub-negotiations are read only then
    std::array<std::uint8_t, 4096> raw_{};
    std::uint64_t discarded_ = 0;
    std::string openError_;
    std::string lineNotice_;
    void* event_ = nullptr;  // Windows: signalled when the socket has news
};

}  // namespace busdesk
