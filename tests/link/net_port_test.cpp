#include "link/net_port.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "link/net_url.h"
#include "link/port_names.h"
#include "link/telnet.h"
#include "support/scripted_dialogs.h"

namespace busdesk {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedDialogs;
namespace tn = telnet;

// A listening socket on a free loopback port.
class Listener {
  public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 4);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() {
        if (fd_ >= 0) ::close(fd_);
    }
    int Accept() const { return ::accept(fd_, nullptr, nullptr); }
    void Close() {
        ::close(fd_);
        fd_ = -1;
    }
    std::string Url(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
    }

  private:
    int fd_ = -1;
    int port_ = 0;
};

// What arrives on `fd` until `quiet` passes without a byte.
Bytes ReadUntilQuiet(int fd, std::chrono::milliseconds quiet = 100ms) {
    Bytes out;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0) return out;
        std::uint8_t buf[1024];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return out;
        out.insert(out.end(), buf, buf + n);
    }
}

void WriteAll(int fd, const Bytes& b) {
    ASSERT_EQ(::write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size()));
}

// The data and the com-port messages a client sent, telnet taken apart.
struct Heard {
    Bytes data;
    std::vector<tn::ComMessage> com;
};
Heard Hear(tn::Codec& server, const Bytes& wire) {
    Heard h;
    server.Decode(wire.data(), wire.size(), h.data);
    for (const tn::SubNeg& s : server.TakeSubNegs())
        if (auto m = tn::ReadComPort(s)) h.com.push_back(*m);
    return h;
}

PortMap MapCom1(const std::string& url) {
    PortMap m;
    EXPECT_TRUE(m.AddMapping("COM1:=" + url));
    return m;
}

TEST(NetUrl, Forms) {
    struct Row {
        std::string text;
        bool ok;
        std::string url;  // as kept when good; a part of the reason when not
    };
    const std::vector<Row> rows = {
        {"tcp://10.0.0.5:4001", true, "tcp://10.0.0.5:4001"},
        {"RFC2217://server.local:4001", true, "rfc2217://server.local:4001"},
        {"rfc2217://[::1]:7000", true, "rfc2217://[::1]:7000"},
        {"rfc2217://[fe80::1%eth0]:7000", false, "IPv6"},
        {"tcp://::1:4001", false, "в скобках"},
        {"tcp://host", false, "нужен порт"},
        {"tcp://host:", false, "65535"},
        {"tcp://host:0", false, "65535"},
        {"tcp://host:65536", false, "65535"},
        {"tcp://host:40x", false, "65535"},
        {"tcp://:4001", false, "имя или адрес"},
        {"telnet://host:23", false, "неизвестная схема"},
        {"tcp://[::1]4001", false, "нужен порт"},
        {"tcp://[::1:4001", false, "скобки"},
    };
    for (const Row& r : rows) {
        std::string why;
        const auto t = ParseNetTarget(r.text, &why);
        EXPECT_EQ(t.has_value(), r.ok) << r.text;
        if (t) {
            EXPECT_EQ(t->Url(), r.url) << r.text;
        } else {
            EXPECT_NE(why.find(r.url), std::string::npos) << r.text << ": " << why;
        }
    }
}

TEST(NetUrl, MappingsAndTable) {
    PortMap m;
    std::string why;
    EXPECT_FALSE(m.AddMapping("COM2:=tcp://host", &why));
    EXPECT_NE(why.find("нужен порт"), std::string::npos) << why;
    EXPECT_FALSE(m.Mapped("COM2:"));
    ASSERT_TRUE(m.AddMapping("com1=RFC2217://10.0.0.5:4001", &why)) << why;
    ASSERT_TRUE(m.AddMapping("COM3:=/dev/ttyUSB0", &why)) << why;
    const auto table = m.Table({});
    EXPECT_EQ(table[0].description, "COM1: — rfc2217://10.0.0.5:4001");
    EXPECT_EQ(m.Win32Table({})[0].description, "COM1: — rfc2217://10.0.0.5:4001");
    EXPECT_EQ(m.Win32OpenName("COM1:"), "rfc2217://10.0.0.5:4001");
}

TEST(NetPort, OpenFailuresShowTheBoxWithAReason) {
    Listener closed;
    const std::string refusedUrl = closed.Url("tcp");
    closed.Close();
    struct Row {
        std::string url;
        std::string reason;
    };
    const std::vector<Row> rows = {
        {refusedUrl, "отверг соединение"},
        {"rfc2217://no-such-host.invalid:4001", "не найдено"},
    };
    for (const Row& r : rows) {
        ScriptedDialogs dialogs;
        std::vector<std::string> notices;
        NetSerialPort port(dialogs, MapCom1(r.url),
                           [&](const std::string&, const std::string& t) { notices.push_back(t); });
        EXPECT_FALSE(port.OpenPort("COM1:", "19200,n,8,1")) << r.url;
        ASSERT_EQ(dialogs.Texts().size(), 1u) << r.url;
        EXPECT_EQ(dialogs.Texts()[0], "Com Port COM1: недоступен. Установите нужный порт.");
        EXPECT_NE(port.OpenError().find(r.reason), std::string::npos) << port.OpenError();
        EXPECT_EQ(notices.size(), 1u);
        EXPECT_EQ(port.ReadPort(), Bytes{});
        EXPECT_EQ(port.WritePort({1, 2, 3}), 0);
    }
}

