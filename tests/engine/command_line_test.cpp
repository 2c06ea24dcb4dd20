#include "engine/command_line.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

namespace busdesk::engine {
namespace {

struct Row {
    const char* name;
    std::vector<std::string> args;
    bool ok;
    bool demo;
    const char* com1;  // where COM1: was mapped, "" when left to discovery
    const char* com2;
};

const Row kRows[] = {
    {"nothing", {}, true, false, "", ""},
    {"demo", {"--demo"}, true, true, "", ""},
    {"port, two words", {"--port", "COM1:=/dev/ttyUSB0"}, true, false, "/dev/ttyUSB0", ""},
    {"port=, repeated",
     {"--port=COM1:=/dev/a", "--port", "COM2:=/dev/b"},
     true,
     false,
     "/dev/a",
     "/dev/b"},
    {"later mapping wins",
     {"--port", "COM1:=/dev/a", "--port", "COM1:=/dev/b"},
     true,
     false,
     "/dev/b",
     ""},
    {"port without value", {"--port"}, false, false, "", ""},
    {"port without path", {"--port", "COM1:"}, false, false, "", ""},
    {"not a port name", {"--port", "LPT1:=/dev/lp0"}, false, false, "", ""},
    {"unknown option", {"--config", "x"}, false, false, "", ""},
    {"stray word", {"COM1:"}, false, false, "", ""},
    {"name spelled loosely", {"--port=com2=/dev/c"}, true, false, "", "/dev/c"},
    {"not in the window's list", {"--port", "COM10:=/dev/null"}, false, false, "", ""},
    {"-- ends the options", {"--demo", "--", "--port"}, false, false, "", ""},
};

TEST(CommandLine, ParsesEachRow) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        const Options o = ParseCommandLine(row.args);
        EXPECT_EQ(o.error.empty(), row.ok) << o.error;
        if (!row.ok || !o.error.empty()) continue;
        EXPECT_EQ(o.demo, row.demo);
        EXPECT_EQ(o.ports.Mapped("COM1:").value_or(""), row.com1);
        EXPECT_EQ(o.ports.Mapped("COM2:").value_or(""), row.com2);
    }
}

TEST(CommandLine, JournalTakesOneFile) {
    struct J {
        std::vector<std::string> args;
        const char* journal;  // nullptr: refused
    };
    const J rows[] = {
        {{}, ""},
        {{"--journal", "a.jsonl"}, "a.jsonl"},
        {{"--journal=b.jsonl", "--demo"}, "b.jsonl"},
        {{"--journal", "--demo"}, "--demo"},  // a file may be named so
        {{"--journal"}, nullptr},
        {{"--journal="}, nullptr},
        {{"--journal", "a", "--journal", "b"}, nullptr},  // one session, one journal
    };
    for (const J& r : rows) {
        const Options o = ParseCommandLine(r.args);
        SCOPED_TRACE(r.args.empty() ? "" : r.args.front());
        if (r.journal == nullptr) {
            EXPECT_FALSE(o.error.empty());
        } else {
            EXPECT_EQ(o.error, "");
            EXPECT_EQ(o.journal, r.journal);
        }
    }
}

TEST(CommandLine, Rs485AndPortListAreSwitches) {
    EXPECT_FALSE(ParseCommandLine({}).rs485);
    EXPECT_FALSE(ParseCommandLine({"--demo"}).listPorts);
    EXPECT_TRUE(ParseCommandLine({"--list-ports"}).listPorts);
    for (const char* option : {"--list-ports", "--port", "--journal", "--demo"})
        EXPECT_NE(UsageText().find(option), std::string::npos) << option;
#ifdef _WIN32
    // Windows offers no RS-485 switch: neither the text nor the reader has it.
    EXPECT_EQ(UsageText().find("--rs485"), std::string::npos);
    EXPECT_FALSE(ParseCommandLine({"--rs485"}).error.empty());
#else
    const Options o = ParseCommandLine({"--rs485", "--port", "COM2:=/dev/ttyS4"});
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_TRUE(o.rs485);
    EXPECT_FALSE(o.listPorts);
    EXPECT_NE(UsageText().find("--rs485"), std::string::npos);
#endif
}

