#include "link/posix_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/serial.h>
#include <sys/sysmacros.h>
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <vector>

#include "link/line_timing.h"
#include "link/open_failure.h"
#include "link/open_reason.h"

namespace busdesk {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using line::CeilMs;
using line::kMaxTransfer;
using line::kReadGap;
using line::kReadTotal;
using line::kWriteConstant;
constexpr milliseconds kFlushLimit{265};  // the longest write: 10 ms + 255 x 1 ms

}  // namespace

namespace {

std::optional<speed_t> SpeedFor(unsigned long baud) {
    struct Row {
        unsigned long baud;
        speed_t speed;
    };
    static const Row rows[] = {
        {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
        {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
        {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
        {460800, B460800},
#endif
#ifdef B921600
        {921600, B921600},
#endif
    };
    for (const Row& r : rows)
        if (r.baud == baud) return r.speed;
    return std::nullopt;
}

tcflag_t SizeFlag(int dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

}  // namespace

bool BuildTermios(const LineSettings& line, termios& t) {
    const std::optional<speed_t> speed = SpeedFor(line.baud);
    if (!speed) {
        errno = EINVAL;
        return false;
    }
    // A UART sends 1.5 stop bits for "two" when the word has 5 bits, and
    // cannot send 1.5 with any other word length.
    tcflag_t stop = 0;
    if (line.stop == StopBits::OneAndHalf) {
        if (line.dataBits != 5) {
            errno = EINVAL;
            return false;
        }
        stop = CSTOPB;
    } else if (line.stop == StopBits::Two) {
        if (line.dataBits == 5) {
            errno = EINVAL;
            return false;
        }
        stop = CSTOPB;
    }
    tcflag_t parity = 0;
    switch (line.parity) {
        case 'E':
            parity = PARENB;
            break;
        case 'O':
            parity = PARENB | PARODD;
            break;
#ifdef CMSPAR
        case 'M':
            parity = PARENB | PARODD | CMSPAR;
            break;
        case 'S':
            parity = PARENB | CMSPAR;
            break;
#else
        case 'M':
        case 'S':
            errno = EINVAL;
            return false;
#endif
        default:
            break;
    }

    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    t.c_cflag |= CLOCAL | CREAD | SizeFlag(line.dataBits) | parity | stop;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, *speed) != 0 || cfsetospeed(&t, *speed) != 0) return false;
    return true;
}

namespace {

// tcsetattr() succeeds when any part of the request took; a line that kept
// its old speed or framing is a failure.
bool Took(const termios& wanted, const termios& got) {
#ifdef CMSPAR
    const tcflag_t framing = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR;
#else
    const tcflag_t framing = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
#endif
    return (wanted.c_cflag & framing) == (got.c_cflag & framing) &&
           cfgetospeed(&wanted) == cfgetospeed(&got) && (got.c_iflag & (IXON | IXOFF)) == 0;
}

}  // namespace

PosixSerialPort::PosixSerialPort(Dialogs& dialogs, PortMap ports, PosixPortOptions options)
    : dialogs_(dialogs), ports_(std::move(ports)), options_(std::move(options)) {}

PosixSerialPort::~PosixSerialPort() {
    ClosePort();
}

void PosixSerialPort::CloseAfterFailure() {
    if (fd_ < 0) return;
    ::ioctl(fd_, TIOCNXCL);  // as in ClosePort; fails harmlessly where not set
    ::close(fd_);
    fd_ = -1;
}

void PosixSerialPort::Notice(const std::string& path, const std::string& text) const {
    if (options_.notice)
        options_.notice(path, text);
    else
        std::cerr << "busdesk: " << text << std::endl;
}

std::optional<std::string> PosixSerialPort::PathFor(const std::string& name,
                                                    std::size_t& found) const {
    found = 0;
    if (std::optional<std::string> mapped = ports_.Mapped(name)) return mapped;
    if (!PortMap::CanonicalName(name)) return std::nullopt;
    // Found afresh at every open: an adapter plugged in, or plugged back, since
    // the last one is opened without a restart.
    const std::vector<SerialDevice> devices =
        DefaultOrder(options_.discover ? options_.discover() : DiscoverSerialDevices());
    found = devices.size();
    return ports_.Resolve(name, devices);
}

bool PosixSerialPort::OpenPort(const std::string& name, const std::string& settings) {
    try {
        return Open(name, settings);
    } catch (...) {
        CloseAfterFailure();
        return false;
    }
}

namespace {

// Who has the device open, for a line another program holds with TIOCEXCL
// alone: the descriptors under /proc that lead to it. Only processes this
// user may look into are seen.
std::optional<long> OpenerOf(const struct stat& device) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const long self = static_cast<long>(::getpid());
    for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
        const std::string pidText = proc->path().filename().string();
        long pid = 0;
        const auto [ptr, err] =
            std::from_chars(pidText.data(), pidText.data() + pidText.size(), pid);
        if (err != std::errc() || ptr != pidText.data() + pidText.size() || pid == self) continue;
        std::error_code e2;
        for (fs::directory_iterator fd(proc->path() / "fd", e2), fdEnd; !e2 && fd != fdEnd;
             fd.increment(e2)) {
            struct stat st {};
            if (::stat(fd->path().c_str(), &st) != 0) continue;
            const bool same = S_ISCHR(device.st_mode)
                                  ? S_ISCHR(st.st_mode) && st.st_rdev == device.st_rdev
                                  : st.st_dev == device.st_dev && st.st_ino == device.st_ino;
            if (same) return pid;
        }
    }
    return std::nullopt;
}

std::optional<long> FlockHolderOf(const struct stat& st) {
    std::ifstream in("/proc/locks");
    if (!in) return std::nullopt;
    const std::string locks((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return LockHolder(locks, major(st.st_dev), minor(st.st_dev),
                      static_cast<unsigned long>(st.st_ino));
}

// Who holds a line that would not open (EBUSY) or lock: a flock() shows in
// /proc/locks; TIOCEXCL alone only in the holder's descriptors.
std::optional<long> HolderOf(const std::string& path, int fd) {
    struct stat st {};
    if ((fd >= 0 ? ::fstat(fd, &st) : ::stat(path.c_str(), &st)) != 0) return std::nullopt;
    if (std::optional<long> pid = FlockHolderOf(st)) return pid;
    return OpenerOf(st);
}

std::string RealPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    std::string out = real != nullptr ? real : path;
    std::free(real);
    return out;
}

}  // namespace

void PosixSerialPort::SetOpenError(const std::string& path, int error) {
    OpenReason r;
    r.trouble = TroubleOfErrno(error);
    r.systemText = ErrnoText(error);
    // Permissions belong to the node, not to the by-id link that leads to it.
    r.device = r.trouble == OpenTrouble::Denied ? RealPath(path) : path;
    if (r.trouble == OpenTrouble::Busy) r.pid = HolderOf(path, fd_);
    openError_ = ReasonText(r);
    // The port list already names a node this user may not open in those
    // words; the same words then take the same place in its tool tip.
    note_ = r.trouble == OpenTrouble::Denied ? DeniedText(r.device) : openError_;
}

bool PosixSerialPort::Open(const std::string& name, const std::string& settings) {
    ClosePort();  // never leak a descriptor from an open without a close
    openError_.clear();
    note_.clear();
    // The box first, then the close, as the open sequence has it: the
    // descriptor is still held while the user reads why it failed.
    std::string noticePath = name;
    auto fail = [&](OpenFailure failure, int code) {
        // Said before the box, so that standard error and the port list's
        // tool tip have it while the box waits.
        if (!note_.empty()) Notice(noticePath, note_);
        ReportOpenFailure(dialogs_, failure, name, settings, static_cast<unsigned long>(code));
        CloseAfterFailure();
        return false;
    };
    std::size_t found = 0;
    const std::optional<std::string> path = PathFor(name, found);
    if (!path) {
        openError_ = note_ = NoPortText(name, found, PortMap::CanonicalName(name).has_value());
        return fail(OpenFailure::Unavailable, 0);
    }
    noticePath = *path;
    // O_NONBLOCK: the open must not wait for carrier, and poll() bounds every
    // read and write. No O_CREAT: only a device that exists is a port.
    fd_ = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        SetOpenError(*path, errno);
        return fail(OpenFailure::Unavailable, 0);
    }
    // Both locks, because each misses someone: TIOCEXCL turns away every later
    // open() of the line but not root's; flock() holds for root too, but only
    // against programs that also take it (as a second instance of this tool).
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        SetOpenError(*path, errno);
        return fail(OpenFailure::Unavailable, 0);
    }
    termios t{};
    if (::tcgetattr(fd_, &t) != 0 || ::ioctl(fd_, TIOCEXCL) != 0) {
        const int code = errno;  // ENOTTY for a file or /dev/null
        SetOpenError(*path, code);
        return fail(OpenFailure::Timeouts, code);
    }
    const std::optional<LineSettings> line = ParseModeString(settings);
    if (!line) {
        openError_ = note_ =
            ReasonText({OpenTrouble::Settings, *path, ErrnoText(EINVAL), {}, settings});
        return fail(OpenFailure::BuildSettings, EINVAL);
    }
    termios got{};
    int code = 0;
    if (!BuildTermios(*line, t) || ::tcsetattr(fd_, TCSANOW, &t) != 0 ||
        ::tcgetattr(fd_, &got) != 0)
        code = errno;
    else if (!Took(t, got))
        code = EINVAL;
    if (code != 0) {
        openError_ = note_ =
            ReasonText({OpenTrouble::Settings, *path, ErrnoText(code), {}, settings});
        return fail(OpenFailure::ApplySettings, code);
    }
    if (options_.rs485) SwitchToRs485(*path);
    return true;
}

