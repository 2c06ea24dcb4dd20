#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>

// The time-outs and sizes of the tool's line, the same on every kind of port.
namespace busdesk::line {

// Bytes a read returns at most, and a write sends in one piece.
inline constexpr std::size_t kMaxTransfer = 255;
// A read: the first byte within kReadTotal (1 ms + 1 ms x 255 bytes), then
// until a gap of kReadGap.
inline constexpr std::chrono::milliseconds kReadTotal{256};
inline constexpr std::chrono::milliseconds kReadGap{20};
// A write: this plus 1 ms a byte.
inline constexpr std::chrono::milliseconds kWriteConstant{10};

// Time to wait in poll(): rounded up, so that a deadline is never missed by
// waking a fraction of a millisecond too early and spinning on a zero wait.
inline int CeilMs(std::chrono::steady_clock::duration d) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return static_cast<int>(std::clamp<decltype(ms)>(ms, 0, 60000));
}

}  // namespace busdesk::line
