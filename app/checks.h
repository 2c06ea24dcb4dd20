#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The checks the window's dialogs make on typed values, apart from the
// handlers, so that a front end can make the same checks before anything is
// sent. Each failure names the message the window shows for it.
namespace busdesk {

// A new network address: 0..200, else msg::kRange200.
std::optional<std::uint8_t> ReadNetAddress(std::string_view text);

// A tag's serial number, or the number asked with a tag identifier:
// 0..2 000 000, else msg::kRange2M.
std::optional<std::uint32_t> ReadTagNumber(std::string_view text);

// The texts of the tag parameter boxes.
struct TagParamTexts {
    std::string serial, mode, interval, power, id, sleep;
};
struct TagParams {
    std::uint32_t serial;
    std::uint8_t mode;
    std::uint16_t interval;
    std::uint8_t power;
    std::array<std::uint8_t, 4> id;
    std::uint16_t sleep;
};
// Checked in the window's order, which decides the message when several are
// wrong. On failure `*message` is the message to show (null: none is shown).
std::optional<TagParams> ReadTagParams(const TagParamTexts& t, const char** message);

}  // namespace busdesk
