#include "engine/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace busdesk::engine {
namespace {

struct Row {
    const char* name;
    std::vector<std::string> args;
    bool ok;
    bool demo;
    const char* com1;  // where COM1: opens
    const char* com2;
};

const Row kRows[] = {
    {"nothing", {}, true, false, "/dev/ttyS0", "/dev/ttyS1"},
    {"demo", {"--demo"}, true, true, "/dev/ttyS0", "/dev/ttyS1"},
    {"port, two words",
     {"--port", "COM1:=/dev/ttyUSB0"},
     true,
     false,
     "/dev/ttyUSB0",
     "/dev/ttyS1"},
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
     "/dev/ttyS1"},
    {"port without value", {"--port"}, false, false, "", ""},
    {"port without path", {"--port", "COM1:"}, false, false, "", ""},
    {"not a port name", {"--port", "LPT1:=/dev/lp0"}, false, false, "", ""},
    {"unknown option", {"--config", "x"}, false, false, "", ""},
    {"stray word", {"COM1:"}, false, false, "", ""},
};

TEST(CommandLine, ParsesEachRow) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        const Options o = ParseCommandLine(row.args);
        EXPECT_EQ(o.error.empty(), row.ok) << o.error;
        if (!row.ok || !o.error.empty()) continue;
        EXPECT_EQ(o.demo, row.demo);
        EXPECT_EQ(o.ports.Resolve("COM1:").value_or(""), row.com1);
        EXPECT_EQ(o.ports.Resolve("COM2:").value_or(""), row.com2);
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
