#include "sim/request_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/line_reader.h"

namespace busdesk::sim {
namespace {

using busdesk::testing::Framed;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kPoll1 = {0x31, 0x01, 0xF0, 0xC5};
const Bytes kSurvey = {0x31, 0xFF, 0xDC};
const Bytes kSetMode5 = {0x31, 0x05, 0xF2, 0x02, 0x46};
const Bytes kSearch1 = {0x31, 0x01, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A, 0x25};
const Bytes kTagWrite = {0x31, 0x01, 0xE1, 0x0E, 0x00, 0x00, 0x04, 0xD2, 0x00, 0x00,
                         0x0A, 0xBC, 0x00, 0x64, 0x02, 0x64, 0x00, 0x3C, 0x56};
const Bytes kTagSerial = {0x31, 0x03, 0xE2, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00, 0x00, 0x64, 0x49};

struct SplitCase {
    std::string name;
    Bytes stream;
    std::vector<std::uint8_t> commands;  // 0xFF stands for the survey
    std::size_t badCrc;
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, FindsEachGoodFrame) {
    const SplitCase& c = GetParam();
    RequestParser p;
    const auto requests = p.Feed(c.stream);
    std::vector<std::uint8_t> got;
    for (const Request& r : requests) got.push_back(r.survey ? 0xFF : r.command);
    EXPECT_EQ(got, c.commands);
    EXPECT_EQ(p.counts().badCrc, c.badCrc);
}

Bytes WithBadCrc(Bytes b) {
    b.back() ^= 0x01;
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, SplitTest,
    ::testing::Values(
        SplitCase{"single_poll", kPoll1, {0xF0}, 0}, SplitCase{"survey", kSurvey, {0xFF}, 0},
        SplitCase{"two_frames_one_write", Cat({kPoll1, kSetMode5}), {0xF0, 0xF2}, 0},
        SplitCase{"three_frames", Cat({kSetMode5, kSetMode5, kSearch1}), {0xF2, 0xF2, 0xE0}, 0},
        SplitCase{"long_frames", Cat({kTagWrite, kTagSerial}), {0xE1, 0xE2}, 0},
        SplitCase{"bad_crc_then_good", Cat({WithBadCrc(kPoll1), kSearch1}), {0xE0}, 1},
        SplitCase{"garbage_before", Cat({{0x00, 0x3E, 0xFF, 0x31}, kPoll1}), {0xF0}, 0},
        SplitCase{"unknown_command_skipped", Cat({Framed({0x31, 0x01, 0x77}), kPoll1}), {0xF0}, 0},
        SplitCase{"tag_write_with_other_length",
                  Cat({Framed({0x31, 0x01, 0xE1, 0x02, 0x00, 0x00}), kPoll1}),
                  {0xF0},
                  0},
        SplitCase{"payload_bytes_look_like_starts",
                  Framed({0x31, 0x31, 0xE0, 0x31, 0x3E, 0x0D, 0x0A}),
                  {0xE0},
                  0},
        SplitCase{"bad_survey_crc", {0x31, 0xFF, 0xDD}, {}, 1}),
    [](const ::testing::TestParamInfo<SplitCase>& p) { return p.param.name; });

TEST(RequestParser, FrameSpreadOverReadsIsJoined) {
    RequestParser p;
    for (std::size_t cut = 1; cut < kTagWrite.size(); ++cut) {
        const Bytes head(kTagWrite.begin(), kTagWrite.begin() + static_cast<std::ptrdiff_t>(cut));
        const Bytes tail(kTagWrite.begin() + static_cast<std::ptrdiff_t>(cut), kTagWrite.end());
        EXPECT_TRUE(p.Feed(head).empty()) << cut;
        const auto r = p.Feed(tail);
        ASSERT_EQ(r.size(), 1U) << cut;
        EXPECT_EQ(r[0].command, 0xE1);
        EXPECT_EQ(r[0].address, 0x01);
        EXPECT_EQ(r[0].payload, Bytes(kTagWrite.begin() + 3, kTagWrite.end() - 1));
    }
}

TEST(RequestParser, QuietLineForgetsHalfAFrame) {
    RequestParser p;
    EXPECT_TRUE(p.Feed(Bytes{0x31, 0x01}).empty());
    EXPECT_TRUE(p.HasPartial());
    p.Idle();
    EXPECT_FALSE(p.HasPartial());
    // The rest of the old frame no longer completes it; a new frame is found.
    const auto r = p.Feed(Cat({{0xF0, 0xC5}, kSearch1}));
    ASSERT_EQ(r.size(), 1U);
    EXPECT_EQ(r[0].command, 0xE0);
}

TEST(RequestParser, FieldsOfARequest) {
    RequestParser p;
    const auto r = p.Feed(kTagSerial);
    ASSERT_EQ(r.size(), 1U);
    EXPECT_EQ(r[0].address, 0x03);
    EXPECT_FALSE(r[0].survey);
    EXPECT_EQ(r[0].payload, (Bytes{0x00, 0x00, 0x12, 0x34, 0x00, 0x00, 0x00, 0x64}));
}

}  // namespace
}  // namespace busdesk::sim
