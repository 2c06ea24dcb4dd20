#pragma once

#include "link/port_names.h"
#include "ui/engine.h"

namespace busdesk::ui {

// The platform's serial port with the given name mapping, made on the engine thread.
PortFactory SystemPorts(PortMap ports);

}  // namespace busdesk::ui
