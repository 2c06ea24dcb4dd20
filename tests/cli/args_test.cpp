// The command line's own words: what is a command, what is a usage error.
#include "cli/args.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace busdesk::cli {
namespace {

TEST(ParseStep, AcceptsEveryCommandWithItsWords) {
    struct Case {
        std::vector<std::string> words;
        Verb verb;
    };
    const Case cases[] = {
        {{"survey"}, Verb::Survey},
        {{"show", "5", "--count", "3"}, Verb::Show},
        {{"set-address", "5", "7"}, Verb::SetAddress},
        {{"set-mode", "7", "bridge", "--average", "--invert"}, Verb::SetMode},
        {{"calibrate", "1", "low", "--yes"}, Verb::Calibrate},
        {{"set-serial", "1", "1A2B3C4D", "100"}, Verb::SetSerial},
        {{"set-ident", "1", "ABC", "0"}, Verb::SetIdent},
        {{"tags", "1", "--seconds", "2"}, Verb::Tags},
        {{"read-tag", "1", "ABC"}, Verb::ReadTag},
        {{"write-tag", "1", "ABC", "--power", "120", "--new-id", "DEAD"}, Verb::WriteTag},
        {{"run", "plan.txt", "--keep-going"}, Verb::Run},
        {{"inventory"}, Verb::Inventory},
        {{"inventory", "-o", "site.json", "--tags", "0"}, Verb::Inventory},
        {{"verify", "site.json", "--readings", "2.5"}, Verb::Verify},
        {{"apply", "site.json", "--dry-run", "--tags", "3"}, Verb::Apply},
    };
    for (const Case& c : cases) {
        const ParsedStep p = ParseStep(c.words);
        ASSERT_TRUE(p.step) << c.words[0] << ": " << p.error;
        EXPECT_EQ(p.step->verb, c.verb) << c.words[0];
    }
}

TEST(ParseStep, RefusesMalformedCommands) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"show"},                       // no address
        {"show", "5", "6"},             // one too many
        {"show", "x"},                  // address no number
        {"show", "256"},                // no address of a bus
        {"show", "5", "--count", "0"},  // nothing to wait for
        {"show", "5", "--count", "2", "--seconds", "2"},
        {"show", "5", "--count"},                 // option without its value
        {"set-address", "5"},                     // NEW missing
        {"set-mode", "5", "tag"},                 // the window does not offer it
        {"set-mode", "5", "reader", "--invert"},  // flags only with the bridge
        {"calibrate", "5", "middle", "--yes"},
        {"calibrate", "5", "low", "--force"},
        {"write-tag", "1", "ABC", "--power", "1", "--power", "2"},
        {"inventory", "site.json"},      // the file goes after -o
        {"inventory", "-o"},             // -o without its file
        {"inventory", "--tags", "601"},  // longer than any tag interval is useful
        {"verify"},                      // FILE missing
        {"verify", "site.json", "--readings", "-1"},
        {"verify", "site.json", "--readings", "5%"},
        {"verify", "site.json", "--dry-run"},  // only apply has it
        {"apply", "site.json", "--readings", "5"},
    };
    for (const auto& words : bad) {
        const ParsedStep p = ParseStep(words);
        EXPECT_FALSE(p.step) << (words.empty() ? "(empty)" : words[0]);
        EXPECT_FALSE(p.error.empty());
    }
}

TEST(ParseStep, LeavesValuesToTheWindowButKeepsThemExact) {
    // Out of range or odd values are the window's to refuse, with its message.
    const ParsedStep p = ParseStep({"write-tag", "007", "12G4", "--power", "-3", "--sleep", " 5"});
    ASSERT_TRUE(p.step) << p.error;
    EXPECT_EQ(p.step->address, "7");  // as the device list spells it
    EXPECT_EQ(p.step->tagId, "12G4");
    EXPECT_EQ(p.step->power, "-3");
    EXPECT_EQ(p.step->sleep, " 5");
    EXPECT_FALSE(p.step->mode);
    const ParsedStep a = ParseStep({"set-address", "5", "201"});
    ASSERT_TRUE(a.step);
    EXPECT_EQ(a.step->value, "201");
    EXPECT_FALSE(ParseStep({"calibrate", "1", "high"}).step->yes);
}

