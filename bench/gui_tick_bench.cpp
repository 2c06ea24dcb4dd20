// What one tick of the demo bus costs the window's GUI thread: its CPU time
// (the thread's own clock) over a run of ticks after a survey, and how many
// paint events the tick leaves, in total and for the widgets that used to
// repaint on every tick. Runs offscreen unless QT_QPA_PLATFORM says otherwise
// (under Xvfb: QT_QPA_PLATFORM=xcb DISPLAY=:n). Under
// `valgrind --tool=callgrind --collect-atstart=no` only the measured ticks
// are profiled. Beside it, in the same run, a plain Qt window changing a few
// widgets a tick: the floor Qt sets on this machine.
#include <benchmark/benchmark.h>
#include <time.h>
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/port_setup.h"
#include "link/port_names.h"
#include "snapshot_wait.h"
#include "ui/lamp.h"
#include "ui/main_window.h"
#include "ui/status_bar.h"

namespace {

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Counts paint events by what was painted.
class PaintCounter : public QObject {
  public:
    int total = 0;
    int statusBar = 0;  // the bar or its line
    int lamp = 0;
    int frames = 0;
    int cmdBox = 0;
    std::map<std::string, int> byName;  // class:objectName

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint) return false;
        ++total;
        QWidget* w = qobject_cast<QWidget*>(watched);
        if (w == nullptr) return false;
        ++byName[std::string(w->metaObject()->className()) + ":" + w->objectName().toStdString()];
        if (qobject_cast<busdesk::ui::StatusBar*>(w) != nullptr ||
            qobject_cast<busdesk::ui::StatusBar*>(w->parentWidget()) != nullptr)
            ++statusBar;
        else if (qobject_cast<busdesk::ui::Lamp*>(w) != nullptr)
            ++lamp;
        else if (qobject_cast<QGroupBox*>(w) != nullptr)
            ++frames;
        else if (w->objectName() == QStringLiteral("CmdBoxText") ||
                 (w->parentWidget() != nullptr &&
                  w->parentWidget()->objectName() == QStringLiteral("CmdBoxText")))
            ++cmdBox;
        return false;
    }
};

void BM_GuiThreadPerDemoTick(benchmark::State& state) {
    const int ticks = static_cast<int>(state.range(0));
    for (auto _ : state) {
        busdesk::engine::PortSetup setup{busdesk::PortMap{}};
        if (!setup.StartDemo()) {
            state.SkipWithError("the demo bus did not start");
            return;
        }
        busdesk::ui::MainWindow window(setup.Factory(), setup.EngineOptions());
        busdesk::bench::SnapshotWait await(window);
        window.show();
        window.activateWindow();
        await(1, 5000);
        auto* open = qobject_cast<QAbstractButton*>(window.ControlWidget("BTNOpenCom"));
        open->click();
        await(2, 5000);
        if (!window.ControlWidget("BTNCloseCom")->isEnabled()) {
            state.SkipWithError("the port did not open");
            return;
        }
        qobject_cast<QAbstractButton*>(window.ControlWidget("Opros"))->click();
        auto* net = qobject_cast<QComboBox*>(window.ControlWidget("CmbNet"));
        for (int i = 0; i < 40 && net->count() < 3; ++i) await(1, 5000);
        await(4, 10000);  // the selected reader answers, its fields filled

        PaintCounter paints;
        qApp->installEventFilter(&paints);
        const int start = await.Published();
        const double cpu0 = ThreadCpuMs();
        // Under callgrind --collect-atstart=no: the measured ticks alone.
        CALLGRIND_TOGGLE_COLLECT;
        await(ticks, ticks * 1000 + 5000);
        CALLGRIND_TOGGLE_COLLECT;
        const double cpu = ThreadCpuMs() - cpu0;
        qApp->removeEventFilter(&paints);
        const double n = std::max(1, await.Published() - start);
        // Which widgets painted, for a closer look: BUSDESK_BENCH_PAINTS=1.
        if (std::getenv("BUSDESK_BENCH_PAINTS") != nullptr) {
            for (const auto& [name, count] : paints.byName)
                std::fprintf(stderr, "%6d %s\n", count, name.c_str());
        }

        state.counters["ticks"] = n;
        state.counters["gui_cpu_ms_per_tick"] = cpu / n;
        state.counters["paints_per_tick"] = paints.total / n;
        state.counters["status_paints_per_tick"] = paints.statusBar / n;
        state.counters["lamp_paints_per_tick"] = paints.lamp / n;
        state.counters["frame_paints_per_tick"] = paints.frames / n;
        state.counters["cmdbox_paints_per_tick"] = paints.cmdBox / n;
    }
}
BENCHMARK(BM_GuiThreadPerDemoTick)->Arg(40)->Iterations(1)->Unit(benchmark::kMillisecond);

// The yardstick: a plain Qt window written with care (fixed sizes, a
// read-only box) whose few widgets change as the demo tick changes the
// window's: five values, the command box's text, the progress bar, and a
// status line every other tick. What Qt itself costs a tick on this machine.
void BM_PlainQtWindowPerTick(benchmark::State& state) {
    const int ticks = static_cast<int>(state.range(0));
    for (auto _ : state) {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        std::vector<QLabel*> values;
        for (int i = 0; i < 5; ++i) {
            values.push_back(new QLabel(QStringLiteral("0"), &window));
            values.back()->setFixedSize(120, 20);
            layout->addWidget(values.back());
        }
        auto* box = new QLineEdit(&window);
        box->setReadOnly(true);
        box->setFixedSize(180, 22);
        layout->addWidget(box);
        auto* bar = new QProgressBar(&window);
        bar->setFixedSize(330, 16);
        layout->addWidget(bar);
        auto* status = new QLabel(&window);
        status->setFixedSize(500, 20);
        layout->addWidget(status);
        window.resize(530, 470);
        window.show();

        const int warmUp = 4;
        int tick = 0;
        double cpu0 = 0;
        double cpu = 0;
        QTimer timer;
        timer.setInterval(500);
        QEventLoop loop;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            ++tick;
            if (tick == warmUp) cpu0 = ThreadCpuMs();
            for (int i = 0; i < 5; ++i)
                values[static_cast<std::size_t>(i)]->setText(
                    QString::number(40000 + tick * 37 + i));
            box->setText(tick % 2 != 0 ? QStringLiteral("31_1_E0_7A_7A_7A_7A_25_")
                                       : QStringLiteral("31_1_E0_55_12_00_01_"));
            bar->setValue(tick % 100);
            if (tick % 2 == 0)
                status->setText(
                    QStringLiteral("Запросов %1 · ответов %2 · CRC 0").arg(tick).arg(tick - 1));
            if (tick == warmUp + ticks) {
                cpu = ThreadCpuMs() - cpu0;
                loop.quit();
            }
        });
        timer.start();
        loop.exec();
        state.counters["ticks"] = ticks;
        state.counters["gui_cpu_ms_per_tick"] = cpu / ticks;
    }
}
BENCHMARK(BM_PlainQtWindowPerTick)->Arg(40)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
