#pragma once

#include <ctime>

namespace busdesk::engine {

// A moment as the wall clock here shows it, and how far that is from UTC.
struct LocalTime {
    std::tm tm{};
    int utcOffsetMinutes = 0;
};

// Thread-safe: the journal's writer and the trend windows ask at once.
LocalTime LocalTimeOf(std::time_t t);

}  // namespace busdesk::engine
