#include "engine/line_monitor.h"

#include <algorithm>
#include <utility>

#include "engine/line_frames.h"

namespace busdesk::engine {

namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// No device answers later than this; the watcher gives up.
constexpr milliseconds kWatchLimit{2000};
// Reads after a changing request in which its confirmation may come.
constexpr int kConfirmReads = 2;

using EvKind = BusEvent::Kind;

}  // namespace

LineMonitor::LineMonitor(std::unique_ptr<SerialPort> port, Journal* journal)
    : port_(std::move(port)), journal_(journal) {}

LineMonitor::~LineMonitor() {
    Flush();
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    portWake_.Raise();
    if (watcher_.joinable()) watcher_.join();
}

void LineMonitor::Flush() {
    if (journal_ != nullptr && !batch_.empty()) journal_->PostAll(batch_);
}

void LineMonitor::Post(EvKind kind, Bytes bytes) {
    if (!Telling()) return;
    BusEvent e;
    e.kind = kind;
    e.time = std::chrono::system_clock::now();
    e.bytes = std::move(bytes);
    Tell(std::move(e));
}

void LineMonitor::Tell(BusEvent e) {
    if (listening_) {
        if (journal_ != nullptr) batch_.push_back(e);
        heard_.push_back(std::move(e));
    } else if (journal_ != nullptr) {
        batch_.push_back(std::move(e));
    }
}

void LineMonitor::Listen(bool on) {
    listening_ = on;
    if (!on) heard_.clear();
}

std::vector<BusEvent> LineMonitor::TakeEvents() {
    std::vector<BusEvent> out;
    out.swap(heard_);
    return out;
}

void LineMonitor::StopWatching() {
    std::unique_lock lock(mutex_);
    armed_ = false;
    readableAt_.reset();
    wake_.notify_all();
    if (inPort_) portWake_.Raise();
    wake_.wait(lock, [this] { return !inPort_; });
}

bool LineMonitor::OpenPort(const std::string& name, const std::string& settings) {
    StopWatching();
    const bool ok = port_->OpenPort(name, settings);
    const std::string why = ok ? std::string() : port_->OpenError();
    // What the line wants said (a server that never acknowledged its
    // settings) goes into the journal once, with the open.
    const std::string notice = ok ? port_->LineNotice() : std::string();
    if (Telling()) {
        BusEvent e;
        e.kind = EvKind::Open;
        e.time = std::chrono::system_clock::now();
        e.text = name;
        e.ok = ok;
        e.reason = ok ? notice : why;
        Tell(std::move(e));
    }
    Flush();
    if (!ok) {
        counters_.openError = why;
        return false;
    }
    counters_ = LineCounters{};
    counters_.portOpened = true;
    times_.clear();
    requestOut_ = false;
    lastRequest_.clear();
    const bool canTell = port_->WaitReadable(milliseconds(0), portWake_).has_value();
    std::lock_guard lock(mutex_);
    cannotTell_ = !canTell;
    if (canTell && !watcher_.joinable()) watcher_ = std::thread([this] { Watch(); });
    return true;
}

int LineMonitor::ClosePort() {
    StopWatching();
    for (Pending& p : pending_) Resolve(p, false, Reply{}, "порт закрыт");
    pending_.clear();
    const int r = port_->ClosePort();
    if (r != 0) Post(EvKind::Close);
    Flush();
    return r;
}

void LineMonitor::FlushPort() {
    port_->FlushPort();
}

std::string LineMonitor::OpenError() const {
    return port_->OpenError();
}

std::string LineMonitor::NetworkTarget() const {
    return port_->NetworkTarget();
}

std::string LineMonitor::LineNotice() const {
    return port_->LineNotice();
}

std::optional<bool> LineMonitor::WaitReadable(milliseconds timeout) {
    return port_->WaitReadable(timeout);
}

std::optional<bool> LineMonitor::WaitReadable(milliseconds timeout, const WakeSignal& wake) {
    return port_->WaitReadable(timeout, wake);
}

