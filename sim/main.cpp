// busdesk-sim: a bus of devices behind a pseudo-terminal, for trying the tool
// without hardware.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cmdline/parser.h"
#include "sim/bus_config.h"
#include "sim/console.h"
#include "sim/net_bridge.h"
#include "sim/sim_bus.h"

namespace {

volatile sig_atomic_t g_quit = 0;

void OnSignal(int) {
    g_quit = 1;
}

bool LoadConfig(const busdesk::sim::Options& o, busdesk::sim::BusConfig& config) {
    std::string text;
    if (o.busFile) {
        std::ifstream in(*o.busFile);
        if (!in) {
            std::cerr << "busdesk-sim: не читается файл " << *o.busFile << '\n';
            return false;
        }
        std::ostringstream s;
        s << in.rdbuf();
        text = s.str();
    } else if (o.busText) {
        text = *o.busText;
    } else {
        config = busdesk::sim::DefaultBusConfig();
        config.drift = o.drift;
        return true;
    }
    std::string error;
    auto parsed = busdesk::sim::ParseBusConfig(text, error);
    if (!parsed) {
        std::cerr << "busdesk-sim: " << error << '\n';
        return false;
    }
    config = *parsed;
    if (!o.drift) config.drift = false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace busdesk::sim;
    using Clock = std::chrono::steady_clock;

    std::string error;
    const auto options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << busdesk::cmdline::MistakeText("busdesk-sim", error);
        return 2;
    }
    if (options->help) {
        std::cout << kUsage;
        return 0;
    }
    if (options->version) {
        std::cout << VersionText();
        return 0;
    }
    BusConfig config;
    if (!LoadConfig(*options, config)) return 2;
    if (!options->pace) config.byteTimeUs = 0;

    SimulatedBus bus(config);
    if (options->verbose) {
        bus.SetTrafficLog([](const std::string& line) { std::cerr << line << std::endl; });
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const std::string path = bus.Start();
    if (path.empty()) {
        std::cerr << "busdesk-sim: " << bus.Error() << '\n';
        return 1;
    }
    std::cout << path << std::endl;
    NetBridge bridge;
    if (options->tcpPort) {
        BridgeOptions b;
        b.telnet = options->telnet;
        b.address = options->bindAddress;
        b.port = static_cast<std::uint16_t>(*options->tcpPort);
        std::string why;
        if (!bridge.Start(b, path, why)) {
            std::cerr << "busdesk-sim: " << why << '\n';
            bus.Stop();
            return 1;
        }
        std::cout << bridge.Url() << std::endl;
    }

    std::vector<TimedCommand> pending = options->commands;
    std::stable_sort(
        pending.begin(), pending.end(),
        [](const TimedCommand& a, const TimedCommand& b) { return a.seconds < b.seconds; });
    const Clock::time_point start = Clock::now();
    bool stdinOpen = true;
    ConsoleLines console;
    const auto run = [&bus](const std::string& command) {
        bool ok = true;
        const std::string reply = RunCommand(bus, command, ok);
        if (!reply.empty()) (ok ? std::cout : std::cerr) << reply << std::endl;
    };

    while (!g_quit && !bus.LineDropped()) {
        const double now = std::chrono::duration<double>(Clock::now() - start).count();
        while (!pending.empty() && pending.front().seconds <= now) {
            run(pending.front().command);
            pending.erase(pending.begin());
        }
        if (bus.LineDropped()) break;
        // Wake for the next timed command, and now and then to notice a line
        // dropped by a command; stdin input wakes at once.
        int timeout = 200;
        if (!pending.empty()) {
            // Clamped while still a double: a far time must not overflow an int.
            const double wait = (pending.front().seconds - now) * 1000.0 + 1.0;
            timeout = static_cast<int>(std::clamp(wait, 0.0, static_cast<double>(timeout)));
        }
        pollfd fd{stdinOpen ? STDIN_FILENO : -1, POLLIN, 0};
        const int ready = poll(&fd, 1, timeout);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR))) {
            char buf[512];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                stdinOpen = false;  // keep serving without a console
                continue;
            }
            const std::size_t dropped = console.Dropped();
            for (const std::string& line :
                 console.Add(std::string_view(buf, static_cast<std::size_t>(n)))) {
                if (line == "quit" || line == "exit") {
                    g_quit = 1;
                    break;
                }
                run(line);
            }
            if (console.Dropped() != dropped)
                std::cerr << "busdesk-sim: слишком длинная строка команды пропущена" << std::endl;
        }
    }
    if (bus.LineDropped()) std::cerr << "busdesk-sim: линия оборвана, выход" << std::endl;
    bridge.Stop();
    bus.Stop();
    return 0;
}
