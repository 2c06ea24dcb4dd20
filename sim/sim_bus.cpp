#include "sim/sim_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "sim/pty.h"

namespace busdesk::sim {

namespace {

using std::chrono::milliseconds;

// How often the bus looks for an exclusive lock left by a tool that died.
constexpr milliseconds kLockCheck{50};

}  // namespace

struct SimulatedBus::Impl {
    explicit Impl(const BusConfig& c) : core(c) {}

    void Run();
    void Wake();
    void Receive(Clock::time_point now);
    void Send(Clock::time_point now);

    mutable std::mutex mu;
    std::condition_variable changed;
    BusCore core;

    Pty pty;
    std::array<int, 2> wake{-1, -1};
    std::thread thread;
    bool running = false;
    bool stopRequested = false;
    bool dropRequested = false;
    bool dropped = false;
    std::string path;
    std::string error;
};

void SimulatedBus::Impl::Wake() {
    const std::uint8_t one = 1;
    // A full pipe already holds a wake-up; nothing is lost when this fails.
    [[maybe_unused]] const ssize_t n = write(wake[1], &one, 1);
}

void SimulatedBus::Impl::Send(Clock::time_point now) {
    const Bytes out = core.line().Take(now);
    if (out.empty() || pty.master < 0) return;
    // Nobody reads the slave and its buffer is full: a line keeps nothing, so
    // the bytes are lost rather than blocking the bus.
    const ssize_t n = write(pty.master, out.data(), out.size());
    if (n > 0) core.CountSent(static_cast<std::size_t>(n));
}

void SimulatedBus::Impl::Receive(Clock::time_point now) {
    std::array<std::uint8_t, 256> buf{};
    for (;;) {
        const ssize_t n = read(pty.master, buf.data(), buf.size());
        if (n <= 0) return;
        core.Receive(buf.data(), static_cast<std::size_t>(n), now);
    }
}

void SimulatedBus::Impl::Run() {
    std::unique_lock lock(mu);
    Clock::time_point masterQuietUntil{};
    Clock::time_point nextLockCheck{};
    while (!stopRequested && !dropRequested) {
        Clock::time_point now = Clock::now();
        Send(now);
        core.Idle(now);
        if (now >= nextLockCheck) {
            nextLockCheck = now + kLockCheck;
            if (ReleaseStaleLock(pty)) core.Log("exclusive lock of a tool that went away released");
        }

        std::optional<Clock::time_point> deadline = core.line().NextDue();
        if (const auto forget = core.IdleDue(); forget && (!deadline || *forget < *deadline)) {
            deadline = forget;
        }
        if (!deadline || nextLockCheck < *deadline) deadline = nextLockCheck;
        const bool watchMaster = now >= masterQuietUntil;
        if (!watchMaster && masterQuietUntil < *deadline) deadline = masterQuietUntil;

        const auto wait = std::max(Clock::duration::zero(), *deadline - now);
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        std::array<pollfd, 2> fds{};
        fds[0] = {wake[0], POLLIN, 0};
        fds[1] = {watchMaster ? pty.master : -1, POLLIN, 0};

        lock.unlock();
        const int ready = ppoll(fds.data(), fds.size(), &ts, nullptr);
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
        core.Log("line dropped");
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
    m.core.Restart(Clock::now());
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
    return impl_->core.SetSilent(address, silent);
}

void SimulatedBus::CorruptNextReplies(int count) {
    std::lock_guard lock(impl_->mu);
    impl_->core.CorruptNext(count);
}

void SimulatedBus::SplitNextReplies(int count, std::chrono::milliseconds gap) {
    std::lock_guard lock(impl_->mu);
    impl_->core.SplitNext(count, gap);
}

void SimulatedBus::DelayNextReplies(int count, std::chrono::milliseconds delay) {
    std::lock_guard lock(impl_->mu);
    impl_->core.DelayNext(count, delay);
}

void SimulatedBus::SendGarbage(const Bytes& bytes) {
    Impl& m = *impl_;
    std::lock_guard lock(m.mu);
    if (!m.running) return;
    m.core.Garbage(bytes, Clock::now());
    m.Wake();
}

void SimulatedBus::SendGarbage(std::size_t count) {
    Impl& m = *impl_;
    std::lock_guard lock(m.mu);
    if (!m.running) return;
    m.core.Garbage(count, Clock::now());
    m.Wake();
}

void SimulatedBus::SetSurveySize(std::size_t bytes) {
    std::lock_guard lock(impl_->mu);
    impl_->core.SetSurveySize(bytes);
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
    return impl_->core.Stats();
}

std::vector<ReaderConfig> SimulatedBus::Readers() const {
    std::lock_guard lock(impl_->mu);
    return impl_->core.model().readers();
}

std::vector<TagConfig> SimulatedBus::Tags() const {
    std::lock_guard lock(impl_->mu);
    return impl_->core.model().tags();
}

void SimulatedBus::SetTrafficLog(std::function<void(const std::string&)> log) {
    std::lock_guard lock(impl_->mu);
    impl_->core.SetTrafficLog(std::move(log));
}

}  // namespace busdesk::sim
