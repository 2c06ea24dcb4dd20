#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "link/wake_signal.h"
#include "protocol/bytes.h"

namespace busdesk {

// The one serial port of the tool. The routines never pass an error on: an
// unexpected failure ends a routine with its neutral result (false, empty, 0).
// Opening reports its own failures through the Dialogs it was given.
class SerialPort {
  public:
    virtual ~SerialPort() = default;
    // `name` is "COM1:".."COM9:", `settings` a mode string such as "19200,n,8,1".
    virtual bool OpenPort(const std::string& name, const std::string& settings) = 0;
    virtual int ClosePort() = 0;
    virtual void FlushPort() = 0;
    // Up to 255 bytes; returns after a gap of more than 20 ms following a byte or
    // 256 ms after the call began. Empty when nothing arrived.
    virtual Bytes ReadPort() = 0;
    // The number of bytes written.
    virtual std::int16_t WritePort(const Bytes& data) = 0;

    // Whether a byte is waiting to be read, waiting up to `timeout` for one;
    // nothing is consumed. Nullopt when the port cannot tell. The one call
    // that may run on another thread while ReadPort, WritePort or FlushPort
    // runs (never during OpenPort or ClosePort): the line counters time
    // answers with it.
    virtual std::optional<bool> WaitReadable(std::chrono::milliseconds timeout) {
        (void)timeout;
        return std::nullopt;
    }
    // The same, ending early (false) when `wake` is or becomes raised, and
    // at once (false) when the line can say nothing more, such as a line
    // whose other end hung up. Nullopt when the port cannot tell.
    virtual std::optional<bool> WaitReadable(std::chrono::milliseconds timeout,
                                             const WakeSignal& wake) {
        (void)timeout;
        (void)wake;
        return std::nullopt;
    }
    // Bytes of backlog thrown away after reads that came back full, since the
    // port was made. A port that never discards reports 0.
    virtual std::uint64_t DiscardedBytes() const { return 0; }
    // Why the last OpenPort failed, in the system's words and with what the
    // user can do about it ("нет доступа (Permission denied): ..."). Empty
    // after a successful open, or when the port cannot tell.
    virtual std::string OpenError() const { return {}; }
    // Where a network port goes ("rfc2217://10.0.0.5:4001"); empty for a
    // local line. A network server adds its own delay to every answer.
    virtual std::string NetworkTarget() const { return {}; }
    // What the open line wants the user to know ("сервер не подтвердил
    // настройки линии"); empty when there is nothing.
    virtual std::string LineNotice() const { return {}; }
};

}  // namespace busdesk
