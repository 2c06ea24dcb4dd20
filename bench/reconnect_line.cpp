// busdesk_reconnect_line: how soon a line that comes back is polled again, and
// what waiting for it costs. The engine as the window runs it, with
// --reconnect, on the system port behind a link to the simulated bus on a
// pty; the bus is killed, the port closes by its write failures, and the bus
// is started again on a fresh pty behind the same link. Not a test: run it by
// hand.
//
//   busdesk_reconnect_line [ROUNDS] [WAIT_SECONDS]
//
// Prints, per round, the seconds from the kill to the port closing, the CPU
// of the whole process while the line was away, and the seconds from the
// bus's return to its first request; then the median and the largest return.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "link/posix_port.h"
#include "sim/sim_bus.h"

namespace {

using namespace busdesk;
using Clock = std::chrono::steady_clock;

class Watch : public engine::FrontEnd {
  public:
    engine::Engine* engine = nullptr;
    std::atomic<bool> open{false};
    std::atomic<bool> waiting{false};

    void Publish(engine::Snapshot s) override {
        for (const Control& c : *s.controls)
            if (c.name == "TMRComm") open = c.enabled;
        waiting = !s.waitingFor.empty();
    }
    void ShowBox(std::uint64_t id, const engine::BoxRequest& r) override {
        engine->Answer(id, engine::ClosedResult(r));
    }
};

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

template <typename Pred>
bool Until(Pred pred, double limit) {
    const auto t0 = Clock::now();
    while (!pred()) {
        if (Since(t0) > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
    const double away = argc > 2 ? std::atof(argv[2]) : 5.0;
    const std::filesystem::path link = std::filesystem::temp_directory_path() /
                                       ("busdesk-reconnect-" + std::to_string(::getpid()));
    std::filesystem::remove(link);
    auto bus = std::make_unique<sim::SimulatedBus>();
    std::filesystem::create_symlink(bus->Start(), link);
    PortMap ports;
    if (!ports.Map("COM1:", link.string())) return 2;

    Watch front;
    engine::Engine::Options options;
    options.reconnect = true;
    PosixPortOptions quiet;
    quiet.notice = [](const std::string&, const std::string&) {};  // the reason every try
    engine::Engine e([&](Dialogs& d) { return std::make_unique<PosixSerialPort>(d, ports, quiet); },
                     front, options);
    front.engine = &e;
    e.Start();
    e.PostClick("BTNOpenCom");
    if (!Until([&] { return front.open.load(); }, 10)) return 1;

    std::mt19937 random(12345);
    std::uniform_real_distribution<double> phase(0.0, 2.0);
    std::vector<double> returns;
    std::printf("round close_s away_cpu_percent return_s\n");
    for (int i = 0; i < rounds; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        bus->Stop();
        bus.reset();
        std::filesystem::remove(link);
        const auto killed = Clock::now();
        if (!Until([&] { return !front.open && front.waiting; }, 10)) return 1;
        const double close = Since(killed);
        // Away for a while, back at any point of the 2 s between two tries.
        const double cpu0 = CpuSeconds();
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(away + phase(random)));
        const double cpu = 100.0 * (CpuSeconds() - cpu0) / Since(t0);
        bus = std::make_unique<sim::SimulatedBus>();
        const std::string path = bus->Start();
        std::filesystem::create_symlink(path, link);
        const auto back = Clock::now();
        if (!Until([&] { return front.open && bus->Stats().requests > 0; }, 10)) return 1;
        returns.push_back(Since(back));
        std::printf("%d %.3f %.4f %.3f\n", i + 1, close, cpu, returns.back());
        std::fflush(stdout);
    }
    e.Stop();
    bus->Stop();
    std::filesystem::remove(link);
    std::sort(returns.begin(), returns.end());
    std::printf("return_s median %.3f max %.3f\n", returns[returns.size() / 2], returns.back());
    return 0;
}
