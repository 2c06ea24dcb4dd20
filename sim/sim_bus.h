#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "sim/bus_config.h"
#include "sim/bus_core.h"

// The simulated bus: the device side of the protocol behind a pseudo-terminal,
// for busdesk-sim and the end-to-end tests. POSIX only; the in-process bus
// (sim/inprocess_port.h) serves --demo on every platform.
namespace busdesk::sim {

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
    // Why Start() failed.
    std::string Error() const;

    // ---- Faults; each takes effect from the next request on ----------------

    // The device at `address` stops answering (also to the survey), or comes
    // back. False when the bus has no device at that address.
    bool SetSilent(std::uint8_t address, bool silent);
    // The next `count` framed answers carry a wrong CRC.
    void CorruptNextReplies(int count = 1);
    // The next `count` answers are sent in two halves with `gap` between them.
    void SplitNextReplies(int count = 1,
                          std::chrono::milliseconds gap = std::chrono::milliseconds(40));
    // The next `count` answers are held back by `delay`.
    void DelayNextReplies(int count = 1,
                          std::chrono::milliseconds delay = std::chrono::milliseconds(700));
    // Bytes with no frame in them go on the line now.
    void SendGarbage(const Bytes& bytes);
    void SendGarbage(std::size_t count);
    // Survey answers are padded with devices that are not there to at least
    // `bytes` bytes; 0 turns that off.
    void SetSurveySize(std::size_t bytes);
    // Closes the master side as if the cable were pulled; the bus stops.
    void DropLine();
    bool LineDropped() const;

    // ---- Looking in -----------------------------------------------------------

    BusStats Stats() const;
    std::vector<ReaderConfig> Readers() const;
    std::vector<TagConfig> Tags() const;
    // Called on the bus thread with one line per request and per answer.
    void SetTrafficLog(std::function<void(const std::string&)> log);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace busdesk::sim
