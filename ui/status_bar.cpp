#include "ui/status_bar.h"

#include <QCursor>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QStyleOption>
#include <QTextLine>
#include <QToolTip>
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/line_counters.h"
#include "ui/underlay.h"

namespace busdesk::ui {

// Opaque over what lies under it: a new line repaints the line alone.
ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent), under_(new Underlay(this)) {
    setTextFormat(Qt::PlainText);  // counters and system texts are never markup
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::SetFullText(const QString& text) {
    if (text == full_) return;
    full_ = text;
    setAccessibleName(full_);
}

void ElidedLabel::Paint() {
    if (painted_ == full_) return;
    painted_ = full_;
    Elide();
}

QSize ElidedLabel::sizeHint() const {
    return {0, HintHeight(false)};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, HintHeight(true)};
}

// A line's height does not depend on its text, only on whether there is
// one: asked for at every new line by the bar's layout, it is worked out
// once instead of laying the whole line out each time.
int ElidedLabel::HintHeight(bool minimum) const {
    int& h = hintHeight_[minimum ? 1 : 0][text().isEmpty() ? 1 : 0];
    if (h < 0) h = minimum ? QLabel::minimumSizeHint().height() : QLabel::sizeHint().height();
    return h;
}

void ElidedLabel::changeEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::FontChange:
        case QEvent::StyleChange:
        case QEvent::ContentsRectChange:
            for (auto& row : hintHeight_) row = {-1, -1};
            break;
        default:
            break;
    }
    QLabel::changeEvent(event);
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void ElidedLabel::paintEvent(QPaintEvent* event) {
    if (layout_ == nullptr || layout_->text() != text() || layout_->font() != font()) {
        layout_.reset();
        {
            QPainter p(this);
            under_->Paint(p);
        }
        QLabel::paintEvent(event);
        return;
    }
    QPainter p(this);
    under_->Paint(p);
    // As a plain label places a line: its contents rectangle, centred in height.
    const QRect r = contentsRect();
    const QTextLine line = layout_->lineAt(0);
    const qreal yoff = (r.height() - line.height()) / 2;
    QStyleOption option;
    option.initFrom(this);
    p.setPen(QPen(option.palette.brush(foregroundRole()), p.pen().widthF()));
    line.draw(&p, QPointF(r.x(), r.y() + yoff));
}

// A line as wide as it likes: its width says whether it fits.
bool ElidedLabel::LayOut(const QString& text) {
    auto layout = std::make_unique<QTextLayout>(text, font());
    QTextOption option(Qt::AlignLeft | Qt::AlignVCenter);
    option.setWrapMode(QTextOption::NoWrap);
    option.setTextDirection(Qt::LeftToRight);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    QTextLine line = layout->createLine();
    if (line.isValid()) line.setLineWidth(0x01000000);
    layout->endLayout();
    if (!line.isValid() || layout->lineCount() != 1) return false;
    line.setPosition(QPointF(0, 0));
    if (qRound(line.naturalTextWidth()) > contentsRect().width()) return false;
    layout_ = std::move(layout);
    return true;
}

void ElidedLabel::Elide() {
    layout_.reset();
    // Most lines fit whole: laid out once, for the measure and the paint.
    if (!painted_.isEmpty() && LayOut(painted_)) {
        if (painted_ != text()) setText(painted_);
        return;
    }
    // Whole fields, then "· …": the tool tip has it all.
    const QFontMetrics metrics = fontMetrics();
    const std::string fitted = engine::FitStatusLine(
        painted_.toStdString(), contentsRect().width(), [&metrics](std::string_view s) {
            return metrics.horizontalAdvance(
                QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())));
        });
    const QString shown = QString::fromStdString(fitted);
    if (shown != text()) setText(shown);
}

StatusBar::StatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("StatusBar"));
    setAccessibleName(QStringLiteral("Строка состояния"));
    // The grip would take room from the line; the window's edges resize it.
    setSizeGripEnabled(false);
    label_ = new ElidedLabel(this);
    label_->setObjectName(QStringLiteral("StatusLine"));
    label_->setContentsMargins(2, 0, 2, 0);
    label_->installEventFilter(this);
    addWidget(label_, 1);
    pending_.setSingleShot(true);
    connect(&pending_, &QTimer::timeout, this, &StatusBar::Paint);
}

void StatusBar::SetPaintInterval(int ms) {
    interval_ = std::max(0, ms);
    if (pending_.isActive())
        pending_.start(static_cast<int>(std::max<qint64>(0, interval_ - sincePaint_.elapsed())));
}

void StatusBar::Show(const QString& line, const QString& detail, bool atOnce) {
    // Every change is announced to assistive technology: only real ones. It
    // gets the latest figures; the eye gets them at most once an interval.
    label_->SetFullText(line);
    if (accessibleDescription() != line) setAccessibleDescription(line);
    if (label_->accessibleDescription() != detail) label_->setAccessibleDescription(detail);
    detail_ = detail;
    // Something to say after nothing, or nothing after something, is news.
    const bool news = atOnce || line.isEmpty() != label_->text().isEmpty();
    if (news || !sincePaint_.isValid() || sincePaint_.elapsed() >= interval_) {
        Paint();
    } else if (!pending_.isActive()) {
        pending_.start(static_cast<int>(interval_ - sincePaint_.elapsed()));
    }
}

void StatusBar::Paint() {
    pending_.stop();
    const QString before = label_->text();
    label_->Paint();
    SetTip();
    // Only a paint that happened holds the next one back.
    if (label_->text() != before) sincePaint_.start();
}

void StatusBar::SetTip() {
    if (toolTip() == detail_) return;
    const QString old = toolTip();
    setToolTip(detail_);
    label_->setToolTip(detail_);
    // A table that is up shows the new figures; Qt leaves a shown tip as it was.
    if (!old.isEmpty() && QToolTip::isVisible() && QToolTip::text() == old) {
        if (detail_.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(QCursor::pos(), detail_, label_);
    }
}

bool StatusBar::event(QEvent* e) {
    // The table about to be shown carries the latest figures.
    if (e->type() == QEvent::ToolTip) SetTip();
    if (e->type() == QEvent::LayoutRequest) {
        // A new line asks for a layout, and the bar would then repaint whole,
        // the window behind it too, once a second. The layout has been redone
        // by now; when it moved nothing, the label has repainted itself and
        // that is all there is to paint.
        std::vector<int> now = Arrangement();
        if (now == arranged_) return QWidget::event(e);
        arranged_ = std::move(now);
    }
    return QStatusBar::event(e);
}

// Where each item lies and how high its text is: what the bar's own
// painting (the items' frames, its height) depends on.
std::vector<int> StatusBar::Arrangement() const {
    std::vector<int> a{width(), height(), fontMetrics().height()};
    for (const QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QRect g = w->geometry();
        a.insert(a.end(), {w->isVisibleTo(this) ? 1 : 0, g.x(), g.y(), g.width(), g.height(),
                           w->fontMetrics().height(), w->maximumHeight()});
    }
    return a;
}

bool StatusBar::eventFilter(QObject* watched, QEvent* e) {
    if (watched == label_ && e->type() == QEvent::ToolTip) SetTip();
    return QStatusBar::eventFilter(watched, e);
}

}  // namespace busdesk::ui
