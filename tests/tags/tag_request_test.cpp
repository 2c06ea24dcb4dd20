#include <gtest/gtest.h>

#include <string>

#include "protocol/crc.h"
#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

class TagRequestTest : public ModelTest {
  protected:
    void SetUp() override { OpenPort(); }
};

TEST_F(TagRequestTest, SearchWorkedExamples) {
    SetDevices({"1"});
    ASSERT_EQ(form.UserClick("Find_metki"), frmSerial::Raised::Handled);
    EXPECT_EQ(form.wrs, (Bytes{0x31, 0x01, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A, 0x25}));
    EXPECT_EQ(form.CmdBoxText.caption, "31_1_E0_7A_7A_7A_7A_25_");

    SetDevices({"5"});
    form.UserClick("Find_metki");
    EXPECT_EQ(form.wrs, (Bytes{0x31, 0x05, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A, 0xF9}));
}

TEST_F(TagRequestTest, IdentifierTravelsMostSignificantFirst) {
    SetDevices({"1"});
    struct Row {
        std::uint32_t id;
        Bytes payload;
    };
    const Row rows[] = {{0, {0, 0, 0, 0}},
                        {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
                        {0x01234567, {0x01, 0x23, 0x45, 0x67}},
                        {0x80000001, {0x80, 0x00, 0x00, 0x01}}};
    for (const Row& row : rows) {
        form.CMD_zapros_metki(row.id, 0xE3);
        ASSERT_EQ(form.wrs.size(), 8U);
        EXPECT_EQ(Bytes(form.wrs.begin() + 3, form.wrs.begin() + 7), row.payload) << row.id;
        EXPECT_EQ(Crc8(form.wrs), 0) << row.id;  // the CRC closes the frame
    }
}

TEST_F(TagRequestTest, TwoPressesLeaveOneRequest) {
    SetDevices({"1"});
    form.last_addr = 1;
    form.UserClick("Find_metki");
    form.UserClick("Find_metki");
    const Bytes search = {0x31, 0x01, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A, 0x25};
    EXPECT_EQ(form.wrs, search);
    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), search);
}

TEST_F(TagRequestTest, SearchEqualsTheTagHalfOfTheIdlePoll) {
    SetDevices({"1"});
    form.last_addr = 1;
    ASSERT_TRUE(form.Tick());  // reader data poll
    ASSERT_TRUE(form.Tick());  // tag poll
    const Bytes idleTagPoll = port.writes.back();
    form.UserClick("Find_metki");
    EXPECT_EQ(form.wrs, idleTagPoll);
}

TEST_F(TagRequestTest, NoReaderSelectedQueuesNothing) {
    form.UserSetText("CmbNet", "nope");
    ASSERT_EQ(form.CmbNet.listIndex, -1);
    form.CmdBoxText.caption = "before";
    EXPECT_EQ(form.UserClick("Find_metki"), frmSerial::Raised::Handled);
    EXPECT_TRUE(form.wrs.empty());
    EXPECT_EQ(form.CmdBoxText.caption, "before");
    EXPECT_TRUE(dialogs.messages.empty());
    // The program goes on: a tick still runs and sends nothing.
    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), Bytes{});
}

}  // namespace
}  // namespace busdesk::testing
