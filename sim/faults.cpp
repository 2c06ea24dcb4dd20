#include "sim/faults.h"

namespace busdesk::sim {

namespace {

// Addresses of devices that are not there, to make an oversized survey answer.
constexpr std::uint8_t kPhantomBase = 100;

}  // namespace

std::vector<Piece> Shape(Answer answer, Faults& faults, std::chrono::microseconds byteTime) {
    Bytes& b = answer.bytes;
    if (answer.survey) {
        for (std::size_t i = 0; b.size() < faults.surveySize; ++i) {
            b.push_back(static_cast<std::uint8_t>(kPhantomBase + i % 100));
        }
    } else if (faults.corrupt > 0 && !b.empty()) {
        --faults.corrupt;
        b.back() ^= 0xA5;
    }

    std::chrono::microseconds start{0};
    if (faults.late > 0) {
        --faults.late;
        start = faults.lateBy;
    }
    if (faults.split > 0 && b.size() >= 2) {
        --faults.split;
        const std::size_t half = b.size() / 2;
        Piece first{start, Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(half))};
        Piece second{start + byteTime * static_cast<std::int64_t>(half) + faults.splitGap,
                     Bytes(b.begin() + static_cast<std::ptrdiff_t>(half), b.end())};
        return {std::move(first), std::move(second)};
    }
    return {Piece{start, std::move(b)}};
}

}  // namespace busdesk::sim
