#include <gtest/gtest.h>

#include <string>

#include "app/messages.h"
#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

struct CalibrationRow {
    const char* button;
    const char* question;
    Bytes frameFor5;
};

const CalibrationRow kRows[] = {
    {"hig",
     "Сейчас будет произведена перекалибровка верхнего уровня. Вы уверены что это нужно?",
     {0x31, 0x05, 0xF5, 0xC1}},
    {"low",
     "Сейчас будет произведена перекалибровка нижнего уровня. Вы уверены что это нужно?",
     {0x31, 0x05, 0xFA, 0x80}},
};

class CalibrationTest : public ModelTest, public ::testing::WithParamInterface<CalibrationRow> {
  protected:
    void SetUp() override {
        OpenPort();
        SetDevices({"5"});
        form.last_addr = 5;
    }
    const Bytes pending = {0x31, 0x05, 0xFB, 0x07, 0xCB};
};

TEST_P(CalibrationTest, YesReplacesWhateverWasPending) {
    form.wrs = pending;
    form.txtRec.caption = "before";
    dialogs.answers.push_back(MsgResult::Yes);
    ASSERT_EQ(form.UserClick(GetParam().button), frmSerial::Raised::Handled);
    ASSERT_EQ(dialogs.messages.size(), 1U);
    EXPECT_EQ(dialogs.messages[0].text, GetParam().question);
    EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::None);
    EXPECT_EQ(dialogs.messages[0].caption, msg::kAppTitle);
    EXPECT_EQ(form.wrs, GetParam().frameFor5);
    EXPECT_EQ(form.txtRec.caption, "before");  // shown when it is sent, not now

    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), GetParam().frameFor5);
}

TEST_P(CalibrationTest, NoLeavesThePendingFrame) {
    form.wrs = pending;
    dialogs.answers.push_back(MsgResult::No);
    form.UserClick(GetParam().button);
    EXPECT_EQ(dialogs.messages.size(), 1U);
    EXPECT_EQ(form.wrs, pending);
}

TEST_P(CalibrationTest, NoDeviceSelectedAsksNothing) {
    form.UserSetText("CmbNet", "77");
    ASSERT_EQ(form.CmbNet.listIndex, -1);
    form.wrs = pending;
    dialogs.answers.push_back(MsgResult::Yes);
    form.UserClick(GetParam().button);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form.wrs, pending);
}

INSTANTIATE_TEST_SUITE_P(Buttons, CalibrationTest, ::testing::ValuesIn(kRows),
                         [](const auto& row) { return std::string(row.param.button); });

}  // namespace
}  // namespace busdesk::testing
