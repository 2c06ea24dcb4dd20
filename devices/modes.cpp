// Reader modes: the role options, the two flags and the mode byte both ways.
#include <optional>

#include "app/frmSerial.h"
#include "protocol/commands.h"
#include "protocol/crc.h"

namespace busdesk {

namespace {

constexpr std::uint8_t kRoleMask = proto::kModeRoleMask;
constexpr std::uint8_t kFrequencyFlag = proto::kModeFrequency;
constexpr std::uint8_t kMasterFlag = proto::kModeMaster;

// Role values as the devices number them.
constexpr std::uint8_t kBridge = proto::kRoleBridge;
constexpr std::uint8_t kReaderIndicator = proto::kRoleReaderIndicator;
constexpr std::uint8_t kReader = proto::kRoleReader;
constexpr std::uint8_t kRepeater = proto::kRoleRepeater;
constexpr std::uint8_t kTag = proto::kRoleTag;

struct Role {
    std::uint8_t value;
    Control frmSerial::*option;
    void (frmSerial::*click)();
};

// In the order Set_mode tests them; the last selected one wins.
constexpr Role kRoles[] = {
    {kBridge, &frmSerial::R485, &frmSerial::R485_Click},
    {kReader, &frmSerial::R_a, &frmSerial::R_a_Click},
    {kReaderIndicator, &frmSerial::R_f, &frmSerial::R_f_Click},
    {kRepeater, &frmSerial::R_p, &frmSerial::R_p_Click},
    {kTag, &frmSerial::R_p485, &frmSerial::R_p485_Click},
};

// Only the bridge role offers the flags; any other role drops them.
void HideFlags(frmSerial& w) {
    for (Control* box : {&w.iinv, &w.usredn}) {
        box->visible = false;
        box->value = 0;
    }
    w.invers.visible = false;
    w.usred.visible = false;
}

}  // namespace

void frmSerial::R_a_Click() {
    HideFlags(*this);
}
void frmSerial::R_f_Click() {
    HideFlags(*this);
}
void frmSerial::R_p485_Click() {
    HideFlags(*this);
}
void frmSerial::R_p_Click() {
    HideFlags(*this);
}

void frmSerial::R485_Click() {
    for (Control* c : {&iinv, &invers, &usredn, &usred}) c->visible = true;
}

void frmSerial::Set_mode_Click() {
    std::uint8_t mode = 0;
    for (const Role& r : kRoles) {
        if ((this->*r.option).value != 0) mode = r.value;
    }
    // A greyed box counts as set, and the boxes count even while hidden.
    if (iinv.value != 0) mode |= kMasterFlag;
    if (usredn.value != 0) mode |= kFrequencyFlag;

    const std::optional<std::uint8_t> address = SelectedAddress();
    if (!address) return;

    // Appended, not replaced: a frame still pending goes out in the same write.
    std::uint8_t cr = 0;
    AppendWithCrc(wrs, proto::kRequestStart, cr);
    AppendWithCrc(wrs, *address, cr);
    AppendWithCrc(wrs, proto::kSetMode, cr);
    AppendWithCrc(wrs, mode, cr);
    wrs.push_back(cr);
    ShowEcho(wrs);
    mode_yes = true;
}

void frmSerial::Out_modes(const std::uint8_t& nn) {
    iinv.value = (nn & kMasterFlag) != 0 ? 1 : 0;
    const std::uint8_t role = nn & kRoleMask;
    for (const Role& r : kRoles) {
        if (r.value != role) continue;
        for (const Role& other : kRoles) (this->*other.option).value = 0;
        (this->*r.option).value = 1;
        // Selecting a role behaves as the user's click on it would.
        (this->*r.click)();
        break;
    }
    usredn.value = (nn & kFrequencyFlag) != 0 ? 1 : 0;
    mode_yes = false;
}

}  // namespace busdesk
