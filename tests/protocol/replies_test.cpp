// The reply parsers: whole fields only, the zero-current gate, the long forms
// that add the mode byte and the version, and when an unframed reception is a
// survey answer.
#include "protocol/replies.h"

#include <gtest/gtest.h>

#include "protocol/commands.h"
#include "protocol/crc.h"

namespace busdesk::proto {
namespace {

Bytes Framed(std::uint8_t code, Bytes payload) {
    payload.insert(payload.begin(), {0x3E, 0x07, code});
    payload.push_back(Crc8(payload));
    return payload;
}

// Temperature -2 °C, level 0x0102, current 10000, empty 20000, full 100, K 2.
const Bytes kReading = Framed(0xF0, {0xFE, 0x02, 0x01, 0x10, 0x27, 0x00, 0x00, 0x20, 0x4E, 0x00,
                                     0x00, 0x64, 0x00, 0x00, 0x00, 0x02, 0x00});

Bytes Cut(const Bytes& b, std::size_t n) {
    return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(ReaderDataParse, TakesOnlyWholeFieldsAndTheCurrentGatesTheReadings) {
    struct Case {
        const char* name;
        Bytes rx;
        bool readings;  // address, temperature, level, current
        bool empty, full, k;
    } const cases[] = {
        {"whole", kReading, true, true, true, true},
        {"current cut", Cut(kReading, 9), false, false, false, false},
        {"empty cut", Cut(kReading, 13), true, false, false, false},
        {"full cut", Cut(kReading, 17), true, true, false, false},
        {"k cut", Cut(kReading, 19), true, true, true, false},
        {"header only", Cut(kReading, 4), false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReaderReading r = ParseReaderData(c.rx);
        EXPECT_EQ(r.current.has_value(), c.readings);
        EXPECT_EQ(r.level.has_value(), c.readings);
        EXPECT_EQ(r.temperature.has_value(), c.readings);
        EXPECT_EQ(r.address.has_value(), c.readings);
        EXPECT_EQ(r.empty.has_value(), c.empty);
        EXPECT_EQ(r.full.has_value(), c.full);
        EXPECT_EQ(r.k.has_value(), c.k);
        EXPECT_FALSE(r.mode.has_value());  // 22 bytes and more carry it
    }
    const ReaderReading r = ParseReaderData(kReading);
    EXPECT_EQ(*r.temperature, -2);
    EXPECT_EQ(*r.level, 0x0102);
    EXPECT_EQ(*r.current, 10000u);
    EXPECT_EQ(*r.empty, 20000u);
    EXPECT_EQ(*r.full, 100u);
    EXPECT_EQ(*r.k, 2u);
    EXPECT_EQ(*r.address, 7);
}

TEST(ReaderDataParse, ZeroCurrentLeavesTheReadingsOutButNotTheSettings) {
    Bytes rx = kReading;
    rx[6] = rx[7] = 0;
    const ReaderReading r = ParseReaderData(rx);
    EXPECT_FALSE(r.current || r.level || r.temperature || r.address);
    EXPECT_EQ(r.empty.value_or(0), 20000u);
}

TEST(ReaderDataParse, TheLongFormCarriesTheModeByte) {
    Bytes rx = kReading;
    rx.back() = 0x82;  // the mode byte sits where the short form has its CRC
    rx.push_back(0x00);
    rx.push_back(0x00);
    EXPECT_EQ(ParseReaderData(rx).mode, std::optional<std::uint8_t>(0x82));
}

TEST(SerialNumberParse, VersionOnlyInTheTenByteForm) {
    const Bytes ten = Framed(0xFC, {0x40, 0xE2, 0x01, 0x00, 0x86, 0x02});
    const SerialVersion s = ParseSerialNumber(ten);
    EXPECT_EQ(s.serial, std::optional<std::uint32_t>(123456));
    EXPECT_EQ(VersionShown(s), "21.3.4.");
    SerialVersion noPrefix = s;
    noPrefix.prefix = 0;
    EXPECT_EQ(VersionShown(noPrefix), "1.3.4.");

    Bytes eleven = ten;
    eleven.push_back(0);
    EXPECT_TRUE(ParseSerialNumber(eleven).serial.has_value());
    EXPECT_FALSE(ParseSerialNumber(eleven).version.has_value());
    EXPECT_EQ(VersionShown(ParseSerialNumber(eleven)), "");
    EXPECT_FALSE(ParseSerialNumber(Cut(ten, 6)).serial.has_value());
}

TEST(TagParse, PingAndDataFieldsAreBigEndianAndWhole) {
    const Bytes ping = Framed(0xE0, {0x00, 0x00, 0x30, 0x39, 0x1A, 0x2B, 0x3C, 0x4D, 0xF6});
    const TagFields p = ParseTagPing(ping);
    EXPECT_EQ(p.serial, std::optional<std::uint32_t>(12345));
    EXPECT_EQ(TagIdShown(*p.id), "1A2B3C4D");
    EXPECT_EQ(p.level, std::optional<int>(-10));
    EXPECT_FALSE(p.interval || p.mode || p.power || p.version || p.sleep);
    EXPECT_FALSE(ParseTagPing(Cut(ping, 11)).level.has_value());
    EXPECT_FALSE(ParseTagPing(Cut(ping, 10)).id.has_value());

    const Bytes data = Framed(0xE3, {0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00, 0x01, 0x03, 0xE8,
                                     0x05, 0x10, 0x86, 0x00, 0x3C, 0x80});
    const TagFields d = ParseTagData(data);
    EXPECT_EQ(TagIdShown(*d.id), "0000001");
    EXPECT_EQ(d.interval, std::optional<std::uint16_t>(1000));
    EXPECT_EQ(d.mode, std::optional<std::uint8_t>(5));
    EXPECT_EQ(d.power, std::optional<std::uint8_t>(16));
    EXPECT_EQ(d.version, std::optional<std::uint8_t>(0x86));
    EXPECT_EQ(d.sleep, std::optional<std::uint16_t>(60));
    EXPECT_EQ(d.level, std::optional<int>(-128));
    const TagFields cut = ParseTagData(Cut(data, 17));
    EXPECT_TRUE(cut.version.has_value());
    EXPECT_FALSE(cut.sleep.has_value());
}

TEST(SurveyParse, OnlyUnframedShortAnswersWhenOneIsDue) {
    struct Case {
        const char* name;
        Bytes rx;
        bool due;
        bool answer;
    } const cases[] = {
        {"addresses", {0x01, 0x05}, true, true},
        {"not due", {0x01, 0x05}, false, false},
        {"framed", Framed(0xF0, {0x00}), true, false},
        {"starts like a frame but short", {0x3E, 0x01, 0x02}, true, true},
        {"nineteen", Bytes(19, 0x01), true, true},
        {"twenty", Bytes(20, 0x01), true, false},
        {"nothing", {}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto a = ParseSurveyAnswer(c.rx, c.due);
        EXPECT_EQ(a.has_value(), c.answer);
        if (a) {
            EXPECT_EQ(*a, c.rx);
        }
    }
}

TEST(ModeParse, RoleAndFlags) {
    const ModeParts m = SplitMode(0xC0 | kRoleBridge);
    EXPECT_EQ(m.role, kRoleBridge);
    EXPECT_TRUE(m.master);
    EXPECT_TRUE(m.frequency);
    EXPECT_EQ(SplitMode(kRoleTag).role, kRoleTag);
    EXPECT_FALSE(SplitMode(kRoleTag).master);
    EXPECT_EQ(ParseModeConfirmation(Framed(0xF2, {0x82})), std::optional<std::uint8_t>(0x82));
}

}  // namespace
}  // namespace busdesk::proto
