#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QFont>
#include <QPixmap>
#include <QStyle>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QString>
#include <optional>
#include <vector>

class QPainter;
class QWidget;

namespace busdesk::ui {

// A picture of what lies under a widget: its parent's own painting there,
// without the siblings. A widget that paints it first can paint opaquely, so
// a change of its own (a label's text, the lamp's colour) repaints the widget
// alone and not the frame or window behind it. The picture is taken again
// after anything that could change it: the widget moved or resized, the
// parent resized, restyled, repaletted, enabled or disabled.
class Underlay : public QObject {
    Q_OBJECT
  public:
    explicit Underlay(QWidget* owner);
    void Paint(QPainter& painter);
    // The picture, taken now if it was dropped.
    const QPixmap& Picture();
    // The parent's painting changed in a way no event tells (a frame's title).
    void Drop() { picture_ = QPixmap(); }
    // Drops the pictures of every widget lying on `parent`.
    static void DropAllOn(QWidget* parent);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* owner_;
    QPixmap picture_;
};

// A label of the window: plain text over the picture of what lies under it.
// The device fields come back to a few texts again and again (two tags in
// turn, a level within a few steps), so the label keeps the pictures of its
// last texts, each laid out and drawn once, and a text it showed before
// costs one copy. Anything the picture depends on is part of its key.
class OpaqueLabel : public QLabel {
  public:
    explicit OpaqueLabel(QWidget* parent);
    // How many pictures of a text were drawn afresh.
    int TextsDrawn() const { return drawn_; }
    // Pictures kept at most.
    static constexpr std::size_t kPictures = 8;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    struct Key {
        QString text;
        QFont font;
        QRect rect;
        QSize size;
        qreal ratio;
        int flags;
        int role;
        QStyle::State state;
        qint64 palette;
        quint64 resolved;
        qint64 under;
        const QStyle* style;
        bool operator==(const Key&) const = default;
    };
    // Whether the text is drawn as the style draws an item's text, as a
    // plain label of plain text without frame, mnemonic or selection does.
    bool DrawnAsItemText() const;
    Underlay* under_;
    std::vector<std::pair<Key, QPixmap>> pictures_;  // the latest first
    int drawn_ = 0;
};

// The progress bar over the picture of what lies under its rounded groove. A
// new value repaints the bar alone, with the tick's other changes rather than
// at once and with the window behind it.
class OpaqueProgressBar : public QProgressBar {
  public:
    explicit OpaqueProgressBar(QWidget* parent);
    void SetValue(int value);

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    // Whether the new value shows, as the bar itself judges it: a step less
    // than a chunk wide waits for one that is not.
    bool Shows() const;
    Underlay* under_;
    std::optional<int> painted_;  // the value last painted
};

class PanelCache;

// A single-line text box over the picture of what lies under its rounded
// corners: a new text repaints the box alone. Its frame and background are
// drawn once, with the picture under them, and reused while its size, state
// and palette stay: a text that changes every tick costs the text alone.
class OpaqueLineEdit : public QLineEdit {
  public:
    explicit OpaqueLineEdit(QWidget* parent);
    // How many times the frame was drawn afresh.
    int PanelsDrawn() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void UseCache();
    Underlay* under_;
    PanelCache* cache_ = nullptr;  // null where the style cannot be wrapped
};

// A multi-line text box whose text is laid out only where it can be seen: a
// box that lies wholly beyond the client area (until the window is enlarged)
// keeps the latest text and takes it before it is next painted. Laying a
// document out is the dearest thing a tick would otherwise do for a box
// nobody sees. With assistive technology listening the text goes in at once.
class SightedTextEdit : public QPlainTextEdit {
  public:
    explicit SightedTextEdit(QWidget* parent);
    void SetText(const QString& text);
    // A text held back, not yet in the box.
    bool Holding() const { return held_.has_value(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void TakeHeld();
    std::optional<QString> held_;
};

}  // namespace busdesk::ui
