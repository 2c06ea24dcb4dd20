#include "link/win32_port.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "link/open_failure.h"

namespace busdesk {

namespace {

constexpr std::size_t kMaxTransfer = 255;

}  // namespace

Win32SerialPort::~Win32SerialPort() {
    ClosePort();
}

bool Win32SerialPort::OpenPort(const std::string& name, const std::string& settings) {
    try {
        return Open(name, settings);
    } catch (...) {
        ClosePort();
        return false;
    }
}

bool Win32SerialPort::Open(const std::string& name, const std::string& settings) {
    ClosePort();  // never leak a handle from an open without a close
    const std::string device = ports_.Win32OpenName(name);
    HANDLE h = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    handle_ = h;
    if (h == INVALID_HANDLE_VALUE) {
        ReportOpenFailure(dialogs_, OpenFailure::Unavailable, name, settings, 0);
        return false;
    }
    open_ = true;
    // On a failure below the box comes first and the handle is closed after
    // it, as the open sequence has it.

    // 20 ms between bytes, 1 + 1 x 255 = 256 ms for a whole read of 255 bytes;
    // 10 ms + 1 ms per byte for a write.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 20;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = 1;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 10;
    if (::SetCommTimeouts(h, &timeouts) == 0) {
        const DWORD code = ::GetLastError();
        ReportOpenFailure(dialogs_, OpenFailure::Timeouts, name, settings, code);
        ClosePort();
        return false;
    }
    // All zero but what the mode string sets: no handshake, no XON/XOFF.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::BuildCommDCBA(settings.c_str(), &dcb) == 0) {
        const DWORD code = ::GetLastError();
        ReportOpenFailure(dialogs_, OpenFailure::BuildSettings, name, settings, code);
        ClosePort();
        return false;
    }
    if (::SetCommState(h, &dcb) == 0) {
        const DWORD code = ::GetLastError();
        ReportOpenFailure(dialogs_, OpenFailure::ApplySettings, name, settings, code);
        ClosePort();
        return false;
    }
    return true;
}

int Win32SerialPort::ClosePort() {
    // The handle value stays, as the open left it; only an open handle is
    // closed, and only once.
    if (!open_) return 0;
    open_ = false;
    return ::CloseHandle(static_cast<HANDLE>(handle_)) != 0 ? 1 : 0;
}

void Win32SerialPort::FlushPort() {
    if (open_) ::FlushFileBuffers(static_cast<HANDLE>(handle_));
}

Bytes Win32SerialPort::ReadPort() {
    Bytes out;
    try {
        DWORD got = 0;
        if (open_ && ::ReadFile(static_cast<HANDLE>(handle_), buffer_.data(),
                                static_cast<DWORD>(kMaxTransfer), &got, nullptr) != 0)
            out.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(
                                                              std::min<DWORD>(got, kMaxTransfer)));
        if (out.size() == kMaxTransfer) DiscardBacklog();
    } catch (...) {
        out.clear();
    }
    if (out.empty()) FlushPort();
    return out;
}

// No answer is 255 bytes long, so a full read means the line holds backlog
// (noise, a babbling device). Taken at 255 bytes a tick it would keep the
// window on stale readings for minutes; it is dropped instead, counted as the
// driver reported it just before.
void Win32SerialPort::DiscardBacklog() {
    const HANDLE h = static_cast<HANDLE>(handle_);
    DWORD errors = 0;
    COMSTAT stat{};
    const DWORD queued = ::ClearCommError(h, &errors, &stat) != 0 ? stat.cbInQue : 0;
    if (::PurgeComm(h, PURGE_RXCLEAR) != 0) discarded_ += queued;
}

std::int16_t Win32SerialPort::WritePiece(std::size_t size) {
    DWORD written = 0;
    if (!open_ || ::WriteFile(static_cast<HANDLE>(handle_), buffer_.data(),
                              static_cast<DWORD>(size), &written, nullptr) == 0)
        return 0;
    return static_cast<std::int16_t>(std::min<DWORD>(written, static_cast<DWORD>(size)));
}

std::int16_t Win32SerialPort::WritePort(const Bytes& data) {
    try {
        // Pieces of 255 bytes; a short piece ends the write, since the rest
        // sent after a hole would corrupt the stream.
        std::size_t total = 0;
        std::size_t offset = 0;
        do {
            const std::size_t piece = std::min(kMaxTransfer, data.size() - offset);
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), piece, buffer_.begin());
            const std::int16_t n = WritePiece(piece);
            total += static_cast<std::size_t>(n);
            offset += piece;
            if (static_cast<std::size_t>(n) < piece) break;
        } while (offset < data.size());
        return static_cast<std::int16_t>(std::min<std::size_t>(total, 32767));
    } catch (...) {
        return 0;
    }
}

}  // namespace busdesk
