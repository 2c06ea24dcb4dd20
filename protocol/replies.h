#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/bytes.h"

// What a reception says, field by field, without a window: the window's
// decoders show these fields and the engine's bus events carry them, so both
// read the bytes the same way. A reply shorter than its layout yields only
// the fields it holds whole (HasField); the rest stay empty.
namespace busdesk::proto {

inline constexpr std::size_t kMinFramed = 4;
inline constexpr std::size_t kSurveyLimit = 20;  // a longer list is not a survey answer

// Start byte and room for address, code and CRC.
bool IsFramed(const Bytes& rx);

// A reader data reply. The current gates the readings: 0 means the device has
// none yet, and then address, temperature, level and current are all empty.
struct ReaderReading {
    std::optional<std::uint8_t> address;
    std::optional<int> temperature;  // °C
    std::optional<std::uint16_t> level;
    std::optional<std::uint32_t> current;
    std::optional<std::uint32_t> empty;
    std::optional<std::uint32_t> full;
    std::optional<std::uint16_t> k;
    std::optional<std::uint8_t> mode;  // the mode byte, in the long form only
};
ReaderReading ParseReaderData(const Bytes& rx);

// The serial number reply; the version only in its ten-byte form.
struct SerialVersion {
    std::optional<std::uint32_t> serial;
    std::optional<std::uint8_t> version;
    std::uint8_t prefix = 0;  // shown before the version when not 0
};
SerialVersion ParseSerialNumber(const Bytes& rx);
// "2" + "1.3.4." as the window shows it; empty without a version.
std::string VersionShown(const SerialVersion& s);

// A tag reply relayed by a reader (numbers big-endian). A ping carries serial,
// identifier and reception level; a data reply every parameter.
struct TagFields {
    std::optional<std::uint32_t> serial;
    std::optional<std::uint32_t> id;
    std::optional<std::uint16_t> interval;
    std::optional<std::uint8_t> mode;
    std::optional<std::uint8_t> power;
    std::optional<std::uint8_t> version;
    std::optional<std::uint16_t> sleep;
    std::optional<int> level;
};
TagFields ParseTagPing(const Bytes& rx);
TagFields ParseTagData(const Bytes& rx);
// The identifier as the window writes it ("1A2B3C4D", "0000001").
std::string TagIdShown(std::uint32_t id);

// The mode a mode confirmation carries.
std::optional<std::uint8_t> ParseModeConfirmation(const Bytes& rx);

// The addresses of a survey answer: an unframed reception short enough, when
// one is due.
std::optional<std::vector<std::uint8_t>> ParseSurveyAnswer(const Bytes& rx, bool due);

// The parts of a mode byte.
struct ModeParts {
    std::uint8_t role;
    bool master;
    bool frequency;
};
ModeParts SplitMode(std::uint8_t mode);

}  // namespace busdesk::proto
