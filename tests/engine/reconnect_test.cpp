// A line that goes away and comes back: the engine with --reconnect, a port
// whose line the test pulls and restores, and a front end that answers every
// box at once, as busdesk-cli does.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/line_counters.h"
#include "engine/port_setup.h"
#include "engine/retry_port.h"
#include "support/scripted_dialogs.h"

namespace busdesk::engine {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSettings = "19200,n,8,1";

// The far end of the line, shared by the test and the port.
struct Line {
    std::mutex mutex;
    bool up = true;
    int opens = 0;  // calls to OpenPort, failed ones included
    int opened = 0;
    int closes = 0;
    bool open = false;
    bool openedWhileOpen = false;  // a second open of a line already open
    std::vector<std::string> names;
    std::string target;  // what NetworkTarget says
    std::string notice;  // what LineNotice says once open
};

// Fails to open while the line is down, with the box and the reason a real
// port gives; writes nothing while it is down.
class FlakyPort : public SerialPort {
  public:
    FlakyPort(std::shared_ptr<Line> line, Dialogs& dialogs)
        : line_(std::move(line)), dialogs_(dialogs) {}
    bool OpenPort(const std::string& name, const std::string&) override {
        {
            std::lock_guard lock(line_->mutex);
            ++line_->opens;
            line_->names.push_back(name);
            if (line_->up) {
                if (line_->open) line_->openedWhileOpen = true;
                line_->open = true;
                ++line_->opened;
                return true;
            }
        }
        dialogs_.MsgBox("Com Port " + name + " недоступен. Установите нужный порт.", MsgButtons::Ok,
                        MsgIcon::Warning, "");
        return false;
    }
    int ClosePort() override {
        std::lock_guard lock(line_->mutex);
        ++line_->closes;
        line_->open = false;
        return 1;
    }
    void FlushPort() override {}
    Bytes ReadPort() override { return {}; }
    std::int16_t WritePort(const Bytes& data) override {
        std::lock_guard lock(line_->mutex);
        return line_->up ? static_cast<std::int16_t>(data.size()) : std::int16_t{0};
    }
    std::string OpenError() const override {
        std::lock_guard lock(line_->mutex);
        return line_->up ? std::string() : "нет такого устройства";
    }
    std::string NetworkTarget() const override {
        std::lock_guard lock(line_->mutex);
        return line_->target;
    }
    std::string LineNotice() const override {
        std::lock_guard lock(line_->mutex);
        return line_->open ? line_->notice : std::string();
    }

  private:
    std::shared_ptr<Line> line_;
    Dialogs& dialogs_;
};

class AnsweringFrontEnd : public FrontEnd {
  public:
    Engine* engine = nullptr;

    void Publish(Snapshot s) override {
        std::lock_guard lock(mutex_);
        last_ = std::move(s);
        changed_.notify_all();
    }
    void ShowBox(std::uint64_t id, const BoxRequest& r) override {
        {
            std::lock_guard lock(mutex_);
            boxes_.push_back(r.text);
        }
        engine->Answer(id, ClosedResult(r));
    }
    // Waits until `pred` holds over the latest snapshot; false after 10 s.
    bool WaitFor(const std::function<bool(const Snapshot&)>& pred) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return last_.controls && pred(last_); });
    }
    Snapshot Last() {
        std::lock_guard lock(mutex_);
        return last_;
    }
    void Forget() {
        std::lock_guard lock(mutex_);
        last_ = {};
        boxes_.clear();
    }
    std::vector<std::string> Boxes() {
        std::lock_guard lock(mutex_);
        return boxes_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Snapshot last_;
    std::vector<std::string> boxes_;
};

const Control* Find(const Snapshot& s, const char* name) {
    for (const Control& c : *s.controls)
        if (c.name == name) return &c;
    return nullptr;
}

bool IsOpen(const Snapshot& s) {
    return Find(s, "TMRComm")->enabled;
}

class ReconnectTest : public ::testing::Test {
  public:
    static constexpr auto kTick = 20ms;
    static constexpr auto kRetry = 20ms;

    void Start(bool reconnect) {
        Engine::Options o;
        o.tick = kTick;
        o.reconnect = reconnect;
        o.retry = kRetry;
        engine = std::make_unique<Engine>(
            [l = line](Dialogs& d) { return std::make_unique<FlakyPort>(l, d); }, front, o);
        front.engine = engine.get();
        engine->Start();
    }
    void LineUp(bool up) {
        std::lock_guard lock(line->mutex);
        line->up = up;
    }
    int Opens() {
        std::lock_guard lock(line->mutex);
        return line->opens;
    }
    void Open() {
        engine->PostClick("BTNOpenCom");
        ASSERT_TRUE(front.WaitFor(IsOpen));
    }
    // The line goes down under an open port: four failed writes close it.
    void PullTheLine() {
        LineUp(false);
        ASSERT_TRUE(front.WaitFor([](const Snapshot& s) { return !IsOpen(s); }));
    }
    std::shared_ptr<Line> line = std::make_shared<Line>();
    AnsweringFrontEnd front;
    std::unique_ptr<Engine> engine;
};

