#include "ui/underlay.h"

#include <QAccessible>
#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>
#include <algorithm>
#include <utility>

namespace busdesk::ui {

Underlay::Underlay(QWidget* owner) : QObject(owner), owner_(owner) {
    owner_->setAttribute(Qt::WA_OpaquePaintEvent);
    owner_->installEventFilter(this);
    if (QWidget* parent = owner_->parentWidget()) parent->installEventFilter(this);
}

void Underlay::Paint(QPainter& painter) {
    const QPixmap& picture = Picture();
    if (!picture.isNull()) painter.drawPixmap(0, 0, picture);
}

const QPixmap& Underlay::Picture() {
    QWidget* parent = owner_->parentWidget();
    if (parent == nullptr) return picture_;
    const qreal ratio = owner_->devicePixelRatioF();
    if (picture_.isNull() || picture_.devicePixelRatio() != ratio) {
        picture_ = QPixmap(owner_->size() * ratio);
        picture_.setDevicePixelRatio(ratio);
        // What shows through a parent that fills no background of its own
        // (a frame) is the background of the nearest one that does.
        const QWidget* filled = parent;
        while (!filled->isWindow() && !filled->autoFillBackground() &&
               filled->parentWidget() != nullptr)
            filled = filled->parentWidget();
        picture_.fill(filled->palette().color(filled->backgroundRole()));
        // The parent's own painting, never its children.
        parent->render(&picture_, QPoint(), QRegion(owner_->geometry()),
                       filled == parent ? QWidget::DrawWindowBackground : QWidget::RenderFlags());
    }
    return picture_;
}

void Underlay::DropAllOn(QWidget* parent) {
    for (Underlay* u : parent->findChildren<Underlay*>()) u->Drop();
}

bool Underlay::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::StyleChange:
        case QEvent::PaletteChange:
        case QEvent::FontChange:
        case QEvent::EnabledChange:
        case QEvent::ScreenChangeInternal:
            Drop();
            break;
        default:
            break;
    }
    (void)watched;
    return false;
}

bool SeenBefore(std::vector<QString>& seen, const QString& text, std::size_t most) {
    if (std::find(seen.begin(), seen.end(), text) != seen.end()) return true;
    if (seen.size() >= most) seen.erase(seen.begin());
    seen.push_back(text);
    return false;
}

OpaqueLabel::OpaqueLabel(QWidget* parent) : QLabel(parent), under_(new Underlay(this)) {}

bool OpaqueLabel::DrawnAsItemText() const {
    constexpr auto selectable =
        Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard | Qt::TextEditable;
    return textFormat() == Qt::PlainText && !text().isEmpty() && frameWidth() == 0 &&
           indent() <= 0 && focusPolicy() == Qt::NoFocus &&
           !(textInteractionFlags() & selectable) &&
           (buddy() == nullptr || !text().contains(QLatin1Char('&'))) && styleSheet().isEmpty() &&
           qApp->styleSheet().isEmpty();
}

void OpaqueLabel::paintEvent(QPaintEvent* event) {
    const QPixmap& under = under_->Picture();
    if (under.isNull() || !DrawnAsItemText()) {
        {
            QPainter p(this);
            under_->Paint(p);
        }
        QLabel::paintEvent(event);
        return;
    }
    // Where and how a plain label puts its text.
    QStyleOption option;
    option.initFrom(this);
    const Qt::LayoutDirection direction =
        text().isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
    int flags =
        static_cast<int>(QStyle::visualAlignment(direction, alignment())) |
        (direction == Qt::LeftToRight ? Qt::TextForceLeftToRight : Qt::TextForceRightToLeft);
    if (wordWrap()) flags |= Qt::TextWordWrap;
    const int m = margin();
    const QRect rect = contentsRect().adjusted(m, m, -m, -m);
    Key key{text(),
            font(),
            rect,
            size(),
            devicePixelRatioF(),
            flags,
            static_cast<int>(foregroundRole()),
            option.state,
            option.palette.cacheKey(),
            option.palette.resolveMask(),
            under.cacheKey(),
            style()};
    if (const QPixmap* picture = pictures_.Find(key)) {
        QPainter p(this);
        p.drawPixmap(0, 0, *picture);
        return;
    }
    ++drawn_;
    // A text painted once is drawn in place; one that came back is kept.
    if (!SeenBefore(seen_, key.text, 2 * kPictures)) {
        QPainter p(this);
        p.drawPixmap(0, 0, under);
        style()->drawItemText(&p, rect, flags, option.palette, isEnabled(), text(),
                              foregroundRole());
        return;
    }
    QPixmap drawn(key.size * key.ratio);
    drawn.setDevicePixelRatio(key.ratio);
    {
        QPainter p(&drawn);
        p.drawPixmap(0, 0, under);
        p.setFont(font());
        p.setLayoutDirection(layoutDirection());
        style()->drawItemText(&p, rect, flags, option.palette, isEnabled(), text(),
                              foregroundRole());
    }
    const QPixmap& picture = pictures_.Add(std::move(key), std::move(drawn));
    QPainter p(this);
    p.drawPixmap(0, 0, picture);
}

