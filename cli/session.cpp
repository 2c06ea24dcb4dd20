#include "cli/session.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <utility>

#include "app/frmSerial.h"
#include "engine/line_frames.h"
#include "protocol/replies.h"

namespace busdesk::cli {

namespace {
// Events kept for waits that have not looked yet: more than a wait's worth.
constexpr std::size_t kEventsKept = 8192;
// A tick that never comes (the port closed) ends a wait after this much more
// than the ticks it was given.
constexpr std::chrono::milliseconds kTickGrace{3000};
constexpr std::chrono::milliseconds kTick{500};
}  // namespace

bool FramedReply(const engine::Decoded& d) {
    using What = engine::Decoded::What;
    return d.what != What::Nothing && d.what != What::Survey && d.what != What::Other;
}

const Control* View::Find(const std::string& name) const {
    if (!controls) return nullptr;
    for (const Control& c : *controls) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

std::string View::Text(const std::string& name) const {
    const Control* c = Find(name);
    return c != nullptr ? c->caption : std::string();
}

// The real port, watched: each write is one exchange tick, and whether the
// tick read anything tells a fresh receive dump from a stale one.
class Session::TickPort : public SerialPort {
  public:
    TickPort(std::unique_ptr<SerialPort> port, Session& s) : port_(std::move(port)), s_(s) {}
    bool OpenPort(const std::string& name, const std::string& settings) override {
        return port_->OpenPort(name, settings);
    }
    int ClosePort() override { return port_->ClosePort(); }
    std::string OpenError() const override { return port_->OpenError(); }
    void FlushPort() override { port_->FlushPort(); }
    Bytes ReadPort() override {
        Bytes rx = port_->ReadPort();
        s_.lastRead_ = !rx.empty();
        return rx;
    }
    std::int16_t WritePort(const Bytes& data) override {
        ++s_.writes_;
        return port_->WritePort(data);
    }
    // Passed on so the line monitor above can time the answers.
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout) override {
        return port_->WaitReadable(timeout);
    }
    std::optional<bool> WaitReadable(std::chrono::milliseconds timeout,
                                     const WakeSignal& wake) override {
        return port_->WaitReadable(timeout, wake);
    }
    std::uint64_t DiscardedBytes() const override { return port_->DiscardedBytes(); }
    std::string NetworkTarget() const override { return port_->NetworkTarget(); }
    std::string LineNotice() const override { return port_->LineNotice(); }

  private:
    std::unique_ptr<SerialPort> port_;
    Session& s_;
};

Session::Session(engine::PortFactory factory, std::function<void(const std::string&)> boxText,
                 engine::Engine::Options options)
    : boxText_(std::move(boxText)) {
    if (options.retry.count() > 0) retrySeconds_ = (options.retry.count() + 999) / 1000;
    engine_ = std::make_unique<engine::Engine>(
        [this, factory = std::move(factory)](Dialogs& d) -> std::unique_ptr<SerialPort> {
            return std::make_unique<TickPort>(factory(d), *this);
        },
        *this, std::move(options));
}

Session::~Session() {
    Stop();
}

void Session::Start() {
    engine_->Start();
    // Form_Load publishes the starting controls; nothing can be clicked before.
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10),
                      [this] { return latest_.controls != nullptr; });
}

void Session::Stop() {
    if (engine_) engine_->Stop();
}

void Session::Publish(engine::Snapshot snapshot) {
    View v;
    v.controls = std::move(snapshot.controls);
    v.tick = writes_;
    v.fromTick = writes_ != lastTickSeen_;
    v.received = v.fromTick && lastRead_;
    v.openError = snapshot.line.openError;
    v.waitingFor = snapshot.waitingFor;
    v.lastTry = snapshot.lastTry;
    lastTickSeen_ = writes_;
    // Once per outage: a script's log says when the line went and came back.
    if (sayLine_ && v.waitingFor != waitedFor_) {
        if (!v.waitingFor.empty())
            sayLine_("жду линию " + v.waitingFor + " — новая попытка каждые " +
                     std::to_string(retrySeconds_) + " с");
        else if (const Control* timer = v.Find("TMRComm"); timer != nullptr && timer->enabled)
            sayLine_("линия " + waitedFor_ + " снова открыта");
        waitedFor_ = v.waitingFor;
    }
    {
        std::lock_guard lock(mutex_);
        latest_ = std::move(v);
    }
    changed_.notify_all();
}