TEST_F(ReconnectTest, AfterTheWriteFailuresTheLineIsTriedQuietlyAndOpenedAsAPressWould) {
    Start(true);
    Open();
    PullTheLine();
    const std::vector<std::string> failures(4, "Ошибка записи в порт");
    ASSERT_EQ(front.Boxes(), failures);
    ASSERT_TRUE(front.WaitFor([](const Snapshot& s) { return s.waitingFor == "COM1:"; }));

    // Several tries while the line is down, none of them with a box.
    const int opensAtClose = Opens();
    ASSERT_TRUE(front.WaitFor([&](const Snapshot&) { return Opens() >= opensAtClose + 3; }));
    EXPECT_EQ(front.Boxes(), failures);
    const Snapshot waiting = front.Last();
    EXPECT_FALSE(IsOpen(waiting));
    EXPECT_EQ(waiting.status, "Жду линию COM1: — новая попытка через 1 с");
    EXPECT_NE(waiting.statusDetail.find("Последняя попытка: нет такого устройства"),
              std::string::npos)
        << waiting.statusDetail;

    LineUp(true);
    ASSERT_TRUE(front.WaitFor(IsOpen));
    const Snapshot back = front.Last();
    EXPECT_EQ(back.waitingFor, "");
    // The window's own open: the button greys, the closing button wakes up,
    // the figures start afresh.
    EXPECT_FALSE(Find(back, "BTNOpenCom")->enabled);
    EXPECT_TRUE(Find(back, "BTNCloseCom")->enabled);
    EXPECT_TRUE(back.line.portOpened);
    EXPECT_EQ(back.line.writeFailures, 0u);
    EXPECT_EQ(front.Boxes(), failures);
    std::lock_guard lock(line->mutex);
    // The try that found the line is the open the window took over: one
    // open, never a second open of the same line.
    EXPECT_EQ(line->opened, 2);
    EXPECT_FALSE(line->openedWhileOpen);
    EXPECT_TRUE(line->open);
    for (const std::string& name : line->names) EXPECT_EQ(name, "COM1:");
}

TEST_F(ReconnectTest, APressThatCannotOpenShowsItsBoxesOnceThenTriesQuietly) {
    Start(true);
    LineUp(false);
    engine->PostClick("BTNOpenCom");
    ASSERT_TRUE(front.WaitFor([](const Snapshot& s) { return s.waitingFor == "COM1:"; }));
    const std::vector<std::string> press = {"Com Port COM1: недоступен. Установите нужный порт.",
                                            "COM1: Not available!"};
    EXPECT_EQ(front.Boxes(), press);
    ASSERT_TRUE(front.WaitFor([&](const Snapshot&) { return Opens() >= 4; }));
    EXPECT_EQ(front.Boxes(), press);
    // Why the press failed is still in the tool tip, under what is awaited.
    const Snapshot waiting = front.Last();
    EXPECT_EQ(waiting.statusDetail.rfind("Жду линию COM1:", 0), 0u) << waiting.statusDetail;
    EXPECT_NE(waiting.statusDetail.find("Порт не открыт: нет такого устройства"),
              std::string::npos);

    LineUp(true);
    ASSERT_TRUE(front.WaitFor(IsOpen));
    EXPECT_EQ(front.Boxes(), press);
}

