// The report's own typeface, carried inside every report it styles.
#pragma once

#include <string_view>

namespace busdesk::report {

// The @font-face rules of the family "BusDesk Sans", regular (400) and bold
// (700): a subset of DejaVu Sans (Latin, Cyrillic, the punctuation and signs a
// report prints) as base64 data: URLs, so a report reads and prints the same
// on a machine without the font. Made at build time; the string lives for the
// whole run.
std::string_view FontFaceCss();

}  // namespace busdesk::report
