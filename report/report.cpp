#include "report/report.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "cli/site.h"
#include "engine/chart.h"
#include "engine/file_path.h"
#include "report/html.h"
#include "report/journal_reader.h"
#include "report/model.h"

namespace busdesk::report {

namespace {

Outcome Fail(std::string error, std::size_t skipped = 0) {
    Outcome o;
    o.error = std::move(error);
    o.skipped = skipped;
    return o;
}

bool SameFile(const std::string& a, const std::string& b) {
    const std::optional<std::filesystem::path> pa = engine::ToFsPath(a);
    const std::optional<std::filesystem::path> pb = engine::ToFsPath(b);
    if (!pa || !pb) return false;
    std::error_code ec;
    return std::filesystem::equivalent(*pa, *pb, ec) && !ec;
}

Outcome Write(const Request& request) {
    if (request.journals.empty() && request.site.empty())
        return Fail("не задан ни журнал, ни файл объекта");
    if (request.output.empty()) return Fail("не задан файл отчёта");
    // The report must never take the place of what it is made from.
    for (const std::string& input : request.journals) {
        if (SameFile(input, request.output))
            return Fail("файл отчёта " + request.output + " - это журнал " + input);
    }
    if (!request.site.empty() && SameFile(request.site, request.output))
        return Fail("файл отчёта " + request.output + " - это файл объекта");

    std::optional<cli::site::Site> site;
    if (!request.site.empty()) {
        const cli::site::Loaded loaded = cli::site::Load(request.site);
        if (!loaded.error.empty()) return Fail(loaded.error);
        cli::site::Parsed parsed = cli::site::Parse(loaded.text);
        if (!parsed.site)
            return Fail(request.site + ":" + std::to_string(parsed.line) + ":" +
                        std::to_string(parsed.column) + ": " + parsed.error);
        site = std::move(parsed.site);
    }

    // Opened before the journals are read: a folder that cannot be written
    // to is said before a long read.
    cli::site::WholeFile file;
    std::string error;
    if (!file.Open(request.output, &error)) return Fail(error);

    // Room for every reading of the whole span: no journal line that carries
    // one is shorter than this, so the sizes bound the count.
    constexpr std::uintmax_t kShortestReading = 64;
    std::uintmax_t bytes = 0;
    for (const std::string& path : request.journals) {
        const std::optional<std::filesystem::path> p = engine::ToFsPath(path);
        if (!p) continue;
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(*p, ec);
        if (!ec) bytes += size;
    }
    ModelBuilder builder(static_cast<std::size_t>(bytes / kShortestReading) +
                         engine::TrendStore::kDefaultCapacity);
    std::size_t skipped = 0;
    for (const std::string& path : request.journals) {
        builder.BeginJournal(path);
        const ReadCounts counts =
            ReadJournal(path, [&builder](const Entry& e) { builder.Take(e); });
        if (!counts.error.empty()) return Fail(counts.error, skipped + counts.skipped);
        builder.EndJournal(counts.lines, counts.skipped);
        skipped += counts.skipped;
    }
    const Model model = builder.Finish();

    const engine::TimeMs now = engine::ToMs(std::chrono::system_clock::now());
    Page page;
    page.model = &model;
    page.site = site ? &*site : nullptr;
    page.sitePath = request.site;
    page.madeAt = ShownTime(now, engine::LocalUtcOffsetMinutes(now));
    if (!file.Commit(RenderHtml(page), &error)) return Fail(error, skipped);
    Outcome o;
    o.ok = true;
    o.skipped = skipped;
    return o;
}

}  // namespace

Outcome WriteReport(const Request& request) {
    // The windows run it on a worker thread: nothing may escape it.
    try {
        return Write(request);
    } catch (const std::exception& e) {
        return Fail(std::string("непредвиденная ошибка: ") + e.what());
    } catch (...) {
        return Fail("непредвиденная ошибка");
    }
}

}  // namespace busdesk::report