OpaqueProgressBar::OpaqueProgressBar(QWidget* parent)
    : QProgressBar(parent), under_(new Underlay(this)) {}

// The bar repaints itself at once for a new value; held back here, the
// value is painted with the rest of the tick, the bar alone.
void OpaqueProgressBar::SetValue(int value) {
    if (value == this->value()) return;
    const bool held = testAttribute(Qt::WA_UpdatesDisabled);
    setAttribute(Qt::WA_UpdatesDisabled, true);
    setValue(value);
    setAttribute(Qt::WA_UpdatesDisabled, held);
    if (!held && Shows()) update();
}

bool OpaqueProgressBar::Shows() const {
    if (!painted_) return true;
    const qint64 v = value();
    if (v == *painted_) return false;
    if (v == minimum() || v == maximum()) return true;
    const qint64 steps = qint64(maximum()) - minimum();
    const qint64 step = qAbs(v - *painted_);
    const QString f = format();
    if (isTextVisible() && (f.contains(QLatin1String("%v")) ||
                            (f.contains(QLatin1String("%p")) && step * 100 >= steps)))
        return true;
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    const int chunk = style()->pixelMetric(QStyle::PM_ProgressBarChunkWidth, &option, this);
    const QRect groove = style()->subElementRect(QStyle::SE_ProgressBarGroove, &option, this);
    const int block = orientation() == Qt::Horizontal ? groove.width() : groove.height();
    return step * block > qint64(chunk) * steps;
}

bool OpaqueProgressBar::event(QEvent* event) {
    const bool done = QProgressBar::event(event);
    // The style's polish makes the bar see-through again.
    if (event->type() == QEvent::Polish || event->type() == QEvent::StyleChange)
        setAttribute(Qt::WA_OpaquePaintEvent);
    return done;
}

void OpaqueProgressBar::paintEvent(QPaintEvent* event) {
    {
        QPainter p(this);
        under_->Paint(p);
    }
    painted_ = value();
    QProgressBar::paintEvent(event);
}

// The box's own style for everything, but its panel (background and frame)
// comes from a picture drawn once over what lies under the box. The rounded
// frame is most of what a line edit costs to paint.
class PanelCache : public QProxyStyle {
  public:
    PanelCache(QStyle* base, const QWidget* owner, Underlay* under)
        : QProxyStyle(base), owner_(owner), under_(under) {}
    int Drawn() const { return drawn_; }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_PanelLineEdit || widget != owner_ || option == nullptr ||
            painter == nullptr) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const QPixmap& under = under_->Picture();
        const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatio()
                                                         : owner_->devicePixelRatioF();
        const Key key{option->rect,
                      option->state,
                      option->direction,
                      under.cacheKey(),
                      ratio,
                      option->palette.cacheKey(),
                      option->palette.resolveMask()};
        if (picture_.isNull() || !(key == key_)) {
            picture_ = QPixmap(option->rect.size() * ratio);
            picture_.setDevicePixelRatio(ratio);
            picture_.fill(Qt::transparent);
            QPainter p(&picture_);
            if (!under.isNull()) p.drawPixmap(0, 0, under);
            // Copied by value: QStyleOption has no virtual destructor.
            const auto drawAtOrigin = [&](QStyleOption& at) {
                at.rect.moveTopLeft(QPoint(0, 0));
                QProxyStyle::drawPrimitive(element, &at, &p, widget);
            };
            if (option->type == QStyleOption::SO_Frame) {
                QStyleOptionFrame at(*static_cast<const QStyleOptionFrame*>(option));
                drawAtOrigin(at);
            } else {
                QStyleOption at(*option);
                drawAtOrigin(at);
            }
            key_ = key;
            ++drawn_;
        }
        painter->drawPixmap(option->rect.topLeft(), picture_);
    }

  private:
    struct Key {
        QRect rect;
        QStyle::State state;
        Qt::LayoutDirection direction;
        qint64 under;
        qreal ratio;
        qint64 palette;
        quint64 resolved;
        bool operator==(const Key&) const = default;
    };
    const QWidget* owner_;
    Underlay* under_;
    mutable QPixmap picture_;
    mutable Key key_{};
    mutable int drawn_ = 0;
};

OpaqueLineEdit::OpaqueLineEdit(QWidget* parent) : QLineEdit(parent), under_(new Underlay(this)) {
    UseCache();
}

