#include "protocol/replies.h"

#include "protocol/commands.h"
#include "protocol/text.h"

namespace busdesk::proto {

bool IsFramed(const Bytes& rx) {
    return rx.size() >= kMinFramed && rx[0] == kReplyStart;
}

ReaderReading ParseReaderData(const Bytes& rx) {
    ReaderReading r;
    if (HasField(rx, 6, 4) && Le32(rx, 6) != 0) {
        r.current = Le32(rx, 6);
        r.temperature = SignedByte(rx[3]);
        r.address = rx[1];
        r.level = Le16(rx, 4);
    }
    if (HasField(rx, 10, 4)) r.empty = Le32(rx, 10);
    if (HasField(rx, 14, 4)) r.full = Le32(rx, 14);
    if (HasField(rx, 18, 2)) r.k = Le16(rx, 18);
    if (rx.size() > 21) r.mode = rx[20];
    return r;
}

SerialVersion ParseSerialNumber(const Bytes& rx) {
    SerialVersion s;
    if (!HasField(rx, 3, 4)) return s;
    s.serial = Le32(rx, 3);
    if (rx.size() != 10) return s;
    s.version = rx[7];
    s.prefix = rx[8];
    return s;
}

std::string VersionShown(const SerialVersion& s) {
    if (!s.version) return {};
    return (s.prefix != 0 ? Decimal(s.prefix) : std::string()) + VersionText(*s.version);
}

TagFields ParseTagPing(const Bytes& rx) {
    TagFields t;
    if (HasField(rx, 3, 4)) t.serial = Be32(rx, 3);
    if (HasField(rx, 7, 4)) t.id = Be32(rx, 7);
    if (HasField(rx, 11, 1)) t.level = SignedByte(rx[11]);
    return t;
}

TagFields ParseTagData(const Bytes& rx) {
    TagFields t;
    if (HasField(rx, 3, 4)) t.serial = Be32(rx, 3);
    if (HasField(rx, 7, 4)) t.id = Be32(rx, 7);
    if (HasField(rx, 11, 2)) t.interval = Be16(rx, 11);
    if (HasField(rx, 13, 1)) t.mode = rx[13];
    if (HasField(rx, 14, 1)) t.power = rx[14];
    if (HasField(rx, 15, 1)) t.version = rx[15];
    if (HasField(rx, 16, 2)) t.sleep = Be16(rx, 16);
    if (HasField(rx, 18, 1)) t.level = SignedByte(rx[18]);
    return t;
}

std::string TagIdShown(std::uint32_t id) {
    return IdText(static_cast<std::uint8_t>(id >> 24), static_cast<std::uint8_t>(id >> 16),
                  static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id));
}

std::optional<std::uint8_t> ParseModeConfirmation(const Bytes& rx) {
    if (!HasField(rx, 3, 1)) return std::nullopt;
    return rx[3];
}

std::optional<std::vector<std::uint8_t>> ParseSurveyAnswer(const Bytes& rx, bool due) {
    if (!due || rx.empty() || IsFramed(rx) || rx.size() >= kSurveyLimit) return std::nullopt;
    return rx;
}

ModeParts SplitMode(std::uint8_t mode) {
    return {static_cast<std::uint8_t>(mode & kModeRoleMask), (mode & kModeMaster) != 0,
            (mode & kModeFrequency) != 0};
}

}  // namespace busdesk::proto
