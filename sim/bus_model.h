#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/bytes.h"
#include "sim/bus_config.h"
#include "sim/request_parser.h"

namespace busdesk::sim {

// What one request makes the devices send back.
struct Answer {
    Bytes bytes;
    // The survey answer: one byte from each device, no frame and no CRC.
    bool survey = false;
};

// The devices of the bus and what they answer, without any timing: the bus
// around it decides when the bytes go out. Not thread-safe.
class BusModel {
  public:
    explicit BusModel(BusConfig config);

    // The answers to one request at `seconds` since the bus started (drift
    // follows that time). Empty when no device answers.
    std::vector<Answer> Handle(const Request& request, double seconds);

    // A device that is not present stays silent, in the survey too. Returns
    // false when no reader has that address.
    bool SetPresent(std::uint8_t address, bool present);

    // The readings a data poll at `seconds` would report.
    std::uint32_t CurrentAt(std::size_t reader, double seconds) const;
    std::uint16_t LevelAt(std::size_t reader, double seconds) const;
    std::int8_t TemperatureAt(std::size_t reader, double seconds) const;

    const std::vector<ReaderConfig>& readers() const { return readers_; }
    const std::vector<TagConfig>& tags() const { return tags_; }
    // Index of the present reader at `address`, nullopt when none.
    std::optional<std::size_t> FindReader(std::uint8_t address) const;

  private:
    void AnswerReader(std::size_t r, const Request& q, double seconds, std::vector<Answer>& out);
    void AnswerTag(std::size_t r, const Request& q, double seconds, std::vector<Answer>& out);
    std::vector<std::size_t> TagsInReach(std::size_t reader) const;
    std::optional<std::size_t> TagById(std::size_t reader, std::uint32_t id) const;
    Bytes TagPing(std::size_t r, std::size_t t, double seconds) const;
    std::int8_t TagLevelAt(std::size_t tag, double seconds) const;

    std::vector<ReaderConfig> readers_;
    std::vector<TagConfig> tags_;
    bool drift_;
    // Per tag, the index of the reader that hears it: tags stay with their
    // reader when it moves to another address.
    std::vector<std::optional<std::size_t>> tagReader_;
    std::vector<std::size_t> nextPing_;  // per reader: which tag answers the next search
};

}  // namespace busdesk::sim
