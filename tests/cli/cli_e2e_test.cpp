// busdesk-cli as a program against the simulated bus on a pseudo-terminal: what
// goes on the wire, what it prints and how it exits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_bus.h"
#include "support/run_program.h"

namespace busdesk::testing {
namespace {

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override { Start(sim::DefaultBusConfig()); }
    void TearDown() override {
        if (bus) bus->Stop();
    }

    void Start(sim::BusConfig config) {
        if (bus) bus->Stop();
        config.drift = false;
        bus = std::make_unique<sim::SimulatedBus>(config);
        path = bus->Start();
        ASSERT_FALSE(path.empty()) << bus->Error();
        bus->SetTrafficLog([this](const std::string& line) {
            std::lock_guard lock(mutex);
            traffic.push_back(line);
        });
    }

    Result Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", "COM1:=" + path});
        return RunCli(args);
    }

    // The requests the bus received, each "31 AA CC payload" without its CRC.
    std::vector<std::string> Requests() {
        std::lock_guard lock(mutex);
        std::vector<std::string> rx;
        for (const std::string& l : traffic) {
            if (l.rfind("rx ", 0) == 0) rx.push_back(l.substr(3));
        }
        return rx;
    }
    bool Sent(const std::string& request) {
        const auto rx = Requests();
        return std::find(rx.begin(), rx.end(), request) != rx.end();
    }
    bool SentStartingWith(const std::string& prefix) {
        for (const std::string& r : Requests()) {
            if (r.rfind(prefix, 0) == 0) return true;
        }
        return false;
    }

    std::unique_ptr<sim::SimulatedBus> bus;
    std::string path;
    std::mutex mutex;
    std::vector<std::string> traffic;
};

// The frames are those the window sends for the same action.
struct WireCase {
    std::vector<std::string> args;
    std::string request;
};

TEST_F(CliTest, DeviceCommandsPutTheWindowsFrameOnTheWireAndAreConfirmed) {
    const WireCase cases[] = {
        {{"survey"}, "survey"},
        {{"set-mode", "5", "bridge", "--average", "--invert"}, "31 05 F2 C0"},
        {{"set-mode", "5", "reader"}, "31 05 F2 02"},
        {{"calibrate", "5", "high", "--yes"}, "31 05 F5"},
        {{"calibrate", "5", "low", "--yes"}, "31 05 FA"},
        {{"set-address", "5", "7"}, "31 05 FB 07"},
    };
    for (const WireCase& c : cases) {
        const Result r = Cli(c.args);
        EXPECT_EQ(r.exit, 0) << c.args[0] << "\n" << r.out << r.err;
        EXPECT_TRUE(Sent(c.request)) << c.args[0] << ": " << c.request;
    }
    EXPECT_EQ(bus->Stats().badCrc, 0u);
    // What the device took, read from the bus itself.
    const auto readers = bus->Readers();
    EXPECT_EQ(readers[1].address, 7);
    EXPECT_EQ(readers[1].mode, 0x02);
}

TEST_F(CliTest, TagCommandsPutTheWindowsFrameOnTheWireAndAreConfirmed) {
    const WireCase cases[] = {
        {{"tags", "1", "--seconds", "1"}, "31 01 E0 7A 7A 7A 7A"},
        {{"read-tag", "1", "1a2b3c4d"}, "31 01 E3 1A 2B 3C 4D"},
        {{"set-ident", "1", "1A2B3C4D", "0"}, "31 01 E4 1A 2B 3C 4D"},
        // Serial 5001 and the fields read from the tag; only the interval changes.
        {{"write-tag", "1", "1A2B3C4D", "--interval", "1000"},
         "31 01 E1 0E 00 00 13 89 1A 2B 3C 4D 03 E8 02 64 00 3C"},
        {{"set-serial", "1", "A0B0C0D", "100"}, "31 01 E2 0A 0B 0C 0D 00 00 00 64"},
    };
    for (const WireCase& c : cases) {
        const Result r = Cli(c.args);
        EXPECT_EQ(r.exit, 0) << c.args[0] << "\n" << r.out << r.err;
        EXPECT_TRUE(Sent(c.request)) << c.args[0] << ": " << c.request;
    }
    EXPECT_EQ(bus->Stats().badCrc, 0u);
    EXPECT_EQ(bus->Tags()[0].interval, 1000);
    EXPECT_EQ(bus->Tags()[1].serial, 100u);
}

