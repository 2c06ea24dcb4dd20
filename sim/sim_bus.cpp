#include "sim/sim_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "protocol/commands.h"
#include "sim/bus_model.h"
#include "sim/faults.h"
#include "sim/pty.h"
#include "sim/request_parser.h"
#include "sim/transmitter.h"

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

struct SimulatedBus::Impl {
    explicit Impl(const BusConfig& c)
        : model(c),
          replyDelay(milliseconds(std::max(0, c.replyDelayMs))),
          byteTime(microseconds(std::max(0, c.byteTimeUs))) {}

    void Run();
    void Wake();
    void Receive(Clock::time_point now);
    void Answer(const Request& q, Clock::time_point now);
    void Send(Clock::time_point now);
    void Log(const std::string& line) {
        if (log) log(line);
    }

    mutable std::mutex mu;
    std::condition_variable changed;
    BusModel model;
    Faults faults;
    Transmitter tx;
    RequestParser parser;
    BusStats sent;  // the parser keeps the other counts
    std::function<void(const std::string&)> log;
    const Clock::duration replyDelay;
    const Clock::duration byteTime;

    Pty pty;
    std::array<int, 2> wake{-1, -1};
    std::thread thread;
    bool running = false;
    bool stopRequested = false;
    bool dropRequested = false;
    bool dropped = false;
    std::string path;
    std::string error;
    Clock::time_point start{};
    Clock::time_point lastRx{};
    std::uint32_t garbageSeed = 1;
};

void SimulatedBus::Impl::Wake() {
    const std::uint8_t one = 1;
    // A full pipe already holds a wake-up; nothing is lost when this fails.
    [[maybe_unused]] const ssize_t n = write(wake[1], &one, 1);
}

void SimulatedBus::Impl::Send(Clock::time_point now) {
    const Bytes out = tx.Take(now);
    if (out.empty() || pty.master < 0) return;
    // Nobody reads the slave and its buffer is full: a line keeps nothing, so
    // the bytes are lost rather than blocking the bus.
    const ssize_t n = write(pty.master, out.data(), out.size());
    if (n > 0) sent.bytesSent += static_cast<std::size_t>(n);
}

void SimulatedBus::Impl::Answer(const Request& q, Clock::time_point now) {
    Log(q.survey ? std::string("rx survey")
                 : "rx " + Hex(Bytes{proto::kRequestStart, q.address, q.command}) +
                       (q.payload.empty() ? "" : " " + Hex(q.payload)));
    const double seconds = std::chrono::duration<double>(now - start).count();
    for (sim::Answer& a : model.Handle(q, seconds)) {
        const bool survey = a.survey;
        const Clock::duration spacing = survey ? byteTime + kSurveySlot : byteTime;
        for (Piece& p :
             Shape(std::move(a), faults, std::chrono::duration_cast<microseconds>(byteTime))) {
            Log("tx " + Hex(p.bytes));
            tx.Schedule(now + replyDelay + p.after, std::move(p.bytes), spacing);
        }
        ++sent.answers;
    }
}

void SimulatedBus::Impl::Receive(Clock::time_point now) {
    std::array<std::uint8_t, 256> buf{};
    for (;;) {
        const ssize_t n = read(pty.master, buf.data(), buf.size());
        if (n <= 0) return;
        lastRx = now;
        for (const Request& q : parser.Feed(buf.data(), static_cast<std::size_t>(n))) {
            Answer(q, now);
        }
    }
}

void SimulatedBus::Impl::Run() {
    std::unique_lock lock(mu);
    Clock::time_point masterQuietUntil{};
    while (!stopRequested && !dropRequested) {
        Clock::time_point now = Clock::now();
        Send(now);
        if (parser.HasPartial() && now - lastRx > kFrameTimeout) parser.Idle();

        std::optional<Clock::time_point> deadline = tx.NextDue();
        if (parser.HasPartial()) {
            const auto forget = lastRx + kFrameTimeout + milliseconds(1);
            if (!deadline || forget < *deadline) deadline = forget;
        }
        const bool watchMaster = now >= masterQuietUntil;
        if (!watchMaster && (!deadline || masterQuietUntil < *deadline)) {
            deadline = masterQuietUntil;
        }
        timespec ts{};
        const timespec* timeout = nullptr;
        if (deadline) {
            const auto wait = std::max(Clock::duration::zero(), *deadline - now);
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            timeout = &ts;
        }
        std::array<pollfd, 2> fds{};
        fds[0] = {wake[0], POLLIN, 0};
        fds[1] = {watchMaster ? pty.master : -1, POLLIN, 0};

        lock.unlock();
        const int ready = ppoll(fds.data(), fds.size(), timeout, nullptr);
        lock.lock();
        if (ready < 0 && errno != EINTR) break;
        now = Clock::now();

        if (fds[0].revents & POLLIN) {
            std::array<std::uint8_t, 64> drain{};
            while (read(wake[0], drain.data(), drain.size()) > 0) {
            }
        }
        if (fds[1].revents & POLLIN) {
            Receive(now);
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            // Should not happen while the bus holds a slave open; if it does,
            // look again later instead of spinning on the hang-up.
            masterQuietUntil = now + milliseconds(50);
        }
    }
    if (dropRequested) {
        ClosePty(pty);
        dropped = true;
        Log("line dropped");
    }
    running = false;
    changed.notify_all();
}

