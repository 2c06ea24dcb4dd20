#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <cstdint>
#include <functional>
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
    // `notice` hears why an open failed, by the name given to the system,
    // for the port list's tool tips.
    using Notice = std::function<void(const std::string& device, const std::string& text)>;
    explicit Win32SerialPort(Dialogs& dialogs, PortMap ports = {}, Notice notice = {})
        : dialogs_(dialogs), ports_(std::move(ports)), notice_(std::move(notice)) {}
    ~Win32SerialPort() override;
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

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
    std::int16_t WritePiece(std::size_t size);
    void DiscardBacklog();
    // Bytes the driver holds; nullopt when the line cannot say (gone).
    std::optional<unsigned long> Queued() const;
    // The wait of both WaitReadable forms; `wake` is an event handle or null.
    std::optional<bool> Wait(std::chrono::milliseconds timeout, void* wake);

    void Failed(const std::string& device, std::string why);

    Dialogs& dialogs_;
    PortMap ports_;
    Notice notice_;
    // The HANDLE, kept as an opaque pointer so that this header needs no
    // <windows.h>. Null until the first open.
    void* handle_ = nullptr;
    bool open_ = false;
    // Manual-reset events for the overlapped calls: one for the engine
    // thread's reads and writes, one for the answer timer's waits, which run
    // on a thread of their own. Made at the first open.
    void* ioEvent_ = nullptr;
    void* waitEvent_ = nullptr;
    std::array<std::uint8_t, 256> buffer_{};
    std::uint64_t discarded_ = 0;
    std::string openError_;
};

// Why CreateFileA failed on `device` with `code`, whose system text is
// `systemText`: "нет такого устройства COM3: (...)", "порт COM3: занят другой
// программой: ..." (a port in use gives ERROR_ACCESS_DENIED).
std::string Win32OpenErrorText(const std::string& device, unsigned long code,
                               const std::string& systemText, const std::string& settings = {});

}  // namespace busdesk
