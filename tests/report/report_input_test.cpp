// Journals nobody should trust: torn, foreign, hostile. Skipped and counted,
// escaped in the report, never a crash.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/site.h"
#include "engine/file_path.h"
#include "report/journal_reader.h"
#include "report/report.h"
#include "support/wide_names.h"

namespace busdesk::report {
namespace {

namespace fs = std::filesystem;

class ReportInput : public ::testing::Test {
  protected:
    void SetUp() override {
        dir =
            fs::path(::testing::TempDir()) /
            ("busdesk-report-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string p = (dir / name).string();
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path dir;
};

const std::string kStart =
    R"({"t":"2026-12-08T13:40:09.000+03:00","ev":"start","program":"busdesk 0.1.0"})";
const std::string kTx =
    R"({"t":"2026-12-08T13:40:10.103+03:00","ev":"tx","addr":1,"code":"F0","meaning":"запрос данных считывателя","hex":"31 01 F0 C5"})";
const std::string kRx =
    R"({"t":"2026-12-08T13:40:10.604+03:00","ev":"rx","addr":1,"code":"F0","meaning":"данные считывателя","crc":true,"decoded":{"level":512,"temperature":25,"current":1,"empty":10000,"full":20000,"k":100,"mode":2},"hex":"3E 01 F0 19 00 02 01 00 00 00 10 27 00 00 20 4E 00 00 64 00 02 97"})";

TEST_F(ReportInput, LinesThatAreNoJournalLinesAreSkippedOneByOne) {
    struct Case {
        const char* name;
        std::string line;
    };
    const std::vector<Case> bad = {
        {"not JSON", "hello world"},
        {"binary", std::string("\x00\x01\xFF\xFE{\"t\"", 9)},
        {"array", "[1,2,3]"},
        {"string", "\"tx\""},
        {"ev of the wrong type", R"({"t":"2026-12-08T13:40:10.103+03:00","ev":7})"},
        {"unknown ev", R"({"t":"2026-12-08T13:40:10.103+03:00","ev":"reboot"})"},
        {"no time", R"({"ev":"close"})"},
        {"time of the wrong type", R"({"t":1796735933123,"ev":"close"})"},
        {"address too big", R"({"t":"2026-12-08T13:40:10.103+03:00","ev":"tx","addr":1e30})"},
        {"address negative", R"({"t":"2026-12-08T13:40:10.103+03:00","ev":"tx","addr":-1})"},
        {"id beyond 64 bits",
         R"({"t":"2026-12-08T13:40:10.103+03:00","ev":"result","id":123456789012345678901234567890,"confirmed":true})"},
        {"level beyond its type",
         R"({"t":"2026-12-08T13:40:10.604+03:00","ev":"rx","addr":1,"code":"F0","crc":true,"decoded":{"level":99999999999}})"},
        {"decoded not an object",
         R"({"t":"2026-12-08T13:40:10.604+03:00","ev":"rx","addr":1,"code":"F0","crc":true,"decoded":[1]})"},
        {"hex that is not hex", R"({"t":"2026-12-08T13:40:10.103+03:00","ev":"tx","hex":"31 ZZ"})"},
        {"broken UTF-8",
         "{\"t\":\"2026-12-08T13:40:10.103+03:00\",\"ev\":\"tx\",\"meaning\":\"\xC3\x28\"}"},
        {"command without id",
         R"({"t":"2026-12-08T13:40:10.103+03:00","ev":"command","what":"mode"})"},
        {"result without outcome", R"({"t":"2026-12-08T13:40:10.103+03:00","ev":"result","id":1})"},
        {"deep nesting", std::string(5000, '[') + std::string(5000, ']')},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(ParseLine(c.line));
        // Between good lines in a file: only it is lost.
        const std::string path =
            Write("j.jsonl", kStart + "\n" + c.line + "\n" + kTx + "\n" + kRx + "\n");
        std::size_t taken = 0;
        const ReadCounts counts = ReadJournal(path, [&](const Entry&) { ++taken; });
        EXPECT_TRUE(counts.error.empty()) << counts.error;
        EXPECT_EQ(counts.skipped, 1u);
        EXPECT_EQ(counts.lines, 3u);
        EXPECT_EQ(taken, 3u);
    }
}

TEST_F(ReportInput, TornLastLineAndOverlongLinesAreSkippedButWholeLinesKept) {
    const std::string torn = kRx.substr(0, kRx.size() / 2);
    struct Case {
        const char* name;
        std::string text;
        std::size_t lines;
        std::size_t skipped;
    };
    const std::vector<Case> cases = {
        {"torn last line", kStart + "\n" + kTx + "\n" + torn, 2, 1},
        {"last line whole without its break", kStart + "\n" + kTx, 2, 0},
        {"line breaks of Windows", kStart + "\r\n" + kTx + "\r\n", 2, 0},
        {"blank lines", "\n\n" + kStart + "\n   \n", 1, 0},
        {"a torn line ended by the writer", kStart + "\n" + torn + "\n" + kTx + "\n", 2, 1},
        {"overlong line", kStart + "\n" + std::string(kMaxLine + 10, 'x') + "\n" + kTx + "\n", 2,
         1},
        {"overlong to the end", kStart + "\n" + std::string(3 * kMaxLine, '{'), 1, 1},
        {"empty file", "", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadCounts counts = ReadJournal(Write("j.jsonl", c.text), [](const Entry&) {});
        EXPECT_TRUE(counts.error.empty());
        EXPECT_EQ(counts.lines, c.lines);
        EXPECT_EQ(counts.skipped, c.skipped);
    }
}

TEST_F(ReportInput, TextFromTheJournalIsEscapedInTheReportAndSkippedLinesCounted) {
    const std::string journal =
        kStart + "\n" +
        R"({"t":"2026-12-08T13:40:11.000+03:00","ev":"open","port":"COM1:<img src=x>","ok":true})" +
        "\n" +
        R"({"t":"2026-12-08T13:40:12.000+03:00","ev":"command","id":1,"what":"mode<b>","addr":1,"values":{"mode\"><script>":"</td><script>alert(2)</script>"},"text":"<script>alert(1)</script>\u0001&amp;","hex":"31 01 F2 02 00"})" +
        "\n" +
        R"({"t":"2026-12-08T13:40:12.500+03:00","ev":"result","id":1,"confirmed":false,"reason":"<script>alert(3)</script>"})" +
        "\n" + "\xFF\xFE garbage\n" + kTx + "\n" + kRx + "\n" + kRx.substr(0, 40);
    Request r;
    r.journals = {Write("a.jsonl", journal)};
    r.output = (dir / "r.html").string();
    const Outcome o = WriteReport(r);
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.skipped, 2u);
    const std::string html = Read(r.output);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("<img"), std::string::npos);
    EXPECT_EQ(html.find("<b>"), std::string::npos);
    EXPECT_EQ(html.find('\x01'), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("&amp;amp;"), std::string::npos);
    EXPECT_NE(html.find("не подтверждена: &lt;script&gt;alert(3)"), std::string::npos);
    EXPECT_NE(html.find("пропущено 2 строки"), std::string::npos);
}

