#include "sim/inprocess_port.h"

#include <algorithm>

#include "link/open_failure.h"
#include "link/open_reason.h"

namespace busdesk::sim {

namespace {

using std::chrono::milliseconds;

constexpr std::size_t kMaxTransfer = 255;
constexpr milliseconds kReadTotal{256};  // 1 ms constant + 1 ms x 255 bytes
constexpr milliseconds kReadGap{20};
// What a serial driver buffers for a reader that does not come.
constexpr std::size_t kInputBuffer = 4096;

}  // namespace

InProcessBus::InProcessBus() : InProcessBus(DefaultBusConfig()) {}

InProcessBus::InProcessBus(const BusConfig& config, double speed) : clock_(speed), core_(config) {
    core_.Restart(clock_.Now());
}

void InProcessBus::Arrive(Clock::time_point now) {
    Transmitter& tx = core_.line();
    // Byte by byte at the time each falls due, so a read can tell a gap on the
    // line from a late wake-up of its own.
    for (auto due = tx.NextDue(); due && *due <= now; due = tx.NextDue()) {
        for (const std::uint8_t b : tx.Take(*due)) {
            core_.CountSent(1);
            if (input_.size() < kInputBuffer)
                input_.push_back({b, *due});
            else
                ++line_.overrun;
        }
    }
}

void InProcessBus::Drain(Clock::time_point now) {
    core_.CountSent(core_.line().Take(now).size());
    input_.clear();
}

bool InProcessBus::SetSilent(std::uint8_t address, bool silent) {
    std::lock_guard lock(mu_);
    return core_.SetSilent(address, silent);
}

void InProcessBus::CorruptNextReplies(int count) {
    std::lock_guard lock(mu_);
    core_.CorruptNext(count);
}

void InProcessBus::SplitNextReplies(int count, milliseconds gap) {
    std::lock_guard lock(mu_);
    core_.SplitNext(count, gap);
}

void InProcessBus::DelayNextReplies(int count, milliseconds delay) {
    std::lock_guard lock(mu_);
    core_.DelayNext(count, delay);
}

void InProcessBus::SendGarbage(const Bytes& bytes) {
    {
        std::lock_guard lock(mu_);
        core_.Garbage(bytes, clock_.Now());
    }
    changed_.notify_all();
}

void InProcessBus::SendGarbage(std::size_t count) {
    {
        std::lock_guard lock(mu_);
        core_.Garbage(count, clock_.Now());
    }
    changed_.notify_all();
}

void InProcessBus::SetSurveySize(std::size_t bytes) {
    std::lock_guard lock(mu_);
    core_.SetSurveySize(bytes);
}

BusStats InProcessBus::Stats() const {
    std::lock_guard lock(mu_);
    return core_.Stats();
}

LineStats InProcessBus::Line() const {
    std::lock_guard lock(mu_);
    return line_;
}

std::vector<ReaderConfig> InProcessBus::Readers() const {
    std::lock_guard lock(mu_);
    return core_.model().readers();
}

std::vector<TagConfig> InProcessBus::Tags() const {
    std::lock_guard lock(mu_);
    return core_.model().tags();
}

void InProcessBus::SetTrafficLog(std::function<void(const std::string&)> log) {
    std::lock_guard lock(mu_);
    core_.SetTrafficLog(std::move(log));
}

InProcessPort::InProcessPort(InProcessBus& bus, Dialogs& dialogs, std::string name)
    : bus_(bus), dialogs_(dialogs), name_(std::move(name)) {}

InProcessPort::~InProcessPort() {
    ClosePort();
}

bool InProcessPort::OpenPort(const std::string& name, const std::string& settings) {
    ClosePort();
    bool taken = false;
    if (name == name_) {
        std::lock_guard lock(bus_.mu_);
        taken = bus_.taken_;
        if (!taken) {
            bus_.taken_ = true;
            bus_.Drain(bus_.clock_.Now());
            ++bus_.line_.opens;
        }
    }
    // Another name, or the line held by another port: as a system port that
    // does not exist or is in use.
    if (name != name_ || taken) {
        openError_ =
            name != name_
                ? ReasonText(
                      {OpenTrouble::NoDevice, name, "в имитации шины есть только " + name_, {}, {}})
                : ReasonText(
                      {OpenTrouble::Busy, name, "линию имитации уже открыл другой порт", {}, {}});
        ReportOpenFailure(dialogs_, OpenFailure::Unavailable, name, settings, 0);
        return false;
    }
    open_ = true;
    openError_.clear();
    return true;
}

int InProcessPort::ClosePort() {
    if (!open_) return 0;
    open_ = false;
    std::lock_guard lock(bus_.mu_);
    bus_.Drain(bus_.clock_.Now());
    bus_.taken_ = false;
    return 1;
}

void InProcessPort::FlushPort() {
    // Writes reach the devices at once: nothing is ever left to send.
}

Bytes InProcessPort::ReadPort() {
    Bytes out;
    if (!open_) return out;
    InProcessBus& b = bus_;
    std::unique_lock lock(b.mu_);
    const Clock::time_point start = b.clock_.Now();
    const Clock::time_point total = start + kReadTotal;
    Clock::time_point last{};
    const auto deadline = [&] { return out.empty() ? total : std::min(total, last + kReadGap); };
    for (;;) {
        const Clock::time_point now = b.clock_.Now();
        b.Arrive(now);
        bool ended = false;
        while (out.size() < kMaxTransfer && !b.input_.empty()) {
            // What was waiting in the buffer counts as come when the read began.
            const Clock::time_point at = std::max(b.input_.front().at, start);
            if (at > deadline()) {
                ended = true;
                break;
            }
            out.push_back(b.input_.front().byte);
            b.input_.pop_front();
            last = at;
        }
        if (ended) break;
        if (out.size() >= kMaxTransfer) {
            // What is still queued behind a full read is backlog no answer
            // needs; keeping it would show stale readings for many ticks.
            b.line_.discarded += b.input_.size();
            b.input_.clear();
            break;
        }
        const Clock::time_point until = deadline();
        if (now >= until) break;
        const auto next = b.core_.line().NextDue();
        const Clock::time_point wake = next ? std::min(*next, until) : until;
        b.changed_.wait_until(lock, b.clock_.RealTime(wake));
    }
    ++b.line_.reads;
    if (out.empty()) ++b.line_.emptyReads;
    b.line_.bytesRead += out.size();
    return out;
}

std::optional<bool> InProcessPort::WaitReadable(std::chrono::milliseconds timeout) {
    if (!open_) return false;
    InProcessBus& b = bus_;
    std::unique_lock lock(b.mu_);
    // The caller's time-out is real time; the bus may run faster.
    const Clock::time_point giveUp = Clock::now() + timeout;
    for (;;) {
        b.Arrive(b.clock_.Now());
        if (!b.input_.empty()) return true;
        if (Clock::now() >= giveUp) return false;
        const auto next = b.core_.line().NextDue();
        const Clock::time_point wake = next ? std::min(b.clock_.RealTime(*next), giveUp) : giveUp;
        b.changed_.wait_until(lock, wake);
    }
}

std::optional<bool> InProcessPort::WaitReadable(std::chrono::milliseconds timeout,
                                                const WakeSignal& wake) {
    if (!open_) return false;
    InProcessBus& b = bus_;
    // A raise takes the bus's lock before it notifies, so it cannot fall
    // between the check below and the wait.
    wake.SetHook([&b] {
        std::lock_guard hold(b.mu_);
        b.changed_.notify_all();
    });
    std::optional<bool> out;
    {
        std::unique_lock lock(b.mu_);
        const Clock::time_point giveUp = Clock::now() + timeout;
        while (!out) {
            b.Arrive(b.clock_.Now());
            if (!b.input_.empty()) {
                out = true;
            } else if (wake.Raised() || Clock::now() >= giveUp) {
                out = false;
            } else {
                const auto next = b.core_.line().NextDue();
                const Clock::time_point until =
                    next ? std::min(b.clock_.RealTime(*next), giveUp) : giveUp;
                b.changed_.wait_until(lock, until);
            }
        }
    }
    wake.SetHook({});
    return out;
}

std::uint64_t InProcessPort::DiscardedBytes() const {
    std::lock_guard lock(bus_.mu_);
    return bus_.line_.discarded;
}

std::int16_t InProcessPort::WritePort(const Bytes& data) {
    if (!open_ || data.empty()) return 0;
    {
        std::lock_guard lock(bus_.mu_);
        const Clock::time_point now = bus_.clock_.Now();
        bus_.core_.Receive(data.data(), data.size(), now);
        ++bus_.line_.writes;
        bus_.line_.bytesWritten += data.size();
    }
    bus_.changed_.notify_all();
    return static_cast<std::int16_t>(std::min<std::size_t>(data.size(), 32767));
}

}  // namespace busdesk::sim
