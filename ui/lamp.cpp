#include "ui/lamp.h"

#include <QPainter>

#include "ui/underlay.h"

namespace busdesk::ui {

QColor FromBgr(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFFU), static_cast<int>((bgr >> 8) & 0xFFU),
                  static_cast<int>((bgr >> 16) & 0xFFU));
}

// Opaque over the picture of what lies under it, so a new colour repaints the
// lamp alone.
Lamp::Lamp(QWidget* parent)
    : QWidget(parent), fill_(FromBgr(0x00FFFF)), under_(new Underlay(this)) {}

void Lamp::SetFill(std::uint32_t bgr) {
    const QColor c = FromBgr(bgr);
    if (c == fill_) return;
    fill_ = c;
    update();
}

void Lamp::paintEvent(QPaintEvent*) {
    QPainter p(this);
    under_->Paint(p);
    p.setRenderHint(QPainter::Antialiasing);
    // The outline comes from the palette so the lamp stays visible on any theme.
    p.setPen(QPen(palette().color(QPalette::WindowText), 1));
    p.setBrush(fill_);
    const int d = qMin(width(), height()) - 2;
    p.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d));
}

}  // namespace busdesk::ui
