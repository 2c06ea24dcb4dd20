#include "ui/underlay.h"

#include <QAccessible>
#include <QEvent>
#include <QPainter>
#include <QWidget>

namespace busdesk::ui {

Underlay::Underlay(QWidget* owner) : QObject(owner), owner_(owner) {
    owner_->setAttribute(Qt::WA_OpaquePaintEvent);
    owner_->installEventFilter(this);
    if (QWidget* parent = owner_->parentWidget()) parent->installEventFilter(this);
}

void Underlay::Paint(QPainter& painter) {
    QWidget* parent = owner_->parentWidget();
    if (parent == nullptr) return;
    const qreal ratio = owner_->devicePixelRatioF();
    if (picture_.isNull() || picture_.devicePixelRatio() != ratio) {
        picture_ = QPixmap(owner_->size() * ratio);
        picture_.setDevicePixelRatio(ratio);
        picture_.fill(parent->palette().color(parent->backgroundRole()));
        // The parent's background and its own painting, never its children.
        parent->render(&picture_, QPoint(), QRegion(owner_->geometry()),
                       QWidget::DrawWindowBackground);
    }
    painter.drawPixmap(0, 0, picture_);
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

OpaqueLineEdit::OpaqueLineEdit(QWidget* parent) : QLineEdit(parent), under_(new Underlay(this)) {}

void OpaqueLineEdit::paintEvent(QPaintEvent* event) {
    {
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
