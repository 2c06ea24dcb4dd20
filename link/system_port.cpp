#include "link/system_port.h"

#include "link/net_port.h"
#include "link/net_url.h"
#include "link/switched_port.h"

#ifdef _WIN32
#include "link/win32_port.h"
#else
#include "link/posix_port.h"
#endif

namespace busdesk {

namespace {

// An entry mapped to a URL opens the network port, every other the serial
// port.
class RoutedPort final : public SwitchedPort {
  public:
    RoutedPort(std::unique_ptr<SerialPort> serial, std::unique_ptr<SerialPort> net,
               const PortMap& ports)
        : serial_(std::move(serial)), net_(std::move(net)), ports_(ports) {}
    std::uint64_t DiscardedBytes() const override {
        return serial_->DiscardedBytes() + net_->DiscardedBytes();
    }

  private:
    SerialPort& Choose(const std::string& name) override {
        const std::optional<std::string> mapped = ports_.Mapped(name);
        return mapped && LooksLikeUrl(*mapped) ? *net_ : *serial_;
    }

    std::unique_ptr<SerialPort> serial_;
    std::unique_ptr<SerialPort> net_;
    PortMap ports_;
};

bool MapsToNetwork(const PortMap& ports) {
    for (const std::string& name : WindowPortNames())
        if (const auto mapped = ports.Mapped(name); mapped && LooksLikeUrl(*mapped)) return true;
    return false;
}

}  // namespace

std::unique_ptr<SerialPort> MakeSystemPort(Dialogs& dialogs, const PortMap& ports,
                                           const SystemPortOptions& options) {
#ifdef _WIN32
    auto serial = std::make_unique<Win32SerialPort>(dialogs, ports, options.notice);
#else
    PosixPortOptions posix;
    posix.rs485 = options.rs485;
    posix.notice = options.notice;
    auto serial = std::make_unique<PosixSerialPort>(dialogs, ports, std::move(posix));
#endif
    // Without a network entry the serial port is all there is, as before.
    if (!MapsToNetwork(ports)) return serial;
    return std::make_unique<RoutedPort>(
        std::move(serial), std::make_unique<NetSerialPort>(dialogs, ports, options.notice), ports);
}

std::vector<PortEntry> SystemPortTable(const PortMap& ports) {
#ifdef _WIN32
    return ports.Win32Table(DiscoverSerialDevices());
#else
    return ports.Table(DefaultOrder(DiscoverSerialDevices()));
#endif
}

}  // namespace busdesk
