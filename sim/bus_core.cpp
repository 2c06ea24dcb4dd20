#include "sim/bus_core.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "protocol/commands.h"

namespace busdesk::sim {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// A device forgets a half-received frame after this much quiet on the line.
constexpr milliseconds kFrameTimeout{20};
// Survey answers: each device waits its turn after the one before.
constexpr microseconds kSurveySlot{1000};

std::string Hex(const Bytes& b) {
    std::string s;
    for (std::uint8_t v : b) {
        std::array<char, 4> cell{};
        std::snprintf(cell.data(), cell.size(), "%02X ", v);
        s += cell.data();
    }
    if (!s.empty()) s.pop_back();
    return s;
}

}  // namespace

Bytes GarbageBytes(std::size_t count, std::uint32_t seed) {
    Bytes out;
    std::uint32_t x = seed * 2654435761U + 12345U;
    for (std::size_t i = 0; i < count; ++i) {
        x = x * 1103515245U + 12345U;
        auto b = static_cast<std::uint8_t>(x >> 16);
        if (i == 0 && b == proto::kReplyStart) b = 0x00;
        out.push_back(b);
    }
    return out;
}

BusCore::BusCore(const BusConfig& c)
    : model_(c),
      replyDelay_(milliseconds(std::max(0, c.replyDelayMs))),
      byteTime_(microseconds(std::max(0, c.byteTimeUs))) {}

void BusCore::Restart(Clock::time_point now) {
    parser_ = RequestParser{};
    tx_.Clear();
    sent_ = {};
    start_ = now;
    lastRx_ = now;
}

void BusCore::Idle(Clock::time_point now) {
    if (parser_.HasPartial() && now - lastRx_ > kFrameTimeout) parser_.Idle();
}

std::optional<Clock::time_point> BusCore::IdleDue() const {
    if (!parser_.HasPartial()) return std::nullopt;
    return lastRx_ + kFrameTimeout + milliseconds(1);
}

void BusCore::Receive(const std::uint8_t* data, std::size_t size, Clock::time_point now) {
    if (size == 0) return;
    Idle(now);
    lastRx_ = now;
    sent_.bytesReceived += size;
    for (const Request& q : parser_.Feed(data, size)) Answer(q, now);
}

void BusCore::Answer(const Request& q, Clock::time_point now) {
    if (log_) {
        Log(q.survey ? std::string("rx survey")
                     : "rx " + Hex(Bytes{proto::kRequestStart, q.address, q.command}) +
                           (q.payload.empty() ? "" : " " + Hex(q.payload)));
    }
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::vector<sim::Answer> answers = model_.Handle(q, seconds);
    if (answers.empty()) ++sent_.unanswered;
    const int corruptBefore = faults_.corrupt;
    const int lateBefore = faults_.late;
    for (sim::Answer& a : answers) {
        const bool survey = a.survey;
        const Clock::duration spacing = survey ? byteTime_ + kSurveySlot : byteTime_;
        for (Piece& p :
             Shape(std::move(a), faults_, std::chrono::duration_cast<microseconds>(byteTime_))) {
            if (log_) Log("tx " + Hex(p.bytes));
            tx_.Schedule(now + replyDelay_ + p.after, std::move(p.bytes), spacing);
        }
        ++sent_.answers;
    }
    sent_.corrupted += static_cast<std::size_t>(corruptBefore - faults_.corrupt);
    sent_.delayed += static_cast<std::size_t>(lateBefore - faults_.late);
}

bool BusCore::SetSilent(std::uint8_t address, bool silent) {
    return model_.SetPresent(address, !silent);
}

void BusCore::CorruptNext(int count) {
    faults_.corrupt = std::max(0, count);
}

void BusCore::SplitNext(int count, milliseconds gap) {
    faults_.split = std::max(0, count);
    faults_.splitGap = std::max(milliseconds(0), gap);
}

void BusCore::DelayNext(int count, milliseconds delay) {
    faults_.late = std::max(0, count);
    faults_.lateBy = std::max(milliseconds(0), delay);
}

void BusCore::Garbage(const Bytes& bytes, Clock::time_point now) {
    if (log_) Log("tx " + Hex(bytes) + " (garbage)");
    tx_.Schedule(now, bytes, byteTime_);
}

void BusCore::Garbage(std::size_t count, Clock::time_point now) {
    Garbage(GarbageBytes(count, garbageSeed_++), now);
}

void BusCore::SetSurveySize(std::size_t bytes) {
    faults_.surveySize = bytes;
}

BusStats BusCore::Stats() const {
    BusStats s = sent_;
    const auto& c = parser_.counts();
    s.requests = c.frames;
    s.badCrc = c.badCrc;
    s.droppedBytes = c.droppedBytes;
    return s;
}

}  // namespace busdesk::sim
