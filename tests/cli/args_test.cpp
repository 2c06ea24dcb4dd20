// The command line's own words: what is a command, what is a usage error.
#include "cli/args.h"

#include <gtest/gtest.h>

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

TEST(ParseInvocation, SplitsOwnOptionsEngineOptionsAndTheCommand) {
    const Invocation a = ParseInvocation(
        {"--json", "--port", "COM3:=/dev/ttyUSB0", "--demo", "show", "5", "--count", "2"});
    EXPECT_TRUE(a.json);
    EXPECT_EQ(a.port, "COM3:");
    EXPECT_EQ(a.engineArgs, (std::vector<std::string>{"--port", "COM3:=/dev/ttyUSB0", "--demo"}));
    EXPECT_EQ(a.command, (std::vector<std::string>{"show", "5", "--count", "2"}));

    // A bare port name only chooses the entry; nothing is mapped.
    const Invocation b = ParseInvocation({"--port=COM2:", "survey"});
    EXPECT_EQ(b.port, "COM2:");
    EXPECT_TRUE(b.engineArgs.empty());
    EXPECT_FALSE(ParseInvocation({"--port"}).error.empty());
}

}  // namespace
}  // namespace busdesk::cli