void PosixSerialPort::SwitchToRs485(const std::string& path) {
    // A refusal leaves the port open: adapters that turn the line round
    // themselves work without it, and the user is told either way.
    int code = ENOTTY;
#if defined(__linux__) && defined(TIOCSRS485)
    serial_rs485 rs{};
    rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;  // RTS low again after sending
    if (::ioctl(fd_, TIOCSRS485, &rs) == 0) return;
    code = errno;
#endif
    Notice(path, Rs485RefusedText(path, code));
}

int PosixSerialPort::ClosePort() {
    if (fd_ < 0) return 0;
    // Root ignores TIOCEXCL, nobody else does: clear it, or on a line whose
    // tty outlives this descriptor (a pty) every later open by a user fails.
    ::ioctl(fd_, TIOCNXCL);
    // Send what can still go, then drop the rest: otherwise close() on a stuck
    // line waits out the driver's closing delay (30 s on a UART).
    FlushPort();
    ::tcflush(fd_, TCOFLUSH);
    const int r = ::close(fd_);
    // Unlike a Win32 handle the number is reused at once: never close it twice.
    fd_ = -1;
    return r == 0 ? 1 : 0;
}

void PosixSerialPort::FlushPort() {
    // Wait, within bounds, until the driver has sent what it holds. tcdrain()
    // is not used: it has no time-out, and a stuck line would hang the tick.
    // Input is left alone: a reply may be on its way.
    if (fd_ < 0) return;
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    const auto deadline =
        Clock::now() + std::min<milliseconds>(kWriteConstant + milliseconds(queued), kFlushLimit);
    while (Clock::now() < deadline) {
        ::poll(nullptr, 0, 1);
        if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    }
}

