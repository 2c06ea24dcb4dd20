#include "link/system_port.h"

#ifdef _WIN32
#include "link/win32_port.h"
#else
#include "link/posix_port.h"
#endif

namespace busdesk {

std::unique_ptr<SerialPort> MakeSystemPort(Dialogs& dialogs, const PortMap& ports,
                                           const SystemPortOptions& options) {
#ifdef _WIN32
    return std::make_unique<Win32SerialPort>(dialogs, ports, options.notice);
#else
    PosixPortOptions posix;
    posix.rs485 = options.rs485;
    posix.notice = options.notice;
    return std::make_unique<PosixSerialPort>(dialogs, ports, std::move(posix));
#endif
}

std::vector<PortEntry> SystemPortTable(const PortMap& ports) {
#ifdef _WIN32
    return ports.Win32Table(DiscoverSerialDevices());
#else
    return ports.Table(DefaultOrder(DiscoverSerialDevices()));
#endif
}

}  // namespace busdesk
