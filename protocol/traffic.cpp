// Traffic text: the dumps in CmdBoxText and txtRec.
#include "protocol/traffic.h"

#include "app/frmSerial.h"
#include "protocol/text.h"

namespace busdesk {

std::string CleanText(const Bytes& data) {
    std::string out;
    out.reserve(data.size() * 2);
    for (std::uint8_t b : data) {
        if (b == 0x5D) {
            out += "<ACK>";
        } else if (b == 0x5B) {
            out += "<NAK>";
        } else if (b >= 0x30) {
            out += Cp1251ToUtf8(b);
        } else if (b == 0x0D) {
            out += "<CR>";
        } else if (b == 0x0A) {
            out += "<LF>";
        } else {
            out += '@';
        }
    }
    return out;
}

std::string RequestEcho(const Bytes& frame) {
    return HexDump(frame, " ") + "\r\n\r\n" + CleanText(frame);
}

void frmSerial::PrintToWin(const Bytes& wdd) {
    CmdBoxText.caption = HexDump(wdd, "_");
}

std::string frmSerial::CleanStr(const Bytes& data) const {
    return CleanText(data);
}

void frmSerial::ShowEcho(const Bytes& frame) {
    txtRec.caption = RequestEcho(frame);
}

}  // namespace busdesk
