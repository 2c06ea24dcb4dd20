#pragma once

// Readings and misses for the chart tests, built by hand.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/trend.h"

namespace busdesk::engine {

inline DeviceTrend Series(const std::vector<TrendSample>& samples, std::size_t capacity = 20000) {
    DeviceTrend d(capacity);
    for (const TrendSample& s : samples) d.samples.Push(s);
    return d;
}

inline TrendSample Reading(TimeMs t, std::uint16_t level, std::int8_t temp = 20,
                           std::uint32_t current = 1) {
    TrendSample s;
    s.time = t;
    s.level = level;
    s.temperature = temp;
    s.current = current;
    return s;
}

inline TrendSample Miss(TimeMs t) {
    TrendSample s;
    s.time = t;
    s.missed = true;
    return s;
}

}  // namespace busdesk::engine
