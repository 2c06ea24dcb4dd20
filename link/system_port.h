#pragma once

#include <memory>

#include "app/dialogs.h"
#include "link/port_names.h"
#include "link/serial_port.h"

namespace busdesk {

// The serial port of the platform the program runs on. On Windows the port
// names go to the system unchanged and `ports` is not used.
std::unique_ptr<SerialPort> MakeSystemPort(Dialogs& dialogs, const PortMap& ports);

}  // namespace busdesk
