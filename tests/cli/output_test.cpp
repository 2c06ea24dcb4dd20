// What busdesk-cli prints besides the bus: JSON that a strict parser takes
// whatever bytes a value holds, Russian plurals, and the progress line that
// only a terminal gets.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "cli/commands.h"

namespace busdesk::cli {
namespace {

TEST(JsonOutput, BytesThatAreNotUtf8StillGiveValidJson) {
    const std::string bad[] = {"\xff", "5 \xff\xfe", "\xd0", "ok \xe2\x82", "\"quote\\\x01"};
    for (const std::string& value : bad) {
        SCOPED_TRACE(value);
        const std::string line = FormatRecord(
            {"result", {{"command", JsonString("set-address 5 " + value)}, {"exit", "2"}}, ""},
            true);
        nlohmann::json parsed;
        ASSERT_NO_THROW(parsed = nlohmann::json::parse(line)) << line;
        EXPECT_EQ(parsed["type"], "result");
        EXPECT_EQ(parsed["exit"], 2);
        EXPECT_EQ(parsed["command"].get<std::string>().rfind("set-address 5 ", 0), 0u);
    }
}

TEST(JsonOutput, FieldsKeepTheirOrderAndTypes) {
    const std::string line = FormatRecord({"survey",
                                           {{"addresses", "[1,5,7]"},
                                            {"serial", JsonNumber("100456")},
                                            {"version", JsonNumber("21.3.1.")},
                                            {"text", JsonString("найдены адреса: 1 5 7")}},
                                           "для людей"},
                                          true);
    EXPECT_EQ(line,
              "{\"type\":\"survey\",\"addresses\":[1,5,7],\"serial\":100456,"
              "\"version\":\"21.3.1.\",\"text\":\"найдены адреса: 1 5 7\"}");
    EXPECT_EQ(FormatRecord({"survey", {{"addresses", "[1]"}}, "для людей"}, false), "для людей");
}

TEST(Plurals, RussianFormsOfTheNumber) {
    const struct {
        long long n;
        const char* word;
    } cases[] = {
        {0, "тактов"},  {1, "такт"},    {2, "такта"},    {4, "такта"},    {5, "тактов"},
        {11, "тактов"}, {12, "тактов"}, {14, "тактов"},  {21, "такт"},    {22, "такта"},
        {25, "тактов"}, {101, "такт"},  {111, "тактов"}, {112, "тактов"}, {-1, "такт"},
    };
    for (const auto& c : cases) EXPECT_EQ(Plural(c.n, "такт", "такта", "тактов"), c.word) << c.n;
}

TEST(ProgressLine, RewritesOneLineOnATerminalAndIsSilentElsewhere) {
    std::ostringstream terminal;
    Progress on(terminal, true);
    on.Show("жду метку 1A2B3C4D", 6, 12);
    EXPECT_EQ(terminal.str(), "\rжду метку 1A2B3C4D: 6 с из 12");
    on.Show("жду", 7, 12);
    // The shorter line wipes what is left of the longer one, counted in characters.
    const std::string longer = "жду метку 1A2B3C4D: 6 с из 12";
    const std::string shorter = "жду: 7 с из 12";
    EXPECT_EQ(terminal.str(), "\r" + longer + "\r" + shorter + std::string(29 - 14, ' '));
    terminal.str("");
    on.Clear();
    EXPECT_EQ(terminal.str(), "\r" + std::string(29, ' ') + "\r");
    terminal.str("");
    on.Clear();
    EXPECT_EQ(terminal.str(), "");  // nothing shown, nothing to wipe

    std::ostringstream pipe;
    Progress off(pipe, false);
    off.Show("жду метку 1A2B3C4D", 6, 12);
    off.Clear();
    EXPECT_EQ(pipe.str(), "");
}

}  // namespace
}  // namespace busdesk::cli
