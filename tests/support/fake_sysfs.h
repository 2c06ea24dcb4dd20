#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace busdesk::testing {

// A sysfs and /dev of serial devices in a temporary directory, laid out as
// the kernel and udev lay them out, for discovery without hardware.
class FakeSysfs {
  public:
    FakeSysfs() {
        root_ = std::filesystem::temp_directory_path() /
                ("busdesk-sysfs-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(Sys() + "/class/tty");
        std::filesystem::create_directories(Dev() + "/serial/by-id");
    }
    ~FakeSysfs() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    std::string Sys() const { return (root_ / "sys").string(); }
    std::string Dev() const { return (root_ / "dev").string(); }

    // A USB adapter: a usb-serial port (ttyUSB, under its interface) or a
    // CDC-ACM interface (ttyACM); an empty `serial` leaves the file out, an
    // empty `byId` the link.
    void AddUsb(const std::string& tty, const std::string& maker, const std::string& product,
                const std::string& serial, const std::string& driver, const std::string& byId) {
        const std::string usb = Sys() + "/devices/pci0000:00/usb1/1-" + std::to_string(++usb_);
        const std::string iface = usb + "/1-" + std::to_string(usb_) + ":1.0";
        Write(usb + "/idVendor", "0403");
        Write(usb + "/manufacturer", maker);
        Write(usb + "/product", product);
        if (!serial.empty()) Write(usb + "/serial", serial);
        const bool acm = tty.rfind("ttyACM", 0) == 0;
        const std::string device = acm ? iface : iface + "/" + tty;
        std::filesystem::create_directories(device);
        Link(Driver(driver), (acm ? iface : device) + "/driver");
        AddTty(tty, device);
        if (!byId.empty())
            std::filesystem::create_symlink("../../" + tty, Dev() + "/serial/by-id/" + byId);
    }

    // A ttyS port; `type` is what the serial core says (0: no UART).
    void AddUart(const std::string& tty, const std::string& type) {
        const std::string device = Sys() + "/devices/pnp0/00:0" + std::to_string(++uart_);
        std::filesystem::create_directories(device);
        Link(Driver("serial"), device + "/driver");
        AddTty(tty, device);
        Write(Sys() + "/class/tty/" + tty + "/type", type);
    }

    // A virtual terminal: no device behind it.
    void AddVirtual(const std::string& tty) {
        std::filesystem::create_directories(Sys() + "/class/tty/" + tty);
        Write(Dev() + "/" + tty, "");
    }

  private:
    static void Write(const std::string& file, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream(file) << text << (text.empty() ? "" : "\n");
    }
    static void Link(const std::string& target, const std::string& at) {
        std::filesystem::create_symlink(target, at);
    }
    std::string Driver(const std::string& name) const {
        const std::string d = Sys() + "/bus/drivers/" + name;
        std::filesystem::create_directories(d);
        return d;
    }
    void AddTty(const std::string& tty, const std::string& device) {
        const std::string entry = Sys() + "/class/tty/" + tty;
        std::filesystem::create_directories(entry);
        Link(device, entry + "/device");
        Write(Dev() + "/" + tty, "");  // the node, for the by-id link to resolve
    }

    std::filesystem::path root_;
    int usb_ = 0;
    int uart_ = 0;
    static inline int counter_ = 0;
};

}  // namespace busdesk::testing
