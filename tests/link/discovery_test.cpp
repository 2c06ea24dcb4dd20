#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/port_discovery.h"
#include "link/port_names.h"
#include "support/fake_sysfs.h"

namespace busdesk::testing {
namespace {

// Without udev, sysfs alone must give the same devices, names and order.
TEST(SysfsDiscovery, FindsRealDevicesOnlyAndNamesThem) {
    FakeSysfs tree;
    tree.AddUart("ttyS1", "0");  // a legacy port with no UART behind it
    tree.AddUart("ttyS0", "4");
    tree.AddVirtual("tty0");
    tree.AddVirtual("ptmx");
    tree.AddUsb("ttyACM0", "Maker", "Maker Modem", "", "cdc_acm", "usb-Maker_Modem-if00");
    tree.AddUsb("ttyUSB1", "FTDI", "FT232R USB UART", "B2", "ftdi_sio",
                "usb-FTDI_FT232R_USB_UART_B2-if00-port0");
    tree.AddUsb("ttyUSB0", "FTDI", "FT232R USB UART", "A10K3X5", "ftdi_sio",
                "usb-FTDI_FT232R_USB_UART_A10K3X5-if00-port0");
    tree.AddUsb("ttyUSB2", "Prolific", "USB-Serial Controller", "", "pl2303", "");

    const std::vector<SerialDevice> found =
        DefaultOrder(DiscoverFromSysfs({tree.Sys(), tree.Dev()}));
    const std::string dev = tree.Dev();
    const std::string byId = dev + "/serial/by-id/";
    struct Row {
        std::string path;
        std::string description;
        std::string driver;
    };
    const std::vector<Row> expected = {
        {byId + "usb-FTDI_FT232R_USB_UART_A10K3X5-if00-port0",
         dev + "/ttyUSB0 — FTDI FT232R USB UART, s/n A10K3X5", "ftdi_sio"},
        {byId + "usb-FTDI_FT232R_USB_UART_B2-if00-port0",
         dev + "/ttyUSB1 — FTDI FT232R USB UART, s/n B2", "ftdi_sio"},
        {byId + "usb-Maker_Modem-if00", dev + "/ttyACM0 — Maker Modem", "cdc_acm"},
        {dev + "/ttyUSB2", dev + "/ttyUSB2 — Prolific USB-Serial Controller", "pl2303"},
        {dev + "/ttyS0", dev + "/ttyS0 — UART", "serial"},
    };
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(found[i].path, expected[i].path) << i;
        EXPECT_EQ(Describe(found[i]), expected[i].description) << i;
        EXPECT_EQ(found[i].driver, expected[i].driver) << i;
    }
    // The table: COM1: is the first adapter, COM6: on have nothing behind them.
    const std::vector<PortEntry> table = PortMap().Table(found);
    EXPECT_EQ(table[0].description, "COM1: — " + expected[0].description);
    EXPECT_EQ(table[5].description, "COM6: — нет устройства");
}

TEST(SysfsDiscovery, AnEmptyOrMissingTreeFindsNothing) {
    FakeSysfs tree;
    EXPECT_TRUE(DiscoverFromSysfs({tree.Sys(), tree.Dev()}).empty());
    EXPECT_TRUE(DiscoverFromSysfs({"/nonexistent/sys", "/nonexistent/dev"}).empty());
}

// The build asked for udev, so the udev code must be in it: a define that
// never reached the compiler left only the sysfs fallback, untested.
TEST(UdevDiscovery, IsCompiledInWhereTheBuildAskedForIt) {
#ifdef BUSDESK_EXPECT_UDEV
    EXPECT_TRUE(DiscoveryHasUdev());
    // A machine without the udev daemon still has the library's view of sysfs.
    EXPECT_TRUE(DiscoverFromUdev().has_value());
#else
    EXPECT_FALSE(DiscoveryHasUdev());
    EXPECT_FALSE(DiscoverFromUdev().has_value());
#endif
}

// Both ways of discovery see the same ports on the machine the test runs on.
TEST(UdevDiscovery, FindsWhatSysfsFindsOnThisMachine) {
    const std::optional<std::vector<SerialDevice>> udev = DiscoverFromUdev();
    if (!udev) GTEST_SKIP() << "no udev in this build";
    const std::vector<SerialDevice> a = DefaultOrder(*udev);
    const std::vector<SerialDevice> b = DefaultOrder(DiscoverFromSysfs({"/sys", "/dev"}));
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].node, b[i].node) << i;
        EXPECT_EQ(a[i].path, b[i].path) << i;
        EXPECT_EQ(a[i].kind, b[i].kind) << i;
        EXPECT_EQ(a[i].serial, b[i].serial) << i;
    }
}

