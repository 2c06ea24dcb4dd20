#pragma once

#include <termios.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "link/mode_string.h"
#include "link/port_discovery.h"
#include "link/port_names.h"
#include "link/serial_port.h"

namespace busdesk {

// Raw termios for the line, built on `t` as read from the device: every byte
// value passes unchanged, reads never block in the kernel (poll() keeps the
// time), and no flow control of any kind, since the devices send no XON/XOFF
// and wire no handshake lines. False (errno EINVAL) for settings no line
// can take.
bool BuildTermios(const LineSettings& line, termios& t);

// What a POSIX port does beyond the window's open sequence.
struct PosixPortOptions {
    // Switch the line to RS-485 on open (the driver drives RTS while sending).
    bool rs485 = false;
    // The devices now present, asked at each open of an unmapped name; the
    // system's discovery when empty.
    std::function<std::vector<SerialDevice>()> discover;
    // Where the port says why an open went wrong or a request was refused;
    // standard error when empty.
    std::function<void(const std::string& path, const std::string& text)> notice;
};

// The serial port on POSIX systems: termios for the line settings, poll() for
// the time-outs of the Win32 time-out record (20 ms between bytes, 256 ms in
// all for a read; 10 ms + 1 ms per byte for a write).
class PosixSerialPort : public SerialPort {
  public:
    PosixSerialPort(Dialogs& dialogs, PortMap ports, PosixPortOptions options = {});
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

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

  private:
    bool Open(const std::string& name, const std::string& settings);
    // The path `name` opens; `found` the serial ports discovery saw.
    std::optional<std::string> PathFor(const std::string& name, std::size_t& found) const;
    void SetOpenError(const std::string& path, int error);
    void SwitchToRs485(const std::string& path);
    void Notice(const std::string& path, const std::string& text) const;
    void CloseAfterFailure();
    std::int16_t WritePiece(const std::uint8_t* data, std::size_t size);
    void DiscardBacklog();

    Dialogs& dialogs_;
    PortMap ports_;
    PosixPortOptions options_;
    int fd_ = -1;
    std::array<std::uint8_t, 256> buffer_{};
    std::uint64_t discarded_ = 0;
    std::string openError_;
    std::string note_;  // what the notice hears of the last failed open
};

}  // namespace busdesk
