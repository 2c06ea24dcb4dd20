#include "app/numbers.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace busdesk {
namespace {

struct DecimalRow {
    std::string text;
    std::optional<std::int64_t> value;
};

void PrintTo(const DecimalRow& row, std::ostream* os) {
    *os << '[' << row.text.substr(0, 40) << ']';
}

class ReadDecimalTest : public ::testing::TestWithParam<DecimalRow> {};

TEST_P(ReadDecimalTest, ReadsAsTyped) {
    EXPECT_EQ(ReadDecimal(GetParam().text), GetParam().value) << "[" << GetParam().text << "]";
}

const DecimalRow kDecimal[] = {
    {"0", 0},
    {"200", 200},
    {"007", 7},
    {"000000000000000000000000000000000042", 42},
    // Blanks around the number are spaces and tabs, nothing else.
    {"  12  ", 12},
    {"\t12\t", 12},
    {" \t 12 \t ", 12},
    {"\n12", std::nullopt},
    {"12\r", std::nullopt},
    {"\xC2\xA0"
     "12",
     std::nullopt},  // no-break space
    {"1 2", std::nullopt},
    // Signs
    {"+5", 5},
    {"-5", -5},
    {" -5 ", -5},
    {"-0", 0},
    {"- 5", std::nullopt},
    {"+-5", std::nullopt},
    {"--5", std::nullopt},
    {"5-", std::nullopt},
    {"-", std::nullopt},
    {"+", std::nullopt},
    {"\xE2\x88\x92"
     "5",
     std::nullopt},  // minus sign U+2212
    // Fractions round to the nearest integer, a tie to the even one.
    {"0.5", 0},
    {"1.5", 2},
    {"2.5", 2},
    {"3.5", 4},
    {"-2.5", -2},
    {"-3.5", -4},
    {"-0.5", 0},
    {"2.50000", 2},
    {"2.500001", 3},
    {"2.4999999999", 2},
    {"2.6", 3},
    {"2.", 2},
    {".5", 0},
    {".6", 1},
    {"-.6", -1},
    {".", std::nullopt},
    {"-.", std::nullopt},
    {"1.2.3", std::nullopt},
    {"1,5", std::nullopt},  // "." is the only decimal mark
    // Exponents, grouping, other notations
    {"1e3", std::nullopt},
    {"1E3", std::nullopt},
    {"1.5e1", std::nullopt},
    {"1 000", std::nullopt},
    {"1,000", std::nullopt},
    {"1_000", std::nullopt},
    {"0x10", std::nullopt},
    {"&H10", std::nullopt},
    {"12abc", std::nullopt},
    {"abc", std::nullopt},
    {"inf", std::nullopt},
    {"nan", std::nullopt},
    {"\xD0\xA1\xD1\x82\xD0\xBE", std::nullopt},  // Cyrillic "Сто"
    {"\xEF\xBC\x91", std::nullopt},              // full-width digit one
    // Nothing to read
    {"", std::nullopt},
    {"   ", std::nullopt},
    {"\t", std::nullopt},
    // The edges of 63 bits, and beyond them however many digits there are
    {"9223372036854775807", INT64_MAX},
    {"-9223372036854775807", -INT64_MAX},
    {"9223372036854775806.5", INT64_MAX - 1},  // a tie, kept even
    {"9223372036854775807.4", INT64_MAX},
    {"9223372036854775807.5", std::nullopt},  // would round past the limit
    {"9223372036854775808", std::nullopt},
    {"99999999999999999999", std::nullopt},
    {std::string(10000, '9'), std::nullopt},
    {"1." + std::string(10000, '0'), 1},
    {"0." + std::string(10000, '0') + "1", 0},
};

INSTANTIATE_TEST_SUITE_P(Rows, ReadDecimalTest, ::testing::ValuesIn(kDecimal));

TEST(NarrowReaders, RoundBeforeTheRangeCheck) {
    EXPECT_EQ(ReadUByte("255"), std::optional<std::uint8_t>(255));
    EXPECT_EQ(ReadUByte("255.4"), std::optional<std::uint8_t>(255));
    EXPECT_EQ(ReadUByte("255.5"), std::nullopt);  // rounds to 256
    EXPECT_EQ(ReadUByte("254.5"), std::optional<std::uint8_t>(254));
    EXPECT_EQ(ReadUByte("256"), std::nullopt);
    EXPECT_EQ(ReadUByte("-0.5"), std::optional<std::uint8_t>(0));
    EXPECT_EQ(ReadUByte("-0.6"), std::nullopt);
    EXPECT_EQ(ReadUByte("-1"), std::nullopt);
    EXPECT_EQ(ReadUByte("1e2"), std::nullopt);

    EXPECT_EQ(ReadInt16("32767"), std::optional<std::int16_t>(32767));
    EXPECT_EQ(ReadInt16("32768"), std::nullopt);
    EXPECT_EQ(ReadInt16("-32768"), std::optional<std::int16_t>(-32768));
    EXPECT_EQ(ReadInt16("-32769"), std::nullopt);
    EXPECT_EQ(ReadInt16("32766.5"), std::optional<std::int16_t>(32766));
    EXPECT_EQ(ReadInt16("32767.5"), std::nullopt);
    // Wraps to a small value if the reader ever truncated instead of refusing.
    EXPECT_EQ(ReadInt16("65537"), std::nullopt);

    EXPECT_EQ(ReadInt32("2147483647"), std::optional<std::int32_t>(INT32_MAX));
    EXPECT_EQ(ReadInt32("2147483648"), std::nullopt);
    EXPECT_EQ(ReadInt32("-2147483648"), std::optional<std::int32_t>(INT32_MIN));
    EXPECT_EQ(ReadInt32("-2147483649"), std::nullopt);
    EXPECT_EQ(ReadInt32("4294967297"), std::nullopt);
    EXPECT_EQ(ReadInt32(" 2000000 "), std::optional<std::int32_t>(2000000));
}

struct HexRow {
    std::string text;
    HexIdCheck check;
    std::uint32_t id;  // meaningful when check is Ok
};

void PrintTo(const HexRow& row, std::ostream* os) {
    *os << '[' << row.text.substr(0, 40) << ']';
}

class HexIdTest : public ::testing::TestWithParam<HexRow> {};

TEST_P(HexIdTest, ChecksAndReads) {
    const HexRow& row = GetParam();
    EXPECT_EQ(CheckHexId(row.text), row.check);
    const std::optional<std::uint32_t> right = HexIdFromRight(row.text);
    const std::optional<std::array<std::uint8_t, 4>> left = HexIdFromLeft(row.text);
    if (row.check != HexIdCheck::Ok) {
        EXPECT_EQ(right, std::nullopt);
        EXPECT_EQ(left, std::nullopt);
        return;
    }
    ASSERT_TRUE(right.has_value());
    ASSERT_TRUE(left.has_value());
    EXPECT_EQ(*right, row.id);
    const std::array<std::uint8_t, 4> expected = {
        static_cast<std::uint8_t>(row.id >> 24), static_cast<std::uint8_t>(row.id >> 16),
        static_cast<std::uint8_t>(row.id >> 8), static_cast<std::uint8_t>(row.id)};
    EXPECT_EQ(*left, expected);
}

const HexRow kHex[] = {
    {"", HexIdCheck::Ok, 0},
    {"0", HexIdCheck::Ok, 0},
    {"A", HexIdCheck::Ok, 0x0A},
    {"ABC", HexIdCheck::Ok, 0x0ABC},
    {"1234567", HexIdCheck::Ok, 0x01234567},
    {"ABCDEF1", HexIdCheck::Ok, 0x0ABCDEF1},
    {"ABCDEF12", HexIdCheck::Ok, 0xABCDEF12},
    {"abcdef12", HexIdCheck::Ok, 0xABCDEF12},
    {"aBcDeF12", HexIdCheck::Ok, 0xABCDEF12},
    {"FFFFFFFF", HexIdCheck::Ok, 0xFFFFFFFF},
    {"80000000", HexIdCheck::Ok, 0x80000000},
    {"00000001", HexIdCheck::Ok, 1},
    {"7A7A7A7A", HexIdCheck::Ok, 0x7A7A7A7A},
    // Length comes first, even when every character is a digit.
    {"123456789", HexIdCheck::TooLong, 0},
    {"00000000F", HexIdCheck::TooLong, 0},
    {"1234 5678", HexIdCheck::TooLong, 0},
    // Characters, not bytes: five Cyrillic letters are five characters.
    {"\xD0\x90\xD0\x91\xD0\x92\xD0\x93\xD0\x94", HexIdCheck::NotHex, 0},
    {"\xD0\x90\xD0\x91\xD0\x92\xD0\x93\xD0\x94\xD0\x95\xD0\x96\xD0\x97\xD0\x98",
     HexIdCheck::TooLong, 0},
    // Cyrillic letters that look like hex digits are not hex digits.
    {"\xD0\x92\xD0\xA1", HexIdCheck::NotHex, 0},  // "ВС" in Cyrillic
    {"12G4", HexIdCheck::NotHex, 0},
    {"12 34", HexIdCheck::NotHex, 0},
    {" 1234", HexIdCheck::NotHex, 0},
    {"1234 ", HexIdCheck::NotHex, 0},
    {"0x12", HexIdCheck::NotHex, 0},
    {"-1", HexIdCheck::NotHex, 0},
    {"+1", HexIdCheck::NotHex, 0},
    {"g", HexIdCheck::NotHex, 0},
    {"@", HexIdCheck::NotHex, 0},  // just below 'A'
    {"`", HexIdCheck::NotHex, 0},  // just below 'a'
    {"/", HexIdCheck::NotHex, 0},  // just below '0'
    {":", HexIdCheck::NotHex, 0},  // just above '9'
    {std::string("1\0"
                 "2",
                 3),
     HexIdCheck::NotHex, 0},
};

INSTANTIATE_TEST_SUITE_P(Rows, HexIdTest, ::testing::ValuesIn(kHex));

// Both readers are the value of the digits; they must agree for every length.
TEST(HexIdReaders, AgreeOnEveryPrefixLength) {
    const std::string digits = "9F3cA07e";
    for (std::size_t n = 0; n <= digits.size(); ++n) {
        const std::string text = digits.substr(0, n);
        const std::uint32_t value =
            n == 0 ? 0 : static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
        const std::optional<std::uint32_t> right = HexIdFromRight(text);
        const std::optional<std::array<std::uint8_t, 4>> left = HexIdFromLeft(text);
        ASSERT_TRUE(right && left) << text;
        EXPECT_EQ(*right, value) << text;
        const std::uint32_t fromLeft = (std::uint32_t{(*left)[0]} << 24) |
                                       (std::uint32_t{(*left)[1]} << 16) |
                                       (std::uint32_t{(*left)[2]} << 8) | (*left)[3];
        EXPECT_EQ(fromLeft, value) << text;
    }
}

}  // namespace
}  // namespace busdesk