TEST(NetPort, ConnectionNeitherMadeNorRefusedIsGivenUp) {
    // A server whose queue of connections is full drops new ones unanswered,
    // as a host behind a dead link does.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 0), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(f);
    }
    std::this_thread::sleep_for(100ms);
    ScriptedDialogs dialogs;
    NetSerialPort port(dialogs, MapCom1("tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port))),
                       {}, {300ms, 300ms});
    EXPECT_FALSE(port.OpenPort("COM1:", "19200,n,8,1"));
    EXPECT_NE(port.OpenError().find("не ответил за 1 с"), std::string::npos) << port.OpenError();
    EXPECT_EQ(dialogs.Texts().size(), 1u);
    for (const int f : fillers) ::close(f);
    ::close(fd);
}

TEST(NetPort, RawTcpMovesEveryByteAndEndsReadsAtAGap) {
    Listener server;
    ScriptedDialogs dialogs;
    NetSerialPort port(dialogs, MapCom1(server.Url("tcp")));
    ASSERT_TRUE(port.OpenPort("COM1:", "19200,n,8,1")) << port.OpenError();
    const int peer = server.Accept();
    EXPECT_EQ(port.NetworkTarget(), server.Url("tcp"));
    EXPECT_EQ(port.LineNotice(), "");

    const Bytes survey{0x31, 0xFF, 0xDC};
    EXPECT_EQ(port.WritePort(survey), 3);
    EXPECT_EQ(ReadUntilQuiet(peer), survey);

    // Two bursts with a gap: the read ends after the first.
    std::thread t([&] {
        WriteAll(peer, {0xFF, 0x01});
        std::this_thread::sleep_for(80ms);
        WriteAll(peer, {0x02});
    });
    EXPECT_EQ(port.ReadPort(), (Bytes{0xFF, 0x01}));
    t.join();
    EXPECT_EQ(port.ReadPort(), Bytes{0x02});
    ::close(peer);
}

TEST(NetPort, FullReadDropsTheBacklogAndPurgesTheServer) {
    Listener server;
    ScriptedDialogs dialogs;
    NetSerialPort port(dialogs, MapCom1(server.Url("rfc2217")), {}, {5000ms, 300ms});
    std::thread s([&] {
        const int peer = server.Accept();
        tn::Codec codec({tn::kComPort, tn::kBinary}, {tn::kComPort, tn::kBinary});
        Heard h = Hear(codec, ReadUntilQuiet(peer));  // WILL COM-PORT and the rest
        WriteAll(peer, codec.TakeReplies());
        h = Hear(codec, ReadUntilQuiet(peer));
        Bytes acks;
        for (const tn::ComMessage& m : h.com) {
            const Bytes a = tn::ComPortMessage(
                static_cast<std::uint8_t>(m.command + tn::kServerOffset), m.value);
            acks.insert(acks.end(), a.begin(), a.end());
        }
        WriteAll(peer, acks);
        WriteAll(peer, tn::Escape(Bytes(600, 0xFF)));
        h = Hear(codec, ReadUntilQuiet(peer, 500ms));
        ASSERT_EQ(h.com.size(), 1u);
        EXPECT_EQ(h.com[0].command, static_cast<std::uint8_t>(tn::ComCommand::PurgeData));
        EXPECT_EQ(h.com[0].value, Bytes{tn::kPurgeReceive});
        ::close(peer);
    });
    ASSERT_TRUE(port.OpenPort("COM1:", "19200,n,8,1")) << port.OpenError();
    EXPECT_EQ(port.LineNotice(), "");
    std::this_thread::sleep_for(100ms);  // the whole burst is on its way
    EXPECT_EQ(port.ReadPort(), Bytes(255, 0xFF));
    EXPECT_EQ(port.DiscardedBytes(), 600u - 255u);
    s.join();
}

// A scripted server for the line set-up: `answer` decides what it sends
// back to the settings.
void RunSetup(Listener& server, const std::function<Bytes(const tn::ComMessage&)>& answer,
              Bytes* dataSeen) {
    const int peer = server.Accept();
    tn::Codec codec({tn::kComPort, tn::kBinary}, {tn::kComPort, tn::kBinary});
    Hear(codec, ReadUntilQuiet(peer));
    WriteAll(peer, codec.TakeReplies());
    Heard h = Hear(codec, ReadUntilQuiet(peer));
    Bytes out;
    for (const tn::ComMessage& m : h.com) {
        const Bytes a = answer(m);
        out.insert(out.end(), a.begin(), a.end());
    }
    if (!out.empty()) WriteAll(peer, out);
    h = Hear(codec, ReadUntilQuiet(peer, 600ms));
    if (dataSeen != nullptr) *dataSeen = h.data;
    ::close(peer);
}

