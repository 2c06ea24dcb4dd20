// Tag replies relayed by a reader: numbers are big-endian, the CRC is not checked.
#include <string>

#include "app/frmSerial.h"
#include "protocol/commands.h"
#include "protocol/replies.h"
#include "protocol/text.h"

namespace busdesk {

namespace {

// The fields a reply lacks keep what they showed.
void Ping(frmSerial& w, std::uint8_t code, const proto::TagFields& t) {
    w.MsgCom.caption = "Был ПИНГ.";
    if (t.serial) w.SerNumMetki.caption = Decimal(*t.serial);
    w.textOutCmd.caption = HexText(code);
    if (t.id) {
        w.outID.caption = proto::TagIdShown(*t.id);
        // Without an ID there is nothing to copy; the read keeps waiting for one.
        if (w.fill_id == 1) {
            w.ID_Metki.caption = w.outID.caption;
            w.fill_id = 0;
        }
    }
    if (t.level) w.UrPr.caption = std::to_string(*t.level);
}

void Data(frmSerial& w, std::uint8_t code, const proto::TagFields& t) {
    w.MsgCom.caption = "Считаны данные.";
    if (t.serial) w.outSN.caption = Decimal(*t.serial);
    w.textOutCmd.caption = HexText(code);
    if (t.id) w.outID.caption = w.ID_Metki.caption = proto::TagIdShown(*t.id);
    if (t.interval) w.outTime.caption = w.IntervalMetki.caption = Decimal(*t.interval);
    if (t.mode) w.outMode.caption = w.ModeMetki.caption = Decimal(*t.mode);
    if (t.power) w.outPower.caption = w.PowerMetki.caption = Decimal(*t.power);
    if (t.version) w.outVer.caption = VersionText(*t.version);
    if (t.sleep) w.sleep_time.caption = Decimal(*t.sleep);
    if (t.level) w.UrPr.caption = std::to_string(*t.level);
}

}  // namespace

void frmSerial::DecodeTagReply(const Bytes& rx, std::uint8_t code) {
    switch (code) {
        case proto::kTagPing:
            Ping(*this, code, proto::ParseTagPing(rx));
            break;
        case proto::kTagWrite:
            MsgCom.caption = "Установка параметров метки.";
            break;
        case proto::kTagRead:
            Data(*this, code, proto::ParseTagData(rx));
            break;
        default:
            break;
    }
}

}  // namespace busdesk
