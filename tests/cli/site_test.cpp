// The site file on its own: reading a hand-edited file, comparing, planning.
#include "cli/site.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

namespace busdesk::cli::site {
namespace {

Device Reader(std::uint8_t address, std::uint32_t serial, std::uint8_t mode = 0x02) {
    Device d;
    d.address = address;
    d.serial = serial;
    d.version = "1.3.4.";
    d.mode = mode;
    d.calibration = Calibration{20000, 90000, 100};
    return d;
}

Tag TagOf(std::uint32_t serial, std::uint32_t id, std::uint16_t interval = 300) {
    Tag t;
    t.serial = serial;
    t.id = id;
    t.interval = interval;
    t.mode = 2;
    t.power = 100;
    t.sleep = 60;
    t.version = "2.5..";
    t.level = -60;
    return t;
}

Site Bus(std::vector<Device> devices) {
    Site s;
    s.date = "2026-12-09T02:00:00.000+00:00";
    s.busdesk = "0.1.0";
    s.port = "COM1:";
    s.devices = std::move(devices);
    return s;
}

TEST(SiteFile, WhatIsWrittenReadsBackTheSame) {
    Device r = Reader(1, 100123);
    r.reading = Reading{"2026-12-09T02:00:01.000+00:00", 468, -5, 52000};
    r.tags = {TagOf(5001, 0x1A2B3C4D), TagOf(5002, 0x0A0B0C0D, 600)};
    Device b = Reader(7, 4000000000u, 0x80 | 0x40);
    b.reading = Reading{"t", std::nullopt, std::nullopt, std::nullopt};  // current 0: no values
    Device odd = Reader(9, 3, 0x03);  // a role the window has no name for
    odd.version.reset();
    odd.calibration.reset();
    const Site site = Bus({r, b, odd});
    const std::string text = Write(site);
    const Parsed p = Parse(text);
    ASSERT_TRUE(p.site) << p.error << " at " << p.line << ":" << p.column << "\n" << text;
    EXPECT_EQ(Write(*p.site), text);
    EXPECT_EQ(p.site->devices[0].tags[1].id, 0x0A0B0C0Du);
    EXPECT_EQ(p.site->devices[1].mode, 0xC0);
    EXPECT_EQ(p.site->devices[2].mode, 0x03);
    EXPECT_FALSE(p.site->devices[1].reading->level);
    EXPECT_TRUE(Compare(site, *p.site, {0.0}).empty());
}

// A minimal file with one device; `device` replaces its members.
std::string OneDevice(const std::string& device) {
    return "{\n"
           "  \"format\": \"busdesk-site/1\",\n"
           "  \"devices\": [\n"
           "    {" +
           device +
           "}\n"
           "  ]\n"
           "}\n";
}

TEST(SiteFile, AFileThatIsNoSiteFileIsNamedAtItsLineAndColumn) {
    struct Case {
        std::string text;
        int line, column;
        std::string says;
    };
    const std::string ok = "\"address\": 5, \"serial\": 7";
    const Case cases[] = {
        // JSON errors, where the parser stopped.
        {"{\n  \"format\": \"busdesk-site/1\"\n  \"devices\": []\n}\n", 3, 11, "ошибка JSON"},
        {"{\"format\": \"busdesk-site/1\", \"devices\": [", 1, 42, "ошибка JSON"},
        {"", 1, 1, "ошибка JSON"},
        // Another kind of file.
        {"{\"format\": \"busdesk-site/2\", \"devices\": []}", 1, 12, "busdesk-site/1"},
        {"{\"devices\": []}", 1, 1, "нет поля format"},
        {"[1, 2]", 1, 1, "format"},
        // Fields and values, on line 4 after "    {".
        {OneDevice(ok + ", \"adress\": 5"), 4, 33, "неизвестное поле \"adress\""},
        {OneDevice("\"address\": 201, \"serial\": 7"), 4, 17, "201 вне диапазона 0..200"},
        {OneDevice("\"address\": -1, \"serial\": 7"), 4, 17, "вне диапазона 0..200"},
        {OneDevice("\"address\": 5.5, \"serial\": 7"), 4, 17, "целое число"},
        {OneDevice("\"address\": \"5\", \"serial\": 7"), 4, 17, "целое число"},
        {OneDevice("\"address\": 5"), 4, 5, "нет поля serial"},
        {OneDevice("\"address\": 5, \"serial\": 4294967296"), 4, 30, "вне диапазона"},
        {OneDevice(ok + ", \"address\": 6"), 4, 33, "\"address\" повторяется"},
        {OneDevice(ok + ", \"mode\": {\"role\": \"boss\"}"), 4, 50, "\"boss\""},
        {OneDevice(ok + ", \"mode\": {\"role\": 64}"), 4, 50, "вне диапазона 0..63"},
        {OneDevice(ok + ", \"mode\": {\"role\": \"bridge\", \"master\": 1}"), 4, 70,
         "true или false"},
        {OneDevice(ok + ", \"calibration\": {\"empty\": 1, \"full\": 2}"), 4, 48, "нет поля k"},
        // The tag boxes of the window, each at its edge.
        {OneDevice(ok + ", \"tags\": [{\"serial\": 1, \"interval\": 65001}]"), 4, 68,
         "65001 вне диапазона 1..65000"},
        {OneDevice(ok + ", \"tags\": [{\"serial\": 1, \"interval\": 0}]"), 4, 68,
         "вне диапазона 1..65000"},
        {OneDevice(ok + ", \"tags\": [{\"serial\": 1, \"power\": 2}]"), 4, 65,
         "2 вне диапазона 3..247"},
        {OneDevice(ok + ", \"tags\": [{\"serial\": 1, \"power\": 248}]"), 4, 65, "3..247"},
        {OneDevice(ok + ", \"tags\": [{\"serial\": 1, \"sleep\": 32768}]"), 4, 65, "0..32767"},
        {OneDevice(ok + ", \"tags\": [{\"serial\": 1, \"mode\": 256}]"), 4, 64, "0..255"},
        {OneDevice(ok + ", \"tags\": [{\"serial\": 1, \"id\": \"123456789\"}]"), 4, 62,
         "Cлишком много символов Идентификатора"},
        {OneDevice(ok + ", \"tags\": [{\"serial\": 1, \"id\": \"12G4\"}]"), 4, 62,
         "В строке имеются символы не принадлежащие HEX"},
        {OneDevice(ok + ", \"tags\": [{\"serial\": 1, \"colour\": 1}]"), 4, 56,
         "неизвестное поле \"colour\""},
        // Columns count characters, not bytes.
        {OneDevice("\"version\": \"ключ\", \"address\": 500, \"serial\": 7"), 4, 36, "500 вне"},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.text);
        EXPECT_FALSE(p.site) << c.text;
        EXPECT_NE(p.error.find(c.says), std::string::npos) << c.text << "\n" << p.error;
        EXPECT_EQ(p.line, c.line) << c.text << "\n" << p.error;
        EXPECT_EQ(p.column, c.column) << c.text << "\n" << p.error;
    }
}

TEST(SiteFile, TwoDevicesOrTagsWithOneAddressOrSerialAreRefused) {
    const std::string head = "{\"format\": \"busdesk-site/1\", \"devices\": [\n";
    struct Case {
        std::string devices;
        int column;
        std::string says;
    };
    const Case cases[] = {
        {"{\"address\": 5, \"serial\": 1},\n{\"address\": 5, \"serial\": 2}", 13, "адресе 5"},
        {"{\"address\": 5, \"serial\": 1},\n{\"address\": 6, \"serial\": 1}", 26, "устройство 1"},
        {"{\"address\": 5, \"serial\": 1, \"tags\": [{\"serial\": 9}]},\n"
         "{\"address\": 6, \"serial\": 2, \"tags\": [{\"serial\": 9}]}",
         49, "метка 9"},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(head + c.devices + "]}");
        EXPECT_FALSE(p.site) << c.devices;
        EXPECT_NE(p.error.find(c.says), std::string::npos) << p.error;
        EXPECT_EQ(p.line, 3) << p.error;
        EXPECT_EQ(p.column, c.column) << p.error;
    }
}

TEST(SiteFile, FieldsLeftOutAreNotCompared) {
    const Parsed p = Parse(OneDevice("\"address\": 5, \"serial\": 7, \"tags\": [{\"serial\": 9}]"));
    ASSERT_TRUE(p.site) << p.error;
    Device d = Reader(5, 7, 0x80);
    d.tags = {TagOf(9, 0x1234, 900)};
    EXPECT_TRUE(Compare(*p.site, Bus({d}), {}).empty());
}

std::vector<std::string> Fields(const std::vector<Difference>& ds) {
    std::vector<std::string> f;
    for (const Difference& d : ds) f.push_back(d.field);
    return f;
}

TEST(SiteCompare, EachKindOfDifferenceIsOneRecord) {
    Device r = Reader(1, 100123);
    r.reading = Reading{"t", 500, 20, 50000};
    r.tags = {TagOf(5001, 0x1A2B3C4D), TagOf(5002, 0x0A0B0C0D)};
    const Device ind = Reader(5, 100456, 0x01);
    const Device bridge = Reader(7, 100789, 0x80);
    const Site file = Bus({r, ind, bridge});

    struct Case {
        const char* name;
        std::function<void(Site&)> change;
        std::vector<std::string> fields;
        std::optional<double> readings = std::nullopt;
    };
    const Case cases[] = {
        {"same", [](Site&) {}, {}},
        {"moved", [](Site& s) { s.devices[1].address = 15; }, {"address"}},
        {"mode", [](Site& s) { s.devices[2].mode = 0xC0; }, {"mode"}},
        {"version", [](Site& s) { s.devices[0].version = "1.3.5."; }, {"version"}},
        {"calibration",
         [](Site& s) { s.devices[0].calibration->full = 91000; },
         {"calibration.full"}},
        {"missing", [](Site& s) { s.devices.erase(s.devices.begin() + 1); }, {"device"}},
        {"replaced", [](Site& s) { s.devices[1].serial = 200001; }, {"device", "device"}},
        {"tag interval", [](Site& s) { s.devices[0].tags[1].interval = 900; }, {"tag.interval"}},
        {"tag id and power",
         [](Site& s) {
             s.devices[0].tags[0].id = 0xC0FFEE01;
             s.devices[0].tags[0].power = 120;
         },
         {"tag.id", "tag.power"}},
        {"tag gone", [](Site& s) { s.devices[0].tags.pop_back(); }, {"tag"}},
        {"tag new", [](Site& s) { s.devices[0].tags.push_back(TagOf(6000, 0x66)); }, {"tag"}},
        {"tag heard elsewhere",
         [](Site& s) {
             s.devices[1].tags.push_back(s.devices[0].tags[0]);
             s.devices[0].tags.erase(s.devices[0].tags.begin());
         },
         {"tag.reader"}},
        // Live values: reported, compared only when asked, then with a tolerance.
        {"readings not asked",
         [](Site& s) { s.devices[0].reading->level = 900; },
         {},
         std::nullopt},
        {"level within 10 %", [](Site& s) { s.devices[0].reading->level = 549; }, {}, 10.0},
        {"level beyond 10 %",
         [](Site& s) { s.devices[0].reading->level = 551; },
         {"reading.level"},
         10.0},
        {"tag level", [](Site& s) { s.devices[0].tags[0].level = -90; }, {"tag.level"}, 10.0},
    };
    for (const Case& c : cases) {
        Site bus = file;
        c.change(bus);
        EXPECT_EQ(Fields(Compare(file, bus, {c.readings})), c.fields) << c.name;
    }
}

TEST(SiteCompare, AMovedDeviceIsNamedBySerialAtItsNewAddress) {
    const Site file = Bus({Reader(1, 100123), Reader(5, 100456, 0x01)});
    Site bus = file;
    bus.devices[1].address = 15;
    const std::vector<Difference> ds = Compare(file, bus, {});
    ASSERT_EQ(ds.size(), 1u);
    EXPECT_EQ(ds[0].serial, 100456u);
    EXPECT_EQ(ds[0].address, 15);
    EXPECT_EQ(ds[0].file, "5");
    EXPECT_EQ(ds[0].bus, "15");
    EXPECT_NE(ds[0].text.find("устройство 100456 на адресе 15"), std::string::npos) << ds[0].text;
}

// The plan carried out on the addresses alone: no two devices may ever share
// one, and at the end each device of the file stands where the file says.
struct Outcome {
    std::map<std::uint8_t, std::uint32_t> at;
    std::string fault;
};
Outcome Carry(const Site& bus, const Plan& plan) {
    Outcome o;
    for (const Device& d : bus.devices) o.at[d.address] = d.serial;
    for (const PlanStep& s : plan.steps) {
        if (s.words[0] != "set-address") continue;
        const auto from = static_cast<std::uint8_t>(std::stoi(s.words[1]));
        const auto to = static_cast<std::uint8_t>(std::stoi(s.words[2]));
        if (!o.at.count(from)) o.fault += "nobody at " + s.words[1] + "; ";
        if (o.at.count(to)) o.fault += "two devices at " + s.words[2] + "; ";
        o.at[to] = o.at[from];
        o.at.erase(from);
    }
    return o;
}

std::vector<std::string> Commands(const Plan& p) {
    std::vector<std::string> c;
    for (const PlanStep& s : p.steps) c.push_back(JoinWords(s.words));
    return c;
}

TEST(SitePlan, AddressMovesNeverPutTwoDevicesOnOneAddress) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> moves;  // bus address -> file address, by device
        std::vector<int> strangers;              // addresses of devices not in the file
        std::vector<std::string> commands;
        std::size_t leftOver;
    };
    const Case cases[] = {
        {"nothing to do", {{1, 1}, {5, 5}}, {}, {}, 0},
        {"one move", {{1, 1}, {15, 5}}, {}, {"set-address 15 5"}, 0},
        {"swap through a free address",
         {{5, 7}, {7, 5}},
         {},
         {"set-address 5 200", "set-address 7 5", "set-address 200 7"},
         0},
        {"three in a ring",
         {{1, 2}, {2, 3}, {3, 1}},
         {},
         {"set-address 1 200", "set-address 3 1", "set-address 2 3", "set-address 200 2"},
         0},
        {"a chain, the last first",
         {{1, 2}, {2, 3}, {3, 4}},
         {},
         {"set-address 3 4", "set-address 2 3", "set-address 1 2"},
         0},
        {"the spare address is one nobody wants",
         {{5, 7}, {7, 5}, {200, 200}, {1, 199}},
         {198},
         {"set-address 1 199", "set-address 5 197", "set-address 7 5", "set-address 197 7"},
         0},
        {"onto a stranger's address", {{15, 5}}, {5}, {}, 1},
        {"a chain ending at a stranger", {{1, 2}, {2, 3}}, {3}, {}, 2},
    };
    for (const Case& c : cases) {
        std::vector<Device> fileDevices, busDevices;
        std::uint32_t serial = 1000;
        for (const auto& [now, want] : c.moves) {
            ++serial;
            fileDevices.push_back(Reader(static_cast<std::uint8_t>(want), serial));
            busDevices.push_back(Reader(static_cast<std::uint8_t>(now), serial));
        }
        for (int a : c.strangers)
            busDevices.push_back(Reader(static_cast<std::uint8_t>(a), ++serial));
        const Site file = Bus(fileDevices);
        const Site bus = Bus(busDevices);
        const Plan plan = MakePlan(file, bus);
        EXPECT_EQ(Commands(plan), c.commands) << c.name;
        const Outcome o = Carry(bus, plan);
        EXPECT_EQ(o.fault, "") << c.name;
        // What was left over is said, one line per device that stays.
        std::size_t movesLeft = 0;
        for (const std::string& l : plan.leftOver)
            movesLeft += l.find("не сменить") != std::string::npos;
        EXPECT_EQ(movesLeft, c.leftOver) << c.name;
        if (c.leftOver == 0) {
            for (const Device& d : file.devices) EXPECT_EQ(o.at.at(d.address), d.serial) << c.name;
        }
    }
}

