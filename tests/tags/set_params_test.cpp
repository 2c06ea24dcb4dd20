#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/messages.h"
#include "protocol/crc.h"
#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

const Bytes kWorked = {0x31, 0x01, 0xE1, 0x0E, 0x00, 0x00, 0x04, 0xD2, 0x00, 0x00,
                       0x0A, 0xBC, 0x00, 0x64, 0x02, 0x64, 0x00, 0x3C, 0x56};

class SetParamsTest : public ModelTest {
  protected:
    void SetUp() override {
        OpenPort();
        SetDevices({"1"});
        form.last_addr = 1;
        form.SerNumMetki.caption = "1234";
        form.ID_Metki.caption = "ABC";
        form.IntervalMetki.caption = "100";
        form.ModeMetki.caption = "2";
        form.PowerMetki.caption = "100";
        form.sleep_time.caption = "60";
    }
};

TEST_F(SetParamsTest, WorkedExample) {
    ASSERT_EQ(form.UserClick("SetModesMetki"), frmSerial::Raised::Handled);
    EXPECT_EQ(form.wrs, kWorked);
    EXPECT_EQ(form.CmdBoxText.caption, "31 1 E1 E 0 0 4 D2 0 0 A BC 0 64 2 64 0 3C 56 ");
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), kWorked);
}

using Field = Control frmSerial::*;

