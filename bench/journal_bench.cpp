// Cost of turning one journal event into its line, for the events a session
// is made of. The writer thread does this once per event, off the tick.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/journal.h"
#include "engine/line_frames.h"
#include "protocol/crc.h"

namespace {

using busdesk::Bytes;
using busdesk::engine::Journal;
using busdesk::engine::JournalEvent;
using Kind = JournalEvent::Kind;

Bytes WithCrc(Bytes frame) {
    frame.push_back(busdesk::Crc8(frame));
    return frame;
}

JournalEvent Event(Kind kind, Bytes bytes, std::string text = {}, std::uint64_t id = 0,
                   bool ok = false) {
    JournalEvent e;
    e.kind = kind;
    e.time = std::chrono::system_clock::now();
    e.bytes = std::move(bytes);
    e.text = std::move(text);
    e.id = id;
    e.ok = ok;
    return e;
}

// A reception decoded as the line monitor decodes it.
JournalEvent Heard(Bytes rx, bool surveyDue = false) {
    JournalEvent e = Event(Kind::Rx, std::move(rx), {}, 0, surveyDue);
    e.heard = busdesk::engine::DecodeReception(e.bytes, surveyDue);
    return e;
}

// Arg: which event. The first two are what every tick leaves.
std::vector<JournalEvent> Events() {
    return {
        Event(Kind::Tx, WithCrc({0x31, 0x01, 0xF0})),
        Heard(WithCrc({0x3E, 0x01, 0xF0, 0x19, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x10,
                       0x27, 0x00, 0x00, 0x20, 0x4E, 0x00, 0x00, 0x64, 0x00, 0x02})),
        Heard({0x01, 0x05, 0x07}, true),
        Event(Kind::Command,
              WithCrc({0x31, 0x01, 0xE1, 0x00, 0x00, 0x00, 0x00, 0x64, 0x0A, 0x0B, 0x0C, 0x0D, 0x00,
                       0x3C, 0x01, 0x0A, 0x00, 0x05}),
              {}, 7),
        Event(Kind::Result, {}, "ответ не подтверждает команду", 7),
        Event(Kind::Open, {}, "COM1:", 0, true),
        Heard(WithCrc({0x3E, 0x01, 0xE3, 0x00, 0x00, 0x00, 0x64, 0x0A, 0x0B, 0x0C, 0x0D, 0x00, 0x3C,
                       0x01, 0x0A, 0x86, 0x00, 0x05, 0xB0})),
    };
}

void BM_JournalFormat(benchmark::State& state) {
    const JournalEvent e = Events().at(static_cast<std::size_t>(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string line = Journal::Format(e);
        bytes += line.size();
        benchmark::DoNotOptimize(line.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_JournalFormat)
    ->ArgName("event")
    ->Arg(0)   // tx
    ->Arg(1)   // rx, reader data
    ->Arg(2)   // rx, survey answer
    ->Arg(3)   // command, tag parameters
    ->Arg(4)   // result, with a reason
    ->Arg(5)   // open
    ->Arg(6);  // rx, tag data

}  // namespace

BENCHMARK_MAIN();
