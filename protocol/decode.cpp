// Reply decoding: recognises a framed reply, dispatches on its code and shows
// what it carries; an unframed reception is the survey answer when one is due.
#include <string>
#include <vector>

#include "app/frmSerial.h"
#include "protocol/commands.h"
#include "protocol/replies.h"
#include "protocol/text.h"

namespace busdesk {

namespace {

constexpr std::uint16_t kBarLimit = 1024;

// The fields a reply lacks keep what they showed.
void ReaderData(frmSerial& w, const Bytes& rx, std::uint8_t c) {
    if (rx.back() != c) return;
    const proto::ReaderReading r = proto::ParseReaderData(rx);
    if (r.current) {
        w.tek.caption = Decimal(*r.current);
        w.temp.caption = std::to_string(*r.temperature) + " °C";
        w.ne.caption = Decimal(*r.address);
        if (*r.level < kBarLimit) w.ProgressBar1.value = *r.level;
        w.uroven.caption = Decimal(*r.level);
    }
    if (r.empty) w.lo.caption = Decimal(*r.empty);
    if (r.full) w.hi.caption = Decimal(*r.full);
    if (r.k) w.ko.caption = Decimal(*r.k);
    if (r.mode && w.mode_yes) w.Out_modes(*r.mode);
}

void SerialNumber(frmSerial& w, const Bytes& rx, std::uint8_t) {
    const proto::SerialVersion s = proto::ParseSerialNumber(rx);
    if (!s.serial) {
        w.sn.caption = "????????";
        return;
    }
    w.sn.caption = Decimal(*s.serial);
    if (!s.version) return;
    w.vv.caption = proto::VersionShown(s);
    if (*s.version >= 130) w.swtag130();
    if (*s.version >= 131) w.swtag131();
    if (*s.version >= 134) w.swtag134();
}

void TagReply(frmSerial& w, const Bytes& rx, std::uint8_t) {
    w.DecodeTagReply(rx, rx[2]);
}

void ModeConfirmed(frmSerial& w, const Bytes& rx, std::uint8_t) {
    if (const auto mode = proto::ParseModeConfirmation(rx)) w.Out_modes(*mode);
}

struct Entry {
    std::uint8_t code;
    const char* status;  // nullptr: the status line is left to the decoding
    void (*decode)(frmSerial&, const Bytes&, std::uint8_t);
};

constexpr Entry kDispatch[] = {
    {proto::kReaderData, nullptr, ReaderData},
    {proto::kSerialNumber, nullptr, SerialNumber},
    {proto::kTagPing, nullptr, TagReply},
    {proto::kTagWrite, nullptr, TagReply},
    {proto::kTagRead, nullptr, TagReply},
    {proto::kSetLowerLevel, " Установлен нижний уровень.", nullptr},
    {proto::kSetMode, " Установлен новый режим.", ModeConfirmed},
    {proto::kSetUpperLevel, " Установлен верхний уровень.", nullptr},
    {proto::kSetNetAddress, " Установлен сетевой номер.", nullptr},
    {0xF8, " Установлено кол. усреднение.", nullptr},
    {0xF3, " Снято усреднение.", nullptr},
    {0xF6, "Установлен серийный номер.", nullptr},
    {0xFD, "Изменена инверсия.", nullptr},
};

void SurveyResult(frmSerial& w, const Bytes& rx, const std::vector<std::uint8_t>& addresses) {
    std::string found;
    w.CmbNet.list.clear();
    for (std::uint8_t address : addresses) {
        w.CmbNet.list.push_back(Decimal(address));
        found += Decimal(address);
        found += ' ';
    }
    w.CmbNet.listIndex = 0;
    w.CmbNet.caption = w.CmbNet.list.front();
    w.netdev.caption = found;
    w.txtRec.caption = HexDump(rx, " ");
    w.wrs = w.Zapros_ser_num();
    w.MsgCom.caption = "Произошел опрос сети.";
}

}  // namespace

void frmSerial::DecodeReply(const Bytes& rx, std::uint8_t c) {
    // The tick never hands over an empty reception; there is nothing to decode.
    if (rx.empty()) return;
    using Kind = ReceptionObserver::Kind;
    const auto tell = [this, &rx](Kind kind) {
        if (receptionObserver != nullptr) receptionObserver->Received(rx, kind);
    };
    if (proto::IsFramed(rx)) {
        const bool crcGood = rx.back() == c;
        for (const Entry& e : kDispatch) {
            if (e.code != rx[2]) continue;
            tell(crcGood ? Kind::Reply : Kind::BadCrc);
            if (e.status != nullptr) MsgCom.caption = e.status;
            if (e.decode != nullptr) e.decode(*this, rx, c);
            return;
        }
        tell(crcGood ? Kind::UnknownCode : Kind::BadCrc);
        MsgCom.caption = " Непонятно что пришло! ";
        MsgBox("Пришла какая-то фигня");
        return;
    }
    const auto survey = proto::ParseSurveyAnswer(rx, net_opr);
    tell(survey ? Kind::Survey : Kind::Other);
    if (survey) SurveyResult(*this, rx, *survey);
    net_opr = false;
}

}  // namespace busdesk
