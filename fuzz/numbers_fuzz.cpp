// The number readers against independent references: a pattern for what a
// decimal number looks like, the C library's round-to-nearest-even for its
// value, and strtoul for the identifier readers.
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

#include "app/numbers.h"

namespace {

const std::regex kDecimal("^[ \\t]*[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)[ \\t]*$");

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace busdesk;
    const std::string s(reinterpret_cast<const char*>(data), size);

    const auto value = ReadDecimal(s);
    const bool shaped = std::regex_match(s, kDecimal);
    Check(!value || shaped);
    std::size_t digits = 0;
    for (char c : s) digits += (c >= '0' && c <= '9') ? 1 : 0;
    // Up to 15 digits the long double reference is exact enough to round.
    if (shaped && digits <= 15) {
        Check(value.has_value());
        std::string bare;
        for (char c : s) {
            if (c != ' ' && c != '\t') bare += c;
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
