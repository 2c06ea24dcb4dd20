#pragma once

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QString>
#include <QStyle>
#include <algorithm>
#include <optional>
#include <utility>
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

// The pictures of a widget's last looks, the latest first; the oldest goes
// when there are `most` of them.
template <typename Key>
class Pictures {
  public:
    explicit Pictures(std::size_t most) : most_(most) {}
    // The picture of `key`, made the latest; null when there is none.
    const QPixmap* Find(const Key& key) {
        auto found = std::find_if(pictures_.begin(), pictures_.end(),
                                  [&key](const auto& entry) { return entry.first == key; });
        if (found == pictures_.end()) return nullptr;
        std::rotate(pictures_.begin(), found, found + 1);
        return &pictures_.front().second;
    }
    const QPixmap& Add(Key key, QPixmap picture) {
        if (pictures_.size() >= most_) pictures_.pop_back();
        pictures_.emplace(pictures_.begin(), std::move(key), std::move(picture));
        return pictures_.front().second;
    }
    void Clear() { pictures_.clear(); }

  private:
    std::size_t most_;
    std::vector<std::pair<Key, QPixmap>> pictures_;
};

// Whether `text` is among the last ones seen; notes it if not, the oldest
// going when there are `most`.
bool SeenBefore(std::vector<QString>& seen, const QString& text, std::size_t most);

// A label of the window: plain text over the picture of what lies under it.
// The device fields come back to a few texts again and again (two tags in
// turn, a level within a few steps), so a text that comes back is kept as a
// picture, laid out and drawn once, and costs one copy after. Anything the
// picture depends on is part of its key.
class OpaqueLabel : public QLabel {
  public:
    explicit OpaqueLabel(QWidget* parent);
    // How many times a text was drawn afresh.
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
    Pictures<Key> pictures_{kPictures};
    std::vector<QString> seen_;  // the last texts painted, the latest last
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
// A box the user is not in keeps the pictures of its last texts whole: the
// command box shows a request and its answer in turn.
class OpaqueLineEdit : public QLineEdit {
  public:
    explicit OpaqueLineEdit(QWidget* parent);
    // How many times the frame was drawn afresh.
    int PanelsDrawn() const;
    // How many pictures of the whole box were drawn afresh.
    int BoxesDrawn() const { return boxesDrawn_; }
    static constexpr std::size_t kPictures = 4;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    struct Key {
        QString text;
        int cursor;
        QFont font;
        QSize size;
        qreal ratio;
        QStyle::State state;
        qint64 palette;
        quint64 resolved;
        qint64 under;
        int alignment;
        QMargins margins;
        bool frame;
        Qt::LayoutDirection direction;
        bool operator==(const Key&) const = default;
    };
    // Whether the box looks the same whenever it shows the same text: no
    // caret, no selection.
    bool Still() const;
    Key LookNow() const;
    // Takes the picture of the box as it is now, outside any paint.
    void TakePicture();
    void UseCache();
    Underlay* under_;
    PanelCache* cache_ = nullptr;  // null where the style cannot be wrapped
    Pictures<Key> pictures_{kPictures};
    std::vector<QString> seen_;  // the last texts painted, the latest last
    int boxesDrawn_ = 0;
    bool drawing_ = false;  // a picture of the box is being taken
    bool taking_ = false;   // a picture is to be taken
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
