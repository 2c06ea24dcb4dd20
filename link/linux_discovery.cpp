// Serial port discovery on Linux: udev where it is, sysfs where it is not.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "link/port_discovery.h"

#ifdef BUSDESK_HAVE_UDEV
#include <libudev.h>
#endif

namespace busdesk {

namespace {

namespace fs = std::filesystem;

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// Node → its by-id link, from the directory udev keeps.
std::map<std::string, std::string> ByIdLinks(const std::string& dev) {
    std::map<std::string, std::string> links;
    std::error_code ec;
    const fs::path dir = fs::path(dev) / "serial" / "by-id";
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        const fs::path target = fs::canonical(it->path(), e2);
        if (e2) continue;  // a link left behind by an adapter that is gone
        auto [pos, fresh] = links.emplace(target.string(), it->path().string());
        // Two links to one node: the first by name, so the choice is stable.
        if (!fresh && it->path().string() < pos->second) pos->second = it->path().string();
    }
    return links;
}

// Whether a UART answers behind a ttyS node; asked only when sysfs does not say.
bool UartBehind(const std::string& node) {
    const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EACCES || errno == EBUSY;  // there, only not ours to ask
    serial_struct info{};
    const bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return known;
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// What every way of discovery learns of a tty, before it is made a device.
struct Found {
    std::string name;  // ttyUSB0
    std::string node;  // /dev/ttyUSB0
    std::string byId;
    std::string driver;
    std::string maker;
    std::string product;
    std::string serial;
    std::string uartType;  // the serial core's "type", empty when not told
    bool usb = false;
};

std::optional<SerialDevice> Finish(Found f, const NodeFacts& facts) {
    SerialDevice d;
    d.node = f.node;
    d.byId = f.byId;
    d.path = f.byId.empty() ? f.node : f.byId;
    d.driver = f.driver;
    d.maker = f.maker;
    d.product = f.product;
    d.serial = f.serial;
    const bool acm = StartsWith(f.name, "ttyACM");
    if (f.usb || acm || !f.byId.empty()) {
        d.kind = SerialDevice::Kind::Adapter;
    } else {
        d.kind = SerialDevice::Kind::Uart;
        if (!f.uartType.empty())
            d.present = f.uartType != "0";
        else
            d.present = facts.uartBehind && facts.uartBehind(f.node);
    }
    if (!d.present) return std::nullopt;
    d.denied = facts.denied && facts.denied(d.node);
    return d;
}

bool Denied(const std::string& node) {
    return ::access(node.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
}

}  // namespace

NodeFacts SystemNodeFacts(const std::string& dev) {
    NodeFacts facts;
    facts.uartBehind = UartBehind;
    facts.denied = Denied;
    // Read once, when first asked: most machines have no adapter to ask for.
    auto links = std::make_shared<std::optional<std::map<std::string, std::string>>>();
    facts.byIdLink = [links, dev](const std::string& node) {
        if (!*links) *links = ByIdLinks(dev);
        const auto it = (*links)->find(node);
        return it == (*links)->end() ? std::string() : it->second;
    };
    return facts;
}

std::vector<SerialDevice> DiscoverFromSysfs(const DeviceRoots& roots) {
    const NodeFacts facts = SystemNodeFacts(roots.dev);
    std::vector<SerialDevice> out;
    const std::map<std::string, std::string> byId = ByIdLinks(roots.dev);
    std::error_code ec;
    const fs::path ttys = fs::path(roots.sys) / "class" / "tty";
    for (fs::directory_iterator it(ttys, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path entry = it->path();
        std::error_code e2;
        // Virtual terminals, ptys and the console have no device behind them.
        const fs::path device = fs::canonical(entry / "device", e2);
        if (e2) continue;
        Found f;
        f.name = entry.filename().string();
        f.node = (fs::path(roots.dev) / f.name).string();
        if (const auto link = byId.find(f.node); link != byId.end()) f.byId = link->second;
        f.driver = fs::canonical(entry / "device" / "driver", e2).filename().string();
        if (e2) f.driver.clear();
        if (fs::exists(entry / "type", e2)) f.uartType = ReadLine(entry / "type");
        // The USB device is the first directory up the tree with a vendor id.
        for (fs::path p = device; p.has_relative_path() && p != p.root_path();
             p = p.parent_path()) {
            if (p.filename() == "devices") break;
            if (fs::exists(p / "idVendor", e2)) {
                f.usb = true;
                f.maker = ReadLine(p / "manufacturer");
                f.product = ReadLine(p / "product");
                f.serial = ReadLine(p / "serial");
                break;
            }
        }
        // usb-serial ports sit one below the interface that has the driver.
        if (f.usb && f.driver.empty())
            f.driver = fs::canonical(device.parent_path() / "driver", e2).filename().string();
        if (std::optional<SerialDevice> d = Finish(std::move(f), facts))
            out.push_back(std::move(*d));
    }
    return out;
}

std::optional<SerialDevice> EntryFromUdev(const UdevTty& tty, const NodeFacts& facts) {
    // Virtual terminals, ptys and the console have no device behind them.
    if (!tty.hasParent || tty.devnode.empty()) return std::nullopt;
    Found f;
    f.name = tty.sysname;
    f.node = tty.devnode;
    for (const std::string& l : tty.devlinks)
        if (StartsWith(l, "/dev/serial/by-id/") && (f.byId.empty() || l < f.byId)) f.byId = l;
    f.driver = tty.usbDriver.empty() ? tty.parentDriver : tty.usbDriver;
    f.uartType = tty.type;
    if (tty.usb) {
        f.usb = true;
        // What the device says of itself first; udev's hardware database where
        // it says nothing (many cheap adapters have no strings).
        f.maker = tty.manufacturer.empty() ? tty.vendorFromDatabase : tty.manufacturer;
        f.product = tty.product.empty() ? tty.modelFromDatabase : tty.product;
        f.serial = tty.serial.empty() ? tty.serialShort : tty.serial;
        // A container's udev has no database and so no links; /dev may have them.
        if (f.byId.empty() && facts.byIdLink) f.byId = facts.byIdLink(f.node);
    }
    return Finish(std::move(f), facts);
}

#ifdef BUSDESK_HAVE_UDEV

namespace {

std::string Text(const char* s) {
    return s != nullptr ? s : "";
}

std::string Property(udev_device* d, const char* key) {
    return Text(udev_device_get_property_value(d, key));
}

std::vector<SerialDevice> DiscoverWithUdev(udev* u) {
    std::vector<SerialDevice> out;
    udev_enumerate* e = udev_enumerate_new(u);
    if (e == nullptr) return out;
    const NodeFacts facts = SystemNodeFacts("/dev");
    udev_enumerate_add_match_subsystem(e, "tty");
    udev_enumerate_scan_devices(e);
    udev_list_entry* item = nullptr;
    udev_list_entry_foreach(item, udev_enumerate_get_list_entry(e)) {
        // Virtual terminals, ptys and the console (most ttys of a machine)
        // have no device behind them: skipped before udev reads them.
        const std::string syspath = Text(udev_list_entry_get_name(item));
        if (StartsWith(syspath, "/sys/devices/virtual/")) continue;
        udev_device* d = udev_device_new_from_syspath(u, syspath.c_str());
        if (d == nullptr) continue;
        UdevTty tty;
        tty.sysname = Text(udev_device_get_sysname(d));
        tty.devnode = Text(udev_device_get_devnode(d));
        udev_device* parent = udev_device_get_parent(d);  // owned by `d`
        tty.hasParent = parent != nullptr;
        if (tty.hasParent && !tty.devnode.empty()) {
            udev_list_entry* link = nullptr;
            udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(d)) {
                tty.devlinks.push_back(Text(udev_list_entry_get_name(link)));
            }
            tty.usbDriver = Property(d, "ID_USB_DRIVER");
            tty.parentDriver = Text(udev_device_get_driver(parent));
            tty.type = Text(udev_device_get_sysattr_value(d, "type"));
            if (udev_device* usb =
                    udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device")) {
                tty.usb = true;
                tty.manufacturer = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
                tty.product = Text(udev_device_get_sysattr_value(usb, "product"));
                tty.serial = Text(udev_device_get_sysattr_value(usb, "serial"));
                tty.vendorFromDatabase = Property(d, "ID_VENDOR_FROM_DATABASE");
                tty.modelFromDatabase = Property(d, "ID_MODEL_FROM_DATABASE");
                tty.serialShort = Property(d, "ID_SERIAL_SHORT");
            }
        }
        if (std::optional<SerialDevice> found = EntryFromUdev(tty, facts))
            out.push_back(std::move(*found));
        udev_device_unref(d);
    }
    udev_enumerate_unref(e);
    return out;
}

}  // namespace

#endif

bool DiscoveryHasUdev() {
#ifdef BUSDESK_HAVE_UDEV
    return true;
#else
    return false;
#endif
}

std::optional<std::vector<SerialDevice>> DiscoverFromUdev() {
#ifdef BUSDESK_HAVE_UDEV
    if (udev* u = udev_new()) {
        std::optional<std::vector<SerialDevice>> out;
        try {
            out = DiscoverWithUdev(u);
        } catch (...) {
            out.reset();
        }
        udev_unref(u);
        return out;
    }
#endif
    return std::nullopt;
}

std::vector<SerialDevice> DiscoverSerialDevices() {
    try {
        if (std::optional<std::vector<SerialDevice>> found = DiscoverFromUdev()) return *found;
        return DiscoverFromSysfs(DeviceRoots{});
    } catch (...) {
        return {};  // no list is better than no window
    }
}

}  // namespace busdesk
