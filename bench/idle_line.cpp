// busdesk_idle_line: the engine as the window runs it, with the port open and
// ticking, for a fixed time; prints the whole process's CPU time over it.
// Not a test: run it by hand or from idle_cpu.py, which sets it beside a
// serial terminal on the same kind of line.
//
//   busdesk_idle_line PATH SECONDS   the system port on PATH (a silent pty)
//   busdesk_idle_line --demo SECONDS the in-process demo bus
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "engine/engine.h"
#include "link/posix_port.h"
#include "sim/inprocess_port.h"

namespace {

using namespace busdesk;

// Answers every box as closed, from the main thread.
class Quiet : public engine::FrontEnd {
  public:
    void Publish(engine::Snapshot) override {}
    void ShowBox(std::uint64_t id, const engine::BoxRequest& r) override {
        std::lock_guard lock(mu_);
        boxes_.emplace_back(id, engine::ClosedResult(r));
    }
    void AnswerBoxes(engine::Engine& e) {
        std::deque<std::pair<std::uint64_t, MsgResult>> boxes;
        {
            std::lock_guard lock(mu_);
            boxes.swap(boxes_);
        }
        for (const auto& [id, result] : boxes) e.Answer(id, result);
    }

  private:
    std::mutex mu_;
    std::deque<std::pair<std::uint64_t, MsgResult>> boxes_;
};

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PATH|--demo SECONDS\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const int seconds = std::atoi(argv[2]);
    const bool demo = path == "--demo";
    sim::InProcessBus bus;
    PortMap ports;
    if (!demo && !ports.Map("COM1:", path)) return 2;
    Quiet front;
    engine::Engine e(
        [&](Dialogs& d) -> std::unique_ptr<SerialPort> {
            if (demo) return std::make_unique<sim::InProcessPort>(bus, d);
            return std::make_unique<PosixSerialPort>(d, ports);
        },
        front);
    e.Start();
    e.PostClick("BTNOpenCom");
    // Settle first: start-up is not idling.
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        front.AnswerBoxes(e);
    }
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < seconds; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        front.AnswerBoxes(e);
    }
    const double cpu = CpuSeconds() - cpu0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("cpu_s %.6f wall_s %.3f percent %.4f ms_per_tick %.4f\n", cpu, wall,
                100.0 * cpu / wall, 1000.0 * cpu / (wall * 2.0));
    e.Stop();
    return 0;
}
