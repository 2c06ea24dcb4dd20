#include "sim/net_bridge.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

namespace busdesk::sim {

namespace tn = telnet;

ComPortServer::ComPortServer()
    : codec_({tn::kBinary, tn::kSuppressGoAhead}, {tn::kBinary, tn::kComPort}) {}

Bytes ComPortServer::Greeting() {
    codec_.OfferLocal(tn::kBinary);
    codec_.OfferLocal(tn::kSuppressGoAhead);
    codec_.AskRemote(tn::kBinary);
    codec_.AskRemote(tn::kComPort);
    return codec_.TakeReplies();
}

void ComPortServer::FromClient(const std::uint8_t* in, std::size_t size, Bytes& line, bool& purge) {
    codec_.Decode(in, size, line);
    for (const tn::SubNeg& sub : codec_.TakeSubNegs()) {
        const std::optional<tn::ComMessage> m = tn::ReadComPort(sub);
        if (!m || m->command >= tn::kServerOffset) continue;
        const auto command = static_cast<tn::ComCommand>(m->command);
        const auto answer = [&](Bytes value) {
            const Bytes a = tn::ComPortMessage(
                static_cast<std::uint8_t>(m->command + tn::kServerOffset), value);
            answers_.insert(answers_.end(), a.begin(), a.end());
        };
        // A value of 0 asks for the current setting; any other sets it. The
        // line is a pseudo-terminal: every setting takes, and is answered.
        const auto setting = [&](std::uint8_t& field) {
            if (!m->value.empty() && m->value[0] != 0) field = m->value[0];
            answer({field});
        };
        switch (command) {
            case tn::ComCommand::Signature: {
                const std::string name = "busdesk-sim";
                answer(Bytes(name.begin(), name.end()));
                break;
            }
            case tn::ComCommand::SetBaudRate: {
                if (m->value.size() == 4) {
                    std::uint32_t v = 0;
                    for (const std::uint8_t b : m->value) v = (v << 8) | b;
                    if (v != 0) baud_ = v;
                }
                const Bytes b = tn::ComPortBaud(baud_, true);
                answers_.insert(answers_.end(), b.begin(), b.end());
                break;
            }
            case tn::ComCommand::SetDataSize:
                setting(dataSize_);
                break;
            case tn::ComCommand::SetParity:
                setting(parity_);
                break;
            case tn::ComCommand::SetStopSize:
                setting(stop_);
                break;
            case tn::ComCommand::SetControl: {
                // Flow control, break and the modem lines: the bus has none of
                // them, so the answer says what is asked and nothing changes.
                const std::uint8_t v = m->value.empty() ? 0 : m->value[0];
                if (v == 0 || v == 1 || v == 2 || v == 3) {
                    setting(control_);
                } else if (v == 4 || v == 7 || v == 10 || v == 13) {
                    answer({static_cast<std::uint8_t>(v + 2)});  // off, as asked about
                } else {
                    answer({v});
                }
                break;
            }
            case tn::ComCommand::PurgeData:
                purge = true;
                answer(m->value);
                break;
            case tn::ComCommand::SetLineStateMask:
            case tn::ComCommand::SetModemStateMask:
                answer(m->value);
                break;
            default:
                break;  // flow suspend and resume: the bus never floods
        }
    }
}

Bytes ComPortServer::TakeReplies() {
    Bytes out = codec_.TakeReplies();
    out.insert(out.end(), answers_.begin(), answers_.end());
    answers_.clear();
    return out;
}

namespace {

bool SendAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) return false;  // a client that reads nothing
            continue;
        }
        return false;
    }
    return true;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) return false;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

struct NetBridge::Impl {
    BridgeOptions options;
    std::string ptyPath;
    std::string url;
    int listenFd = -1;
    std::array<int, 2> wake{-1, -1};
    std::thread thread;
    int client = -1;
    int line = -1;
    std::optional<ComPortServer> server;

    void DropClient() {
        if (line >= 0) {
            ::flock(line, LOCK_UN);
            ::close(line);
        }
        if (client >= 0) ::close(client);
        line = client = -1;
        server.reset();
    }