TEST_F(ReportInput, AClockInAnotherCenturyKeepsTheTrendSmall) {
    // One reading stamped by a clock gone wrong stretches the span to
    // millennia; the chart must not get a time label every two hours of it.
    std::string far = kRx;
    far.replace(far.find("2026-12-08T13:40:10.604"), 23, "2199-12-31T23:59:59.999");
    std::string early = kRx;
    early.replace(early.find("2026-12-08T13:40:10.604"), 23, "1970-01-01T00:00:00.001");
    for (const std::string& odd : {far, early}) {
        Request r;
        r.journals = {Write("j.jsonl", kStart + "\n" + kTx + "\n" + kRx + "\n" + kTx + "\n" + odd +
                                           "\n" + kTx + "\n" + kRx + "\n")};
        r.output = (dir / "r.html").string();
        const Outcome o = WriteReport(r);
        ASSERT_TRUE(o.ok) << o.error;
        const std::string html = Read(r.output);
        EXPECT_LT(html.size(), 200u * 1024);
        EXPECT_NE(html.find("тренды показывают его последние 31 дня"), std::string::npos);
        EXPECT_NE(html.find("<figure class=\"trend\">"), std::string::npos);
    }
}

TEST_F(ReportInput, ASiteFileAloneMakesAReportOfItsDevices) {
    cli::site::Site site;
    site.date = "2026-12-08T16:18:53.123+03:00";
    site.port = "COM3:";
    cli::site::Device d;
    d.address = 7;
    d.serial = 100789;
    d.version = "1.2.<b>5.";  // a site file is edited by people
    d.mode = 0x80;
    cli::site::Tag t;
    t.serial = 5001;
    t.id = 0x0A0B0C0D;
    d.tags.push_back(t);
    site.devices.push_back(d);
    Request r;
    r.site = Write("site.json", cli::site::Write(site));
    r.output = (dir / "r.html").string();
    const Outcome o = WriteReport(r);
    ASSERT_TRUE(o.ok) << o.error;
    const std::string html = Read(r.output);
    for (const char* part : {">100789<", ">5001<", ">A0B0C0D<", "1.2.&lt;b&gt;5.",
                             "COM3:", "08.12.2026 16:18:53", "Мост, Мастер", "Журнал не задан"})
        EXPECT_NE(html.find(part), std::string::npos) << part;
    // Nothing to compare the file with.
    EXPECT_EQ(html.find("id=\"differences\""), std::string::npos);
}

