// Reply decoding: recognises a framed reply, dispatches on its code and shows
// what it carries; an unframed reception is the survey answer when one is due.
#include <string>

#include "app/frmSerial.h"
#include "protocol/commands.h"
#include "protocol/text.h"

namespace busdesk {

namespace {

constexpr std::size_t kMinFramed = 4;
constexpr std::size_t kSurveyLimit = 20;  // a longer list is not a survey answer
constexpr std::uint16_t kBarLimit = 1024;

// A reply shorter than its layout is decoded only as far as whole fields go
// (HasField); the fields it lacks keep what they showed.
void ReaderData(frmSerial& w, const Bytes& rx, std::uint8_t c) {
    if (rx.back() != c) return;
    // The current value gates the readings: 0 means the device has none yet.
    if (HasField(rx, 6, 4) && Le32(rx, 6) != 0) {
        w.tek.caption = Decimal(Le32(rx, 6));
        w.temp.caption = std::to_string(SignedByte(rx[3])) + " °C";
        w.ne.caption = Decimal(rx[1]);
        const std::uint16_t level = Le16(rx, 4);
        if (level < kBarLimit) w.ProgressBar1.value = level;
        w.uroven.caption = Decimal(level);
    }
    if (HasField(rx, 10, 4)) w.lo.caption = Decimal(Le32(rx, 10));
    if (HasField(rx, 14, 4)) w.hi.caption = Decimal(Le32(rx, 14));
    if (HasField(rx, 18, 2)) w.ko.caption = Decimal(Le16(rx, 18));
    if (rx.size() > 21 && w.mode_yes) w.Out_modes(rx[20]);
}

void SerialNumber(frmSerial& w, const Bytes& rx, std::uint8_t) {
    if (!HasField(rx, 3, 4)) {
        w.sn.caption = "????????";
        return;
    }
    w.sn.caption = Decimal(Le32(rx, 3));
    if (rx.size() != 10) return;
    const std::uint8_t version = rx[7];
    const std::uint8_t prefix = rx[8];
    w.vv.caption = (prefix != 0 ? Decimal(prefix) : std::string()) + VersionText(version);
    if (version >= 130) w.swtag130();
    if (version >= 131) w.swtag131();
    if (version >= 134) w.swtag134();
}

void TagReply(frmSerial& w, const Bytes& rx, std::uint8_t) {
    w.DecodeTagReply(rx, rx[2]);
}

void ModeConfirmed(frmSerial& w, const Bytes& rx, std::uint8_t) {
    w.Out_modes(rx[3]);
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

void SurveyResult(frmSerial& w, const Bytes& rx) {
    std::string found;
    w.CmbNet.list.clear();
    for (std::uint8_t address : rx) {
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
    if (rx[0] == proto::kReplyStart && rx.size() >= kMinFramed) {
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
    const bool survey = net_opr && rx.size() < kSurveyLimit;
    tell(survey ? Kind::Survey : Kind::Other);
    if (survey) SurveyResult(*this, rx);
    net_opr = false;
}

}  // namespace busdesk
