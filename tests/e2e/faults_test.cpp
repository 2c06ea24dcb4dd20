// What a technician sees when the line or a device misbehaves, and that the
// tool neither hangs nor spins.
#include <time.h>

#include "e2e/bus_fixture.h"

namespace busdesk::testing {
namespace {

using std::chrono::milliseconds;

const std::string kSilent5 = "Нет данных с датчика с номером 5";

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

// A bus whose reader hears no tags: every tag poll goes unanswered.
sim::BusConfig LoneReader() {
    std::string error;
    auto c = sim::ParseBusConfig("reader 1 serial=777 current=40000", error);
    EXPECT_TRUE(c.has_value()) << error;
    return c.value_or(sim::BusConfig{});
}

TEST_F(BusTest, SilentDeviceIsReportedAndRecovers) {
    Connect(LoneReader());
    Survey();
    ASSERT_TRUE(StepUntil([this] { return form->ne.caption == "1"; }));
    // Tag polls go unanswered, so the status text comes and goes with the data.
    const std::string silent = "Нет данных с датчика с номером 1";
    ASSERT_TRUE(StepUntil([&] { return form->MsgCom.caption == silent; }));
    ASSERT_TRUE(StepUntil([&] { return form->MsgCom.caption == "Произошел опрос сети."; }));

    ASSERT_TRUE(bus->SetSilent(1, true));
    const std::size_t from = history.size();
    for (int i = 0; i < 4; ++i) Step();
    for (std::size_t i = from + 1; i < history.size(); ++i) {
        EXPECT_EQ(history[i].status, silent);
        EXPECT_NE(history[i].lamp, lamp::kRed);
    }
    // White and grey in turn while frames go out unanswered.
    EXPECT_NE(history[history.size() - 1].lamp, history[history.size() - 2].lamp);
    EXPECT_TRUE(dialogs.messages.empty());

    ASSERT_TRUE(bus->SetSilent(1, false));
    ASSERT_TRUE(StepUntil([&] { return form->MsgCom.caption == "Произошел опрос сети."; }, 6));
    EXPECT_EQ(form->Pic.fillColor, lamp::kRed);
}

TEST_F(BusTest, ReplyWithBadCrcIsIgnored) {
    Survey();
    ASSERT_TRUE(StepUntil([this] { return form->ne.caption == "1"; }));
    const std::string current1 = form->tek.caption;
    // Reader 5 hears no tags, so its next two answers are the serial number
    // and the first data reply; both get a wrong CRC.
    bus->CorruptNextReplies(2);
    Pick(1);
    ASSERT_TRUE(StepUntil([this] { return StartsWith(form->txtRec.caption, "3E 5 F0 "); }));
    const auto dump = DumpBytes(form->txtRec.caption);
    ASSERT_EQ(dump.size(), 23U);
    EXPECT_NE(dump[21], dump[22]) << "the tool's own CRC differs from the one received";
    EXPECT_EQ(form->ne.caption, "1");
    EXPECT_EQ(form->tek.caption, current1);
    EXPECT_EQ(form->Pic.fillColor, lamp::kRed);
    // Unchecked replies are taken as they come: the serial number is shown.
    EXPECT_EQ(form->sn.caption, "100456");
    // The next good reply is shown.
    ASSERT_TRUE(StepUntil([this] { return form->ne.caption == "5"; }, 4));
    EXPECT_NE(form->tek.caption, current1);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(BusTest, SplitReplyIsDecodedAsTwoReceptions) {
    Survey();
    // Reader 5 leaves its tag polls unanswered, so the tail comes alone.
    Pick(1);
    ASSERT_TRUE(StepUntil([this] { return form->ne.caption == "5"; }));
    UntilDataPollIsNext();
    const std::string level = form->uroven.caption;
    bus->SplitNextReplies(1, milliseconds(120));
    const std::size_t from = history.size();
    for (int i = 0; i < 6; ++i) Step();

    // Two receptions of eleven bytes each: the head of the frame, whose CRC
    // check fails, and the tail, which is no frame at all.
    int head = -1;
    int tail = -1;
    for (std::size_t i = from; i < history.size(); ++i) {
        const auto b = DumpBytes(history[i].received);
        if (b.size() != 12) continue;
        if (b[0] == "3E" && b[2] == "F0" && head < 0) head = static_cast<int>(i);
        if (b[0] != "3E" && head >= 0 && tail < 0) tail = static_cast<int>(i);
    }
    ASSERT_GE(head, 0);
    ASSERT_GT(tail, head);
    EXPECT_EQ(form->uroven.caption, level);
    EXPECT_TRUE(dialogs.messages.empty());
    // And the line goes on as before.
    ASSERT_TRUE(StepUntil([this] { return DumpBytes(form->txtRec.caption).size() == 23; }, 4));
}

TEST_F(BusTest, LateReplyIsDecodedInTheTickThatReadsIt) {
    Survey();
    Pick(1);
    Step();  // the serial-number request to 5 goes out and is answered
    bus->DelayNextReplies(1, milliseconds(400));
    ASSERT_TRUE(StepUntil([this] { return form->ne.caption == "5"; }, 12));

    std::size_t poll = 0;
    for (std::size_t i = 0; i < history.size(); ++i) {
        if (StartsWith(history[i].sent, "31_5_F0_")) {
            poll = i;
            break;
        }
    }
    ASSERT_GT(poll, 0U);
    // The tick after the poll found nothing; the reply came in a later one.
    ASSERT_LT(poll + 2, history.size());
    EXPECT_EQ(history[poll + 1].status, kSilent5);
    EXPECT_TRUE(StartsWith(history.back().received, "3E 5 F0 "));
}

TEST_F(BusTest, GarbageOnTheLineChangesNothing) {
    Survey();
    Pick(1);
    ASSERT_TRUE(StepUntil([this] { return form->ne.caption == "5"; }));
    // Wait for an unanswered tag poll so the garbage comes alone.
    ASSERT_TRUE(StepUntil([this] { return StartsWith(form->CmdBoxText.caption, "31_5_E0_"); }));
    const Bytes garbage = sim::GarbageBytes(7);
    bus->SendGarbage(garbage);
    std::this_thread::sleep_for(milliseconds(20));
    const auto list = form->CmbNet.list;
    const std::string tek = form->tek.caption;
    Step();
    EXPECT_EQ(DumpBytes(form->txtRec.caption).size(), 8U);
    EXPECT_EQ(form->CmbNet.list, list);
    EXPECT_EQ(form->tek.caption, tek);
    EXPECT_EQ(form->ne.caption, "5");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(BusTest, SurveyAnswerOfTwentyBytesIsRefused) {
    Survey();
    bus->SetSurveySize(20);
    ASSERT_EQ(form->UserClick("Opros"), frmSerial::Raised::Handled);
    ASSERT_TRUE(StepUntil([this] { return !form->net_opr; }));
    EXPECT_EQ(form->CmbNet.list, (std::vector<std::string>{"1", "5", "7"}));
    EXPECT_EQ(DumpBytes(form->txtRec.caption).size(), 21U);

    bus->SetSurveySize(19);
    ASSERT_EQ(form->UserClick("Opros"), frmSerial::Raised::Handled);
    ASSERT_TRUE(StepUntil([this] { return !form->net_opr; }));
    EXPECT_EQ(form->CmbNet.list.size(), 19U);
    EXPECT_EQ(form->CmbNet.list[3], "100");
}

TEST_F(BusTest, DroppedLineEndsInWriteFailuresAndAClosedPort) {
    Survey();
    bus->DropLine();
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(form->TMRComm.enabled) << "closed early, at failure " << i;
        // Idle time between ticks: a hung-up line must cost no CPU.
        const double cpu = ProcessCpuSeconds();
        std::this_thread::sleep_for(milliseconds(150));
        EXPECT_LT(ProcessCpuSeconds() - cpu, 0.05);
        // Nor may a tick spin on it until its read times out.
        const double before = ProcessCpuSeconds();
        ASSERT_TRUE(form->Tick());
        EXPECT_LT(ProcessCpuSeconds() - before, 0.1);
    }
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>(4, "Ошибка записи в порт"));
    EXPECT_FALSE(form->TMRComm.enabled);
    EXPECT_FALSE(form->Tick());
    EXPECT_TRUE(form->BTNOpenCom.enabled);
    EXPECT_EQ(form->CmbNet.list, (std::vector<std::string>{"0"}));

    const double cpu = ProcessCpuSeconds();
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_LT(ProcessCpuSeconds() - cpu, 0.05);
}

}  // namespace
}  // namespace busdesk::testing
