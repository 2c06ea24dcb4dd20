#include "ui/port_factory.h"

#include <utility>

#include "link/system_port.h"

namespace busdesk::ui {

PortFactory SystemPorts(PortMap ports) {
    return [ports = std::move(ports)](Dialogs& dialogs) { return MakeSystemPort(dialogs, ports); };
}

}  // namespace busdesk::ui
