#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/engine.h"
#include "engine/snapshot.h"

class QDialog;
class QWidget;

Q_DECLARE_METATYPE(busdesk::engine::Snapshot)
using BusEventBatch = std::shared_ptr<const std::vector<busdesk::engine::BusEvent>>;
Q_DECLARE_METATYPE(BusEventBatch)

namespace busdesk::ui {

using engine::PortFactory;
using engine::Snapshot;

// The Qt window's handle on the engine: hands snapshots and boxes from the
// engine thread to the GUI thread, shows the boxes there (modal to the
// application, without a nested event loop, so the window can still be closed
// while one is up) and posts the user's events.
class EngineHost : public QObject, private engine::FrontEnd {
    Q_OBJECT
  public:
    EngineHost(PortFactory factory, QWidget* window, engine::Engine::Options options = {});
    ~EngineHost() override;
    // Starts the engine; connect to published() first.
    void Start();

    std::uint64_t PostClick(const QString& name);
    std::uint64_t PostText(const QString& name, const QString& text);
    std::uint64_t PostPick(const QString& name, int index);
    // Closes open boxes, closes the port, ends the thread. Safe to call twice.
    void Stop();
    bool Running() const { return running_; }
    // The box on top, or none.
    QDialog* OpenBox() const;

  signals:
    void published(busdesk::engine::Snapshot snapshot);
    void boxShown(QDialog* box);
    // What the line did, decoded, oldest first; before the snapshot that follows it.
    void heard(BusEventBatch events);

  private:
    void Publish(Snapshot snapshot) override;
    void ShowBox(std::uint64_t id, const engine::BoxRequest& request) override;
    void BusEvents(const std::vector<engine::BusEvent>& events) override;
    void Show(std::uint64_t id, const engine::BoxRequest& request);

    QWidget* window_;
    engine::Engine engine_;
    std::vector<QPointer<QDialog>> open_;
    bool running_ = true;
};

}  // namespace busdesk::ui
