#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "link/port_names.h"
#include "link/serial_port.h"

namespace busdesk {

// What the system port does beyond the window's open sequence.
struct SystemPortOptions {
    bool rs485 = false;  // Linux only: RS-485 direction control by the driver
    // Why an open went wrong, for standard error and the port list's tool
    // tips; `path` is what the port list's entry opens.
    std::function<void(const std::string& path, const std::string& text)> notice;
};

// The serial port of the platform the program runs on. On Windows the port
// names go to the system unchanged unless `ports` maps them.
std::unique_ptr<SerialPort> MakeSystemPort(Dialogs& dialogs, const PortMap& ports,
                                           const SystemPortOptions& options = {});

// What "COM1:".."COM9:" open now, with what is behind each.
std::vector<PortEntry> SystemPortTable(const PortMap& ports);

}  // namespace busdesk