TEST_F(CliTest, ValuesTheWindowRefusesGiveItsMessageAndSendNothing) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
        std::string never;  // no request starting like this may go out
    };
    const Case cases[] = {
        {{"set-address", "5", "201"}, "Введите число в диапазоне 0....200", "31 05 FB"},
        {{"set-address", "5", "abc"}, "Введите число в диапазоне 0....200", "31 05 FB"},
        {{"set-serial", "1", "1A2B3C4D", "2000001"},
         "Введите число в диапазоне 0....2 000 000",
         "31 01 E2"},
        {{"set-ident", "1", "12G4", "0"}, "Введите число в диапазоне 0....2 000 000", "31 01 E4"},
        {{"write-tag", "1", "1A2B3C4D", "--power", "248"},
         "Введите число в диапазоне 0....2 000 000",
         "31 01 E1"},
        {{"write-tag", "1", "1A2B3C4D", "--new-id", "123456789"},
         "Cлишком много символов Идентификатора",
         "31 01 E1"},
        {{"read-tag", "1", "12 34"}, "В строке имеются символы не принадлежащие HEX", "31 01 E3"},
        // Every value is checked before the first frame: not even the read
        // that comes first in a write goes out.
        {{"write-tag", "1", "1A2B3C4D", "--serial", "-5"},
         "Введите число в диапазоне 0....2 000 000",
         "31 01 E"},
        {{"write-tag", "1", "1A2B3C4D", "--interval", "0"},
         "Введите число в диапазоне 0....2 000 000",
         "31 01 E"},
        {{"write-tag", "1", "1A2B3C4D", "--sleep", "40000"},
         "Введите число в диапазоне 0....2 000 000",
         "31 01 E"},
        {{"write-tag", "1", "1A2B3C4D", "--mode", "x"},
         "Введите число в диапазоне 0....2 000 000",
         "31 01 E"},
        {{"set-serial", "1", "1A2B3C4D", "-5"},
         "Введите число в диапазоне 0....2 000 000",
         "31 01 E"},
        {{"set-address", "5", "\xff"}, "Введите число в диапазоне 0....200", "31 05 FB"},
        // The window asks first; the script must say yes.
        {{"calibrate", "1", "high"},
         "Сейчас будет произведена перекалибровка верхнего уровня. Вы уверены что это нужно?",
         "31 01 F5"},
    };
    for (const Case& c : cases) {
        {
            std::lock_guard lock(mutex);
            traffic.clear();
        }
        const Result r = Cli(c.args);
        EXPECT_EQ(r.exit, 2) << c.args[0] << "\n" << r.out << r.err;
        EXPECT_TRUE(Has(r.err, c.message + "\n")) << c.args[0] << "\n" << r.err;
        EXPECT_FALSE(SentStartingWith(c.never)) << c.args[0];
        // A value refused before the port was opened: nothing at all went
        // out. The question of a calibration comes only after the selection.
        if (c.args[0] != "calibrate") {
            EXPECT_TRUE(Requests().empty()) << c.args[0];
        }
    }
}

// Each line of --json output, parsed strictly.
std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

TEST_F(CliTest, JsonOutputStaysValidForBytesThatAreNotUtf8) {
    const Result r = Cli({"--json", "set-address", "5", "\xff\xfe"});
    EXPECT_EQ(r.exit, 2);
    std::vector<nlohmann::json> lines;
    ASSERT_NO_THROW(lines = JsonLines(r.out)) << r.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["type"], "result");
    EXPECT_EQ(lines.back()["exit"], 2);
}

