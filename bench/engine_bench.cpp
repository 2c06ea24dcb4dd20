// Cost of the exchange engine's own work, against the in-memory port.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "app/frmSerial.h"
#include "engine/journal.h"
#include "engine/line_monitor.h"
#include "link/memory_port.h"
#include "protocol/crc.h"

namespace {

using busdesk::Bytes;

class AnswerAtOnce : public busdesk::Dialogs {
  public:
    busdesk::MsgResult MsgBox(const std::string&, busdesk::MsgButtons, busdesk::MsgIcon,
                              const std::string&) override {
        return busdesk::MsgResult::Ok;
    }
    std::string InputBox(const std::string&, const std::string&, const std::string&) override {
        return {};
    }
};

// A 22-byte reader data reply from device 0, mode byte included.
Bytes ReaderReply() {
    Bytes rx = {0x3E, 0x00, 0xF0, 0x19, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x10,
                0x27, 0x00, 0x00, 0x20, 0x4E, 0x00, 0x00, 0x64, 0x00, 0x02};
    rx.push_back(busdesk::Crc8(rx));
    return rx;
}

// One tick: poll built, frame shown, reception read, frame written, reply
// dumped and decoded. The reception is put back and the write record cleared
// every iteration, so both are part of the figure.
void BM_Tick(benchmark::State& state) {
    busdesk::MemoryPort port;
    AnswerAtOnce dialogs;
    busdesk::frmSerial form(port, dialogs);
    form.Form_Load();
    form.BTNOpenCom_Click();
    const Bytes reply = ReaderReply();
    for (auto _ : state) {
        port.QueueReception(reply);
        if (!form.Tick()) state.SkipWithError("tick did not run");
        port.writes.clear();
        benchmark::DoNotOptimize(form.txtRec.caption.data());
    }
}
BENCHMARK(BM_Tick);

// The tick as the engine runs it: the tick, then the snapshot of every
// control that it publishes. Arg 1 adds the line counters, the journal and
// the status texts, as the engine has them now.
void BM_EngineTick(benchmark::State& state) {
    const bool on = state.range(0) != 0;
    std::string error;
    std::unique_ptr<busdesk::engine::Journal> journal;
    if (on) journal = busdesk::engine::Journal::Open("/dev/null", error);
    auto inner = std::make_unique<busdesk::MemoryPort>();
    busdesk::MemoryPort& memory = *inner;
    busdesk::engine::LineMonitor monitor(std::move(inner), journal.get());
    AnswerAtOnce dialogs;
    busdesk::frmSerial form(on ? static_cast<busdesk::SerialPort&>(monitor) : memory, dialogs);
    if (on) form.receptionObserver = &monitor;
    form.Form_Load();
    form.BTNOpenCom_Click();
    const Bytes reply = ReaderReply();
    for (auto _ : state) {
        memory.QueueReception(reply);
        if (!form.Tick()) state.SkipWithError("tick did not run");
        memory.writes.clear();
        auto controls = form.Snapshot();
        benchmark::DoNotOptimize(controls.data());
        if (on) {
            const busdesk::engine::LineCounters c = monitor.Counters();
            std::string line = busdesk::engine::StatusLine(c);
            std::string detail = busdesk::engine::StatusDetail(c);
            benchmark::DoNotOptimize(line.data());
            benchmark::DoNotOptimize(detail.data());
        }
    }
}
BENCHMARK(BM_EngineTick)->Arg(0)->Arg(1);

// The same tick with the line counters and the journal on, and what the engine
// adds to every snapshot: the figures and both status texts. The journal goes
// to /dev/null (its writer syncs each line, which a disk would make the
// bottleneck); `dropped` says how much of it the writer could not keep up with
// at benchmark speed, a thousand times the real rate.
void BM_TickCountedAndJournalled(benchmark::State& state) {
    const bool journalOn = state.range(0) != 0;
    std::string error;
    std::unique_ptr<busdesk::engine::Journal> journal;
    if (journalOn) {
        journal = busdesk::engine::Journal::Open("/dev/null", error);
        if (!journal) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    auto inner = std::make_unique<busdesk::MemoryPort>();
    busdesk::MemoryPort& port = *inner;
    busdesk::engine::LineMonitor monitor(std::move(inner), journal.get());
    AnswerAtOnce dialogs;
    busdesk::frmSerial form(monitor, dialogs);
    form.receptionObserver = &monitor;
    form.Form_Load();
    form.BTNOpenCom_Click();
    const Bytes reply = ReaderReply();
    std::size_t text = 0;
    for (auto _ : state) {
        port.QueueReception(reply);
        if (!form.Tick()) state.SkipWithError("tick did not run");
        port.writes.clear();
        const busdesk::engine::LineCounters c = monitor.Counters();
        text += busdesk::engine::StatusLine(c).size() + busdesk::engine::StatusDetail(c).size();
        benchmark::DoNotOptimize(form.txtRec.caption.data());
    }
    benchmark::DoNotOptimize(text);
    if (journal) {
        const auto counts = journal->Stats();
        const double all = static_cast<double>(counts.lines + counts.lost);
        state.counters["dropped"] = all > 0 ? static_cast<double>(counts.lost) / all : 0;
    }
}
BENCHMARK(BM_TickCountedAndJournalled)->Arg(0)->Arg(1);

// The journal of a 10-hour session at the 500 ms tick: every tick leaves a
// request line and a reception line; the polls alternate between reader data
// and the tag search. Reported in MB (10^6 bytes).
void BM_JournalTenHours(benchmark::State& state) {
    using busdesk::engine::JournalEvent;
    JournalEvent dataTx{JournalEvent::Kind::Tx, {}, {0x31, 0x01, 0xF0, 0x5D}, {}, {}, 0, false};
    JournalEvent dataRx{JournalEvent::Kind::Rx, {}, ReaderReply(), {}, {}, 0, false};
    JournalEvent tagTx{JournalEvent::Kind::Tx,
                       {},
                       {0x31, 0x01, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A, 0x25},
                       {},
                       {},
                       0,
                       false};
    Bytes ping = {0x3E, 0x01, 0xE0, 0x00, 0x00, 0x30, 0x39, 0x0A, 0x0B, 0x0C, 0x0D, 0xC4};
    ping.push_back(busdesk::Crc8(ping));
    JournalEvent tagRx{JournalEvent::Kind::Rx, {}, ping, {}, {}, 0, false};
    constexpr double kTicks = 10.0 * 3600 * 2;
    double perTick = 0;
    for (auto _ : state) {
        const auto now = std::chrono::system_clock::now();
        std::size_t bytes = 0;
        for (JournalEvent* e : {&dataTx, &dataRx, &tagTx, &tagRx}) {
            e->time = now;
            bytes += busdesk::engine::Journal::Format(*e).size() + 1;
        }
        perTick = static_cast<double>(bytes) / 2;
        benchmark::DoNotOptimize(perTick);
    }
    state.counters["bytes_per_tick"] = perTick;
    state.counters["MB_10h"] = perTick * kTicks / 1e6;
}
BENCHMARK(BM_JournalTenHours);

void BM_DecodeReply(benchmark::State& state) {
    busdesk::MemoryPort port;
    AnswerAtOnce dialogs;
    busdesk::frmSerial form(port, dialogs);
    form.Form_Load();
    const Bytes reply = ReaderReply();
    const std::uint8_t c = busdesk::Crc8(reply, reply.size() - 1);
    for (auto _ : state) {
        form.mode_yes = true;  // so the mode byte is shown each time
        form.DecodeReply(reply, c);
        benchmark::DoNotOptimize(form.tek.caption.data());
    }
}
BENCHMARK(BM_DecodeReply);

}  // namespace

BENCHMARK_MAIN();
