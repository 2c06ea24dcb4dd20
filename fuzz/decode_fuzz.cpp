// Feeds arbitrary receptions through the reply decoder of a live window.
//
// Input: one byte of flags, then receptions, each a length byte and that many
// bytes. Flags: bit 0 a survey is pending, bit 1 the mode is to be shown,
// bit 2 a tag read awaits its ID, bit 3 hand over the CRC each reception ends
// in (so reader data replies pass their check) instead of the computed one.
//
// Building and loading a window costs more than decoding a few receptions, so
// one window lives for the whole process. Before each input every control and
// every window variable is put back as the loaded window had it, so an input
// runs the same whatever ran before it. A window variable added to frmSerial
// must be added to Variables below.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/frmSerial.h"
#include "link/memory_port.h"
#include "protocol/crc.h"

namespace {

using busdesk::Bytes;

class AnswerAtOnce : public busdesk::Dialogs {
  public:
    busdesk::MsgResult MsgBox(const std::string&, busdesk::MsgButtons buttons, busdesk::MsgIcon,
                              const std::string&) override {
        return buttons == busdesk::MsgButtons::YesNo ? busdesk::MsgResult::No
                                                     : busdesk::MsgResult::Ok;
    }
    std::string InputBox(const std::string&, const std::string&, const std::string&) override {
        return {};
    }
};

void Require(bool ok) {
    if (!ok) __builtin_trap();
}

// The window variables of frmSerial.
struct Variables {
    Bytes wrs;
    std::uint8_t CointWrs, last_addr, wr_err;
    bool no_data;
    std::string last_msg;
    bool net_opr, mode_yes;
    std::uint8_t fill_id;

    static Variables Of(const busdesk::frmSerial& w) {
        return {w.wrs,      w.CointWrs, w.last_addr, w.wr_err, w.no_data,
                w.last_msg, w.net_opr,  w.mode_yes,  w.fill_id};
    }
    void Into(busdesk::frmSerial& w) const {
        w.wrs = wrs;
        w.CointWrs = CointWrs;
        w.last_addr = last_addr;
        w.wr_err = wr_err;
        w.no_data = no_data;
        w.last_msg = last_msg;
        w.net_opr = net_opr;
        w.mode_yes = mode_yes;
        w.fill_id = fill_id;
    }
};

class LoadedWindow {
  public:
    LoadedWindow() : w(port, dialogs) {
        w.Form_Load();
        pristinePort = port;
        pristineVariables = Variables::Of(w);
        for (const busdesk::Control* c : w.Controls()) pristineControls.push_back(*c);
    }
    busdesk::frmSerial& Restored() {
        port = pristinePort;
        pristineVariables.Into(w);
        const auto& controls = w.Controls();
        for (std::size_t i = 0; i < controls.size(); ++i) *controls[i] = pristineControls[i];
        return w;
    }

  private:
    busdesk::MemoryPort port;
    AnswerAtOnce dialogs;
    busdesk::frmSerial w;
    busdesk::MemoryPort pristinePort;
    Variables pristineVariables{};
    std::vector<busdesk::Control> pristineControls;
};

// What no reception may break.
void CheckWindow(const busdesk::frmSerial& w) {
    Require(w.ProgressBar1.value >= 0 && w.ProgressBar1.value < 1024);
    Require(!w.CmbNet.list.empty());
    Require(w.CmbNet.SelectedEntry().has_value());
    // The decoder queues nothing but a serial-number request.
    Require(w.wrs.empty() || w.wrs.size() == 4);
    Require(w.fill_id <= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static LoadedWindow window;
    busdesk::frmSerial& w = window.Restored();
    const std::uint8_t flags = data[0];
    w.net_opr = (flags & 1) != 0;
    w.mode_yes = (flags & 2) != 0;
    w.fill_id = (flags & 4) != 0 ? 1 : 0;
    const bool trustTail = (flags & 8) != 0;

    std::size_t at = 1;
    while (at < size) {
        const std::size_t len = data[at++];
        const std::size_t n = len < size - at ? len : size - at;
        if (n == 0) continue;
        const Bytes rx(data + at, data + at + n);
        at += n;
        const std::uint8_t c = trustTail ? rx.back() : busdesk::Crc8(rx, rx.size() - 1);
        w.wrs.clear();
        w.DecodeReply(rx, c);
        CheckWindow(w);
    }
    return 0;
}
