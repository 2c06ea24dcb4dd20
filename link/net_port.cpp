#include "link/net_port.h"

#ifdef _WIN32
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // WSAPoll
#endif
// winsock2.h before windows.h, which would bring in the old winsock.h.
#include <winsock2.h>
// clang-format off
#include <windows.h>
#include <ws2tcpip.h>
// clang-format on
#ifndef TCP_MAXRT
#define TCP_MAXRT 5  // ws2ipdef.h of newer SDKs
#endif
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>
#include <vector>

#include "link/line_timing.h"
#include "link/mode_string.h"
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
constexpr unsigned int kGiveUpMs = 5000;

#ifdef _WIN32
using Sock = SOCKET;
const Sock kNoSock = INVALID_SOCKET;
using PollFd = WSAPOLLFD;
using IoLen = int;
using AddrLen = int;
int LastError() {
    return WSAGetLastError();
}
int PollSockets(PollFd* fds, unsigned long n, int ms) {
    return WSAPoll(fds, n, ms);
}
void CloseSock(Sock s) {
    ::closesocket(s);
}
bool WouldBlock(int e) {
    return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS;
}
bool Interrupted(int e) {
    return e == WSAEINTR;
}
constexpr int kRefused = WSAECONNREFUSED;
constexpr int kNetUnreach = WSAENETUNREACH;
constexpr int kHostUnreach = WSAEHOSTUNREACH;
constexpr int kSendFlags = 0;
std::string SystemText(int code) {
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT),
        reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n > 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr) ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "error " + std::to_string(code) : out;
}
// Winsock is started once per process and left running.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
#else
using Sock = int;
constexpr Sock kNoSock = -1;
using PollFd = pollfd;
using IoLen = std::size_t;
using AddrLen = socklen_t;
int LastError() {
    return errno;
}
int PollSockets(PollFd* fds, nfds_t n, int ms) {
    return ::poll(fds, n, ms);
}
void CloseSock(Sock s) {
    ::close(s);
}
bool WouldBlock(int e) {
    return e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS;
}
bool Interrupted(int e) {
    return e == EINTR;
}
constexpr int kRefused = ECONNREFUSED;
constexpr int kNetUnreach = ENETUNREACH;
constexpr int kHostUnreach = EHOSTUNREACH;
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a dead peer is a short write, not a signal
#else
constexpr int kSendFlags = 0;
#endif
std::string SystemText(int code) {
    return ErrnoText(code);
}
bool StartWinsock() {
    return true;
}
#endif

Sock S(std::uintptr_t s) {
    return static_cast<Sock>(s);
}
std::uintptr_t U(Sock s) {
    return static_cast<std::uintptr_t>(s);
}

// Waits for a connection under way to be made or to fail: >0 when it is
// decided, 0 on time-out, <0 on error.
int WaitConnected(Sock s, int ms) {
#ifdef _WIN32
    // WSAPoll does not report a refused connection on older Windows; select
    // does, as an exception.
    fd_set w, e;
    FD_ZERO(&w);
    FD_ZERO(&e);
    FD_SET(s, &w);
    FD_SET(s, &e);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, nullptr, &w, &e, &tv);
#else
    pollfd p{s, POLLOUT, 0};
    return ::poll(&p, 1, ms);
#endif
}

bool SetNonBlocking(Sock s) {
#ifdef _WIN32
    u_long on = 1;
    return ::ioctlsocket(s, static_cast<long>(FIONBIO), &on) == 0;
#else
    const int flags = ::fcntl(s, F_GETFL);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(s, F_SETFD, FD_CLOEXEC) == 0;
#endif
}

// What a failed connection means to the user, in the words of the other
// failed opens: the lead words, then the system's text, then what to do.
std::string ConnectText(const std::string& url, int code) {
    std::string lead = "соединение не установлено";
    std::string hint;
    if (code == kRefused) {
        lead = "сервер отверг соединение";
        hint = ": проверьте адрес и порт и что сервер слушает их";
    } else if (code == kNetUnreach || code == kHostUnreach) {
        lead = "нет маршрута до сервера";
        hint = ": проверьте сеть и адрес";
    }
    return url + ": " + lead + " (" + SystemText(code) + ")" + hint;
}

}  // namespace

