// The session journal: what a survey, an address change and a tag write leave
// in it, that every line parses, and how it behaves when the file or the disk
// fails or the process is killed.
#include "engine/journal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/json_lite.h"
#include "support/line_fixture.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace busdesk::engine {
namespace {

using testing::Framed;
using testing::Json;
using testing::JsonReader;
using testing::Line;
using testing::ReaderData;

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

// Every complete line, parsed; a test fails on a line that does not parse.
std::vector<Json> ParseLines(const std::string& text) {
    std::vector<Json> out;
    std::size_t at = 0;
    for (std::size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
        const std::string line = text.substr(at, nl - at);
        try {
            out.push_back(JsonReader::Parse(line));
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

const Json* FindCommand(const std::vector<Json>& lines, const std::string& what) {
    for (const Json& j : lines) {
        if (j["ev"].string == "command" && j["what"].string == what) return &j;
    }
    return nullptr;
}

const Json* ResultOf(const std::vector<Json>& lines, const Json& command) {
    for (const Json& j : lines) {
        if (j["ev"].string == "result" && j["id"].number == command["id"].number) return &j;
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
    EXPECT_EQ(lines.front()["ev"].string, "start");
    for (const Json& j : lines) {
        // 2026-12-08T16:18:53.123+03:00
        const std::string& t = j["t"].string;
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
    EXPECT_TRUE((*found)["confirmed"].boolean);
    EXPECT_EQ((*found)["hex"].string, "01 05 07");

    const Json* address = FindCommand(lines, "address");
    ASSERT_TRUE(address);
    EXPECT_EQ((*address)["addr"].number, 1);
    EXPECT_EQ((*address)["values"]["new_address"].number, 5);
    EXPECT_EQ((*address)["text"].string, "Смена сетевого номера 1 на 5");
    const Json* moved = ResultOf(lines, *address);
    ASSERT_TRUE(moved);
    EXPECT_TRUE((*moved)["confirmed"].boolean);

    const Json* tag = FindCommand(lines, "tag_params");
    ASSERT_TRUE(tag);
    const Json& v = (*tag)["values"];
    EXPECT_EQ(v["serial"].number, 100);
    EXPECT_EQ(v["id"].string, "0A0B0C0D");
    EXPECT_EQ(v["interval"].number, 60);
    EXPECT_EQ(v["mode"].number, 1);
    EXPECT_EQ(v["power"].number, 10);
    EXPECT_EQ(v["sleep"].number, 5);
    const Json* unconfirmed = ResultOf(lines, *tag);
    ASSERT_TRUE(unconfirmed);
    EXPECT_FALSE((*unconfirmed)["confirmed"].boolean);
    EXPECT_EQ((*unconfirmed)["reason"].string, "нет ответа");

    // One tx line per request frame, one rx line per reception, each with its bytes.
    std::uint64_t tx = 0, rx = 0, survey_rx = 0;
    for (const Json& j : lines) {
        const std::string& ev = j["ev"].string;
        if (ev == "tx") ++tx;
        if (ev == "rx") ++rx;
        if (ev == "rx" && j.Has("addresses")) ++survey_rx;
        if (ev == "tx" || ev == "rx") {
            EXPECT_FALSE(j["hex"].string.empty());
        }
    }
    EXPECT_EQ(tx, counted.requests);
    EXPECT_EQ(rx, 4u);
    EXPECT_EQ(survey_rx, 1u);
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

TEST(Journal, AStalledDiskDropsLinesInsteadOfWaiting) {
    // A pipe nobody reads stands for a disk that stopped taking writes.
    const std::string fifo = TempPath("busdesk-stall.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string error;
    auto journal = Journal::Open(fifo, error, 4);
    ASSERT_TRUE(journal) << error;
    JournalEvent e;
    e.kind = JournalEvent::Kind::Tx;
    e.bytes.assign(200, 0x31);
    int refused = 0;
    for (int i = 0; i < 100'000 && refused == 0; ++i) refused += journal->Post(e) ? 0 : 1;
    EXPECT_EQ(refused, 1);
    EXPECT_GE(journal->Stats().lost, 1u);
    // Let the writer finish so the journal can close.
    ::fcntl(reader, F_SETFL, 0);
    std::thread drain([reader] {
        char buf[4096];
        while (::read(reader, buf, sizeof buf) > 0) {
        }
    });
    journal.reset();
    drain.join();
    ::close(reader);
    std::remove(fifo.c_str());
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
        EXPECT_EQ(lines[i]["ev"].string, "rx");
        EXPECT_EQ(lines[i]["meaning"].string, "данные считывателя");
    }
    // At most the line being written when the process died is cut short.
    const std::string tail = text.substr(text.rfind('\n') + 1);
    EXPECT_LT(tail.size(), Journal::Format(JournalEvent{}).size() + 200);
}
#endif

}  // namespace
}  // namespace busdesk::engine
