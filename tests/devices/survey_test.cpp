#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/crc.h"
#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

const Bytes kSurvey = {0x31, 0xFF, 0xDC};

class SurveyTest : public ModelTest {
  protected:
    void SetUp() override { OpenPort(); }

    // One tick; returns what it wrote.
    Bytes TickWrites() {
        const std::size_t before = port.writes.size();
        EXPECT_TRUE(form.Tick());
        EXPECT_EQ(port.writes.size(), before + 1);
        return port.writes.empty() ? Bytes{} : port.writes.back();
    }

    Bytes ReaderPoll(std::uint8_t address) {
        Bytes f = {0x31, address, 0xF0};
        f.push_back(Crc8(f));
        return f;
    }
};

TEST_F(SurveyTest, ClickQueuesTheBroadcastWhateverIsSelected) {
    SetDevices({"7", "9"});
    form.UserPick("CmbNet", 1);
    form.wrs = {0x31, 0x09, 0xF5, 0x00};
    form.mode_yes = false;
    ASSERT_EQ(form.UserClick("Opros"), frmSerial::Raised::Handled);
    EXPECT_EQ(form.wrs, kSurvey);
    // 0xFF and 0xDC are "я" and "Ь" in the Windows-1251 code page.
    EXPECT_EQ(form.txtRec.caption, "31 FF DC \r\n\r\n1яЬ");
    EXPECT_TRUE(form.net_opr);
    EXPECT_TRUE(form.mode_yes);
    EXPECT_EQ(form.CmbNet.list, (std::vector<std::string>{"7", "9"}));
    EXPECT_TRUE(port.writes.empty());  // the click itself sends nothing
}

TEST_F(SurveyTest, SecondClickBeforeTheAnswerQueuesOneBroadcast) {
    form.UserClick("Opros");
    form.UserClick("Opros");
    EXPECT_EQ(form.wrs, kSurvey);
    EXPECT_TRUE(form.net_opr);
    EXPECT_EQ(TickWrites(), kSurvey);

    // Clicked again after the first broadcast went out: it goes out again and the
    // survey is still awaited.
    form.UserClick("Opros");
    EXPECT_EQ(TickWrites(), kSurvey);
    EXPECT_TRUE(form.net_opr);
    port.QueueReception({0x04});
    TickWrites();
    EXPECT_EQ(form.CmbNet.list, std::vector<std::string>{"4"});
}

// Click, broadcast written, a framed reply to an earlier frame, the unframed
// answer, the list filled, the serial-number request sent once.
TEST_F(SurveyTest, CourseOverSeveralTicks) {
    ASSERT_EQ(form.last_addr, 0);
    form.UserClick("Opros");

    // Answer to an older frame: decoded as usual, the survey stays pending.
    Bytes confirm = {0x3E, 0x00, 0xFB};
    confirm.push_back(Crc8(confirm));
    port.QueueReception(confirm);
    EXPECT_EQ(TickWrites(), kSurvey);
    EXPECT_TRUE(form.net_opr);
    EXPECT_EQ(form.MsgCom.caption, " Установлен сетевой номер.");

    port.QueueReception({0x01, 0x05, 0x07});
    // Nothing else is pending, so this tick sends an idle poll of the old device.
    EXPECT_EQ(TickWrites(), ReaderPoll(0));
    EXPECT_FALSE(form.net_opr);
    EXPECT_EQ(form.CmbNet.list, (std::vector<std::string>{"1", "5", "7"}));
    EXPECT_EQ(form.CmbNet.listIndex, 0);
    EXPECT_EQ(form.netdev.caption, "1 5 7 ");
    EXPECT_EQ(form.txtRec.caption, "1 5 7 ");
    EXPECT_EQ(form.MsgCom.caption, "Произошел опрос сети.");

    // The decoder and the device-change step both ask; it is sent once.
    EXPECT_EQ(TickWrites(), (Bytes{0x31, 0x01, 0xFC, 0x66}));
    EXPECT_EQ(form.last_addr, 1);
    EXPECT_EQ(TickWrites(), (Bytes{0x31, 0x01, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A, 0x25}));
    EXPECT_EQ(TickWrites(), ReaderPoll(1));
}

