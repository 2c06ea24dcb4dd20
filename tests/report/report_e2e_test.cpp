// busdesk-cli report as a program: a journal the demo bus session wrote, its
// site file, and what the report makes of them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "engine/chart.h"
#include "report/html.h"
#include "report/journal_reader.h"
#include "report/model.h"
#include "support/run_program.h"

namespace busdesk::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Each piece of `text` between `open` and `close`, in order.
std::vector<std::string> Between(const std::string& text, const std::string& open,
                                 const std::string& close) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while ((at = text.find(open, at)) != std::string::npos) {
        at += open.size();
        const std::size_t end = text.find(close, at);
        if (end == std::string::npos) break;
        out.push_back(text.substr(at, end - at));
        at = end + close.size();
    }
    return out;
}

// The points of every polyline in `svg`: "x,y x,y ...".
std::size_t PolylinePoints(const std::string& svg) {
    std::size_t n = 0;
    for (const std::string& points : Between(svg, "<polyline points=\"", "\""))
        n += static_cast<std::size_t>(std::count(points.begin(), points.end(), ','));
    return n;
}

// The session is run once for every test of the suite: it takes the demo bus
// some thirty seconds.
class ReportE2e : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new std::string(::testing::TempDir() + "busdesk-report-e2e-" +
                              std::to_string(getpid()) + "/");
        fs::create_directories(*dir);
        const std::string plan = *dir + "session.plan";
        // A survey, an address change, a calibration, a tag write, and an
        // identifier request for a tag nobody has, which the demo bus never
        // confirms. Then the site file of the bus as left.
        std::ofstream(plan) << "survey\n"
                               "set-address 5 9\n"
                               "calibrate 1 high --yes\n"
                               "write-tag 1 1A2B3C4D --interval 600\n"
                               "set-ident 1 DEADBEEF 0\n"
                               "inventory -o "
                            << *dir << "site.json --tags 3\n";
        session = new Result(
            RunCli({"--demo", "--journal", *dir + "j.jsonl", "run", plan, "--keep-going"}));
    }
    static void TearDownTestSuite() {
        fs::remove_all(*dir);
        delete dir;
        delete session;
    }
    static std::string* dir;
    static Result* session;
};
std::string* ReportE2e::dir = nullptr;
Result* ReportE2e::session = nullptr;

TEST_F(ReportE2e, NamesEveryDeviceAndChangeAndMarksTheRefusedOne) {
    // The plan stops nowhere but at the refused write: exit 1 for it.
    ASSERT_EQ(session->exit, 1) << session->out << session->err;
    const std::string report = *dir + "r.html";
    const Result r = RunCli(
        {"report", "--journal", *dir + "j.jsonl", "--site", *dir + "site.json", "-o", report});
    ASSERT_EQ(r.exit, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "отчёт записан в " + report)) << r.out;
    const std::string html = Slurp(report);

    const Json site = Json::parse(Slurp(*dir + "site.json"));
    ASSERT_EQ(site["devices"].size(), 3u);
    for (const Json& d : site["devices"]) {
        EXPECT_TRUE(
            Has(html, "<td class=\"num\">" + std::to_string(d["serial"].get<unsigned>()) + "</td>"))
            << d.dump();
        for (const Json& t : d["tags"])
            EXPECT_TRUE(Has(html, ">" + std::to_string(t["serial"].get<unsigned>()) + "<"));
    }

    // Every change the journal holds, with its outcome.
    std::size_t commands = 0;
    std::size_t refused = 0;
    std::map<std::uint64_t, bool> confirmed;
    for (const std::string& line : Lines(Slurp(*dir + "j.jsonl"))) {
        const Json j = Json::parse(line);
        if (j["ev"] == "result") confirmed[j["id"].get<std::uint64_t>()] = j["confirmed"];
        if (j["ev"] != "command" || j["what"] == "survey") continue;
        ++commands;
        EXPECT_TRUE(Has(html, j["text"].get<std::string>())) << j["text"];
    }
    for (const auto& [id, ok] : confirmed) refused += ok ? 0 : 1;
    EXPECT_EQ(commands, 4u);
    ASSERT_EQ(refused, 1u);
    std::size_t failRows = 0;
    for (const std::string& cells : Between(html, "<tr>", "</tr>")) {
        if (!Has(cells, "class=\"fail\"")) continue;
        ++failRows;
        EXPECT_TRUE(Has(cells, "Запрос ID метки DEADBEEF")) << cells;
        EXPECT_TRUE(Has(cells, "не подтверждена")) << cells;
    }
    EXPECT_EQ(failRows, 1u);
    EXPECT_TRUE(Has(html, "<section class=\"part\" id=\"differences\">"));
    for (const char* id : {"devices", "changes", "line", "trends", "notes"})
        EXPECT_TRUE(Has(html, std::string("<section class=\"part\" id=\"") + id + "\">")) << id;
    EXPECT_FALSE(Has(html, "<script"));
    // Nothing fetched: the SVG's namespace is a name, not a reference.
    for (const char* reference : {"href=", "src=", "<link", "@import", "url(http", "<iframe"})
        EXPECT_FALSE(Has(html, reference)) << reference;

    // The trends hold as many points as the chart model gives for the
    // journal's span: the decimation is the model's, not a second one.
    report::ModelBuilder builder(1 << 16);
    builder.BeginJournal(*dir + "j.jsonl");
    const report::ReadCounts counts =
        report::ReadJournal(*dir + "j.jsonl", [&](const report::Entry& e) { builder.Take(e); });
    builder.EndJournal(counts.lines, counts.skipped);
    ASSERT_EQ(counts.skipped, 0u);
    const report::Model model = builder.Finish();
    const engine::ChartView view = report::TrendView(model);
    const std::vector<std::string> figures = Between(html, "<figure class=\"trend\">", "</figure>");
    const std::vector<std::string> sections =
        Between(html, "<section class=\"part\" id=\"changes\">", "</section>");
    ASSERT_EQ(sections.size(), 1u);
    const std::string& changesSection = sections.front();
    std::size_t k = 0;
    std::size_t marks = 0;
    for (const std::uint8_t address : model.trends->Devices()) {
        const engine::DeviceTrend* d = model.trends->Device(address);
        if (!d->Latest()) continue;
        const engine::Chart chart = engine::BuildChart(d, view);
        std::size_t points = 0;
        for (const engine::SeriesChart& s : chart.series)
            for (const auto& line : s.lines) points += line.size();
        ASSERT_LT(k, figures.size());
        EXPECT_GT(points, 0u);
        EXPECT_EQ(PolylinePoints(figures[k]), points) << "device " << int{address};
        EXPECT_TRUE(Has(figures[k], "<svg")) << "device " << int{address};
        // Each command mark carries the number of the changes table's row
        // that names the same command.
        for (const engine::TrendMark& t : d->marks) {
            std::size_t row = 0;
            while (row < model.changes.size() &&
                   (model.changes[row].time != t.time || model.changes[row].addr != address))
                ++row;
            ASSERT_LT(row, model.changes.size()) << t.text;
            const std::string number = std::to_string(row + 1);
            EXPECT_TRUE(Has(figures[k], ">№" + number + "</text>")) << t.text;
            EXPECT_TRUE(Has(changesSection, "<tr><td class=\"num\">" + number + "</td>")) << t.text;
            EXPECT_TRUE(Has(changesSection, t.text)) << t.text;
            ++marks;
        }
        ++k;
    }
    EXPECT_EQ(k, figures.size());
    EXPECT_GE(k, 3u);
    EXPECT_GE(marks, 3u);  // the calibration, the tag write, the identifier request
}

