#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace busdesk::sim {

// A reader (or reader-indicator, bridge, ...) on the bus. Its level is not
// stored: it follows from the current value and the two calibration points.
struct ReaderConfig {
    std::uint8_t address = 1;
    std::uint8_t mode = 0x02;  // role in bits 0-5, frequency output 0x40, master 0x80
    std::uint32_t serial = 0;
    std::uint8_t version = 134;
    std::uint8_t prefix = 0;  // shown before the version when not 0
    std::int8_t temperature = 20;
    std::uint32_t current = 50000;  // raw measured value
    std::uint32_t lo = 20000;       // current value at an empty level
    std::uint32_t hi = 90000;       // current value at a full level
    std::uint16_t k = 100;
    bool present = true;  // false: the device is silent
};

// A radio tag, heard by the reader at `reader`.
struct TagConfig {
    std::uint8_t reader = 1;
    std::uint32_t serial = 0;
    std::uint32_t id = 0;
    std::uint16_t interval = 300;
    std::uint8_t mode = 2;
    std::uint8_t power = 100;
    std::uint8_t version = 25;
    std::uint16_t sleep = 60;
    std::int8_t level = -60;  // reception level at the reader
};

struct BusConfig {
    std::vector<ReaderConfig> readers;
    std::vector<TagConfig> tags;
    // Slow changes of current, temperature and tag levels over time.
    bool drift = true;
    // Time from the last byte of a request to the first byte of its reply.
    int replyDelayMs = 3;
    // Time a byte takes on the line; 0 writes each reply at once.
    int byteTimeUs = 521;  // 10 bits at 19200 baud
};

// Readers 1 (reader), 5 (reader-indicator) and 7 (bridge, master flag), two tags
// heard by reader 1.
BusConfig DefaultBusConfig();

// Parses a bus description, one device per line:
//   reader ADDRESS [mode=N] [serial=N] [version=N] [prefix=N] [temp=N]
//                  [current=N] [lo=N] [hi=N] [k=N] [silent]
//   tag READER [serial=N] [id=HEX] [interval=N] [mode=N] [power=N]
//              [version=N] [sleep=N] [level=N]
//   drift off | drift on
// Blank lines and text after '#' are ignored; ';' separates devices like a
// line break, so a whole bus fits in one command-line argument. On error,
// returns nullopt and sets `error` to a message naming the line.
std::optional<BusConfig> ParseBusConfig(const std::string& text, std::string& error);

}  // namespace busdesk::sim