struct Row {
    std::string name;
    std::vector<std::pair<Field, std::string>> edits;
    const char* message;  // nullptr: accepted
    std::size_t at = 0;   // accepted: these bytes of the frame
    Bytes bytes = {};
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class SetParamsField : public SetParamsTest, public ::testing::WithParamInterface<Row> {};

TEST_P(SetParamsField, AcceptedOrRefused) {
    const Row& row = GetParam();
    for (const auto& [field, text] : row.edits) (form.*field).caption = text;
    const Bytes pending = {0x31, 0x01, 0xF5, 0x00};
    form.wrs = pending;
    form.CmdBoxText.caption = "before";
    form.UserClick("SetModesMetki");
    if (row.message == nullptr) {
        EXPECT_TRUE(dialogs.messages.empty());
        ASSERT_EQ(form.wrs.size(), 19U);
        EXPECT_EQ(Bytes(form.wrs.begin() + static_cast<long>(row.at),
                        form.wrs.begin() + static_cast<long>(row.at + row.bytes.size())),
                  row.bytes);
        EXPECT_EQ(Crc8(form.wrs), 0);
        return;
    }
    ASSERT_EQ(dialogs.Texts(), std::vector<std::string>{row.message});
    EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(dialogs.messages[0].caption, msg::kAppTitle);
    EXPECT_TRUE(form.wrs.empty());  // the pending frame is dropped too
    EXPECT_EQ(form.CmdBoxText.caption, "before");
    ASSERT_TRUE(form.Tick());
    Bytes poll = {0x31, 0x01, 0xF0};
    poll.push_back(Crc8(poll));
    EXPECT_EQ(port.writes.back(), poll);  // nothing of the frame goes out
}

constexpr Field kSerial = &frmSerial::SerNumMetki;
constexpr Field kId = &frmSerial::ID_Metki;
constexpr Field kInterval = &frmSerial::IntervalMetki;
constexpr Field kMode = &frmSerial::ModeMetki;
constexpr Field kPower = &frmSerial::PowerMetki;
constexpr Field kSleep = &frmSerial::sleep_time;
const char* const kRange = msg::kRange2M;

const Row kRows[] = {
    // Interval: two bytes at 12
    {"Interval65000", {{kInterval, "65000"}}, nullptr, 12, {0xFD, 0xE8}},
    {"Interval1", {{kInterval, "1"}}, nullptr, 12, {0x00, 0x01}},
    {"Interval65001", {{kInterval, "65001"}}, kRange},
    {"Interval0", {{kInterval, "0"}}, kRange},
    {"IntervalTieToEven", {{kInterval, "100.5"}}, nullptr, 12, {0x00, 0x64}},
    {"IntervalBlanks", {{kInterval, " \t100 "}}, nullptr, 12, {0x00, 0x64}},
    {"IntervalExponent", {{kInterval, "1e2"}}, kRange},
    {"IntervalEmpty", {{kInterval, ""}}, kRange},
    {"IntervalCyrillic", {{kInterval, "\xD1\x81\xD1\x82\xD0\xBE"}}, kRange},
    // Power: one byte at 15
    {"Power3", {{kPower, "3"}}, nullptr, 15, {0x03}},
    {"Power247", {{kPower, "247"}}, nullptr, 15, {0xF7}},
    {"Power2", {{kPower, "2"}}, kRange},
    {"Power248", {{kPower, "248"}}, kRange},
    // Mode: one byte at 14
    {"Mode255", {{kMode, "255"}}, nullptr, 14, {0xFF}},
    {"Mode0", {{kMode, "0"}}, nullptr, 14, {0x00}},
    {"Mode256", {{kMode, "256"}}, kRange},
    {"ModeMinus1", {{kMode, "-1"}}, kRange},
    {"ModeBlank", {{kMode, "   "}}, kRange},
    // 2^32 + 2 would slip through as 2 if the reader wrapped.
    {"ModeHuge", {{kMode, "4294967298"}}, kRange},
    // Sleep time: two bytes at 16, a 16-bit signed number
    {"Sleep32767", {{kSleep, "32767"}}, nullptr, 16, {0x7F, 0xFF}},
    {"Sleep0", {{kSleep, "0"}}, nullptr, 16, {0x00, 0x00}},
    {"Sleep32768", {{kSleep, "32768"}}, kRange},
    {"Sleep65596", {{kSleep, "65596"}}, kRange},  // 65536 + 60
    {"SleepMinus1", {{kSleep, "-1"}}, kRange},
    {"SleepText", {{kSleep, "sixty"}}, kRange},
    // Serial number: four bytes at 4
    {"SerialZero", {{kSerial, "0"}}, nullptr, 4, {0, 0, 0, 0}},
    {"SerialMax", {{kSerial, "2147483647"}}, nullptr, 4, {0x7F, 0xFF, 0xFF, 0xFF}},
    {"SerialTooBig", {{kSerial, "2147483648"}}, kRange},
    {"SerialNegative", {{kSerial, "-1"}}, kRange},
    {"SerialText", {{kSerial, "????????"}}, kRange},
    // Identifier: four bytes at 8
    {"IdEightDigits", {{kId, "12345678"}}, nullptr, 8, {0x12, 0x34, 0x56, 0x78}},
    {"IdLowerCase", {{kId, "deadbeef"}}, nullptr, 8, {0xDE, 0xAD, 0xBE, 0xEF}},
    {"IdEmpty", {{kId, ""}}, nullptr, 8, {0, 0, 0, 0}},
    {"IdOneDigit", {{kId, "F"}}, nullptr, 8, {0, 0, 0, 0x0F}},
    {"IdNineChars", {{kId, "123456789"}}, msg::kTooManyIdChars},
    {"IdNotHex", {{kId, "12G4"}}, msg::kNotHex},
    {"IdBlank", {{kId, "AB C"}}, msg::kNotHex},
    {"IdCyrillic", {{kId, "\xD0\x90\xD0\x92"}}, msg::kNotHex},
    // Which message wins when several fields are wrong
    {"TextBeatsId", {{kMode, "x"}, {kId, "123456789"}}, kRange},
    {"IntervalBeatsId", {{kInterval, "0"}, {kId, "12G4"}}, kRange},
    {"IdBeatsNegativeMode", {{kId, "123456789"}, {kMode, "-1"}}, msg::kTooManyIdChars},
    {"IdBeatsSleep", {{kId, "12G4"}, {kSleep, "x"}}, msg::kNotHex},
    {"LengthBeatsCharacters", {{kId, "12G456789"}}, msg::kTooManyIdChars},
};

INSTANTIATE_TEST_SUITE_P(Rows, SetParamsField, ::testing::ValuesIn(kRows),
                         [](const auto& row) { return row.param.name; });

TEST_F(SetParamsTest, NoReaderSelectedEmptiesTheCommandBox) {
    form.UserSetText("CmbNet", "");
    ASSERT_EQ(form.CmbNet.listIndex, -1);
    form.wrs = {0x31, 0x01, 0xF5, 0x00};
    form.CmdBoxText.caption = "before";
    form.UserClick("SetModesMetki");
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{msg::kNoDevice});
    EXPECT_TRUE(form.wrs.empty());
    EXPECT_EQ(form.CmdBoxText.caption, "");
}

}  // namespace
}  // namespace busdesk::testing
