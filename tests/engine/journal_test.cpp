// The session journal: what a survey, an address change and a tag write leave
// in it, that every line parses, and how it behaves when the file or the disk
// fails or the process is killed.
#include "engine/journal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/line_frames.h"
#include "engine/port_setup.h"
#include "support/line_fixture.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace busdesk::engine {
namespace {

using testing::Framed;
using testing::Line;
using testing::ReaderData;
using Json = nlohmann::ordered_json;
using Kind = JournalEvent::Kind;

std::string TempPath(const std::string& name) {
    const std::string p = ::testing::TempDir() + name;
    std::remove(p.c_str());
    return p;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One line as a strict reader takes it: anything that is not JSON throws, and
// so does a key given twice in one object, which the library would let pass.
Json ParseStrict(const std::string& line) {
    std::vector<std::set<std::string>> keys;
    std::string twice;
    const Json::parser_callback_t check = [&](int, Json::parse_event_t ev, Json& parsed) {
        if (ev == Json::parse_event_t::object_start) keys.emplace_back();
        if (ev == Json::parse_event_t::object_end) keys.pop_back();
        if (ev == Json::parse_event_t::key && !keys.back().insert(parsed.get<std::string>()).second)
            twice = parsed.get<std::string>();
        return true;
    };
    Json j = Json::parse(line, check);
    if (!twice.empty()) throw std::runtime_error("key given twice: " + twice);
    return j;
}

// Every complete line, parsed; a test fails on a line that does not parse.
std::vector<Json> ParseLines(const std::string& text) {
    std::vector<Json> out;
    std::size_t at = 0;
    for (std::size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
        const std::string line = text.substr(at, nl - at);
        try {
            out.push_back(ParseStrict(line));
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what() << ": " << line;
        }
    }
    return out;
}

// Waits for the writer thread, which a test cannot join, to get somewhere.
template <typename Done>
bool Eventually(Done done) {
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// Every one of `total` lines is counted, written or lost.
bool Settled(const Journal& journal, std::uint64_t total) {
    const Journal::Counts n = journal.Stats();
    return n.lines + n.lost == total;
}

JournalEvent Event(Kind kind, Bytes bytes = {}, std::string text = {}) {
    JournalEvent e;
    e.kind = kind;
    e.time = std::chrono::system_clock::now();
    e.bytes = std::move(bytes);
    e.text = std::move(text);
    return e;
}

const Json* FindCommand(const std::vector<Json>& lines, const std::string& what) {
    for (const Json& j : lines) {
        if (j.at("ev").get<std::string>() == "command" && j.at("what").get<std::string>() == what)
            return &j;
    }
    return nullptr;
}

const Json* ResultOf(const std::vector<Json>& lines, const Json& command) {
    for (const Json& j : lines) {
        if (j.at("ev").get<std::string>() == "result" && j.at("id") == command.at("id")) return &j;
    }
    return nullptr;
}

TEST(Journal, ASessionOfSurveyAddressChangeAndTagWrite) {
    const std::string path = TempPath("busdesk-session.jsonl");
    std::string error;
    auto journal = Journal::Open(path, error);
    ASSERT_TRUE(journal) << error;
    LineCounters counted;
    {
        Line line(journal.get());
        // Survey: the broadcast, then the list of addresses.
        line.form->UserClick("Opros");
        line.port->QueueReception(Framed(1, 0xFC, {0x01, 0x00, 0x00, 0x00, 0x86, 0x00}));
        line.Tick();
        line.port->QueueReception({0x01, 0x05, 0x07});
        line.Tick();
        // Address 1 becomes 5; the command goes out behind the pending
        // serial-number request, and both replies come back together.
        line.dialogs.inputAnswers.push_back("5");
        line.form->net_Click();
        line.port->QueueReception(ReaderData());
        line.Tick();
        Bytes both = Framed(1, 0xFC, {0x01, 0x00, 0x00, 0x00, 0x86, 0x00});
        const Bytes confirm = Framed(5, 0xFB);
        both.insert(both.end(), confirm.begin(), confirm.end());
        line.port->QueueReception(both);
        line.Tick();
        // A tag write nobody confirms.
        line.form->SerNumMetki.caption = "100";
        line.form->ModeMetki.caption = "1";
        line.form->IntervalMetki.caption = "60";
        line.form->PowerMetki.caption = "10";
        line.form->ID_Metki.caption = "0A0B0C0D";
        line.form->sleep_time.caption = "5";
        line.form->SetModesMetki_Click();
        ASSERT_FALSE(line.form->wrs.empty());
        for (int i = 0; i < 3; ++i) line.Tick();
        counted = line.monitor->Counters();
    }
    journal.reset();  // writes out what is queued
    const std::vector<Json> lines = ParseLines(ReadFile(path));
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines.front().at("ev").get<std::string>(), "start");
    for (const Json& j : lines) {
        // 2026-12-08T16:18:53.123+03:00
        const std::string t = j.at("t").get<std::string>();
        ASSERT_EQ(t.size(), 29u) << t;
        EXPECT_EQ(t[10], 'T');
        EXPECT_EQ(t[19], '.');
        EXPECT_TRUE(t[23] == '+' || t[23] == '-') << t;
        EXPECT_EQ(t[26], ':');
    }

    const Json* survey = FindCommand(lines, "survey");
    ASSERT_TRUE(survey);
    const Json* found = ResultOf(lines, *survey);
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->at("confirmed").get<bool>());
    EXPECT_EQ(found->at("hex").get<std::string>(), "01 05 07");

    const Json* address = FindCommand(lines, "address");
    ASSERT_TRUE(address);
    EXPECT_EQ(address->at("addr"), 1);
    EXPECT_EQ(address->at("values").at("new_address"), 5);
    EXPECT_EQ(address->at("text").get<std::string>(), "Смена сетевого номера 1 на 5");
    const Json* moved = ResultOf(lines, *address);
    ASSERT_TRUE(moved);
    EXPECT_TRUE(moved->at("confirmed").get<bool>());

    const Json* tag = FindCommand(lines, "tag_params");
    ASSERT_TRUE(tag);
    const Json& v = tag->at("values");
    EXPECT_EQ(v.at("serial"), 100);
    EXPECT_EQ(v.at("id").get<std::string>(), "0A0B0C0D");
    EXPECT_EQ(v.at("interval"), 60);
    EXPECT_EQ(v.at("mode"), 1);
    EXPECT_EQ(v.at("power"), 10);
    EXPECT_EQ(v.at("sleep"), 5);
    const Json* unconfirmed = ResultOf(lines, *tag);
    ASSERT_TRUE(unconfirmed);
    EXPECT_FALSE(unconfirmed->at("confirmed").get<bool>());
    EXPECT_EQ(unconfirmed->at("reason").get<std::string>(), "нет ответа");

    // One tx line per request frame, one rx line per reception, each with its bytes.
    std::uint64_t tx = 0, rx = 0, survey_rx = 0;
    for (const Json& j : lines) {
        const std::string ev = j.at("ev").get<std::string>();
        if (ev == "tx") ++tx;
        if (ev == "rx") ++rx;
        if (ev == "rx" && j.contains("addresses")) ++survey_rx;
        if (ev == "tx" || ev == "rx") {
            EXPECT_FALSE(j.at("hex").get<std::string>().empty());
        }
    }
    EXPECT_EQ(tx, counted.requests);
    EXPECT_EQ(rx, 4u);
    EXPECT_EQ(survey_rx, 1u);
}

// Every kind of line, byte for byte: scripts and the README's example rely on
// the keys, their order and the forms of the values. `@` stands for the time.
TEST(JournalFormat, EachKindOfEventGivesItsLine) {
    struct Case {
        Kind kind;
        Bytes bytes;
        std::string text, reason;
        std::uint64_t id;
        bool ok;
        const char* line;
    } const cases[] = {
        {Kind::Start,
         {},
         "busdesk 1.2.3",
         "",
         0,
         false,
         R"({"t":"@","ev":"start","program":"busdesk 1.2.3"})"},
        {Kind::Open, {}, "COM1:", "", 0, true, R"({"t":"@","ev":"open","port":"COM1:","ok":true})"},
        {Kind::Open,
         {},
         "COM1:",
         "нет прав на /dev/ttyUSB0",
         0,
         false,
         R"({"t":"@","ev":"open","port":"COM1:","ok":false,"reason":"нет прав на /dev/ttyUSB0"})"},
        {Kind::Close, {}, "", "", 0, false, R"({"t":"@","ev":"close"})"},
        {Kind::Tx,
         {0x31, 0xFF, 0xDC},
         "",
         "",
         0,
         false,
         R"({"t":"@","ev":"tx","addr":255,"meaning":"опрос сети","hex":"31 FF DC"})"},
        {Kind::Tx,
         {0x31, 0x01, 0xF0, 0x5D, 0x31, 0x01, 0xFB, 0x05, 0xE9},
         "",
         "",
         0,
         false,
         R"({"t":"@","ev":"tx","addr":1,"code":"F0","meaning":"запрос данных считывателя","hex":"31 01 F0 5D"})"
         "\n"
         R"({"t":"@","ev":"tx","addr":1,"code":"FB","meaning":"смена сетевого номера","hex":"31 01 FB 05 E9"})"},
        {Kind::Tx,
         {0x31},
         "",
         "",
         0,
         false,
         R"({"t":"@","ev":"tx","meaning":"неизвестная команда","hex":"31"})"},
        {Kind::Rx,
         {0x3E, 0x01, 0xF0, 0x19, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x10,
          0x27, 0x00, 0x00, 0x20, 0x4E, 0x00, 0x00, 0x64, 0x00, 0x02, 0x97},
         "",
         "",
         0,
         false,
         R"({"t":"@","ev":"rx","addr":1,"code":"F0","meaning":"данные считывателя","crc":true,"hex":"3E 01 F0 19 00 02 01 00 00 00 10 27 00 00 20 4E 00 00 64 00 02 97"})"},
        {Kind::Rx,
         {0x3E, 0x05, 0x42, 0x00},
         "",
         "",
         0,
         false,
         R"({"t":"@","ev":"rx","addr":5,"code":"42","meaning":"неизвестный код","crc":false,"hex":"3E 05 42 00"})"},
        {Kind::Rx,
         {0x01, 0x05, 0x07},
         "",
         "",
         0,
         true,
         R"({"t":"@","ev":"rx","meaning":"ответ на опрос сети","addresses":[1,5,7],"hex":"01 05 07"})"},
        {Kind::Rx,
         {},
         "",
         "",
         0,
         true,
         R"({"t":"@","ev":"rx","meaning":"ответ на опрос сети","addresses":[]})"},
        {Kind::Rx,
         {0x00, 0xFF},
         "",
         "",
         0,
         false,
         R"({"t":"@","ev":"rx","meaning":"не ответ устройства","hex":"00 FF"})"},
        {Kind::Silent, {}, "", "", 0, false, R"({"t":"@","ev":"silent","meaning":"нет ответа"})"},
        {Kind::WriteFailed,
         {0x31, 0x01, 0xF0, 0x5D},
         "",
         "",
         0,
         false,
         R"({"t":"@","ev":"write_error","meaning":"ошибка записи в порт","hex":"31 01 F0 5D"})"},
        {Kind::Command,
         {0x31, 0xFF, 0xDC},
         "",
         "",
         1,
         false,
         R"({"t":"@","ev":"command","id":1,"what":"survey","addr":255,"values":{},"text":"Опрос сети","hex":"31 FF DC"})"},
        {Kind::Command,
         {0x31, 0x01, 0xE1, 0x00, 0x00, 0x00, 0x00, 0x64, 0x0A, 0x0B, 0x0C, 0x0D, 0x00, 0x3C, 0x01,
          0x0A, 0x00, 0x05, 0x00},
         "",
         "",
         5,
         false,
         R"({"t":"@","ev":"command","id":5,"what":"tag_params","addr":1,"values":{"serial":100,"id":"0A0B0C0D","interval":60,"mode":1,"power":10,"sleep":5},"text":"Запись параметров метки 100 через считыватель 1","hex":"31 01 E1 00 00 00 00 64 0A 0B 0C 0D 00 3C 01 0A 00 05 00"})"},
        {Kind::Command,
         {0x31, 0x01, 0x99, 0x00},
         "",
         "",
         18446744073709551615ull,
         false,
         R"({"t":"@","ev":"command","id":18446744073709551615,"what":"unknown","addr":1,"values":{},"text":"","hex":"31 01 99 00"})"},
        {Kind::Result,
         {0x3E, 0x05, 0xFB, 0x81},
         "",
         "",
         2,
         true,
         R"({"t":"@","ev":"result","id":2,"confirmed":true,"hex":"3E 05 FB 81"})"},
        {Kind::Result,
         {},
         "нет ответа",
         "",
         3,
         false,
         R"({"t":"@","ev":"result","id":3,"confirmed":false,"reason":"нет ответа"})"},
    };
    const auto t = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796737253123));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        JournalEvent e{c.kind, t, c.bytes, c.text, c.reason, c.id, c.ok};
        std::string expected = c.line;
        for (std::size_t at; (at = expected.find('@')) != std::string::npos;)
            expected.replace(at, 1, IsoTime(t));
        EXPECT_EQ(Journal::Format(e), expected);
    }
}

