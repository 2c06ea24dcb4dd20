// Writing a tag's parameters back through the selected reader.
#include <array>
#include <optional>

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
    auto rangeError = [this] { MsgBox(msg::kRange2M); };

    // The order of the checks decides which message wins when several fields are wrong.
    const std::optional<std::int32_t> serial = ReadInt32(SerNumMetki.caption);
    if (!serial) return rangeError();
    const std::optional<std::int32_t> mode = ReadInt32(ModeMetki.caption);
    if (!mode) return rangeError();
    const std::optional<std::int32_t> interval = ReadInt32(IntervalMetki.caption);
    if (!interval) return rangeError();
    const std::optional<std::int32_t> power = ReadInt32(PowerMetki.caption);
    if (!power) return rangeError();
    if (*mode > 255) return rangeError();
    if (*interval < 1 || *interval > 65000) return rangeError();
    if (*power < 3 || *power > 247) return rangeError();
    if (*serial < 0) return rangeError();

    if (const char* problem = HexIdMessage(CheckHexId(ID_Metki.caption))) {
        MsgBox(problem);
        return;
    }
    const std::optional<std::array<std::uint8_t, 4>> id = HexIdFromLeft(ID_Metki.caption);
    if (!id) return;

    if (*mode < 0) return rangeError();
    const std::optional<std::int16_t> sleep = ReadInt16(sleep_time.caption);
    if (!sleep || *sleep < 0) return rangeError();

    Bytes frame;
    std::uint8_t cr = 0;
    AppendWithCrc(frame, proto::kRequestStart, cr);
    AppendWithCrc(frame, *address, cr);
    AppendWithCrc(frame, proto::kTagWrite, cr);
    AppendWithCrc(frame, kParamBlockLength, cr);
    AppendBe(frame, static_cast<std::uint32_t>(*serial), 4, cr);
    for (std::uint8_t b : *id) AppendWithCrc(frame, b, cr);
    AppendBe(frame, static_cast<std::uint32_t>(*interval), 2, cr);
    AppendBe(frame, static_cast<std::uint32_t>(*mode), 1, cr);
    AppendBe(frame, static_cast<std::uint32_t>(*power), 1, cr);
    AppendBe(frame, static_cast<std::uint32_t>(*sleep), 2, cr);
    frame.push_back(cr);
    wrs = frame;
    CmdBoxText.caption = HexDump(wrs, " ");
}

}  // namespace busdesk
