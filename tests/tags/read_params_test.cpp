#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "app/messages.h"
#include "protocol/crc.h"
#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

Bytes ReadRequest(std::uint8_t reader, const Bytes& id) {
    Bytes f = {0x31, reader, 0xE3, id.at(0), id.at(1), id.at(2), id.at(3)};
    f.push_back(Crc8(f));
    return f;
}

class ReadParamsTest : public ModelTest {
  protected:
    void SetUp() override {
        OpenPort();
        SetDevices({"1"});
        form.last_addr = 1;
    }
};

TEST_F(ReadParamsTest, WorkedExample) {
    form.outID.caption = "1234567";
    ASSERT_EQ(form.UserClick("ReadParamMetki"), frmSerial::Raised::Handled);
    const Bytes expected = {0x31, 0x01, 0xE3, 0x01, 0x23, 0x45, 0x67, 0xF7};
    EXPECT_EQ(form.wrs, expected);
    EXPECT_EQ(form.CmdBoxText.caption, "31_1_E3_1_23_45_67_F7_");
    EXPECT_EQ(form.fill_id, 1);
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), expected);
}

struct CaptionRow {
    std::string caption;
    std::optional<Bytes> id;  // nullopt: refused
    const char* message;      // when refused
};

void PrintTo(const CaptionRow& row, std::ostream* os) {
    *os << '[' << row.caption << ']';
}

class ReadParamsCaption : public ReadParamsTest,
                          public ::testing::WithParamInterface<CaptionRow> {};

TEST_P(ReadParamsCaption, IsReadOrRefused) {
    const CaptionRow& row = GetParam();
    form.outID.caption = row.caption;
    form.ID_Metki.caption = "DEADBEEF";  // never the source of this request
    const Bytes pending = {0x31, 0x01, 0xF5, 0x00};
    form.wrs = pending;
    form.UserClick("ReadParamMetki");
    if (row.id) {
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(form.wrs, ReadRequest(1, *row.id));
        EXPECT_EQ(form.fill_id, 1);
        return;
    }
    ASSERT_EQ(dialogs.Texts(), std::vector<std::string>{row.message});
    EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(dialogs.messages[0].caption, msg::kAppTitle);
    EXPECT_EQ(form.wrs, pending);
    EXPECT_EQ(form.fill_id, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadParamsCaption,
    ::testing::Values(CaptionRow{"0", Bytes{0, 0, 0, 0}, nullptr},
                      CaptionRow{"", Bytes{0, 0, 0, 0}, nullptr},
                      CaptionRow{"FFFFFFFF", Bytes{0xFF, 0xFF, 0xFF, 0xFF}, nullptr},
                      CaptionRow{"ABCDEF12", Bytes{0xAB, 0xCD, 0xEF, 0x12}, nullptr},
                      CaptionRow{"abcdef12", Bytes{0xAB, 0xCD, 0xEF, 0x12}, nullptr},
                      CaptionRow{"ABCDEF1", Bytes{0x0A, 0xBC, 0xDE, 0xF1}, nullptr},
                      CaptionRow{"123456789", std::nullopt, msg::kTooManyIdChars},
                      CaptionRow{"GGGGGGGGG", std::nullopt, msg::kTooManyIdChars},  // length first
                      CaptionRow{"12 34", std::nullopt, msg::kNotHex},
                      CaptionRow{" 1234", std::nullopt, msg::kNotHex},
                      CaptionRow{"12G4", std::nullopt, msg::kNotHex},
                      CaptionRow{"-1", std::nullopt, msg::kNotHex},
                      // Five Cyrillic letters are five characters, so this is not "too many".
                      CaptionRow{"\xD0\x90\xD0\x91\xD0\x92\xD0\x93\xD0\x94", std::nullopt,
                                 msg::kNotHex}));

TEST_F(ReadParamsTest, NoReaderSelectedQueuesNothingAndSaysNothing) {
    form.UserSetText("CmbNet", "");
    ASSERT_EQ(form.CmbNet.listIndex, -1);
    form.outID.caption = "1234567";
    EXPECT_EQ(form.UserClick("ReadParamMetki"), frmSerial::Raised::Handled);
    EXPECT_TRUE(form.wrs.empty());
    EXPECT_EQ(form.fill_id, 0);
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), Bytes{});
}

}  // namespace
}  // namespace busdesk::testing
