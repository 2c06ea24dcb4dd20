#include <gtest/gtest.h>

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

}  // namespace
}  // namespace busdesk::testing
