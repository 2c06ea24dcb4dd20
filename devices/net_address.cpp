// Giving the selected device a new network address.
#include <optional>
#include <string>

#include "app/checks.h"
#include "app/frmSerial.h"
#include "app/messages.h"
#include "app/numbers.h"
#include "protocol/commands.h"
#include "protocol/crc.h"

namespace busdesk {

void frmSerial::net_Click() {
    const std::string answer = InputBox("Введите новый сетевой номер", "Ввод сетевого номера",
                                        CmbNet.SelectedEntry().value_or(std::string()));
    if (answer.empty()) return;
    const std::optional<std::uint8_t> current = SelectedAddress();
    if (!current) {
        MsgBox(msg::kNoDevice);
        return;
    }
    const std::optional<std::uint8_t> wanted = ReadNetAddress(answer);
    if (!wanted) {
        MsgBox(msg::kRange200);
        return;
    }
    // Appended, not replacing: a frame still pending goes out in the same write.
    std::uint8_t cr = 0;
    for (std::uint8_t b : {proto::kRequestStart, *current, proto::kSetNetAddress, *wanted})
        AppendWithCrc(wrs, b, cr);
    wrs.push_back(cr);
    ShowEcho(wrs);
}

}  // namespace busdesk
