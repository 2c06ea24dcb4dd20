// Writing a tag's parameters back through the selected reader.
#include <array>
#include <optional>

#include "app/checks.h"
#include "app/frmSerial.h"
#include "app/messages.h"
#include "app/numbers.h"
#include "protocol/commands.h"
#include "protocol/crc.h"
#include "protocol/text.h"

namespace busdesk {

namespace {

// Bytes after the length byte, CRC excluded.
constexpr std::uint8_t kParamBlockLength = 14;

void AppendBe(Bytes& frame, std::uint32_t v, int bytes, std::uint8_t& cr) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        AppendWithCrc(frame, static_cast<std::uint8_t>(v >> shift), cr);
}

}  // namespace

void frmSerial::SetModesMetki_Click() {
    wrs.clear();
    const std::optional<std::uint8_t> address = SelectedAddress();
    if (!address) {
        MsgBox(msg::kNoDevice);
        CmdBoxText.caption.clear();
        return;
    }
    const char* problem = nullptr;
    const std::optional<TagParams> p =
        ReadTagParams({SerNumMetki.caption, ModeMetki.caption, IntervalMetki.caption,
                       PowerMetki.caption, ID_Metki.caption, sleep_time.caption},
                      &problem);
    if (!p) {
        if (problem != nullptr) MsgBox(problem);
        return;
    }

    Bytes frame;
    std::uint8_t cr = 0;
    AppendWithCrc(frame, proto::kRequestStart, cr);
    AppendWithCrc(frame, *address, cr);
    AppendWithCrc(frame, proto::kTagWrite, cr);
    AppendWithCrc(frame, kParamBlockLength, cr);
    AppendBe(frame, p->serial, 4, cr);
    for (std::uint8_t b : p->id) AppendWithCrc(frame, b, cr);
    AppendBe(frame, p->interval, 2, cr);
    AppendBe(frame, p->mode, 1, cr);
    AppendBe(frame, p->power, 1, cr);
    AppendBe(frame, p->sleep, 2, cr);
    frame.push_back(cr);
    wrs = frame;
    CmdBoxText.caption = HexDump(wrs, " ");
}

}  // namespace busdesk
