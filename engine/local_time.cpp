#include "engine/local_time.h"

#include <cstdint>

namespace busdesk::engine {

namespace {

std::int64_t SecondsOf(const std::tm& t) {
    return DaysFromCivil(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1),
                         static_cast<unsigned>(t.tm_mday)) *
               86400 +
           t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

}  // namespace

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

LocalTime LocalTimeOf(std::time_t t) {
    LocalTime out;
    std::tm utc{};
#ifdef _WIN32
    localtime_s(&out.tm, &t);
    gmtime_s(&utc, &t);
#else
    localtime_r(&t, &out.tm);
    gmtime_r(&t, &utc);
#endif
    out.utcOffsetMinutes = static_cast<int>((SecondsOf(out.tm) - SecondsOf(utc)) / 60);
    return out;
}

}  // namespace busdesk::engine
