// "Отчёт…" in the status bar: there only with a journal, writes the report of
// the session off the GUI thread while the window goes on ticking, opens it,
// and says why when it could not be written.
#include "ui/report_action.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QThread>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "engine/port_setup.h"
#include "link/port_names.h"
#include "ui/status_bar.h"
#include "ui/translations.h"
#include "window_fixture.h"

using namespace busdesk;
using namespace busdesk::testing;
using namespace std::chrono_literals;

namespace {

// What the action asked and opened, and on which thread the report was written.
struct Seen {
    std::atomic<int> asked{0};
    std::atomic<int> written{0};
    std::atomic<bool> offGuiThread{false};
    QStringList opened;
};

// A writer that holds the report until the test lets it go, then writes it
// for real; gives up after a while so a writer run on the GUI thread fails
// the test instead of hanging it.
struct Gate {
    std::promise<void> open;
    std::shared_future<void> opened{open.get_future().share()};
    ui::ReportAction::Writer Writer(Seen& seen) {
        return [this, &seen, gui = QThread::currentThread()](const report::Request& r) {
            seen.offGuiThread = QThread::currentThread() != gui;
            ++seen.written;
            opened.wait_for(30s);
            return report::WriteReport(r);
        };
    }
};

// A session on the demo bus, journalled: the window with its journal.
struct Session {
    engine::PortSetup setup{PortMap{}};
    std::unique_ptr<ui::MainWindow> window;
    QString journal;

    bool Start(const QString& dir) {
        journal = dir + QStringLiteral("/день.jsonl");
        if (!setup.StartDemo() || !setup.OpenJournal(journal.toStdString())) return false;
        window = std::make_unique<ui::MainWindow>(setup.Factory(), setup.EngineOptions());
        QSignalSpy first(window.get(), &ui::MainWindow::applied);
        window->show();
        return first.wait(10000);
    }
    ui::ReportAction* Report() const { return window->Report(); }
    void Script(Seen& seen, const QString& answer) {
        Report()->SetAskPath([&seen, answer](const QString&) {
            ++seen.asked;
            return answer;
        });
        Report()->SetOpener([&seen](const QString& path) {
            seen.opened << path;
            return true;
        });
    }
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class ReportActionTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(ui::InstallRussian(*qApp)); }

    void theReportIsProposedBesideTheJournal_data() {
        QTest::addColumn<QString>("journal");
        QTest::addColumn<QString>("proposed");
        QTest::newRow("plain") << "/var/log/bus/day.jsonl"
                               << "/var/log/bus/day-отчёт.html";
        // Only the last suffix goes: a dated journal keeps its date.
        QTest::newRow("dotted") << "/data/site.2026-12-09.jsonl"
                                << "/data/site.2026-12-09-отчёт.html";
        QTest::newRow("no suffix") << "/data/journal"
                                   << "/data/journal-отчёт.html";
        QTest::newRow("cyrillic") << "/данные/объект 12.jsonl"
                                  << "/данные/объект 12-отчёт.html";
        QTest::newRow("relative") << "j.jsonl" << QDir::current().filePath("j-отчёт.html");
    }
    void theReportIsProposedBesideTheJournal() {
        QFETCH(QString, journal);
        QFETCH(QString, proposed);
        QCOMPARE(ui::ReportAction::ProposedPath(journal), proposed);
    }

    void theButtonIsThereOnlyWhenAJournalIsKept() {
        {
            auto plain = ShowWindow(LoggedPorts(std::make_shared<PortLog>()));
            QVERIFY(plain);
            QVERIFY(plain->Report() == nullptr);
            QVERIFY(plain->findChild<QToolButton*>(QStringLiteral("ReportButton")) == nullptr);
        }
        QTemporaryDir dir;
        Session s;
        QVERIFY(s.Start(dir.path()));
        auto* button = s.window->findChild<QToolButton*>(QStringLiteral("ReportButton"));
        QVERIFY(button != nullptr);
        QCOMPARE(button, s.Report()->Button());
        QVERIFY(button->isVisible() && button->isEnabled());
        QCOMPARE(button->text(), QStringLiteral("Отчёт…"));
        QCOMPARE(button->accessibleName(), QStringLiteral("Отчёт"));
        QCOMPARE(button->accessibleDescription(), QStringLiteral("ReportButton"));
        // In the bar, left of the trend's button, its caption whole.
        auto* trend = s.window->findChild<QToolButton*>(QStringLiteral("TrendButton"));
        QVERIFY(trend != nullptr);
        QCOMPARE(button->parentWidget(), static_cast<QWidget*>(s.window->StatusBar()));
        QVERIFY(button->geometry().right() < trend->geometry().left());
        QVERIFY(button->width() >= button->sizeHint().width());
        QVERIFY(s.window->StatusBar()->rect().contains(button->geometry()));
    }