void Session::ShowBox(std::uint64_t id, const engine::BoxRequest& request) {
    if (boxText_) boxText_(request.text);
    MsgResult result = engine::ClosedResult(request);
    std::string text;
    {
        std::lock_guard lock(mutex_);
        boxes_.push_back({request});
        if (request.kind == engine::BoxRequest::Kind::Input) {
            // No answer prepared: the box is cancelled, as closing it would.
            if (!inputs_.empty()) {
                text = std::move(inputs_.front());
                inputs_.pop_front();
            }
        } else if (request.buttons == MsgButtons::YesNo) {
            result = question_.value_or(false) ? MsgResult::Yes : MsgResult::No;
            question_.reset();
        }
    }
    // The bridge holds the box open before handing it over, so answering
    // here, on the engine thread, returns to the handler at once.
    engine_->Answer(id, result, text);
}

void Session::BusEvents(const std::vector<engine::BusEvent>& events) {
    using What = engine::Decoded::What;
    {
        std::lock_guard lock(mutex_);
        for (const engine::BusEvent& e : events) {
            if (e.kind == engine::BusEvent::Kind::Tx) {
                asked_.reset();
                for (const Bytes& frame : engine::SplitRequests(e.bytes)) {
                    if (frame.size() > 1) asked_.set(frame[1]);
                }
            }
            // Only an answer to what this session asked: bytes left on the
            // line by an earlier program say nothing of the device now.
            if (e.kind == engine::BusEvent::Kind::Rx && FramedReply(e.heard) &&
                asked_.test(e.heard.address))
                facts_[e.heard.address].answeredTick = writes_;
            if (e.kind == engine::BusEvent::Kind::Rx && e.heard.crcGood) {
                const engine::Decoded& d = e.heard;
                DeviceFacts& f = facts_[d.address];
                if (d.what == What::Serial && d.serial.serial) {
                    f.serial = d.serial.serial;
                    f.version = proto::VersionShown(d.serial);
                }
                if (d.what == What::Reading && d.reading.mode) f.mode = d.reading.mode;
                if (d.what == What::Mode && d.mode) f.mode = d.mode;
            }
            events_.push_back({writes_, nextMark_++, e});
            if (events_.size() > kEventsKept) events_.pop_front();
        }
    }
    changed_.notify_all();
}

std::uint64_t Session::Mark() const {
    std::lock_guard lock(mutex_);
    return nextMark_;
}

std::uint64_t Session::MarkOfTick(std::uint64_t tick) const {
    std::lock_guard lock(mutex_);
    // Kept in order of their ticks: the first one that late.
    const auto it = std::find_if(events_.begin(), events_.end(),
                                 [tick](const Heard& h) { return h.tick >= tick; });
    return it == events_.end() ? nextMark_ : it->mark;
}

DeviceFacts Session::Facts(std::uint8_t address) const {
    std::lock_guard lock(mutex_);
    const auto it = facts_.find(address);
    return it == facts_.end() ? DeviceFacts{} : it->second;
}

