// The line counters on the real serial layer, against the simulated bus:
// response times follow a bus told to answer late, and both ends count the
// same requests, faults and silences.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "app/frmSerial.h"
#include "engine/line_monitor.h"
#include "link/port_names.h"
#include "link/posix_port.h"
#include "sim/sim_bus.h"
#include "support/scripted_dialogs.h"

namespace busdesk::testing {
namespace {

using engine::LineCounters;
using engine::LineMonitor;
using std::chrono::milliseconds;

class LineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bus = std::make_unique<sim::SimulatedBus>();
        const std::string path = bus->Start();
        ASSERT_FALSE(path.empty()) << bus->Error();
        PortMap ports;
        ASSERT_TRUE(ports.Map("COM1:", path));
        monitor = std::make_unique<LineMonitor>(std::make_unique<PosixSerialPort>(dialogs, ports),
                                                nullptr);
        form = std::make_unique<frmSerial>(*monitor, dialogs);
        form->receptionObserver = monitor.get();
        form->Raise("frmSerial", "Load");
        ASSERT_EQ(form->UserClick("BTNOpenCom"), frmSerial::Raised::Handled);
        ASSERT_TRUE(form->TMRComm.enabled);
        form->CmbNet.list = {"1"};
        form->CmbNet.listIndex = 0;
        form->CmbNet.caption = "1";
    }
    void TearDown() override {
        form.reset();
        monitor.reset();
        bus->Stop();
    }
    LineCounters Tick(milliseconds wait) {
        EXPECT_TRUE(form->Tick());
        std::this_thread::sleep_for(wait);
        return monitor->Counters();
    }

    std::unique_ptr<sim::SimulatedBus> bus;
    ScriptedDialogs dialogs;
    std::unique_ptr<LineMonitor> monitor;
    std::unique_ptr<frmSerial> form;
};

TEST_F(LineTest, ResponseTimesFollowALateBus) {
    LineCounters c;
    for (int i = 0; i < 4; ++i) c = Tick(milliseconds(60));
    ASSERT_FALSE(c.untimed);
    ASSERT_GE(c.timed, 2u);  // the first tick's answer is read by the second
    EXPECT_EQ(c.device, 1);
    const std::int64_t prompt = c.maxUs;
    EXPECT_GT(c.minUs, 0);

    constexpr std::int64_t kLateUs = 250'000;
    bus->DelayNextReplies(2, milliseconds(kLateUs / 1000));
    Tick(milliseconds(400));  // the read of the next tick finds the answer waiting
    c = Tick(milliseconds(400));
    // Never earlier than the bus held it back; the rest is the line and the bus.
    EXPECT_GE(c.lastUs, kLateUs);
    EXPECT_LT(c.lastUs, kLateUs + 200'000);
    c = Tick(milliseconds(60));
    EXPECT_GE(c.lastUs, kLateUs);
    EXPECT_GE(c.maxUs, kLateUs);
    EXPECT_LE(c.minUs, prompt);
    // Back to prompt answers.
    c = Tick(milliseconds(60));
    EXPECT_LT(c.lastUs, kLateUs);
}

TEST_F(LineTest, BothEndsCountTheSame) {
    bus->CorruptNextReplies(2);
    for (int i = 0; i < 4; ++i) Tick(milliseconds(60));
    ASSERT_TRUE(bus->SetSilent(1, true));
    for (int i = 0; i < 3; ++i) Tick(milliseconds(60));
    ASSERT_TRUE(bus->SetSilent(1, false));
    LineCounters c;
    for (int i = 0; i < 3; ++i) c = Tick(milliseconds(60));
    const sim::BusStats s = bus->Stats();

    EXPECT_EQ(c.requests, 10u);
    EXPECT_EQ(s.requests, c.requests);
    EXPECT_EQ(s.badCrc, 0u);
    EXPECT_EQ(s.bytesReceived, c.bytesOut);
    EXPECT_EQ(s.corrupted, 2u);
    EXPECT_EQ(c.badCrc, s.corrupted);
    EXPECT_EQ(s.unanswered, 3u);
    EXPECT_EQ(c.silent, s.unanswered);
    // The answer to the last request is on the line, not yet read.
    EXPECT_EQ(c.replies + c.badCrc + 1, s.answers);
    EXPECT_LT(c.bytesIn, s.bytesSent);
    EXPECT_EQ(c.unknownCodes + c.other + c.writeFailures, 0u);
}

}  // namespace
}  // namespace busdesk::testing
