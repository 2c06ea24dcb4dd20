// The report of a 10-hour journal as the demo bus writes it: one reading
// request and its reply every 500 ms, with decoded values, a silence or a
// spoilt reply now and then, and a few commands. Goals: under 10 s, under
// 200 MB of memory, a file under 2 MB.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/journal.h"
#include "engine/line_frames.h"
#include "protocol/crc.h"
#include "report/report.h"

namespace {

namespace fs = std::filesystem;
using busdesk::Bytes;
using busdesk::engine::Journal;
using busdesk::engine::JournalEvent;
using Kind = JournalEvent::Kind;

constexpr int kTicks = 10 * 3600 * 2;

Bytes WithCrc(Bytes frame) {
    frame.push_back(busdesk::Crc8(frame));
    return frame;
}

void Le(Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

struct Journal10h {
    std::string dir;
    std::string journal;
    std::uintmax_t bytes = 0;
};

// Written once, with the engine's own line format.
const Journal10h& Generated() {
    static const Journal10h j = [] {
        Journal10h out;
        out.dir = (fs::temp_directory_path() / ("busdesk-report-bench-" + std::to_string(getpid())))
                      .string();
        fs::create_directories(out.dir);
        out.journal = out.dir + "/day.jsonl";
        std::ofstream file(out.journal, std::ios::binary);
        const auto start = std::chrono::system_clock::time_point(std::chrono::hours(496000));
        const auto put = [&](Kind kind, Bytes bytes, int tick, std::uint64_t id = 0, bool ok = false,
                             std::string text = {}) {
            JournalEvent e;
            e.kind = kind;
            e.time = start + std::chrono::milliseconds(500LL * tick + (kind == Kind::Rx ? 264 : 0));
            e.bytes = std::move(bytes);
            e.id = id;
            e.ok = ok;
            e.text = std::move(text);
            if (kind == Kind::Rx) e.heard = busdesk::engine::DecodeReception(e.bytes, false);
            file << Journal::Format(e) << '\n';
        };
        JournalEvent s;
        s.kind = Kind::Start;
        s.time = start;
        s.text = "busdesk 0.1.0";
        file << Journal::Format(s) << '\n';
        put(Kind::Open, {}, 0, 0, true, "COM1:");
        std::uint64_t id = 0;
        for (int t = 0; t < kTicks; ++t) {
            put(Kind::Tx, WithCrc({0x31, 0x01, 0xF0}), t);
            if (t % 1009 == 1008) {
                JournalEvent q;
                q.kind = Kind::Silent;
                q.time = start + std::chrono::milliseconds(500LL * t + 260);
                file << Journal::Format(q) << '\n';
                continue;
            }
            const double phase = t / 7200.0;
            const auto current = static_cast<std::uint32_t>(52000 + 9000 * std::sin(phase * 6.28));
            const auto level = static_cast<std::uint32_t>(std::lround((current - 20000) / 70.0));
            Bytes rx = {0x3E, 0x01, 0xF0,
                        static_cast<std::uint8_t>(20 + static_cast<int>(3 * std::sin(phase)))};
            Le(rx, level, 2);
            Le(rx, current, 4);
            Le(rx, 20000, 4);
            Le(rx, 90000, 4);
            Le(rx, 100, 2);
            rx.push_back(0x02);
            rx = WithCrc(rx);
            if (t % 997 == 996) rx.back() ^= 0x5A;  // spoilt on the line
            put(Kind::Rx, rx, t);
            // A command every 40 minutes, one in five not confirmed.
            if (t % 4800 == 2400) {
                ++id;
                put(Kind::Command, WithCrc({0x31, 0x01, 0xF5}), t, id);
                put(Kind::Result, {}, t + 1, id, id % 5 != 0,
                    id % 5 != 0 ? "" : "ответ не подтверждает команду");
            }
        }
        file.close();
        out.bytes = fs::file_size(out.journal);
        return out;
    }();
    return j;
}

busdesk::report::Outcome Run(const std::string& output) {
    busdesk::report::Request r;
    r.journals = {Generated().journal};
    r.output = output;
    return busdesk::report::WriteReport(r);
}

// Peak memory of a child that only makes the report, in MB.
double ChildPeakMb(const std::string& output) {
    const pid_t pid = fork();
    if (pid == 0) _exit(Run(output).ok ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // KB on Linux
}

void BM_Report10Hours(benchmark::State& state) {
    const Journal10h& j = Generated();
    const std::string output = j.dir + "/day.html";
    const double peak = ChildPeakMb(output);
    for (auto _ : state) {
        const busdesk::report::Outcome o = Run(output);
        if (!o.ok) state.SkipWithError(o.error.c_str());
    }
    state.counters["journal_MB"] = static_cast<double>(j.bytes) / 1e6;
    state.counters["report_MB"] = static_cast<double>(fs::file_size(output)) / 1e6;
    state.counters["peak_MB"] = peak;
}
BENCHMARK(BM_Report10Hours)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(Generated().dir, ec);
    return 0;
}
