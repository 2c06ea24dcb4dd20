// Feeds arbitrary text to the report as a journal: each line read as the
// reader reads it, the model built, the whole document written.
//
// Input: journal text, lines split at line breaks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "report/html.h"
#include "report/journal_reader.h"
#include "report/model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    busdesk::report::ModelBuilder builder(4096);
    builder.BeginJournal("fuzz.jsonl");
    std::size_t lines = 0;
    std::size_t skipped = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (const auto e = busdesk::report::ParseLine(text.substr(at, end - at))) {
            builder.Take(*e);
            ++lines;
        } else {
            ++skipped;
        }
        at = end + 1;
    }
    builder.EndJournal(lines, skipped);
    const busdesk::report::Model model = builder.Finish();
    busdesk::report::Page page;
    page.model = &model;
    page.madeAt = "01.01.2027 00:00:00";
    const std::string html = busdesk::report::RenderHtml(page);
    // The document never ends early, whatever the journal held.
    if (html.size() < 7 || html.compare(html.size() - 8, 8, "</html>\n") != 0) __builtin_trap();
    return 0;
}