NetSerialPort::NetSerialPort(Dialogs& dialogs, PortMap ports, Notice notice, NetPortLimits limits)
    : dialogs_(dialogs),
      ports_(std::move(ports)),
      notice_(std::move(notice)),
      limits_(limits),
      sock_(U(kNoSock)) {}

NetSerialPort::~NetSerialPort() {
    ClosePort();
#ifdef _WIN32
    if (event_ != nullptr) ::WSACloseEvent(static_cast<WSAEVENT>(event_));
#endif
}

void NetSerialPort::Say(const std::string& text) const {
    if (notice_)
        notice_(url_, text);
    else
        std::cerr << "busdesk: " << text << std::endl;
}

void NetSerialPort::CloseSocket() {
    if (S(sock_) == kNoSock) return;
    CloseSock(S(sock_));
    sock_ = U(kNoSock);
    telnet_.reset();
    const std::lock_guard lock(pendingMutex_);
    pending_.clear();
}

std::size_t NetSerialPort::Pending() const {
    const std::lock_guard lock(pendingMutex_);
    return pending_.size();
}

bool NetSerialPort::OpenPort(const std::string& name, const std::string& settings) {
    try {
        return Open(name, settings);
    } catch (...) {
        CloseSocket();
        return false;
    }
}

bool NetSerialPort::Connect(const NetTarget& target, std::string& why) {
    if (!StartWinsock()) {
        why = url_ + ": сеть недоступна (Winsock не запущен)";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(target.port);
    const int g = ::getaddrinfo(target.host.c_str(), service.c_str(), &hints, &found);
    if (g != 0 || found == nullptr) {
#ifdef _WIN32
        const std::string text = SystemText(g);
#else
        const std::string text = g == EAI_SYSTEM ? ErrnoText(errno) : ::gai_strerror(g);
#endif
        why = url_ + ": имя сервера «" + target.host + "» не найдено (" + text +
              "): проверьте имя или укажите адрес";
        return false;
    }
    const auto deadline = Clock::now() + limits_.connect;
    int lastError = 0;
    bool timedOut = false;
    for (addrinfo* ai = found; ai != nullptr && S(sock_) == kNoSock; ai = ai->ai_next) {
        const Sock s = ::socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (s == kNoSock) {
            lastError = LastError();
            continue;
        }
        if (!SetNonBlocking(s)) {
            lastError = LastError();
            CloseSock(s);
            continue;
        }
        int error = 0;
        if (::connect(s, ai->ai_addr, static_cast<AddrLen>(ai->ai_addrlen)) != 0) {
            error = LastError();
            if (WouldBlock(error)) {
                error = 0;
                for (;;) {
                    const auto now = Clock::now();
                    if (now >= deadline) {
                        timedOut = true;
                        break;
                    }
                    const int r = WaitConnected(s, CeilMs(deadline - now));
                    if (r < 0 && Interrupted(LastError())) continue;
                    if (r < 0) {
                        error = LastError();
                        break;
                    }
                    if (r == 0) continue;
                    int soError = 0;
                    socklen_t len = sizeof soError;
                    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError),
                                     &len) != 0)
                        soError = LastError();
                    error = soError;
                    break;
                }
            }
        }
        if (error == 0 && !timedOut) {
            sock_ = U(s);
            break;
        }
        CloseSock(s);
        if (error != 0) lastError = error;
        if (timedOut) break;
    }
    ::freeaddrinfo(found);
    if (S(sock_) != kNoSock) return true;
    if (timedOut) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limits_.connect);
        why = url_ + ": сервер не ответил за " +
              std::to_string(std::max<long long>(1, seconds.count())) +
              " с: проверьте адрес и сеть";
    } else {
        why = ConnectText(url_, lastError);
    }
    return false;
}