// The journal's decision on each command, by its number.
std::vector<bool> JournalResults(const std::string& path) {
    std::vector<bool> results;
    std::istringstream in(Slurp(path));
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_object() && j.value("ev", "") == "result")
            results.push_back(j.value("confirmed", false));
    }
    return results;
}

TEST_F(CliTest, ExitCodeAndJournalAgreeWithStrayBytesInTheLine) {
    const std::vector<Bytes> strays = {
        {0x05, 0x07}, {0x01}, {0x3E, 0x01}, {0x3E, 0x05, 0xFC, 0x00}};
    for (const Bytes& stray : strays) {
        SCOPED_TRACE(stray.size());
        const std::string journal = ::testing::TempDir() + "busdesk-stray.jsonl";
        std::remove(journal.c_str());
        // Waiting in the line before the port opens.
        bus->SendGarbage(stray);
        const Result r = Cli({"--journal=" + journal, "--json", "survey"});
        const std::vector<bool> results = JournalResults(journal);
        ASSERT_EQ(results.size(), 1u) << Slurp(journal);
        EXPECT_EQ(r.exit == 0, results[0]) << r.out << r.err << Slurp(journal);
        std::vector<nlohmann::json> lines;
        ASSERT_NO_THROW(lines = JsonLines(r.out)) << r.out;
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back()["ok"], results[0]);
        std::remove(journal.c_str());
    }
}

TEST_F(CliTest, UsageErrorsExitTwoBeforeThePortIsTouched) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"show"},
                                                 {"set-mode", "5", "reader", "--invert"},
                                                 {"nonsense"}}) {
        const Result r = Cli(args);
        EXPECT_EQ(r.exit, 2) << args[0];
        EXPECT_TRUE(Has(r.err, "busdesk-cli: ")) << r.err;
    }
    EXPECT_TRUE(Requests().empty());
}

TEST_F(CliTest, ASilentDeviceGivesExitOne) {
    ASSERT_TRUE(bus->SetSilent(5, true));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"show", "5"},
                                                 {"set-address", "5", "9"},
                                                 {"calibrate", "5", "low", "--yes"}}) {
        const Result r = Cli(args);
        EXPECT_EQ(r.exit, 1) << args[0] << "\n" << r.out << r.err;
    }
    EXPECT_FALSE(SentStartingWith("31 05 FB"));
    // A tag that is not in reach is never heard: no read goes out for it.
    const Result r = Cli({"read-tag", "1", "DEADBEEF"});
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_FALSE(SentStartingWith("31 01 E3 DE AD"));
}

TEST_F(CliTest, ARunStopsAtTheFailingStepUnlessToldToGoOn) {
    char name[] = "/tmp/busdesk-plan-XXXXXX";
    const int fd = mkstemp(name);
    const std::string plan = "survey\nset-address 9 3   # no device 9\nset-mode 5 reader\n";
    ASSERT_EQ(write(fd, plan.data(), plan.size()), static_cast<ssize_t>(plan.size()));
    close(fd);

    const Result stop = Cli({"run", name});
    EXPECT_EQ(stop.exit, 1) << stop.out;
    EXPECT_TRUE(Has(stop.out, "шаг 1/3 [survey]: готово"));
    EXPECT_TRUE(Has(stop.out, "шаг 2/3 [set-address 9 3]: ошибка 1"));
    EXPECT_FALSE(Has(stop.out, "шаг 3/3"));
    EXPECT_FALSE(SentStartingWith("31 05 F2"));

    const Result on = Cli({"--json", "run", name, "--keep-going"});
    EXPECT_EQ(on.exit, 1);
    EXPECT_TRUE(Has(on.out,
                    "{\"type\":\"step\",\"step\":3,\"command\":\"set-mode 5 reader\","
                    "\"exit\":0,\"ok\":true"))
        << on.out;
    EXPECT_TRUE(SentStartingWith("31 05 F2"));
    unlink(name);
}