void LineMonitor::Arm(Clock::time_point writeEnd) {
    bool waiting = false;
    {
        std::lock_guard lock(mutex_);
        if (cannotTell_ || !watcher_.joinable()) return;
        armed_ = true;
        armedAt_ = writeEnd;
        readableAt_.reset();
        waiting = inPort_;
    }
    wake_.notify_all();
    // Still waiting for the last write's answer: start over for this one.
    if (waiting) portWake_.Raise();
}

void LineMonitor::Watch() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || (armed_ && !readableAt_); });
        if (stop_) return;
        const Clock::time_point armedAt = armedAt_;
        const Clock::time_point giveUp = armedAt + kWatchLimit;
        const Clock::time_point began = Clock::now();
        if (began >= giveUp) {
            armed_ = false;
            continue;
        }
        // Cleared under the lock: whoever changes what is watched after this
        // raises it again, and the wait below ends at once.
        portWake_.Clear();
        inPort_ = true;
        lock.unlock();
        const std::optional<bool> readable =
            port_->WaitReadable(std::chrono::ceil<milliseconds>(giveUp - began), portWake_);
        const Clock::time_point now = Clock::now();
        lock.lock();
        inPort_ = false;
        wake_.notify_all();
        if (!readable) {
            cannotTell_ = true;
            armed_ = false;
        } else if (*readable) {
            if (armed_ && !readableAt_) readableAt_ = now;
        } else if (!portWake_.Raised() && armedAt_ == armedAt) {
            // Neither woken nor answered: the time is up, or the line hung up
            // and polls at once with nothing to read. Either way this write
            // gets no answer; waiting again would spin.
            armed_ = false;
        }
    }
}

void LineMonitor::RecordResponse(int device, microseconds time) {
    if (device != counters_.device) {
        times_.clear();
        counters_.device = device;
    }
    times_.push_back(time.count());
    if (times_.size() > LineCounters::kWindow) times_.pop_front();
}

void LineMonitor::Resolve(Pending& p, bool confirmed, const Reply& reply, const char* reason) {
    if (!Telling()) return;
    BusEvent e;
    e.kind = EvKind::Result;
    e.time = std::chrono::system_clock::now();
    e.id = p.id;
    e.ok = confirmed;
    if (confirmed) {
        e.bytes = reply.bytes;
        e.heard = reply.heard;
    } else {
        e.text = reason;
    }
    Tell(std::move(e));
}

void LineMonitor::Settle(const Reply& reply) {
    const Bytes& rx = reply.bytes;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (Confirms(it->frame, rx)) {
            Resolve(*it, true, reply, nullptr);
        } else if (--it->readsLeft <= 0) {
            Resolve(*it, false, Reply{},
                    rx.empty() ? "нет ответа" : "ответ не подтверждает команду");
        } else {
            ++it;
            continue;
        }
        it = pending_.erase(it);
    }
}

Bytes LineMonitor::ReadPort() {
    Flush();
    Bytes rx = port_->ReadPort();
    std::optional<Clock::time_point> readable;
    bool waiting = false;
    {
        std::lock_guard lock(mutex_);
        readable = readableAt_;
        armed_ = false;
        readableAt_.reset();
        waiting = inPort_;
    }
    if (waiting) portWake_.Raise();
    counters_.bytesIn += rx.size();
    if (rx.empty()) {
        if (requestOut_) {
            ++counters_.silent;
            Post(EvKind::Silent);
        }
    }
    // Unframed bytes after the broadcast are the survey's answer.
    const bool surveyDue = requestOut_ && IsSurveyRequest(lastRequest_);
    Reply reply{rx, {}};
    if (Telling()) reply.heard = DecodeReception(rx, surveyDue);
    if (!rx.empty()) {
        if (Telling()) {
            BusEvent e;
            e.kind = EvKind::Rx;
            e.time = std::chrono::system_clock::now();
            e.bytes = rx;
            e.ok = surveyDue;
            e.heard = reply.heard;
            Tell(std::move(e));
        }
        // An answer to a request of its own code, first byte seen after the
        // write ended, nothing waiting before it: its time is the device's.
        const Bytes& q = lastRequest_;
        if (requestOut_ && !staleBeforeWrite_ && readable && *readable >= writeEnd_ &&
            q.size() > 3 && !IsSurveyRequest(q) && IsFramedReply(rx) && rx[2] == q[2]) {
            RecordResponse(q[1], duration_cast<microseconds>(*readable - writeEnd_));
        }
    }
    if (!pending_.empty()) Settle(reply);
    requestOut_ = false;
    return rx;
}