TEST(ParseStep, SiteCommandsKeepTheirFileTimeAndTolerance) {
    const ParsedStep inv = ParseStep({"inventory", "--output=a b.json", "--tags", "4"});
    ASSERT_TRUE(inv.step) << inv.error;
    EXPECT_EQ(inv.step->output, "a b.json");
    EXPECT_EQ(inv.step->seconds, 4);
    EXPECT_FALSE(ParseStep({"inventory"}).step->output);  // standard output
    const ParsedStep verify = ParseStep({"verify", "site.json", "--readings", "2.5"});
    ASSERT_TRUE(verify.step) << verify.error;
    EXPECT_EQ(verify.step->value, "site.json");
    EXPECT_EQ(verify.step->readings, 2.5);
    EXPECT_FALSE(ParseStep({"verify", "site.json"}).step->readings);
    EXPECT_TRUE(ParseStep({"apply", "site.json", "--dry-run"}).step->dryRun);
    EXPECT_FALSE(ParseStep({"apply", "site.json"}).step->dryRun);
}

TEST(ParseStep, ReportTakesJournalsInOrderASiteAndAnOutput) {
    const ParsedStep r = ParseStep({"report", "--journal", "b.jsonl", "--site", "s.json",
                                    "--journal=a.jsonl", "--output", "out.html"});
    ASSERT_TRUE(r.step) << r.error;
    EXPECT_EQ(r.step->verb, Verb::Report);
    EXPECT_EQ(r.step->journals, (std::vector<std::string>{"b.jsonl", "a.jsonl"}));
    EXPECT_EQ(r.step->site, "s.json");
    EXPECT_EQ(r.step->output, "out.html");
    const ParsedStep plain = ParseStep({"report", "--site", "s.json"});
    ASSERT_TRUE(plain.step) << plain.error;
    EXPECT_EQ(plain.step->output, "report.html");
    EXPECT_TRUE(plain.step->journals.empty());

    const std::vector<std::vector<std::string>> bad = {
        {"report"},                                        // nothing to make it from
        {"report", "day.jsonl"},                           // the journal goes after --journal
        {"report", "--journal"},                           // without its file
        {"report", "--journal", ""},
        {"report", "--site", "a.json", "--site", "b.json"},  // one site file
        {"report", "--site", "a.json", "-o", "x", "-o", "y"},
        {"report", "--site", "a.json", "--tags", "3"},
    };
    for (const auto& words : bad) {
        const ParsedStep p = ParseStep(words);
        EXPECT_FALSE(p.step) << words.size();
        EXPECT_FALSE(p.error.empty());
    }
}

TEST(ParsePlan, SkipsCommentsAndBlankLinesAndNamesTheBadLine) {
    const Plan plan = ParsePlan(
        "# commissioning\n"
        "\n"
        "survey   # first\n"
        "  set-address 5 7\r\n"
        "set-ident 1 \"A#B\" 0\n");
    ASSERT_EQ(plan.error, "");
    ASSERT_EQ(plan.steps.size(), 3u);
    EXPECT_EQ(plan.steps[1].text, "set-address 5 7");
    EXPECT_EQ(plan.steps[2].tagId, "A#B");

    EXPECT_EQ(ParsePlan("survey\nshow\n").error.rfind("строка 2: ", 0), 0u);
    EXPECT_EQ(ParsePlan("run other.plan\n").error.rfind("строка 1: ", 0), 0u);
    EXPECT_FALSE(ParsePlan("# nothing\n").error.empty());
}

TEST(ParseInvocation, SplitsOwnOptionsSharedOptionsAndTheCommand) {
    const Invocation a = ParseInvocation(
        {"--json", "--port", "COM3:=/dev/ttyUSB0", "--demo", "show", "5", "--count", "2"});
    EXPECT_EQ(a.error, "");
    EXPECT_TRUE(a.json);
    EXPECT_EQ(a.port, "COM3:");
    EXPECT_EQ(a.options.ports.Mapped("COM3:"), "/dev/ttyUSB0");
    EXPECT_TRUE(a.options.demo);
    EXPECT_EQ(a.command, (std::vector<std::string>{"show", "5", "--count", "2"}));

    // A bare port name only chooses the entry; nothing is mapped.
    const Invocation b = ParseInvocation({"--port=COM2:", "survey"});
    EXPECT_EQ(b.port, "COM2:");
    EXPECT_EQ(b.options.ports.Mapped("COM2:"), std::nullopt);
    EXPECT_FALSE(ParseInvocation({"--port"}).error.empty());
}