TEST_F(ReportE2e, AnOldJournalStillMakesAReportWithoutTrends) {
    std::ofstream old(*dir + "old.jsonl");
    for (const std::string& line : Lines(Slurp(*dir + "j.jsonl"))) {
        Json j = Json::parse(line);
        j.erase("decoded");
        old << j.dump() << "\n";
    }
    old.close();
    const Result r = RunCli({"report", "--journal", *dir + "old.jsonl", "-o", *dir + "old.html"});
    ASSERT_EQ(r.exit, 0) << r.out << r.err;
    const std::string html = Slurp(*dir + "old.html");
    EXPECT_FALSE(Has(html, "<figure"));
    EXPECT_FALSE(Has(html, "<svg"));
    EXPECT_TRUE(Has(html, "Тренды не построены"));
    EXPECT_TRUE(Has(html, "без расшифрованных значений"));
    // The changes are still there.
    EXPECT_TRUE(Has(html, "Калибровка верхнего уровня устройства 1"));
}

TEST_F(ReportE2e, JournalsAreJoinedAndSkippedLinesSaid) {
    const std::vector<std::string> lines = Lines(Slurp(*dir + "j.jsonl"));
    const std::size_t half = lines.size() / 2;
    std::ofstream a(*dir + "a.jsonl");
    std::ofstream b(*dir + "b.jsonl");
    for (std::size_t i = 0; i < lines.size(); ++i) (i < half ? a : b) << lines[i] << "\n";
    a << "not a journal line\n";
    b << lines.back().substr(0, 20);  // torn
    a.close();
    b.close();
    const Result r = RunCli({"report", "--journal", *dir + "a.jsonl", "--journal", *dir + "b.jsonl",
                             "-o", *dir + "ab.html"});
    ASSERT_EQ(r.exit, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "пропущено 2 строки журнала")) << r.err;
    const std::string html = Slurp(*dir + "ab.html");
    EXPECT_TRUE(Has(html, "a.jsonl"));
    EXPECT_TRUE(Has(html, "b.jsonl"));
    EXPECT_LT(html.find("a.jsonl"), html.find("b.jsonl"));
    EXPECT_TRUE(Has(html, "Запрос ID метки DEADBEEF"));
    EXPECT_TRUE(Has(html, "Смена сетевого номера 5 на 9"));
}

TEST_F(ReportE2e, MistakesEndInExitTwoWithTheReason) {
    std::ofstream(*dir + "broken-site.json") << "{\n  \"format\": \"busdesk-site/1\",\n  oops\n}\n";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string said;  // on standard error
    };
    const std::vector<Case> cases = {
        {"nothing to read", {"report"}, "--journal"},
        {"missing journal", {"report", "--journal", *dir + "none.jsonl"}, "none.jsonl"},
        {"not a site file",
         {"report", "--site", *dir + "broken-site.json", "-o", *dir + "x.html"},
         "broken-site.json:3:"},
        {"unwritable output",
         {"report", "--journal", *dir + "j.jsonl", "-o", *dir + "no/such/dir/x.html"},
         "x.html"},
        {"journal before the command",
         {"--journal", *dir + "j.jsonl", "report"},
         "report --journal"},
        {"unknown option", {"report", "--port", "COM1:"}, "--port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = RunCli(c.args);
        EXPECT_EQ(r.exit, 2) << r.out << r.err;
        EXPECT_TRUE(Has(r.err, c.said)) << r.err;
    }
    EXPECT_FALSE(fs::exists(*dir + "x.html"));
}

}  // namespace
}  // namespace busdesk::testing
