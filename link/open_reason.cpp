#include "link/open_reason.h"

#include <cerrno>
#include <charconv>
#include <system_error>

namespace busdesk {

namespace {

// The Win32 codes by number: this file builds everywhere, without <windows.h>.
enum : unsigned long {
    kErrorInvalidFunction = 1,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorNotReady = 21,
    kErrorGenFailure = 31,
    kErrorSharingViolation = 32,
    kErrorBadNetpath = 53,
    kErrorDevNotExist = 55,
    kErrorInvalidParameter = 87,
    kErrorInvalidName = 123,
    kErrorBusy = 170,
    kErrorNoSuchDevice = 433,
    kErrorNotSupported = 50,
    kErrorDeviceNotConnected = 1167,
};

// "(text)" after the lead words, or nothing when the system said nothing.
std::string InParens(const std::string& text) {
    return text.empty() ? std::string() : " (" + text + ")";
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() &&
           (s.back() == '.' || s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.remove_suffix(1);
    return s;
}

}  // namespace

std::string ReasonText(const OpenReason& r) {
    const std::string sys(Trimmed(r.systemText));
    switch (r.trouble) {
        case OpenTrouble::NoDevice:
            return "нет такого устройства " + r.device + InParens(sys);
        case OpenTrouble::Busy: {
            std::string out = "порт " + r.device + " занят другой программой";
            if (r.pid) out += " (PID " + std::to_string(*r.pid) + ")";
            if (!sys.empty()) out += ": " + sys;
            return out;
        }
        case OpenTrouble::Denied:
            return "нет доступа к " + r.device + InParens(sys) + ": " + std::string(kDialoutHint);
        case OpenTrouble::NotSerial:
            return r.device + " — не последовательный порт" + InParens(sys);
        case OpenTrouble::Settings:
            return r.device + " не принимает настройки " + r.settings + InParens(sys);
        case OpenTrouble::Other:
            break;
    }
    return "не удалось открыть " + r.device + InParens(sys);
}

OpenTrouble TroubleOfErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:  // a node whose adapter was pulled, a ttyS without a UART
        case ENOTDIR:
            return OpenTrouble::NoDevice;
        case EBUSY:  // TIOCEXCL of another program
        case EWOULDBLOCK:
#if EAGAIN != EWOULDBLOCK
        case EAGAIN:
#endif
            return OpenTrouble::Busy;
        case EACCES:
            return OpenTrouble::Denied;
        case ENOTTY:
            return OpenTrouble::NotSerial;
        default:
            return OpenTrouble::Other;
    }
}

OpenTrouble TroubleOfWin32Error(unsigned long code) {
    switch (code) {
        case kErrorFileNotFound:
        case kErrorPathNotFound:
        case kErrorBadNetpath:
        case kErrorDevNotExist:
        case kErrorInvalidName:
        case kErrorNoSuchDevice:
        case kErrorDeviceNotConnected:
        case kErrorNotReady:
            return OpenTrouble::NoDevice;
        // A serial port takes one opener; the next gets ERROR_ACCESS_DENIED.
        case kErrorAccessDenied:
        case kErrorSharingViolation:
        case kErrorBusy:
            return OpenTrouble::Busy;
        case kErrorInvalidFunction:
        case kErrorNotSupported:
            return OpenTrouble::NotSerial;
        case kErrorInvalidParameter:
            return OpenTrouble::Settings;
        case kErrorGenFailure:
        default:
            return OpenTrouble::Other;
    }
}

std::string NoPortText(const std::string& name, std::size_t found, bool portName) {
    if (!portName) return "нет такого устройства " + name + " (имя порта — от COM1: до COM9:)";
    return "нет такого устройства за " + name +
           " (последовательных портов найдено: " + std::to_string(found) + ")";
}

std::optional<long> LockHolder(std::string_view locks, unsigned major, unsigned minor,
                               unsigned long inode) {
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; "1: -> FLOCK ..." waits.
    std::optional<long> other;
    while (!locks.empty()) {
        const std::size_t end = locks.find('\n');
        std::string_view line = locks.substr(0, end);
        locks = end == std::string_view::npos ? std::string_view() : locks.substr(end + 1);
        std::string_view fields[6];
        std::size_t n = 0;
        while (n < 6) {
            const std::size_t b = line.find_first_not_of(' ');
            if (b == std::string_view::npos) break;
            line.remove_prefix(b);
            const std::size_t e = line.find(' ');
            fields[n++] = line.substr(0, e);
            line = e == std::string_view::npos ? std::string_view() : line.substr(e);
        }
        if (n < 6 || fields[1] == "->") continue;
        long pid = 0;
        const std::string_view p = fields[4];
        if (std::from_chars(p.data(), p.data() + p.size(), pid).ec != std::errc() || pid <= 0)
            continue;  // -1 for open file description locks, 0 for another namespace
        const std::string_view id = fields[5];
        const std::size_t c1 = id.find(':');
        const std::size_t c2 = c1 == std::string_view::npos ? c1 : id.find(':', c1 + 1);
        if (c2 == std::string_view::npos) continue;
        unsigned maj = 0;
        unsigned min = 0;
        unsigned long ino = 0;
        if (std::from_chars(id.data(), id.data() + c1, maj, 16).ec != std::errc() ||
            std::from_chars(id.data() + c1 + 1, id.data() + c2, min, 16).ec != std::errc() ||
            std::from_chars(id.data() + c2 + 1, id.data() + id.size(), ino).ec != std::errc())
            continue;
        if (maj != major || min != minor || ino != inode) continue;
        if (fields[1] == "FLOCK") return pid;
        if (!other) other = pid;
    }
    return other;
}

std::string ErrnoText(int error) {
    return std::string(Trimmed(std::generic_category().message(error)));
}

std::string Rs485RefusedText(const std::string& path, int error) {
    std::string out = "режим RS-485 для " + path + " не включён: " + ErrnoText(error);
    if (error == ENOTTY || error == EINVAL || error == EOPNOTSUPP)
        out += " — драйвер не поддерживает режим RS-485";
    else
        out += " — драйвер отказал";
    return out + "; порт открыт без управления направлением";
}

}  // namespace busdesk
