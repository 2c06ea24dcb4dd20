// The bus events: each write and reception decoded once, what they say agrees
// with what the window shows, confirmations carry the reply that made them,
// and the engine hands them to its front end before the controls.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "engine/engine.h"
#include "engine/line_frames.h"
#include "engine/line_monitor.h"
#include "link/memory_port.h"
#include "support/line_fixture.h"

namespace busdesk::engine {
namespace {

using testing::Framed;
using testing::Line;
using testing::ReaderData;
using What = Decoded::What;
using Kind = BusEvent::Kind;

std::vector<BusEvent> Of(const std::vector<BusEvent>& all, Kind kind) {
    std::vector<BusEvent> out;
    for (const BusEvent& e : all) {
        if (e.kind == kind) out.push_back(e);
    }
    return out;
}

struct Listening : Line {
    Listening() {
        monitor->Listen(true);
        monitor->TakeEvents();
    }
    // One tick with `rx` waiting; its reception's events.
    std::vector<BusEvent> Tick(Bytes rx) {
        if (!rx.empty()) port->QueueReception(std::move(rx));
        form->Tick();
        return monitor->TakeEvents();
    }
};

TEST(BusEvents, AReceptionSaysWhatTheWindowShows) {
    const Bytes longReading = ReaderData();  // 22 bytes: the mode byte 02 is in
    Bytes shortReading(longReading.begin(), longReading.begin() + 20);
    shortReading.push_back(Crc8(shortReading));
    Bytes badCrc = ReaderData();
    badCrc.back() ^= 0x5A;
    struct Case {
        const char* name;
        Bytes rx;
        What what;
    } const cases[] = {
        {"reading", ReaderData(), What::Reading},
        {"short reading", shortReading, What::Reading},
        {"bad CRC", badCrc, What::Reading},
        {"serial", Framed(1, 0xFC, {0x40, 0xE2, 0x01, 0x00, 0x86, 0x00}), What::Serial},
        {"ping", Framed(1, 0xE0, {0, 0, 0x30, 0x39, 0x1A, 0x2B, 0x3C, 0x4D, 0xF6}), What::TagPing},
        {"unknown", Framed(1, 0x99, {0x00}), What::Unknown},
        {"calibrated", Framed(1, 0xFA, {0x00}), What::Confirmation},
        {"stray", {0x01, 0x02}, What::Other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Listening line;
        const std::vector<BusEvent> rx = Of(line.Tick(c.rx), Kind::Rx);
        ASSERT_EQ(rx.size(), 1u);
        const Decoded& d = rx[0].heard;
        EXPECT_EQ(d.what, c.what);
        const frmSerial& w = *line.form;
        // Whatever the event holds, the window shows the same.
        if (d.reading.current) {
            EXPECT_EQ(w.tek.caption, std::to_string(*d.reading.current));
        }
        if (d.reading.level) {
            EXPECT_EQ(w.uroven.caption, std::to_string(*d.reading.level));
        }
        if (d.reading.empty) {
            EXPECT_EQ(w.lo.caption, std::to_string(*d.reading.empty));
        }
        if (d.reading.k) {
            EXPECT_EQ(w.ko.caption, std::to_string(*d.reading.k));
        }
        if (d.serial.serial) {
            EXPECT_EQ(w.sn.caption, std::to_string(*d.serial.serial));
        }
        if (d.serial.version) {
            EXPECT_EQ(w.vv.caption, proto::VersionShown(d.serial));
        }
        if (d.tag.id) {
            EXPECT_EQ(w.outID.caption, proto::TagIdShown(*d.tag.id));
        }
        if (d.tag.level) {
            EXPECT_EQ(w.UrPr.caption, std::to_string(*d.tag.level));
        }
        if (c.what == What::Reading) {
            EXPECT_EQ(d.reading.current.has_value(), d.crcGood);
        }
    }
    Listening line;
    EXPECT_EQ(Of(line.Tick(shortReading), Kind::Rx)[0].heard.reading.mode, std::nullopt);
    EXPECT_EQ(Of(line.Tick(longReading), Kind::Rx)[0].heard.reading.mode,
              std::optional<std::uint8_t>(0x02));
    EXPECT_EQ(line.form->R_a.value, 1);
}

TEST(BusEvents, StrayBytesBeforeTheSurveyAnswerAreNotTheAnswer) {
    Listening line;
    ASSERT_EQ(line.form->UserClick("Opros"), frmSerial::Raised::Handled);
    // Read in the tick that writes the survey: nothing was asked of them.
    const std::vector<BusEvent> first = line.Tick({0x09, 0x09});
    ASSERT_EQ(Of(first, Kind::Command).size(), 1u);
    EXPECT_EQ(Of(first, Kind::Rx)[0].heard.what, What::Other);
    EXPECT_TRUE(Of(first, Kind::Result).empty());

    const std::vector<BusEvent> answer = line.Tick({0x01, 0x05});
    const std::vector<BusEvent> rx = Of(answer, Kind::Rx);
    ASSERT_EQ(rx.size(), 1u);
    EXPECT_EQ(rx[0].heard.what, What::Survey);
    EXPECT_EQ(rx[0].heard.addresses, (std::vector<std::uint8_t>{1, 5}));
    const std::vector<BusEvent> result = Of(answer, Kind::Result);
    ASSERT_EQ(result.size(), 1u);
    EXPECT_TRUE(result[0].ok);
    EXPECT_EQ(result[0].id, Of(first, Kind::Command)[0].id);
    EXPECT_EQ(result[0].heard.addresses, rx[0].heard.addresses);
}

TEST(BusEvents, ALongListIsNoSurveyAnswerForTheWindowNorForTheResult) {
    Listening line;
    line.form->UserClick("Opros");
    line.Tick({});
    const std::vector<BusEvent> events = line.Tick(Bytes(20, 0x01));
    EXPECT_EQ(Of(events, Kind::Rx)[0].heard.what, What::Other);
    EXPECT_NE(line.form->MsgCom.caption, "Произошел опрос сети.");
    // Not yet resolved: one more read may still bring the answer.
    const std::vector<BusEvent> later = line.Tick({});
    ASSERT_EQ(Of(later, Kind::Result).size(), 1u);
    EXPECT_FALSE(Of(later, Kind::Result)[0].ok);
}

TEST(BusEvents, AModeConfirmationCarriesTheModeTheDeviceTook) {
    Listening line;
    line.form->UserClick("R485");
    line.form->UserClick("iinv");
    ASSERT_EQ(line.form->UserClick("Set_mode"), frmSerial::Raised::Handled);
    const std::vector<BusEvent> sent = line.Tick({});
    ASSERT_EQ(Of(sent, Kind::Command).size(), 1u);
    const std::vector<BusEvent> got = line.Tick(Framed(1, 0xF2, {0x80}));
    const std::vector<BusEvent> result = Of(got, Kind::Result);
    ASSERT_EQ(result.size(), 1u);
    EXPECT_TRUE(result[0].ok);
    EXPECT_EQ(result[0].heard.what, What::Mode);
    EXPECT_EQ(result[0].heard.mode, std::optional<std::uint8_t>(0x80));
}

TEST(BusEvents, NothingIsKeptUnlessSomeoneListens) {
    Line line;
    line.port->QueueReception(ReaderData());
    line.form->Tick();
    EXPECT_TRUE(line.monitor->TakeEvents().empty());
}

// A front end that records the order of what it is given.
class Recorder : public FrontEnd {
  public:
    void Publish(Snapshot) override {
        std::lock_guard lock(mutex);
        order.push_back("publish");
        changed.notify_all();
    }
    void ShowBox(std::uint64_t, const BoxRequest&) override {}
    void BusEvents(const std::vector<BusEvent>& events) override {
        std::lock_guard lock(mutex);
        for (const BusEvent& e : events) {
            order.push_back(e.kind == Kind::Tx ? "tx" : e.kind == Kind::Rx ? "rx" : "other");
            if (e.kind == Kind::Rx) heard.push_back(e.heard.what);
        }
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> order;
    std::vector<What> heard;
};

TEST(BusEvents, TheEngineHandsThemToTheFrontEndBeforeTheControls) {
    auto port = std::make_unique<MemoryPort>();
    MemoryPort* memory = port.get();
    memory->QueueReception({});
    memory->QueueReception(ReaderData());
    Recorder front;
    Engine::Options options;
    options.tick = std::chrono::milliseconds(5);
    Engine engine([&port](Dialogs&) { return std::move(port); }, front, options);
    engine.Start();
    engine.PostClick("BTNOpenCom");
    {
        std::unique_lock lock(front.mutex);
        ASSERT_TRUE(front.changed.wait_for(lock, std::chrono::seconds(10),
                                           [&] { return !front.heard.empty(); }));
    }
    engine.Stop();
    EXPECT_EQ(front.heard.front(), What::Reading);
    // Every rx is followed by the controls of its tick.
    const auto rx = std::find(front.order.begin(), front.order.end(), "rx");
    ASSERT_NE(rx, front.order.end());
    EXPECT_NE(std::find(rx, front.order.end(), "publish"), front.order.end());
}

TEST(BusEvents, AChangeIsConfirmedOnlyByTheReplyItAskedFor) {
    // A request with its CRC, as the window frames it.
    const auto request = [](std::uint8_t address, std::uint8_t code, Bytes payload) {
        payload.insert(payload.begin(), {0x31, address, code});
        payload.push_back(Crc8(payload));
        return payload;
    };
    const Bytes ident = request(1, 0xE4, {0xDE, 0xAD, 0xBE, 0xEF});
    const Bytes ping = [](std::uint32_t id) {
        return Framed(1, 0xE0,
                      {0x00, 0x00, 0x13, 0x89, static_cast<std::uint8_t>(id >> 24),
                       static_cast<std::uint8_t>(id >> 16), static_cast<std::uint8_t>(id >> 8),
                       static_cast<std::uint8_t>(id), 0xC3});
    }(0xDEADBEEF);
    Bytes otherPing = ping;
    otherPing[7] = 0x1A;
    otherPing.back() = Crc8(Bytes(otherPing.begin(), otherPing.end() - 1));
    Bytes badCrc = ping;
    badCrc.back() ^= 0xFF;
    const Bytes setAddress = request(5, 0xFB, {0x0F});
    Bytes twoReplies = ReaderData();
    twoReplies.insert(twoReplies.end(), ping.begin(), ping.end());
    struct Case {
        const char* name;
        const Bytes& frame;
        Bytes rx;
        bool confirmed;
    } const cases[] = {
        {"the named tag's ping", ident, ping, true},
        {"another tag's ping", ident, otherPing, false},
        {"the named tag's ping with a bad CRC", ident, badCrc, false},
        {"a ping cut before its identifier", ident, Bytes(ping.begin(), ping.begin() + 9), false},
        {"the ping behind a reader's data", ident, twoReplies, true},
        {"the address confirmation", setAddress, Framed(5, 0xFB), true},
        {"another code", setAddress, ReaderData(), false},
        {"nothing", setAddress, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Confirms(c.frame, c.rx), c.confirmed);
    }
}

}  // namespace
}  // namespace busdesk::engine