// Off unless asked for, a switch in every front end's reader, and carried into
// the engine beside what the port set-up gave it.
TEST(CommandLine, ReconnectIsASwitchTheEngineIsStartedWith) {
    struct Switch {
        std::vector<std::string> args;
        const char* error;
        bool reconnect;
    };
    const Switch rows[] = {
        {{}, "", false},
        {{"--reconnect"}, "", true},
        {{"--demo", "--reconnect", "--port", "COM2:=/dev/ttyS4"}, "", true},
        {{"--reconnect=yes"}, "--reconnect не принимает значения", false},
        {{"--", "--reconnect"}, "лишнее слово: --reconnect", false},
    };
    for (const Switch& row : rows) {
        SCOPED_TRACE(row.args.empty() ? "" : row.args.back());
        const Options o = ParseCommandLine(row.args);
        EXPECT_EQ(o.error, row.error);
        EXPECT_EQ(o.reconnect, row.reconnect);
        Engine::Options fromPorts;
        fromPorts.describePorts = [] { return std::vector<std::string>{"COM1: — /dev/ttyS0"}; };
        fromPorts.tick = std::chrono::milliseconds(7);
        const Engine::Options e = WithCommandLine(fromPorts, o);
        EXPECT_EQ(e.reconnect, row.reconnect);
        ASSERT_TRUE(e.describePorts);
        EXPECT_EQ(e.describePorts().size(), 1U);
        EXPECT_EQ(e.tick, std::chrono::milliseconds(7));
    }
    EXPECT_NE(UsageText().find("--reconnect"), std::string::npos);
}

// Mistakes are said in Russian and name what was wrong.
TEST(CommandLine, MistakesAreSaidInRussian) {
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"--bogus"}, "неизвестный параметр --bogus"},
        {{"--journal"}, "после --journal нужно значение"},
        {{"--journal="}, "после --journal нужно значение"},
        {{"--demo=1"}, "--demo не принимает значения"},
        {{"--port", "COM10:=/dev/null"}, "--port: порта COM10: нет в списке окна (COM1: .. COM9:)"},
        {{"--port=LPT1:=/dev/lp0"}, "--port: «LPT1:» не имя порта: нужно COMn: (COM1: .. COM9:)"},
        {{"COM1:"}, "лишнее слово: COM1:"},
    };
    for (const auto& [args, error] : rows)
        EXPECT_EQ(ParseCommandLine(args).error, error) << args[0];
}

// The table goes out without a display, mapped entries as mapped; a bad
// command line is an error even beside --list-ports.
TEST(CommandLine, PortListRunsWithoutADisplay) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_TRUE(WantsTextOnly({"--list-ports"}));
    EXPECT_EQ(RunTextOnly({"--list-ports", "--port", "COM3:=/tmp/busdesk-mapped"}, out, err), 0);
    EXPECT_TRUE(err.str().empty());
    std::istringstream lines(out.str());
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 10U) << out.str();  // a heading and COM1: .. COM9:
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].rfind("COM" + std::to_string(i) + ":", 0), 0U) << rows[i];
    EXPECT_NE(rows[3].find("/tmp/busdesk-mapped"), std::string::npos) << rows[3];

    std::ostringstream out2;
    std::ostringstream err2;
    EXPECT_EQ(RunTextOnly({"--list-ports", "--port", "LPT1:=/dev/lp0"}, out2, err2), 2);
    EXPECT_TRUE(out2.str().empty());
    EXPECT_NE(err2.str().find("LPT1:"), std::string::npos);

    // A mapping the table could not show is refused, not dropped.
    std::ostringstream out3;
    std::ostringstream err3;
    EXPECT_EQ(RunTextOnly({"--list-ports", "--port", "COM10:=/dev/null"}, out3, err3), 2);
    EXPECT_TRUE(out3.str().empty());
    EXPECT_NE(err3.str().find("COM10:"), std::string::npos);
}

TEST(CommandLine, ADisplayIsNamedByTheSessionOrByQt) {
    struct Env {
        std::vector<std::string> args;
        std::vector<std::pair<const char*, const char*>> env;
        bool display;
    };
    const Env rows[] = {
        {{}, {}, false},
        {{}, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, false},
        {{}, {{"DISPLAY", ":0"}}, true},
        {{}, {{"WAYLAND_DISPLAY", "wayland-0"}}, true},
        {{}, {{"QT_QPA_PLATFORM", "offscreen"}}, true},
        {{"-platform", "offscreen"}, {}, true},
        {{"--demo", "-platform=vnc"}, {}, true},
        {{"--", "-platform"}, {}, false},
        {{"--demo"}, {{"HOME", "/root"}}, false},
    };
    for (const Env& row : rows) {
        const auto env = [&row](const char* name) -> const char* {
            for (const auto& [k, v] : row.env)
                if (std::string(k) == name) return v;
            return nullptr;
        };
        EXPECT_EQ(HasDisplay(row.args, env), row.display)
            << (row.args.empty() ? "" : row.args[0]) << " " << row.env.size();
    }
}

TEST(CommandLine, HelpAndVersionNeedNoDisplay) {
    EXPECT_TRUE(WantsTextOnly({"--help"}));
    EXPECT_TRUE(WantsTextOnly({"--demo", "--version"}));
    EXPECT_FALSE(WantsTextOnly({"--demo"}));
    const Options o = ParseCommandLine({"--version"});
    EXPECT_TRUE(o.version && o.error.empty());
    EXPECT_NE(VersionText().find(BUSDESK_VERSION), std::string::npos);
}

}  // namespace
}  // namespace busdesk::engine
