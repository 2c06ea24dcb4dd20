// Tags through reader 1: search, read, change and read back.
#include <set>

#include "e2e/bus_fixture.h"

namespace busdesk::testing {
namespace {

TEST_F(BusTest, TagSearchShowsATagInReach) {
    Survey();
    ASSERT_EQ(form->UserClick("Find_metki"), frmSerial::Raised::Handled);
    ASSERT_TRUE(StepUntil([this] { return form->MsgCom.caption == "Был ПИНГ."; }));
    EXPECT_EQ(form->textOutCmd.caption, "E0");
    const std::set<std::string> ids = {"1A2B3C4D", "A0B0C0D"};
    EXPECT_TRUE(ids.count(form->outID.caption)) << form->outID.caption;
    if (form->outID.caption == "1A2B3C4D") {
        EXPECT_EQ(form->SerNumMetki.caption, "5001");
        EXPECT_EQ(form->UrPr.caption, "-60");
    } else {
        EXPECT_EQ(form->SerNumMetki.caption, "5002");
        EXPECT_EQ(form->UrPr.caption, "-75");
    }
}

TEST_F(BusTest, NoTagInReachLeavesTheDeviceSilentOnTagPolls) {
    Survey();
    Pick(1);
    ASSERT_TRUE(StepUntil([this] { return form->sn.caption == "100456"; }));
    ASSERT_TRUE(
        StepUntil([this] { return form->MsgCom.caption == "Нет данных с датчика с номером 5"; }));
    EXPECT_EQ(form->outID.caption.find("7A7A"), std::string::npos);
}

TEST_F(BusTest, TagParametersAreWrittenAndReadBack) {
    Survey();
    // The tag polls show both tags in turn; read the first one's parameters.
    ASSERT_TRUE(StepUntil([this] { return form->outID.caption == "1A2B3C4D"; }));
    ASSERT_EQ(form->UserClick("ReadParamMetki"), frmSerial::Raised::Handled);
    ASSERT_TRUE(StepUntil([this] { return form->MsgCom.caption == "Считаны данные."; }));
    EXPECT_EQ(form->outSN.caption, "5001");
    EXPECT_EQ(form->IntervalMetki.caption, "300");
    EXPECT_EQ(form->ModeMetki.caption, "2");
    EXPECT_EQ(form->PowerMetki.caption, "100");
    EXPECT_EQ(form->sleep_time.caption, "60");
    EXPECT_EQ(form->outVer.caption, "2.5..");

    // The serial number of the write comes from the last ping; make it this tag's.
    ASSERT_TRUE(StepUntil([this] { return form->SerNumMetki.caption == "5001"; }));
    Type("ID_Metki", "ABC");
    Type("IntervalMetki", "1000");
    Type("ModeMetki", "3");
    Type("PowerMetki", "200");
    Type("sleep_time", "32767");
    ASSERT_EQ(form->UserClick("SetModesMetki"), frmSerial::Raised::Handled);
    ASSERT_TRUE(
        StepUntil([this] { return form->MsgCom.caption == "Установка параметров метки."; }));
    EXPECT_TRUE(dialogs.messages.empty());

    // The tag now answers the polls under its new identifier; read it back.
    ASSERT_TRUE(StepUntil([this] { return form->outID.caption == "0000ABC"; }));
    form->IntervalMetki.caption.clear();
    form->ModeMetki.caption.clear();
    ASSERT_EQ(form->UserClick("ReadParamMetki"), frmSerial::Raised::Handled);
    ASSERT_TRUE(StepUntil([this] { return form->MsgCom.caption == "Считаны данные."; }));
    EXPECT_EQ(form->outSN.caption, "5001");
    EXPECT_EQ(form->ID_Metki.caption, "0000ABC");
    EXPECT_EQ(form->IntervalMetki.caption, "1000");
    EXPECT_EQ(form->outTime.caption, "1000");
    EXPECT_EQ(form->ModeMetki.caption, "3");
    EXPECT_EQ(form->PowerMetki.caption, "200");
    EXPECT_EQ(form->sleep_time.caption, "32767");
}

}  // namespace
}  // namespace busdesk::testing
