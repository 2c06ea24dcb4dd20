#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>

#include "engine/chart.h"
#include "engine/trend.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

namespace busdesk::ui {

// Paints a chart description with QPainter; knows nothing of where it came from.
class ChartWidget : public QWidget {
    Q_OBJECT
  public:
    explicit ChartWidget(QWidget* parent = nullptr);
    void SetChart(engine::Chart chart);
    const engine::Chart& Chart() const { return chart_; }
    // Paints `chart` on `p`, `size` pixels, in the colours of `palette`.
    static void Paint(QPainter& p, const engine::Chart& chart, const QPalette& palette);
    // How many times it has painted; a window that paints without news wastes CPU.
    int Paints() const { return paints_; }

  signals:
    void resized();
    void cursorMoved(int x);
    void cursorLeft();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    engine::Chart chart_;
    int paints_ = 0;
};

// "График — BusDesk": the level, temperature and current of the selected
// device over time, drawn from the engine's decoded receptions. Closing it
// only hides it, so its size and place last while the program runs.
class TrendWindow : public QWidget {
    Q_OBJECT
  public:
    explicit TrendWindow(const engine::TrendStore& store, QWidget* parent = nullptr);

    // The device selected in the main window; none when nothing is selected.
    void SetDevice(std::optional<std::uint8_t> address);
    std::optional<std::uint8_t> Device() const { return device_; }
    // The store took new events.
    void DataChanged();

    void SetWindowMinutes(int minutes);
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }
    // A fixed scale for series `k` (0 level, 1 temperature, 2 current), or automatic.
    void SetScale(std::size_t k, engine::Scale scale);

    // What is shown, written to a file; false (and why in `error`) when it cannot be.
    bool ExportCsv(const QString& path, QString* error = nullptr) const;
    bool ExportPng(const QString& path, QString* error = nullptr) const;

    const engine::Chart& Chart() const;
    ChartWidget* ChartView() const { return chart_; }
    QString LatestText() const;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QWidget* Named(QWidget* w, const char* name, const QString& accessibleName);
    void Rebuild();
    void UpdateLatest();
    void MoveCursor(std::optional<int> x);
    void AskCsv();
    void AskPng();

    const engine::TrendStore& store_;
    std::optional<std::uint8_t> device_;
    std::uint64_t shownVersion_ = 0;
    bool paused_ = false;
    engine::TimeMs pausedAt_ = 0;
    int minutes_ = 5;
    std::array<engine::Scale, 3> scales_{};
    std::optional<int> cursorX_;

    QLabel* deviceLabel_ = nullptr;
    QComboBox* windowChoice_ = nullptr;
    QPushButton* pause_ = nullptr;
    std::array<QCheckBox*, 3> auto_{};
    std::array<QDoubleSpinBox*, 3> lo_{};
    std::array<QDoubleSpinBox*, 3> hi_{};
    ChartWidget* chart_ = nullptr;
    QLabel* latest_ = nullptr;
    QLabel* readout_ = nullptr;
};

}  // namespace busdesk::ui
