// The engine on its own thread, driven as a front end drives it, with no
// toolkit: a recording front end and an in-memory port.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/frmSerial.h"
#include "link/memory_port.h"

namespace busdesk::engine {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the engine thread did to the port, readable from the test thread.
struct PortRecord {
    std::mutex mutex;
    std::vector<Clock::time_point> reads;
    std::vector<Bytes> writes;
    std::deque<Bytes> receptions;  // handed out one per read
    int closes = 0;
};

class RecordedPort : public MemoryPort {
  public:
    explicit RecordedPort(std::shared_ptr<PortRecord> r) : r_(std::move(r)) {}
    Bytes ReadPort() override {
        std::lock_guard lock(r_->mutex);
        r_->reads.push_back(Clock::now());
        if (r_->receptions.empty()) return {};
        Bytes b = std::move(r_->receptions.front());
        r_->receptions.pop_front();
        return b;
    }
    std::int16_t WritePort(const Bytes& data) override {
        std::lock_guard lock(r_->mutex);
        r_->writes.push_back(data);
        return static_cast<std::int16_t>(data.size());
    }
    int ClosePort() override {
        std::lock_guard lock(r_->mutex);
        ++r_->closes;
        return MemoryPort::ClosePort();
    }

  private:
    std::shared_ptr<PortRecord> r_;
};

struct Box {
    std::uint64_t id;
    BoxRequest request;
    Snapshot before;  // the last snapshot published before the box was asked for
};

class RecordingFrontEnd : public FrontEnd {
  public:
    void Publish(Snapshot s) override {
        std::lock_guard lock(mutex_);
        snapshots_.push_back(std::move(s));
        changed_.notify_all();
    }
    void ShowBox(std::uint64_t id, const BoxRequest& r) override {
        std::lock_guard lock(mutex_);
        boxes_.push_back({id, r, snapshots_.empty() ? Snapshot{} : snapshots_.back()});
        changed_.notify_all();
    }

    // Waits until `pred` holds over the recorded state; false after 5 s.
    bool WaitFor(const std::function<bool()>& pred) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, pred);
    }
    bool WaitForBox(std::size_t count) {
        return WaitFor([&] { return boxes_.size() >= count; });
    }
    // Waits for a snapshot in which the control `name` satisfies `pred`.
    bool WaitForControl(const char* name, const std::function<bool(const Control&)>& pred) {
        return WaitFor([&] {
            if (snapshots_.empty()) return false;
            const Control* c = Find(snapshots_.back(), name);
            return c != nullptr && pred(*c);
        });
    }
    bool WaitForCaption(const char* name, const std::string& caption) {
        return WaitForControl(name, [&](const Control& c) { return c.caption == caption; });
    }
    Box BoxAt(std::size_t i) {
        std::lock_guard lock(mutex_);
        return boxes_.at(i);
    }
    Snapshot At(std::size_t i) {
        std::lock_guard lock(mutex_);
        return snapshots_.at(i);
    }
    Snapshot Last() {
        std::lock_guard lock(mutex_);
        return snapshots_.back();
    }
    std::size_t Published() {
        std::lock_guard lock(mutex_);
        return snapshots_.size();
    }
    static const Control* Find(const Snapshot& s, const char* name) {
        if (!s.controls) return nullptr;
        for (const Control& c : *s.controls)
            if (c.name == name) return &c;
        return nullptr;
    }
    static std::string Caption(const Snapshot& s, const char* name) {
        const Control* c = Find(s, name);
        return c != nullptr ? c->caption : std::string();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Snapshot> snapshots_;
    std::vector<Box> boxes_;
};

class EngineTest : public ::testing::Test {
  protected:
    static constexpr auto kTick = 40ms;

    EngineTest()
        : record(std::make_shared<PortRecord>()),
          engine([r = record](Dialogs&) { return std::make_unique<RecordedPort>(r); }, front,
                 Engine::Options{kTick, {}}) {
        engine.Start();
    }

    void Open() {
        engine.PostClick("BTNOpenCom");
        ASSERT_TRUE(
            front.WaitForControl("BTNCloseCom", [](const Control& c) { return c.enabled; }));
    }

    std::size_t Reads() {
        std::lock_guard lock(record->mutex);
        return record->reads.size();
    }

    std::shared_ptr<PortRecord> record;
    RecordingFrontEnd front;
    Engine engine;
};

