#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QStatusBar>
#include <QString>
#include <QTextLayout>
#include <QTimer>
#include <array>
#include <memory>
#include <vector>

namespace busdesk::ui {

class Underlay;

// The status line at any width it is given: the fields that fit, then "· …";
// the full text stays its accessible name.
class ElidedLabel : public QLabel {
    Q_OBJECT
  public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    // The latest line: its accessible name at once, painted by Paint().
    void SetFullText(const QString& text);
    const QString& FullText() const { return full_; }
    // Paints the latest line; nothing when it is the one painted.
    void Paint();
    // Only the height counts: the line takes the room it is given.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void Elide();
    // The line laid out once: measured to fit, then painted from the same layout.
    bool LayOut(const QString& text);
    int HintHeight(bool minimum) const;
    std::unique_ptr<QTextLayout> layout_;  // of text(); null: QLabel paints
    Underlay* under_;
    // Heights of the size hints, [minimum][no text]; -1 until asked for.
    mutable std::array<std::array<int, 2>, 2> hintHeight_{{{-1, -1}, {-1, -1}}};
    QString full_;
    QString painted_;
};

// The window's status bar, for assistive technology a status bar too: it
// keeps a fixed name to be found by, and carries the line in its description;
// the line itself is a label named by its full text and described by the
// full table.
//
// The counters change on every tick; the line is painted at most once per
// PaintInterval() (the latest figures then), except when it says something
// new in kind: the first figures, a failed open, an empty line. Assistive
// technology reads the latest figures at once. The tool tip's table is
// refreshed with the line, and when it is about to be shown.
class StatusBar : public QStatusBar {
    Q_OBJECT
  public:
    explicit StatusBar(QWidget* parent = nullptr);
    // `line` the figures in one line, `detail` the full table (tool tip);
    // `atOnce` paints them now even if the last paint was less than an
    // interval ago.
    void Show(const QString& line, const QString& detail, bool atOnce = false);
    // The latest line, painted or not.
    const QString& Line() const { return label_->FullText(); }
    ElidedLabel* Label() const { return label_; }
    // The shortest time between two paints of changed figures.
    int PaintInterval() const { return interval_; }
    void SetPaintInterval(int ms);

  protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void Paint();
    void SetTip();
    std::vector<int> Arrangement() const;
    ElidedLabel* label_ = nullptr;
    std::vector<int> arranged_;  // as last laid out
    QString detail_;
    int interval_ = 1000;
    QElapsedTimer sincePaint_;
    QTimer pending_;
};

}  // namespace busdesk::ui