TEST_F(SurveyTest, SingleDeviceAtAddressZero) {
    SetDevices({"3"});
    form.last_addr = 3;
    form.UserClick("Opros");
    TickWrites();
    port.QueueReception({0x00});
    TickWrites();
    EXPECT_EQ(form.CmbNet.list, std::vector<std::string>{"0"});
    EXPECT_EQ(form.CmbNet.caption, "0");
    EXPECT_EQ(TickWrites(), (Bytes{0x31, 0x00, 0xFC, 0xA2}));
}

struct AnswerRow {
    std::size_t length;
    bool accepted;
};

class SurveyAnswerLength : public SurveyTest, public ::testing::WithParamInterface<AnswerRow> {};

TEST_P(SurveyAnswerLength, ShorterThanTwentyFillsTheList) {
    SetDevices({"2"});
    form.last_addr = 2;
    form.UserClick("Opros");
    TickWrites();
    // 0xFF and repeated addresses are taken as they come.
    Bytes answer;
    for (std::size_t i = 0; i < GetParam().length; ++i)
        answer.push_back(static_cast<std::uint8_t>(i % 2 == 0 ? 0xFF : 9));
    port.QueueReception(answer);
    TickWrites();
    EXPECT_FALSE(form.net_opr);
    if (GetParam().accepted) {
        ASSERT_EQ(form.CmbNet.list.size(), GetParam().length);
        EXPECT_EQ(form.CmbNet.list.front(), "255");
        if (GetParam().length > 1) {
            EXPECT_EQ(form.CmbNet.list[1], "9");
        }
        EXPECT_EQ(form.CmbNet.listIndex, 0);
        EXPECT_EQ(form.MsgCom.caption, "Произошел опрос сети.");
        EXPECT_EQ(TickWrites(), (Bytes{0x31, 0xFF, 0xFC, Crc8(Bytes{0x31, 0xFF, 0xFC})}));
    } else {
        EXPECT_EQ(form.CmbNet.list, std::vector<std::string>{"2"});
        EXPECT_EQ(form.CmbNet.listIndex, 0);
        EXPECT_NE(form.MsgCom.caption, "Произошел опрос сети.");
        // A later unframed reception is no answer any more.
        port.QueueReception({0x01});
        TickWrites();
        EXPECT_EQ(form.CmbNet.list, std::vector<std::string>{"2"});
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, SurveyAnswerLength,
                         ::testing::Values(AnswerRow{1, true}, AnswerRow{2, true},
                                           AnswerRow{19, true}, AnswerRow{20, false},
                                           AnswerRow{21, false}, AnswerRow{60, false}));

// Picking another device between the click and the tick sends its serial-number
// request instead; the broadcast is lost but the answer is still awaited.
TEST_F(SurveyTest, PickBeforeTheTickReplacesTheBroadcast) {
    SetDevices({"1", "5"});
    TickWrites();  // serial-number request to 1
    ASSERT_EQ(form.last_addr, 1);
    form.UserClick("Opros");
    form.UserPick("CmbNet", 1);
    EXPECT_EQ(form.wrs, kSurvey);  // picking raises nothing by itself
    EXPECT_EQ(TickWrites(), (Bytes{0x31, 0x05, 0xFC, 0x5D}));
    EXPECT_TRUE(form.net_opr);
    port.QueueReception({0x08});
    TickWrites();
    EXPECT_EQ(form.CmbNet.list, std::vector<std::string>{"8"});
}

TEST_F(SurveyTest, EditingTheDeviceTextActsAtOnce) {
    SetDevices({"1", "5"});
    form.last_addr = 1;
    form.UserClick("Opros");
    form.UserSetText("CmbNet", "5");
    EXPECT_EQ(form.wrs, (Bytes{0x31, 0x05, 0xFC, 0x5D}));
    EXPECT_EQ(form.CmbNet.listIndex, 1);

    // Text that names no entry leaves nothing selected and nothing to send.
    form.UserClick("Opros");
    form.UserSetText("CmbNet", "6");
    EXPECT_EQ(form.CmbNet.listIndex, -1);
    EXPECT_TRUE(form.wrs.empty());
    EXPECT_EQ(TickWrites(), Bytes{});
    EXPECT_TRUE(form.net_opr);
}

}  // namespace
}  // namespace busdesk::testing