// Options take their value after a blank or after "="; the command may follow
// "--"; a port entry is spelled one way wherever it is read.
TEST(ParseInvocation, ReadsEachRow) {
    struct Row {
        std::vector<std::string> args;
        const char* error;  // "" when accepted
        const char* port;
        const char* journal;
        const char* command;
    };
    const Row rows[] = {
        {{"--demo", "--journal", "/tmp/x.jsonl", "survey"}, "", "COM1:", "/tmp/x.jsonl", "survey"},
        {{"--journal=/tmp/x.jsonl", "survey"}, "", "COM1:", "/tmp/x.jsonl", "survey"},
        {{"--", "survey"}, "", "COM1:", "", "survey"},
        {{"--demo", "--", "show", "1", "--count", "2"}, "", "COM1:", "", "show 1 --count 2"},
        {{"--port", "com1:=/dev/pts/3", "survey"}, "", "COM1:", "", "survey"},
        {{"--port", "COM2=/dev/pts/3", "survey"}, "", "COM2:", "", "survey"},
        {{"--port", "com4", "survey"}, "", "COM4:", "", "survey"},
        {{"--port", "COM10:", "survey"},
         "--port: порта COM10: нет в списке окна (COM1: .. COM9:)",
         "",
         "",
         ""},
        {{"--port", "COM10:=/dev/null", "survey"},
         "--port: порта COM10: нет в списке окна (COM1: .. COM9:)",
         "",
         "",
         ""},
        {{"--port", "tty0", "survey"},
         "--port: «tty0» не имя порта: нужно COMn: (COM1: .. COM9:)",
         "",
         "",
         ""},
        {{"--bogus", "survey"}, "неизвестный параметр --bogus", "", "", ""},
        {{"--journal"}, "после --journal нужно значение", "", "", ""},
        {{"--journal", "a", "--journal", "b", "survey"}, "--journal указан дважды", "", "", ""},
    };
    for (const Row& row : rows) {
        const Invocation inv = ParseInvocation(row.args);
        std::string shown;
        for (const std::string& a : row.args) shown += a + " ";
        SCOPED_TRACE(shown);
        EXPECT_EQ(inv.error, row.error);
        if (*row.error != '\0') continue;
        EXPECT_EQ(inv.port, row.port);
        EXPECT_EQ(inv.options.journal, row.journal);
        std::string command;
        for (const std::string& w : inv.command) command += (command.empty() ? "" : " ") + w;
        EXPECT_EQ(command, row.command);
    }
}

TEST(ParseInvocation, ReconnectIsTheWindowsSwitch) {
    EXPECT_FALSE(ParseInvocation({"survey"}).options.reconnect);
    const Invocation a = ParseInvocation({"--reconnect", "--port", "COM2:", "show", "1"});
    EXPECT_EQ(a.error, "");
    EXPECT_TRUE(a.options.reconnect);
    EXPECT_EQ(a.port, "COM2:");
    // After the command it is the command's word, not ours.
    const Invocation b = ParseInvocation({"survey", "--reconnect"});
    EXPECT_FALSE(b.options.reconnect);
    EXPECT_NE(UsageText().find("--reconnect"), std::string::npos);
}

TEST(ParseInvocation, AMistakeStillKnowsWhetherJsonWasAskedFor) {
    EXPECT_TRUE(ParseInvocation({"--json", "--bogus", "survey"}).json);
    EXPECT_TRUE(ParseInvocation({"--bogus", "--json"}).json);
    EXPECT_TRUE(ParseInvocation({"--journal", "x.jsonl", "--json", "--bogus"}).json);
    EXPECT_TRUE(ParseInvocation({"--demo", "--journal", "x.jsonl", "--json", "survey"}).json);
    EXPECT_FALSE(ParseInvocation({"--bogus", "survey", "--json"}).json);  // the command's word
    EXPECT_FALSE(ParseInvocation({"--", "--json"}).json);
}

