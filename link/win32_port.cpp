#include "link/win32_port.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "link/open_failure.h"
#include "link/open_reason.h"

namespace busdesk {

namespace {

constexpr std::size_t kMaxTransfer = 255;

// The system's own text for a Win32 error code, in the user's language, as
// UTF-8. FormatMessageW, not the A form: the A form gives the ANSI code page,
// which is not UTF-8 on a Russian Windows.
std::string SystemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (n > 0 && text != nullptr) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0,
                                               nullptr, nullptr);
        if (size > 0) {
            out.resize(static_cast<std::size_t>(size));
            ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), size, nullptr,
                                  nullptr);
        }
    }
    if (text != nullptr) ::LocalFree(text);
    if (out.empty()) out = "ошибка " + std::to_string(code);
    return out;
}

}  // namespace

std::string Win32OpenErrorText(const std::string& device, unsigned long code,
                               const std::string& systemText, const std::string& settings) {
    OpenReason r;
    r.trouble = TroubleOfWin32Error(code);
    r.device = device;
    r.systemText = systemText;
    r.settings = settings;
    return ReasonText(r);
}

void Win32SerialPort::Failed(const std::string& device, std::string why) {
    openError_ = std::move(why);
    if (notice_) notice_(device, openError_);
}

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
    openError_.clear();
    const std::string device = ports_.Win32OpenName(name);
    // What the user picked, and where a mapping sends it when it differs.
    const std::string shown = device == name ? name : name + " (" + device + ")";
    HANDLE h = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    handle_ = h;
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        Failed(device, Win32OpenErrorText(shown, code, SystemText(code)));
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
        // A handle that takes no time-outs is no serial port (NUL, a file).
        Failed(device, ReasonText({OpenTrouble::NotSerial, shown, SystemText(code), {}, {}}));
        ReportOpenFailure(dialogs_, OpenFailure::Timeouts, name, settings, code);
        ClosePort();
        return false;
    }
    // All zero but what the mode string sets: no handshake, no XON/XOFF.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::BuildCommDCBA(settings.c_str(), &dcb) == 0) {
        const DWORD code = ::GetLastError();
        Failed(device, ReasonText({OpenTrouble::Settings, shown, SystemText(code), {}, settings}));
        ReportOpenFailure(dialogs_, OpenFailure::BuildSettings, name, settings, code);
        ClosePort();
        return false;
    }
    if (::SetCommState(h, &dcb) == 0) {
        const DWORD code = ::GetLastError();
        Failed(device, ReasonText({OpenTrouble::Settings, shown, SystemText(code), {}, settings}));
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
