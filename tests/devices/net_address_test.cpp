#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "app/messages.h"
#include "protocol/crc.h"
#include "protocol/text.h"
#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

Bytes AddressRequest(std::uint8_t current, std::uint8_t wanted) {
    Bytes f = {0x31, current, 0xFB, wanted};
    f.push_back(Crc8(f));
    return f;
}

class NetAddressTest : public ModelTest {
  protected:
    void SetUp() override {
        OpenPort();
        SetDevices({"5", "9"});
        form.last_addr = 5;
    }

    void Answer(const std::string& text) {
        dialogs.inputAnswers.push_back(text);
        ASSERT_EQ(form.UserClick("net"), frmSerial::Raised::Handled);
    }
};

TEST_F(NetAddressTest, WorkedExample) {
    Answer("7");
    EXPECT_EQ(form.wrs, (Bytes{0x31, 0x05, 0xFB, 0x07, 0xCB}));
    EXPECT_EQ(form.txtRec.caption.substr(0, form.txtRec.caption.find('\r')), "31 5 FB 7 CB ");
    ASSERT_EQ(dialogs.inputs.size(), 1U);
    EXPECT_EQ(dialogs.inputs[0].prompt, "Введите новый сетевой номер");
    EXPECT_EQ(dialogs.inputs[0].title, "Ввод сетевого номера");
    EXPECT_EQ(dialogs.inputs[0].defaultText, "5");
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form.CmbNet.list, (std::vector<std::string>{"5", "9"}));  // list kept

    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), (Bytes{0x31, 0x05, 0xFB, 0x07, 0xCB}));
}

struct AnswerRow {
    std::string text;
    std::optional<std::uint8_t> address;  // nullopt: refused with the range message
};

void PrintTo(const AnswerRow& row, std::ostream* os) {
    *os << '[' << row.text.substr(0, 40) << ']';
}

class NetAddressAnswer : public NetAddressTest, public ::testing::WithParamInterface<AnswerRow> {};

TEST_P(NetAddressAnswer, AcceptsZeroToTwoHundred) {
    const AnswerRow& row = GetParam();
    Answer(row.text);
    if (row.address) {
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(form.wrs, AddressRequest(5, *row.address));
        return;
    }
    ASSERT_EQ(dialogs.Texts(), std::vector<std::string>{msg::kRange200});
    EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(dialogs.messages[0].caption, msg::kAppTitle);
    EXPECT_TRUE(form.wrs.empty());
    // Nothing queued: the next tick runs the idle poll.
    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), (Bytes{0x31, 0x05, 0xF0, Crc8(Bytes{0x31, 0x05, 0xF0})}));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NetAddressAnswer,
    ::testing::Values(AnswerRow{"0", 0}, AnswerRow{"200", 200}, AnswerRow{" 12\t", 12},
                      AnswerRow{"+3", 3}, AnswerRow{"6.5", 6}, AnswerRow{"7.5", 8},
                      AnswerRow{"199.6", 200}, AnswerRow{"-0.4", 0}, AnswerRow{"201", std::nullopt},
                      AnswerRow{"200.6", std::nullopt}, AnswerRow{"255", std::nullopt},
                      AnswerRow{"256", std::nullopt}, AnswerRow{"-1", std::nullopt},
                      AnswerRow{"   ", std::nullopt}, AnswerRow{"abc", std::nullopt},
                      AnswerRow{"1e2", std::nullopt}, AnswerRow{"1,5", std::nullopt},
                      AnswerRow{"- 5", std::nullopt}, AnswerRow{"+", std::nullopt},
                      AnswerRow{"\xD0\xB4\xD0\xB2\xD0\xB0", std::nullopt},  // "два"
                      AnswerRow{std::string(400, '1'), std::nullopt},
                      // 2^64 + 7 would look like 7 if the reader wrapped.
                      AnswerRow{"18446744073709551623", std::nullopt}));

TEST_F(NetAddressTest, EmptyAnswerOrCancelDoesNothing) {
    form.wrs = {0x31, 0x05, 0xF5, 0xC1};
    form.txtRec.caption = "before";
    Answer("");
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form.wrs, (Bytes{0x31, 0x05, 0xF5, 0xC1}));
    EXPECT_EQ(form.txtRec.caption, "before");
}

TEST_F(NetAddressTest, UnchangedDefaultGivesTheSameAddressAgain) {
    ASSERT_EQ(form.UserClick("net"), frmSerial::Raised::Handled);  // takes the default
    EXPECT_EQ(form.wrs, AddressRequest(5, 5));
}

// A frame still pending stays in front and both go out in one write.
TEST_F(NetAddressTest, AppendsBehindAPendingFrame) {
    const Bytes pending = {0x31, 0x05, 0xF2, 0x02, Crc8(Bytes{0x31, 0x05, 0xF2, 0x02})};
    form.wrs = pending;
    Answer("7");
    Bytes both = pending;
    both.insert(both.end(), {0x31, 0x05, 0xFB, 0x07, 0xCB});
    EXPECT_EQ(form.wrs, both);
    // The echo shows the whole of what is pending, the earlier frame included.
    EXPECT_EQ(form.txtRec.caption.substr(0, form.txtRec.caption.find('\r')),
              "31 5 F2 2 " + HexText(pending[4]) + " 31 5 FB 7 CB ");
    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), both);
}

TEST_F(NetAddressTest, NoDeviceSelectedIsRefusedAfterTheAnswer) {
    form.UserSetText("CmbNet", "42");  // names no entry
    ASSERT_EQ(form.CmbNet.listIndex, -1);
    Answer("");
    ASSERT_EQ(dialogs.inputs.size(), 1U);
    EXPECT_EQ(dialogs.inputs[0].defaultText, "");
    EXPECT_TRUE(dialogs.messages.empty());

    Answer("7");
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{msg::kNoDevice});
    EXPECT_TRUE(form.wrs.empty());
    // The selection is checked before the number.
    Answer("abc");
    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{msg::kNoDevice, msg::kNoDevice}));
}

}  // namespace
}  // namespace busdesk::testing
