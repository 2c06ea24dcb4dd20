#pragma once

#include <QLabel>
#include <QStatusBar>
#include <QString>

namespace busdesk::ui {

// The status line at any width it is given: the fields that fit, then "· …";
// the full text stays its accessible name.
class ElidedLabel : public QLabel {
    Q_OBJECT
  public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void SetFullText(const QString& text);
    const QString& FullText() const { return full_; }
    // Only the height counts: the line takes the room it is given.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Elide();
    QString full_;
};

// The window's status bar, for assistive technology a status bar too: it
// keeps a fixed name to be found by, and carries the line in its description;
// the line itself is a label named by its full text and described by the
// full table.
class StatusBar : public QStatusBar {
    Q_OBJECT
  public:
    explicit StatusBar(QWidget* parent = nullptr);
    // `line` the figures in one line, `detail` the full table (tool tip).
    void Show(const QString& line, const QString& detail);
    const QString& Line() const { return label_->FullText(); }
    ElidedLabel* Label() const { return label_; }

  private:
    ElidedLabel* label_ = nullptr;
};

}  // namespace busdesk::ui
