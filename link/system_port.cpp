#include "link/system_port.h"

#ifdef _WIN32
#include "link/win32_port.h"
#else
#include "link/posix_port.h"
#endif

namespace busdesk {

std::unique_ptr<SerialPort> MakeSystemPort(Dialogs& dialogs, const PortMap& ports) {
#ifdef _WIN32
    (void)ports;
    return std::make_unique<Win32SerialPort>(dialogs);
#else
    return std::make_unique<PosixSerialPort>(dialogs, ports);
#endif
}

}  // namespace busdesk
