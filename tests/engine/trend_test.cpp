// The trend store fed with bus events as the engine makes them: readings,
// gaps after unanswered polls, command marks and their confirmations, the
// ring's bound, and the CSV of a range.
#include "engine/trend.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/line_frames.h"
#include "protocol/crc.h"

namespace busdesk::engine {
namespace {

using Kind = BusEvent::Kind;
constexpr TimeMs kT0 = 1'700'000'000'000;

std::chrono::system_clock::time_point At(TimeMs ms) {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(ms));
}

Bytes WithCrc(Bytes b) {
    b.push_back(Crc8(b));
    return b;
}

Bytes Poll(std::uint8_t addr) {
    return WithCrc({0x31, addr, 0xF0});
}

// A reader data reply: temperature, level, current, then zeros.
Bytes Reply(std::uint8_t addr, std::int8_t temp, std::uint16_t level, std::uint32_t current) {
    Bytes b{0x3E,
            addr,
            0xF0,
            static_cast<std::uint8_t>(temp),
            static_cast<std::uint8_t>(level & 0xFF),
            static_cast<std::uint8_t>(level >> 8)};
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(current >> (8 * i)));
    b.resize(20, 0);
    return WithCrc(b);
}

BusEvent Ev(Kind k, TimeMs t, Bytes bytes = {}) {
    BusEvent e;
    e.kind = k;
    e.time = At(t);
    e.bytes = std::move(bytes);
    if (k == Kind::Rx) e.heard = DecodeReception(e.bytes, false);
    return e;
}

// One tick as the engine tells it: the read of the last answer, then the write.
void Tick(TrendStore& s, TimeMs t, const Bytes& rx, const Bytes& tx) {
    s.Take(rx.empty() ? Ev(Kind::Silent, t) : Ev(Kind::Rx, t, rx));
    s.Take(Ev(Kind::Tx, t + 1, tx));
}

TEST(TrendStore, KeepsReadingsOfTheDeviceThatSentThem) {
    TrendStore s;
    s.Take(Ev(Kind::Tx, kT0, Poll(3)));
    s.Take(Ev(Kind::Rx, kT0 + 500, Reply(3, -5, 512, 4294967295u)));
    ASSERT_NE(s.Device(3), nullptr);
    EXPECT_EQ(s.Device(1), nullptr);
    const DeviceTrend& t = *s.Device(3);
    ASSERT_EQ(t.samples.Size(), 1u);
    EXPECT_EQ(t.samples[0].time, kT0 + 500);
    EXPECT_EQ(t.samples[0].level, 512);
    EXPECT_EQ(t.samples[0].temperature, -5);
    EXPECT_EQ(t.samples[0].current, 4294967295u);
    EXPECT_FALSE(t.samples[0].missed);
}

