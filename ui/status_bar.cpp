#include "ui/status_bar.h"

#include <QFontMetrics>
#include <QResizeEvent>
#include <string>
#include <string_view>

#include "engine/line_counters.h"

namespace busdesk::ui {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);  // counters and system texts are never markup
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::SetFullText(const QString& text) {
    if (text == full_) return;
    full_ = text;
    setAccessibleName(full_);
    Elide();
}

QSize ElidedLabel::sizeHint() const {
    return {0, QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void ElidedLabel::Elide() {
    // Whole fields, then "· …": the tool tip has it all.
    const QFontMetrics metrics = fontMetrics();
    const std::string fitted = engine::FitStatusLine(
        full_.toStdString(), contentsRect().width(), [&metrics](std::string_view s) {
            return metrics.horizontalAdvance(
                QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())));
        });
    setText(QString::fromStdString(fitted));
}

StatusBar::StatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("StatusBar"));
    setAccessibleName(QStringLiteral("Строка состояния"));
    // The grip would take room from the line; the window's edges resize it.
    setSizeGripEnabled(false);
    label_ = new ElidedLabel(this);
    label_->setObjectName(QStringLiteral("StatusLine"));
    label_->setContentsMargins(2, 0, 2, 0);
    addWidget(label_, 1);
}

void StatusBar::Show(const QString& line, const QString& detail) {
    // Every change is announced to assistive technology: only real ones.
    label_->SetFullText(line);
    if (accessibleDescription() != line) setAccessibleDescription(line);
    if (label_->accessibleDescription() != detail) label_->setAccessibleDescription(detail);
    if (toolTip() != detail) {
        setToolTip(detail);
        label_->setToolTip(detail);
    }
}

}  // namespace busdesk::ui
