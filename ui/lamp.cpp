#include "ui/lamp.h"

#include <QPainter>

namespace busdesk::ui {

QColor FromBgr(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFFU), static_cast<int>((bgr >> 8) & 0xFFU),
                  static_cast<int>((bgr >> 16) & 0xFFU));
}

Lamp::Lamp(QWidget* parent) : QWidget(parent), fill_(FromBgr(0x00FFFF)) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void Lamp::SetFill(std::uint32_t bgr) {
    const QColor c = FromBgr(bgr);
    if (c == fill_) return;
    fill_ = c;
    update();
}

void Lamp::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // The outline comes from the palette so the lamp stays visible on any theme.
    p.setPen(QPen(palette().color(QPalette::WindowText), 1));
    p.setBrush(fill_);
    const int d = qMin(width(), height()) - 2;
    p.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d));
}

}  // namespace busdesk::ui
