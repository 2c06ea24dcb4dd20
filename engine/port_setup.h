#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/journal.h"
#include "link/port_names.h"

namespace busdesk::sim {
class InProcessBus;
}

namespace busdesk::engine {

// The ports every front end opens: the platform's serial ports under the
// names the command line mapped, or, with --demo, the simulated bus in-process
// as COM1: (other names stay the system's).
class PortSetup {
  public:
    // `program` names the front end in its notices on standard error and in
    // the journal's start line.
    explicit PortSetup(PortMap ports, bool rs485 = false, std::string program = "busdesk");
    ~PortSetup();
    PortSetup(const PortSetup&) = delete;
    PortSetup& operator=(const PortSetup&) = delete;

    // Starts the simulated bus and makes COM1: open it. False, with Error(),
    // when it cannot start or this build has none.
    bool StartDemo();
    // The demo bus, to look in or set faults; null before StartDemo().
    sim::InProcessBus* DemoBus() const { return bus_.get(); }
    std::string Error() const { return error_; }

    // Makes the port on the engine thread. The setup must outlive every port
    // it made (the demo bus lives here).
    PortFactory Factory() const;
    // One text per CmbPort entry saying what it opens, made afresh at each
    // call; for Engine::Options::describePorts.
    std::function<std::vector<std::string>()> Describer() const;
    // The engine's options with the describer and the journal set.
    Engine::Options EngineOptions() const;

    // Opens the session journal (appending). False, with Error(), when the
    // file cannot be opened: front ends say so and stop before any window.
    bool OpenJournal(const std::string& path);
    // Writes what the journal still holds and closes it; its final figures.
    // After the engine has stopped; nothing when no journal is kept.
    std::optional<Journal::Counts> CloseJournal();

  private:
    struct Notes;
    PortMap ports_;
    std::string program_;
    std::unique_ptr<Journal> journal_;
    bool rs485_ = false;
    std::shared_ptr<Notes> notes_;  // what the ports said, shared with them
    // Shared, not unique: a build without the simulated bus never completes its
    // type, and a unique_ptr could not be destroyed there.
    std::shared_ptr<sim::InProcessBus> bus_;
    std::string error_;
};

// The port table as --list-ports prints it: entry, path, description.
std::string PortListText(const PortMap& ports);

}  // namespace busdesk::engine