// Port entries are spelled loosely but the same everywhere: the mapping and
// the entry chosen are one port.
TEST_F(CliTest, APortEntryInAnyCaseOrWithoutItsColonIsTheWindowsEntry) {
    for (const char* name : {"com1:", "COM1", "Com1"}) {
        const Result r = RunCli({"--port", std::string(name) + "=" + path, "survey"});
        EXPECT_EQ(r.exit, 0) << name << "\n" << r.out << r.err;
    }
    const Result r = RunCli({"--port", "COM10:=" + path, "survey"});
    EXPECT_EQ(r.exit, 2);
    EXPECT_TRUE(Has(r.err, "COM10:")) << r.err;
    EXPECT_FALSE(Has(r.out, "COM10:")) << r.out;
}

TEST_F(CliTest, APortThatDoesNotOpenGivesExitThree) {
    const Result r = RunCli({"--port", "COM1:=/dev/busdesk-no-such-port", "survey"});
    EXPECT_EQ(r.exit, 3) << r.out << r.err;
    EXPECT_FALSE(r.err.empty());  // the window's own open failure message
    // And why, as the port says it, on standard error and in the result.
    EXPECT_TRUE(Has(r.err, "порт COM1: не открылся")) << r.err;
    EXPECT_TRUE(Has(r.out, "ошибка: порт COM1: не открылся")) << r.out;
}

// With --reconnect a command whose port is not there yet waits for it: the
// press's boxes and the port's reason once, the outage and the return said
// once each, and the command runs on the bus once it is there.
TEST(CliReconnect, ACommandWaitsForABusThatComesLater) {
    const std::string id = std::to_string(::getpid());
    const std::string link = "/tmp/busdesk-cli-line-" + id;
    const std::string journal = "/tmp/busdesk-cli-journal-" + id + ".jsonl";
    ::unlink(link.c_str());
    ::unlink(journal.c_str());
    Result r;
    std::thread cli([&] {
        r = RunCli(
            {"--reconnect", "--json", "--port", "COM1:=" + link, "--journal", journal, "survey"});
    });
    // The journal's open line: the press has failed, and the tries begin.
    for (int i = 0; i < 1000 && !Has(Slurp(journal), "\"open\""); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sim::SimulatedBus bus;
    const std::string pty = bus.Start();
    ASSERT_FALSE(pty.empty()) << bus.Error();
    ASSERT_EQ(::symlink(pty.c_str(), link.c_str()), 0);
    cli.join();
    bus.Stop();
    ::unlink(link.c_str());
    ::unlink(journal.c_str());

    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "{\"type\":\"survey\",\"addresses\":[1,5,7]}\n")) << r.out;
    const auto count = [&r](const std::string& part) {
        int n = 0;
        for (std::size_t at = r.err.find(part); at != std::string::npos;
             at = r.err.find(part, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("busdesk-cli: жду линию COM1: — новая попытка каждые 2 с\n"), 1) << r.err;
    EXPECT_EQ(count("busdesk-cli: линия COM1: снова открыта\n"), 1) << r.err;
    EXPECT_EQ(count("COM1: Not available!"), 1) << r.err;
    EXPECT_EQ(count("нет такого устройства " + link), 1) << r.err;
}

TEST(CliDemo, SurveysWithoutADisplayOrASerialPort) {
    // RunCli gives the program no DISPLAY and no other environment.
    const Result r = RunCli({"--demo", "--json", "survey"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "{\"type\":\"survey\",\"addresses\":[1,5,7]}\n")) << r.out;
}

TEST(CliDemo, ShowPrintsTheDeviceAndEachReading) {
    const Result r = RunCli({"--demo", "--json", "show", "5", "--count", "2"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(Has(r.out,
                    "{\"type\":\"device\",\"address\":5,\"serial\":100456,"
                    "\"version\":\"21.3.1.\",\"mode\":{\"role\":\"reader-indicator\""))
        << r.out;
    std::size_t readings = 0;
    for (std::size_t at = 0;
         (at = r.out.find("\"type\":\"reading\",\"address\":5", at)) != std::string::npos; ++at)
        ++readings;
    EXPECT_EQ(readings, 2u) << r.out;
}

std::string LastLine(const std::string& out) {
    std::string text = out;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
}

// The journal is named in two words before the command, and "--" may stand
// before the command.
TEST(CliDemo, OptionsTakeTheirValueAfterABlankAndTheCommandMayFollowTwoDashes) {
    const std::string journal = "/tmp/busdesk-cli-journal-" + std::to_string(getpid()) + ".jsonl";
    unlink(journal.c_str());
    const Result r = RunCli({"--demo", "--journal", journal, "--json", "--", "survey"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(LastLine(r.out).rfind("{\"type\":\"result\",\"command\":\"survey\",\"exit\":0", 0),
              0u)
        << r.out;
    EXPECT_TRUE(Has(LastLine(r.out), "\"journal_lost\":0")) << r.out;
    // The journal names the program that kept it.
    EXPECT_TRUE(Has(Slurp(journal), "\"ev\":\"start\",\"program\":\"busdesk-cli "))
        << Slurp(journal);
    unlink(journal.c_str());
}

// A usage error in JSON mode still ends with the result line, in Russian.
TEST(CliDemo, AUsageErrorEndsWithItsResultLine) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--json", "--bogus", "survey"},
          {"--demo", "--json", "survey", "5"},
          {"--json", "--demo", "run", "/dev/zero"}}) {
        const Result r = RunCli(args);
        EXPECT_EQ(r.exit, 2) << args[1];
        EXPECT_EQ(LastLine(r.out).rfind("{\"type\":\"result\",", 0), 0u) << r.out;
        EXPECT_TRUE(Has(LastLine(r.out), "\"exit\":2,\"ok\":false")) << r.out;
        EXPECT_FALSE(Has(r.err, "argument")) << r.err;
    }
}

// A journal that cannot take its lines: said on stderr and in the result line,
// and the exit says the record is not whole.
TEST(CliDemo, LostJournalLinesAreReported) {
    const Result r = RunCli({"--demo", "--json", "--journal", "/dev/full", "survey"});
    EXPECT_EQ(r.exit, 4) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "busdesk-cli: журнал: потеряно ")) << r.err;
    EXPECT_TRUE(Has(LastLine(r.out), "\"ok\":true")) << r.out;
    EXPECT_FALSE(Has(LastLine(r.out), "\"journal_lost\":0")) << r.out;
}

