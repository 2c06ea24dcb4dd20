// Tag requests: a command to the selected reader naming a tag by identifier.
#include "app/frmSerial.h"
#include "protocol/commands.h"

namespace busdesk {

void frmSerial::CMD_zapros_metki(const std::uint32_t& SerialN, const std::uint8_t& cmdd) {
    wrs.clear();
    const Bytes payload = {
        static_cast<std::uint8_t>(SerialN >> 24), static_cast<std::uint8_t>(SerialN >> 16),
        static_cast<std::uint8_t>(SerialN >> 8), static_cast<std::uint8_t>(SerialN)};
    wrs = form_zaprosa(payload, cmdd);
    // No reader selected: nothing to name the request to, so nothing is queued
    // or shown.
    if (wrs.empty()) return;
    PrintToWin(wrs);
}

void frmSerial::Find_metki_Click() {
    CMD_zapros_metki(proto::kSearchId, proto::kTagPing);
}

}  // namespace busdesk
