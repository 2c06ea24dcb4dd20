#include "engine/port_setup.h"

#include <utility>

#include "link/system_port.h"

#ifdef BUSDESK_HAVE_SIM
#include "sim/inprocess_port.h"
#endif

namespace busdesk::engine {

namespace {

#ifdef BUSDESK_HAVE_SIM
// COM1: on the demo bus, every other name on the system's ports; whichever
// opened last serves the reads and writes.
class DemoPorts : public SerialPort {
  public:
    DemoPorts(sim::InProcessBus& bus, Dialogs& dialogs, const PortMap& ports)
        : demo_(bus, dialogs), system_(MakeSystemPort(dialogs, ports)) {}

    bool OpenPort(const std::string& name, const std::string& settings) override {
        if (current_ != nullptr) current_->ClosePort();
        current_ = name == demo_.name() ? static_cast<SerialPort*>(&demo_) : system_.get();
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

  private:
    sim::InProcessPort demo_;
    std::unique_ptr<SerialPort> system_;
    SerialPort* current_ = nullptr;
};
#endif

}  // namespace

PortSetup::PortSetup(PortMap ports) : ports_(std::move(ports)) {}

PortSetup::~PortSetup() = default;

bool PortSetup::StartDemo() {
#ifdef BUSDESK_HAVE_SIM
    if (!bus_) bus_ = std::make_unique<sim::InProcessBus>();
    return true;
#else
    error_ = "this build has no simulated bus";
    return false;
#endif
}

bool PortSetup::OpenJournal(const std::string& path) {
    std::string error;
    journal_ = Journal::Open(path, error);
    if (!journal_) error_ = error;
    return journal_ != nullptr;
}

Engine::Options PortSetup::EngineOptions() const {
    Engine::Options o;
    o.journal = journal_.get();
    return o;
}

PortFactory PortSetup::Factory() const {
#ifdef BUSDESK_HAVE_SIM
    if (bus_) {
        return [bus = bus_.get(), ports = ports_](Dialogs& dialogs) -> std::unique_ptr<SerialPort> {
            return std::make_unique<DemoPorts>(*bus, dialogs, ports);
        };
    }
#endif
    return [ports = ports_](Dialogs& dialogs) { return MakeSystemPort(dialogs, ports); };
}

}  // namespace busdesk::engine
