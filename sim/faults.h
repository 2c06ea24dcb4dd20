#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

#include "protocol/bytes.h"
#include "sim/bus_model.h"

namespace busdesk::sim {

// Faults waiting to be applied to the next answers. Counts go down by one for
// each answer they spoil.
struct Faults {
    int corrupt = 0;  // answers whose CRC byte is spoilt
    int split = 0;    // answers sent in two parts with a gap
    std::chrono::milliseconds splitGap{40};
    int late = 0;  // answers held back
    std::chrono::milliseconds lateBy{700};
    std::size_t surveySize = 0;  // the survey answer is padded to this many bytes
};

// A part of an answer and how long after the answer's own time it starts.
struct Piece {
    std::chrono::microseconds after{0};
    Bytes bytes;
};

// Turns one answer into what goes on the line, spending the faults it uses.
// `byteTime` is the time a byte takes, so a split's gap follows the first part.
std::vector<Piece> Shape(Answer answer, Faults& faults, std::chrono::microseconds byteTime);

}  // namespace busdesk::sim