// A style of its own, of the same kind as the application's. Not where a
// style sheet styles the application: the box then keeps the sheet's style.
void OpaqueLineEdit::UseCache() {
    if (!qApp->styleSheet().isEmpty() || !styleSheet().isEmpty()) return;
    QStyle* base = QStyleFactory::create(QApplication::style()->name());
    if (base == nullptr) return;
    cache_ = new PanelCache(base, this, under_);
    cache_->setParent(this);  // the widget keeps a guarded pointer to its style
    setStyle(cache_);
}

int OpaqueLineEdit::PanelsDrawn() const {
    return cache_ != nullptr ? cache_->Drawn() : -1;
}

void OpaqueLineEdit::changeEvent(QEvent* event) {
    // The application changed its style: follow it.
    if (event->type() == QEvent::StyleChange && cache_ != nullptr &&
        cache_->baseStyle()->name() != QApplication::style()->name()) {
        PanelCache* old = cache_;
        cache_ = nullptr;
        setStyle(nullptr);
        old->deleteLater();
        UseCache();
    }
    QLineEdit::changeEvent(event);
}

bool OpaqueLineEdit::Still() const {
    return cache_ != nullptr && !drawing_ && !hasFocus() && !hasSelectedText() &&
           !text().isEmpty() && echoMode() == QLineEdit::Normal && styleSheet().isEmpty() &&
           qApp->styleSheet().isEmpty();
}

OpaqueLineEdit::Key OpaqueLineEdit::LookNow() const {
    QStyleOptionFrame option;
    initStyleOption(&option);
    return {text(),
            cursorPosition(),
            font(),
            size(),
            devicePixelRatioF(),
            option.state,
            option.palette.cacheKey(),
            option.palette.resolveMask(),
            under_->Picture().cacheKey(),
            static_cast<int>(alignment()),
            textMargins(),
            hasFrame(),
            layoutDirection()};
}

void OpaqueLineEdit::paintEvent(QPaintEvent* event) {
    if (Still()) {
        if (const QPixmap* picture = pictures_.Find(LookNow())) {
            QPainter p(this);
            p.drawPixmap(0, 0, *picture);
            return;
        }
        // A text that comes back is likely to come again: its picture is
        // taken once this paint is over. One painted once is not kept.
        if (SeenBefore(seen_, text(), 2 * kPictures) && !taking_) {
            taking_ = true;
            QMetaObject::invokeMethod(this, &OpaqueLineEdit::TakePicture, Qt::QueuedConnection);
        }
    }
    if (cache_ == nullptr) {
        QPainter p(this);
        under_->Paint(p);
    }
    QLineEdit::paintEvent(event);
}

void OpaqueLineEdit::TakePicture() {
    taking_ = false;
    if (!Still() || !isVisible()) return;
    Key key = LookNow();
    if (pictures_.Find(key) != nullptr) return;
    // A text wider than the box scrolls by where the caret was before: it
    // is painted as it comes, never kept.
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect room = style()
                           ->subElementRect(QStyle::SE_LineEditContents, &option, this)
                           .marginsRemoved(textMargins());
    if (fontMetrics().horizontalAdvance(text()) + 4 >= room.width()) return;
    QPixmap drawn(key.size * key.ratio);
    drawn.setDevicePixelRatio(key.ratio);
    drawn.fill(Qt::transparent);
    drawing_ = true;
    render(&drawn, QPoint(), QRegion(), QWidget::RenderFlags());
    drawing_ = false;
    ++boxesDrawn_;
    pictures_.Add(std::move(key), std::move(drawn));
}

// The caret and the frame's focus mark come and go with the focus; the
// pictures are taken afresh after it.
void OpaqueLineEdit::focusInEvent(QFocusEvent* event) {
    pictures_.Clear();
    QLineEdit::focusInEvent(event);
}

void OpaqueLineEdit::focusOutEvent(QFocusEvent* event) {
    pictures_.Clear();
    QLineEdit::focusOutEvent(event);
}

SightedTextEdit::SightedTextEdit(QWidget* parent) : QPlainTextEdit(parent) {
    viewport()->installEventFilter(this);
}

void SightedTextEdit::SetText(const QString& text) {
    if (!QAccessible::isActive() && visibleRegion().isEmpty()) {
        held_ = text;
        return;
    }
    held_.reset();
    setPlainText(text);
}

void SightedTextEdit::TakeHeld() {
    if (!held_) return;
    const QString text = std::move(*held_);
    held_.reset();
    setPlainText(text);
}

bool SightedTextEdit::eventFilter(QObject* watched, QEvent* event) {
    // Before the box is painted or shown again: enlarged into sight, or the
    // text asked for by assistive technology that started since.
    if (watched == viewport() && (event->type() == QEvent::Paint || event->type() == QEvent::Show))
        TakeHeld();
    return QPlainTextEdit::eventFilter(watched, event);
}

}  // namespace busdesk::ui
