// The runner in process, on a port in memory: a port that will not open says
// why, in the result and on standard error.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "cli/session.h"
#include "link/memory_port.h"
#include "sim/inprocess_port.h"

namespace busdesk::cli {
namespace {

class RefusingPort : public MemoryPort {
  public:
    RefusingPort() { openSucceeds = false; }
    std::string OpenError() const override { return "Permission denied"; }
};

TEST(RunnerOpen, APortThatWillNotOpenSaysWhy) {
    Session session([](Dialogs&) { return std::make_unique<RefusingPort>(); },
                    [](const std::string&) {});
    session.Start();
    std::ostringstream err;
    Progress quiet(err, false);
    Runner runner(
        session, "COM1:", [](const Record&) {}, &quiet);
    std::ostringstream captured;
    std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
    const Outcome o = runner.Run(Step{});  // a survey
    std::cerr.rdbuf(old);
    session.Stop();
    EXPECT_EQ(o.exit, kPortFailed);
    EXPECT_EQ(o.text, "порт COM1: не открылся: Permission denied");
    EXPECT_EQ(captured.str(), "порт COM1: не открылся: Permission denied\n");
}

// The simulated bus behind a port that is not there for its first opens, as
// a USB adapter still being plugged in.
class LatePort : public sim::InProcessPort {
  public:
    LatePort(sim::InProcessBus& bus, Dialogs& dialogs, int absent)
        : InProcessPort(bus, dialogs), dialogs_(dialogs), absent_(absent) {}
    bool OpenPort(const std::string& name, const std::string& settings) override {
        if (absent_-- > 0) {
            dialogs_.MsgBox("Com Port " + name + " недоступен. Установите нужный порт.",
                            MsgButtons::Ok, MsgIcon::Warning, "");
            return false;
        }
        return InProcessPort::OpenPort(name, settings);
    }
    std::string OpenError() const override { return absent_ >= 0 ? "нет устройства" : ""; }

  private:
    Dialogs& dialogs_;
    int absent_;
};

// With --reconnect the command waits for the line instead of failing: the
// press's boxes once, the outage and the return said once each, then the
// command runs on the line that came back.
TEST(RunnerOpen, WithReconnectACommandWaitsForTheLine) {
    sim::InProcessBus bus;
    engine::Engine::Options options;
    options.reconnect = true;
    options.retry = std::chrono::milliseconds(20);
    std::vector<std::string> boxes;
    Session session([&bus](Dialogs& d) { return std::make_unique<LatePort>(bus, d, 3); },
                    [&boxes](const std::string& text) { boxes.push_back(text); }, options);
    std::vector<std::string> said;
    session.OnLine([&said](const std::string& text) { said.push_back(text); });
    session.Start();
    std::ostringstream err;
    Progress quiet(err, false);
    std::vector<std::string> lines;
    Runner runner(
        session, "COM1:", [&lines](const Record& r) { lines.push_back(r.human); }, &quiet);
    const Outcome o = runner.Run(Step{});  // a survey
    session.Stop();
    EXPECT_EQ(o.exit, kDone) << o.text;
    EXPECT_EQ(boxes, (std::vector<std::string>{"Com Port COM1: недоступен. Установите нужный порт.",
                                               "COM1: Not available!"}));
    EXPECT_EQ(said, (std::vector<std::string>{"жду линию COM1: — новая попытка каждые 1 с",
                                              "линия COM1: снова открыта"}));
    EXPECT_GT(bus.Stats().requests, 0u);
}

// A line that stays away ends the command with the port's failure and why
// the last try failed; the engine's tries never reach the boxes.
TEST(RunnerOpen, WithReconnectALineThatStaysAwayFailsInItsTime) {
    sim::InProcessBus bus;
    engine::Engine::Options options;
    options.reconnect = true;
    options.retry = std::chrono::milliseconds(20);
    std::vector<std::string> boxes;
    Session session([&bus](Dialogs& d) { return std::make_unique<LatePort>(bus, d, 1 << 20); },
                    [&boxes](const std::string& text) { boxes.push_back(text); }, options);
    session.Start();
    std::ostringstream err;
    Progress quiet(err, false);
    Runner runner(
        session, "COM1:", [](const Record&) {}, &quiet);
    runner.SetLineTicks(2);
    std::ostringstream captured;
    std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
    const Outcome o = runner.Run(Step{});
    std::cerr.rdbuf(old);
    session.Stop();
    EXPECT_EQ(o.exit, kPortFailed);
    EXPECT_EQ(o.text, "линия COM1: не вернулась за 1 с: нет устройства");
    EXPECT_EQ(captured.str(), o.text + "\n");
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(bus.Stats().requests, 0u);
}

}  // namespace
}  // namespace busdesk::cli