TEST_F(EngineTest, EventsRunInTheOrderPostedAndNeverDuringAnother) {
    Open();
    // The question box holds hig_Click open on the engine thread.
    engine.PostClick("hig");
    ASSERT_TRUE(front.WaitForBox(1));
    const std::size_t published = front.Published();
    engine.PostText("ID_Metki", "1");
    engine.PostText("ID_Metki", "12");
    engine.PostText("ID_Metki", "123");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(front.Published(), published) << "an event ran while a handler waited for its box";

    engine.Answer(front.BoxAt(0).id, MsgResult::No);
    ASSERT_TRUE(front.WaitForCaption("ID_Metki", "123"));
    // Each edit was published in turn, after the box's handler ended.
    std::vector<std::string> seen;
    for (std::size_t i = published; i < front.Published(); ++i) {
        const std::string c = RecordingFrontEnd::Caption(front.At(i), "ID_Metki");
        if (seen.empty() || seen.back() != c) seen.push_back(c);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"0", "1", "12", "123"}));
    // The sequence number of the last edit comes back with its snapshot.
    EXPECT_EQ(front.Last().seq, 5u);
}

TEST_F(EngineTest, ATickThatFellDueDuringABoxIsDroppedNotRunLate) {
    Open();
    ASSERT_TRUE(front.WaitFor([&] { return Reads() >= 2; }));
    engine.PostClick("hig");
    ASSERT_TRUE(front.WaitForBox(1));
    const std::size_t readsBefore = Reads();
    std::this_thread::sleep_for(kTick * 5);
    EXPECT_EQ(Reads(), readsBefore);
    const auto answered = Clock::now();
    engine.Answer(front.BoxAt(0).id, MsgResult::No);
    ASSERT_TRUE(front.WaitFor([&] { return Reads() > readsBefore; }));
    // The missed ticks are not made up: the next one comes a whole period
    // after the box closed (later under load, never sooner).
    std::lock_guard lock(record->mutex);
    EXPECT_GE(record->reads[readsBefore] - answered, kTick - 5ms);
    // No means nothing was queued for the device: no calibration frame.
    for (const Bytes& w : record->writes) EXPECT_FALSE(w.size() > 2 && w[2] == 0xF5);
}

TEST_F(EngineTest, WhatAHandlerSetBeforeItsBoxIsPublishedBeforeTheBox) {
    Open();
    {
        std::lock_guard lock(record->mutex);
        record->receptions.push_back({0x3E, 0x01, 0x77, 0x00, 0x00});
    }
    ASSERT_TRUE(front.WaitForBox(1));
    const Box box = front.BoxAt(0);
    EXPECT_EQ(box.request.text, "Пришла какая-то фигня");
    EXPECT_EQ(RecordingFrontEnd::Caption(box.before, "MsgCom"), " Непонятно что пришло! ");
    engine.Answer(box.id, MsgResult::Ok);
}

TEST_F(EngineTest, AnInputBoxAnswerReachesTheHandler) {
    Open();
    engine.PostClick("net");
    ASSERT_TRUE(front.WaitForBox(1));
    EXPECT_EQ(front.BoxAt(0).request.kind, BoxRequest::Kind::Input);
    engine.Answer(front.BoxAt(0).id, MsgResult::Ok, "300");
    // Out of range: the handler's own message follows.
    ASSERT_TRUE(front.WaitForBox(2));
    EXPECT_EQ(front.BoxAt(1).request.text, "Введите число в диапазоне 0....200");
    engine.Answer(front.BoxAt(1).id, MsgResult::Ok);
}

TEST_F(EngineTest, StoppingWithThePortOpenClosesItThroughTheWindow) {
    Open();
    engine.Stop();
    EXPECT_FALSE(engine.Running());
    {
        std::lock_guard lock(record->mutex);
        EXPECT_EQ(record->closes, 1);
    }
    const Snapshot last = front.Last();
    EXPECT_TRUE(RecordingFrontEnd::Find(last, "BTNOpenCom")->enabled);
    EXPECT_FALSE(RecordingFrontEnd::Find(last, "TMRComm")->enabled);
    engine.Stop();  // twice is harmless
}

TEST_F(EngineTest, StoppingWhileABoxWaitsAnswersItAsClosed) {
    Open();
    engine.PostClick("hig");
    ASSERT_TRUE(front.WaitForBox(1));
    engine.PostClick("Opros");  // void: the window is closing
    engine.Stop();
    std::lock_guard lock(record->mutex);
    EXPECT_EQ(record->closes, 1);
    // Closed means No: no calibration, and the survey click never ran.
    for (const Bytes& w : record->writes) {
        EXPECT_FALSE(w.size() > 2 && w[2] == 0xF5);
        EXPECT_FALSE(w.size() > 1 && w[1] == 0xFF);
    }
}

TEST_F(EngineTest, AccessKeysClickClippedControlsInEitherCase) {
    Open();
    std::size_t boxes = 0;
    for (const char* key : {"Й", "й"}) {
        SCOPED_TRACE(key);
        engine.PostAccessKey(key);
        ASSERT_TRUE(front.WaitForBox(++boxes));
        const Box box = front.BoxAt(boxes - 1);
        EXPECT_NE(box.request.text.find("верхнего"), std::string::npos);
        engine.Answer(box.id, MsgResult::No);
    }
}

}  // namespace
}  // namespace busdesk::engine
