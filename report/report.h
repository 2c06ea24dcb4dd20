#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The commissioning report: one self-contained HTML file made from session
// journals and a site file.
namespace busdesk::report {

struct Request {
    std::vector<std::string> journals;  // read in the order given
    std::string site;                   // a site file; empty: none
    std::string output;                 // the HTML file to write
};

struct Outcome {
    bool ok = false;
    std::string error;        // in Russian: why no report was written
    std::size_t skipped = 0;  // journal lines skipped (torn, not JSON, not BusDesk's)
};

// Reads, builds and writes the report (temporary file beside `output`, then renamed).
// Safe to call from any thread; no global state. Never throws: whatever goes
// wrong, the temporary file is removed and `error` says what.
Outcome WriteReport(const Request& request);

}  // namespace busdesk::report
