#include "engine/port_setup.h"

#include <utility>

#include "link/system_port.h"

#ifdef BUSDESK_HAVE_SIM
#include "sim/sim_bus.h"
#else
namespace busdesk::sim {
// This build has no simulated bus; PortSetup never makes one.
class SimulatedBus {};
}  // namespace busdesk::sim
#endif

namespace busdesk::engine {

PortSetup::PortSetup(PortMap ports) : ports_(std::move(ports)) {}

PortSetup::~PortSetup() = default;

bool PortSetup::StartDemo() {
#ifdef BUSDESK_HAVE_SIM
    bus_ = std::make_unique<sim::SimulatedBus>();
    const std::string path = bus_->Start();
    if (path.empty() || !ports_.Map("COM1:", path)) {
        error_ = "the simulated bus could not be started: " + bus_->Error();
        bus_.reset();
        return false;
    }
    return true;
#else
    error_ = "this build has no simulated bus";
    return false;
#endif
}

PortFactory PortSetup::Factory() const {
    return [ports = ports_](Dialogs& dialogs) { return MakeSystemPort(dialogs, ports); };
}

}  // namespace busdesk::engine
