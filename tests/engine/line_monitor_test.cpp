// The line counters against a scripted in-memory port: each kind of reception
// lands in its own counter, the window of response times, the status texts,
// and that counting changes nothing the window does.
#include "engine/line_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/memory_port.h"
#include "support/line_fixture.h"

namespace busdesk::engine {
namespace {

using testing::Framed;
using testing::Line;
using testing::ReaderData;
using testing::ScriptedDialogs;

using Field = std::uint64_t LineCounters::*;

const Field kReceptionFields[] = {
    &LineCounters::replies,       &LineCounters::badCrc, &LineCounters::unknownCodes,
    &LineCounters::surveyAnswers, &LineCounters::other,  &LineCounters::silent,
    &LineCounters::writeFailures,
};

TEST(LineCounters, EachFaultIsCountedOnceInItsOwnCounter) {
    Bytes badCrc = ReaderData();
    badCrc.back() ^= 0xFF;
    struct Case {
        const char* name;
        Bytes reception;  // empty: nothing arrives
        bool failWrite;
        Field counted;
    } const cases[] = {
        {"a good reply", ReaderData(), false, &LineCounters::replies},
        {"a bad CRC", badCrc, false, &LineCounters::badCrc},
        {"an unknown code", Framed(1, 0x99, {0x00}), false, &LineCounters::unknownCodes},
        {"stray bytes", {0x01, 0x02, 0x03}, false, &LineCounters::other},
        {"a silent tick", {}, false, &LineCounters::silent},
        // The reception of a tick whose write fails is dropped undecoded.
        {"a write failure", ReaderData(), true, &LineCounters::writeFailures},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Line line;
        if (!c.reception.empty()) line.port->QueueReception(c.reception);
        if (c.failWrite) line.port->FailWrites(1);
        const LineCounters n = line.Tick();
        for (Field f : kReceptionFields) EXPECT_EQ(n.*f, f == c.counted ? 1u : 0u);
        EXPECT_EQ(n.bytesIn, c.reception.size());
        // Serial-number request, then the data poll unless its write failed.
        EXPECT_EQ(n.requests, c.failWrite ? 1u : 2u);
        EXPECT_EQ(n.bytesOut, c.failWrite ? 4u + 3u : 8u);  // a failed write came up 1 short
    }
}

TEST(LineCounters, TheSurveyAnswerAndTheFirstReadAreNoSilence) {
    Line line;
    EXPECT_EQ(line.monitor->Counters().silent, 0u);  // nothing was asked before the first read
    ASSERT_EQ(line.form->UserClick("Opros"), frmSerial::Raised::Handled);
    line.port->QueueReception(Framed(1, 0xFC, {0x01, 0x00, 0x00, 0x00, 0x86, 0x00}));
    line.Tick();  // the survey goes out
    line.port->QueueReception({0x01, 0x05, 0x07});
    const LineCounters n = line.Tick();
    EXPECT_EQ(n.surveyAnswers, 1u);
    EXPECT_EQ(n.replies, 1u);
    EXPECT_EQ(n.other, 0u);
    EXPECT_EQ(n.silent, 0u);
    EXPECT_EQ(StatusLine(n).rfind("Запросов 3 · ответов 2 · CRC 0 · без ответа 0", 0), 0u)
        << StatusLine(n);
}

TEST(LineCounters, OpeningThePortStartsFromZero) {
    Line line;
    line.Tick();
    ASSERT_GT(line.monitor->Counters().silent, 0u);
    line.form->UserClick("BTNCloseCom");
    EXPECT_EQ(line.monitor->Counters().silent, 1u);  // closing keeps the session's figures
    line.form->UserClick("BTNOpenCom");
    const LineCounters n = line.monitor->Counters();
    EXPECT_TRUE(n.portOpened);
    EXPECT_EQ(n.requests + n.bytesOut + n.silent, 0u);
    // The in-memory port cannot tell when bytes arrive: nothing is timed.
    EXPECT_TRUE(n.untimed);
}

TEST(LineCounters, CountingChangesNothingTheWindowDoes) {
    // The same session on a bare port and on a counted, journalled one.
    const auto run = [](SerialPort& port, MemoryPort& memory, ScriptedDialogs& dialogs,
                        ReceptionObserver* observer) {
        frmSerial form(port, dialogs);
        form.receptionObserver = observer;
        form.Raise("frmSerial", "Load");
        form.UserClick("BTNOpenCom");
        form.UserClick("Opros");
        memory.QueueReception({});
        form.Tick();
        memory.QueueReception({0x01, 0x05});
        form.Tick();
        memory.QueueReception(Framed(1, 0xFC, {0x01, 0x00, 0x00, 0x00, 0x86, 0x00}));
        form.Tick();
        memory.QueueReception(Framed(1, 0x99));
        form.Tick();
        memory.FailWrites(1);
        form.Tick();
        form.Tick();
        return form.Snapshot();
    };
    MemoryPort bare;
    ScriptedDialogs d1;
    const std::vector<Control> plain = run(bare, bare, d1, nullptr);

    auto inner = std::make_unique<MemoryPort>();
    MemoryPort& counted = *inner;
    std::string error;
    const std::string path = ::testing::TempDir() + "busdesk-same.jsonl";
    std::remove(path.c_str());
    auto journal = Journal::Open(path, error);
    ASSERT_TRUE(journal) << error;
    LineMonitor monitor(std::move(inner), journal.get());
    ScriptedDialogs d2;
    const std::vector<Control> watched = run(monitor, counted, d2, &monitor);

    EXPECT_EQ(watched, plain);
    EXPECT_EQ(counted.writes, bare.writes);
    EXPECT_EQ(counted.reads, bare.reads);
    EXPECT_EQ(counted.flushes, bare.flushes);
    EXPECT_EQ(d2.Texts(), d1.Texts());
}

TEST(ResponseTimes, TheLastHundredOfOneDevice) {
    using std::chrono::microseconds;
    struct Case {
        const char* name;
        std::vector<std::int64_t> times;  // device 1 unless negative: -t is device 2
        std::uint32_t timed;
        std::int64_t last, median, min, max;
    } const cases[] = {
        {"one", {12'000}, 1, 12'000, 12'000, 12'000, 12'000},
        {"odd count", {30, 10, 20}, 3, 20, 20, 10, 30},
        {"even count takes the middle two", {10, 40, 20, 30}, 4, 30, 25, 10, 40},
        {"another device starts afresh", {500, 900, -7, -9}, 2, 9, 8, 7, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineMonitor m(std::make_unique<MemoryPort>(), nullptr);
        for (std::int64_t t : c.times)
            m.RecordResponse(t < 0 ? 2 : 1, microseconds(t < 0 ? -t : t));
        const LineCounters n = m.Counters();
        EXPECT_EQ(n.timed, c.timed);
        EXPECT_EQ(n.lastUs, c.last);
        EXPECT_EQ(n.medianUs, c.median);
        EXPECT_EQ(n.minUs, c.min);
        EXPECT_EQ(n.maxUs, c.max);
    }
    // Only the last hundred count: the slow first one falls out.
    LineMonitor m(std::make_unique<MemoryPort>(), nullptr);
    m.RecordResponse(1, microseconds(900'000));
    for (int i = 1; i <= 100; ++i) m.RecordResponse(1, microseconds(i * 100));
    const LineCounters n = m.Counters();
    EXPECT_EQ(n.timed, 100u);
    EXPECT_EQ(n.maxUs, 10'000);
    EXPECT_EQ(n.minUs, 100);
    EXPECT_EQ(n.device, 1);
}

TEST(StatusText, CompactLineAndFullTable) {
    LineCounters c;
    EXPECT_EQ(StatusLine(c), "");  // no port opened yet: nothing to say
    c.portOpened = true;
    c.requests = 1234;
    c.replies = 1229;
    c.surveyAnswers = 1;
    c.badCrc = 2;
    c.silent = 2;
    c.timed = 40;
    c.lastUs = 12'400;
    c.minUs = 10'600;
    c.maxUs = 15'000;
    c.medianUs = 3'450;
    EXPECT_EQ(StatusLine(c),
              "Запросов 1234 · ответов 1230 · CRC 2 · без ответа 2 · отклик 12 мс (11–15)");
    c.writeFailures = 3;
    c.unknownCodes = 1;
    c.lastUs = 3'460;
    c.journal = true;
    c.journalLost = 4;
    EXPECT_EQ(StatusLine(c),
              "Запросов 1234 · ответов 1230 · CRC 2 · без ответа 2 · неизв. код 1 · "
              "ошибок записи 3 · отклик 3,5 мс (11–15) · журнал: потеряно 4");
    const std::string detail = StatusDetail(c);
    for (const char* row : {"Ошибок CRC: 2\n", "Ошибок записи: 3\n", "Без ответа: 2\n",
                            "медиана 3,5 мс", "Журнал: записано строк 0, потеряно 4"})
        EXPECT_NE(detail.find(row), std::string::npos) << row << "\n" << detail;
}

// A port whose readiness wait the test watches: it either blocks until the
// monitor wakes it (never on its own) or, as a hung-up line does, returns at
// once with nothing to read.
class WaitingPort : public MemoryPort {
  public:
    explicit WaitingPort(bool hungUp) : hungUp_(hungUp) {}

    std::optional<bool> WaitReadable(std::chrono::milliseconds) override { return false; }
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout,
                                     const WakeSignal& wake) override {
        if (timeout.count() == 0) return false;  // asked whether it can tell
        // Set before taking the lock: a raise holds the signal's lock while
        // the hook takes ours.
        if (!hungUp_) {
            wake.SetHook([this] {
                std::lock_guard hold(mutex_);
                changed_.notify_all();
            });
        }
        std::unique_lock lock(mutex_);
        ++calls_;
        longest_ = std::max(longest_, timeout);
        if (hungUp_) return false;
        waiting_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return wake.Raised(); });
        waiting_ = false;
        changed_.notify_all();
        lock.unlock();
        wake.SetHook({});
        return false;
    }

    // Until the watcher is inside (or, `inside` false, out of) its
    // `call`th wait.
    bool AwaitWaiting(bool inside, int call) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return waiting_ == inside && calls_ == call; });
    }
    int Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::chrono::milliseconds Longest() {
        std::lock_guard lock(mutex_);
        return longest_;
    }

  private:
    const bool hungUp_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool waiting_ = false;
    int calls_ = 0;
    std::chrono::milliseconds longest_{0};
};

TEST(AnswerWatcher, WaitsOncePerWriteUntilTheReadOrTheCloseWakesIt) {
    auto inner = std::make_unique<WaitingPort>(false);
    WaitingPort& port = *inner;
    LineMonitor monitor(std::move(inner), nullptr);
    ASSERT_TRUE(monitor.OpenPort("COM1:", "19200,n,8,1"));
    const int probes = port.Calls();

    monitor.WritePort({0x31, 0x01, 0xF0, 0x55});
    ASSERT_TRUE(port.AwaitWaiting(true, probes + 1));
    // One wait for the whole answer time, not a slice of it.
    EXPECT_GE(port.Longest(), std::chrono::milliseconds(1000));
    monitor.ReadPort();  // the port never wakes it by itself: the read must
    ASSERT_TRUE(port.AwaitWaiting(false, probes + 1));

    monitor.WritePort({0x31, 0x01, 0xF0, 0x55});
    ASSERT_TRUE(port.AwaitWaiting(true, probes + 2));
    monitor.WritePort({0x31, 0x01, 0xF0, 0x55});  // re-armed: starts over for this write
    ASSERT_TRUE(port.AwaitWaiting(true, probes + 3));
    EXPECT_EQ(monitor.ClosePort(), 1);  // returns only once the wait has ended
    EXPECT_FALSE(monitor.Counters().untimed);
    EXPECT_EQ(port.Calls() - probes, 3);  // one wait a write
}

TEST(AnswerWatcher, AHungUpLineIsAskedOncePerWrite) {
    auto inner = std::make_unique<WaitingPort>(true);
    WaitingPort& port = *inner;
    LineMonitor monitor(std::move(inner), nullptr);
    ASSERT_TRUE(monitor.OpenPort("COM1:", "19200,n,8,1"));
    const int probes = port.Calls();
    for (int tick = 0; tick < 3; ++tick) {
        monitor.WritePort({0x31, 0x01, 0xF0, 0x55});
        // Time for a spinning watcher to go round many times.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        monitor.ReadPort();
    }
    monitor.ClosePort();
    EXPECT_EQ(port.Calls() - probes, 3);
}

}  // namespace
}  // namespace busdesk::engine

namespace busdesk::engine {
namespace {

// A line that opens with something to say, as a server that never
// acknowledged its settings does.
class NoticePort : public MemoryPort {
  public:
    std::string LineNotice() const override { return "сервер не подтвердил настройки линии"; }
};

TEST(OpenEvent, CarriesTheLineNoticeOnceWhenItOpens) {
    LineMonitor monitor(std::make_unique<NoticePort>(), nullptr);
    monitor.Listen(true);
    ASSERT_TRUE(monitor.OpenPort("COM1:", "19200,n,8,1"));
    monitor.WritePort({0x31, 0x01, 0xF0, 0x55});
    monitor.ReadPort();
    int opens = 0;
    int withNotice = 0;
    for (const BusEvent& e : monitor.TakeEvents()) {
        if (e.kind != BusEvent::Kind::Open) continue;
        ++opens;
        EXPECT_TRUE(e.ok);
        if (e.reason == "сервер не подтвердил настройки линии") ++withNotice;
    }
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(withNotice, 1);
}

}  // namespace
}  // namespace busdesk::engine
