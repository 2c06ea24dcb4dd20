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

Bytes WithCrc(Bytes f) {
    f.push_back(Crc8(f));
    return f;
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\r'));
}

class TagDialogTest : public ModelTest {
  protected:
    void SetUp() override {
        OpenPort();
        SetDevices({"3"});
        form.last_addr = 3;
    }

    void Press(const char* button, const std::string& answer) {
        dialogs.inputAnswers.push_back(answer);
        ASSERT_EQ(form.UserClick(button), frmSerial::Raised::Handled);
    }

    const Bytes pending = {0x31, 0x03, 0xF5, 0x00};
};

TEST_F(TagDialogTest, SerialNumberWorkedExamples) {
    form.outID.caption = "00001234";
    Press("InstSN", "100");
    const Bytes expected = {0x31, 0x03, 0xE2, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00, 0x00, 0x64, 0x49};
    EXPECT_EQ(form.wrs, expected);
    EXPECT_EQ(FirstLine(form.txtRec.caption), "31 3 E2 0 0 12 34 0 0 0 64 49 ");
    ASSERT_EQ(dialogs.inputs.size(), 1U);
    EXPECT_EQ(dialogs.inputs[0].prompt, "Введите серийный номер метки");
    EXPECT_EQ(dialogs.inputs[0].title, "Ввод серийного номера метки");
    EXPECT_EQ(dialogs.inputs[0].defaultText, "0");
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), expected);

    SetDevices({"1"});
    form.outID.caption = "01234567";
    Press("InstSN", "2000000");
    EXPECT_EQ(form.wrs,
              (Bytes{0x31, 0x01, 0xE2, 0x01, 0x23, 0x45, 0x67, 0x00, 0x1E, 0x84, 0x80, 0x75}));
}

