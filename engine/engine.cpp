#include "engine/engine.h"

#include <utility>

#include "app/frmSerial.h"
#include "engine/line_monitor.h"
#include "engine/retry_port.h"
#include "protocol/commands.h"

namespace busdesk::engine {

namespace {
constexpr std::chrono::milliseconds kDefaultTick{500};
constexpr std::chrono::milliseconds kDefaultRetry{2000};
}  // namespace

Engine::Engine(PortFactory factory, FrontEnd& frontEnd)
    : Engine(std::move(factory), frontEnd, {}) {}

Engine::Engine(PortFactory factory, FrontEnd& frontEnd, Options options)
    : factory_(std::move(factory)),
      frontEnd_(frontEnd),
      options_(options),
      boxes_([this] { Publish(); },
             [this](std::uint64_t id, const BoxRequest& r) { frontEnd_.ShowBox(id, r); }) {}

Engine::~Engine() {
    Stop();
}

void Engine::Start() {
    std::lock_guard lock(mutex_);
    if (started_) return;
    started_ = true;
    thread_ = std::thread([this] { Run(); });
}

bool Engine::Running() const {
    std::lock_guard lock(mutex_);
    return started_ && !stopping_;
}

void Engine::Post(std::function<void()> event) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        queue_.push_back(std::move(event));
    }
    wake_.notify_one();
}

std::uint64_t Engine::PostClick(const std::string& control) {
    std::uint64_t seq;
    {
        std::lock_guard lock(mutex_);
        seq = ++nextSeq_;
    }
    Post([this, seq, control] {
        seq_ = seq;
        form_->UserClick(control);
        if (control == "BTNOpenCom") DescribePorts();
    });
    return seq;
}

std::uint64_t Engine::PostText(const std::string& control, const std::string& text) {
    std::uint64_t seq;
    {
        std::lock_guard lock(mutex_);
        seq = ++nextSeq_;
    }
    Post([this, seq, control, text] {
        seq_ = seq;
        form_->UserSetText(control, text);
    });
    return seq;
}

std::uint64_t Engine::PostPick(const std::string& control, int index) {
    std::uint64_t seq;
    {
        std::lock_guard lock(mutex_);
        seq = ++nextSeq_;
    }
    Post([this, seq, control, index] {
        seq_ = seq;
        form_->UserPick(control, index);
    });
    return seq;
}

std::uint64_t Engine::PostAccessKey(const std::string& key) {
    std::uint64_t seq;
    {
        std::lock_guard lock(mutex_);
        seq = ++nextSeq_;
    }
    Post([this, seq, key] {
        seq_ = seq;
        const std::string control = form_->ControlForAccessKey(key);
        if (!control.empty()) form_->UserClick(control);
    });
    return seq;
}

void Engine::PostTask(std::function<void(frmSerial&)> fn) {
    Post([this, fn = std::move(fn)] { fn(*form_); });
}

void Engine::Answer(std::uint64_t boxId, MsgResult result, const std::string& text) {
    boxes_.Answer(boxId, result, text);
}

void Engine::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        // Clicks made just before closing are void: no box could answer them.
        queue_.clear();
    }
    // The engine may be waiting inside a handler for a box.
    boxes_.Cancel();
    wake_.notify_one();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Engine::DescribePorts() {
    if (options_.describePorts)
        portInfo_ = std::make_shared<const std::vector<std::string>>(options_.describePorts());
}

void Engine::Publish() {
    // The line's events first: a front end that sees the controls has heard
    // what led to them.
    std::vector<BusEvent> events = port_->TakeEvents();
    if (!events.empty()) frontEnd_.BusEvents(events);
    Snapshot s;
    s.seq = seq_;
    s.controls = std::make_shared<const std::vector<Control>>(form_->Snapshot());
    s.portInfo = portInfo_;
    s.line = port_->Counters();
    LineState line;
    line.waitingFor = waitingFor_;
    line.retrySeconds = static_cast<int>((RetryPeriod().count() + 999) / 1000);
    line.tries = tries_;
    line.lastTry = retry_->LastTry();
    line.networkTarget = port_->NetworkTarget();
    line.notice = port_->LineNotice();
    s.status = StatusLine(s.line, line);
    s.statusDetail = StatusDetail(s.line, line);
    s.waitingFor = waitingFor_;
    if (!waitingFor_.empty()) s.lastTry = line.lastTry;
    frontEnd_.Publish(std::move(s));
}

std::chrono::milliseconds Engine::RetryPeriod() const {
    return options_.retry.count() > 0 ? options_.retry : kDefaultRetry;
}

