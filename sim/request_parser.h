#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/bytes.h"

namespace busdesk::sim {

// One request as a device sees it, CRC already checked.
struct Request {
    std::uint8_t address = 0;
    bool survey = false;       // 31 FF CRC: no command byte
    std::uint8_t command = 0;  // meaningless for the survey
    Bytes payload;             // the bytes between the command and the CRC
    bool operator==(const Request&) const = default;
};

// The length of the whole frame (CRC included) that starts with these bytes,
// nullopt when the bytes cannot start a known frame, 0 when more bytes are
// needed to tell.
std::optional<std::size_t> FrameLength(std::span<const std::uint8_t> head);

// Splits what arrives on the line into requests. Frames may arrive back to
// back in one read or a frame may be spread over several reads, so bytes are
// kept until a frame is complete. A byte that cannot start a frame, or a frame
// whose CRC is wrong, is dropped one byte at a time, so the parser finds the
// next good frame behind garbage.
class RequestParser {
  public:
    struct Counts {
        std::size_t frames = 0;
        std::size_t badCrc = 0;
        std::size_t droppedBytes = 0;  // bytes skipped while looking for a frame
    };

    std::vector<Request> Feed(const std::uint8_t* data, std::size_t size);
    std::vector<Request> Feed(const Bytes& data) { return Feed(data.data(), data.size()); }
    // The line fell quiet: a device forgets a half-received frame.
    void Idle();
    bool HasPartial() const { return !buffer_.empty(); }
    const Counts& counts() const { return counts_; }

  private:
    Bytes buffer_;
    Counts counts_;
};

}  // namespace busdesk::sim
