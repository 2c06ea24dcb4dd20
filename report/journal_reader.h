#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/trend.h"

// A session journal read back, one line at a time: each line becomes an Entry
// or is skipped. Nothing here trusts the file: a torn line, bytes that are no
// JSON, JSON that no BusDesk wrote, a field of the wrong type or out of range
// are all skipped and counted, never a crash.
namespace busdesk::report {

using engine::TimeMs;

enum class Ev : std::uint8_t { Start, Open, Close, Tx, Rx, Silent, WriteError, Command, Result };

// The numbers of a `decoded` object; only what the line held.
struct DecodedValues {
    // Reader data.
    std::optional<std::uint16_t> level;
    std::optional<int> temperature;
    std::optional<std::uint32_t> current;
    std::optional<std::uint32_t> empty;
    std::optional<std::uint32_t> full;
    std::optional<std::uint16_t> k;
    std::optional<std::uint8_t> mode;
    // Serial number (and tag serial number).
    std::optional<std::uint32_t> serial;
    std::optional<std::uint8_t> version;  // the byte
    std::optional<std::uint8_t> versionPrefix;
    std::optional<std::string> versionText;
    // Tags.
    std::optional<std::uint32_t> id;
    std::optional<std::uint16_t> interval;
    std::optional<std::uint8_t> power;
    std::optional<std::uint16_t> sleep;
    std::optional<int> tagLevel;  // reception level
};

struct Entry {
    Ev ev = Ev::Start;
    TimeMs time = 0;
    int utcOffsetMinutes = 0;  // of the line's own time
    std::optional<std::uint8_t> addr;
    std::optional<std::uint8_t> code;
    std::string meaning;
    std::optional<bool> crc;
    std::optional<DecodedValues> decoded;
    std::vector<std::uint8_t> addresses;  // a survey answer
    std::vector<std::uint8_t> bytes;      // `hex`
    std::string text;                     // start: program; open: port; command: text
    std::string reason;                   // open, result
    bool ok = false;                      // open: ok; result: confirmed
    std::uint64_t id = 0;                 // command, result
    std::string what;                     // command
    // command: `values` as name and JSON text, in the order written.
    std::vector<std::pair<std::string, std::string>> values;
};

// "2026-12-08T16:18:53.123+03:00" as milliseconds since 1970 UTC and the
// offset; nullopt when it is not that form or names no real moment.
std::optional<std::pair<TimeMs, int>> ParseIsoTime(std::string_view text);

// One line (without its line break); nullopt when it is to be skipped.
std::optional<Entry> ParseLine(std::string_view line);

// The longest line taken: a journal line is well under 1 KB; a file without
// line breaks must not be read into memory whole.
inline constexpr std::size_t kMaxLine = 64 * 1024;

struct ReadCounts {
    std::size_t lines = 0;    // taken
    std::size_t skipped = 0;  // torn, not JSON, not BusDesk's, too long
    std::string error;        // in Russian; the file could not be read
};

// Streams the file at `path` line by line into `take`. Blank lines are
// neither taken nor counted. Only a regular file is read: a FIFO or a device
// would never end.
ReadCounts ReadJournal(const std::string& path, const std::function<void(const Entry&)>& take);

}  // namespace busdesk::report