SimulatedBus::SimulatedBus() : SimulatedBus(DefaultBusConfig()) {}

SimulatedBus::SimulatedBus(const BusConfig& config) : impl_(std::make_unique<Impl>(config)) {}

SimulatedBus::~SimulatedBus() {
    Stop();
}

std::string SimulatedBus::Start() {
    Impl& m = *impl_;
    std::lock_guard lock(m.mu);
    if (m.running) return m.path;
    if (m.thread.joinable()) m.thread.join();  // ended by a dropped line
    if (!OpenPty(m.pty, m.error)) return {};
    if (m.wake[0] < 0 && pipe2(m.wake.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
        m.error = std::string("pipe: ") + std::strerror(errno);
        ClosePty(m.pty);
        return {};
    }
    m.path = m.pty.path;
    m.parser = RequestParser{};
    m.tx.Clear();
    m.sent = {};
    m.start = Clock::now();
    m.stopRequested = m.dropRequested = m.dropped = false;
    m.running = true;
    m.thread = std::thread([&m] { m.Run(); });
    return m.path;
}

void SimulatedBus::Stop() {
    Impl& m = *impl_;
    {
        std::lock_guard lock(m.mu);
        m.stopRequested = true;
        if (m.running) m.Wake();
    }
    if (m.thread.joinable()) m.thread.join();
    std::lock_guard lock(m.mu);
    ClosePty(m.pty);
    for (int& fd : m.wake) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

std::string SimulatedBus::SlavePath() const {
    std::lock_guard lock(impl_->mu);
    return impl_->path;
}

std::string SimulatedBus::Error() const {
    std::lock_guard lock(impl_->mu);
    return impl_->error;
}

bool SimulatedBus::SetSilent(std::uint8_t address, bool silent) {
    std::lock_guard lock(impl_->mu);
    return impl_->model.SetPresent(address, !silent);
}

void SimulatedBus::CorruptNextReplies(int count) {
    std::lock_guard lock(impl_->mu);
    impl_->faults.corrupt = std::max(0, count);
}

void SimulatedBus::SplitNextReplies(int count, std::chrono::milliseconds gap) {
    std::lock_guard lock(impl_->mu);
    impl_->faults.split = std::max(0, count);
    impl_->faults.splitGap = std::max(milliseconds(0), gap);
}

void SimulatedBus::DelayNextReplies(int count, std::chrono::milliseconds delay) {
    std::lock_guard lock(impl_->mu);
    impl_->faults.late = std::max(0, count);
    impl_->faults.lateBy = std::max(milliseconds(0), delay);
}

void SimulatedBus::SendGarbage(const Bytes& bytes) {
    Impl& m = *impl_;
    std::lock_guard lock(m.mu);
    if (!m.running) return;
    m.Log("tx " + Hex(bytes) + " (garbage)");
    m.tx.Schedule(Clock::now(), bytes, m.byteTime);
    m.Wake();
}

void SimulatedBus::SendGarbage(std::size_t count) {
    std::uint32_t seed = 0;
    {
        std::lock_guard lock(impl_->mu);
        seed = impl_->garbageSeed++;
    }
    SendGarbage(GarbageBytes(count, seed));
}

void SimulatedBus::SetSurveySize(std::size_t bytes) {
    std::lock_guard lock(impl_->mu);
    impl_->faults.surveySize = bytes;
}

void SimulatedBus::DropLine() {
    Impl& m = *impl_;
    std::unique_lock lock(m.mu);
    if (!m.running) {
        m.dropped = m.dropped || m.pty.master >= 0;
        ClosePty(m.pty);
        return;
    }
    m.dropRequested = true;
    m.Wake();
    // Return only once the line is gone, so a caller's next write sees it.
    m.changed.wait(lock, [&m] { return !m.running; });
}

bool SimulatedBus::LineDropped() const {
    std::lock_guard lock(impl_->mu);
    return impl_->dropped;
}

BusStats SimulatedBus::Stats() const {
    std::lock_guard lock(impl_->mu);
    BusStats s = impl_->sent;
    const auto& c = impl_->parser.counts();
    s.requests = c.frames;
    s.badCrc = c.badCrc;
    s.droppedBytes = c.droppedBytes;
    return s;
}

std::vector<ReaderConfig> SimulatedBus::Readers() const {
    std::lock_guard lock(impl_->mu);
    return impl_->model.readers();
}

std::vector<TagConfig> SimulatedBus::Tags() const {
    std::lock_guard lock(impl_->mu);
    return impl_->model.tags();
}

void SimulatedBus::SetTrafficLog(std::function<void(const std::string&)> log) {
    std::lock_guard lock(impl_->mu);
    impl_->log = std::move(log);
}

}  // namespace busdesk::sim
