#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace busdesk {

// A serial device the system has, as discovery found it.
struct SerialDevice {
    enum class Kind {
        Adapter,  // a USB serial adapter or a CDC-ACM device
        Uart,     // an on-board or plug-in UART (ttyS)
    };
    Kind kind = Kind::Adapter;
    std::string path;    // what is opened: the by-id link where there is one
    std::string node;    // the device node itself, /dev/ttyUSB0 or COM12
    std::string byId;    // the stable name under /dev/serial/by-id, or empty
    std::string driver;  // ftdi_sio, cdc_acm, serial8250, ...
    std::string maker;
    std::string product;
    std::string serial;
    std::string friendlyName;  // Windows: what the device manager shows
    // A ttyS node is there whether or not a UART answers behind it.
    bool present = true;
    // Set when this user may not open the node.
    bool denied = false;
};

// The ports "COM1:".."COM9:" open when the command line does not map them:
// adapters first, by their by-id name (their node name when they have none),
// then UARTs by number; ttyS nodes without a UART are left out.
std::vector<SerialDevice> DefaultOrder(std::vector<SerialDevice> devices);

// "/dev/ttyUSB0 — FTDI FT232R USB UART, s/n A10K3X5": the node, then what
// the device says of itself.
std::string Describe(const SerialDevice& device);

// The message for a node this user may not open.
std::string DeniedText(const std::string& node);

// The serial devices the machine has now, in no particular order. Quick
// enough to run at every open (adapters come and go); never opens a port
// except to ask a ttyS node whose UART type sysfs does not say.
std::vector<SerialDevice> DiscoverSerialDevices();

#ifndef _WIN32
// Where discovery looks; tests and benchmarks point it at a fake tree.
struct DeviceRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};
// Discovery from sysfs and /dev alone, for machines without udev.
std::vector<SerialDevice> DiscoverFromSysfs(const DeviceRoots& roots);

// Whether this build asks udev (the system's device manager) first.
bool DiscoveryHasUdev();
// Discovery through udev; nullopt when the build or the machine has none.
std::optional<std::vector<SerialDevice>> DiscoverFromUdev();

// What udev says of one tty, as plain data; each becomes an entry by the same
// rules as a tty found in sysfs.
struct UdevTty {
    std::string sysname;     // ttyUSB0
    std::string devnode;     // /dev/ttyUSB0
    bool hasParent = false;  // virtual terminals and ptys have no device behind them
    std::vector<std::string> devlinks;
    std::string usbDriver;     // ID_USB_DRIVER
    std::string parentDriver;  // the driver of the device the tty belongs to
    std::string type;          // the serial core's UART type; empty when not told
    bool usb = false;          // a USB device up the tree; then its strings:
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::string vendorFromDatabase;  // ID_VENDOR_FROM_DATABASE
    std::string modelFromDatabase;   // ID_MODEL_FROM_DATABASE
    std::string serialShort;         // ID_SERIAL_SHORT
};

// What discovery asks of a node itself; tests put in answers of their own.
struct NodeFacts {
    std::function<bool(const std::string& node)> uartBehind;       // a UART answers behind a ttyS
    std::function<bool(const std::string& node)> denied;           // this user may not open it
    std::function<std::string(const std::string& node)> byIdLink;  // its /dev/serial/by-id link
};
// The answers of the machine, with the by-id links under `dev`.
NodeFacts SystemNodeFacts(const std::string& dev);

// The entry a tty udev reported makes; nullopt for one that is no serial port.
std::optional<SerialDevice> EntryFromUdev(const UdevTty& tty, const NodeFacts& facts);
#endif

}  // namespace busdesk
