// Number readers: where typed text becomes a number.
#include "app/numbers.h"

#include <limits>

#include "app/messages.h"

namespace busdesk {

namespace {

constexpr std::uint64_t kMaxMagnitude = std::numeric_limits<std::int64_t>::max();

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// UTF-8 characters, so that a Cyrillic letter counts once, not twice.
std::size_t CharCount(std::string_view text) {
    std::size_t n = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0U) != 0x80U) ++n;
    }
    return n;
}

template <typename T>
std::optional<T> Narrow(std::optional<std::int64_t> v) {
    if (!v || *v < std::numeric_limits<T>::min() || *v > std::numeric_limits<T>::max())
        return std::nullopt;
    return static_cast<T>(*v);
}

}  // namespace

std::optional<std::int64_t> ReadDecimal(std::string_view text) {
    std::size_t i = 0;
    std::size_t end = text.size();
    while (i < end && IsBlank(text[i])) ++i;
    while (end > i && IsBlank(text[end - 1])) --end;

    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    std::uint64_t magnitude = 0;
    std::size_t digits = 0;
    for (; i < end && IsDigit(text[i]); ++i, ++digits) {
        const auto d = static_cast<std::uint64_t>(text[i] - '0');
        // Checked before it happens: a long run of digits fails instead of wrapping.
        if (magnitude > (kMaxMagnitude - d) / 10) return std::nullopt;
        magnitude = magnitude * 10 + d;
    }

    // The fraction decides only the rounding: above, below or exactly at one half.
    int half = -1;  // -1 below one half, 0 exactly one half, 1 above
    if (i < end && text[i] == '.') {
        ++i;
        bool first = true;
        for (; i < end && IsDigit(text[i]); ++i, ++digits) {
            if (first) {
                half = text[i] > '5' ? 1 : text[i] == '5' ? 0 : -1;
                first = false;
            } else if (half == 0 && text[i] != '0') {
                half = 1;
            }
        }
    }
    if (digits == 0 || i != end) return std::nullopt;

    if (half > 0 || (half == 0 && magnitude % 2 == 1)) {
        if (magnitude == kMaxMagnitude) return std::nullopt;
        ++magnitude;
    }
    const auto value = static_cast<std::int64_t>(magnitude);
    return negative ? -value : value;
}

std::optional<std::uint8_t> ReadUByte(std::string_view text) {
    return Narrow<std::uint8_t>(ReadDecimal(text));
}

std::optional<std::int16_t> ReadInt16(std::string_view text) {
    return Narrow<std::int16_t>(ReadDecimal(text));
}

std::optional<std::int32_t> ReadInt32(std::string_view text) {
    return Narrow<std::int32_t>(ReadDecimal(text));
}

HexIdCheck CheckHexId(std::string_view text) {
    if (CharCount(text) > 8) return HexIdCheck::TooLong;
    for (char c : text) {
        if (HexDigit(c) < 0) return HexIdCheck::NotHex;
    }
    return HexIdCheck::Ok;
}

const char* HexIdMessage(HexIdCheck check) {
    switch (check) {
        case HexIdCheck::TooLong:
            return msg::kTooManyIdChars;
        case HexIdCheck::NotHex:
            return msg::kNotHex;
        case HexIdCheck::Ok:
            break;
    }
    return nullptr;
}

std::optional<std::uint32_t> HexIdFromRight(std::string_view text) {
    if (CheckHexId(text) != HexIdCheck::Ok) return std::nullopt;
    std::uint32_t id = 0;
    unsigned shift = 0;
    for (std::size_t end = text.size(); end > 0; shift += 8) {
        const std::size_t start = end >= 2 ? end - 2 : 0;
        unsigned byte = 0;
        for (std::size_t k = start; k < end; ++k)
            byte = byte * 16 + static_cast<unsigned>(HexDigit(text[k]));
        id |= static_cast<std::uint32_t>(byte) << shift;
        end = start;
    }
    return id;
}

std::optional<std::array<std::uint8_t, 4>> HexIdFromLeft(std::string_view text) {
    if (CheckHexId(text) != HexIdCheck::Ok) return std::nullopt;
    std::array<std::uint8_t, 4> bytes{};
    const std::size_t count = (text.size() + 1) / 2;
    std::size_t at = 4 - count;
    for (std::size_t k = 0; k < text.size(); ++at) {
        const std::size_t width = (k == 0 && text.size() % 2 == 1) ? 1 : 2;
        unsigned byte = 0;
        for (std::size_t j = k; j < k + width; ++j)
            byte = byte * 16 + static_cast<unsigned>(HexDigit(text[j]));
        bytes[at] = static_cast<std::uint8_t>(byte);
        k += width;
    }
    return bytes;
}

}  // namespace busdesk
