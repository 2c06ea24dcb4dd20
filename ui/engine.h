#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/frmSerial.h"
#include "ui/dialog_bridge.h"
#include "ui/snapshot.h"

class QTimer;

namespace busdesk::ui {

using PortFactory = std::function<std::unique_ptr<SerialPort>(Dialogs&)>;

// Lives on the engine thread and owns the model, the port and the exchange
// timer there. Every call arrives as a queued event, so they run in the order
// the window posted them and never while a handler is running.
class Engine : public QObject {
    Q_OBJECT
  public:
    Engine(PortFactory factory, DialogBridge& dialogs);
    ~Engine() override;

    void Start();
    void Click(std::uint64_t seq, const QString& name);
    void SetText(std::uint64_t seq, const QString& name, const QString& text);
    void Pick(std::uint64_t seq, const QString& name, int index);
    void Shutdown();

  signals:
    void published(busdesk::ui::Snapshot snapshot);

  private:
    template <typename Fn>
    void RunEvent(std::uint64_t seq, Fn&& event);
    void OnTimer();
    void Publish();
    void SyncTimer(bool boxWasShown);

    PortFactory factory_;
    DialogBridge& dialogs_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<frmSerial> form_;
    QTimer* timer_ = nullptr;
    std::uint64_t seq_ = 0;
};

// The GUI thread's handle on the engine: starts the thread, posts the user's
// events and stops everything cleanly, also while a box is waiting.
class EngineHost : public QObject {
    Q_OBJECT
  public:
    EngineHost(PortFactory factory, QWidget* window);
    ~EngineHost() override;

    // Post the user's events; returns the sequence number given to the event.
    std::uint64_t PostClick(const QString& name);
    std::uint64_t PostText(const QString& name, const QString& text);
    std::uint64_t PostPick(const QString& name, int index);
    // Closes open boxes, closes the port, ends the thread. Safe to call twice.
    void Stop();
    bool Running() const { return running_; }
    BoxPresenter& Boxes() { return presenter_; }

  signals:
    void published(busdesk::ui::Snapshot snapshot);

  private:
    BoxPresenter presenter_;
    DialogBridge bridge_;
    QThread thread_;
    Engine* engine_;
    std::uint64_t nextSeq_ = 0;
    bool running_ = true;
};

}  // namespace busdesk::ui
