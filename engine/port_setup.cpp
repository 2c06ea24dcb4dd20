#include "engine/port_setup.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <map>
#include <mutex>
#include <utility>

#include "engine/retry_port.h"
#include "link/switched_port.h"
#include "link/system_port.h"

#ifdef BUSDESK_HAVE_SIM
#include "sim/inprocess_port.h"
#endif

namespace busdesk::engine {

namespace {

#ifdef BUSDESK_HAVE_SIM
// COM1: on the demo bus, every other name on the system's ports.
class DemoPorts final : public SwitchedPort {
  public:
    DemoPorts(sim::InProcessBus& bus, Dialogs& dialogs, const PortMap& ports,
              const SystemPortOptions& options)
        : demo_(bus, dialogs), system_(MakeSystemPort(dialogs, ports, options)) {}
    std::uint64_t DiscardedBytes() const override {
        return demo_.DiscardedBytes() + system_->DiscardedBytes();
    }

  private:
    SerialPort& Choose(const std::string& name) override {
        return name == demo_.name() ? static_cast<SerialPort&>(demo_) : *system_;
    }

    sim::InProcessPort demo_;
    std::unique_ptr<SerialPort> system_;
};
#endif

}  // namespace

// The last thing a port said about each path, for the tool tips. Ports are
// made and used on the engine thread, but the setup does not rely on it.
struct PortSetup::Notes {
    std::mutex mutex;
    std::map<std::string, std::string> byPath;
};

PortSetup::PortSetup(PortMap ports, bool rs485, std::string program)
    : ports_(std::move(ports)),
      program_(std::move(program)),
      rs485_(rs485),
      notes_(std::make_shared<Notes>()) {}

PortSetup::~PortSetup() = default;

bool PortSetup::StartDemo() {
#ifdef BUSDESK_HAVE_SIM
    if (!bus_) bus_ = std::make_shared<sim::InProcessBus>();
    return true;
#else
    error_ = "this build has no simulated bus";
    return false;
#endif
}

bool PortSetup::OpenJournal(const std::string& path) {
    std::string error;
    journal_ = Journal::Open(path, error, Journal::kDefaultCapacity, {}, program_);
    if (!journal_) error_ = error;
    return journal_ != nullptr;
}

std::optional<Journal::Counts> PortSetup::CloseJournal() {
    if (!journal_) return std::nullopt;
    return journal_->Close();
}

PortFactory PortSetup::Factory() const {
    SystemPortOptions options;
    options.rs485 = rs485_;
    options.notice = [notes = notes_, program = program_](const std::string& path,
                                                          const std::string& text) {
        // A line tried again every 2 s would say the same every 2 s; the
        // tool tips still learn it.
        if (!InQuietTry()) std::cerr << program << ": " << text << std::endl;
        const std::lock_guard lock(notes->mutex);
        notes->byPath[path] = text;
    };
#ifdef BUSDESK_HAVE_SIM
    if (bus_) {
        return
            [bus = bus_, ports = ports_, options](Dialogs& dialogs) -> std::unique_ptr<SerialPort> {
                return std::make_unique<DemoPorts>(*bus, dialogs, ports, options);
            };
    }
#endif
    return [ports = ports_, options](Dialogs& dialogs) {
        return MakeSystemPort(dialogs, ports, options);
    };
}

std::function<std::vector<std::string>()> PortSetup::Describer() const {
    return [ports = ports_, demo = bus_ != nullptr, notes = notes_] {
        std::vector<std::string> out;
        for (const PortEntry& e : SystemPortTable(ports)) {
            std::string text = e.description;
            if (demo && e.name == "COM1:") {
                out.push_back(e.name + " — имитация шины в программе");
                continue;
            }
#ifndef _WIN32
            // A mapped path discovery does not know may still be closed to us.
            const std::string denied = DeniedText(e.path);
            if (!e.path.empty() && text.find(denied) == std::string::npos &&
                ::access(e.path.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
                text += " — " + denied;
#endif
            {
                const std::lock_guard lock(notes->mutex);
                const auto it = notes->byPath.find(e.path);
                if (it != notes->byPath.end() && text.find(it->second) == std::string::npos)
                    text += " — " + it->second;
            }
            out.push_back(std::move(text));
        }
        return out;
    };
}

Engine::Options PortSetup::EngineOptions() const {
    Engine::Options o;
    o.describePorts = Describer();
    o.journal = journal_.get();
    return o;
}

std::string PortListText(const PortMap& ports) {
    const std::vector<PortEntry> table = SystemPortTable(ports);
    std::size_t pathWidth = 4;
    for (const PortEntry& e : table) pathWidth = std::max(pathWidth, e.path.size());
    std::string out =
        "ENTRY   " + std::string("PATH") + std::string(pathWidth - 4 + 2, ' ') + "DESCRIPTION\n";
    for (const PortEntry& e : table) {
        const std::string path = e.path.empty() ? "-" : e.path;
        // The description repeats the entry name first; the table has a column for it.
        std::string what = e.description;
        const std::string lead = e.name + " — ";
        if (what.rfind(lead, 0) == 0) what.erase(0, lead.size());
        out += e.name + std::string(8 - std::min<std::size_t>(e.name.size(), 7), ' ') + path +
               std::string(pathWidth - std::min(pathWidth, path.size()) + 2, ' ') + what + "\n";
    }
    return out;
}

}  // namespace busdesk::engine