// Which receptions after a reader data poll leave a gap in the device's series.
TEST(TrendStore, GapAfterAPollThatGotNoReading) {
    struct Row {
        const char* name;
        Bytes rx;  // empty: the read got nothing
        bool gap;
    };
    Bytes badCrc = Reply(1, 20, 100, 7);
    badCrc.back() ^= 0xFF;
    const std::vector<Row> rows = {
        {"reading", Reply(1, 20, 100, 7), false},
        {"silence", {}, true},
        {"bad CRC", badCrc, true},
        {"another device's reading", Reply(2, 20, 100, 7), true},
        {"a tag reply instead", WithCrc({0x3E, 1, 0xE0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), true},
        {"garbage", {0x00, 0x11}, true},
        // The device answered, it just has no value; that is not a silence.
        {"reading without a current", Reply(1, 20, 100, 0), false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TrendStore s;
        Tick(s, kT0, {}, Poll(1));
        Tick(s, kT0 + 500, r.rx, WithCrc({0x31, 1, 0xE0}));
        const DeviceTrend* d = s.Device(1);
        const bool missed =
            d != nullptr && d->samples.Size() > 0 && d->samples[d->samples.Size() - 1].missed;
        EXPECT_EQ(missed, r.gap);
    }
}

TEST(TrendStore, ASilenceIsOneGapAndReadingsResumeAfterIt) {
    TrendStore s;
    TimeMs t = kT0;
    Tick(s, t, {}, Poll(1));
    Tick(s, t += 500, Reply(1, 20, 100, 7), Poll(1));
    for (int i = 0; i < 5; ++i) Tick(s, t += 500, {}, Poll(1));
    Tick(s, t += 500, Reply(1, 21, 101, 8), Poll(1));
    const DeviceTrend& d = *s.Device(1);
    ASSERT_EQ(d.samples.Size(), 3u);
    EXPECT_FALSE(d.samples[0].missed);
    EXPECT_TRUE(d.samples[1].missed);
    EXPECT_EQ(d.samples[1].time, kT0 + 1000);  // the first silent read
    EXPECT_FALSE(d.samples[2].missed);
    EXPECT_EQ(d.Latest()->level, 101);
}

// The tag poll between two reader polls is not a reader poll: silence after it
// is no gap in the readings.
TEST(TrendStore, SilenceAfterOtherRequestsIsNoGap) {
    TrendStore s;
    Tick(s, kT0, {}, Poll(1));
    Tick(s, kT0 + 500, Reply(1, 20, 100, 7), WithCrc({0x31, 1, 0xE0}));
    Tick(s, kT0 + 1000, {}, WithCrc({0x31, 1, 0xFC}));
    Tick(s, kT0 + 1500, {}, Poll(1));
    EXPECT_EQ(s.Device(1)->samples.Size(), 1u);
}

TEST(TrendStore, MarksCommandsWithWhatBecameOfThem) {
    TrendStore s;
    BusEvent high = Ev(Kind::Command, kT0 + 100, WithCrc({0x31, 5, 0xF5}));
    high.id = 1;
    BusEvent low = Ev(Kind::Command, kT0 + 200, WithCrc({0x31, 5, 0xFA}));
    low.id = 2;
    BusEvent mode = Ev(Kind::Command, kT0 + 300, WithCrc({0x31, 6, 0xF2, 3}));
    mode.id = 3;
    for (const BusEvent& e : {high, low, mode}) s.Take(e);
    BusEvent ok = Ev(Kind::Result, kT0 + 700);
    ok.id = 1;
    ok.ok = true;
    BusEvent refused = Ev(Kind::Result, kT0 + 800);
    refused.id = 2;
    refused.text = "нет ответа";
    s.Take(ok);
    s.Take(refused);

    const DeviceTrend& d5 = *s.Device(5);
    ASSERT_EQ(d5.marks.size(), 2u);
    EXPECT_EQ(d5.marks[0].time, kT0 + 100);
    EXPECT_EQ(d5.marks[0].what, "calibrate_high");
    EXPECT_EQ(d5.marks[0].state, TrendMark::State::Confirmed);
    EXPECT_EQ(d5.marks[1].what, "calibrate_low");
    EXPECT_EQ(d5.marks[1].state, TrendMark::State::Refused);
    EXPECT_EQ(d5.marks[1].reason, "нет ответа");
    ASSERT_EQ(s.Device(6)->marks.size(), 1u);
    EXPECT_EQ(s.Device(6)->marks[0].state, TrendMark::State::Waiting);
}

TEST(TrendStore, RingKeepsTheNewestAndStaysOrdered) {
    TrendStore s(100);
    TimeMs t = kT0;
    for (int i = 0; i < 250; ++i) {
        Tick(s, t, Reply(1, 0, static_cast<std::uint16_t>(i), 1), Poll(1));
        t += 1000;
    }
    const DeviceTrend& d = *s.Device(1);
    ASSERT_EQ(d.samples.Size(), 100u);
    EXPECT_EQ(d.samples[0].level, 150);
    EXPECT_EQ(d.samples[99].level, 249);
    EXPECT_LE(d.samples.MemoryBytes(), 100 * sizeof(TrendSample));
    // Binary search across the wrap point.
    EXPECT_EQ(d.samples[d.samples.LowerBound(kT0 + 200'000)].level, 200);
    EXPECT_EQ(d.samples.LowerBound(t + 5), 100u);
}

TEST(TrendStore, ClockSteppingBackKeepsTimesOrdered) {
    TrendStore s;
    Tick(s, kT0 + 10'000, Reply(1, 0, 1, 1), Poll(1));
    Tick(s, kT0, Reply(1, 0, 2, 1), Poll(1));
    const DeviceTrend& d = *s.Device(1);
    ASSERT_EQ(d.samples.Size(), 2u);
    EXPECT_LE(d.samples[0].time, d.samples[1].time);
}

TEST(TrendCsv, OneHeaderAndOneLinePerReadingInTheRange) {
    TrendStore s;
    TimeMs t = kT0;
    for (int i = 0; i < 10; ++i) {
        Tick(s, t, i == 4 ? Bytes{} : Reply(2, static_cast<std::int8_t>(-i), 10, 99), Poll(2));
        t += 1000;
    }
    const std::string csv = TrendCsv(*s.Device(2), 2, kT0 + 2000, kT0 + 7000);
    std::istringstream in(csv);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line)) lines.push_back(line);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "time,address,level,temperature,current");
    // 2..7 s is six ticks; the one at 4 s was silent.
    ASSERT_EQ(lines.size(), 1u + 5u);
    EXPECT_NE(lines[1].find(",2,10,-2,99"), std::string::npos) << lines[1];
    EXPECT_NE(lines[5].find(",2,10,-7,99"), std::string::npos) << lines[5];
    for (std::size_t i = 2; i < lines.size(); ++i) EXPECT_LT(lines[i - 1], lines[i]);
}

}  // namespace
}  // namespace busdesk::engine