Bytes PosixSerialPort::ReadPort() {
    Bytes out;
    try {
        const auto total = Clock::now() + kReadTotal;
        Clock::time_point last{};
        std::size_t count = 0;
        while (fd_ >= 0 && count < kMaxTransfer) {
            auto until = total;
            if (count > 0) until = std::min(until, last + kReadGap);
            const auto now = Clock::now();
            if (now >= until) break;
            pollfd p{fd_, POLLIN, 0};
            const int r = ::poll(&p, 1, CeilMs(until - now));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) break;
            if (r == 0) continue;                  // the deadlines decide at the top
            if ((p.revents & POLLIN) == 0) break;  // POLLHUP/POLLERR and nothing to read
            const ssize_t n = ::read(fd_, buffer_.data() + count, kMaxTransfer - count);
            if (n > 0) {
                count += static_cast<std::size_t>(n);
                last = Clock::now();
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            // read() 0 or EIO: the other end hung up. poll() reports such a line
            // readable forever, so going round again would spin at full speed
            // until the deadline, every tick; end the read with what it has.
            break;
        }
        out.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
        if (count == kMaxTransfer) DiscardBacklog();
    } catch (...) {
        out.clear();
    }
    if (out.empty()) FlushPort();
    return out;
}

std::optional<bool> PosixSerialPort::WaitReadable(milliseconds timeout) {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    const int r =
        ::poll(&p, 1, static_cast<int>(std::clamp<milliseconds::rep>(timeout.count(), 0, 60'000)));
    // A hung-up line polls readable with nothing to read: that is no answer.
    return r > 0 && (p.revents & POLLIN) != 0;
}

std::optional<bool> PosixSerialPort::WaitReadable(milliseconds timeout, const WakeSignal& wake) {
    if (wake.Fd() < 0) return std::nullopt;
    if (fd_ < 0) return false;
    const auto until = Clock::now() + std::clamp(timeout, milliseconds(0), milliseconds(60'000));
    for (;;) {
        std::array<pollfd, 2> p{pollfd{fd_, POLLIN, 0}, pollfd{wake.Fd(), POLLIN, 0}};
        const auto now = Clock::now();
        const int r = ::poll(p.data(), p.size(), now >= until ? 0 : CeilMs(until - now));
        if (r < 0 && errno == EINTR) continue;
        // A hung-up line polls at once with POLLHUP and nothing to read: that
        // is no answer, and false tells the caller not to wait on it again.
        return r > 0 && (p[0].revents & POLLIN) != 0;
    }
}

// No answer is 255 bytes long, so a full read means the line holds backlog
// (noise, a babbling device). Taken at 255 bytes a tick it would keep the
// window on stale readings for minutes; it is dropped instead. The count is
// what the driver reported just before: bytes that land in between are
// dropped uncounted.
void PosixSerialPort::DiscardBacklog() {
    int queued = 0;
    if (::ioctl(fd_, TIOCINQ, &queued) != 0) queued = 0;
    if (::tcflush(fd_, TCIFLUSH) == 0 && queued > 0)
        discarded_ += static_cast<std::uint64_t>(queued);
}

std::int16_t PosixSerialPort::WritePiece(const std::uint8_t* data, std::size_t size) {
    if (fd_ < 0 || size == 0) return 0;
    const auto deadline = Clock::now() + kWriteConstant + milliseconds(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;  // EIO: hung up
        const auto now = Clock::now();
        if (now >= deadline) break;
        pollfd p{fd_, POLLOUT, 0};
        const int r = ::poll(&p, 1, CeilMs(deadline - now));
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && (p.revents & POLLOUT) == 0) break;  // POLLHUP/POLLERR
    }
    return static_cast<std::int16_t>(done);
}

std::int16_t PosixSerialPort::WritePort(const Bytes& data) {
    try {
        // Pieces of 255 bytes, each with its own time-out. A short piece ends
        // the write: sending the rest after a hole would corrupt the stream.
        std::size_t total = 0;
        std::size_t offset = 0;
        do {
            const std::size_t piece = std::min(kMaxTransfer, data.size() - offset);
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), piece, buffer_.begin());
            const std::int16_t n = WritePiece(buffer_.data(), piece);
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
