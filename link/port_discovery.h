#pragma once

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
#endif

}  // namespace busdesk