    void TakeClient(int fd) {
        if (client >= 0) {  // one at a time, as a serial line has one user
            ::close(fd);
            return;
        }
        client = fd;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        line = ::open(ptyPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios t{};
        if (line < 0 || ::flock(line, LOCK_EX | LOCK_NB) != 0 || ::tcgetattr(line, &t) != 0) {
            DropClient();  // the line is held by a program that opened it directly
            return;
        }
        cfmakeraw(&t);
        ::tcsetattr(line, TCSANOW, &t);
        // As a serial driver does at its last close: what the bus sent to the
        // previous client is not the new one's.
        ::tcflush(line, TCIFLUSH);
        if (options.telnet) {
            server.emplace();
            const Bytes hello = server->Greeting();
            if (!SendAll(client, hello.data(), hello.size())) DropClient();
        }
    }

    void FromClient() {
        std::array<std::uint8_t, 4096> buf{};
        const ssize_t n = ::recv(client, buf.data(), buf.size(), 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) {
            DropClient();
            return;
        }
        Bytes data;
        bool purge = false;
        if (server) {
            server->FromClient(buf.data(), static_cast<std::size_t>(n), data, purge);
            if (purge) ::tcflush(line, TCIFLUSH);
            const Bytes replies = server->TakeReplies();
            if (!SendAll(client, replies.data(), replies.size())) {
                DropClient();
                return;
            }
        } else {
            data.assign(buf.begin(), buf.begin() + n);
        }
        if (!WriteAll(line, data.data(), data.size())) DropClient();
    }

    void FromLine() {
        std::array<std::uint8_t, 4096> buf{};
        const ssize_t n = ::read(line, buf.data(), buf.size());
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) {
            DropClient();  // the bus dropped its line
            return;
        }
        Bytes data(buf.begin(), buf.begin() + n);
        if (server) data = ComPortServer::ToClient(data);
        if (!SendAll(client, data.data(), data.size())) DropClient();
    }

    void Run() {
        for (;;) {
            std::array<pollfd, 4> p{pollfd{wake[0], POLLIN, 0}, pollfd{listenFd, POLLIN, 0},
                                    pollfd{client, POLLIN, 0}, pollfd{line, POLLIN, 0}};
            if (::poll(p.data(), p.size(), -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (p[0].revents != 0) return;
            if (client >= 0 && (p[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) FromClient();
            if (line >= 0 && (p[3].revents & (POLLIN | POLLHUP | POLLERR)) != 0) FromLine();
            if ((p[1].revents & POLLIN) != 0) {
                const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) TakeClient(fd);
            }
        }
    }
};

NetBridge::NetBridge() : impl_(std::make_unique<Impl>()) {}

NetBridge::~NetBridge() {
    Stop();
}

bool NetBridge::Start(const BridgeOptions& options, const std::string& ptyPath,
                      std::string& error) {
    Impl& m = *impl_;
    m.options = options;
    m.ptyPath = ptyPath;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(options.port);
    const int g = ::getaddrinfo(options.address.c_str(), service.c_str(), &hints, &found);
    if (g != 0 || found == nullptr) {
        error = "адрес " + options.address + " не годится: " + ::gai_strerror(g);
        return false;
    }
    m.listenFd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (m.listenFd >= 0) ::setsockopt(m.listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (m.listenFd < 0 || ::bind(m.listenFd, found->ai_addr, found->ai_addrlen) != 0 ||
        ::listen(m.listenFd, 4) != 0) {
        error = "порт " + service + " на " + options.address + ": " + std::strerror(errno);
        ::freeaddrinfo(found);
        if (m.listenFd >= 0) ::close(m.listenFd);
        m.listenFd = -1;
        return false;
    }
    const bool v6 = found->ai_family == AF_INET6;
    ::freeaddrinfo(found);
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(m.listenFd, reinterpret_cast<sockaddr*>(&bound), &len);
    const std::uint16_t port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                        : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    const std::string host = v6 ? "[" + options.address + "]" : options.address;
    m.url =
        std::string(options.telnet ? "rfc2217" : "tcp") + "://" + host + ":" + std::to_string(port);
    if (::pipe2(m.wake.data(), O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    m.thread = std::thread([&m] { m.Run(); });
    return true;
}

void NetBridge::Stop() {
    Impl& m = *impl_;
    if (m.thread.joinable()) {
        const char b = 1;
        (void)!::write(m.wake[1], &b, 1);
        m.thread.join();
    }
    m.DropClient();
    for (int& fd : {std::ref(m.listenFd), std::ref(m.wake[0]), std::ref(m.wake[1])}) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

std::string NetBridge::Url() const {
    return impl_->url;
}

}  // namespace busdesk::sim
