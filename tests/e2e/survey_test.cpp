// A technician's first minutes: find the devices, watch one, change it.
#include <set>

#include "e2e/bus_fixture.h"

namespace busdesk::testing {
namespace {

TEST_F(BusTest, SurveyListsDevicesThenFirstSerialAndVersion) {
    ASSERT_EQ(form->UserClick("Opros"), frmSerial::Raised::Handled);
    ASSERT_TRUE(StepUntil([this] { return form->MsgCom.caption == "Произошел опрос сети."; }));
    EXPECT_EQ(form->CmbNet.list, (std::vector<std::string>{"1", "5", "7"}));
    EXPECT_EQ(form->CmbNet.SelectedEntry(), "1");
    EXPECT_EQ(form->netdev.caption, "1 5 7 ");
    EXPECT_FALSE(form->net_opr);

    ASSERT_TRUE(StepUntil([this] { return form->sn.caption == "100123"; }));
    EXPECT_EQ(form->vv.caption, "1.3.4.");
    // The first reader data reply after the survey shows reader 1's mode.
    ASSERT_TRUE(StepUntil([this] { return form->ne.caption == "1"; }));
    EXPECT_EQ(form->R_a.value, 1);
    EXPECT_FALSE(form->mode_yes);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(BusTest, ReaderValuesAreShownAndChange) {
    Connect(sim::DefaultBusConfig(), /*drift=*/true);
    Survey();
    std::set<std::string> currents;
    ASSERT_TRUE(StepUntil(
        [&] {
            if (form->ne.caption == "1") currents.insert(form->tek.caption);
            return currents.size() >= 3;
        },
        60));
    EXPECT_EQ(form->temp.caption.substr(form->temp.caption.size() - 4), " °C");
    const int level = std::stoi(form->uroven.caption);
    EXPECT_GE(level, 0);
    EXPECT_LT(level, 1024);
    EXPECT_EQ(form->ProgressBar1.value, level);
    EXPECT_EQ(form->lo.caption, "20000");
    EXPECT_EQ(form->hi.caption, "90000");
    EXPECT_EQ(form->ko.caption, "100");
    EXPECT_EQ(form->Pic.fillColor, lamp::kRed);
}

TEST_F(BusTest, ModeIsShownOnceAfterEachSurvey) {
    Survey();
    ASSERT_TRUE(StepUntil([this] { return form->ne.caption == "1" && !form->mode_yes; }));
    // The user's choice stays while the device keeps reporting its own mode...
    ASSERT_EQ(form->UserClick("R485"), frmSerial::Raised::Handled);
    UntilDataPollIsNext();
    Step();
    Step();
    EXPECT_EQ(form->R485.value, 1);
    EXPECT_EQ(form->R_a.value, 0);
    // ...until a new survey asks for it again.
    Survey();
    ASSERT_TRUE(StepUntil([this] { return !form->mode_yes; }));
    EXPECT_EQ(form->R_a.value, 1);
    EXPECT_EQ(form->R485.value, 0);
}

TEST_F(BusTest, PickingAnotherDeviceAsksItForItsSerialNumber) {
    Survey();
    Pick(2);
    ASSERT_TRUE(StepUntil([this] { return form->sn.caption == "100789"; }));
    EXPECT_EQ(form->vv.caption, "1.2.5.");
    ASSERT_TRUE(StepUntil([this] { return form->ne.caption == "7"; }));
    EXPECT_EQ(form->ko.caption, "80");
}

TEST_F(BusTest, NewModeIsSetAndConfirmed) {
    Survey();
    Pick(1);
    ASSERT_TRUE(StepUntil([this] { return form->sn.caption == "100456"; }));
    ASSERT_EQ(form->UserClick("R485"), frmSerial::Raised::Handled);
    ASSERT_EQ(form->UserClick("iinv"), frmSerial::Raised::NoHandler);
    EXPECT_EQ(form->iinv.value, 1);
    ASSERT_EQ(form->UserClick("Set_mode"), frmSerial::Raised::Handled);
    ASSERT_TRUE(StepUntil([this] { return form->MsgCom.caption == " Установлен новый режим."; }));
    EXPECT_EQ(bus->Readers()[1].mode, 0x80);
    EXPECT_EQ(form->R485.value, 1);
    EXPECT_EQ(form->iinv.value, 1);
}

TEST_F(BusTest, AddressChangeThenSurveyListsTheNewAddress) {
    Survey();
    Pick(1);
    ASSERT_TRUE(StepUntil([this] { return form->sn.caption == "100456"; }));
    dialogs.inputAnswers.push_back("12");
    ASSERT_EQ(form->UserClick("net"), frmSerial::Raised::Handled);
    ASSERT_TRUE(StepUntil([this] { return form->MsgCom.caption == " Установлен сетевой номер."; }));
    // The list still names the old address, where nobody answers any more.
    ASSERT_TRUE(
        StepUntil([this] { return form->MsgCom.caption == "Нет данных с датчика с номером 5"; }));
    Survey();
    EXPECT_EQ(form->CmbNet.list, (std::vector<std::string>{"1", "12", "7"}));
    Pick(1);
    ASSERT_TRUE(StepUntil([this] { return form->sn.caption == "100456"; }));
    ASSERT_TRUE(StepUntil([this] { return form->ne.caption == "12"; }));
}

TEST_F(BusTest, CalibrationIsConfirmedAndMovesTheLimits) {
    Survey();
    ASSERT_TRUE(StepUntil([this] { return form->ne.caption == "1"; }));
    const std::string current = form->tek.caption;
    ASSERT_NE(form->hi.caption, current);

    dialogs.answers.push_back(MsgResult::Yes);
    ASSERT_EQ(form->UserClick("hig"), frmSerial::Raised::Handled);
    ASSERT_TRUE(
        StepUntil([this] { return form->MsgCom.caption == " Установлен верхний уровень."; }));
    ASSERT_TRUE(StepUntil([&] { return form->hi.caption == current; }));
    EXPECT_EQ(form->uroven.caption, "1023");
    EXPECT_EQ(form->ProgressBar1.value, 1023);

    dialogs.answers.push_back(MsgResult::Yes);
    ASSERT_EQ(form->UserClick("low"), frmSerial::Raised::Handled);
    ASSERT_TRUE(
        StepUntil([this] { return form->MsgCom.caption == " Установлен нижний уровень."; }));
    ASSERT_TRUE(StepUntil([&] { return form->lo.caption == current; }));
    EXPECT_EQ(form->uroven.caption, "0");

    // Answering No sends nothing: the device keeps its limits.
    dialogs.answers.push_back(MsgResult::No);
    ASSERT_EQ(form->UserClick("hig"), frmSerial::Raised::Handled);
    const std::size_t before = history.size();
    Step();
    Step();
    for (std::size_t i = before; i < history.size(); ++i) {
        EXPECT_EQ(history[i].sent.rfind("31_1_F5_", 0), std::string::npos) << history[i].sent;
    }
}

}  // namespace
}  // namespace busdesk::testing
