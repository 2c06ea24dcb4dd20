// Request frames: start byte, address, command, payload, CRC-8.
#include <optional>
#include <string>

#include "app/frmSerial.h"
#include "protocol/commands.h"
#include "protocol/crc.h"

namespace busdesk {

std::uint8_t frmSerial::crc(const std::uint8_t& data, std::uint8_t& cr) {
    cr = Crc8Step(data, cr);
    return cr;
}

std::optional<std::uint8_t> frmSerial::SelectedAddress() const {
    const std::optional<std::string> entry = CmbNet.SelectedEntry();
    if (!entry || entry->empty() || entry->size() > 3) return std::nullopt;
    unsigned v = 0;
    for (char ch : *entry) {
        if (ch < '0' || ch > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(ch - '0');
    }
    if (v > 255) return std::nullopt;
    return static_cast<std::uint8_t>(v);
}

// With no device selected there is no address to put in the frame: the result
// is empty, and callers treat that as "nothing to send".
Bytes frmSerial::form_zaprosa(const Bytes& wdd, std::uint8_t numcom) {
    const std::optional<std::uint8_t> address = SelectedAddress();
    if (!address) return {};
    Bytes frame;
    frame.reserve(wdd.size() + 4);
    std::uint8_t cr = 0;
    AppendWithCrc(frame, proto::kRequestStart, cr);
    AppendWithCrc(frame, *address, cr);
    AppendWithCrc(frame, numcom, cr);
    for (std::uint8_t b : wdd) AppendWithCrc(frame, b, cr);
    frame.push_back(cr);
    return frame;
}

Bytes frmSerial::Zapros_ser_num() {
    return form_zaprosa({}, proto::kSerialNumber);
}

}  // namespace busdesk
