// busdesk_net_line: response time and request period of the reader poll on
// the simulated bus, on its pseudo-terminal and through network servers in
// front of it (ser2net raw and telnet, the simulator's own telnet server), all
// on loopback. Not a test: run it by hand.
//
//   busdesk_net_line [REQUESTS]    default 120 requests a line, one each 500 ms
//
// The request goes out at the window's pace (a timer of 500 ms that does not
// drift); the response time is from the end of the write to the first byte,
// as the line counters take it; the period is between two writes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/net_port.h"
#include "link/posix_port.h"
#include "protocol/commands.h"
#include "protocol/crc.h"
#include "sim/net_bridge.h"
#include "sim/sim_bus.h"

namespace {

using namespace busdesk;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

class NoBoxes : public Dialogs {
  public:
    MsgResult MsgBox(const std::string& text, MsgButtons, MsgIcon, const std::string&) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
        return MsgResult::Ok;
    }
    std::string InputBox(const std::string&, const std::string&, const std::string& d) override {
        return d;
    }
};

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

pid_t StartSer2net(const std::string& pty, const std::string& accepter, int port,
                   const fs::path& dir, bool charDelay) {
    const fs::path config = dir / (std::to_string(port) + ".yaml");
    std::ofstream(config) << "%YAML 1.1\n---\nconnection: &bus\n  accepter: " << accepter
                          << ",127.0.0.1," << port << "\n  connector: serialdev," << pty
                          << ",19200n81,local\n";
    // ser2net holds what the line sent until it has been quiet for a few
    // character times; without that, what is left is the network path.
    if (!charDelay) std::ofstream(config, std::ios::app) << "  options:\n    chardelay: false\n";
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/usr/sbin/ser2net", "ser2net", "-n", "-u", "-c", config.c_str(), nullptr);
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return pid;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void Measure(const char* what, SerialPort& port, int requests) {
    if (!port.OpenPort("COM1:", proto::kLineSettings)) {
        std::printf("%-22s could not open: %s\n", what, port.OpenError().c_str());
        return;
    }
    Bytes poll{proto::kRequestStart, 0x01, proto::kReaderData};
    poll.push_back(Crc8(poll));
    std::vector<double> response, period;
    int unanswered = 0;
    auto next = Clock::now() + std::chrono::milliseconds(100);
    Clock::time_point lastWrite{};
    for (int i = 0; i < requests; ++i) {
        std::this_thread::sleep_until(next);
        next += std::chrono::milliseconds(500);
        const auto start = Clock::now();
        if (lastWrite != Clock::time_point{})
            period.push_back(std::chrono::duration<double, std::milli>(start - lastWrite).count());
        lastWrite = start;
        port.WritePort(poll);
        const auto written = Clock::now();
        const std::optional<bool> ready = port.WaitReadable(std::chrono::milliseconds(1000));
        const auto first = Clock::now();
        if (ready.value_or(false))
            response.push_back(std::chrono::duration<double, std::milli>(first - written).count());
        else
            ++unanswered;
        port.ReadPort();
    }
    port.ClosePort();
    double worst = 0;
    for (const double p : period) worst = std::max(worst, std::fabs(p - 500.0));
    std::vector<double> deviation;
    for (const double p : period) deviation.push_back(std::fabs(p - 500.0));
    std::printf(
        "%-22s response ms: median %6.2f p99 %6.2f | period ms: median %7.2f, |dev| p99 %5.2f "
        "max %5.2f | unanswered %d\n",
        what, Percentile(response, 0.5), Percentile(response, 0.99), Percentile(period, 0.5),
        Percentile(deviation, 0.99), worst, unanswered);
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    const int requests = argc > 1 ? std::max(2, std::atoi(argv[1])) : 120;
    sim::BusConfig config = sim::DefaultBusConfig();
    config.drift = false;
    sim::SimulatedBus bus(config);
    const std::string pty = bus.Start();
    if (pty.empty()) {
        std::fprintf(stderr, "no bus: %s\n", bus.Error().c_str());
        return 1;
    }
    const fs::path dir =
        fs::temp_directory_path() / ("busdesk-net-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    NoBoxes dialogs;

    {
        PortMap m;
        m.Map("COM1:", pty);
        PosixSerialPort port(dialogs, m);
        Measure("pty", port, requests);
    }
    const bool haveSer2net = access("/usr/sbin/ser2net", X_OK) == 0;
    if (!haveSer2net) std::printf("ser2net is not installed: its lines are left out\n");
    for (const std::string variant : {"tcp", "rfc2217", "tcp chardelay off"}) {
        if (!haveSer2net) break;
        const int p = FreePort();
        const std::string kind = variant.substr(0, variant.find(' '));
        const pid_t pid = StartSer2net(pty, kind == "tcp" ? "tcp" : "telnet(rfc2217),tcp", p, dir,
                                       variant == kind);
        PortMap m;
        m.AddMapping("COM1:=" + kind + "://127.0.0.1:" + std::to_string(p));
        {
            NetSerialPort port(dialogs, m);
            Measure(("ser2net " + variant).c_str(), port, requests);
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    {
        sim::NetBridge bridge;
        sim::BridgeOptions b;
        b.telnet = true;
        std::string error;
        if (bridge.Start(b, pty, error)) {
            PortMap m;
            m.AddMapping("COM1:=" + bridge.Url());
            NetSerialPort port(dialogs, m);
            Measure("busdesk-sim rfc2217", port, requests);
        }
    }
    bus.Stop();
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