TEST(NetPort, LineSetupOutcomes) {
    const auto echo = [](const tn::ComMessage& m) {
        return tn::ComPortMessage(static_cast<std::uint8_t>(m.command + tn::kServerOffset),
                                  m.value);
    };
    const auto silent = [](const tn::ComMessage&) { return Bytes{}; };
    const auto slowBaud = [&](const tn::ComMessage& m) {
        return m.command == 1 ? tn::ComPortBaud(9600, true) : echo(m);
    };
    struct Row {
        const char* what;
        std::function<Bytes(const tn::ComMessage&)> answer;
        bool opens;
        std::string notice;  // a part of LineNotice()
        std::string box;
    };
    const std::vector<Row> rows = {
        {"acknowledged", echo, true, "", ""},
        {"never acknowledged", silent, true, "не подтвердил настройки линии", ""},
        {"other baud", slowBaud, false, "", "Unable to set Comm DCB 19200,n,8,1 Error: 22"},
    };
    for (const Row& r : rows) {
        Listener server;
        ScriptedDialogs dialogs;
        std::vector<std::string> notices;
        NetSerialPort port(dialogs, MapCom1(server.Url("rfc2217")),
                           [&](const std::string&, const std::string& t) { notices.push_back(t); },
                           {5000ms, 200ms});
        Bytes seen;
        std::thread s([&] { RunSetup(server, r.answer, &seen); });
        const bool opened = port.OpenPort("COM1:", "19200,n,8,1");
        EXPECT_EQ(opened, r.opens) << r.what;
        if (opened) {
            if (r.notice.empty()) {
                EXPECT_EQ(port.LineNotice(), "") << r.what;
                EXPECT_TRUE(notices.empty()) << r.what;
            } else {
                EXPECT_NE(port.LineNotice().find(r.notice), std::string::npos) << r.what;
                EXPECT_EQ(notices.size(), 1u) << r.what;
            }
            // 0xFF is doubled on the wire and arrives as one byte.
            EXPECT_EQ(port.WritePort({0x31, 0xFF, 0xDC}), 3) << r.what;
        } else {
            ASSERT_EQ(dialogs.Texts().size(), 1u) << r.what;
            EXPECT_EQ(dialogs.Texts()[0], r.box);
            EXPECT_NE(port.OpenError().find("9600 вместо 19200"), std::string::npos)
                << port.OpenError();
        }
        s.join();
        if (opened) {
            EXPECT_EQ(seen, (Bytes{0x31, 0xFF, 0xDC})) << r.what;
        }
    }
}

TEST(NetPort, DroppedConnectionShortWritesAndNoWaiting) {
    Listener server;
    ScriptedDialogs dialogs;
    NetSerialPort port(dialogs, MapCom1(server.Url("tcp")));
    ASSERT_TRUE(port.OpenPort("COM1:", "19200,n,8,1"));
    const int peer = server.Accept();
    WriteAll(peer, {0x01, 0x02});
    ::close(peer);  // mid-frame
    EXPECT_EQ(port.ReadPort(), (Bytes{0x01, 0x02}));
    EXPECT_EQ(port.ReadPort(), Bytes{});
    // Once the other end is known gone, the answer timer must not wait on it
    // (it would be woken at once, again and again) and writes come up short.
    WakeSignal wake;
    EXPECT_EQ(port.WaitReadable(10s, wake), std::optional<bool>(false));
    int shortWrites = 0;
    for (int i = 0; i < 4; ++i) shortWrites += port.WritePort({1, 2, 3, 4}) < 4 ? 1 : 0;
    EXPECT_EQ(shortWrites, 4);
}

TEST(NetPort, WaitReadableSeesDataAndWakes) {
    Listener server;
    ScriptedDialogs dialogs;
    NetSerialPort port(dialogs, MapCom1(server.Url("tcp")));
    ASSERT_TRUE(port.OpenPort("COM1:", "19200,n,8,1"));
    const int peer = server.Accept();
    WakeSignal wake;
    std::thread raiser([&] {
        std::this_thread::sleep_for(50ms);
        wake.Raise();
    });
    EXPECT_EQ(port.WaitReadable(60s, wake), std::optional<bool>(false));
    raiser.join();
    wake.Clear();
    WriteAll(peer, {0x7E});
    EXPECT_EQ(port.WaitReadable(60s, wake), std::optional<bool>(true));
    EXPECT_EQ(port.ReadPort(), Bytes{0x7E});
    ::close(peer);
}

}  // namespace
}  // namespace busdesk
