// The trend's costs: building the chart of a 60-minute window of three series
// and painting it with QPainter (what one tick costs the GUI thread while the
// trend window is open), and the memory two hours of readings take, in the
// store and in the process's resident set. Runs offscreen unless
// QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "engine/chart.h"
#include "engine/line_frames.h"
#include "engine/trend.h"
#include "protocol/crc.h"
#include "ui/trend_window.h"

namespace {

using busdesk::Bytes;
using namespace busdesk::engine;

constexpr TimeMs kT0 = 1'700'000'000'000;

Bytes WithCrc(Bytes b) {
    b.push_back(busdesk::Crc8(b));
    return b;
}

Bytes Reply(std::uint8_t addr, int i) {
    const auto level = static_cast<std::uint16_t>(500 + (i * 37) % 400);
    const auto temp = static_cast<std::uint8_t>(static_cast<std::int8_t>(20 - (i / 60) % 30));
    const auto current = static_cast<std::uint32_t>(50000 + (i * 7919) % 4000);
    Bytes b{0x3E,
            addr,
            0xF0,
            temp,
            static_cast<std::uint8_t>(level & 0xFF),
            static_cast<std::uint8_t>(level >> 8)};
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>(current >> (8 * k)));
    b.resize(20, 0);
    return WithCrc(b);
}

BusEvent Ev(BusEvent::Kind k, TimeMs t, Bytes bytes = {}) {
    BusEvent e;
    e.kind = k;
    e.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(t));
    e.bytes = std::move(bytes);
    if (k == BusEvent::Kind::Rx) e.heard = DecodeReception(e.bytes, false);
    return e;
}

// `seconds` of the demo's pattern: a reader poll and a tag poll each second,
// every 97th poll unanswered, a calibration every ten minutes.
void Feed(TrendStore& store, int seconds) {
    const Bytes poll = WithCrc({0x31, 1, 0xF0});
    const Bytes tag = WithCrc({0x31, 1, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A});
    for (int i = 0; i < seconds; ++i) {
        const TimeMs t = kT0 + static_cast<TimeMs>(i) * 1000;
        store.Take(Ev(BusEvent::Kind::Tx, t, poll));
        if (i % 97 == 13) {
            store.Take(Ev(BusEvent::Kind::Silent, t + 500));
        } else {
            store.Take(Ev(BusEvent::Kind::Rx, t + 500, Reply(1, i)));
        }
        store.Take(Ev(BusEvent::Kind::Tx, t + 501, tag));
        if (i % 600 == 300) {
            BusEvent c = Ev(BusEvent::Kind::Command, t + 502, WithCrc({0x31, 1, 0xF5}));
            c.id = static_cast<std::uint64_t>(i);
            store.Take(c);
            BusEvent r = Ev(BusEvent::Kind::Result, t + 1000);
            r.id = c.id;
            r.ok = true;
            store.Take(r);
        }
    }
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

ChartView View60(int width, int height) {
    ChartView v;
    v.end = kT0 + 7200 * 1000;
    v.windowMinutes = 60;
    v.width = width;
    v.height = height;
    return v;
}

const TrendStore& TwoHours() {
    static const std::unique_ptr<TrendStore> store = [] {
        auto s = std::make_unique<TrendStore>();
        Feed(*s, 7200);
        return s;
    }();
    return *store;
}

void BM_BuildChart60Min(benchmark::State& state) {
    const TrendStore& store = TwoHours();
    const ChartView view = View60(static_cast<int>(state.range(0)), 600);
    for (auto _ : state) {
        Chart c = BuildChart(store.Device(1), view);
        benchmark::DoNotOptimize(c);
    }
}
BENCHMARK(BM_BuildChart60Min)->Arg(800)->Arg(1200)->Arg(2400)->Unit(benchmark::kMicrosecond);

// What a tick costs the GUI thread with the window open: build, then paint.
void BM_BuildAndPaint60Min(benchmark::State& state) {
    const TrendStore& store = TwoHours();
    const int width = static_cast<int>(state.range(0));
    const ChartView view = View60(width, 600);
    QImage image(width, 600, QImage::Format_ARGB32_Premultiplied);
    const QPalette palette = QApplication::palette();
    for (auto _ : state) {
        // The GUI thread's own CPU: on a busy machine wall time says more of the others.
        const double begin = ThreadCpuSeconds();
        const Chart c = BuildChart(store.Device(1), view);
        QPainter p(&image);
        busdesk::ui::ChartWidget::Paint(p, c, palette);
        p.end();
        state.SetIterationTime(ThreadCpuSeconds() - begin);
    }
}
BENCHMARK(BM_BuildAndPaint60Min)
    ->Arg(800)
    ->Arg(1200)
    ->Arg(2400)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

long RssKb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

// Two hours of one device, fed as the engine would: the store's bytes and the
// process's growth.
void BM_TwoHoursOfReadings(benchmark::State& state) {
    for (auto _ : state) {
        const long before = RssKb();
        auto store = std::make_unique<TrendStore>();
        Feed(*store, 7200);
        const long after = RssKb();
        state.counters["store_KB"] = static_cast<double>(store->MemoryBytes()) / 1024.0;
        state.counters["rss_growth_KB"] = static_cast<double>(after - before);
        benchmark::DoNotOptimize(store);
    }
}
BENCHMARK(BM_TwoHoursOfReadings)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