// A step on the device the step before used goes on at once: no second
// selection, no fresh answer awaited, and a ping already heard is used. One
// tag at reader 1, so each tag search is answered by the tag named.
class SameDeviceTest : public CliTest {
  protected:
    void SetUp() override {
        sim::BusConfig c = sim::DefaultBusConfig();
        c.tags.resize(1);
        Start(c);
    }
    // The requests sent between the first request starting with `first` and
    // the first request after it starting with `second`; -1 when either is missing.
    int Between(const std::string& first, const std::string& second) {
        const auto rx = Requests();
        const auto starts = [](const std::string& r, const std::string& p) {
            return r.rfind(p, 0) == 0;
        };
        const auto a = std::find_if(rx.begin(), rx.end(),
                                    [&](const std::string& r) { return starts(r, first); });
        if (a == rx.end()) return -1;
        const auto b =
            std::find_if(a + 1, rx.end(), [&](const std::string& r) { return starts(r, second); });
        if (b == rx.end()) return -1;
        return static_cast<int>(b - a) - 1;
    }
};

TEST_F(SameDeviceTest, TheNextStepDoesNotWaitForAFreshAnswer) {
    struct Case {
        std::string plan;
        std::string first, second;  // the two steps' frames
        int most;                   // requests the wire needs between them
    };
    const Case cases[] = {
        // The read's answer comes in the tick after it, which sends the
        // exchange's own request; the calibration goes in the next.
        {"read-tag 1 1A2B3C4D\ncalibrate 1 high --yes\n", "31 01 E3", "31 01 F5", 1},
        // The answer tick sends a tag search; the ping comes in the next tick
        // and the second read follows it.
        {"read-tag 1 1A2B3C4D\nread-tag 1 1A2B3C4D\n", "31 01 E3 1A", "31 01 E3 1A", 2},
    };
    for (const Case& c : cases) {
        SetUp();  // a fresh bus and traffic for each plan
        {
            std::lock_guard lock(mutex);
            traffic.clear();
        }
        char name[] = "/tmp/busdesk-plan-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_EQ(write(fd, c.plan.data(), c.plan.size()), static_cast<ssize_t>(c.plan.size()));
        close(fd);
        const Result r = Cli({"run", name});
        unlink(name);
        ASSERT_EQ(r.exit, 0) << c.plan << r.out << r.err;
        const int between = Between(c.first, c.second);
        EXPECT_GE(between, 0) << c.plan;
        EXPECT_LE(between, c.most) << c.plan;
        // The device was selected once: one serial-number request.
        const auto rx = Requests();
        EXPECT_EQ(std::count(rx.begin(), rx.end(), "31 01 FC"), 1) << c.plan;
    }
}