TEST(SitePlan, ModesAndTagsAreSetWhereTheDeviceEndsUp) {
    Device r = Reader(1, 100123);
    r.tags = {TagOf(5001, 0x1A2B3C4D), TagOf(5002, 0x0A0B0C0D, 600)};
    const Site file = Bus({r, Reader(5, 100456, 0x01), Reader(7, 100789, 0xC0)});
    Site bus = file;
    bus.devices[0].address = 11;  // the reader of the tags moved
    bus.devices[0].tags[1].interval = 900;
    bus.devices[0].tags[1].id = 0xC0FFEE01;
    bus.devices[1].mode = 0x02;
    bus.devices[2].mode = 0x00;
    const Plan plan = MakePlan(file, bus);
    EXPECT_EQ(Commands(plan),
              (std::vector<std::string>{"set-address 11 1", "set-mode 5 reader-indicator",
                                        "set-mode 7 bridge --average --invert",
                                        "write-tag 1 C0FFEE01 --interval 600 --new-id A0B0C0D"}));
    EXPECT_TRUE(plan.leftOver.empty());
    // The plan's own result, planned again, needs nothing more.
    EXPECT_TRUE(MakePlan(file, file).steps.empty());
}

TEST(SitePlan, ATagNeverTakesAnIdentifierAnotherTagStillAnswersTo) {
    Device r = Reader(1, 100123);
    r.tags = {TagOf(5001, 0xA1), TagOf(5002, 0xA2), TagOf(5003, 0xA3)};
    const Site file = Bus({r});
    struct Case {
        const char* name;
        std::vector<std::uint32_t> busIds;  // what tags 5001, 5002, 5003 answer to now
        std::vector<std::string> commands;
        std::size_t leftOver;
    };
    const Case cases[] = {
        {"a chain, the free one first",
         {0xB0, 0xA1, 0xA2},
         {"write-tag 1 00000A2 --new-id 00000A3", "write-tag 1 00000A1 --new-id 00000A2",
          "write-tag 1 00000B0 --new-id 00000A1"},
         0},
        {"a swap is left to the technician", {0xA2, 0xA1, 0xA3}, {}, 2},
    };
    for (const Case& c : cases) {
        Site bus = file;
        for (std::size_t i = 0; i < c.busIds.size(); ++i) bus.devices[0].tags[i].id = c.busIds[i];
        const Plan plan = MakePlan(file, bus);
        EXPECT_EQ(Commands(plan), c.commands) << c.name;
        EXPECT_EQ(plan.leftOver.size(), c.leftOver) << c.name;
    }
}

