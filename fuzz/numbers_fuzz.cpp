// The number readers against independent references: a plain scan for what a
// decimal number looks like, the C library's round-to-nearest-even for its
// value, and strtoul for the identifier readers.
//
// Nothing here is worth keeping between inputs: every input starts from
// nothing but the rounding mode, which is set again each time.
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/numbers.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool Blank(char c) {
    return c == ' ' || c == '\t';
}
bool Digit(char c) {
    return c >= '0' && c <= '9';
}

// Blanks, an optional sign, digits with an optional "." and more digits (at
// least one digit in all), blanks. One pass with no recursion, whatever the
// length.
bool LooksDecimal(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && Blank(s[i])) ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && Digit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && Digit(s[i])) ++i, ++digits;
    }
    while (i < s.size() && Blank(s[i])) ++i;
    return digits > 0 && i == s.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace busdesk;
    const std::string s(reinterpret_cast<const char*>(data), size);

    const auto value = ReadDecimal(s);
    const bool shaped = LooksDecimal(s);
    Check(!value || shaped);
    std::size_t digits = 0;
    for (char c : s) digits += Digit(c) ? 1 : 0;
    // Up to 15 digits the long double reference is exact enough to round.
    if (shaped && digits <= 15) {
        Check(value.has_value());
        std::string bare;
        for (char c : s) {
            if (!Blank(c)) bare += c;
        }
        std::fesetround(FE_TONEAREST);
        const long double rounded = std::nearbyintl(std::strtold(bare.c_str(), nullptr));
        Check(static_cast<long double>(*value) == rounded);
    }

    const HexIdCheck check = CheckHexId(s);
    const auto fromRight = HexIdFromRight(s);
    const auto fromLeft = HexIdFromLeft(s);
    Check((check == HexIdCheck::Ok) == fromRight.has_value());
    Check(fromRight.has_value() == fromLeft.has_value());
    if (fromRight) {
        const auto expected =
            s.empty() ? 0U : static_cast<std::uint32_t>(std::stoul(s, nullptr, 16));
        const std::uint32_t left = (std::uint32_t{(*fromLeft)[0]} << 24) |
                                   (std::uint32_t{(*fromLeft)[1]} << 16) |
                                   (std::uint32_t{(*fromLeft)[2]} << 8) | (*fromLeft)[3];
        Check(*fromRight == expected && left == expected);
    }
    ReadUByte(s);
    ReadInt16(s);
    ReadInt32(s);
    return 0;
}
