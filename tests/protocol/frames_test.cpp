#include <gtest/gtest.h>

#include <string>

#include "protocol/crc.h"
#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

TEST(Crc8, MatchesTheOneWireCrc) {
    const std::string digits = "123456789";
    EXPECT_EQ(Crc8(Bytes(digits.begin(), digits.end())), 0xA1);
    // A bitwise implementation of the same CRC, to cross-check every byte pair.
    auto bitwise = [](std::uint8_t data, std::uint8_t cr) {
        std::uint8_t c = cr ^ data;
        for (int i = 0; i < 8; ++i)
            c = static_cast<std::uint8_t>((c & 1) ? (c >> 1) ^ 0x8C : c >> 1);
        return c;
    };
    for (int cr = 0; cr < 256; ++cr) {
        for (int d = 0; d < 256; ++d) {
            const auto a = static_cast<std::uint8_t>(d);
            const auto b = static_cast<std::uint8_t>(cr);
            ASSERT_EQ(Crc8Step(a, b), bitwise(a, b)) << d << " " << cr;
        }
    }
}

TEST(Crc8, StepOfEqualDataAndCrcIsZeroAndAFrameChecksToZero) {
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(Crc8Step(static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v)), 0);
    Bytes frame = {0x31, 0x01, 0xE3, 0x01, 0x23, 0x45, 0x67};
    frame.push_back(Crc8(frame));
    EXPECT_EQ(Crc8(frame), 0);
}

class FramesTest : public ModelTest {};

TEST_F(FramesTest, WindowCrcWritesBackAndReturns) {
    std::uint8_t cr = 0;
    const std::uint8_t data = 0x31;
    EXPECT_EQ(form.crc(data, cr), cr);
    EXPECT_EQ(cr, Crc8Step(0x31, 0));
    EXPECT_EQ(data, 0x31);
}

TEST_F(FramesTest, WorkedFrames) {
    struct Row {
        const char* address;
        std::uint8_t command;
        Bytes payload;
        Bytes frame;
    };
    const Row rows[] = {
        {"1", 0xFC, {}, {0x31, 0x01, 0xFC, 0x66}},
        {"0", 0xFC, {}, {0x31, 0x00, 0xFC, 0xA2}},
        {"1", 0xF0, {}, {0x31, 0x01, 0xF0, 0xC5}},
        {"0", 0xF0, {}, {0x31, 0x00, 0xF0, 0x01}},
        {"5", 0xFC, {}, {0x31, 0x05, 0xFC, 0x5D}},
        {"1", 0xE0, {0x7A, 0x7A, 0x7A, 0x7A}, {0x31, 0x01, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A, 0x25}},
        {"5", 0xE0, {0x7A, 0x7A, 0x7A, 0x7A}, {0x31, 0x05, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A, 0xF9}},
        {"5", 0xF5, {}, {0x31, 0x05, 0xF5, 0xC1}},
        {"5", 0xFA, {}, {0x31, 0x05, 0xFA, 0x80}},
    };
    for (const Row& r : rows) {
        SetDevices({r.address});
        EXPECT_EQ(form.form_zaprosa(r.payload, r.command), r.frame) << r.address;
    }
    SetDevices({"5"});
    EXPECT_EQ(form.Zapros_ser_num(), (Bytes{0x31, 0x05, 0xFC, 0x5D}));
}

TEST_F(FramesTest, PayloadIsNeverEscapedAndBuildingHasNoSideEffects) {
    SetDevices({"0"});
    form.wrs = {0xAA};
    const Bytes payload = {0x31, 0x3E, 0x0D, 0x0A, 0x00, 0xFF};
    const Bytes frame = form.form_zaprosa(payload, 0x42);
    ASSERT_EQ(frame.size(), 10U);
    EXPECT_EQ(Bytes(frame.begin() + 3, frame.end() - 1), payload);
    EXPECT_EQ(frame[1], 0x00);
    EXPECT_EQ(Crc8(frame), 0);
    EXPECT_EQ(form.form_zaprosa(payload, 0x42), frame);
    EXPECT_EQ(form.wrs, Bytes{0xAA});
    EXPECT_TRUE(port.writes.empty());
}

TEST_F(FramesTest, NoSelectionGivesNoFrame) {
    form.CmbNet.listIndex = -1;
    EXPECT_TRUE(form.Zapros_ser_num().empty());
    EXPECT_TRUE(form.form_zaprosa({}, 0xF0).empty());
}

}  // namespace
}  // namespace busdesk::testing