// A reception with what the engine's decoding took from it, as the line
// monitor builds it.
JournalEvent Heard(const Bytes& rx, bool surveyDue = false) {
    JournalEvent e = Event(Kind::Rx, rx);
    e.ok = surveyDue;
    e.heard = DecodeReception(rx, surveyDue);
    return e;
}

Bytes BadCrc(Bytes rx) {
    rx.back() ^= 0x5A;
    return rx;
}

// Each kind of reply gives its numbers, only those it held whole; a reply
// with a wrong CRC, or one too short for any field, gives none.
TEST(JournalDecoded, EachReplyGivesTheFieldsItHeld) {
    // Calibration 10000/20000, K 100, with and without the readings.
    const Bytes calibration{0x10, 0x27, 0x00, 0x00, 0x20, 0x4E, 0x00, 0x00, 0x64, 0x00};
    Bytes noCurrent{0xE7, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    noCurrent.insert(noCurrent.end(), calibration.begin(), calibration.end());
    const Bytes serialLong = Framed(5, 0xFC, {0x68, 0x88, 0x01, 0x00, 131, 2});
    const Bytes tagData = Framed(1, 0xE3,
                                 {0x00, 0x00, 0x00, 0x64, 0x0A, 0x0B, 0x0C, 0x0D, 0x00, 0x3C, 0x01,
                                  0x0A, 0x86, 0x00, 0x05, 0xB0});
    struct Case {
        const char* name;
        Bytes rx;
        const char* decoded;  // nullptr: the line has no "decoded"
    } const cases[] = {
        {"reading, long form", ReaderData(),
         R"({"level":512,"temperature":25,"current":1,"empty":10000,"full":20000,"k":100,"mode":2})"},
        {"reading below zero", Framed(1, 0xF0, {0xF6, 0x00, 0x01, 0x07, 0x00, 0x00, 0x00}),
         R"({"level":256,"temperature":-10,"current":7})"},
        {"no current: calibration only", Framed(1, 0xF0, noCurrent),
         R"({"empty":10000,"full":20000,"k":100})"},
        {"reading cut short", Framed(1, 0xF0, {0x19, 0x00}), nullptr},
        {"reading with a bad CRC", BadCrc(ReaderData()), nullptr},
        {"serial and version", serialLong,
         R"({"serial":100456,"version":131,"version_prefix":2,"version_text":"21.3.1."})"},
        {"serial without version", Framed(1, 0xFC, {0x01, 0x00, 0x00, 0x00}), R"({"serial":1})"},
        {"serial cut short", Framed(1, 0xFC, {0x01}), nullptr},
        {"serial with a bad CRC", BadCrc(serialLong), nullptr},
        {"mode confirmation", Framed(1, 0xF2, {0x82}), R"({"mode":130})"},
        {"tag ping", Framed(1, 0xE0, {0x00, 0x00, 0x00, 0x64, 0x0A, 0x0B, 0x0C, 0x0D, 0xB0}),
         R"({"serial":100,"id":"A0B0C0D","level":-80})"},
        {"tag ping cut short", Framed(1, 0xE0, {0x00, 0x00, 0x00, 0x64}), R"({"serial":100})"},
        {"tag data", tagData,
         R"({"serial":100,"id":"A0B0C0D","interval":60,"mode":1,"power":10,"sleep":5,"version":134,"level":-80})"},
        {"tag data with a bad CRC", BadCrc(tagData), nullptr},
        {"tag write confirmed", Framed(1, 0xE1), nullptr},
        {"address confirmed", Framed(5, 0xFB), nullptr},
        {"unknown code", Framed(5, 0x42, {0x01, 0x02}), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string line = Journal::Format(Heard(c.rx));
        const Json j = ParseStrict(line);
        // What every reply line had before stays as it was.
        EXPECT_EQ(j.at("addr"), c.rx[1]);
        EXPECT_EQ(j.at("crc").get<bool>(), c.rx.back() == Crc8(c.rx, c.rx.size() - 1));
        EXPECT_EQ(j.at("hex").get<std::string>(), Hex2(c.rx));
        if (c.decoded == nullptr) {
            EXPECT_FALSE(j.contains("decoded")) << line;
        } else {
            ASSERT_TRUE(j.contains("decoded")) << line;
            EXPECT_EQ(j.at("decoded").dump(), c.decoded);
        }
    }
    // Unframed receptions keep their own fields.
    for (const bool due : {true, false})
        EXPECT_FALSE(
            ParseStrict(Journal::Format(Heard({0x01, 0x05, 0x07}, due))).contains("decoded"));
}

// The new object sits between the old fields and `hex`, so a line an old
// script reads has the keys in the order it knew.
TEST(JournalDecoded, TheReadingLineKeepsItsFieldsInOrder) {
    const std::string line = Journal::Format(Heard(ReaderData()));
    const std::string time = ParseStrict(line).at("t").get<std::string>();
    EXPECT_EQ(
        line,
        R"({"t":")" + time +
            R"(","ev":"rx","addr":1,"code":"F0","meaning":"данные считывателя","crc":true,)"
            R"("decoded":{"level":512,"temperature":25,"current":1,"empty":10000,"full":20000,"k":100,"mode":2},)"
            R"("hex":"3E 01 F0 19 00 02 01 00 00 00 10 27 00 00 20 4E 00 00 64 00 02 97"})");
}

