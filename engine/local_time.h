#pragma once

#include <cstdint>
#include <ctime>

namespace busdesk::engine {

// A moment as the wall clock here shows it, and how far that is from UTC.
struct LocalTime {
    std::tm tm{};
    int utcOffsetMinutes = 0;
};

// Days since 1970-01-01 of a civil date (proleptic Gregorian), any year.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d);

// Thread-safe: the journal's writer and the trend windows ask at once.
LocalTime LocalTimeOf(std::time_t t);

}  // namespace busdesk::engine
