#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/memory_port.h"
#include "ui/lamp.h"
#include "ui/main_window.h"

namespace busdesk::testing {

// Counts what the engine does to the port, readable from the test thread.
struct PortLog {
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    std::atomic<int> reads{0};
    std::mutex mutex;
    std::vector<Bytes> writes;  // guarded by mutex

    std::vector<Bytes> Writes() {
        std::lock_guard lock(mutex);
        return writes;
    }
};

// A MemoryPort that reports into a PortLog the test keeps.
class LoggedPort : public MemoryPort {
  public:
    explicit LoggedPort(std::shared_ptr<PortLog> log) : log_(std::move(log)) {}
    bool OpenPort(const std::string& name, const std::string& settings) override {
        const bool ok = MemoryPort::OpenPort(name, settings);
        if (ok) ++log_->opens;
        return ok;
    }
    int ClosePort() override {
        ++log_->closes;
        return MemoryPort::ClosePort();
    }
    Bytes ReadPort() override {
        ++log_->reads;
        return MemoryPort::ReadPort();
    }
    std::int16_t WritePort(const Bytes& data) override {
        {
            std::lock_guard lock(log_->mutex);
            log_->writes.push_back(data);
        }
        return MemoryPort::WritePort(data);
    }

  private:
    std::shared_ptr<PortLog> log_;
};

inline ui::PortFactory LoggedPorts(std::shared_ptr<PortLog> log, bool openSucceeds = true) {
    return [log, openSucceeds](Dialogs&) {
        auto p = std::make_unique<LoggedPort>(log);
        p->openSucceeds = openSucceeds;
        return std::unique_ptr<SerialPort>(std::move(p));
    };
}

// A shown window whose engine has published its first snapshot.
inline std::unique_ptr<ui::MainWindow> ShowWindow(ui::PortFactory factory) {
    auto w = std::make_unique<ui::MainWindow>(std::move(factory));
    QSignalSpy first(w.get(), &ui::MainWindow::applied);
    w->show();
    if (!first.wait(10000)) return nullptr;
    return w;
}

template <typename T = QWidget>
T* Widget(ui::MainWindow& w, const char* name) {
    return qobject_cast<T*>(w.ControlWidget(QString::fromUtf8(name)));
}

inline QString Text(ui::MainWindow& w, const char* name) {
    if (auto* l = Widget<QLabel>(w, name)) return l->text();
    if (auto* b = Widget<QAbstractButton>(w, name)) return b->text();
    if (auto* c = Widget<QComboBox>(w, name)) return c->currentText();
    return {};
}

inline QMessageBox* OpenMessageBox(ui::MainWindow& w) {
    return qobject_cast<QMessageBox*>(w.Host().OpenBox());
}

// Presses the Alt access key of a letter, Cyrillic ones included.
inline void PressAccessKey(QWidget* target, QChar letter) {
    QVERIFY(QTest::qWaitForWindowActive(target->window()));
    const auto key = static_cast<Qt::Key>(letter.toUpper().unicode());
    QTest::sendKeyEvent(QTest::Press, target, key, QString(letter.toLower()), Qt::AltModifier);
    QTest::sendKeyEvent(QTest::Release, target, key, QString(letter.toLower()), Qt::AltModifier);
}

}  // namespace busdesk::testing
