#pragma once

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <string>

#include "protocol/bytes.h"
#include "protocol/crc.h"

namespace busdesk::testing {

#ifndef _WIN32
// Reads one reception the way the tool's port does: up to 255 bytes, ending at
// a gap of more than `gap` after a byte or `total` after the call began.
inline Bytes ReadReception(int fd, std::chrono::milliseconds total = std::chrono::milliseconds(256),
                           std::chrono::milliseconds gap = std::chrono::milliseconds(20)) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + total;
    Bytes out;
    for (;;) {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (!out.empty()) wait = gap;
        if (wait.count() <= 0) return out;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) return out;
        if (!(p.revents & POLLIN)) return out;
        std::uint8_t buf[255];
        const ssize_t n = read(fd, buf, sizeof buf - out.size());
        if (n <= 0) return out;
        out.insert(out.end(), buf, buf + n);
        if (out.size() >= 255) return out;
    }
}
#endif

// A request frame: the bytes given, then their CRC-8.
inline Bytes Framed(Bytes b) {
    b.push_back(Crc8(b));
    return b;
}

}  // namespace busdesk::testing
