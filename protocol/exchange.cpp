// The exchange cycle: one tick of TMRComm polls the selected device, sends the
// pending bytes and decodes what arrived since the previous tick.
#include <optional>
#include <string>

#include "app/frmSerial.h"
#include "protocol/commands.h"
#include "protocol/crc.h"
#include "protocol/text.h"

namespace busdesk {

namespace {

constexpr std::size_t kDumpLimit = 50;  // longer receptions are decoded, not dumped
constexpr std::uint8_t kWriteFailuresTolerated = 2;

}  // namespace

void frmSerial::TMRComm_Timer() {
    const std::optional<std::uint8_t> selected = SelectedAddress();

    // With no entry selected there is no device to change to; last_addr keeps
    // the device it named last.
    if (selected && *selected != last_addr) {
        wrs = Zapros_ser_num();
        last_addr = *selected;
    }

    std::optional<std::uint8_t> pollCrc;
    if (wrs.empty() && selected) {
        if (CointWrs == 1) {
            CMD_zapros_metki(proto::kSearchId, proto::kTagPing);
            CointWrs = 0;
        } else {
            CointWrs = 1;
            std::uint8_t cr = 0;
            AppendWithCrc(wrs, proto::kRequestStart, cr);
            AppendWithCrc(wrs, *selected, cr);
            AppendWithCrc(wrs, proto::kReaderData, cr);
            wrs.push_back(cr);
            pollCrc = cr;
        }
    }

    PrintToWin(wrs);
    const Bytes rx = port_.ReadPort();
    const int written = port_.WritePort(wrs);

    if (written != static_cast<int>(wrs.size())) {
        MsgBox("Ошибка записи в порт");
        if (wr_err > kWriteFailuresTolerated) {
            TMRComm.enabled = false;
            BTNCloseCom_Click();
        }
        if (wr_err < 255) ++wr_err;
        wrs.clear();
        return;  // what was read in this tick is dropped with the frame
    }

    wr_err = 0;
    wrs.clear();
    Pic.fillColor = Pic.fillColor == lamp::kWhite ? lamp::kGrey : lamp::kWhite;

    if (rx.empty()) {
        if (!no_data) {
            last_msg = MsgCom.caption;
            no_data = true;
        }
        MsgCom.caption = "Нет данных с датчика с номером " + CmbNet.SelectedEntry().value_or("");
        return;
    }

    if (no_data) {
        MsgCom.caption = last_msg;
        no_data = false;
    }
    const std::uint8_t c = Crc8(rx, rx.size() - 1);
    if (rx.size() < kDumpLimit) {
        std::string dump = HexDump(rx, " ");
        dump += HexText(c);
        dump += " \r\n\r\n";
        dump += CleanStr(rx);
        dump += pollCrc ? HexText(*pollCrc) : std::string("0");
        txtRec.caption = std::move(dump);
    }
    DecodeReply(rx, c);
    Pic.fillColor = lamp::kRed;
    port_.FlushPort();
}

}  // namespace busdesk