TEST(SitePlan, WhatNoCommandSetsIsLeftToTheTechnician) {
    Device r = Reader(1, 100123);
    r.tags = {TagOf(5001, 0x1A2B3C4D)};
    const Site file = Bus({r, Reader(5, 100456, 0x82), Reader(7, 100789)});
    Site bus = file;
    bus.devices[0].calibration->empty = 21000;  // taken at the level present
    bus.devices[0].version = "1.3.5.";          // firmware
    bus.devices[0].tags[0].version = "2.6..";   // tag firmware
    bus.devices[1].mode = 0x02;                 // reader with master: no window gives it
    bus.devices[2].serial = 200001;             // replaced
    const Plan plan = MakePlan(file, bus);
    EXPECT_TRUE(plan.steps.empty()) << JoinWords(plan.steps[0].words);
    const std::vector<std::string> said = {
        "калибровка \"Пустой\"",  "версия 1.3.5.", "версия 2.6..",
        "через окно не ставится", "100789",        "200001"};
    for (const std::string& s : said) {
        EXPECT_TRUE(
            std::any_of(plan.leftOver.begin(), plan.leftOver.end(),
                        [&s](const std::string& l) { return l.find(s) != std::string::npos; }))
            << s;
    }
}

int Pid() {
#ifdef _WIN32
    return _getpid();
#else
    return getpid();
#endif
}

class SiteFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("busdesk-site-" + std::to_string(Pid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::vector<std::string> Names() const {
        std::vector<std::string> n;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            n.push_back(e.path().filename().string());
        std::sort(n.begin(), n.end());
        return n;
    }
    std::string Text(const std::string& name) const {
        std::ifstream in(dir / name);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::path dir;
};

TEST_F(SiteFiles, AFileIsReplacedWholeOrLeftAsItWas) {
    const std::string path = (dir / "site.json").string();
    std::ofstream(path) << "old";
    std::string error;
    {
        // Read fails halfway: nothing committed, the old file stays.
        WholeFile f;
        ASSERT_TRUE(f.Open(path, &error)) << error;
        EXPECT_EQ(Names().size(), 2u);  // the file and its temporary one
    }
    EXPECT_EQ(Names(), std::vector<std::string>{"site.json"});
    EXPECT_EQ(Text("site.json"), "old");
    WholeFile f;
    ASSERT_TRUE(f.Open(path, &error)) << error;
    ASSERT_TRUE(f.Commit("new\n", &error)) << error;
    EXPECT_EQ(Names(), std::vector<std::string>{"site.json"});
    EXPECT_EQ(Text("site.json"), "new\n");
    // A folder that is not there is known before the bus is read.
    WholeFile nowhere;
    EXPECT_FALSE(nowhere.Open((dir / "no" / "site.json").string(), &error));
    EXPECT_NE(error.find("site.json"), std::string::npos) << error;
    EXPECT_FALSE(nowhere.Open(dir.string(), &error));  // a folder is not replaced
}

TEST_F(SiteFiles, OnlyARegularFileOfBoundedSizeIsRead) {
    std::ofstream(dir / "site.json") << "{}";
    EXPECT_EQ(Load((dir / "site.json").string()).text, "{}");
    std::ofstream(dir / "big.json") << std::string(kFileLimit + 1, ' ');
    std::vector<std::string> bad = {(dir / "none.json").string(), dir.string(),
                                    (dir / "big.json").string()};
#ifndef _WIN32
    // A FIFO with no writer must not hold the program up.
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    bad.push_back(fifo);
#endif
    for (const std::string& path : bad) {
        const Loaded l = Load(path);
        EXPECT_FALSE(l.error.empty()) << path;
        EXPECT_TRUE(l.text.empty()) << path;
    }
}

}  // namespace
}  // namespace busdesk::cli::site
