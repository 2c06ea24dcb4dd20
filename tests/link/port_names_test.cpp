#include "link/port_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace busdesk {
namespace {

TEST(PortMap, DefaultPaths) {
    const std::pair<const char*, std::optional<std::string>> rows[] = {
        {"COM1:", "/dev/ttyS0"},     {"COM9:", "/dev/ttyS8"},    {"COM10:", "/dev/ttyS9"},
        {"COM255:", "/dev/ttyS254"}, {"com3:", "/dev/ttyS2"},    {"COM3", "/dev/ttyS2"},
        {"COM0:", std::nullopt},     {"COM256:", std::nullopt},  {"COM01:", std::nullopt},
        {"COM:", std::nullopt},      {"LPT1:", std::nullopt},    {"", std::nullopt},
        {"COM1::", std::nullopt},    {"COMX:", std::nullopt},    {" COM1:", std::nullopt},
        {"COM-1:", std::nullopt},    {"COM1000:", std::nullopt}, {"/dev/ttyS0", std::nullopt},
    };
    const PortMap map;
    for (const auto& [name, path] : rows) EXPECT_EQ(map.Resolve(name), path) << name;
}

TEST(PortMap, MappingTexts) {
    struct Row {
        const char* text;
        bool accepted;
        const char* port;  // where the mapping lands
        const char* path;
    };
    const Row rows[] = {
        {"COM1:=/dev/ttyUSB0", true, "COM1:", "/dev/ttyUSB0"},
        {"com2=/dev/pts/3", true, "COM2:", "/dev/pts/3"},
        {"COM12:=relative/tty", true, "COM12:", "relative/tty"},
        {"COM4:=/dev/odd=name", true, "COM4:", "/dev/odd=name"},
        {"", false, nullptr, nullptr},
        {"COM1:", false, nullptr, nullptr},
        {"COM1:=", false, nullptr, nullptr},
        {"=/dev/ttyUSB0", false, nullptr, nullptr},
        {"LPT1:=/dev/lp0", false, nullptr, nullptr},
        {"COM0:=/dev/ttyUSB0", false, nullptr, nullptr},
        {"/dev/ttyUSB0", false, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        PortMap map;
        EXPECT_EQ(map.AddMapping(row.text), row.accepted) << row.text;
        if (row.accepted) {
            EXPECT_EQ(map.Resolve(row.port), row.path) << row.text;
        }
        // A refused text changes nothing; an accepted one only its own port.
        for (int n = 1; n <= 9; ++n) {
            const std::string name = "COM" + std::to_string(n) + ":";
            if (row.accepted && name == row.port) continue;
            EXPECT_EQ(map.Resolve(name), "/dev/ttyS" + std::to_string(n - 1)) << row.text;
        }
    }
}

TEST(PortMap, LaterMappingOfAPortWins) {
    PortMap map;
    ASSERT_TRUE(map.AddMapping("COM1:=/dev/ttyUSB0"));
    ASSERT_TRUE(map.AddMapping("COM2:=/dev/ttyUSB1"));
    ASSERT_TRUE(map.AddMapping("com1=/dev/ttyACM0"));
    EXPECT_EQ(map.Resolve("COM1:"), "/dev/ttyACM0");
    EXPECT_EQ(map.Resolve("COM1"), "/dev/ttyACM0");
    EXPECT_EQ(map.Resolve("COM2:"), "/dev/ttyUSB1");
    EXPECT_FALSE(map.Map("LPT1:", "/dev/lp0"));
    EXPECT_EQ(map.Resolve("LPT1:"), std::nullopt);
}

}  // namespace
}  // namespace busdesk
