// busdesk_soak: the engine against the in-process bus for hours of ticks at a
// faster clock, with faults injected on a fixed cycle; prints memory and the
// bus's and the line's counters after each hour's worth of ticks (7200). Not a test: run it
// by hand (see --help). The engine runs as the window runs it (engine::Engine
// with its own thread and tick); only the tick period is divided by the speed,
// and the bus's timing and the port's time-outs run on the same faster clock.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "protocol/crc.h"
#include "sim/inprocess_port.h"

namespace {

using namespace busdesk;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kTicksPerHour = 7200;  // 500 ms ticks

long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + key.size(), nullptr, 10);
    }
    return -1;
}

// Takes the snapshots and answers every box as closed, from the soak's thread.
class Watcher : public engine::FrontEnd {
  public:
    void Publish(engine::Snapshot s) override {
        std::lock_guard lock(mu_);
        ++published_;
        for (const Control& c : *s.controls) {
            if (c.name == "Pic") ++lamp_[c.fillColor];
            if (c.name == "MsgCom") status_ = c.caption;
            if (c.name == "uroven") level_ = c.caption;
        }
    }
    void ShowBox(std::uint64_t id, const engine::BoxRequest& r) override {
        std::lock_guard lock(mu_);
        boxes_.push_back({id, r});
        ++boxCount_;
        lastBox_ = r.text;
    }
    void AnswerBoxes(engine::Engine& e) {
        std::deque<std::pair<std::uint64_t, engine::BoxRequest>> boxes;
        {
            std::lock_guard lock(mu_);
            boxes.swap(boxes_);
        }
        for (const auto& [id, r] : boxes) e.Answer(id, engine::ClosedResult(r));
    }
    struct Seen {
        std::size_t published = 0;
        std::size_t boxes = 0;
        std::map<std::uint32_t, std::size_t> lamp;
        std::string status, level, lastBox;
    };
    std::size_t Published() {
        std::lock_guard lock(mu_);
        return published_;
    }
    Seen Take() {
        std::lock_guard lock(mu_);
        Seen s{published_, boxCount_, lamp_, status_, level_, lastBox_};
        lamp_.clear();
        return s;
    }

  private:
    std::mutex mu_;
    std::deque<std::pair<std::uint64_t, engine::BoxRequest>> boxes_;
    std::size_t published_ = 0;
    std::size_t boxCount_ = 0;
    std::map<std::uint32_t, std::size_t> lamp_;
    std::string status_, level_, lastBox_;
};

// One fault cycle of 600 ticks (5 minutes of bus time), the same every time so
// that every hour sees the same faults.
void InjectFaults(sim::InProcessBus& bus, long tick) {
    switch (tick % 600) {
        case 100:
            bus.SetSilent(1, true);
            break;
        case 140:
            bus.SetSilent(1, false);
            break;
        case 200:
            bus.CorruptNextReplies(3);
            break;
        case 250:
            bus.SendGarbage(std::size_t{40});
            break;
        case 300:
            bus.SplitNextReplies(2, milliseconds(40));
            break;
        case 350:
            bus.DelayNextReplies(2, milliseconds(700));
            break;
        case 400:
            bus.SendGarbage(std::size_t{600});  // more than one read takes
            break;
        default:
            break;
    }
}

struct Row {
    long hour;
    long rssKb;
    sim::BusStats bus;
    sim::LineStats line;
    Watcher::Seen seen;
};

void PrintRow(const Row& r, const Row* before) {
    auto d = [&](std::size_t now, std::size_t then) {
        return static_cast<long long>(now) - static_cast<long long>(before ? then : 0);
    };
    const Row z{};
    const Row& b = before ? *before : z;
    std::printf(
        "%5ld %9ld %9lld %6lld %8lld %9lld %9lld %8lld %7lld %9lld %8lld %6lld %9lld %5lld  "
        "%s\n",
        r.hour, r.rssKb, d(r.bus.requests, b.bus.requests), d(r.bus.badCrc, b.bus.badCrc),
        d(r.bus.droppedBytes, b.bus.droppedBytes), d(r.bus.answers, b.bus.answers),
        d(r.bus.bytesSent, b.bus.bytesSent), d(r.line.reads, b.line.reads),
        d(r.line.emptyReads, b.line.emptyReads), d(r.line.bytesRead, b.line.bytesRead),
        d(r.line.discarded, b.line.discarded), d(r.line.overrun, b.line.overrun),
        d(r.seen.published, b.seen.published), d(r.seen.boxes, b.seen.boxes), r.seen.level.c_str());
}

