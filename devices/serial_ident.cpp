// Setting a tag's serial number, and the identifier request.
#include <optional>
#include <string>

#include "app/checks.h"
#include "app/frmSerial.h"
#include "app/messages.h"
#include "app/numbers.h"
#include "protocol/commands.h"
#include "protocol/crc.h"

namespace busdesk {

namespace {

void AppendBe32(Bytes& frame, std::uint32_t v, std::uint8_t& cr) {
    for (int shift = 24; shift >= 0; shift -= 8)
        AppendWithCrc(frame, static_cast<std::uint8_t>(v >> shift), cr);
}

// The checks both dialogs share, in their order. Returns the reader's address, the
// number typed and the tag identifier, or nothing when the handler is to stop
// (having said why, if there is anything to say).
struct TagTarget {
    std::uint8_t address;
    std::uint32_t number;
    std::uint32_t id;
};

std::optional<TagTarget> AskTagTarget(frmSerial& form, const char* prompt, const char* title,
                                      const Control& idSource) {
    // A pending request is dropped whatever the user does next.
    form.wrs.clear();
    const std::string answer = form.InputBox(prompt, title, "0");
    if (answer.empty()) return std::nullopt;
    const std::optional<std::uint8_t> address = form.SelectedAddress();
    if (!address) {
        form.MsgBox(msg::kNoDevice);
        form.ShowEcho(form.wrs);
        return std::nullopt;
    }
    const std::optional<std::uint32_t> number = ReadTagNumber(answer);
    if (!number) {
        form.MsgBox(msg::kRange2M);
        return std::nullopt;
    }
    const std::optional<std::uint32_t> id = HexIdFromRight(idSource.caption);
    if (!id) {
        form.MsgBox(msg::kRange2M);
        return std::nullopt;
    }
    return TagTarget{*address, *number, *id};
}

}  // namespace

void frmSerial::InstSN_Click() {
    const std::optional<TagTarget> t =
        AskTagTarget(*this, "Введите серийный номер метки", "Ввод серийного номера метки", outID);
    if (!t) return;
    std::uint8_t cr = 0;
    AppendWithCrc(wrs, proto::kRequestStart, cr);
    AppendWithCrc(wrs, t->address, cr);
    AppendWithCrc(wrs, proto::kTagSerial, cr);
    AppendBe32(wrs, t->id, cr);
    AppendBe32(wrs, t->number, cr);
    wrs.push_back(cr);
    ShowEcho(wrs);
}

void frmSerial::Set_ident_Click() {
    // The number asked for is checked but not sent: the request has no field for it.
    const std::optional<TagTarget> t =
        AskTagTarget(*this, "Введите ID номер метки", "Ввод ID номера метки", ID_Metki);
    if (!t) return;
    std::uint8_t cr = 0;
    AppendWithCrc(wrs, proto::kRequestStart, cr);
    AppendWithCrc(wrs, t->address, cr);
    AppendWithCrc(wrs, proto::kTagIdent, cr);
    AppendBe32(wrs, t->id, cr);
    wrs.push_back(cr);
    ShowEcho(wrs);
}

}  // namespace busdesk
