// Cost of the exchange engine's own work, against the in-memory port.
#include <benchmark/benchmark.h>

#include <string>

#include "app/frmSerial.h"
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