    // The demo session surveyed, two readers asked for their serial numbers;
    // the report is held back until the window was seen ticking on.
    void theReportOfTheSessionIsWrittenAsideAndOpened() {
        QTemporaryDir dir;
        Session s;
        QVERIFY(s.Start(dir.path()));
        ui::MainWindow& w = *s.window;
        Widget<QAbstractButton>(w, "BTNOpenCom")->click();
        QTRY_VERIFY(Widget(w, "BTNCloseCom")->isEnabled());
        Widget<QAbstractButton>(w, "Opros")->click();
        auto* net = Widget<QComboBox>(w, "CmbNet");
        QTRY_VERIFY_WITH_TIMEOUT(net->count() == 3, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "sn") != QString("0"), 10000);
        const QString first = Text(w, "sn");
        net->setCurrentIndex(1);
        emit net->activated(1);
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "sn") != first && Text(w, "sn") != QString("0"), 10000);
        const QString second = Text(w, "sn");

        Seen seen;
        Gate gate;
        const QString out = dir.filePath(QStringLiteral("отчёт смены.html"));
        s.Script(seen, out);
        s.Report()->SetWriter(gate.Writer(seen));
        QSignalSpy applied(&w, &ui::MainWindow::applied);
        QSignalSpy finished(s.Report(), &ui::ReportAction::finished);

        s.Report()->Button()->click();
        QTRY_COMPARE(seen.written.load(), 1);
        QVERIFY(s.Report()->Busy());
        QVERIFY(!s.Report()->Button()->isEnabled());
        QVERIFY(seen.offGuiThread);
        // The engine's snapshots keep coming and being applied meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(applied.size() >= 3, 10000);
        // A second press while it works neither asks nor writes again.
        s.Report()->Start();
        QCOMPARE(seen.asked.load(), 1);
        QVERIFY(finished.isEmpty());

        gate.open.set_value();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(seen.written.load(), 1);
        QCOMPARE(seen.opened, QStringList{out});
        QVERIFY(!s.Report()->Busy());
        QVERIFY(s.Report()->Button()->isEnabled());
        QCOMPARE(s.Report()->Button()->text(), QStringLiteral("Отчёт…"));
        QVERIFY(
            s.window->StatusBar()->currentMessage().startsWith(QStringLiteral("Отчёт записан: ")));
        const QByteArray html = ReadAll(out);
        QVERIFY2(html.contains(first.toUtf8()), qPrintable(first));
        QVERIFY2(html.contains(second.toUtf8()), qPrintable(second));
    }

    void aFolderThatIsNotThereIsSaidInABox() {
        QTemporaryDir dir;
        Session s;
        QVERIFY(s.Start(dir.path()));
        Seen seen;
        const QString out = dir.filePath(QStringLiteral("нет такой папки/r.html"));
        s.Script(seen, out);
        QSignalSpy finished(s.Report(), &ui::ReportAction::finished);
        s.Report()->Button()->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QMessageBox* box = s.Report()->FailureBox();
        QVERIFY(box != nullptr);
        QVERIFY(box->isVisible());
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QVERIFY2(box->text().startsWith(QStringLiteral("Отчёт не записан: ")) &&
                     box->text().size() > QStringLiteral("Отчёт не записан: ").size(),
                 qPrintable(box->text()));
        QVERIFY(seen.opened.isEmpty());
        QVERIFY(!QFile::exists(out));
        QVERIFY(s.Report()->Button()->isEnabled());
        // The box holds no nested loop: the window is not frozen behind it.
        QSignalSpy applied(s.window.get(), &ui::MainWindow::applied);
        Widget<QAbstractButton>(*s.window, "BTNOpenCom")->click();
        QTRY_VERIFY(!applied.isEmpty());
        box->button(QMessageBox::Ok)->click();
        QTRY_VERIFY(s.Report()->FailureBox() == nullptr);
    }

    // Closed and destroyed while the report is still being written: the
    // report is finished, nothing is opened, nothing crashes.
    void closingWhileItWritesWaitsForItAndOpensNothing() {
        QTemporaryDir dir;
        Seen seen;
        Gate gate;
        const QString out = dir.filePath(QStringLiteral("r.html"));
        {
            Session s;
            QVERIFY(s.Start(dir.path()));
            s.Script(seen, out);
            s.Report()->SetWriter(gate.Writer(seen));
            s.Report()->Button()->click();
            QTRY_COMPARE(seen.written.load(), 1);
            s.window->close();
            std::thread late([&gate] {
                std::this_thread::sleep_for(200ms);
                gate.open.set_value();
            });
            s.window.reset();
            late.join();
        }
        QVERIFY(seen.opened.isEmpty());
        QVERIFY(QFile::exists(out));
    }
};

QTEST_MAIN(ReportActionTest)
#include "report_action_test.moc"