TEST(ParseStep, TakesValuesEitherWayAndSaysMistakesInRussian) {
    const ParsedStep a = ParseStep({"show", "5", "--count=3"});
    ASSERT_TRUE(a.step) << a.error;
    EXPECT_EQ(a.step->count, 3);
    const ParsedStep b = ParseStep({"write-tag", "1", "ABC", "--power=-3", "--serial", "-5"});
    ASSERT_TRUE(b.step) << b.error;
    EXPECT_EQ(b.step->power, "-3");
    EXPECT_EQ(b.step->serial, "-5");

    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"survey", "5"}, "survey: у команды нет параметров, лишнее слово: 5"},
        {{"show", "5", "6"}, "show: лишнее слово: 6 (нужно ADDR)"},
        {{"set-serial", "1"}, "set-serial: не хватает TAG-ID NUMBER (нужно ADDR TAG-ID NUMBER)"},
        {{"show", "5", "--bogus"}, "show: неизвестный параметр --bogus"},
        {{"show", "5", "--count"}, "show: после --count нужно значение"},
        {{"calibrate", "1", "low", "--yes=1"}, "calibrate: --yes не принимает значения"},
    };
    for (const auto& [words, error] : rows) EXPECT_EQ(ParseStep(words).error, error) << words[0];
}

TEST(ParsePlan, AByteOrderMarkIsNoPartOfTheFirstCommand) {
    const Plan plan = ParsePlan("\xEF\xBB\xBFsurvey\nshow 1\n");
    ASSERT_EQ(plan.error, "");
    ASSERT_EQ(plan.steps.size(), 2u);
    EXPECT_EQ(plan.steps[0].verb, Verb::Survey);
    // Only at the very start: elsewhere it is a stray character.
    EXPECT_FALSE(ParsePlan("survey\n\xEF\xBB\xBFshow 1\n").error.empty());
}

class PlanFileTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const std::string& p : made) unlink(p.c_str());
    }
    std::string File(const std::string& text) {
        char name[] = "/tmp/busdesk-plan-XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
        made.push_back(name);
        return name;
    }
    std::vector<std::string> made;
};

TEST_F(PlanFileTest, ReadsARegularFileAndRefusesWhatWouldHangOrGrow) {
    const PlanFile good = ReadPlanFile(File("survey\n"));
    EXPECT_EQ(good.error, "");
    EXPECT_EQ(good.text, "survey\n");

    // Exactly at the limit is read; one byte more is refused, not cut.
    const std::string big = File(std::string(64, '#'));
    EXPECT_EQ(ReadPlanFile(big, 64).text.size(), 64u);
    const PlanFile over = ReadPlanFile(big, 63);
    EXPECT_EQ(over.error, "план " + big + " больше 63 байт");
    EXPECT_EQ(over.text, "");

    // A device never ends; a FIFO without a writer would wait for ever.
    EXPECT_EQ(ReadPlanFile("/dev/zero").error, "план /dev/zero - не обычный файл");
    const std::string fifo = "/tmp/busdesk-plan-fifo-" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    made.push_back(fifo);
    EXPECT_EQ(ReadPlanFile(fifo).error, "план " + fifo + " - не обычный файл");
    EXPECT_NE(ReadPlanFile("/tmp").error, "");
    EXPECT_EQ(ReadPlanFile("/tmp/busdesk-no-such-plan").error,
              "нет файла плана /tmp/busdesk-no-such-plan");
}

TEST(JournalLost, AgreesWithTheNumber) {
    const std::pair<std::uint64_t, const char*> rows[] = {
        {1, "журнал: потеряна 1 строка"},    {2, "журнал: потеряно 2 строки"},
        {4, "журнал: потеряно 4 строки"},    {5, "журнал: потеряно 5 строк"},
        {11, "журнал: потеряно 11 строк"},   {12, "журнал: потеряно 12 строк"},
        {21, "журнал: потеряна 21 строка"},  {22, "журнал: потеряно 22 строки"},
        {111, "журнал: потеряно 111 строк"}, {1000, "журнал: потеряно 1000 строк"},
    };
    for (const auto& [n, text] : rows) EXPECT_EQ(JournalLostText(n, ""), text) << n;
    EXPECT_EQ(JournalLostText(3, "No space left on device"),
              "журнал: потеряно 3 строки: No space left on device");
}

}  // namespace
}  // namespace busdesk::cli
