// Reading the parameters of the current tag, named by the identifier in outID.
#include <optional>
#include <string>

#include "app/frmSerial.h"
#include "app/messages.h"
#include "app/numbers.h"
#include "protocol/commands.h"

namespace busdesk {

void frmSerial::ReadParamMetki_Click() {
    const std::string& text = outID.caption;
    if (const char* problem = HexIdMessage(CheckHexId(text))) {
        MsgBox(problem);
        return;
    }
    const std::optional<std::uint32_t> id = HexIdFromRight(text);
    if (!id) return;
    CMD_zapros_metki(*id, proto::kTagRead);
    // No reader selected: the tag request queued nothing, so no reply is awaited.
    if (wrs.empty()) return;
    fill_id = 1;
}

}  // namespace busdesk