// The commissioning plan of ten steps, on a bus with three tags at reader 1.
class CommissioningTest : public CliTest {
  protected:
    void SetUp() override {
        sim::BusConfig c = sim::DefaultBusConfig();
        sim::TagConfig third = c.tags[0];
        third.serial = 5003;
        third.id = 0xC0FFEE01;
        c.tags.push_back(third);
        Start(c);
        char name[] = "/tmp/busdesk-plan-XXXXXX";
        const int fd = mkstemp(name);
        const std::string plan =
            "# two readers renumbered, three tags set alike, one reader calibrated\n"
            "survey\n"
            "set-address 5 15\n"
            "set-address 7 17\n"
            "write-tag 1 1A2B3C4D --interval 900 --power 120\n"
            "write-tag 1 A0B0C0D --interval 900 --power 120\n"
            "write-tag 1 C0FFEE01 --interval 900 --power 120\n"
            "calibrate 1 high --yes\n"
            "survey           # the new addresses\n"
            "show 17\n"
            "read-tag 1 C0FFEE01\n";
        EXPECT_EQ(write(fd, plan.data(), plan.size()), static_cast<ssize_t>(plan.size()));
        close(fd);
        planPath = name;
    }
    void TearDown() override {
        unlink(planPath.c_str());
        CliTest::TearDown();
    }
    std::string planPath;
};

TEST_F(CommissioningTest, RunsToTheEndAndTheDevicesHoldTheNewSettings) {
    const Result r = Cli({"run", planPath});
    ASSERT_EQ(r.exit, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "шаг 8/10 [survey]: готово"));
    EXPECT_TRUE(Has(r.out, "найдены адреса: 1 15 17"));
    EXPECT_TRUE(Has(r.out, "интервал 900, режим 2, мощность 120")) << r.out;
    const auto readers = bus->Readers();
    EXPECT_EQ(readers[1].address, 15);
    EXPECT_EQ(readers[2].address, 17);
    for (const sim::TagConfig& t : bus->Tags()) {
        EXPECT_EQ(t.interval, 900) << t.serial;
        EXPECT_EQ(t.power, 120) << t.serial;
    }
}

TEST_F(CommissioningTest, StopsWithExitOneAtTheStepOfTheSilentDevice) {
    ASSERT_TRUE(bus->SetSilent(7, true));
    const Result r = Cli({"run", planPath});
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_TRUE(Has(r.out, "шаг 2/10 [set-address 5 15]: готово"));
    EXPECT_TRUE(Has(r.out, "шаг 3/10 [set-address 7 17]: ошибка 1")) << r.out;
    EXPECT_FALSE(Has(r.out, "шаг 4/10"));
    EXPECT_FALSE(SentStartingWith("31 01 E1"));
}

}  // namespace
}  // namespace busdesk::testing
