// The network survey: one broadcast that every device answers with its address.
#include "app/frmSerial.h"
#include "protocol/commands.h"
#include "protocol/crc.h"

namespace busdesk {

void frmSerial::Opros_Click() {
    // The broadcast has no command byte; it replaces whatever was pending.
    wrs.clear();
    std::uint8_t cr = 0;
    AppendWithCrc(wrs, proto::kRequestStart, cr);
    AppendWithCrc(wrs, proto::kSurveyAddress, cr);
    wrs.push_back(cr);
    ShowEcho(wrs);
    net_opr = true;
    mode_yes = true;
}

}  // namespace busdesk