// A session on the demo bus: every reading of device 5 in the journal holds
// the numbers the window showed when that reading came in.
TEST(JournalDecoded, ReadingsOnTheDemoBusAreWhatTheWindowShowed) {
    PortSetup setup{PortMap{}};
    ASSERT_TRUE(setup.StartDemo()) << setup.Error();
    const std::string path = TempPath("busdesk-demo-values.jsonl");
    std::string error;
    auto journal = Journal::Open(path, error);
    ASSERT_TRUE(journal) << error;
    struct Shown {
        std::string level, temperature, current, empty, full, k;
        bool operator==(const Shown&) const = default;
    };
    std::vector<Shown> shown;
    {
        testing::ScriptedDialogs dialogs;
        LineMonitor monitor(setup.Factory()(dialogs), journal.get());
        frmSerial form(monitor, dialogs);
        form.receptionObserver = &monitor;
        form.Raise("frmSerial", "Load");
        form.UserClick("BTNOpenCom");
        ASSERT_TRUE(dialogs.messages.empty());
        form.CmbNet.list = {"5"};
        form.CmbNet.listIndex = 0;
        form.CmbNet.caption = "5";
        for (int i = 0; i < 8; ++i) {
            form.Tick();
            const Shown now{form.uroven.caption, form.temp.caption, form.tek.caption,
                            form.lo.caption,     form.hi.caption,   form.ko.caption};
            if (shown.empty() || !(shown.back() == now)) shown.push_back(now);
        }
        form.UserClick("BTNCloseCom");
    }
    journal.reset();
    std::vector<Shown> journalled;
    for (const Json& j : ParseLines(ReadFile(path))) {
        if (j.at("ev") != "rx" || !j.contains("decoded")) continue;
        const Json& d = j.at("decoded");
        if (j.at("addr") != 5 || !d.contains("current")) continue;
        journalled.push_back({std::to_string(d.at("level").get<int>()),
                              std::to_string(d.at("temperature").get<int>()) + " °C",
                              std::to_string(d.at("current").get<std::uint32_t>()),
                              std::to_string(d.at("empty").get<std::uint32_t>()),
                              std::to_string(d.at("full").get<std::uint32_t>()),
                              std::to_string(d.at("k").get<int>())});
    }
    ASSERT_GE(journalled.size(), 2u);
    // In the order they came: each journalled reading is one the window showed.
    std::size_t at = 0;
    for (const Shown& r : journalled) {
        while (at < shown.size() && !(shown[at] == r)) ++at;
        ASSERT_LT(at, shown.size()) << "level " << r.level << ", temperature " << r.temperature
                                    << ", current " << r.current;
    }
}

