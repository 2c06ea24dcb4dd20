#include "link/port_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/port_discovery.h"

namespace busdesk {
namespace {

using Kind = SerialDevice::Kind;

SerialDevice Adapter(const std::string& node, const std::string& byId, const std::string& maker,
                     const std::string& product, const std::string& serial) {
    SerialDevice d;
    d.kind = Kind::Adapter;
    d.node = node;
    d.byId = byId;
    d.path = byId.empty() ? node : byId;
    d.maker = maker;
    d.product = product;
    d.serial = serial;
    return d;
}

SerialDevice Uart(const std::string& node, bool present = true) {
    SerialDevice d;
    d.kind = Kind::Uart;
    d.node = node;
    d.path = node;
    d.driver = "serial8250";
    d.present = present;
    return d;
}

std::vector<std::string> Paths(const std::vector<SerialDevice>& devices) {
    std::vector<std::string> out;
    for (const SerialDevice& d : devices) out.push_back(d.path);
    return out;
}

const std::string kById = "/dev/serial/by-id/";

TEST(DefaultOrder, AdaptersByNameThenUartsByNumber) {
    struct Row {
        const char* name;
        std::vector<SerialDevice> found;  // as discovery happened to list them
        std::vector<std::string> order;   // COM1:, COM2:, ...
    };
    const Row rows[] = {
        {"one adapter is COM1: whatever else there is",
         {Uart("/dev/ttyS0"),
          Adapter("/dev/ttyUSB0", kById + "usb-FTDI_FT232R-if00", "FTDI", "FT232R", "A1")},
         {kById + "usb-FTDI_FT232R-if00", "/dev/ttyS0"}},
        {"two adapters of one product: their serial numbers in the by-id name decide, not the node",
         {Adapter("/dev/ttyUSB0", kById + "usb-FTDI_FT232R_USB_UART_B2-if00-port0", "FTDI",
                  "FT232R USB UART", "B2"),
          Adapter("/dev/ttyUSB1", kById + "usb-FTDI_FT232R_USB_UART_A1-if00-port0", "FTDI",
                  "FT232R USB UART", "A1")},
         {kById + "usb-FTDI_FT232R_USB_UART_A1-if00-port0",
          kById + "usb-FTDI_FT232R_USB_UART_B2-if00-port0"}},
        {"an adapter without a by-id name comes after the named ones",
         {Adapter("/dev/ttyACM0", "", "", "", ""),
          Adapter("/dev/ttyUSB3", kById + "usb-x-if00", "", "", "")},
         {kById + "usb-x-if00", "/dev/ttyACM0"}},
        {"ttyS without a UART is left out; ttyS10 after ttyS9",
         {Uart("/dev/ttyS10"), Uart("/dev/ttyS1", false), Uart("/dev/ttyS9"), Uart("/dev/ttyS0")},
         {"/dev/ttyS0", "/dev/ttyS9", "/dev/ttyS10"}},
        {"one node seen twice takes one entry",
         {Uart("/dev/ttyS0"), Uart("/dev/ttyS0")},
         {"/dev/ttyS0"}},
        {"nothing found", {}, {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Paths(DefaultOrder(row.found)), row.order) << row.name;
        // The order must not depend on the order of discovery.
        std::vector<SerialDevice> reversed(row.found.rbegin(), row.found.rend());
        EXPECT_EQ(Paths(DefaultOrder(reversed)), row.order) << row.name << ", reversed";
    }
}

TEST(PortTable, EntriesSayWhatTheyOpen) {
    SerialDevice denied = Uart("/dev/ttyS0");
    denied.denied = true;
    const std::vector<SerialDevice> found = DefaultOrder({
        Adapter("/dev/ttyUSB0", kById + "usb-FTDI_FT232R_USB_UART_A10K3X5-if00-port0", "FTDI",
                "FT232R USB UART", "A10K3X5"),
        Adapter("/dev/ttyACM0", kById + "usb-Maker_Modem-if00", "Maker", "Maker Modem", ""),
        denied,
    });
    PortMap map;
    ASSERT_TRUE(map.AddMapping("COM5:=/dev/pts/7"));
    ASSERT_TRUE(map.AddMapping("COM6:=/dev/ttyUSB0"));
    const std::vector<PortEntry> table = map.Table(found);
    ASSERT_EQ(table.size(), 9U);
    const std::pair<std::string, std::string> expected[] = {
        {kById + "usb-FTDI_FT232R_USB_UART_A10K3X5-if00-port0",
         "COM1: — /dev/ttyUSB0 — FTDI FT232R USB UART, s/n A10K3X5"},
        // A product that starts with the maker's name does not repeat it;
        // no serial number, no "s/n".
        {kById + "usb-Maker_Modem-if00", "COM2: — /dev/ttyACM0 — Maker Modem"},
        {"/dev/ttyS0",
         "COM3: — /dev/ttyS0 — UART — нет доступа к /dev/ttyS0: добавьте себя в группу "
         "dialout: sudo adduser $USER dialout и войдите заново"},
        {"", "COM4: — нет устройства"},
        {"/dev/pts/7", "COM5: — /dev/pts/7"},
        // A mapping to a known device describes it.
        {"/dev/ttyUSB0", "COM6: — /dev/ttyUSB0 — FTDI FT232R USB UART, s/n A10K3X5"},
        {"", "COM7: — нет устройства"},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(table[i].name, "COM" + std::to_string(i + 1) + ":");
        EXPECT_EQ(table[i].path, expected[i].first) << table[i].name;
        EXPECT_EQ(table[i].description, expected[i].second);
        EXPECT_EQ(map.Resolve(table[i].name, found).value_or(""), expected[i].first);
    }
}

TEST(PortMap, NamesAndResolution) {
    const std::vector<SerialDevice> found = {Uart("/dev/ttyS0"), Uart("/dev/ttyS1")};
    const std::pair<const char*, std::optional<std::string>> rows[] = {
        {"COM1:", "/dev/ttyS0"},    {"com2:", "/dev/ttyS1"},      {"COM2", "/dev/ttyS1"},
        {"COM3:", std::nullopt},    {"COM255:", std::nullopt},    {"COM0:", std::nullopt},
        {"COM256:", std::nullopt},  {"COM01:", std::nullopt},     {"COM:", std::nullopt},
        {"LPT1:", std::nullopt},    {"", std::nullopt},           {"COM1::", std::nullopt},
        {"COMX:", std::nullopt},    {" COM1:", std::nullopt},     {"COM-1:", std::nullopt},
        {"COM1000:", std::nullopt}, {"/dev/ttyS0", std::nullopt},
    };
    const PortMap map;
    for (const auto& [name, path] : rows) EXPECT_EQ(map.Resolve(name, found), path) << name;
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
        {"COM9:=relative/tty", true, "COM9:", "relative/tty"},
        {"com3:=/dev/pts/4", true, "COM3:", "/dev/pts/4"},
        {"COM12:=/dev/ttyUSB0", false, nullptr, nullptr},  // not an entry of the window
        {"COM10:=/dev/null", false, nullptr, nullptr},
        {"COM4:=/dev/odd=name", true, "COM4:", "/dev/odd=name"},
        {"", false, nullptr, nullptr},
        {"COM1:", false, nullptr, nullptr},
        {"COM1:=", false, nullptr, nullptr},
        {"=/dev/ttyUSB0", false, nullptr, nullptr},
        {"LPT1:=/dev/lp0", false, nullptr, nullptr},
        {"COM0:=/dev/ttyUSB0", false, nullptr, nullptr},
        {"/dev/ttyUSB0", false, nullptr, nullptr},
    };
    const std::vector<SerialDevice> found = DefaultOrder(
        {Uart("/dev/ttyS0"), Uart("/dev/ttyS1"), Uart("/dev/ttyS2"), Uart("/dev/ttyS3")});
    for (const Row& row : rows) {
        PortMap map;
        EXPECT_EQ(map.AddMapping(row.text), row.accepted) << row.text;
        if (row.accepted) {
            EXPECT_EQ(map.Resolve(row.port, found), row.path) << row.text;
        }
        // A refused text changes nothing; an accepted one only its own port.
        for (int n = 1; n <= 4; ++n) {
            const std::string name = "COM" + std::to_string(n) + ":";
            if (row.accepted && name == row.port) continue;
            EXPECT_EQ(map.Resolve(name, found), "/dev/ttyS" + std::to_string(n - 1)) << row.text;
        }
    }
}

// One spelling rule for the window's entries wherever a port is named on a
// command line; what it refuses is said, naming the text.
TEST(PortMap, WindowNamesAndWhyAMappingIsRefused) {
    const std::pair<const char*, const char*> names[] = {
        {"COM1:", "COM1:"},  {"com1:", "COM1:"},  {"COM1", "COM1:"},
        {"cOm9", "COM9:"},   {"COM10:", nullptr}, {"COM0:", nullptr},
        {"COM01:", nullptr}, {"LPT1:", nullptr},  {"", nullptr},
    };
    for (const auto& [name, entry] : names) {
        std::string why;
        const std::optional<std::string> got = PortMap::WindowName(name, &why);
        EXPECT_EQ(got.value_or("-"), entry ? entry : "-") << name;
        EXPECT_EQ(why.empty(), entry != nullptr) << name << ": " << why;
    }
    const std::pair<const char*, const char*> refused[] = {
        {"COM10:=/dev/null", "порта COM10: нет в списке окна (COM1: .. COM9:)"},
        {"LPT1:=/dev/lp0", "«LPT1:» не имя порта: нужно COMn: (COM1: .. COM9:)"},
        {"COM1:", "«COM1:»: нужно COMn:=ПУТЬ"},
        {"COM1:=", "«COM1:=»: после = нужен путь к устройству"},
    };
    for (const auto& [text, reason] : refused) {
        PortMap map;
        std::string why;
        EXPECT_FALSE(map.AddMapping(text, &why)) << text;
        EXPECT_EQ(why, reason) << text;
    }
}

TEST(PortMap, LaterMappingOfAPortWins) {
    PortMap map;
    ASSERT_TRUE(map.AddMapping("COM1:=/dev/ttyUSB0"));
    ASSERT_TRUE(map.AddMapping("COM2:=/dev/ttyUSB1"));
    ASSERT_TRUE(map.AddMapping("com1=/dev/ttyACM0"));
    EXPECT_EQ(map.Mapped("COM1:"), "/dev/ttyACM0");
    EXPECT_EQ(map.Mapped("COM1"), "/dev/ttyACM0");
    EXPECT_EQ(map.Mapped("COM2:"), "/dev/ttyUSB1");
    EXPECT_EQ(map.Mapped("COM3:"), std::nullopt);
    EXPECT_FALSE(map.Map("LPT1:", "/dev/lp0"));
    EXPECT_EQ(map.Mapped("LPT1:"), std::nullopt);
}

// Windows: the window's own names go to CreateFileA as they are; a mapping to a
// port above COM9 needs the device namespace.
TEST(PortMap, Win32Names) {
    PortMap map;
    ASSERT_TRUE(map.AddMapping("COM1:=COM12"));
    ASSERT_TRUE(map.AddMapping("COM2:=com3:"));
    ASSERT_TRUE(map.AddMapping(R"(COM3:=\\.\COM40)"));
    const std::pair<const char*, std::string> rows[] = {
        {"COM1:", R"(\\.\COM12)"}, {"COM2:", R"(\\.\COM3)"}, {"COM3:", R"(\\.\COM40)"},
        {"COM4:", "COM4:"},        {"LPT1:", "LPT1:"},       {"", ""},
    };
    for (const auto& [name, opened] : rows) EXPECT_EQ(map.Win32OpenName(name), opened) << name;

    SerialDevice usb;
    usb.node = "COM12";
    usb.path = R"(\\.\COM12)";
    usb.friendlyName = "USB Serial Port (COM12)";
    SerialDevice onBoard;
    onBoard.node = "COM4";
    onBoard.path = R"(\\.\COM4)";
    onBoard.friendlyName = "Communications Port (COM4)";
    const std::vector<PortEntry> table = map.Win32Table({usb, onBoard});
    ASSERT_EQ(table.size(), 9U);
    EXPECT_EQ(table[0].description, R"(COM1: — \\.\COM12 — COM12 — USB Serial Port (COM12))");
    EXPECT_EQ(table[2].description, R"(COM3: — \\.\COM40)");
    EXPECT_EQ(table[3].description, "COM4: — COM4 — Communications Port (COM4)");
    EXPECT_EQ(table[4].description, "COM5: — нет устройства");
}

}  // namespace
}  // namespace busdesk
