// busdesk-cli over the network: in front of the simulated bus's pseudo-terminal
// sits either ser2net (raw TCP and telnet with the com-port control) or the
// simulator's own socket server; pyserial checks that server as a client that
// is not ours.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/net_bridge.h"
#include "sim/sim_bus.h"
#include "support/run_program.h"

namespace busdesk::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kSer2net = "/usr/sbin/ser2net";
constexpr const char* kPython = "/usr/bin/python3";


// A loopback port nobody listens on just now. ser2net binds it itself a
// moment later; a port taken in between makes its start fail, and the start
// is tried again with another.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

bool Listening(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// ser2net in front of `pty`, config in `dir`; `accepter` is "tcp" or
// "telnet(rfc2217),tcp".
class Ser2net {
  public:
    bool Start(const std::string& pty, const std::string& accepter, const fs::path& dir) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            port_ = FreePort();
            const fs::path config = dir / "ser2net.yaml";
            std::ofstream(config) << "%YAML 1.1\n---\n"
                                  << "connection: &bus\n"
                                  << "  accepter: " << accepter << ",127.0.0.1," << port_ << "\n"
                                  << "  connector: serialdev," << pty << ",19200n81,local\n"
                                  << "  options:\n    kickolduser: true\n";
            pid_ = fork();
            if (pid_ == 0) {
                const int null = open("/dev/null", O_WRONLY);
                dup2(null, 1);
                dup2(null, 2);
                // -u: no UUCP lock files, which need a system folder.
                execl(kSer2net, kSer2net, "-n", "-u", "-c", config.c_str(), nullptr);
                _exit(127);
            }
            for (int i = 0; i < 100; ++i) {
                if (Listening(port_)) return true;
                int status = 0;
                if (waitpid(pid_, &status, WNOHANG) == pid_) break;  // the port was taken
                std::this_thread::sleep_for(50ms);
            }
            Stop();
        }
        return false;
    }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    ~Ser2net() { Stop(); }
    int Port() const { return port_; }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

enum class Server { Ser2netRaw, Ser2netTelnet, SimTcp, SimTelnet };

struct Case {
    const char* what;
    Server server;
};

class NetLineTest : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("busdesk-net-" + std::to_string(getpid()) + "-" +
                                            std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(dir_);
        const Server server = GetParam().server;
        const bool viaSer2net = server == Server::Ser2netRaw || server == Server::Ser2netTelnet;
        if (viaSer2net && access(kSer2net, X_OK) != 0)
            GTEST_SKIP() << "ser2net is not installed (Debian package ser2net; scripts/deps.sh)";

        sim::BusConfig config = sim::DefaultBusConfig();
        config.drift = false;
        config.tags[0].id = 0x1AFF3CFF;  // 0xFF in the identifier, twice
        bus_ = std::make_unique<sim::SimulatedBus>(config);
        pty_ = bus_->Start();
        const std::string& pty = pty_;
        ASSERT_FALSE(pty.empty()) << bus_->Error();
        bus_->SetTrafficLog([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            traffic_.push_back(line);
        });
        if (viaSer2net) {
            const bool telnet = server == Server::Ser2netTelnet;
            ASSERT_TRUE(ser2net_.Start(pty, telnet ? "telnet(rfc2217),tcp" : "tcp", dir_));
            url_ = std::string(telnet ? "rfc2217" : "tcp") +
                   "://127.0.0.1:" + std::to_string(ser2net_.Port());
        } else {
            sim::BridgeOptions b;
            b.telnet = server == Server::SimTelnet;
            std::string error;
            ASSERT_TRUE(bridge_.Start(b, pty, error)) << error;
            url_ = bridge_.Url();
        }
    }
    void TearDown() override {
        ser2net_.Stop();
        bridge_.Stop();
        if (bus_) bus_->Stop();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    Result Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {BUSDESK_CLI_PATH, "--port", "COM1:=" + url_});
        return RunProgram(args, false);
    }
    // A real adapter's driver drops unread input at its last close; this
    // pseudo-terminal never has one (the bus holds it open), so an answer that
    // came after a command had exited would greet the next one. Dropped here
    // once the bus has had time to send it.
    void DropStaleInput() {
        std::this_thread::sleep_for(200ms);
        const int fd = open(pty_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        tcflush(fd, TCIFLUSH);
        close(fd);
    }
    bool Sent(const std::string& request) {
        std::lock_guard lock(mutex_);
        return std::find(traffic_.begin(), traffic_.end(), "rx " + request) != traffic_.end();
    }

    fs::path dir_;
    std::unique_ptr<sim::SimulatedBus> bus_;
    Ser2net ser2net_;
    sim::NetBridge bridge_;
    std::string url_;
    std::string pty_;
    std::mutex mutex_;
    std::vector<std::string> traffic_;
};