// Drift: per hour of ticks, what each request met; with the same faults in
// every hour these must stay flat from the first hour to the last.
void PrintDrift(const std::vector<Row>& rows, long ticks) {
    struct Share {
        const char* what;
        double lo = 1e18, hi = -1e18, first = 0, last = 0;
    };
    Share shares[] = {{"answers per request"},
                      {"empty reads per read"},
                      {"bytes read per read"},
                      {"bytes discarded per request"},
                      {"requests per tick"}};
    const long full = std::min<long>(static_cast<long>(rows.size()) - 1, ticks / kTicksPerHour);
    if (full < 2) return;
    for (long h = 1; h <= full; ++h) {
        const Row& a = rows[static_cast<std::size_t>(h - 1)];
        const Row& b = rows[static_cast<std::size_t>(h)];
        const auto d = [](std::size_t x, std::size_t y) { return static_cast<double>(x - y); };
        const double req = d(b.bus.requests, a.bus.requests);
        const double reads = d(b.line.reads, a.line.reads);
        const double values[] = {d(b.bus.answers, a.bus.answers) / req,
                                 d(b.line.emptyReads, a.line.emptyReads) / reads,
                                 d(b.line.bytesRead, a.line.bytesRead) / reads,
                                 d(b.line.discarded, a.line.discarded) / req,
                                 req / d(b.seen.published, a.seen.published)};
        for (std::size_t i = 0; i < std::size(shares); ++i) {
            Share& s = shares[i];
            s.lo = std::min(s.lo, values[i]);
            s.hi = std::max(s.hi, values[i]);
            if (h == 1) s.first = values[i];
            s.last = values[i];
        }
    }
    std::printf("per hour of ticks (1..%ld): first, last, min..max\n", full);
    for (const Share& s : shares) {
        std::printf("  %-28s %8.4f %8.4f  %8.4f..%.4f\n", s.what, s.first, s.last, s.lo, s.hi);
    }
}

// The port's timing as the engine sees it, in bus time.
void MeasureTiming(double speed) {
    sim::BusConfig c = sim::DefaultBusConfig();
    c.drift = false;
    sim::InProcessBus bus(c, speed);
    struct NoBoxes : Dialogs {
        MsgResult MsgBox(const std::string&, MsgButtons, MsgIcon, const std::string&) override {
            return MsgResult::Ok;
        }
        std::string InputBox(const std::string&, const std::string&, const std::string&) override {
            return {};
        }
    } dialogs;
    sim::InProcessPort port(bus, dialogs);
    port.OpenPort("COM1:", "19200,n,8,1");
    struct Case {
        const char* what;
        Bytes request;
        bool silent;
    };
    const Case cases[] = {
        {"survey (3 bytes)", {0x31, 0xFF, 0xDC}, false},
        {"reader data (22 bytes)", {0x31, 0x01, 0xF0}, false},
        {"silent device", {0x31, 0x01, 0xF0}, true},
    };
    std::printf("read time at %gx, in bus time (mean of 20; min..max):\n", speed);
    for (Case k : cases) {
        if (k.request.size() == 3 && k.request[1] != 0xFF) k.request.push_back(Crc8(k.request));
        bus.SetSilent(1, k.silent);
        double sum = 0, lo = 1e9, hi = 0;
        std::size_t size = 0;
        for (int i = 0; i < 20; ++i) {
            port.WritePort(k.request);
            const auto t0 = bus.clock().Now();
            size = port.ReadPort().size();
            const double ms =
                std::chrono::duration<double, std::milli>(bus.clock().Now() - t0).count();
            sum += ms;
            lo = std::min(lo, ms);
            hi = std::max(hi, ms);
        }
        std::printf("  %-24s %3zu bytes  %7.2f ms  (%.2f..%.2f)\n", k.what, size, sum / 20, lo, hi);
    }
    bus.SetSilent(1, false);
}

}  // namespace

