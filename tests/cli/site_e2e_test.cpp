// inventory, verify and apply as programs against the simulated bus, whose
// devices keep what they were set to while it runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
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


void Spill(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class SiteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = ::testing::TempDir() + "busdesk-site-" + std::to_string(getpid()) + "/";
        mkdir(dir.c_str(), 0700);
    }
    void TearDown() override {
        if (bus) bus->Stop();
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    void Start(sim::BusConfig config) {
        config.drift = false;
        bus = std::make_unique<sim::SimulatedBus>(config);
        path = bus->Start();
        ASSERT_FALSE(path.empty()) << bus->Error();
        bus->SetTrafficLog([this](const std::string& line) {
            std::lock_guard lock(mutex);
            if (line.rfind("rx ", 0) == 0) requests.push_back(line.substr(3));
        });
    }
    Result Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", "COM1:=" + path});
        return RunCli(args);
    }
    // The requests the bus received, each "31 AA CC payload" without its CRC.
    std::vector<std::string> Requests() {
        std::lock_guard lock(mutex);
        return requests;
    }
    void Forget() {
        std::lock_guard lock(mutex);
        requests.clear();
    }
    bool SentStartingWith(const std::string& prefix) {
        const auto rx = Requests();
        return std::any_of(rx.begin(), rx.end(),
                           [&](const std::string& r) { return r.rfind(prefix, 0) == 0; });
    }

    std::unique_ptr<sim::SimulatedBus> bus;
    std::string path;
    std::string dir;
    std::mutex mutex;
    std::vector<std::string> requests;
};

std::string RoleWord(std::uint8_t mode) {
    switch (mode & 0x3F) {
        case 0:
            return "bridge";
        case 1:
            return "reader-indicator";
        case 2:
            return "reader";
        case 6:
            return "repeater";
        case 16:
            return "tag";
    }
    return "?";
}

std::string VersionShown(std::uint8_t version, std::uint8_t prefix) {
    const std::string digits = std::to_string(version);
    std::string s = prefix ? std::to_string(prefix) : "";
    for (std::size_t i = 0; i < 3; ++i) s += (i < digits.size() ? digits.substr(i, 1) : "") + ".";
    return s;
}

TEST_F(SiteTest, InventoryOfTheDefaultBusIsWhatTheSimulatorHoldsAndVerifies) {
    Start(sim::DefaultBusConfig());
    const std::string file = dir + "site.json";
    const Result inv = Cli({"inventory", "-o", file, "--tags", "3"});
    ASSERT_EQ(inv.exit, 0) << inv.out << inv.err;
    const nlohmann::json site = nlohmann::json::parse(Slurp(file));
    EXPECT_EQ(site["format"], "busdesk-site/1");
    EXPECT_EQ(site["port"], "COM1:");

    // What the simulator was configured with, device by device.
    const auto readers = bus->Readers();
    ASSERT_EQ(site["devices"].size(), readers.size()) << site.dump(2);
    for (std::size_t i = 0; i < readers.size(); ++i) {
        const nlohmann::json& d = site["devices"][i];
        const sim::ReaderConfig& r = readers[i];
        EXPECT_EQ(d["address"], r.address);
        EXPECT_EQ(d["serial"], r.serial);
        EXPECT_EQ(d["version"], VersionShown(r.version, r.prefix));
        EXPECT_EQ(d["mode"]["role"], RoleWord(r.mode));
        EXPECT_EQ(d["mode"]["master"], (r.mode & 0x80) != 0);
        EXPECT_EQ(d["calibration"]["empty"], r.lo);
        EXPECT_EQ(d["calibration"]["k"], r.k);
        EXPECT_EQ(d["reading"]["current"], r.current);
        std::size_t tags = 0;
        for (const sim::TagConfig& t : bus->Tags()) {
            if (t.reader != r.address) continue;
            ASSERT_LT(tags, d["tags"].size()) << d.dump(2);
            const nlohmann::json& tag = d["tags"][tags++];
            EXPECT_EQ(tag["serial"], t.serial);
            EXPECT_EQ(tag["interval"], t.interval);
            EXPECT_EQ(tag["mode"], t.mode);
            EXPECT_EQ(tag["power"], t.power);
            EXPECT_EQ(tag["sleep"], t.sleep);
        }
        EXPECT_EQ(d["tags"].size(), tags);
    }

    const Result same = Cli({"verify", file, "--tags", "3"});
    EXPECT_EQ(same.exit, 0) << same.out << same.err;
}

