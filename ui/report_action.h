#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <thread>

#include "report/report.h"

class QMessageBox;
class QStatusBar;
class QToolButton;
class QWidget;

namespace busdesk::ui {

// "Отчёт…" in the status bar, there only when a journal is kept: asks where
// to save, writes the report of the journal so far on a thread of its own
// (a long session takes seconds, and the window must go on ticking), then
// opens it in the system's browser.
class ReportAction : public QObject {
    Q_OBJECT
  public:
    using Writer = std::function<report::Outcome(const report::Request&)>;
    // Opens the written report; false when it could not.
    using Opener = std::function<bool(const QString& path)>;
    // The file to write, `proposed` offered first; empty when the user cancels.
    using AskPath = std::function<QString(const QString& proposed)>;

    // `journal` is the file the session is journalled to. The button goes into
    // `bar`, left of the widgets added after it.
    ReportAction(QString journal, QStatusBar* bar, QWidget* window);
    // Waits for a report being written: a half-written file is worse than a
    // late exit.
    ~ReportAction() override;

    // The file offered in the save dialog: `<journal's stem>-отчёт.html` beside it.
    static QString ProposedPath(const QString& journal);

    QToolButton* Button() const { return button_; }
    bool Busy() const { return busy_; }
    // The box of the last failure while it is up; null otherwise.
    QMessageBox* FailureBox() const;

    void SetWriter(Writer writer) { writer_ = std::move(writer); }
    void SetOpener(Opener opener) { opener_ = std::move(opener); }
    void SetAskPath(AskPath ask) { ask_ = std::move(ask); }

    // The button's press: nothing while a report is being written.
    void Start();

  signals:
    // A report was written (`ok`) or failed; after the browser was asked and
    // the box or message shown.
    void finished(bool ok, const QString& path);

  private:
    void Finish(const report::Outcome& outcome, const QString& path);
    void SetBusy(bool busy);

    QString journal_;
    QStatusBar* bar_;
    QWidget* window_;
    QToolButton* button_ = nullptr;
    Writer writer_;
    Opener opener_;
    AskPath ask_;
    std::thread worker_;
    bool busy_ = false;
    QPointer<QMessageBox> failure_;
};

}  // namespace busdesk::ui
