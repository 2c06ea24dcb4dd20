#pragma once

#include <memory>
#include <string>

// The simulated bus: the device side of the protocol behind a pseudo-terminal.
// This header is the contract the window's --demo mode and the end-to-end tests
// rely on; sim/ fills in the rest.
namespace busdesk::sim {

struct BusConfig;  // devices on the bus and faults; see sim/ for its fields

class SimulatedBus {
public:
    // The default bus: readers 1, 5 and 7, two tags in reach of reader 1.
    SimulatedBus();
    explicit SimulatedBus(const BusConfig& config);
    ~SimulatedBus();
    SimulatedBus(const SimulatedBus&) = delete;
    SimulatedBus& operator=(const SimulatedBus&) = delete;

    // Opens the pseudo-terminal and starts answering on a thread of its own.
    // Returns the path of the slave side (what the tool opens), or empty on failure.
    std::string Start();
    // Stops answering and closes the master side. Safe to call twice.
    void Stop();
    std::string SlavePath() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace busdesk::sim