// A record of the bus as it is, written by hand: addresses, serial numbers and
// the tags' settings; what it leaves out is not compared.
std::string RecordOf(const std::vector<sim::ReaderConfig>& readers,
                     const std::vector<sim::TagConfig>& tags) {
    nlohmann::json site = {{"format", "busdesk-site/1"}, {"devices", nlohmann::json::array()}};
    for (const sim::ReaderConfig& r : readers) {
        nlohmann::json d = {{"address", r.address}, {"serial", r.serial}};
        d["tags"] = nlohmann::json::array();
        for (const sim::TagConfig& t : tags) {
            if (t.reader != r.address) continue;
            char id[9];
            std::snprintf(id, sizeof id, "%08X", t.id);
            d["tags"].push_back({{"serial", t.serial},
                                 {"id", id},
                                 {"interval", t.interval},
                                 {"mode", t.mode},
                                 {"power", t.power},
                                 {"sleep", t.sleep}});
        }
        site["devices"].push_back(d);
    }
    return site.dump(2);
}

TEST_F(SiteTest, ARenumberedDeviceAndAChangedTagAreFoundAndPutBack) {
    // The reader with the tags and the one renumbered: each read of the bus
    // takes a few seconds a device.
    sim::BusConfig config = sim::DefaultBusConfig();
    config.readers.resize(2);
    Start(config);
    const std::string file = dir + "site.json";
    const auto readers = bus->Readers();
    const auto tags = bus->Tags();
    Spill(file, RecordOf(readers, tags));

    ASSERT_EQ(Cli({"set-address", "5", "15"}).exit, 0);
    ASSERT_EQ(Cli({"write-tag", "1", "A0B0C0D", "--interval", "900"}).exit, 0);
    const Result moved = Cli({"--json", "verify", file, "--tags", "3"});
    EXPECT_EQ(moved.exit, 1) << moved.out;
    // Named by serial number at its new address; the tag by its own serial.
    const std::string device = std::to_string(readers[1].serial);
    EXPECT_TRUE(Has(moved.out, "\"field\":\"address\",\"serial\":" + device +
                                   ",\"address\":15,\"tag\":null,\"file\":5,\"bus\":15"))
        << moved.out;
    EXPECT_TRUE(Has(moved.out, "устройство " + device + " на адресе 15")) << moved.out;
    EXPECT_TRUE(Has(moved.out,
                    "\"field\":\"tag.interval\",\"serial\":" + std::to_string(readers[0].serial) +
                        ",\"address\":1,\"tag\":" + std::to_string(tags[1].serial) +
                        ",\"file\":" + std::to_string(tags[1].interval) + ",\"bus\":900"))
        << moved.out;

    const Result applied = Cli({"apply", file, "--tags", "3"});
    EXPECT_EQ(applied.exit, 0) << applied.out << applied.err;
    EXPECT_TRUE(Has(applied.out, "1. set-address 15 5")) << applied.out;
    EXPECT_EQ(bus->Readers()[1].address, 5);
    EXPECT_EQ(bus->Tags()[1].interval, tags[1].interval);

    EXPECT_EQ(Cli({"verify", file, "--tags", "3"}).exit, 0);
    Forget();
    const Result again = Cli({"apply", file, "--tags", "3"});
    EXPECT_EQ(again.exit, 0) << again.out;
    EXPECT_TRUE(Has(again.out, "делать нечего")) << again.out;
    EXPECT_FALSE(SentStartingWith("31 0F FB"));
    EXPECT_FALSE(SentStartingWith("31 01 E1"));
}

// Two readers, each where the other should be, and no tags to listen for.
std::string SwappedFile(const std::vector<sim::ReaderConfig>& readers) {
    nlohmann::json site = {{"format", "busdesk-site/1"}, {"devices", nlohmann::json::array()}};
    for (const sim::ReaderConfig& r : readers) {
        const int to = r.address == 5 ? 7 : r.address == 7 ? 5 : r.address;
        site["devices"].push_back({{"address", to}, {"serial", r.serial}});
    }
    return site.dump(2);
}

sim::BusConfig NoTags() {
    sim::BusConfig c = sim::DefaultBusConfig();
    c.tags.clear();
    return c;
}

TEST_F(SiteTest, ASwapGoesThroughAFreeAddressAndADryRunSendsNothing) {
    Start(NoTags());
    const std::string file = dir + "swap.json";
    Spill(file, SwappedFile(bus->Readers()));

    const Result dry = Cli({"apply", file, "--tags", "0", "--dry-run"});
    EXPECT_EQ(dry.exit, 0) << dry.out << dry.err;
    EXPECT_TRUE(Has(dry.out, "1. set-address 5 200")) << dry.out;
    EXPECT_TRUE(Has(dry.out, "3. set-address 200 7")) << dry.out;
    EXPECT_FALSE(SentStartingWith("31 05 FB")) << "a dry run sent a change";

    const Result r = Cli({"apply", file, "--tags", "0"});
    EXPECT_EQ(r.exit, 0) << r.out << r.err;
    // In this order only: no two devices ever answer at one address.
    std::vector<std::string> moves;
    for (const std::string& q : Requests()) {
        if (q.rfind("31 ", 0) == 0 && q.size() >= 8 && q.substr(6, 2) == "FB") moves.push_back(q);
    }
    EXPECT_EQ(moves, (std::vector<std::string>{"31 05 FB C8", "31 07 FB 05", "31 C8 FB 07"}));
    const auto readers = bus->Readers();
    EXPECT_EQ(readers[1].address, 7);
    EXPECT_EQ(readers[2].address, 5);
}

