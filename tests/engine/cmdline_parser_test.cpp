// The shared reader of command lines: both spellings of a value, "--" and
// the Russian mistakes, for the three programs alike.
#include <gtest/gtest.h>

#include "cmdline/parser.h"

namespace busdesk::cmdline {
namespace {

const std::vector<OptionSpec> kSpecs = {
    {"--demo", 0}, {"--help,-h", 0}, {"--journal", 1}, {"--port", 1}, {"--at", 2}};

std::string Show(const Parsed& p) {
    std::string s;
    for (const Given& g : p.options) {
        s += g.name;
        for (const std::string& v : g.values) s += "[" + v + "]";
        s += ' ';
    }
    s += "|";
    for (const std::string& w : p.words) s += " " + w;
    return s;
}

TEST(CmdlineParser, ReadsOptionsInOrderWithEitherSpelling) {
    struct Row {
        std::vector<std::string> args;
        Words words;
        const char* shown;
    };
    const Row rows[] = {
        {{}, Words::None, "|"},
        {{"--journal", "a.jsonl", "--demo"}, Words::None, "--journal[a.jsonl] --demo |"},
        {{"--journal=a.jsonl"}, Words::None, "--journal[a.jsonl] |"},
        {{"--port=COM1:=/dev/x", "--port", "COM2:=/dev/y"},
         Words::None,
         "--port[COM1:=/dev/x] --port[COM2:=/dev/y] |"},
        {{"-h"}, Words::None, "--help |"},
        {{"--at", "1", "drop", "--demo", "--at", "2", "back 1"},
         Words::None,
         "--at[1][drop] --demo --at[2][back 1] |"},
        // A value is the next word, whatever it looks like.
        {{"--journal=--demo"}, Words::None, "--journal[--demo] |"},
        {{"--journal", "--demo"}, Words::None, "--journal[--demo] |"},
        {{"--port", "-3"}, Words::None, "--port[-3] |"},
        // The command: options stop at its first word.
        {{"--demo", "--journal", "x.jsonl", "survey"},
         Words::Rest,
         "--demo --journal[x.jsonl] | survey"},
        {{"--demo", "show", "5", "--demo", "--count", "2"},
         Words::Rest,
         "--demo | show 5 --demo --count 2"},
        {{"--", "survey"}, Words::Rest, "| survey"},
        {{"--demo", "--", "--demo"}, Words::Any, "--demo | --demo"},
        {{"5", "--demo", "x", "-1"}, Words::Any, "--demo | 5 x -1"},
    };
    for (const Row& row : rows) {
        const Parsed p = Parse(kSpecs, row.args, row.words);
        EXPECT_EQ(p.error, "") << row.shown;
        EXPECT_EQ(Show(p), row.shown);
    }
}

TEST(CmdlineParser, MistakesAreSaidInRussian) {
    struct Row {
        std::vector<std::string> args;
        Words words;
        const char* error;
    };
    const Row rows[] = {
        {{"--bogus"}, Words::None, "неизвестный параметр --bogus"},
        {{"--demo", "--bogus=1", "survey"}, Words::Rest, "неизвестный параметр --bogus=1"},
        {{"-x"}, Words::Any, "неизвестный параметр -x"},
        {{"--journal"}, Words::None, "после --journal нужно значение"},
        {{"--port"}, Words::Rest, "после --port нужно значение"},
        {{"--at", "5"}, Words::None, "после --at нужно 2 слова"},
        {{"--demo=yes"}, Words::None, "--demo не принимает значения"},
        {{"COM1:"}, Words::None, "лишнее слово: COM1:"},
        {{"--demo", "--", "x"}, Words::None, "лишнее слово: x"},
    };
    for (const Row& row : rows) {
        const Parsed p = Parse(kSpecs, row.args, row.words);
        EXPECT_EQ(p.error, row.error) << (row.args.empty() ? "" : row.args.front());
    }
}

TEST(CmdlineParser, LastAndCountSeeEveryOccurrence) {
    const Parsed p = Parse(kSpecs, {"--journal", "a", "--demo", "--journal=b"}, Words::None);
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.Count("--journal"), 2);
    EXPECT_EQ(p.Last("--journal"), "b");
    EXPECT_TRUE(p.Has("--demo"));
    EXPECT_FALSE(p.Has("--port"));
    EXPECT_EQ(p.Last("--port"), std::nullopt);
}

}  // namespace
}  // namespace busdesk::cmdline