TEST_F(ReconnectTest, NothingIsTriedWithoutTheOptionOrAfterTheUserClosesOrPicksAnother) {
    struct Case {
        const char* what;
        bool reconnect;
        std::function<void(ReconnectTest&)> run;
    };
    const Case cases[] = {
        {"without the option, after the write failures", false,
         [](ReconnectTest& t) {
             t.Open();
             t.PullTheLine();
         }},
        {"without the option, after a failed press", false,
         [](ReconnectTest& t) {
             t.LineUp(false);
             t.engine->PostClick("BTNOpenCom");
             ASSERT_TRUE(t.front.WaitFor([&](const Snapshot&) { return t.Opens() == 1; }));
         }},
        {"the user's own close", true,
         [](ReconnectTest& t) {
             t.Open();
             t.engine->PostClick("BTNCloseCom");
             ASSERT_TRUE(t.front.WaitFor([](const Snapshot& s) { return !IsOpen(s); }));
         }},
        {"another entry picked while waiting", true,
         [](ReconnectTest& t) {
             t.Open();
             t.PullTheLine();
             ASSERT_TRUE(t.front.WaitFor([](const Snapshot& s) { return !s.waitingFor.empty(); }));
             t.engine->PostPick("CmbPort", 1);
             ASSERT_TRUE(t.front.WaitFor([](const Snapshot& s) { return s.waitingFor.empty(); }));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        line = std::make_shared<Line>();
        front.Forget();
        Start(c.reconnect);
        c.run(*this);
        if (HasFatalFailure()) return;
        // Once the engine has run what came before, the line comes back;
        // nothing may open it but the user.
        auto synced = std::make_shared<std::promise<void>>();
        engine->PostTask([synced](frmSerial&) { synced->set_value(); });
        ASSERT_EQ(synced->get_future().wait_for(10s), std::future_status::ready);
        const int opens = Opens();
        LineUp(true);
        std::this_thread::sleep_for(kRetry * 10);
        EXPECT_EQ(Opens(), opens);
        EXPECT_FALSE(IsOpen(front.Last()));
        EXPECT_EQ(front.Last().waitingFor, "");
        engine->Stop();
    }
}

TEST_F(ReconnectTest, ANetworkLineAndItsNoticeAreInTheToolTipNotInTheLine) {
    {
        std::lock_guard lock(line->mutex);
        line->target = "rfc2217://10.0.0.5:4001";
        line->notice = "сервер не подтвердил настройки линии";
    }
    Start(false);
    Open();
    const Snapshot s = front.Last();
    EXPECT_NE(s.statusDetail.find("\nСетевая линия rfc2217://10.0.0.5:4001: сервер добавляет "
                                  "свою задержку к каждому ответу"),
              std::string::npos)
        << s.statusDetail;
    EXPECT_NE(s.statusDetail.find("\nЛиния: сервер не подтвердил настройки линии"),
              std::string::npos)
        << s.statusDetail;
    EXPECT_EQ(s.status, StatusLine(s.line));
}

// The port between the line counters and the factory's port, on its own.
TEST(RetryPort, ATryIsQuietAndWhatOpensIsHeldForTheWindowsOwnOpen) {
    auto line = std::make_shared<Line>();
    testing::ScriptedDialogs shown;
    QuietDialogs quiet(shown);
    RetryPort port(std::make_unique<FlakyPort>(line, quiet), quiet);

    line->up = false;
    EXPECT_FALSE(port.Try("COM1:", kSettings));
    EXPECT_TRUE(shown.messages.empty());
    EXPECT_EQ(port.LastTry(), "нет такого устройства");
    EXPECT_FALSE(port.TakeFailedOpen()) << "a try is not the user's failed open";

    // Failed opens of the window itself show their box and are told once.
    EXPECT_FALSE(port.OpenPort("COM2:", kSettings));
    EXPECT_EQ(shown.Texts(),
              std::vector<std::string>{"Com Port COM2: недоступен. Установите нужный порт."});
    EXPECT_EQ(port.TakeFailedOpen().value_or(""), "COM2:");
    EXPECT_FALSE(port.TakeFailedOpen());

    line->up = true;
    ASSERT_TRUE(port.Try("COM1:", kSettings));
    EXPECT_TRUE(port.Holding());
    EXPECT_EQ(port.LastTry(), "");
    ASSERT_TRUE(port.OpenPort("COM1:", kSettings));
    EXPECT_EQ(line->opened, 1) << "the held line was opened again";
    EXPECT_FALSE(port.Holding());
    EXPECT_EQ(port.OpenedName(), "COM1:");

    // Held, then another entry or other settings asked for: the held line is
    // closed first, and the other one opened.
    port.ClosePort();
    for (const auto& [name, settings] : {std::pair{"COM2:", kSettings}, {"COM1:", "9600,n,8,1"}}) {
        SCOPED_TRACE(std::string(name) + " " + settings);
        line->openedWhileOpen = false;
        ASSERT_TRUE(port.Try("COM1:", kSettings));
        const int closes = line->closes;
        ASSERT_TRUE(port.OpenPort(name, settings));
        EXPECT_EQ(line->closes, closes + 1);
        EXPECT_FALSE(line->openedWhileOpen);
        EXPECT_EQ(line->names.back(), name);
        port.ClosePort();
    }

    // A held line nobody took over is closed by Release, once.
    ASSERT_TRUE(port.Try("COM1:", kSettings));
    const int closes = line->closes;
    port.Release();
    port.Release();
    EXPECT_EQ(line->closes, closes + 1);
    EXPECT_FALSE(line->open);
}

// The system port's notice on standard error is said for a press, not for
// each quiet try; the port list's tool tip learns it either way.
TEST(RetryPort, ATryLeavesTheNoticeOnStandardErrorUnsaid) {
    PortMap map;
    ASSERT_TRUE(map.Map("COM1:", "/nonexistent/busdesk-line"));
    PortSetup setup(map, false, "busdesk-test");
    testing::ScriptedDialogs shown;
    QuietDialogs quiet(shown);
    RetryPort port(setup.Factory()(quiet), quiet);
    std::ostringstream captured;
    std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
    const bool tried = port.Try("COM1:", kSettings);
    const std::string afterTry = captured.str();
    const bool pressed = port.OpenPort("COM1:", kSettings);
    std::cerr.rdbuf(old);
    EXPECT_FALSE(tried);
    EXPECT_FALSE(pressed);
    EXPECT_EQ(afterTry, "");
    EXPECT_EQ(captured.str().rfind("busdesk-test: ", 0), 0u) << captured.str();
    EXPECT_NE(port.LastTry().find("/nonexistent/busdesk-line"), std::string::npos)
        << port.LastTry();
    EXPECT_EQ(shown.messages.size(), 1u);  // the press's box only
    EXPECT_NE(setup.Describer()().at(0).find("/nonexistent/busdesk-line"), std::string::npos);
}

// Without a reason from the port, the text of the box it would have shown.
TEST(RetryPort, ATryWithoutAReasonKeepsTheSwallowedBox) {
    class Mute : public FlakyPort {
      public:
        using FlakyPort::FlakyPort;
        std::string OpenError() const override { return {}; }
    };
    auto line = std::make_shared<Line>();
    line->up = false;
    testing::ScriptedDialogs shown;
    QuietDialogs quiet(shown);
    RetryPort port(std::make_unique<Mute>(line, quiet), quiet);
    EXPECT_FALSE(port.Try("COM3:", kSettings));
    EXPECT_EQ(port.LastTry(), "Com Port COM3: недоступен. Установите нужный порт.");
    EXPECT_TRUE(shown.messages.empty());
}

TEST(LineStateText, WaitingNetworkAndNotice) {
    LineCounters open;
    open.portOpened = true;
    open.requests = 7;
    LineCounters failed;
    failed.openError = "нет доступа";
    LineState waiting;
    waiting.waitingFor = "COM3:";
    waiting.tries = 4;
    waiting.lastTry = "соединение отвергнуто";
    LineState network;
    network.networkTarget = "tcp://[::1]:4001";
    network.notice = "сервер не подтвердил настройки линии";
    struct Row {
        const char* what;
        LineCounters counters;
        LineState state;
        std::string line;
        std::vector<std::string> detail;  // in this order
        std::vector<std::string> absent;
    };
    const Row rows[] = {
        {"waiting after a session",
         open,
         waiting,
         "Жду линию COM3: — новая попытка через 2 с",
         {"Жду линию COM3: — новая попытка через 2 с\nПопыток открыть: 4\n"
          "Последняя попытка: соединение отвергнуто\n\n",
          "Запросов отправлено: 7"},
         {"Сетевая"}},
        {"waiting after a failed press",
         failed,
         waiting,
         "Жду линию COM3: — новая попытка через 2 с",
         {"Жду линию COM3:", "\n\nПорт не открыт: нет доступа"},
         {"Запросов"}},
        {"network line",
         open,
         network,
         "Запросов 7 · ответов 0 · CRC 0 · без ответа 0",
         {"Запросов отправлено: 7", "Отклик: ещё не измерен",
          "\nСетевая линия tcp://[::1]:4001: сервер добавляет свою задержку к каждому ответу",
          "\nЛиния: сервер не подтвердил настройки линии"},
         {"Жду"}},
        {"nothing opened yet", LineCounters{}, network, "", {}, {"Сетевая"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(StatusLine(row.counters, row.state), row.line);
        const std::string detail = StatusDetail(row.counters, row.state);
        std::size_t at = 0;
        for (const std::string& part : row.detail) {
            const std::size_t found = detail.find(part, at);
            ASSERT_NE(found, std::string::npos) << part << "\nin:\n" << detail;
            at = found + part.size();
        }
        for (const std::string& part : row.absent)
            EXPECT_EQ(detail.find(part), std::string::npos) << part;
        if (row.detail.empty()) {
            EXPECT_EQ(detail, "");
        }
    }
}

}  // namespace
}  // namespace busdesk::engine
