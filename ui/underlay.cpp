#include "ui/underlay.h"

#include <QAccessible>
#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>
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

OpaqueLabel::OpaqueLabel(QWidget* parent) : QLabel(parent), under_(new Underlay(this)) {}

void OpaqueLabel::paintEvent(QPaintEvent* event) {
    {
        QPainter p(this);
        under_->Paint(p);
    }
    QLabel::paintEvent(event);
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

void OpaqueLineEdit::paintEvent(QPaintEvent* event) {
    if (cache_ == nullptr) {
        QPainter p(this);
        under_->Paint(p);
    }
    QLineEdit::paintEvent(event);
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
