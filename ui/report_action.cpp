#include "ui/report_action.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <QToolButton>
#include <QUrl>
#include <utility>

#include "app/messages.h"

namespace busdesk::ui {

namespace {

const QString kCaption = QStringLiteral("Отчёт…");
const QString kTip = QStringLiteral(
    "Отчёт о работе по журналу: устройства, изменения, линия и графики в одном "
    "HTML-файле; откроется в браузере");

// How long the line "Отчёт записан: …" stays before the counters come back.
constexpr int kMessageMs = 15000;

}  // namespace

ReportAction::ReportAction(QString journal, QStatusBar* bar, QWidget* window)
    : QObject(window), journal_(std::move(journal)), bar_(bar), window_(window) {
    button_ = new QToolButton(bar);
    button_->setObjectName(QStringLiteral("ReportButton"));
    // AT-SPI does not publish objectName; the description carries it, as for the trend's button.
    button_->setAccessibleDescription(button_->objectName());
    button_->setAccessibleName(QStringLiteral("Отчёт"));
    button_->setText(kCaption);
    button_->setToolTip(kTip);
    button_->setAutoRaise(true);
    button_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->addPermanentWidget(button_);
    connect(button_, &QToolButton::clicked, this, &ReportAction::Start);

    writer_ = [](const report::Request& r) { return report::WriteReport(r); };
    opener_ = [](const QString& path) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
    ask_ = [this](const QString& proposed) {
        return QFileDialog::getSaveFileName(window_, QStringLiteral("Сохранить отчёт"), proposed,
                                            QStringLiteral("HTML (*.html *.htm)"));
    };
}

ReportAction::~ReportAction() {
    // The worker posts its outcome to this object; once joined, nothing of it
    // is left to arrive, and what is queued goes with the object.
    if (worker_.joinable()) worker_.join();
}

QString ReportAction::ProposedPath(const QString& journal) {
    const QFileInfo info(journal);
    return info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral("-отчёт.html"));
}

QMessageBox* ReportAction::FailureBox() const {
    return failure_;
}

void ReportAction::Start() {
    if (busy_) return;
    // The last report's worker has posted its outcome and is ending, if not gone.
    if (worker_.joinable()) worker_.join();
    const QString path = ask_(ProposedPath(journal_));
    if (path.isEmpty() || busy_) return;
    report::Request request;
    request.journals = {journal_.toStdString()};
    request.output = path.toStdString();
    SetBusy(true);
    // The journal's writer puts each tick's events out as they come, without
    // being asked; what the last moments brought may still be on its way and
    // be left out (a line torn at the end is counted as skipped).
    worker_ = std::thread([this, writer = writer_, request = std::move(request), path] {
        const report::Outcome outcome = writer(request);
        QMetaObject::invokeMethod(
            this, [this, outcome, path] { Finish(outcome, path); }, Qt::QueuedConnection);
    });
}

void ReportAction::Finish(const report::Outcome& outcome, const QString& path) {
    if (worker_.joinable()) worker_.join();
    SetBusy(false);
    // Closed meanwhile: no browser and no box for a window the user has left.
    if (!window_->isVisible()) return;
    if (!outcome.ok) {
        const QString why = outcome.error.empty() ? QStringLiteral("причина неизвестна")
                                                  : QString::fromStdString(outcome.error);
        auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(msg::kAppTitle),
                                    QStringLiteral("Отчёт не записан: %1").arg(why),
                                    QMessageBox::Ok, window_);
        box->setAttribute(Qt::WA_DeleteOnClose);
        failure_ = box;
        // No nested event loop: the window goes on ticking while the box is up.
        box->open();
        emit finished(false, path);
        return;
    }
    QString text = QStringLiteral("Отчёт записан: %1").arg(QDir::toNativeSeparators(path));
    if (outcome.skipped > 0)
        text += QStringLiteral("; пропущено строк журнала: %1").arg(outcome.skipped);
    if (!opener_(path)) text += QStringLiteral("; открыть его в браузере не удалось");
    bar_->showMessage(text, kMessageMs);
    emit finished(true, path);
}

void ReportAction::SetBusy(bool busy) {
    busy_ = busy;
    button_->setEnabled(!busy);
    button_->setText(busy ? QStringLiteral("Отчёт пишется…") : kCaption);
    button_->setToolTip(busy ? QStringLiteral("Отчёт пишется…") : kTip);
}

}  // namespace busdesk::ui