// What udev reports of a tty becomes an entry by the rules of the sysfs path:
// adapters by their by-id link, UARTs only with a UART behind them, nothing
// for terminals without a device.
TEST(UdevDiscovery, TurnsWhatUdevSaysIntoEntries) {
    const std::string byId = "/dev/serial/by-id/";
    const auto usb = [](std::string name, std::string driver) {
        UdevTty t;
        t.sysname = name;
        t.devnode = "/dev/" + name;
        t.hasParent = true;
        t.usb = true;
        t.usbDriver = std::move(driver);
        return t;
    };
    const auto uart = [](std::string name, std::string type) {
        UdevTty t;
        t.sysname = name;
        t.devnode = "/dev/" + name;
        t.hasParent = true;
        t.parentDriver = "serial8250";
        t.type = std::move(type);
        return t;
    };
    UdevTty ftdi = usb("ttyUSB0", "ftdi_sio");
    ftdi.devlinks = {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0",
                     byId + "usb-FTDI_FT232R_USB_UART_A10K3X5-if00-port0",
                     byId + "usb-FTDI_FT232R-if00-port0"};
    ftdi.manufacturer = "FTDI";
    ftdi.product = "FT232R USB UART";
    ftdi.serial = "A10K3X5";
    UdevTty bare = usb("ttyUSB1", "pl2303");  // no strings: the hardware database names it
    bare.vendorFromDatabase = "Prolific Technology, Inc.";
    bare.modelFromDatabase = "PL2303 Serial Port";
    bare.serialShort = "0001";
    UdevTty acm = usb("ttyACM0", "");  // no ID_USB_DRIVER: the interface's driver
    acm.parentDriver = "cdc_acm";
    acm.manufacturer = "Maker";
    acm.product = "Maker Modem";
    UdevTty container = usb("ttyUSB2", "ch341");  // no udev database, links in /dev
    UdevTty locked = uart("ttyS3", "4");
    UdevTty noNode = usb("ttyUSB3", "ftdi_sio");
    noNode.devnode.clear();
    UdevTty virtualTerminal;
    virtualTerminal.sysname = "tty1";
    virtualTerminal.devnode = "/dev/tty1";

    NodeFacts facts;
    facts.uartBehind = [](const std::string& node) { return node == "/dev/ttyS2"; };
    facts.denied = [](const std::string& node) { return node == "/dev/ttyS3"; };
    facts.byIdLink = [&byId](const std::string& node) {
        return node == "/dev/ttyUSB2" ? byId + "usb-1a86_USB_Serial-if00-port0" : std::string();
    };

    struct Row {
        UdevTty tty;
        bool entry;
        std::string path;
        std::string driver;
        std::string description;
    };
    const std::vector<Row> rows = {
        {ftdi, true, byId + "usb-FTDI_FT232R-if00-port0", "ftdi_sio",
         "/dev/ttyUSB0 — FTDI FT232R USB UART, s/n A10K3X5"},
        {bare, true, "/dev/ttyUSB1", "pl2303",
         "/dev/ttyUSB1 — Prolific Technology, Inc. PL2303 Serial Port, s/n 0001"},
        {acm, true, "/dev/ttyACM0", "cdc_acm", "/dev/ttyACM0 — Maker Modem"},
        {container, true, byId + "usb-1a86_USB_Serial-if00-port0", "ch341", "/dev/ttyUSB2 — ch341"},
        {uart("ttyS0", "4"), true, "/dev/ttyS0", "serial8250", "/dev/ttyS0 — UART"},
        {uart("ttyS1", "0"), false, "", "", ""},  // the serial core found no UART
        {uart("ttyS2", ""), true, "/dev/ttyS2", "serial8250", "/dev/ttyS2 — UART"},
        {uart("ttyS4", ""), false, "", "", ""},  // not told, and nothing answers
        {locked, true, "/dev/ttyS3", "serial8250",
         "/dev/ttyS3 — UART — " + DeniedText("/dev/ttyS3")},
        {noNode, false, "", "", ""},
        {virtualTerminal, false, "", "", ""},
    };
    for (const Row& row : rows) {
        const std::optional<SerialDevice> d = EntryFromUdev(row.tty, facts);
        ASSERT_EQ(d.has_value(), row.entry) << row.tty.sysname;
        if (!d) continue;
        EXPECT_EQ(d->path, row.path) << row.tty.sysname;
        EXPECT_EQ(d->node, row.tty.devnode) << row.tty.sysname;
        EXPECT_EQ(d->driver, row.driver) << row.tty.sysname;
        EXPECT_EQ(Describe(*d), row.description) << row.tty.sysname;
        EXPECT_EQ(d->kind, row.tty.usb ? SerialDevice::Kind::Adapter : SerialDevice::Kind::Uart)
            << row.tty.sysname;
    }
}

}  // namespace
}  // namespace busdesk::testing
