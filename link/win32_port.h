#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "app/dialogs.h"
#include "link/port_names.h"
#include "link/serial_port.h"

namespace busdesk {

// The serial port on Windows: the kernel32 communication calls, the port name
// passed to CreateFileA as it stands ("COM1:") unless the command line mapped
// it elsewhere (COM1:=COM12 opens \\.\COM12).
class Win32SerialPort : public SerialPort {
  public:
    explicit Win32SerialPort(Dialogs& dialogs, PortMap ports = {})
        : dialogs_(dialogs), ports_(std::move(ports)) {}
    ~Win32SerialPort() override;
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    bool OpenPort(const std::string& name, const std::string& settings) override;
    int ClosePort() override;
    void FlushPort() override;
    Bytes ReadPort() override;
    std::int16_t WritePort(const Bytes& data) override;
    std::uint64_t DiscardedBytes() const override { return discarded_; }

  private:
    bool Open(const std::string& name, const std::string& settings);
    std::int16_t WritePiece(std::size_t size);
    void DiscardBacklog();

    Dialogs& dialogs_;
    PortMap ports_;
    // The HANDLE, kept as an opaque pointer so that this header needs no
    // <windows.h>. Null until the first open.
    void* handle_ = nullptr;
    bool open_ = false;
    std::array<std::uint8_t, 256> buffer_{};
    std::uint64_t discarded_ = 0;
};

}  // namespace busdesk
