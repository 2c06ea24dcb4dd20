#include "sim/bus_model.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/crc.h"

namespace busdesk::sim {
namespace {

Request Req(std::uint8_t address, std::uint8_t command, Bytes payload = {}) {
    return Request{address, false, command, std::move(payload)};
}

Request Survey() {
    return Request{0xFF, true, 0, {}};
}

Bytes Be(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

Bytes TagWrite(std::uint32_t serial, std::uint32_t id, std::uint16_t interval, std::uint8_t mode,
               std::uint8_t power, std::uint16_t sleep) {
    Bytes p{0x0E};
    for (std::uint8_t b : Be(serial)) p.push_back(b);
    for (std::uint8_t b : Be(id)) p.push_back(b);
    p.push_back(static_cast<std::uint8_t>(interval >> 8));
    p.push_back(static_cast<std::uint8_t>(interval));
    p.push_back(mode);
    p.push_back(power);
    p.push_back(static_cast<std::uint8_t>(sleep >> 8));
    p.push_back(static_cast<std::uint8_t>(sleep));
    return p;
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 4; i-- > 0;) v = (v << 8) | b[at + i];
    return v;
}

std::uint32_t Be32(const Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | b[at + i];
    return v;
}

BusConfig Fixed() {
    BusConfig c = DefaultBusConfig();
    c.drift = false;
    return c;
}

// Every framed answer starts with 3E and the address and ends in its CRC.
void ExpectFramed(const Bytes& b, std::uint8_t address, std::uint8_t code, std::size_t size) {
    ASSERT_EQ(b.size(), size);
    EXPECT_EQ(b[0], 0x3E);
    EXPECT_EQ(b[1], address);
    EXPECT_EQ(b[2], code);
    EXPECT_EQ(b.back(), Crc8(b, b.size() - 1));
}

TEST(BusModel, SurveyListsPresentDevicesInBusOrder) {
    BusModel m(Fixed());
    auto a = m.Handle(Survey(), 0);
    ASSERT_EQ(a.size(), 1U);
    EXPECT_TRUE(a[0].survey);
    EXPECT_EQ(a[0].bytes, (Bytes{1, 5, 7}));

    ASSERT_TRUE(m.SetPresent(5, false));
    EXPECT_EQ(m.Handle(Survey(), 0)[0].bytes, (Bytes{1, 7}));
    EXPECT_TRUE(m.Handle(Req(5, 0xF0), 0).empty());
    EXPECT_FALSE(m.SetPresent(9, false));
}

TEST(BusModel, ReaderDataReplyLayout) {
    BusModel m(Fixed());
    const auto a = m.Handle(Req(1, 0xF0), 0);
    ASSERT_EQ(a.size(), 1U);
    const Bytes& b = a[0].bytes;
    ExpectFramed(b, 1, 0xF0, 22);
    const ReaderConfig& r = m.readers()[0];
    EXPECT_EQ(static_cast<std::int8_t>(b[3]), r.temperature);
    EXPECT_EQ(b[4] | (b[5] << 8), m.LevelAt(0, 0));
    EXPECT_EQ(Le32(b, 6), r.current);
    EXPECT_EQ(Le32(b, 10), r.lo);
    EXPECT_EQ(Le32(b, 14), r.hi);
    EXPECT_EQ(b[18] | (b[19] << 8), r.k);
    EXPECT_EQ(b[20], r.mode);
}

TEST(BusModel, SerialNumberReplyLayout) {
    BusModel m(Fixed());
    const Bytes b = m.Handle(Req(5, 0xFC), 0).at(0).bytes;
    ExpectFramed(b, 5, 0xFC, 10);
    EXPECT_EQ(Le32(b, 3), 100456U);
    EXPECT_EQ(b[7], 131);
    EXPECT_EQ(b[8], 2);
}

TEST(BusModel, DefaultBusHasTheThreeRoles) {
    const BusConfig c = DefaultBusConfig();
    ASSERT_EQ(c.readers.size(), 3U);
    EXPECT_EQ(c.readers[0].mode & 0x3F, 2);  // reader
    EXPECT_EQ(c.readers[1].mode & 0x3F, 1);  // reader-indicator
    EXPECT_EQ(c.readers[2].mode, 0x80);      // bridge, master
    EXPECT_TRUE(std::any_of(c.readers.begin(), c.readers.end(),
                            [](const ReaderConfig& r) { return r.version < 130; }));
    EXPECT_EQ(std::count_if(c.tags.begin(), c.tags.end(),
                            [](const TagConfig& t) { return t.reader == 1; }),
              2);
}

TEST(BusModel, LevelFollowsCalibration) {
    BusModel m(Fixed());
    // Full point moved to the present value: the level stands at the top.
    ExpectFramed(m.Handle(Req(1, 0xF5), 0).at(0).bytes, 1, 0xF5, 4);
    EXPECT_EQ(m.readers()[0].hi, m.readers()[0].current);
    EXPECT_EQ(m.LevelAt(0, 0), 1023);
    // Empty point on top of it too: no span left, level 0 rather than a division by zero.
    ExpectFramed(m.Handle(Req(1, 0xFA), 0).at(0).bytes, 1, 0xFA, 4);
    EXPECT_EQ(m.readers()[0].lo, m.readers()[0].current);
    EXPECT_EQ(m.LevelAt(0, 0), 0);
}

TEST(BusModel, DriftMovesReadingsOnlyWhenOn) {
    BusModel fixed(Fixed());
    BusModel live(DefaultBusConfig());
    EXPECT_EQ(fixed.CurrentAt(0, 0), fixed.CurrentAt(0, 3));
    EXPECT_NE(live.CurrentAt(0, 0), live.CurrentAt(0, 3));
    EXPECT_NE(live.LevelAt(0, 0), live.LevelAt(0, 3));
    // Slow: within a second the level moves by a few per cent at most.
    EXPECT_LT(std::abs(live.LevelAt(0, 1) - live.LevelAt(0, 0)), 50);
}

TEST(BusModel, ModeIsTakenAndConfirmed) {
    BusModel m(Fixed());
    const Bytes b = m.Handle(Req(7, 0xF2, {0xC0}), 0).at(0).bytes;
    ExpectFramed(b, 7, 0xF2, 5);
    EXPECT_EQ(b[3], 0xC0);
    EXPECT_EQ(m.Handle(Req(7, 0xF0), 0).at(0).bytes[20], 0xC0);
}

TEST(BusModel, AddressChangeMovesDeviceAndItsTags) {
    BusModel m(Fixed());
    const Bytes b = m.Handle(Req(1, 0xFB, {9}), 0).at(0).bytes;
    ExpectFramed(b, 1, 0xFB, 5);
    EXPECT_EQ(b[3], 9);
    EXPECT_TRUE(m.Handle(Req(1, 0xF0), 0).empty());
    ExpectFramed(m.Handle(Req(9, 0xF0), 0).at(0).bytes, 9, 0xF0, 22);
    EXPECT_EQ(m.Handle(Survey(), 0)[0].bytes, (Bytes{9, 5, 7}));
    ExpectFramed(m.Handle(Req(9, 0xE0, Be(0x7A7A7A7A)), 0).at(0).bytes, 9, 0xE0, 13);
    // Not a device address: ignored, the device stays where it is.
    EXPECT_TRUE(m.Handle(Req(9, 0xFB, {201}), 0).empty());
    EXPECT_TRUE(m.FindReader(9).has_value());
}

TEST(BusModel, SearchIsAnsweredByTagsInTurn) {
    BusModel m(Fixed());
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < 4; ++i) {
        const Bytes b = m.Handle(Req(1, 0xE0, Be(0x7A7A7A7A)), 0).at(0).bytes;
        ExpectFramed(b, 1, 0xE0, 13);
        ids.push_back(Be32(b, 7));
    }
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{0x1A2B3C4D, 0x0A0B0C0D, 0x1A2B3C4D, 0x0A0B0C0D}));
    // No tag in reach of reader 5: silence.
    EXPECT_TRUE(m.Handle(Req(5, 0xE0, Be(0x7A7A7A7A)), 0).empty());
}

