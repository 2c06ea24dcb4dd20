// Bus descriptions, program options and console commands.
#include "sim/console.h"

#include <gtest/gtest.h>

#include "sim/bus_config.h"
#include "sim/sim_bus.h"

namespace busdesk::sim {
namespace {

TEST(BusDescription, ReadsDevicesAndSettings) {
    std::string error;
    const auto c = ParseBusConfig(
        "# two readers\n"
        "reader 3 mode=128 serial=42 version=129 prefix=1 temp=-5 current=7 lo=1 hi=9 k=3\n"
        "reader 200 silent; tag 3 serial=77 id=ffffffff level=-128 sleep=65535\n"
        "drift off\n",
        error);
    ASSERT_TRUE(c.has_value()) << error;
    ASSERT_EQ(c->readers.size(), 2U);
    EXPECT_EQ(c->readers[0].address, 3);
    EXPECT_EQ(c->readers[0].mode, 0x80);
    EXPECT_EQ(c->readers[0].temperature, -5);
    EXPECT_EQ(c->readers[0].version, 129);
    EXPECT_FALSE(c->readers[1].present);
    ASSERT_EQ(c->tags.size(), 1U);
    EXPECT_EQ(c->tags[0].id, 0xFFFFFFFFU);
    EXPECT_EQ(c->tags[0].level, -128);
    EXPECT_EQ(c->tags[0].sleep, 65535);
    EXPECT_FALSE(c->drift);
}

TEST(BusDescription, MistakesNameTheLine) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"reader", "line 1: reader needs an address 0..200"},
        {"reader 201", "line 1: reader needs an address 0..200"},
        {"\nreader 1 mode=256", "line 2: bad reader setting 'mode=256'"},
        {"reader 1 colour=red", "line 1: bad reader setting 'colour=red'"},
        {"tag 1 id=123456789", "line 1: bad tag setting 'id=123456789'"},
        {"tag 1 level=-129", "line 1: bad tag setting 'level=-129'"},
        {"reader 1; lamp 2", "line 2: unknown device kind 'lamp'"},
        {"drift maybe", "line 1: drift takes on or off"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseBusConfig(c.text, error).has_value()) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(Options, ShorthandsBecomeCommandsAtStart) {
    std::string error;
    const auto o = ParseOptions({"--no-drift", "--silent", "5", "--drop-after", "2.5", "--at", "1",
                                 "garbage 4", "--devices", "reader 1"},
                                error);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_FALSE(o->drift);
    EXPECT_EQ(o->busText, "reader 1");
    ASSERT_EQ(o->commands.size(), 3U);
    EXPECT_EQ(o->commands[0].command, "silent 5");
    EXPECT_EQ(o->commands[0].seconds, 0);
    EXPECT_EQ(o->commands[1].command, "drop");
    EXPECT_EQ(o->commands[1].seconds, 2.5);
    EXPECT_EQ(o->commands[2].command, "garbage 4");
}

TEST(Options, MistakesAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"--silent"},
        {"--at", "1"},
        {"--at", "-1", "drop"},
        {"--drop-after", "soon"},
        {"--bus", "a", "--devices", "reader 1"},
        {"--frobnicate"},
        // Times past the longest wait the loop can compute are refused.
        {"--drop-after", "3000000"},
        {"--drop-after", "1e400"},
        {"--drop-after", "inf"},
        {"--drop-after", "nan"},
        {"--at", "2147484", "drop"},
        {"stray"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(ParseOptions(args, error).has_value()) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(Options, ValuesEitherWayAndMistakesInRussian) {
    std::string error;
    const auto o = ParseOptions({"--drop-after=1000000", "--silent=5", "--bus=a.bus"}, error);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_EQ(o->busFile, "a.bus");
    ASSERT_EQ(o->commands.size(), 2U);
    EXPECT_EQ(o->commands[0].seconds, kMaxSeconds);
    EXPECT_EQ(o->commands[1].command, "silent 5");

    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"--drop-after", "3000000"},
         "--drop-after: нужно число секунд от 0 до 1000000, а не 3000000"},
        {{"--frobnicate"}, "неизвестный параметр --frobnicate"},
        {{"--at", "1"}, "после --at нужно 2 слова"},
        {{"--bus", "a", "--devices", "reader 1"}, "--bus и --devices исключают друг друга"},
    };
    for (const auto& [args, message] : rows) {
        std::string why;
        EXPECT_FALSE(ParseOptions(args, why).has_value()) << args[0];
        EXPECT_EQ(why, message);
    }
}

// The console's lines however the input is cut into reads; a line without end
// is dropped whole, and the next line is read again.
TEST(ConsoleLines, CutsLinesAcrossReadsAndDropsOverlongOnes) {
    ConsoleLines lines(16);
    EXPECT_TRUE(lines.Add("sil").empty());
    EXPECT_EQ(lines.Add("ent 1\r\nback 1\nsta"), (std::vector<std::string>{"silent 1", "back 1"}));
    EXPECT_EQ(lines.Add("ts\n\n"), (std::vector<std::string>{"stats", ""}));

    const std::string flood(1 << 20, 'x');
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(lines.Add(flood).empty());
    EXPECT_EQ(lines.Dropped(), 1U);
    // The end of the long line is not a command; the line after it is.
    EXPECT_EQ(lines.Add("drop\ndevices\n"), (std::vector<std::string>{"devices"}));
    EXPECT_EQ(lines.Add(std::string(16, 'y') + "\n"),
              (std::vector<std::string>{std::string(16, 'y')}));
    EXPECT_TRUE(lines.Add(std::string(17, 'z') + "\n").empty());
    EXPECT_EQ(lines.Dropped(), 2U);
}

TEST(Console, CommandsReachTheBus) {
    BusConfig c = DefaultBusConfig();
    SimulatedBus bus(c);
    bool ok = false;
    RunCommand(bus, "silent 5", ok);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(bus.Readers()[1].present);
    RunCommand(bus, "back 5", ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(bus.Readers()[1].present);

    for (const char* wrong : {"silent", "silent 300", "silent 9", "corrupt -1", "split 1 x",
                              "garbage 0", "survey-size 999", "fly"}) {
        RunCommand(bus, wrong, ok);
        EXPECT_FALSE(ok) << wrong;
    }
    for (const char* right : {"corrupt", "split 2 50", "late 1 900", "survey-size 20", "stats"}) {
        RunCommand(bus, right, ok);
        EXPECT_TRUE(ok) << right;
    }
}

}  // namespace
}  // namespace busdesk::sim
