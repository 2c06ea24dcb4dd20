// How long the window's event loop stalls while the engine polls a port on
// which nothing answers, so every read waits out its full time-out.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>

#include "engine/port_setup.h"
#include "link/port_names.h"
#include "snapshot_wait.h"
#include "ui/main_window.h"

namespace {

// The master side of a pseudo-terminal that nobody reads or answers on.
class SilentLine {
  public:
    SilentLine() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            if (const char* name = ptsname(master_)) path_ = name;
        }
    }
    ~SilentLine() {
        if (master_ >= 0) close(master_);
    }
    SilentLine(const SilentLine&) = delete;
    SilentLine& operator=(const SilentLine&) = delete;
    const std::string& Path() const { return path_; }

  private:
    int master_ = -1;
    std::string path_;
};

void BM_GuiStallOnSilentPort(benchmark::State& state) {
    constexpr int kTicks = 20;
    for (auto _ : state) {
        SilentLine line;
        if (line.Path().empty()) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        busdesk::PortMap ports;
        ports.Map("COM1:", line.Path());
        busdesk::ui::MainWindow window(busdesk::engine::PortSetup(ports).Factory());
        busdesk::bench::SnapshotWait await(window);
        window.show();
        await(1, 5000);
        if (await.Published() == 0) {
            state.SkipWithError("the engine published nothing");
            return;
        }
        auto* open = qobject_cast<QAbstractButton*>(window.ControlWidget("BTNOpenCom"));
        auto* close = window.ControlWidget("BTNCloseCom");
        open->click();
        await(1, 5000);
        if (!close->isEnabled()) {
            state.SkipWithError("the port did not open");
            return;
        }

        // A 1 ms timer on the GUI thread: the longest gap between its firings
        // is the longest time the event loop could not run.
        qint64 longest = 0;
        QElapsedTimer sinceLast;
        sinceLast.start();
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longest = std::max(longest, sinceLast.nsecsElapsed());
            sinceLast.restart();
        });
        probe.start(1);
        const int start = await.Published();
        QElapsedTimer total;
        total.start();
        await(kTicks, 60000);
        probe.stop();

        state.counters["ticks"] = static_cast<double>(await.Published() - start);
        state.counters["max_stall_ms"] = static_cast<double>(longest) / 1e6;
        state.counters["run_s"] = static_cast<double>(total.elapsed()) / 1e3;
    }
}
BENCHMARK(BM_GuiStallOnSilentPort)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
