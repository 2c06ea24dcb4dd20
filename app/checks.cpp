#include "app/checks.h"

#include "app/messages.h"
#include "app/numbers.h"

namespace busdesk {

namespace {
constexpr std::uint8_t kHighestAddress = 200;
constexpr std::int32_t kHighestNumber = 2'000'000;
}  // namespace

std::optional<std::uint8_t> ReadNetAddress(std::string_view text) {
    const std::optional<std::uint8_t> v = ReadUByte(text);
    if (!v || *v > kHighestAddress) return std::nullopt;
    return v;
}

std::optional<std::uint32_t> ReadTagNumber(std::string_view text) {
    const std::optional<std::int32_t> v = ReadInt32(text);
    if (!v || *v < 0 || *v > kHighestNumber) return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::optional<TagParams> ReadTagParams(const TagParamTexts& t, const char** message) {
    *message = msg::kRange2M;
    const std::optional<std::int32_t> serial = ReadInt32(t.serial);
    if (!serial) return std::nullopt;
    const std::optional<std::int32_t> mode = ReadInt32(t.mode);
    if (!mode) return std::nullopt;
    const std::optional<std::int32_t> interval = ReadInt32(t.interval);
    if (!interval) return std::nullopt;
    const std::optional<std::int32_t> power = ReadInt32(t.power);
    if (!power) return std::nullopt;
    if (*mode > 255) return std::nullopt;
    if (*interval < 1 || *interval > 65000) return std::nullopt;
    if (*power < 3 || *power > 247) return std::nullopt;
    if (*serial < 0) return std::nullopt;

    if (const char* problem = HexIdMessage(CheckHexId(t.id))) {
        *message = problem;
        return std::nullopt;
    }
    const std::optional<std::array<std::uint8_t, 4>> id = HexIdFromLeft(t.id);
    if (!id) {
        *message = nullptr;
        return std::nullopt;
    }

    if (*mode < 0) return std::nullopt;
    const std::optional<std::int16_t> sleep = ReadInt16(t.sleep);
    if (!sleep || *sleep < 0) return std::nullopt;
    *message = nullptr;
    return TagParams{static_cast<std::uint32_t>(*serial),
                     static_cast<std::uint8_t>(*mode),
                     static_cast<std::uint16_t>(*interval),
                     static_cast<std::uint8_t>(*power),
                     *id,
                     static_cast<std::uint16_t>(*sleep)};
}

}  // namespace busdesk