TEST_F(SiteTest, ADeviceThatStopsAnsweringHalfwayLeavesItsStepsNamedAndTheJournalWhatWasDone) {
    Start(NoTags());
    const std::string file = dir + "swap.json";
    const std::string journal = dir + "journal.jsonl";
    Spill(file, SwappedFile(bus->Readers()));
    // The reader at 7 goes quiet once the first move has gone out.
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        while (!stop) {
            if (SentStartingWith("31 05 FB C8")) {
                bus->SetSilent(7, true);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const Result r = Cli({"--journal", journal, "apply", file, "--tags", "0"});
    stop = true;
    watcher.join();
    EXPECT_EQ(r.exit, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "шаг 1/3 [set-address 5 200]: готово")) << r.out;
    EXPECT_TRUE(Has(r.out, "не выполнен шаг 2/3 [set-address 7 5]")) << r.out;
    EXPECT_TRUE(Has(r.out, "не выполнен шаг 3/3 [set-address 200 7]")) << r.out;
    EXPECT_EQ(bus->Readers()[1].address, 200);

    // The journal says where the first device went, and that it took.
    std::vector<std::pair<int, bool>> moves;  // new address, confirmed
    std::map<int, int> ids;                   // command id -> index in moves
    std::istringstream in(Slurp(journal));
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json j = nlohmann::json::parse(line);
        if (j["ev"] == "command" && j["what"] == "address") {
            ids[j["id"].get<int>()] = static_cast<int>(moves.size());
            moves.push_back({j["values"]["new_address"].get<int>(), false});
        }
        if (j["ev"] == "result" && ids.count(j["id"].get<int>()))
            moves[static_cast<std::size_t>(ids[j["id"].get<int>()])].second = j["confirmed"];
    }
    EXPECT_EQ(moves, (std::vector<std::pair<int, bool>>{{200, true}}));
}

TEST_F(SiteTest, AHandEditedFileThatIsNoSiteFileSaysWhereAndSendsNothing) {
    Start(NoTags());
    struct Case {
        const char* name;
        std::string text;
        std::string where;  // ":line:column:"
        std::string says;
    };
    const std::string head = "{\n  \"format\": \"busdesk-site/1\",\n  \"devices\": [\n";
    const Case cases[] = {
        {"JSON", head + "    {\"address\": 1 \"serial\": 100123}\n  ]\n}\n", ":4:26:", "JSON"},
        {"format", "{\"format\": \"busdesk-site/0\", \"devices\": []}", ":1:12:", "busdesk-site/1"},
        {"unknown field", head + "    {\"address\": 1, \"serial\": 100123, \"adres\": 2}\n  ]\n}\n",
         ":4:38:", "\"adres\""},
        {"out of range", head + "    {\"address\": 201, \"serial\": 100123}\n  ]\n}\n",
         ":4:17:", "201"},
    };
    for (const Case& c : cases) {
        const std::string file = dir + "hand.json";
        Spill(file, c.text);
        for (const char* verb : {"verify", "apply"}) {
            Forget();
            const Result r = Cli({verb, file, "--tags", "0"});
            EXPECT_EQ(r.exit, 2) << c.name << " " << verb << "\n" << r.out << r.err;
            EXPECT_TRUE(Has(r.err, file + c.where)) << c.name << " " << verb << "\n" << r.err;
            EXPECT_TRUE(Has(r.err, c.says)) << c.name << " " << verb << "\n" << r.err;
            EXPECT_TRUE(Requests().empty()) << c.name << " " << verb;
        }
    }
}

TEST_F(SiteTest, APortThatDoesNotOpenOrAFileThatCannotBeWrittenSendNothing) {
    Start(NoTags());
    const std::string file = dir + "site.json";
    Spill(file, SwappedFile(bus->Readers()));
    struct Case {
        std::vector<std::string> args;
        int exit;
    };
    const std::string nowhere = "COM1:=/dev/busdesk-no-such-port";
    const Case cases[] = {
        {{"--port", nowhere, "verify", file}, 3},
        {{"--port", nowhere, "apply", file}, 3},
        {{"--port", nowhere, "inventory"}, 3},
        // Known before the port is opened.
        {{"--port", "COM1:=" + path, "inventory", "-o", dir + "no/site.json"}, 2},
        {{"--port", "COM1:=" + path, "inventory", "-o", dir}, 2},
    };
    for (const Case& c : cases) {
        const Result r = RunCli(c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args[2] << "\n" << r.out << r.err;
    }
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(Slurp(file), SwappedFile(bus->Readers()));
}

}  // namespace
}  // namespace busdesk::testing
