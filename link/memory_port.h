#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "link/serial_port.h"

namespace busdesk {

// A port in memory for tests and benchmarks: every ReadPort returns the next
// scripted reception (empty when none is left), every write is recorded.
class MemoryPort : public SerialPort {
  public:
    bool OpenPort(const std::string& name, const std::string& settings) override;
    int ClosePort() override;
    void FlushPort() override;
    Bytes ReadPort() override;
    std::int16_t WritePort(const Bytes& data) override;

    void QueueReception(Bytes reception) { receptions.push_back(std::move(reception)); }
    // The next `count` writes report `shortBy` bytes fewer than asked (never below 0).
    void FailWrites(int count, std::size_t shortBy = 1) {
        failingWrites = count;
        shortfall = shortBy;
    }

    // Script
    bool openSucceeds = true;
    std::deque<Bytes> receptions;
    int failingWrites = 0;
    std::size_t shortfall = 1;

    // Record
    bool isOpen = false;
    std::vector<std::string> openedNames;
    std::vector<std::string> openedSettings;
    std::vector<Bytes> writes;  // every write, empty ones included
    int reads = 0;
    int flushes = 0;
    int closes = 0;
};

}  // namespace busdesk