// Port names and reasons come from outside: whatever their bytes, the line
// parses and keeps what can be kept.
TEST(JournalFormat, AnyTextGivesALineThatParses) {
    struct Case {
        std::string text;
        std::string read;  // what a reader gets back
    } const cases[] = {
        {"COM\xff:", "COM\xEF\xBF\xBD:"},      // not UTF-8: the replacement character
        {"нет \xD0", "нет \xEF\xBF\xBD"},      // a Cyrillic letter cut in half
        {"COM\x01\x1f\t:", "COM\x01\x1f\t:"},  // control characters, escaped
        {"a \"b\" \\ /", "a \"b\" \\ /"},      // quotes and backslashes
        {"порт занят (PID 42)", "порт занят (PID 42)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.read);
        JournalEvent e = Event(Kind::Open, {}, c.text);
        e.reason = c.text;
        const std::string line = Journal::Format(e);
        Json j;
        ASSERT_NO_THROW(j = ParseStrict(line)) << line;
        EXPECT_EQ(j.at("port").get<std::string>(), c.read);
        EXPECT_EQ(j.at("reason").get<std::string>(), c.read);
    }
    // UTF-8 stays as it is, not \u escapes, so the file reads as text.
    EXPECT_NE(Journal::Format(Event(Kind::Silent)).find("нет ответа"), std::string::npos);
}

// The tests' own reader must refuse what is not JSON, or they would pass a
// broken journal line.
TEST(JournalFormat, TheTestsReaderIsStrict) {
    for (const char* bad :
         {R"({"a":0x1F})", R"({"a":-inf})", R"({"a":007})", R"({"a":1,})", "{\"a\":\"\x1f\"}",
          "{\"a\":\"\xff\"}", R"({"a":1,"a":2})", R"({"b":{"a":1,"a":1}})", R"({"a":1} x)"}) {
        SCOPED_TRACE(bad);
        EXPECT_ANY_THROW(ParseStrict(bad));
    }
    EXPECT_NO_THROW(ParseStrict(R"({"a":{"a":1},"b":[{"a":1},{"a":2}]})"));
}

// A disk the test scripts call by call, standing in for the file. Each entry
// of `script` is how many bytes one call takes (-1 for all) or, when 0, the
// error it fails with in `error`; calls past the script take everything.
struct ScriptedDisk {
    struct Step {
        long take;
        int error;
    };
    std::mutex mutex;
    std::deque<Step> script;
    std::string written;
    int calls = 0;

    static Journal::WriteFunction Writer(const std::shared_ptr<ScriptedDisk>& disk) {
        return [disk](int, const char* data, std::size_t size) -> long {
            std::lock_guard lock(disk->mutex);
            ++disk->calls;
            Step step{-1, 0};
            if (!disk->script.empty()) {
                step = disk->script.front();
                disk->script.pop_front();
            }
            if (step.take == 0) {
                errno = step.error;
                return -1;
            }
            const std::size_t n = step.take < 0 ? size : std::min(size, std::size_t(step.take));
            disk->written.append(data, n);
            return static_cast<long>(n);
        };
    }
    std::string Written() {
        std::lock_guard lock(mutex);
        return written;
    }
};

TEST(Journal, AFailedWriteLosesItsLineAndTheNextLineStartsWhole) {
    auto disk = std::make_shared<ScriptedDisk>();
    // The start line goes; the next goes out in part, then the disk is full.
    disk->script = {{-1, 0}, {25, 0}, {0, ENOSPC}};
    std::string error;
    auto journal = Journal::Open(TempPath("busdesk-scripted.jsonl"), error,
                                 Journal::kDefaultCapacity, ScriptedDisk::Writer(disk));
    ASSERT_TRUE(journal) << error;
    ASSERT_TRUE(journal->Post(Event(Kind::Rx, ReaderData())));
    ASSERT_TRUE(Eventually([&] { return journal->Stats().lost == 1; }));
    Journal::Counts c = journal->Stats();
    EXPECT_EQ(c.lines, 1u);
    EXPECT_EQ(c.error, std::strerror(ENOSPC));

    ASSERT_TRUE(journal->Post(Event(Kind::Silent)));
    c = journal->Close();
    EXPECT_EQ(c.lines, 2u);
    EXPECT_EQ(c.lost, 1u);
    EXPECT_EQ(c.error, "");  // a good write clears it

    // The cut line is ended before the next, so only it is broken.
    const std::string text = disk->Written();
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_EQ(ParseStrict(lines[0]).at("ev"), "start");
    EXPECT_EQ(lines[1].size(), 25u);
    EXPECT_EQ(ParseStrict(lines[2]).at("ev"), "silent");
}

// A tick's events go out in one write; a disk that fills part way keeps the
// lines before the cut, loses the rest, and the next batch starts whole.
TEST(Journal, ABatchIsOneWriteAndACutKeepsTheLinesBeforeIt) {
    const JournalEvent first = Event(Kind::Tx, {0x31, 0x01, 0xF0, 0x55});
    const std::size_t firstLine = Journal::Format(first).size() + 1;
    struct Case {
        const char* name;
        std::deque<ScriptedDisk::Step> script;  // after the start line
        std::uint64_t lines, lost;
        std::string error;
    } const cases[] = {
        {"the disk takes it all", {}, 4, 0, ""},
        {"full after the first line",
         {{long(firstLine), 0}, {0, ENOSPC}},
         2,
         2,
         std::strerror(ENOSPC)},
        {"full inside the first line",
         {{long(firstLine) - 5, 0}, {0, ENOSPC}},
         1,
         3,
         std::strerror(ENOSPC)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto disk = std::make_shared<ScriptedDisk>();
        disk->script = c.script;
        disk->script.push_front({-1, 0});
        std::string error;
        auto journal = Journal::Open(TempPath("busdesk-batch.jsonl"), error,
                                     Journal::kDefaultCapacity, ScriptedDisk::Writer(disk));
        ASSERT_TRUE(journal) << error;
        std::vector<JournalEvent> tick = {first, Event(Kind::Rx, ReaderData()),
                                          Event(Kind::Silent)};
        journal->PostAll(tick);
        EXPECT_TRUE(tick.empty());
        ASSERT_TRUE(Eventually([&] { return Settled(*journal, 4); }));
        const Journal::Counts n = journal->Stats();
        EXPECT_EQ(n.lines, c.lines);
        EXPECT_EQ(n.lost, c.lost);
        EXPECT_EQ(n.error, c.error);
        int calls = 0;
        {
            std::lock_guard lock(disk->mutex);
            calls = disk->calls;
        }
        // One call for the start line, one for the batch, one more only
        // after a short write.
        EXPECT_EQ(calls, c.script.empty() ? 2 : 3);

        std::vector<JournalEvent> next = {Event(Kind::Close)};
        journal->PostAll(next);
        EXPECT_EQ(journal->Close().lines, c.lines + 1);
        const std::string text = disk->Written();
        const std::string last = text.substr(text.rfind('\n', text.size() - 2) + 1);
        EXPECT_EQ(ParseStrict(last).at("ev"), "close") << text;
    }
}

// Counts the flushes to the disk; the ones listed in `fail` (1-based) fail
// with EIO.
struct CountedSync {
    std::mutex mutex;
    int calls = 0;
    std::set<int> fail;

    static Journal::SyncFunction Syncer(const std::shared_ptr<CountedSync>& sync) {
        return [sync](int) -> int {
            std::lock_guard lock(sync->mutex);
            if (sync->fail.count(++sync->calls) > 0) {
                errno = EIO;
                return -1;
            }
            return 0;
        };
    }
    int Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
};

// Routine traffic waits for the disk; a line that records a change goes to it
// at once and takes the waiting lines with it. Lines count once flushed.
TEST(Journal, AChangeIsFlushedAtOnceRoutineTrafficWaits) {
    const std::pair<const char*, Kind> cases[] = {
        {"command", Kind::Command},          {"result", Kind::Result},
        {"port opened", Kind::Open},         {"port closed", Kind::Close},
        {"write failed", Kind::WriteFailed},
    };
    for (const auto& [name, kind] : cases) {
        SCOPED_TRACE(name);
        auto disk = std::make_shared<ScriptedDisk>();
        auto sync = std::make_shared<CountedSync>();
        std::string error;
        auto journal = Journal::Open(TempPath("busdesk-sync.jsonl"), error,
                                     Journal::kDefaultCapacity, ScriptedDisk::Writer(disk),
                                     "busdesk", std::chrono::hours(1), CountedSync::Syncer(sync));
        ASSERT_TRUE(journal) << error;
        ASSERT_TRUE(Eventually([&] { return journal->Stats().lines == 1; }));  // the start line
        EXPECT_EQ(sync->Calls(), 1);

        for (int tick = 0; tick < 3; ++tick) {
            std::vector<JournalEvent> events = {Event(Kind::Tx, {0x31, 0x01, 0xF0, 0x55}),
                                                Event(Kind::Rx, ReaderData()), Event(Kind::Silent)};
            journal->PostAll(events);
        }
        ASSERT_TRUE(Eventually([&] {
            std::lock_guard lock(disk->mutex);
            return disk->calls == 4;
        }));
        EXPECT_EQ(sync->Calls(), 1);
        EXPECT_EQ(journal->Stats().lines, 1u);

        std::vector<JournalEvent> change = {Event(kind, {0x31, 0x01})};
        journal->PostAll(change);
        ASSERT_TRUE(Eventually([&] { return journal->Stats().lines == 11; }));
        EXPECT_EQ(sync->Calls(), 2);
        const Journal::Counts c = journal->Close();
        EXPECT_EQ(c.lines, 11u);
        EXPECT_EQ(c.lost, 0u);
        EXPECT_EQ(sync->Calls(), 2);  // nothing left to flush
    }
}

// Lines nobody follows still reach the disk in time, without a close; a
// flush that fails loses exactly the lines it held and says why.
TEST(Journal, WaitingLinesAreFlushedInTimeAndAFailedFlushLosesThem) {
    const struct Case {
        const char* name;
        std::set<int> fail;
        std::uint64_t lines, lost;
        std::string error;
    } cases[] = {
        {"the disk takes them", {}, 4, 0, ""},
        {"the flush fails", {2}, 1, 3, std::strerror(EIO)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto sync = std::make_shared<CountedSync>();
        sync->fail = c.fail;
        std::string error;
        auto journal =
            Journal::Open(TempPath("busdesk-sync-later.jsonl"), error, Journal::kDefaultCapacity,
                          {}, "busdesk", std::chrono::milliseconds(20), CountedSync::Syncer(sync));
        ASSERT_TRUE(journal) << error;
        std::vector<JournalEvent> tick = {Event(Kind::Tx, {0x31, 0x01, 0xF0, 0x55}),
                                          Event(Kind::Rx, ReaderData()), Event(Kind::Silent)};
        journal->PostAll(tick);
        ASSERT_TRUE(Eventually([&] { return Settled(*journal, 4); }));
        const Journal::Counts n = journal->Stats();
        EXPECT_EQ(n.lines, c.lines);
        EXPECT_EQ(n.lost, c.lost);
        EXPECT_EQ(n.error, c.error);
        EXPECT_EQ(sync->Calls(), 2);
        EXPECT_EQ(journal->Close().lines, c.lines);
    }
}

TEST(Journal, CloseWritesOutWhatIsQueuedAndTakesNothingAfter) {
    const std::string path = TempPath("busdesk-close.jsonl");
    std::string error;
    auto journal = Journal::Open(path, error, 64);
    ASSERT_TRUE(journal) << error;
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(journal->Post(Event(Kind::Rx, ReaderData())));
    const Journal::Counts c = journal->Close();
    EXPECT_EQ(c.lines, 51u);
    EXPECT_EQ(c.lost, 0u);
    EXPECT_EQ(ParseLines(ReadFile(path)).size(), 51u);

    EXPECT_FALSE(journal->Post(Event(Kind::Close)));
    EXPECT_EQ(journal->Stats().lost, 1u);
    EXPECT_EQ(journal->Close().lines, 51u);  // twice is harmless
}

// A write that never returns, as on a disk or network share that hung: the
// program must still get out, and the writer left behind must stay harmless.
TEST(Journal, CloseGivesUpOnAWriterThatHangs) {
    struct Gate {
        std::mutex mutex;
        std::condition_variable cv;
        bool entered = false;
        bool open = false;
        int calls = 0;
    };
    auto gate = std::make_shared<Gate>();
    // Only the journal holds this write function, so the gate's owners say
    // whether the writer has let go of it.
    auto hang = [gate](int, const char*, std::size_t size) -> long {
        std::unique_lock lock(gate->mutex);
        ++gate->calls;
        gate->entered = true;
        gate->cv.notify_all();
        gate->cv.wait(lock, [&] { return gate->open; });
        return static_cast<long>(size);
    };
    const std::string path = TempPath("busdesk-hang.jsonl");
    std::string error;
    auto journal = Journal::Open(path, error, 16, Journal::WriteFunction(std::move(hang)));
    ASSERT_TRUE(journal) << error;
    {
        std::unique_lock lock(gate->mutex);
        gate->cv.wait(lock, [&] { return gate->entered; });  // the start line hangs
    }
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(journal->Post(Event(Kind::Silent)));

    const Journal::Counts c = journal->Close(std::chrono::milliseconds(50));
    EXPECT_EQ(c.lines, 0u);
    EXPECT_EQ(c.lost, 4u);  // the line being written and the three queued
    EXPECT_EQ(c.error, "запись не закончилась за 50 мс");
    EXPECT_FALSE(journal->Post(Event(Kind::Silent)));
    EXPECT_EQ(journal->Stats().lost, 5u);
    journal.reset();

    // The write returns after the journal is gone: the writer ends without
    // writing anything more, and lets go of what it shared.
    {
        std::lock_guard lock(gate->mutex);
        gate->open = true;
    }
    gate->cv.notify_all();
    ASSERT_TRUE(Eventually([&] { return gate.use_count() == 1; }));
    EXPECT_EQ(gate->calls, 1);
    EXPECT_EQ(ReadFile(path), "");
}

TEST(Journal, AppendsAndNeverTruncates) {
    const std::string path = TempPath("busdesk-append.jsonl");
    { std::ofstream(path, std::ios::binary) << "{\"earlier\":1}\n"; }
    for (int run = 0; run < 2; ++run) {
        std::string error;
        auto j = Journal::Open(path, error);
        ASSERT_TRUE(j) << error;
    }
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.rfind("{\"earlier\":1}\n", 0), 0u);
    EXPECT_EQ(ParseLines(text).size(), 3u);  // the old line and two start lines
}

TEST(Journal, AFileThatCannotBeOpenedIsAClearError) {
    const std::string dir = ::testing::TempDir();
    for (const std::string& path : {dir + "no-such-dir/j.jsonl", dir}) {
        SCOPED_TRACE(path);
        std::string error;
        EXPECT_FALSE(Journal::Open(path, error));
        EXPECT_EQ(error.rfind("не удаётся открыть журнал " + path + ": ", 0), 0u) << error;
    }
}

// The null device is a character device, not a file, and is taken: its
// lines count as written though there is no disk to sync.
TEST(Journal, TheNullDeviceTakesEveryLine) {
#ifdef _WIN32
    const std::string null = "NUL";
#else
    const std::string null = "/dev/null";
#endif
    std::string error;
    auto journal = Journal::Open(null, error);
    ASSERT_TRUE(journal) << error;
    ASSERT_TRUE(journal->Post(Event(Kind::Silent)));
    const Journal::Counts c = journal->Close();
    EXPECT_EQ(c.lines, 2u);
    EXPECT_EQ(c.lost, 0u);
    EXPECT_EQ(c.error, "");
}

#ifndef _WIN32
TEST(Journal, AFullDiskLosesLinesAndSaysSo) {
    std::string error;
    auto journal = Journal::Open("/dev/full", error);
    ASSERT_TRUE(journal) << error;
    Line line(journal.get());
    line.Tick();
    ASSERT_TRUE(Eventually([&] { return journal->Stats().lost >= 3; }));
    const LineCounters c = line.monitor->Counters();
    EXPECT_EQ(c.journalLines, 0u);
    EXPECT_NE(c.journalError.find("space"), std::string::npos) << c.journalError;
    EXPECT_NE(StatusLine(c).find("журнал: потеряно"), std::string::npos);
    EXPECT_NE(StatusDetail(c).find("ошибка: " + c.journalError), std::string::npos);
}

// A named pipe with no reader would hang the program before its window or
// command starts; with a reader it could stall the exit. Neither, nor
// anything else that is not a file or a character device, is taken.
TEST(Journal, OnlyAFileOrACharacterDeviceIsTaken) {
    const std::string lonely = TempPath("busdesk-lonely.fifo");
    const std::string read = TempPath("busdesk-read.fifo");
    ASSERT_EQ(::mkfifo(lonely.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(read.c_str(), 0600), 0);
    const int reader = ::open(read.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::string sock = TempPath("busdesk-j.sock");
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sock.c_str(), sock.size() + 1);
    ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    std::string dir = ::testing::TempDir();
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();

    const struct {
        std::string path;
        const char* what;
    } refused[] = {
        {lonely, "именованный канал"},
        {read, "именованный канал"},
        {sock, "сокет"},
        {dir, "каталог"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.path);
        std::string error;
        EXPECT_FALSE(Journal::Open(r.path, error));
        EXPECT_EQ(error, "не удаётся открыть журнал " + r.path + ": это " + r.what +
                             ", а журнал пишется только в обычный файл");
    }
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0);  // nothing reached the pipe's reader

    ::close(reader);
    ::close(s);
    for (const std::string& p : {lonely, read, sock}) std::remove(p.c_str());
}

// A terminal held by flow control takes no output at all. Posting never
// waits for it, and closing gives up on it after the bounded wait, with
// every event either written or counted as lost.
TEST(Journal, AStoppedTerminalCostsLinesNeverTheExit) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    const int held = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::tcflow(held, TCOOFF), 0);

    std::string error;
    auto journal = Journal::Open(slave, error, 4);
    ASSERT_TRUE(journal) << error;
    std::uint64_t posted = 0, refused = 0;
    for (int i = 0; i < 1000 && refused == 0; ++i)
        (journal->Post(Event(Kind::Rx, ReaderData())) ? posted : refused) += 1;
    EXPECT_EQ(refused, 1u);
    const Journal::Counts c = journal->Close(std::chrono::milliseconds(100));
    EXPECT_EQ(c.lines, 0u);
    EXPECT_EQ(c.lost, 1 + posted + refused);  // the start line too
    EXPECT_FALSE(c.error.empty());
    journal.reset();
    ::close(held);
    ::close(master);
}

TEST(Journal, AKilledProcessLeavesEveryEarlierLineWhole) {
    const std::string path = TempPath("busdesk-killed.jsonl");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string error;
        auto j = Journal::Open(path, error);
        if (!j) ::_exit(1);
        JournalEvent e;
        e.kind = JournalEvent::Kind::Rx;
        e.bytes = ReaderData();
        for (;;) {
            e.time = std::chrono::system_clock::now();
            j->Post(e);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    const bool wrote = Eventually([&] { return ParseLines(ReadFile(path)).size() >= 50; });
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(wrote);
    const std::string text = ReadFile(path);
    const std::vector<Json> lines = ParseLines(text);  // fails on any broken line
    ASSERT_GE(lines.size(), 50u);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].at("ev").get<std::string>(), "rx");
        EXPECT_EQ(lines[i].at("meaning").get<std::string>(), "данные считывателя");
    }
    // At most the line being written when the process died is cut short.
    const std::string tail = text.substr(text.rfind('\n') + 1);
    EXPECT_LT(tail.size(), Journal::Format(JournalEvent{}).size() + 200);
}
#endif

}  // namespace
}  // namespace busdesk::engine
