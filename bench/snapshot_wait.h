#pragma once
// The GUI benchmarks' wait for the window's snapshots.

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include "ui/main_window.h"

namespace busdesk::bench {

// Counts the snapshots the window applies and runs the event loop until a
// given number more have arrived.
class SnapshotWait {
  public:
    explicit SnapshotWait(ui::MainWindow& window) {
        QObject::connect(&window, &ui::MainWindow::applied, [this] {
            if (++published_ >= wanted_) loop_.quit();
        });
        limit_.setSingleShot(true);
        QObject::connect(&limit_, &QTimer::timeout, &loop_, &QEventLoop::quit);
    }

    // Runs the event loop until `count` more snapshots arrived or `ms` passed.
    void operator()(int count, int ms) {
        wanted_ = published_ + count;
        limit_.start(ms);
        if (published_ < wanted_) loop_.exec();
        limit_.stop();
    }
    int Published() const { return published_; }

  private:
    int published_ = 0;
    int wanted_ = 1;
    QEventLoop loop_;
    QTimer limit_;
};

}  // namespace busdesk::bench
