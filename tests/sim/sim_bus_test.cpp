// The bus behind a real pseudo-terminal, spoken to with raw reads and writes.
#include "sim/sim_bus.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "sim/line_reader.h"

namespace busdesk::sim {
namespace {

using busdesk::testing::Framed;
using busdesk::testing::ReadReception;
using std::chrono::milliseconds;

class SimBusTest : public ::testing::Test {
  protected:
    void SetUp() override { Open(DefaultBusConfig()); }
    void TearDown() override {
        if (fd >= 0) close(fd);
    }

    void Open(BusConfig config) {
        if (fd >= 0) close(fd);
        config.drift = false;
        bus = std::make_unique<SimulatedBus>(config);
        path = bus->Start();
        ASSERT_FALSE(path.empty()) << bus->Error();
        fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios tio{};
        ASSERT_EQ(tcgetattr(fd, &tio), 0);
        cfmakeraw(&tio);
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
    }

    Bytes Ask(const Bytes& request) {
        EXPECT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
        return ReadReception(fd);
    }

    std::unique_ptr<SimulatedBus> bus;
    std::string path;
    int fd = -1;
};

TEST_F(SimBusTest, SurveyAnswerArrivesAsOneReception) {
    EXPECT_EQ(Ask({0x31, 0xFF, 0xDC}), (Bytes{1, 5, 7}));
}

TEST_F(SimBusTest, AnswersEachRequestOnTheLine) {
    const Bytes data = Ask(Framed({0x31, 0x01, 0xF0}));
    ASSERT_EQ(data.size(), 22U);
    EXPECT_EQ(data[0], 0x3E);
    EXPECT_EQ(data.back(), Crc8(data, 21));
    EXPECT_EQ(Ask(Framed({0x31, 0x05, 0xFC})).size(), 10U);
    EXPECT_EQ(Ask(Framed({0x31, 0x01, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A})).size(), 13U);
    EXPECT_EQ(bus->Stats().requests, 3U);
}

TEST_F(SimBusTest, TwoFramesInOneWriteGetTwoAnswers) {
    Bytes both = Framed({0x31, 0x05, 0xF0});
    const Bytes mode = Framed({0x31, 0x05, 0xF2, 0x01});
    both.insert(both.end(), mode.begin(), mode.end());
    const Bytes r = Ask(both);
    ASSERT_EQ(r.size(), 22U + 5U);
    EXPECT_EQ(r[2], 0xF0);
    EXPECT_EQ(r[22 + 2], 0xF2);
}

TEST_F(SimBusTest, BadCrcAndAbsentDevicesAreSilent) {
    EXPECT_TRUE(Ask({0x31, 0x01, 0xF0, 0xC6}).empty());
    EXPECT_TRUE(Ask(Framed({0x31, 0x09, 0xF0})).empty());
    EXPECT_TRUE(Ask(Framed({0x31, 0x05, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A})).empty());
    EXPECT_EQ(bus->Stats().badCrc, 1U);
    // The bus is not stuck on the bad frame.
    EXPECT_EQ(Ask(Framed({0x31, 0x01, 0xFC})).size(), 10U);
}

TEST_F(SimBusTest, SilentDeviceComesBack) {
    ASSERT_TRUE(bus->SetSilent(1, true));
    EXPECT_TRUE(Ask(Framed({0x31, 0x01, 0xF0})).empty());
    EXPECT_EQ(Ask({0x31, 0xFF, 0xDC}), (Bytes{5, 7}));
    ASSERT_TRUE(bus->SetSilent(1, false));
    EXPECT_EQ(Ask(Framed({0x31, 0x01, 0xF0})).size(), 22U);
    EXPECT_FALSE(bus->SetSilent(42, true));
}

TEST_F(SimBusTest, SplitReplyIsReadAsTwoReceptions) {
    bus->SplitNextReplies(1, milliseconds(60));
    const Bytes first = Ask(Framed({0x31, 0x01, 0xF0}));
    const Bytes second = ReadReception(fd);
    EXPECT_EQ(first.size(), 11U);
    EXPECT_EQ(second.size(), 11U);
    EXPECT_EQ(first[0], 0x3E);
}

TEST_F(SimBusTest, LateReplyComesAfterTheNextOne) {
    bus->DelayNextReplies(1, milliseconds(400));
    const Bytes request = Framed({0x31, 0x05, 0xFC});
    ASSERT_EQ(write(fd, request.data(), request.size()), 4);
    EXPECT_TRUE(ReadReception(fd, milliseconds(100)).empty());
    const Bytes onTime = Ask(Framed({0x31, 0x05, 0xF0}));
    EXPECT_EQ(onTime.size(), 22U);
    const Bytes late = ReadReception(fd, milliseconds(600));
    ASSERT_EQ(late.size(), 10U);
    EXPECT_EQ(late[2], 0xFC);
}

TEST_F(SimBusTest, CorruptedCrcAndOversizedSurvey) {
    bus->CorruptNextReplies(1);
    const Bytes bad = Ask(Framed({0x31, 0x01, 0xF0}));
    ASSERT_EQ(bad.size(), 22U);
    EXPECT_NE(bad.back(), Crc8(bad, 21));
    const Bytes good = Ask(Framed({0x31, 0x01, 0xF0}));
    EXPECT_EQ(good.back(), Crc8(good, 21));

    bus->SetSurveySize(20);
    EXPECT_EQ(Ask({0x31, 0xFF, 0xDC}).size(), 20U);
}

TEST_F(SimBusTest, GarbageGoesOnTheLine) {
    bus->SendGarbage(Bytes{0x00, 0x13, 0x37});
    EXPECT_EQ(ReadReception(fd), (Bytes{0x00, 0x13, 0x37}));
    const Bytes g = GarbageBytes(8);
    EXPECT_EQ(g.size(), 8U);
    EXPECT_NE(g[0], 0x3E);
}

TEST_F(SimBusTest, StateChangesAreKeptByTheDevices) {
    EXPECT_EQ(Ask(Framed({0x31, 0x05, 0xFB, 0x0C})).size(), 5U);
    EXPECT_EQ(Ask({0x31, 0xFF, 0xDC}), (Bytes{1, 12, 7}));
    const auto readers = bus->Readers();
    EXPECT_EQ(readers[1].address, 12);
}

TEST_F(SimBusTest, DroppedLineFailsTheToolsWrites) {
    bus->DropLine();
    EXPECT_TRUE(bus->LineDropped());
    const Bytes poll = Framed({0x31, 0x01, 0xF0});
    errno = 0;
    EXPECT_EQ(write(fd, poll.data(), poll.size()), -1);
    EXPECT_EQ(errno, EIO);
    bus->Stop();  // after a drop, still safe
    bus->Stop();
}

TEST_F(SimBusTest, RestartGivesAFreshLine) {
    bus->Stop();
    close(fd);
    fd = -1;
    const std::string again = bus->Start();
    ASSERT_FALSE(again.empty());
    fd = open(again.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    EXPECT_EQ(Ask({0x31, 0xFF, 0xDC}), (Bytes{1, 5, 7}));
}

TEST_F(SimBusTest, ToolClosingAndReopeningDoesNotStopTheBus) {
    close(fd);
    fd = -1;
    std::this_thread::sleep_for(milliseconds(30));
    fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask({0x31, 0xFF, 0xDC}), (Bytes{1, 5, 7}));
}

}  // namespace
}  // namespace busdesk::sim
