#include "link/win32_port.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "link/line_timing.h"
#include "link/open_failure.h"
#include "link/open_reason.h"

namespace busdesk {

namespace {

using line::kMaxTransfer;

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

// One read or write on the overlapped handle, waited for to its end; the
// port's time-outs bound it as they bound a plain call.
bool Transfer(HANDLE h, HANDLE event, bool write, std::uint8_t* data, DWORD size, DWORD* done) {
    OVERLAPPED ov{};
    ov.hEvent = event;
    ::ResetEvent(event);
    *done = 0;
    const BOOL ok = write ? ::WriteFile(h, data, size, done, &ov)
                          : ::ReadFile(h, data, size, done, &ov);
    if (ok != 0) return true;
    if (::GetLastError() != ERROR_IO_PENDING) return false;
    return ::GetOverlappedResult(h, &ov, done, TRUE) != 0;
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
    if (ioEvent_ != nullptr) ::CloseHandle(static_cast<HANDLE>(ioEvent_));
    if (waitEvent_ != nullptr) ::CloseHandle(static_cast<HANDLE>(waitEvent_));
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
    if (ioEvent_ == nullptr) ioEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (waitEvent_ == nullptr) waitEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ioEvent_ == nullptr || waitEvent_ == nullptr) {
        const DWORD code = ::GetLastError();
        Failed(device, Win32OpenErrorText(shown, code, SystemText(code)));
        ReportOpenFailure(dialogs_, OpenFailure::Unavailable, name, settings, 0);
        return false;
    }
    // Overlapped, so that the answer timer can wait for a byte on its own
    // thread, woken at once, while reads and writes go on.
    HANDLE h = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
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
    // A port that takes no event mask still reads and writes; its answers
    // go untimed (WaitReadable says it cannot tell).
    ::SetCommMask(h, EV_RXCHAR);
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
        if (open_ && Transfer(static_cast<HANDLE>(handle_), static_cast<HANDLE>(ioEvent_), false,
                              buffer_.data(), static_cast<DWORD>(kMaxTransfer), &got))
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
    if (!open_ || !Transfer(static_cast<HANDLE>(handle_), static_cast<HANDLE>(ioEvent_), true,
                            buffer_.data(), static_cast<DWORD>(size), &written))
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

std::optional<unsigned long> Win32SerialPort::Queued() const {
    DWORD errors = 0;
    COMSTAT stat{};
    if (::ClearCommError(static_cast<HANDLE>(handle_), &errors, &stat) == 0) return std::nullopt;
    return stat.cbInQue;
}

std::optional<bool> Win32SerialPort::WaitReadable(std::chrono::milliseconds timeout) {
    return Wait(timeout, nullptr);
}

std::optional<bool> Win32SerialPort::WaitReadable(std::chrono::milliseconds timeout,
                                                  const WakeSignal& wake) {
    if (wake.Event() == nullptr) return std::nullopt;
    return Wait(timeout, wake.Event());
}

std::optional<bool> Win32SerialPort::Wait(std::chrono::milliseconds timeout, void* wake) {
    using Clock = std::chrono::steady_clock;
    if (!open_) return false;
    const HANDLE h = static_cast<HANDLE>(handle_);
    const auto until = Clock::now() + std::clamp(timeout, std::chrono::milliseconds(0),
                                                 std::chrono::milliseconds(60'000));
    int failed = 0;  // waits in a row that ended in an error
    for (;;) {
        const std::optional<unsigned long> queued = Queued();
        if (!queued) return false;  // the line is gone: nothing more will come
        if (*queued > 0) return true;
        const auto now = Clock::now();
        if (now >= until) return false;
        if (wake != nullptr && ::WaitForSingleObject(static_cast<HANDLE>(wake), 0) == WAIT_OBJECT_0)
            return false;
        OVERLAPPED ov{};
        ov.hEvent = static_cast<HANDLE>(waitEvent_);
        ::ResetEvent(ov.hEvent);
        DWORD mask = 0;
        if (::WaitCommEvent(h, &mask, &ov) == 0) {
            if (::GetLastError() != ERROR_IO_PENDING) return std::nullopt;  // no event mask
            const HANDLE handles[2] = {ov.hEvent, static_cast<HANDLE>(wake)};
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
            const DWORD r = ::WaitForMultipleObjects(wake != nullptr ? 2 : 1, handles, FALSE,
                                                     static_cast<DWORD>(left));
            DWORD unused = 0;
            if (r != WAIT_OBJECT_0) {
                // Woken or out of time: the pending wait is cancelled and
                // reaped before its OVERLAPPED goes out of scope.
                ::CancelIoEx(h, &ov);
                ::GetOverlappedResult(h, &ov, &unused, TRUE);
                if (r == WAIT_OBJECT_0 + 1) return false;
                continue;  // a byte may have come as time ran out: look once more
            }
            // A wait can end in an error while the line is fine (Wine ends one
            // when a write goes out meanwhile): look again, but a line whose
            // waits keep failing gets no answer rather than a spinning thread.
            if (::GetOverlappedResult(h, &ov, &unused, FALSE) == 0) {
                if (++failed >= 3) return false;
                continue;
            }
        }
        failed = 0;
        // An event from bytes read before the wait began can end it with
        // nothing queued: the loop looks again.
    }
}

}  // namespace busdesk