std::int16_t LineMonitor::WritePort(const Bytes& data) {
    if (data.empty()) return port_->WritePort(data);
    bool stale = false;
    {
        std::lock_guard lock(mutex_);
        stale = !cannotTell_ && watcher_.joinable();
    }
    if (stale) stale = port_->WaitReadable(milliseconds(0)).value_or(false);
    const std::int16_t n = port_->WritePort(data);
    const Clock::time_point end = Clock::now();
    if (n > 0) counters_.bytesOut += static_cast<std::uint64_t>(n);

    const bool full = n == static_cast<std::int16_t>(data.size());
    if (!full) {
        ++counters_.writeFailures;
        Post(EvKind::WriteFailed, data);
    } else {
        // One event for the whole write; the journal writes a line per frame.
        Post(EvKind::Tx, data);
    }
    // Only the first frame is answered first: it is the one timed.
    lastRequest_.assign(data.begin(),
                        data.begin() + static_cast<std::ptrdiff_t>(RequestEnd(data, 0)));
    for (std::size_t at = 0, frameEnd; at < data.size(); at = frameEnd) {
        frameEnd = RequestEnd(data, at);
        if (full) ++counters_.requests;
        if (!Telling()) continue;
        const auto from = data.begin() + static_cast<std::ptrdiff_t>(at);
        const auto to = data.begin() + static_cast<std::ptrdiff_t>(frameEnd);
        if (!ChangesDevice(std::span<const std::uint8_t>(from, to))) continue;
        Pending p{++nextCommand_, Bytes(from, to), kConfirmReads};
        BusEvent e;
        e.kind = EvKind::Command;
        e.time = std::chrono::system_clock::now();
        e.id = p.id;
        e.bytes = p.frame;
        Tell(std::move(e));
        if (full) {
            pending_.push_back(std::move(p));
        } else {
            Resolve(p, false, Reply{}, "ошибка записи");
        }
    }
    // The tick's events go to the journal together: one lock, not one each.
    Flush();
    if (!full) return n;

    requestOut_ = true;
    staleBeforeWrite_ = stale;
    writeEnd_ = end;
    Arm(end);
    return n;
}

void LineMonitor::Received(const Bytes& rx, Kind kind) {
    (void)rx;
    switch (kind) {
        case Kind::Reply:
            ++counters_.replies;
            break;
        case Kind::BadCrc:
            ++counters_.badCrc;
            break;
        case Kind::UnknownCode:
            ++counters_.unknownCodes;
            break;
        case Kind::Survey:
            ++counters_.surveyAnswers;
            break;
        case Kind::Other:
            ++counters_.other;
            break;
    }
}

LineCounters LineMonitor::Counters() const {
    LineCounters c = counters_;
    c.timed = static_cast<std::uint32_t>(times_.size());
    if (!times_.empty()) {
        std::vector<std::int64_t> sorted(times_.begin(), times_.end());
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        c.lastUs = times_.back();
        c.minUs = sorted.front();
        c.maxUs = sorted.back();
        c.medianUs = n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
    {
        std::lock_guard lock(mutex_);
        c.untimed = cannotTell_;
    }
    if (journal_ != nullptr) {
        const Journal::Counts j = journal_->Stats();
        c.journal = true;
        c.journalLines = j.lines;
        c.journalLost = j.lost;
        c.journalError = j.error;
    }
    return c;
}

}  // namespace busdesk::engine