TEST_P(NetLineTest, TheBusWorksAsOnALocalLine) {
    struct Step {
        std::vector<std::string> args;
        std::string printed;  // a part of standard output
        std::string request;  // on the wire, as the bus logs it; empty: not checked
    };
    const std::vector<Step> steps = {
        {{"survey"}, "найдены адреса: 1 5 7", "survey"},
        {{"show", "1", "--count", "1"}, "получено показаний: 1", ""},
        {{"write-tag", "1", "1AFF3CFF", "--interval", "1000"}, "", ""},
        {{"read-tag", "1", "1aff3cff"}, "интервал 1000", "31 01 E3 1A FF 3C FF"},
        {{"set-address", "5", "8"}, "", "31 05 FB 08"},
    };
    for (const Step& s : steps) {
        const Result r = Cli(s.args);
        EXPECT_EQ(r.exit, 0) << s.args[0] << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(s.printed), std::string::npos) << s.args[0] << "\n" << r.out;
        if (!s.request.empty()) {
            EXPECT_TRUE(Sent(s.request)) << s.args[0] << ": " << s.request;
        }
        DropStaleInput();
    }
    // No telnet byte reached the bus as data, none of the bus's 0xFF was lost.
    EXPECT_EQ(bus_->Stats().badCrc, 0u);
    EXPECT_EQ(bus_->Stats().droppedBytes, 0u);
    EXPECT_EQ(bus_->Tags()[0].interval, 1000);
    EXPECT_EQ(bus_->Readers()[1].address, 8);
}

INSTANTIATE_TEST_SUITE_P(Servers, NetLineTest,
                         ::testing::Values(Case{"ser2net_raw", Server::Ser2netRaw},
                                           Case{"ser2net_rfc2217", Server::Ser2netTelnet},
                                           Case{"sim_tcp", Server::SimTcp},
                                           Case{"sim_rfc2217", Server::SimTelnet}),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.what; });

using SimServerTest = NetLineTest;

// pyserial's client negotiates the line its own way, waits for every
// answer and raises when one is missing or wrong.
TEST_P(SimServerTest, AnotherClientSetsTheLineUpAndTalksToTheBus) {
    if (system((std::string(kPython) + " -c 'import serial' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "pyserial is not installed (Debian package python3-serial; "
                        "scripts/deps.sh)";
    const fs::path script = dir_ / "client.py";
    std::ofstream(script) << "import sys, serial\n"
                             "s = serial.serial_for_url(sys.argv[1], baudrate=19200, timeout=1)\n"
                             "s.baudrate = 9600\n"
                             "s.baudrate = 19200\n"
                             "s.reset_input_buffer()\n"
                             "s.write(bytes([0x31, 0xFF, 0xDC]))\n"
                             "answer = s.read(64)\n"
                             "print(answer.hex())\n"
                             "s.close()\n";
    const Result r = RunProgram({kPython, script.string(), url_}, false);
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_FALSE(r.out.empty() || r.out == "\n") << r.err;
    EXPECT_TRUE(Sent("survey"));
    EXPECT_EQ(bus_->Stats().badCrc, 0u);
}

INSTANTIATE_TEST_SUITE_P(Servers, SimServerTest,
                         ::testing::Values(Case{"sim_rfc2217", Server::SimTelnet}),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.what; });

}  // namespace
}  // namespace busdesk::testing
