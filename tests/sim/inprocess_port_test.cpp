// The in-process line meets what the pty bus meets, at real speed and 50x.
#include "sim/inprocess_port.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "engine/port_setup.h"
#include "protocol/crc.h"
#include "sim/line_reader.h"
#include "support/scripted_dialogs.h"

namespace busdesk::sim {
namespace {

using std::chrono::milliseconds;
using testing::Framed;
using testing::ScriptedDialogs;

const Bytes kSurvey{0x31, 0xFF, 0xDC};

// Lets bus time pass without reading. A sleep may end a little early (it does
// under Wine), which the fast clock makes 50 times longer: sleep until it has.
void WaitBusTime(const InProcessBus& bus, milliseconds busTime) {
    const auto until = bus.clock().Now() + busTime;
    while (bus.clock().Now() < until) std::this_thread::sleep_until(bus.clock().RealTime(until));
}
const Bytes kPoll1 = Framed({0x31, 0x01, 0xF0});

class InProcessPortTest : public ::testing::TestWithParam<double> {
  protected:
    void SetUp() override {
        BusConfig c = DefaultBusConfig();
        c.drift = false;
        bus = std::make_unique<InProcessBus>(c, GetParam());
        port = std::make_unique<InProcessPort>(*bus, dialogs);
        ASSERT_TRUE(port->OpenPort("COM1:", "19200,n,8,1"));
    }

    // A read, and how much bus time it took.
    Bytes Read(milliseconds* took = nullptr) {
        const auto t0 = bus->clock().Now();
        Bytes b = port->ReadPort();
        if (took) *took = std::chrono::duration_cast<milliseconds>(bus->clock().Now() - t0);
        return b;
    }
    // Timed from before the write: the answer runs on bus time from there, and
    // a late start of the read (fifty times longer on the fast clock) must not
    // make the exchange look shorter than the line allows.
    Bytes Ask(const Bytes& request, milliseconds* took = nullptr) {
        const auto t0 = bus->clock().Now();
        EXPECT_EQ(port->WritePort(request), static_cast<std::int16_t>(request.size()));
        Bytes b = port->ReadPort();
        if (took) *took = std::chrono::duration_cast<milliseconds>(bus->clock().Now() - t0);
        return b;
    }
    void Idle(milliseconds busTime) { WaitBusTime(*bus, busTime); }

