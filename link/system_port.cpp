#include "link/system_port.h"

#include "link/net_port.h"
#include "link/net_url.h"

#ifdef _WIN32
#include "link/win32_port.h"
#else
#include "link/posix_port.h"
#endif

namespace busdesk {

namespace {

// An entry mapped to a URL opens the network port, every other the serial
// port; whichever opened last serves the reads and writes.
class RoutedPort : public SerialPort {
  public:
    RoutedPort(std::unique_ptr<SerialPort> serial, std::unique_ptr<SerialPort> net,
               const PortMap& ports)
        : serial_(std::move(serial)), net_(std::move(net)), ports_(ports) {}

    bool OpenPort(const std::string& name, const std::string& settings) override {
        if (current_ != nullptr) current_->ClosePort();
        const std::optional<std::string> mapped = ports_.Mapped(name);
        current_ = mapped && LooksLikeUrl(*mapped) ? net_.get() : serial_.get();
        return current_->OpenPort(name, settings);
    }
    int ClosePort() override { return current_ != nullptr ? current_->ClosePort() : 0; }
    void FlushPort() override {
        if (current_ != nullptr) current_->FlushPort();
    }
    Bytes ReadPort() override { return current_ != nullptr ? current_->ReadPort() : Bytes{}; }
    std::int16_t WritePort(const Bytes& data) override {
        return current_ != nullptr ? current_->WritePort(data) : 0;
    }
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout) override {
        return current_ != nullptr ? current_->WaitReadable(timeout) : std::nullopt;
    }
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout,
                                     const WakeSignal& wake) override {
        return current_ != nullptr ? current_->WaitReadable(timeout, wake) : std::nullopt;
    }
    std::uint64_t DiscardedBytes() const override {
        return serial_->DiscardedBytes() + net_->DiscardedBytes();
    }
    std::string OpenError() const override {
        return current_ != nullptr ? current_->OpenError() : std::string();
    }
    std::string NetworkTarget() const override {
        return current_ != nullptr ? current_->NetworkTarget() : std::string();
    }
    std::string LineNotice() const override {
        return current_ != nullptr ? current_->LineNotice() : std::string();
    }

  private:
    std::unique_ptr<SerialPort> serial_;
    std::unique_ptr<SerialPort> net_;
    PortMap ports_;
    SerialPort* current_ = nullptr;
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