void Engine::FollowLine(bool wasOpen, bool tick) {
    const std::optional<std::string> failed = retry_->TakeFailedOpen();
    if (!options_.reconnect) return;
    if (form_->TMRComm.enabled) {
        waitingFor_.clear();
        return;
    }
    // Only the exchange closes the port from a tick: its fourth write
    // failure in a row. The user's own close is a click, and is left alone.
    if (wasOpen && tick)
        WaitForLine(retry_->OpenedName());
    else if (failed)
        WaitForLine(*failed);
    // Another entry chosen: the line that went away is no longer wanted.
    const std::string entry = form_->CmbPort.SelectedEntry().value_or(form_->CmbPort.caption);
    if (!waitingFor_.empty() && entry != waitingFor_) waitingFor_.clear();
}

void Engine::WaitForLine(const std::string& entry) {
    if (entry != waitingFor_) tries_ = 0;
    waitingFor_ = entry;
    retryAt_ = Clock::now() + RetryPeriod();
}

void Engine::RetryLine() {
    ++tries_;
    const bool back = retry_->Try(waitingFor_, proto::kLineSettings);
    // Counted from the end of the try: a network try may take its whole
    // connect time, and the next one must still be a period away.
    retryAt_ = Clock::now() + RetryPeriod();
    if (!back) return;
    // The line is back: the window opens it as a press of the button does,
    // and that open takes over the line just tried instead of opening again.
    form_->UserClick("BTNOpenCom");
    // Only a refused click leaves it held; nobody else may have it open.
    retry_->Release();
    DescribePorts();
}

void Engine::RunEvent(const std::function<void()>& event, bool tick) {
    const unsigned boxesBefore = boxes_.BoxesShown();
    const bool wasOpen = form_->TMRComm.enabled;
    event();
    FollowLine(wasOpen, tick);
    Publish();
    Reschedule(Clock::now(), boxes_.BoxesShown() != boxesBefore);
}

void Engine::Reschedule(Clock::time_point now, bool boxWasShown) {
    const Control& t = form_->TMRComm;
    if (!t.enabled) {
        ticking_ = false;
        return;
    }
    std::chrono::milliseconds interval = options_.tick;
    if (interval.count() <= 0)
        interval = t.interval > 0 ? std::chrono::milliseconds(t.interval) : kDefaultTick;
    // A timer that was just started, retimed, or held up by a box counts from
    // now: a tick that fell due meanwhile is dropped instead of run late.
    if (!ticking_ || interval != interval_ || boxWasShown) {
        ticking_ = true;
        interval_ = interval;
        deadline_ = now + interval;
    }
}

void Engine::Run() {
    quietBoxes_ = std::make_unique<QuietDialogs>(boxes_);
    auto retry = std::make_unique<RetryPort>(factory_(*quietBoxes_), *quietBoxes_);
    retry_ = retry.get();
    port_ = std::make_unique<LineMonitor>(std::move(retry), options_.journal);
    form_ = std::make_unique<frmSerial>(*port_, boxes_);
    form_->receptionObserver = port_.get();
    port_->Listen(true);
    DescribePorts();
    RunEvent([this] { form_->Raise("frmSerial", "Load"); });

    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!queue_.empty()) {
            std::function<void()> event = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            RunEvent(event);
            lock.lock();
            continue;
        }
        if (ticking_ && Clock::now() >= deadline_) {
            lock.unlock();
            // The next tick is due one period after this one was; when the
            // tick itself overran that, the missed tick is not made up.
            deadline_ += interval_;
            RunEvent([this] { form_->Tick(); }, true);
            const auto now = Clock::now();
            if (deadline_ <= now) deadline_ = now + interval_;
            lock.lock();
            continue;
        }
        // The port is closed while its line is awaited, so no tick competes.
        const bool retrying = !ticking_ && !waitingFor_.empty();
        if (retrying && Clock::now() >= retryAt_) {
            lock.unlock();
            RunEvent([this] { RetryLine(); });
            lock.lock();
            continue;
        }
        if (ticking_)
            wake_.wait_until(lock, deadline_);
        else if (retrying)
            wake_.wait_until(lock, retryAt_);
        else
            wake_.wait(lock);
    }
    lock.unlock();

    if (form_->TMRComm.enabled || form_->BTNCloseCom.enabled) form_->BTNCloseCom_Click();
    waitingFor_.clear();
    Publish();
    form_.reset();
    port_.reset();
    retry_ = nullptr;
}

}  // namespace busdesk::engine
