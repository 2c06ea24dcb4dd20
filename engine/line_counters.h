#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace busdesk::engine {

// What the line did since the port was last opened, as plain data, so every
// front end shows the same figures.
struct LineCounters {
    bool portOpened = false;     // a port has been opened at all
    std::uint64_t requests = 0;  // writes that went out in full
    std::uint64_t bytesOut = 0;
    std::uint64_t bytesIn = 0;
    std::uint64_t replies = 0;        // framed, known code, good CRC
    std::uint64_t badCrc = 0;         // framed, CRC wrong
    std::uint64_t unknownCodes = 0;   // framed, good CRC, code the window does not know
    std::uint64_t surveyAnswers = 0;  // unframed receptions taken as the survey answer
    std::uint64_t other = 0;          // unframed and no survey answer (noise, stray bytes)
    std::uint64_t silent = 0;         // reads after a request that got nothing
    std::uint64_t writeFailures = 0;  // writes that came up short

    // Response times of the device polled last, in microseconds, from the end
    // of a write to the first byte of its answer, over the last `kWindow`
    // answers. `timed` is how many are held; the figures mean nothing at 0.
    static constexpr std::size_t kWindow = 100;
    int device = -1;  // the address they belong to; -1 before the first answer
    std::uint32_t timed = 0;
    std::int64_t lastUs = 0;
    std::int64_t medianUs = 0;
    std::int64_t minUs = 0;
    std::int64_t maxUs = 0;
    // The port cannot tell when a byte arrives, so nothing is timed.
    bool untimed = false;

    // Why the last attempt to open a port failed; empty once one opened.
    std::string openError;

    // The journal, when one is kept.
    bool journal = false;
    std::uint64_t journalLines = 0;
    std::uint64_t journalLost = 0;  // dropped while the disk lagged, or failed to write
    std::string journalError;       // the last write error; empty when none
};

// What the status bar says of the line beside the figures.
struct LineState {
    // The entry tried again while its line is away (--reconnect); empty when
    // nothing is being waited for.
    std::string waitingFor;
    int retrySeconds = 2;
    std::uint32_t tries = 0;  // tries since the line went away
    std::string lastTry;      // why the last try failed
    // Where a network line goes ("rfc2217://10.0.0.5:4001"); empty for a local one.
    std::string networkTarget;
    // What the open line wants the user to know; empty when nothing.
    std::string notice;
};

// The status bar's line: "Запросов 1234 · ответов 1230 · CRC 2 · без ответа 2 ·
// отклик 12 мс (11–15)"; after a failed open, "Порт не открыт: "
// and why; while a line that went away is waited for, "Жду линию COM1: — новая
// попытка через 2 с". Empty before any port was opened or failed to.
std::string StatusLine(const LineCounters& c, const LineState& s = {});
// The full table for the status bar's tool tip, one figure a line; after a
// failed open why first, then the figures of the last open port; what is
// waited for comes before both, and a network line and the line's notice
// follow the response times.
std::string StatusDetail(const LineCounters& c, const LineState& s = {});

// The status line as it fits in `room` by the toolkit's `width`: the fields
// that fit and "· …" for the rest, so that no figure shows cut off; a line
// whose first field does not fit is cut between characters.
std::string FitStatusLine(std::string_view line, int room,
                          const std::function<int(std::string_view)>& width);

}  // namespace busdesk::engine
