#include "protocol/text.h"

#include <array>

namespace busdesk {

std::string HexText(std::uint8_t b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    if (b >= 0x10) s += kDigits[b >> 4];
    s += kDigits[b & 0x0F];
    return s;
}

std::string HexDump(const Bytes& bytes, const std::string& separator) {
    std::string s;
    s.reserve(bytes.size() * (2 + separator.size()));
    for (std::uint8_t b : bytes) {
        s += HexText(b);
        s += separator;
    }
    return s;
}

std::string Decimal(std::uint64_t v) {
    return std::to_string(v);
}

int SignedByte(std::uint8_t b) {
    return b < 128 ? b : b - 256;
}

std::string VersionText(std::uint8_t v) {
    const std::string digits = std::to_string(v);
    std::string s;
    for (std::size_t i = 0; i < 3; ++i) {
        if (i < digits.size()) s += digits[i];
        s += '.';
    }
    return s;
}

std::string IdText(std::uint8_t b3, std::uint8_t b2, std::uint8_t b1, std::uint8_t b0) {
    std::string s = HexText(b3);
    for (std::uint8_t b : {b2, b1, b0}) {
        if (b < 0x10) s += '0';
        s += HexText(b);
    }
    return s;
}

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Windows-1251, 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order. The one
// unassigned byte, 0x98, keeps its own value as Windows itself does.
constexpr std::array<char16_t, 64> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

}  // namespace

std::string Cp1251ToUtf8(std::uint8_t b) {
    std::string s;
    if (b < 0x80) {
        s += static_cast<char>(b);
    } else if (b < 0xC0) {
        AppendUtf8(s, kCp1251High[b - 0x80U]);
    } else {
        AppendUtf8(s, char32_t{0x0410} + (b - 0xC0U));
    }
    return s;
}

std::uint16_t Le16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t Be16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

std::uint32_t Be32(const Bytes& b, std::size_t at) {
    return (static_cast<std::uint32_t>(b[at]) << 24) |
           (static_cast<std::uint32_t>(b[at + 1]) << 16) |
           (static_cast<std::uint32_t>(b[at + 2]) << 8) | static_cast<std::uint32_t>(b[at + 3]);
}

}  // namespace busdesk
