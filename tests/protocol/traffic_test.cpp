#include "protocol/traffic.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/text.h"
#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

TEST(TrafficText, HexValues) {
    const std::pair<std::uint8_t, const char*> rows[] = {{0x00, "0"},  {0x05, "5"},  {0x0A, "A"},
                                                         {0x3E, "3E"}, {0xFF, "FF"}, {0x10, "10"}};
    for (const auto& [b, text] : rows) EXPECT_EQ(HexText(b), text);
}

TEST(TrafficText, ReadableForms) {
    const std::pair<Bytes, const char*> rows[] = {
        {{}, ""},
        {{0x3E, 0x01, 0x0D, 0x0A}, ">@<CR><LF>"},
        {{0x5B, 0x5D}, "<NAK><ACK>"},
        {{0x00, 0x20, 0x2E, 0x2F, 0x30}, "@@@@0"},
        {{0x31, 0xFF, 0xDC}, "1яЬ"},
        {{0xC0, 0xE0, 0xA8, 0xB8, 0xB9, 0x88}, "АаЁё№€"},
        {{0x98}, "\xC2\x98"},
    };
    for (const auto& [bytes, text] : rows) EXPECT_EQ(CleanText(bytes), text);
}

TEST(TrafficText, EveryHighByteIsOneCharacterOfValidUtf8) {
    for (int b = 0x80; b < 0x100; ++b) {
        const std::string s = Cp1251ToUtf8(static_cast<std::uint8_t>(b));
        ASSERT_GE(s.size(), 2U) << b;
        const auto lead = static_cast<unsigned char>(s[0]);
        const std::size_t len = (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 0;
        EXPECT_EQ(s.size(), len) << b;
        for (std::size_t i = 1; i < s.size(); ++i)
            EXPECT_EQ(static_cast<unsigned char>(s[i]) & 0xC0, 0x80) << b;
    }
}

TEST(TrafficText, RequestEcho) {
    EXPECT_EQ(RequestEcho({}), "\r\n\r\n");
    EXPECT_EQ(RequestEcho({0x31, 0xFF, 0xDC}), "31 FF DC \r\n\r\n1яЬ");
}

class PrintToWinTest : public ModelTest {};

TEST_F(PrintToWinTest, ShowsTheFrameWithUnderscores) {
    form.PrintToWin({0x31, 0x01, 0xF0, 0xC5});
    EXPECT_EQ(form.CmdBoxText.caption, "31_1_F0_C5_");
    form.PrintToWin({});
    EXPECT_EQ(form.CmdBoxText.caption, "");
}

TEST(SharedHelpers, VersionIdAndSignedByte) {
    EXPECT_EQ(VersionText(134), "1.3.4.");
    EXPECT_EQ(VersionText(25), "2.5..");
    EXPECT_EQ(VersionText(7), "7...");
    EXPECT_EQ(VersionText(0), "0...");
    EXPECT_EQ(IdText(0x12, 0x34, 0x56, 0x78), "12345678");
    EXPECT_EQ(IdText(0x0A, 0x0B, 0x0C, 0x0D), "A0B0C0D");
    EXPECT_EQ(IdText(0, 0, 0, 1), "0000001");
    EXPECT_EQ(SignedByte(0xFF), -1);
    EXPECT_EQ(SignedByte(0x80), -128);
    EXPECT_EQ(SignedByte(0x7F), 127);
    EXPECT_EQ(SignedByte(0xC4), -60);
}

}  // namespace
}  // namespace busdesk::testing