TEST_F(TagDialogTest, SerialNumberNamesTagZeroBeforeAnyTagAnswered) {
    ASSERT_EQ(form.outID.caption, "0");
    Press("InstSN", "1");
    EXPECT_EQ(form.wrs, WithCrc({0x31, 0x03, 0xE2, 0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST_F(TagDialogTest, IdentifierRequestCarriesTheTypedIdentifierOnly) {
    form.ID_Metki.caption = "1234567";
    Press("Set_ident", "5");
    const Bytes expected = WithCrc({0x31, 0x03, 0xE4, 0x01, 0x23, 0x45, 0x67});
    EXPECT_EQ(form.wrs, expected);
    EXPECT_EQ(FirstLine(form.txtRec.caption), "31 3 E4 1 23 45 67 " + HexText(expected[7]) + " ");
    ASSERT_EQ(dialogs.inputs.size(), 1U);
    EXPECT_EQ(dialogs.inputs[0].prompt, "Введите ID номер метки");
    EXPECT_EQ(dialogs.inputs[0].title, "Ввод ID номера метки");
    EXPECT_EQ(dialogs.inputs[0].defaultText, "0");
    // The number is checked, not sent; outID plays no part.
    form.outID.caption = "FFFFFFFF";
    Press("Set_ident", "1999999");
    EXPECT_EQ(form.wrs, expected);
    form.ID_Metki.caption = "";
    Press("Set_ident", "0");
    EXPECT_EQ(form.wrs, WithCrc({0x31, 0x03, 0xE4, 0, 0, 0, 0}));
    EXPECT_TRUE(dialogs.messages.empty());
}

struct NumberRow {
    std::string text;
    std::optional<std::uint32_t> serial;  // nullopt: refused
};

void PrintTo(const NumberRow& row, std::ostream* os) {
    *os << '[' << row.text.substr(0, 40) << ']';
}

class TagDialogNumber : public TagDialogTest, public ::testing::WithParamInterface<NumberRow> {};

TEST_P(TagDialogNumber, SerialNumberFromZeroToTwoMillion) {
    const NumberRow& row = GetParam();
    form.outID.caption = "ABCDEF12";
    form.wrs = pending;
    form.txtRec.caption = "before";
    Press("InstSN", row.text);
    if (row.serial) {
        const std::uint32_t v = *row.serial;
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(form.wrs,
                  WithCrc({0x31, 0x03, 0xE2, 0xAB, 0xCD, 0xEF, 0x12,
                           static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                           static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}));
        return;
    }
    ASSERT_EQ(dialogs.Texts(), std::vector<std::string>{msg::kRange2M});
    EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::Ok);
    EXPECT_TRUE(form.wrs.empty());
    EXPECT_EQ(form.txtRec.caption, "before");
    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), WithCrc({0x31, 0x03, 0xF0}));  // only the idle poll
}

TEST_P(TagDialogNumber, IdentifierDialogChecksTheSameRange) {
    form.wrs = pending;
    Press("Set_ident", GetParam().text);
    if (GetParam().serial) {
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(form.wrs, WithCrc({0x31, 0x03, 0xE4, 0, 0, 0, 0}));  // ID_Metki starts at "0"
    } else {
        EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{msg::kRange2M});
        EXPECT_TRUE(form.wrs.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TagDialogNumber,
    ::testing::Values(NumberRow{"0", 0}, NumberRow{"2000000", 2000000}, NumberRow{"100", 100},
                      NumberRow{" 100 ", 100}, NumberRow{"+7", 7}, NumberRow{"1999999.5", 2000000},
                      NumberRow{"2000000.5", 2000000},  // a tie goes to the even number
                      NumberRow{"-0.2", 0}, NumberRow{"2000001", std::nullopt},
                      NumberRow{"2000000.6", std::nullopt}, NumberRow{"-1", std::nullopt},
                      NumberRow{"   ", std::nullopt}, NumberRow{"abc", std::nullopt},
                      NumberRow{"2e6", std::nullopt}, NumberRow{"2 000 000", std::nullopt},
                      NumberRow{"\xD1\x81\xD1\x82\xD0\xBE", std::nullopt},  // "сто"
                      NumberRow{"--1", std::nullopt},
                      NumberRow{std::string(300, '9'), std::nullopt},
                      // 2^32 + 100 would pass as 100 if the reader wrapped.
                      NumberRow{"4294967396", std::nullopt}));

struct IdRow {
    const char* button;
    std::string id;
};

void PrintTo(const IdRow& row, std::ostream* os) {
    *os << '[' << row.id.substr(0, 40) << ']';
}

class TagDialogBadId : public TagDialogTest, public ::testing::WithParamInterface<IdRow> {};

// Too long and not hex both get the range message here.
TEST_P(TagDialogBadId, IsRefusedWithTheRangeMessage) {
    Control& source = std::string(GetParam().button) == "InstSN" ? form.outID : form.ID_Metki;
    source.caption = GetParam().id;
    form.wrs = pending;
    form.txtRec.caption = "before";
    Press(GetParam().button, "100");
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{msg::kRange2M});
    EXPECT_TRUE(form.wrs.empty());
    EXPECT_EQ(form.txtRec.caption, "before");
}

INSTANTIATE_TEST_SUITE_P(Rows, TagDialogBadId,
                         ::testing::Values(IdRow{"InstSN", "123456789"}, IdRow{"InstSN", "12G4"},
                                           IdRow{"InstSN", " 1234"},
                                           IdRow{"Set_ident", "123456789"},
                                           IdRow{"Set_ident", "12 34"},
                                           IdRow{"Set_ident", "\xD0\x92\xD0\xA1"}));  // Cyrillic

TEST_F(TagDialogTest, CancelStillDropsThePendingRequest) {
    for (const char* button : {"InstSN", "Set_ident"}) {
        form.wrs = pending;
        form.txtRec.caption = "before";
        Press(button, "");
        EXPECT_TRUE(form.wrs.empty()) << button;
        EXPECT_EQ(form.txtRec.caption, "before") << button;
    }
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(TagDialogTest, NoReaderSelectedShowsTheEmptyEcho) {
    form.UserSetText("CmbNet", "x");
    ASSERT_EQ(form.CmbNet.listIndex, -1);
    for (const char* button : {"InstSN", "Set_ident"}) {
        dialogs.messages.clear();
        form.wrs = pending;
        form.txtRec.caption = "before";
        Press(button, "abc");  // the selection is checked before the number
        EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{msg::kNoDevice}) << button;
        EXPECT_TRUE(form.wrs.empty()) << button;
        EXPECT_EQ(form.txtRec.caption, "\r\n\r\n") << button;
    }
}

}  // namespace
}  // namespace busdesk::testing