TEST(BusModel, TagPingLayout) {
    BusModel m(Fixed());
    const Bytes b = m.Handle(Req(1, 0xE0, Be(0x0A0B0C0D)), 0).at(0).bytes;
    EXPECT_EQ(Be32(b, 3), 5002U);
    EXPECT_EQ(Be32(b, 7), 0x0A0B0C0DU);
    EXPECT_EQ(static_cast<std::int8_t>(b[11]), -75);
    EXPECT_TRUE(m.Handle(Req(1, 0xE0, Be(0x12345678)), 0).empty());
}

TEST(BusModel, TagWriteIsReadBack) {
    BusModel m(Fixed());
    ExpectFramed(m.Handle(Req(1, 0xE1, TagWrite(5001, 0xABC, 1000, 3, 200, 32767)), 0).at(0).bytes,
                 1, 0xE1, 4);
    EXPECT_TRUE(m.Handle(Req(1, 0xE3, Be(0x1A2B3C4D)), 0).empty());  // old id gone
    const Bytes b = m.Handle(Req(1, 0xE3, Be(0xABC)), 0).at(0).bytes;
    ExpectFramed(b, 1, 0xE3, 20);
    EXPECT_EQ(Be32(b, 3), 5001U);
    EXPECT_EQ(Be32(b, 7), 0xABCU);
    EXPECT_EQ((b[11] << 8) | b[12], 1000);
    EXPECT_EQ(b[13], 3);
    EXPECT_EQ(b[14], 200);
    EXPECT_EQ(b[15], 25);  // version is not written
    EXPECT_EQ((b[16] << 8) | b[17], 32767);
    EXPECT_EQ(static_cast<std::int8_t>(b[18]), -60);
    // A serial number no tag in reach has: nobody answers.
    EXPECT_TRUE(m.Handle(Req(1, 0xE1, TagWrite(9999, 1, 1, 1, 3, 0)), 0).empty());
}

TEST(BusModel, TagSerialWriteAndIdentify) {
    BusModel m(Fixed());
    Bytes p = Be(0x1A2B3C4D);
    for (std::uint8_t b : Be(2000000)) p.push_back(b);
    ExpectFramed(m.Handle(Req(1, 0xE2, p), 0).at(0).bytes, 1, 0xE2, 4);
    const Bytes ping = m.Handle(Req(1, 0xE4, Be(0x1A2B3C4D)), 0).at(0).bytes;
    ExpectFramed(ping, 1, 0xE0, 13);
    EXPECT_EQ(Be32(ping, 3), 2000000U);
    EXPECT_TRUE(m.Handle(Req(1, 0xE4, Be(0x55)), 0).empty());
}

TEST(BusModel, MalformedRequestsGetNoAnswer) {
    BusModel m(Fixed());
    EXPECT_TRUE(m.Handle(Req(1, 0xE1, {0x0E, 1, 2}), 0).empty());
    EXPECT_TRUE(m.Handle(Req(1, 0xE3, {}), 0).empty());
    EXPECT_TRUE(m.Handle(Req(1, 0xF2, {}), 0).empty());
    EXPECT_TRUE(m.Handle(Req(1, 0x55), 0).empty());
    EXPECT_TRUE(m.Handle(Req(99, 0xF0), 0).empty());
}

}  // namespace
}  // namespace busdesk::sim