int main(int argc, char** argv) {
    long ticks = 72000;
    double speed = 50;
    bool timing = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") {
            ticks = 3600;
        } else if (a == "--ticks" && i + 1 < argc) {
            ticks = std::strtol(argv[++i], nullptr, 10);
        } else if (a == "--speed" && i + 1 < argc) {
            speed = std::strtod(argv[++i], nullptr);
        } else if (a == "--timing") {
            timing = true;
        } else {
            std::printf(
                "usage: busdesk_soak [--quick | --ticks N] [--speed X] [--timing]\n"
                "  --ticks N   ticks of 500 ms bus time to run (default 72000: 10 hours)\n"
                "  --quick     3600 ticks (half an hour of bus time)\n"
                "  --speed X   bus clock and tick X times real time (default 50)\n"
                "  --timing    only measure the in-process port's read times\n");
            return a == "--help" ? 0 : 2;
        }
    }
    if (ticks <= 0 || speed <= 0) return 2;
    if (timing) {
        MeasureTiming(1.0);
        MeasureTiming(speed);
        return 0;
    }

    sim::InProcessBus bus(sim::DefaultBusConfig(), speed);
    Watcher watcher;
    engine::Engine::Options options;
    options.tick = milliseconds(static_cast<long>(500.0 / speed + 0.5));
    if (options.tick.count() < 1) options.tick = milliseconds(1);
    const auto tickReal = options.tick;
    engine::Engine engine(
        [&bus](Dialogs& d) -> std::unique_ptr<SerialPort> {
            return std::make_unique<sim::InProcessPort>(bus, d);
        },
        watcher, options);
    engine.Start();
    engine.PostClick("BTNOpenCom");
    engine.PostClick("Opros");
    std::this_thread::sleep_for(tickReal * 20);  // the survey and the first device's answers
    watcher.AnswerBoxes(engine);

    std::printf("soak: %ld ticks at %gx (tick %lld ms real), faults every 600 ticks\n", ticks,
                speed, static_cast<long long>(tickReal.count()));
    std::printf(
        " hour    rss_kB  requests badCrc dropped   answers bytesSent    reads   empty "
        "bytesRead discarded overrun snapshots boxes  level\n");
    const long rssStart = StatusKb("VmRSS");
    std::vector<Row> rows;
    rows.push_back({0, rssStart, bus.Stats(), bus.Line(), watcher.Take()});
    PrintRow(rows.back(), nullptr);

    const auto t0 = Clock::now();
    // Counted in ticks that ran: a loaded machine drops some (the engine skips a
    // tick that falls due during a slow one), and the run goes on until the
    // full count has run, each hour of ticks with the same faults.
    const std::size_t published0 = watcher.Published();
    long injected = 0;
    for (;;) {
        const long ran = static_cast<long>(watcher.Published() - published0);
        for (; injected <= std::min(ran, ticks - 1); ++injected) InjectFaults(bus, injected);
        watcher.AnswerBoxes(engine);
        const bool done = ran >= ticks;
        if (done || ran / kTicksPerHour >= static_cast<long>(rows.size())) {
            rows.push_back({static_cast<long>(rows.size()), StatusKb("VmRSS"), bus.Stats(),
                            bus.Line(), watcher.Take()});
            PrintRow(rows.back(), &rows[rows.size() - 2]);
            std::fflush(stdout);
        }
        if (done) break;
        std::this_thread::sleep_for(tickReal);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    engine.Stop();
    const Row& end = rows.back();
    const sim::LineStats& l = end.line;
    const long due = static_cast<long>(seconds * 1000.0 / static_cast<double>(tickReal.count()));
    std::printf("ran %.1f s real, %.2f h of bus time: %ld ticks ran of %ld due (%ld dropped)\n",
                seconds, seconds * speed / 3600.0, ticks, std::max(due, ticks),
                std::max(0L, due - ticks));
    std::printf(
        "RSS start %ld kB, end %ld kB, growth %ld kB (after the first hour: %ld kB); peak %ld kB\n",
        rssStart, end.rssKb, end.rssKb - rssStart, rows.size() > 2 ? end.rssKb - rows[1].rssKb : 0L,
        StatusKb("VmHWM"));
    std::printf(
        "tool wrote %zu frames, the bus took %zu good and %zu bad; bus sent %zu bytes, the "
        "tool read %zu, discarded %zu, lost %zu to overrun, %lld unaccounted\n",
        l.writes, end.bus.requests, end.bus.badCrc, end.bus.bytesSent, l.bytesRead, l.discarded,
        l.overrun,
        static_cast<long long>(end.bus.bytesSent) -
            static_cast<long long>(l.bytesRead + l.discarded + l.overrun));
    PrintDrift(rows, ticks);
    std::printf("last status \"%s\", last box \"%s\"\n", end.seen.status.c_str(),
                end.seen.lastBox.c_str());
    return 0;
}