TEST_F(ReportInput, WhatCannotBeReadOrWrittenIsRefusedAndNothingIsOverwritten) {
    const std::string journal = Write("j.jsonl", kStart + "\n" + kTx + "\n" + kRx + "\n");
    const std::string site = Write("bad-site.json", "{\n  \"format\": 1\n}\n");
    struct Case {
        const char* name;
        Request request;
        std::string error;  // a part of it
    };
    std::vector<Case> cases = {
        {"nothing to read", {{}, "", (dir / "r.html").string()}, "не задан ни журнал"},
        {"missing journal",
         {{(dir / "none.jsonl").string()}, "", (dir / "r.html").string()},
         "none.jsonl"},
        // Refused on opening by Windows, after it by POSIX: the path is said.
        {"a folder as the journal",
         {{dir.string()}, "", (dir / "r.html").string()},
         dir.filename().string()},
        {"not a site file", {{journal}, site, (dir / "r.html").string()}, "bad-site.json:2:"},
        {"output in a missing folder", {{journal}, "", (dir / "no" / "r.html").string()}, ""},
        {"output over the journal", {{journal}, "", journal}, "это журнал"},
    };
#ifndef _WIN32
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    cases.push_back(
        {"a FIFO as the journal", {{fifo}, "", (dir / "r.html").string()}, "не обычный файл"});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = WriteReport(c.request);
        EXPECT_FALSE(o.ok);
        EXPECT_FALSE(o.error.empty());
        EXPECT_NE(o.error.find(c.error), std::string::npos) << o.error;
        EXPECT_FALSE(fs::exists(dir / "r.html"));
    }
    EXPECT_EQ(Read(journal), kStart + "\n" + kTx + "\n" + kRx + "\n");
    // Nothing left beside the output either.
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
}

TEST_F(ReportInput, CyrillicNamesAreReadAndWrittenUnderExactlyThoseNames) {
    const std::string folder = engine::FromNativePath(dir.native());
    const auto in = [&](const std::string& name) {
        return folder + static_cast<char>(fs::path::preferred_separator) + name;
    };
    const std::string journal = in("день смены.jsonl");
    {
        const std::optional<fs::path> native = engine::ToFsPath(journal);
        ASSERT_TRUE(native);
        std::ofstream(*native, std::ios::binary) << kStart << "\n" << kTx << "\n" << kRx << "\n";
    }
    ASSERT_EQ(busdesk::testing::NamesIn(folder), std::vector<std::string>{"день смены.jsonl"});

    // The report never takes the journal's place, Cyrillic name or not.
    Request over;
    over.journals = {journal};
    over.output = journal;
    const Outcome refused = WriteReport(over);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("это журнал"), std::string::npos) << refused.error;

    Request r;
    r.journals = {journal};
    r.output = in("Отчёт смены.html");
    for (int pass = 0; pass < 2; ++pass) {  // made, then replaced
        SCOPED_TRACE(pass);
        const Outcome o = WriteReport(r);
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_EQ(o.skipped, 0u);
        EXPECT_EQ(busdesk::testing::NamesIn(folder),
                  (std::vector<std::string>{"Отчёт смены.html", "день смены.jsonl"}));
    }
    const std::optional<fs::path> output = engine::ToFsPath(r.output);
    ASSERT_TRUE(output);
    std::ifstream html(*output, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(html), {}};
    EXPECT_NE(text.find("день смены.jsonl"), std::string::npos);
}

}  // namespace
}  // namespace busdesk::report