    ScriptedDialogs dialogs;
    std::unique_ptr<InProcessBus> bus;
    std::unique_ptr<InProcessPort> port;
};

TEST_P(InProcessPortTest, SurveyAndPollsAreAnsweredInTheNextRead) {
    milliseconds took{};
    EXPECT_EQ(Ask(kSurvey, &took), (Bytes{1, 5, 7}));
    // 3 ms to the first byte, two more survey slots, then the 20 ms gap: not a
    // read that stops at the first byte. (No upper bound: a late wake-up of
    // the test's thread counts 50 times at the fast clock.)
    EXPECT_GE(took, milliseconds(3 + 2 + 20));

    const Bytes data = Ask(kPoll1, &took);
    ASSERT_EQ(data.size(), 22U);
    EXPECT_EQ(data[0], 0x3E);
    EXPECT_EQ(data.back(), Crc8(data, 21));
    EXPECT_GE(took, milliseconds(3 + 10 + 20));  // 22 bytes at 521 us
    EXPECT_EQ(Ask(Framed({0x31, 0x05, 0xFC})).size(), 10U);

    const BusStats s = bus->Stats();
    EXPECT_EQ(s.requests, 3U);
    EXPECT_EQ(s.answers, 3U);
    EXPECT_EQ(s.bytesSent, 3U + 22U + 10U);
    const LineStats l = bus->Line();
    EXPECT_EQ(l.bytesRead, s.bytesSent);
    EXPECT_EQ(l.writes, 3U);
}

TEST_P(InProcessPortTest, ASilentDeviceRunsTheReadToItsTotalTimeout) {
    ASSERT_TRUE(bus->SetSilent(1, true));
    milliseconds took{};
    EXPECT_TRUE(Ask(kPoll1, &took).empty());
    EXPECT_GE(took, milliseconds(256));
    EXPECT_TRUE(Ask({0x31, 0x01, 0xF0, 0x00}, &took).empty());  // bad CRC: nobody answers
    ASSERT_TRUE(bus->SetSilent(1, false));
    EXPECT_EQ(Ask(kPoll1).size(), 22U);
    EXPECT_EQ(bus->Stats().badCrc, 1U);
    EXPECT_EQ(bus->Line().emptyReads, 2U);
}

TEST_P(InProcessPortTest, OnlyAGapOfMoreThan20msSplitsAReply) {
    struct Row {
        milliseconds gap;
        std::vector<std::size_t> receptions;
    };
    for (const Row& row : {Row{milliseconds(60), {11, 11}}, Row{milliseconds(10), {22}}}) {
        bus->SplitNextReplies(1, row.gap);
        std::vector<std::size_t> got{Ask(kPoll1).size()};
        if (got[0] != 22U) got.push_back(Read().size());
        EXPECT_EQ(got, row.receptions) << "gap " << row.gap.count();
    }
}

TEST_P(InProcessPortTest, LateReplyComesAfterTheNextOne) {
    // On the fast clock a late wake-up of this thread counts 50 times, so the
    // late reply is held back long enough that the next request still goes
    // out before it.
    bus->DelayNextReplies(1, milliseconds(GetParam() > 1 ? 3000 : 400));
    EXPECT_TRUE(Ask(Framed({0x31, 0x05, 0xFC})).empty());
    EXPECT_EQ(Ask(Framed({0x31, 0x05, 0xF0})).size(), 22U);
    Bytes late;
    for (int i = 0; i < 20 && late.empty(); ++i) late = Read();
    ASSERT_EQ(late.size(), 10U);
    EXPECT_EQ(late[2], 0xFC);
}

TEST_P(InProcessPortTest, BacklogBehindAFullReadIsDiscarded) {
    bus->SendGarbage(std::size_t{600});
    Idle(milliseconds(600 * 521 / 1000 + 20));  // all of it waits in the buffer
    EXPECT_EQ(Read().size(), 255U);
    EXPECT_EQ(bus->Line().discarded, 600U - 255U);
    // The next reply is fresh, not the rest of the noise.
    const Bytes data = Ask(kPoll1);
    ASSERT_EQ(data.size(), 22U);
    EXPECT_EQ(data[0], 0x3E);
}

// The line counters time answers by waiting for the line to become readable;
// waiting must neither consume the answer nor say yes for a silent device.
TEST_P(InProcessPortTest, WaitingForAnAnswerLeavesItToTheRead) {
    EXPECT_EQ(port->WaitReadable(milliseconds(0)), std::optional<bool>(false));
    ASSERT_EQ(port->WritePort(kPoll1), static_cast<std::int16_t>(kPoll1.size()));
    EXPECT_EQ(port->WaitReadable(milliseconds(2000)), std::optional<bool>(true));
    EXPECT_EQ(Read().size(), 22U);

    ASSERT_TRUE(bus->SetSilent(1, true));
    ASSERT_EQ(port->WritePort(kPoll1), static_cast<std::int16_t>(kPoll1.size()));
    EXPECT_EQ(port->WaitReadable(milliseconds(100)), std::optional<bool>(false));
}

// The same wait as the line monitor makes it: woken, it ends at once; a
// silent device leaves it waiting, an answer ends it with yes.
TEST_P(InProcessPortTest, AWokenWaitEndsAndAnAnswerStillEndsIt) {
    const milliseconds minute(60'000);
    WakeSignal wake;
    ASSERT_TRUE(bus->SetSilent(1, true));
    ASSERT_EQ(port->WritePort(kPoll1), static_cast<std::int16_t>(kPoll1.size()));
    std::thread waker([&] {
        std::this_thread::sleep_for(milliseconds(50));
        wake.Raise();
    });
    EXPECT_EQ(port->WaitReadable(minute, wake), std::optional<bool>(false));
    waker.join();
    EXPECT_EQ(port->WaitReadable(minute, wake), std::optional<bool>(false));  // still raised
    wake.Clear();

    ASSERT_TRUE(bus->SetSilent(1, false));
    ASSERT_EQ(port->WritePort(kPoll1), static_cast<std::int16_t>(kPoll1.size()));
    EXPECT_EQ(port->WaitReadable(minute, wake), std::optional<bool>(true));
    EXPECT_FALSE(Read().empty());
}

INSTANTIATE_TEST_SUITE_P(Speeds, InProcessPortTest, ::testing::Values(1.0, 50.0),
                         [](const ::testing::TestParamInfo<double>& p) {
                             return p.param == 1.0 ? "RealTime" : "Fast";
                         });

TEST(InProcessLine, OpensLikeAnExclusivePortAndReportsFailuresByBox) {
    InProcessBus bus;
    ScriptedDialogs dialogs;
    InProcessPort first(bus, dialogs);
    InProcessPort second(bus, dialogs);
    EXPECT_FALSE(first.OpenPort("COM2:", "19200,n,8,1"));
    EXPECT_EQ(first.OpenError(), "нет такого устройства COM2: (в имитации шины есть только COM1:)");
    ASSERT_TRUE(first.OpenPort("COM1:", "19200,n,8,1"));
    EXPECT_EQ(first.OpenError(), "");
    EXPECT_FALSE(second.OpenPort("COM1:", "19200,n,8,1"));
    // Why, beside the box, as a system port says it.
    EXPECT_EQ(second.OpenError(),
              "порт COM1: занят другой программой: линию имитации уже открыл другой порт");
    EXPECT_EQ(dialogs.Texts(),
              (std::vector<std::string>{"Com Port COM2: недоступен. Установите нужный порт.",
                                        "Com Port COM1: недоступен. Установите нужный порт."}));
    EXPECT_EQ(first.ClosePort(), 1);
    EXPECT_EQ(first.ClosePort(), 0);
    // A closed port neither sends nor hears anything.
    EXPECT_EQ(first.WritePort(kSurvey), 0);
    EXPECT_TRUE(first.ReadPort().empty());
    ASSERT_TRUE(second.OpenPort("COM1:", "19200,n,8,1"));
    EXPECT_EQ(bus.Stats().requests, 0U);
}

TEST(InProcessLine, ABufferNobodyReadsKeepsWhatADriverWouldAndLosesTheRest) {
    InProcessBus bus(DefaultBusConfig(), 50.0);
    ScriptedDialogs dialogs;
    InProcessPort port(bus, dialogs);
    ASSERT_TRUE(port.OpenPort("COM1:", "19200,n,8,1"));
    bus.SendGarbage(std::size_t{4200});
    WaitBusTime(bus, milliseconds(4200 * 521 / 1000 + 20));
    EXPECT_EQ(port.ReadPort().size(), 255U);
    const LineStats l = bus.Line();
    EXPECT_EQ(l.overrun, 4200U - 4096U);
    EXPECT_EQ(l.discarded, 4096U - 255U);
    EXPECT_EQ(bus.Stats().bytesSent, 4200U);
}

TEST(InProcessLine, WhatCameWhileClosedIsNotReadAfterReopening) {
    InProcessBus bus(DefaultBusConfig(), 50.0);
    ScriptedDialogs dialogs;
    InProcessPort port(bus, dialogs);
    ASSERT_TRUE(port.OpenPort("COM1:", "19200,n,8,1"));
    port.WritePort(kPoll1);
    port.ClosePort();
    WaitBusTime(bus, milliseconds(250));
    ASSERT_TRUE(port.OpenPort("COM1:", "19200,n,8,1"));
    EXPECT_TRUE(port.ReadPort().empty());
}

TEST(InProcessLine, DemoPortsPutTheBusBehindCom1) {
    engine::PortSetup setup{PortMap{}};
    ASSERT_TRUE(setup.StartDemo());
    ASSERT_NE(setup.DemoBus(), nullptr);
    ScriptedDialogs dialogs;
    auto port = setup.Factory()(dialogs);
    ASSERT_TRUE(port->OpenPort("COM1:", "19200,n,8,1"));
    port->WritePort(kSurvey);
    EXPECT_EQ(port->ReadPort(), (Bytes{1, 5, 7}));
    EXPECT_EQ(setup.DemoBus()->Stats().requests, 1U);
    // A second window of the same program finds the line taken.
    auto other = setup.Factory()(dialogs);
    EXPECT_FALSE(other->OpenPort("COM1:", "19200,n,8,1"));
    EXPECT_EQ(dialogs.messages.size(), 1U);
}

}  // namespace
}  // namespace busdesk::sim
