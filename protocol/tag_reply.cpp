// Tag replies relayed by a reader: numbers are big-endian, the CRC is not checked.
#include <string>

#include "app/frmSerial.h"
#include "protocol/commands.h"
#include "protocol/text.h"

namespace busdesk {

namespace {

std::string IdAt(const Bytes& rx, std::size_t at) {
    return IdText(rx[at], rx[at + 1], rx[at + 2], rx[at + 3]);
}

std::string LevelAt(const Bytes& rx, std::size_t at) {
    return std::to_string(SignedByte(rx[at]));
}

// A reply shorter than its layout is decoded only as far as whole fields go
// (HasField); the fields it lacks keep what they showed.
void Ping(frmSerial& w, const Bytes& rx, std::uint8_t code) {
    w.MsgCom.caption = "Был ПИНГ.";
    if (HasField(rx, 3, 4)) w.SerNumMetki.caption = Decimal(Be32(rx, 3));
    w.textOutCmd.caption = HexText(code);
    if (HasField(rx, 7, 4)) {
        w.outID.caption = IdAt(rx, 7);
        // Without an ID there is nothing to copy; the read keeps waiting for one.
        if (w.fill_id == 1) {
            w.ID_Metki.caption = w.outID.caption;
            w.fill_id = 0;
        }
    }
    if (HasField(rx, 11, 1)) w.UrPr.caption = LevelAt(rx, 11);
}

void Data(frmSerial& w, const Bytes& rx, std::uint8_t code) {
    w.MsgCom.caption = "Считаны данные.";
    if (HasField(rx, 3, 4)) w.outSN.caption = Decimal(Be32(rx, 3));
    w.textOutCmd.caption = HexText(code);
    if (HasField(rx, 7, 4)) w.outID.caption = w.ID_Metki.caption = IdAt(rx, 7);
    if (HasField(rx, 11, 2)) w.outTime.caption = w.IntervalMetki.caption = Decimal(Be16(rx, 11));
    if (HasField(rx, 13, 1)) w.outMode.caption = w.ModeMetki.caption = Decimal(rx[13]);
    if (HasField(rx, 14, 1)) w.outPower.caption = w.PowerMetki.caption = Decimal(rx[14]);
    if (HasField(rx, 15, 1)) w.outVer.caption = VersionText(rx[15]);
    if (HasField(rx, 16, 2)) w.sleep_time.caption = Decimal(Be16(rx, 16));
    if (HasField(rx, 18, 1)) w.UrPr.caption = LevelAt(rx, 18);
}

}  // namespace

void frmSerial::DecodeTagReply(const Bytes& rx, std::uint8_t code) {
    switch (code) {
        case proto::kTagPing:
            Ping(*this, rx, code);
            break;
        case proto::kTagWrite:
            MsgCom.caption = "Установка параметров метки.";
            break;
        case proto::kTagRead:
            Data(*this, rx, code);
            break;
        default:
            break;
    }
}

}  // namespace busdesk
