#include "ui/engine.h"

#include <QTimer>
#include <utility>

namespace busdesk::ui {

namespace {
constexpr int kDefaultInterval = 500;
}

// ---- Engine (engine thread) -------------------------------------------------------

Engine::Engine(PortFactory factory, DialogBridge& dialogs)
    : factory_(std::move(factory)), dialogs_(dialogs) {}

Engine::~Engine() = default;

void Engine::Start() {
    port_ = factory_(dialogs_);
    form_ = std::make_unique<frmSerial>(*port_, dialogs_);
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &Engine::OnTimer);
    RunEvent(0, [this] { form_->Raise("frmSerial", "Load"); });
}

template <typename Fn>
void Engine::RunEvent(std::uint64_t seq, Fn&& event) {
    if (!form_) return;
    if (seq > seq_) seq_ = seq;
    const unsigned boxesBefore = dialogs_.BoxesShown();
    event();
    Publish();
    SyncTimer(dialogs_.BoxesShown() != boxesBefore);
}

void Engine::Click(std::uint64_t seq, const QString& name) {
    RunEvent(seq, [&] { form_->UserClick(name.toStdString()); });
}

void Engine::SetText(std::uint64_t seq, const QString& name, const QString& text) {
    RunEvent(seq, [&] { form_->UserSetText(name.toStdString(), text.toStdString()); });
}

void Engine::Pick(std::uint64_t seq, const QString& name, int index) {
    RunEvent(seq, [&] { form_->UserPick(name.toStdString(), index); });
}

void Engine::OnTimer() {
    RunEvent(0, [this] { form_->Tick(); });
}

void Engine::Publish() {
    Snapshot s;
    s.seq = seq_;
    s.controls = std::make_shared<const std::vector<Control>>(form_->Snapshot());
    emit published(std::move(s));
}

void Engine::SyncTimer(bool boxWasShown) {
    const Control& t = form_->TMRComm;
    if (!t.enabled) {
        timer_->stop();
        return;
    }
    const int interval = t.interval > 0 ? t.interval : kDefaultInterval;
    // Restarting drops a tick that fell due while a box was open instead of
    // running it late.
    if (!timer_->isActive() || timer_->interval() != interval || boxWasShown)
        timer_->start(interval);
}

void Engine::Shutdown() {
    if (form_) {
        if (timer_ != nullptr) timer_->stop();
        if (form_->TMRComm.enabled || form_->BTNCloseCom.enabled) form_->BTNCloseCom_Click();
    }
    delete timer_;
    timer_ = nullptr;
    form_.reset();
    port_.reset();
    QThread::currentThread()->quit();
}

// ---- EngineHost (GUI thread) --------------------------------------------------------

EngineHost::EngineHost(PortFactory factory, QWidget* window)
    : presenter_(window), bridge_(&presenter_), engine_(new Engine(std::move(factory), bridge_)) {
    qRegisterMetaType<Snapshot>();
    presenter_.SetBridge(&bridge_);
    thread_.setObjectName(QStringLiteral("engine"));
    engine_->moveToThread(&thread_);
    connect(engine_, &Engine::published, this, &EngineHost::published, Qt::QueuedConnection);
    thread_.start();
    QMetaObject::invokeMethod(
        engine_, [e = engine_] { e->Start(); }, Qt::QueuedConnection);
}

EngineHost::~EngineHost() {
    Stop();
    delete engine_;
}

std::uint64_t EngineHost::PostClick(const QString& name) {
    const std::uint64_t seq = ++nextSeq_;
    QMetaObject::invokeMethod(
        engine_, [e = engine_, seq, name] { e->Click(seq, name); }, Qt::QueuedConnection);
    return seq;
}

std::uint64_t EngineHost::PostText(const QString& name, const QString& text) {
    const std::uint64_t seq = ++nextSeq_;
    QMetaObject::invokeMethod(
        engine_, [e = engine_, seq, name, text] { e->SetText(seq, name, text); },
        Qt::QueuedConnection);
    return seq;
}

std::uint64_t EngineHost::PostPick(const QString& name, int index) {
    const std::uint64_t seq = ++nextSeq_;
    QMetaObject::invokeMethod(
        engine_, [e = engine_, seq, name, index] { e->Pick(seq, name, index); },
        Qt::QueuedConnection);
    return seq;
}

void EngineHost::Stop() {
    if (!running_) return;
    running_ = false;
    // Answer every box first: the engine may be waiting inside a handler.
    presenter_.SetBridge(nullptr);
    bridge_.Cancel();
    presenter_.CloseAll();
    QMetaObject::invokeMethod(
        engine_, [e = engine_] { e->Shutdown(); }, Qt::QueuedConnection);
    thread_.wait();
}

}  // namespace busdesk::ui
