#pragma once

#include <cstdint>
#include <string>

#include "protocol/bytes.h"

// Pure text helpers shared by the dumps and the decoders. None of them touches
// the window.
namespace busdesk {

// Upper-case hexadecimal without leading zeros: 0x05 -> "5", 0x3E -> "3E".
std::string HexText(std::uint8_t b);

// Each byte's HexText followed by `separator`.
std::string HexDump(const Bytes& bytes, const std::string& separator);

// Decimal text of an unsigned value, no separators.
std::string Decimal(std::uint64_t v);

// Two's complement reading of one byte: 0xFF -> -1, 0x80 -> -128.
int SignedByte(std::uint8_t b);

// Version text: the decimal digits of the byte, each followed by a dot, three
// places in all: 134 -> "1.3.4.", 25 -> "2.5..", 7 -> "7...".
std::string VersionText(std::uint8_t v);

// Tag identifier text: first byte without a leading zero, the other three with
// two digits each: 00 00 00 01 -> "0000001".
std::string IdText(std::uint8_t b3, std::uint8_t b2, std::uint8_t b1, std::uint8_t b0);

// The character of one Windows-1251 byte, as UTF-8.
std::string Cp1251ToUtf8(std::uint8_t b);

// Whether `b` holds all `size` bytes of a field at `at`. A short reply is never
// read past its end: the decoders take a field only when this holds.
inline bool HasField(const Bytes& b, std::size_t at, std::size_t size) {
    return b.size() >= at + size;
}

// Little- and big-endian readers over a byte string; the caller checks bounds.
std::uint16_t Le16(const Bytes& b, std::size_t at);
std::uint32_t Le32(const Bytes& b, std::size_t at);
std::uint16_t Be16(const Bytes& b, std::size_t at);
std::uint32_t Be32(const Bytes& b, std::size_t at);

}  // namespace busdesk
