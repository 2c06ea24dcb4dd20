#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/control.h"
#include "engine/geometry.h"
#include "engine/snapshot_changes.h"
#include "engine/trend.h"
#include "ui/engine_host.h"

namespace busdesk::ui {

class ReportAction;
class StatusBar;
class TrendWindow;

// The window: one widget per control of the model, placed in twips scaled to
// the screen. It only paints the engine's snapshots and forwards the user's
// input; the logic runs on the engine thread.
class MainWindow : public QWidget {
    Q_OBJECT
  public:
    explicit MainWindow(PortFactory factory, QWidget* parent = nullptr);
    // `options` says what the port list's entries open (their tool tips).
    MainWindow(PortFactory factory, engine::Engine::Options options, QWidget* parent = nullptr);
    ~MainWindow() override;

    QWidget* ControlWidget(const QString& name) const;
    EngineHost& Host() { return *host_; }
    // The controls as last applied.
    const std::vector<Control>& Model() const { return changes_.Shown(); }
    // The number of the last user event the applied controls have taken in.
    std::uint64_t AppliedSeq() const { return appliedSeq_; }
    double PixelsPerTwip() const { return dpi_ / engine::kTwipsPerInch; }

    // The status bar under the client area; no control of the model.
    ui::StatusBar* StatusBar() const { return status_; }
    // The window's client area: the parent of every control, which clips what
    // lies beyond it (the service controls) until the window is enlarged.
    QWidget* ClientArea() const { return client_; }

    // The trend of the selected device: opened by the status bar's button or Ctrl+G.
    void OpenTrend();
    // Null until first opened.
    TrendWindow* Trend() const { return trend_; }
    const engine::TrendStore& TrendData() const { return trendData_; }
    // "Отчёт…": null unless a journal is kept.
    ReportAction* Report() const { return report_; }

  signals:
    void applied(quint64 seq);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Build(const std::vector<Control>& design);
    QWidget* MakeWidget(const Control& c, QWidget* parent);
    void Connect(const Control& c, QWidget* w);
    void Apply(const Snapshot& s);
    void ApplyControl(const Control& now, const Control* before, bool userTypedThis,
                      bool typingAhead);
    void ApplyText(const Control& now, QWidget* w, bool keepUserText);
    void ApplyPortInfo(const Snapshot& s);
    void AddTrendButton();
    void NoteSelectedDevice(const std::vector<Control>& controls);
    void PassFocusOn(QWidget* from);
    void NoteEdit(const std::string& name, std::uint64_t seq, const QString& text);

    ui::StatusBar* status_ = nullptr;
    QWidget* client_ = nullptr;
    int barHeight_ = 0;
    double dpi_ = 96.0;
    std::unique_ptr<EngineHost> host_;
    std::map<std::string, QWidget*, std::less<>> widgets_;
    engine::SnapshotChanges changes_;
    std::uint64_t appliedSeq_ = 0;
    // The control that had the focus when the last snapshot disabled it.
    QWidget* focusLeft_ = nullptr;
    // The line's state the status bar last heard of: a change in kind is shown at once.
    bool linePortOpened_ = false;
    std::string lineOpenError_;
    std::string lineWaitingFor_;
    std::uint64_t lineRequests_ = 0;
    // Kept from the start, so the trend opened later shows what came before.
    engine::TrendStore trendData_;
    TrendWindow* trend_ = nullptr;
    std::optional<std::uint8_t> selected_;
    // The port descriptions last put on CmbPort, and whether its entries were
    // made afresh since.
    std::shared_ptr<const std::vector<std::string>> portInfoShown_;
    bool portListChanged_ = true;
    ReportAction* report_ = nullptr;
};

}  // namespace busdesk::ui