std::optional<Heard> Session::WaitEvent(std::uint64_t* from, std::uint64_t after, int ticks,
                                        const std::function<bool(const engine::BusEvent&)>& accept,
                                        const std::function<void(std::uint64_t)>& progress) {
    const auto deadline =
        std::chrono::steady_clock::now() + kTick * std::max(ticks, 0) + kTickGrace;
    const std::uint64_t last = after + static_cast<std::uint64_t>(std::max(ticks, 0));
    std::uint64_t shown = after;
    std::unique_lock lock(mutex_);
    // Events are handed over just before the controls of their tick: one is
    // looked at only once those are here, so a caller sees what it led to.
    const auto look = [&]() -> std::optional<std::optional<Heard>> {
        for (const Heard& h : events_) {
            if (h.mark < *from) continue;
            if (h.tick > latest_.tick) break;
            *from = h.mark + 1;
            // A tick past the wait ends it, even when its events would do.
            if (h.tick > last) return std::optional<Heard>();
            if (accept(h.event)) return std::optional<Heard>(h);
        }
        return std::nullopt;
    };
    while (true) {
        if (auto found = look()) return *found;
        const std::uint64_t now = latest_.tick;
        if (now > last) return std::nullopt;
        if (progress && now != shown) {
            shown = now;
            lock.unlock();
            progress(now);
            lock.lock();
            continue;
        }
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            if (auto found = look()) return *found;
            return std::nullopt;
        }
    }
}

void Session::AnswerInput(std::string text) {
    std::lock_guard lock(mutex_);
    inputs_.push_back(std::move(text));
}

void Session::AnswerQuestion(bool yes) {
    std::lock_guard lock(mutex_);
    question_ = yes;
}

Session::Done Session::RunDone(std::function<bool(frmSerial&)> event) {
    {
        std::lock_guard lock(mutex_);
        boxes_.clear();
    }
    auto promise = std::make_shared<std::promise<Done>>();
    std::future<Done> future = promise->get_future();
    // Events run in order: this task runs after the handler posted before it.
    engine_->PostTask([this, promise, event = std::move(event)](frmSerial& f) {
        Done d;
        d.tick = writes_;
        d.handled = event ? event(f) : true;
        d.pending = f.wrs;
        d.after.controls = std::make_shared<const std::vector<Control>>(f.Snapshot());
        d.after.tick = writes_;
        {
            std::lock_guard lock(mutex_);
            d.boxes = boxes_;
            boxes_.clear();
            inputs_.clear();
            question_.reset();
        }
        promise->set_value(std::move(d));
    });
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        return Done{{}, {}, 0, false, {}};
    }
    return future.get();
}

namespace {
bool Accepted(frmSerial::Raised r) {
    return r == frmSerial::Raised::Handled || r == frmSerial::Raised::NoHandler;
}
}  // namespace

Session::Done Session::Click(const std::string& control) {
    return RunDone([control](frmSerial& f) { return Accepted(f.UserClick(control)); });
}

Session::Done Session::Pick(const std::string& control, int index) {
    return RunDone([control, index](frmSerial& f) { return Accepted(f.UserPick(control, index)); });
}

Session::Done Session::PostPickAndOpen(int portIndex) {
    engine_->PostPick("CmbPort", portIndex);
    engine_->PostClick("BTNOpenCom");
    return RunDone(nullptr);
}

Session::Guarded Session::ClickWhen(std::function<bool(const frmSerial&)> when,
                                    const std::vector<std::pair<std::string, std::string>>& texts,
                                    const std::string& control) {
    auto clicked = std::make_shared<bool>(false);
    Done d = RunDone([clicked, when = std::move(when), texts, control](frmSerial& f) {
        if (!when(f)) return true;
        *clicked = true;
        // The same calls the engine makes for typing and clicking.
        for (const auto& [name, text] : texts) {
            if (!Accepted(f.UserSetText(name, text))) return false;
        }
        return Accepted(f.UserClick(control));
    });
    return {*clicked, std::move(d)};
}

bool Session::WaitOpen(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] {
        const Control* timer = latest_.Find("TMRComm");
        return timer != nullptr && timer->enabled;
    });
}

View Session::Latest() const {
    std::lock_guard lock(mutex_);
    return latest_;
}

}  // namespace busdesk::cli
