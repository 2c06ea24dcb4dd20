// The engine on the real POSIX port, the simulated bus behind a link that the
// test points at a fresh pseudo-terminal: the bus is killed, the window's
// port closes by its write failures, and with --reconnect polling resumes
// once a bus answers behind the same entry again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "link/port_names.h"
#include "link/posix_port.h"
#include "sim/sim_bus.h"

namespace busdesk::testing {
namespace {

using namespace std::chrono_literals;

class Watcher : public engine::FrontEnd {
  public:
    engine::Engine* engine = nullptr;

    void Publish(engine::Snapshot s) override {
        std::lock_guard lock(mutex_);
        last_ = std::move(s);
        changed_.notify_all();
    }
    void ShowBox(std::uint64_t id, const engine::BoxRequest& r) override {
        {
            std::lock_guard lock(mutex_);
            boxes_.push_back(r.text);
        }
        engine->Answer(id, engine::ClosedResult(r));
    }
    bool WaitFor(const std::function<bool(const engine::Snapshot&)>& pred) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return last_.controls && pred(last_); });
    }
    std::vector<std::string> Boxes() {
        std::lock_guard lock(mutex_);
        return boxes_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    engine::Snapshot last_;
    std::vector<std::string> boxes_;
};

bool Open(const engine::Snapshot& s) {
    for (const Control& c : *s.controls)
        if (c.name == "TMRComm") return c.enabled;
    return false;
}

TEST(Reconnecting, AKilledBusClosesThePortAndARestartedOneIsPolledAgain) {
    const std::filesystem::path link =
        std::filesystem::temp_directory_path() / ("busdesk-line-" + std::to_string(::getpid()));
    std::filesystem::remove(link);
    auto bus = std::make_unique<sim::SimulatedBus>();
    const std::string first = bus->Start();
    ASSERT_FALSE(first.empty()) << bus->Error();
    std::filesystem::create_symlink(first, link);

    PortMap ports;
    ASSERT_TRUE(ports.Map("COM1:", link.string()));
    Watcher front;
    engine::Engine::Options options;
    options.tick = 100ms;
    options.retry = 100ms;
    options.reconnect = true;
    engine::Engine engine(
        [ports](Dialogs& d) { return std::make_unique<PosixSerialPort>(d, ports); }, front,
        options);
    front.engine = &engine;
    engine.Start();
    engine.PostClick("BTNOpenCom");
    engine.PostClick("Opros");
    ASSERT_TRUE(front.WaitFor(
        [](const engine::Snapshot& s) { return Open(s) && s.line.surveyAnswers > 0; }));

    // Killed: its pseudo-terminal is gone, and so is the link to it.
    bus->Stop();
    bus.reset();
    std::filesystem::remove(link);
    ASSERT_TRUE(front.WaitFor([](const engine::Snapshot& s) {
        return !Open(s) && s.waitingFor == "COM1:" && s.status.rfind("Жду линию COM1:", 0) == 0;
    }));
    const std::vector<std::string> failures(4, "Ошибка записи в порт");
    EXPECT_EQ(front.Boxes(), failures);

    // Restarted on a new pseudo-terminal behind the same path.
    bus = std::make_unique<sim::SimulatedBus>();
    const std::string second = bus->Start();
    ASSERT_FALSE(second.empty()) << bus->Error();
    std::filesystem::create_symlink(second, link);
    ASSERT_TRUE(front.WaitFor([&](const engine::Snapshot& s) {
        return Open(s) && s.waitingFor.empty() && bus->Stats().requests > 0;
    }));
    EXPECT_EQ(front.Boxes(), failures) << "a try showed a box";
    // The whole bus is there again: a survey finds it. The figures started
    // afresh at the open, so the answer counted is the new bus's.
    engine.PostClick("Opros");
    ASSERT_TRUE(front.WaitFor(
        [](const engine::Snapshot& s) { return Open(s) && s.line.surveyAnswers > 0; }));

    engine.Stop();
    bus->Stop();
    std::filesystem::remove(link);
}

}  // namespace
}  // namespace busdesk::testing