bool NetSerialPort::Open(const std::string& name, const std::string& settings) {
    ClosePort();
    openError_.clear();
    lineNotice_.clear();
    gone_ = false;
    auto fail = [&](OpenFailure failure, unsigned long code) {
        Say(openError_);
        ReportOpenFailure(dialogs_, failure, name, settings, code);
        CloseSocket();
        return false;
    };
    const std::optional<std::string> mapped = ports_.Mapped(name);
    std::string why;
    const std::optional<NetTarget> target =
        mapped ? ParseNetTarget(*mapped, &why) : std::optional<NetTarget>();
    url_ = mapped.value_or(name);
    if (!target) {
        openError_ = mapped ? why : name + ": не задан адрес сервера";
        return fail(OpenFailure::Unavailable, 0);
    }
    url_ = target->Url();
    const std::optional<LineSettings> line = ParseModeString(settings);
    if (!line) {
        openError_ = ReasonText({OpenTrouble::Settings, url_, ErrnoText(EINVAL), {}, settings});
        return fail(OpenFailure::BuildSettings, EINVAL);
    }
    if (!Connect(*target, openError_)) return fail(OpenFailure::Unavailable, 0);
    // Requests are a few bytes each: without this the system holds every one
    // back until the last one is acknowledged, a round trip per request.
    int on = 1;
    ::setsockopt(S(sock_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    ::setsockopt(S(sock_), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    // A server that vanished without a word (a pulled cable, a dead switch)
    // would otherwise take every request into the send buffer for many
    // minutes; given up after a few seconds without an acknowledgement, the
    // writes fail as on a pulled adapter.
#ifdef _WIN32
    const DWORD giveUpS = kGiveUpMs / 1000;
    ::setsockopt(S(sock_), IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&giveUpS),
                 sizeof giveUpS);
#elif defined(TCP_USER_TIMEOUT)
    const unsigned int giveUpMs = kGiveUpMs;
    ::setsockopt(S(sock_), IPPROTO_TCP, TCP_USER_TIMEOUT, &giveUpMs, sizeof giveUpMs);
#endif
#ifdef _WIN32
    if (event_ == nullptr) event_ = ::WSACreateEvent();
#endif
    if (target->kind == NetTarget::Kind::Rfc2217) {
        telnet_ = std::make_unique<telnet::Codec>(
            std::vector<std::uint8_t>{telnet::kBinary, telnet::kComPort},
            std::vector<std::uint8_t>{telnet::kBinary, telnet::kSuppressGoAhead});
        settingUp_ = true;
        const bool agreed = Negotiate(*line, settings, openError_);
        settingUp_ = false;
        if (!agreed) {
            // A line that would run at other settings is the serial port's
            // "cannot set" failure, whatever carries it.
            return fail(gone_ ? OpenFailure::Unavailable : OpenFailure::ApplySettings,
                        gone_ ? 0 : static_cast<unsigned long>(EINVAL));
        }
        if (!lineNotice_.empty()) Say(lineNotice_);
    }
    return true;
}

bool NetSerialPort::Negotiate(const LineSettings& line, const std::string& settings,
                              std::string& why) {
    telnet::Codec& t = *telnet_;
    t.OfferLocal(telnet::kBinary);
    t.AskRemote(telnet::kBinary);
    t.AskRemote(telnet::kSuppressGoAhead);
    t.OfferLocal(telnet::kComPort);
    SendReplies();
    const auto waitFor = [&](auto done) {
        const auto until = Clock::now() + limits_.answer;
        while (!done()) {
            const auto now = Clock::now();
            if (now >= until) return false;
            if (!Pump(std::chrono::ceil<milliseconds>(until - now))) return false;
        }
        return true;
    };
    const auto lost = [&] {
        why = url_ + ": сервер закрыл соединение при настройке линии";
        return false;
    };
    waitFor([&] { return t.LocalOn(telnet::kComPort) || t.LocalRefused(telnet::kComPort); });
    if (gone_) return lost();
    if (!t.LocalOn(telnet::kComPort)) {
        lineNotice_ = "сервер " + url_ + " не принял управление линией: скорость и формат " +
                      settings + " задаются в настройках самого сервера";
        return true;
    }
    telnet::LineSetup setup(line);
    const Bytes requests = setup.Requests();
    if (Send(requests.data(), requests.size(), Clock::now() + limits_.answer) != requests.size())
        return lost();
    // Answers may come in any order and with data between them; the ones
    // that have not come when the time is up never will, for some servers.
    waitFor([&] {
        for (const telnet::SubNeg& sub : t.TakeSubNegs())
            if (const auto m = telnet::ReadComPort(sub)) setup.Take(*m);
        return setup.Done() || !setup.Refused().empty();
    });
    if (gone_) return lost();
    if (!setup.Refused().empty()) {
        why = ReasonText(
            {OpenTrouble::Settings, url_, "сервер установил " + setup.Refused(), {}, settings});
        return false;
    }
    if (!setup.Done())
        lineNotice_ = "сервер " + url_ + " не подтвердил настройки линии (" + setup.Unanswered() +
                      "): линия может работать не на " + settings;
    return true;
}

void NetSerialPort::SendReplies() {
    if (!telnet_) return;
    const Bytes replies = telnet_->TakeReplies();
    if (!replies.empty()) Send(replies.data(), replies.size(), Clock::now() + kWriteConstant);
}

bool NetSerialPort::Pump(milliseconds wait) {
    if (S(sock_) == kNoSock || gone_) return false;
    PollFd p{S(sock_), POLLIN, 0};
    const int r =
        PollSockets(&p, 1, static_cast<int>(std::clamp<long long>(wait.count(), 0, 60000)));
    if (r < 0) return Interrupted(LastError());
    if (r == 0) return true;
    if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) return true;
    const auto n =
        ::recv(S(sock_), reinterpret_cast<char*>(raw_.data()), static_cast<IoLen>(raw_.size()), 0);
    if (n < 0 && (WouldBlock(LastError()) || Interrupted(LastError()))) return true;
    if (n <= 0) {
        // Closed or reset: from now on reads end at once and writes come up
        // short, and nobody waits on the socket again, so nothing spins.
        gone_ = true;
        return false;
    }
    Bytes data;
    if (telnet_) {
        telnet_->Decode(raw_.data(), static_cast<std::size_t>(n), data);
        SendReplies();
        // Line and modem state reports after the set-up are of no use here.
        if (!settingUp_) telnet_->TakeSubNegs();
    } else {
        data.assign(raw_.begin(), raw_.begin() + n);
    }
    if (!data.empty()) {
        const std::lock_guard lock(pendingMutex_);
        pending_.insert(pending_.end(), data.begin(), data.end());
    }
    return true;
}

int NetSerialPort::ClosePort() {
    if (S(sock_) == kNoSock) return 0;
    CloseSocket();
    return 1;
}

void NetSerialPort::FlushPort() {
    // Nothing is held on this side: with TCP_NODELAY each write leaves at
    // once. Received data stays, as on the serial line.
}

Bytes NetSerialPort::ReadPort() {
    Bytes out;
    try {
        const auto total = Clock::now() + kReadTotal;
        Clock::time_point last{};
        while (S(sock_) != kNoSock && out.size() < kMaxTransfer) {
            {
                const std::lock_guard lock(pendingMutex_);
                const std::size_t take = std::min(kMaxTransfer - out.size(), pending_.size());
                if (take > 0) {
                    out.insert(out.end(), pending_.begin(),
                               pending_.begin() + static_cast<std::ptrdiff_t>(take));
                    pending_.erase(pending_.begin(),
                                   pending_.begin() + static_cast<std::ptrdiff_t>(take));
                    last = Clock::now();
                }
            }
            if (out.size() >= kMaxTransfer) break;
            auto until = total;
            if (!out.empty()) until = std::min(until, last + kReadGap);
            const auto now = Clock::now();
            if (now >= until) break;
            if (!Pump(std::chrono::ceil<milliseconds>(until - now))) break;
        }
        if (out.size() == kMaxTransfer) DiscardBacklog();
    } catch (...) {
        out.clear();
    }
    if (out.empty()) FlushPort();
    return out;
}

// As on the serial line: a full read means backlog, which is dropped, here
// and in the server's buffer too where the server takes the request.
void NetSerialPort::DiscardBacklog() {
    std::uint64_t dropped = 0;
    {
        const std::lock_guard lock(pendingMutex_);
        dropped += pending_.size();
        pending_.clear();
    }
    for (int i = 0; i < 64 && Pump(milliseconds(0));) {
        const std::lock_guard lock(pendingMutex_);
        if (pending_.empty()) break;
        dropped += pending_.size();
        pending_.clear();
        ++i;
    }
    discarded_ += dropped;
    if (telnet_ && telnet_->LocalOn(telnet::kComPort)) {
        const Bytes purge =
            telnet::ComPortByte(telnet::ComCommand::PurgeData, telnet::kPurgeReceive);
        Send(purge.data(), purge.size(), Clock::now() + kWriteConstant);
    }
}

std::optional<bool> NetSerialPort::WaitReadable(milliseconds timeout) {
    if (S(sock_) == kNoSock || gone_) return false;
    if (Pending() > 0) return true;
    PollFd p{S(sock_), POLLIN, 0};
    const int r = PollSockets(
        &p, 1, static_cast<int>(std::clamp<milliseconds::rep>(timeout.count(), 0, 60'000)));
    if (r <= 0 || (p.revents & POLLIN) == 0) return false;
    // A closed connection polls readable with nothing to read.
    char b = 0;
    return ::recv(S(sock_), &b, 1, MSG_PEEK) > 0;
}

std::optional<bool> NetSerialPort::WaitReadable(milliseconds timeout, const WakeSignal& wake) {
#ifdef _WIN32
    if (wake.Event() == nullptr || event_ == nullptr) return std::nullopt;
#else
    if (wake.Fd() < 0) return std::nullopt;
#endif
    if (S(sock_) == kNoSock || gone_) return false;
    if (Pending() > 0) return true;
    const auto until = Clock::now() + std::clamp(timeout, milliseconds(0), milliseconds(60'000));
    char b = 0;
#ifdef _WIN32
    // A socket and an event cannot be polled together; the socket's news is
    // turned into an event of its own, and both are waited on. Selecting
    // again sets the event at once when data is already waiting.
    const auto ev = static_cast<WSAEVENT>(event_);
    ::WSAResetEvent(ev);
    if (::WSAEventSelect(S(sock_), ev, FD_READ | FD_CLOSE) != 0) return std::nullopt;
    const HANDLE handles[2] = {ev, static_cast<HANDLE>(wake.Event())};
    const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE,
                                             static_cast<DWORD>(CeilMs(until - Clock::now())));
    ::WSAEventSelect(S(sock_), nullptr, 0);
    if (r != WAIT_OBJECT_0) return false;
    return ::recv(S(sock_), &b, 1, MSG_PEEK) > 0;
#else
    for (;;) {
        std::array<pollfd, 2> p{pollfd{S(sock_), POLLIN, 0}, pollfd{wake.Fd(), POLLIN, 0}};
        const auto now = Clock::now();
        const int r = ::poll(p.data(), p.size(), now >= until ? 0 : CeilMs(until - now));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || (p[0].revents & POLLIN) == 0) return false;
        // Readable with nothing to read is a closed connection: no answer.
        return ::recv(S(sock_), &b, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
    }
#endif
}

std::size_t NetSerialPort::Send(const std::uint8_t* wire, std::size_t size,
                                Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < size && S(sock_) != kNoSock && !gone_) {
        const auto n = ::send(S(sock_), reinterpret_cast<const char*>(wire + done),
                              static_cast<IoLen>(size - done), kSendFlags);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const int e = LastError();
        if (n < 0 && Interrupted(e)) continue;
        if (n < 0 && !WouldBlock(e)) {
            gone_ = true;  // reset or broken: every later write comes up short at once
            break;
        }
        const auto now = Clock::now();
        if (now >= deadline) break;
        PollFd p{S(sock_), POLLOUT, 0};
        const int r = PollSockets(&p, 1, CeilMs(deadline - now));
        if (r < 0 && !Interrupted(LastError())) break;
        if (r > 0 && (p.revents & POLLOUT) == 0) {
            gone_ = true;
            break;
        }
    }
    return done;
}

std::int16_t NetSerialPort::WritePiece(const std::uint8_t* data, std::size_t size) {
    if (S(sock_) == kNoSock || size == 0 || gone_) return 0;
    const auto deadline = Clock::now() + kWriteConstant + milliseconds(size);
    if (!telnet_) return static_cast<std::int16_t>(Send(data, size, deadline));
    const Bytes wire = telnet::Escape(Bytes(data, data + size));
    const std::size_t sent = Send(wire.data(), wire.size(), deadline);
    // Count the data bytes that went whole; half of a doubled 0xFF did not.
    std::size_t count = 0;
    for (std::size_t w = 0; count < size; ++count) {
        w += data[count] == telnet::kIac ? 2 : 1;
        if (w > sent) break;
    }
    return static_cast<std::int16_t>(count);
}

std::int16_t NetSerialPort::WritePort(const Bytes& data) {
    try {
        std::size_t total = 0;
        std::size_t offset = 0;
        do {
            const std::size_t piece = std::min(kMaxTransfer, data.size() - offset);
            const std::int16_t n = WritePiece(data.data() + offset, piece);
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
