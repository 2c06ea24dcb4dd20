#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// Number readers for every input box and dialog: the one place where typed text
// becomes a number. None of them touches the window.
namespace busdesk {

// A decimal number as a user types it: blanks (spaces and tabs) around it, an
// optional sign, digits with an optional fractional part after ".", which is
// rounded to the nearest integer, a tie to the even one. Exponents, digit
// grouping, other decimal marks and everything else fail, as does a value whose
// magnitude does not fit 63 bits (however many digits it has).
std::optional<std::int64_t> ReadDecimal(std::string_view text);

// ReadDecimal narrowed to a type; a rounded value outside the type's range fails.
std::optional<std::uint8_t> ReadUByte(std::string_view text);
std::optional<std::int16_t> ReadInt16(std::string_view text);
std::optional<std::int32_t> ReadInt32(std::string_view text);

// How a tag identifier text fails, tested in this order: more than 8 characters
// (counted as characters, not bytes), then any character other than 0-9, A-F,
// a-f. Nothing is trimmed; the empty text is valid and means 0.
enum class HexIdCheck { Ok, TooLong, NotHex };
HexIdCheck CheckHexId(std::string_view text);
// The message a failed check shows, or nullptr when the text passed.
const char* HexIdMessage(HexIdCheck check);

// The identifier read in pairs of digits from the right, the right digit of a
// pair being the low half; an odd leading digit is the top byte by itself.
std::optional<std::uint32_t> HexIdFromRight(std::string_view text);

// The identifier bytes, most significant first, read in pairs from the left (an
// odd first digit forms a byte alone) and padded in front with zero bytes to four.
std::optional<std::array<std::uint8_t, 4>> HexIdFromLeft(std::string_view text);

}  // namespace busdesk
