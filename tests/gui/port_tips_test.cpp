// The port list's tool tips: what each entry opens, as the engine last found it.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QComboBox>
#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include "engine/port_setup.h"
#include "link/open_reason.h"
#include "link/pty_line.h"
#include "ui/status_bar.h"
#include "window_fixture.h"

using namespace busdesk;
using namespace busdesk::testing;

class PortTipsTest : public QObject {
    Q_OBJECT

  private slots:
    void entriesAndTheListSayWhatTheyOpenAndFollowEachOpen() {
        auto generation = std::make_shared<std::atomic<int>>(0);
        engine::Engine::Options options;
        options.describePorts = [generation] {
            const int g = ++*generation;
            std::vector<std::string> lines;
            for (int n = 1; n <= 9; ++n)
                lines.push_back("COM" + std::to_string(n) + ": — " + std::to_string(g));
            return lines;
        };
        auto log = std::make_shared<PortLog>();
        ui::MainWindow w(LoggedPorts(log), options);
        QSignalSpy applied(&w, &ui::MainWindow::applied);
        w.show();
        QVERIFY(applied.wait(10000));
        auto* combo = Widget<QComboBox>(w, "CmbPort");
        QVERIFY(combo != nullptr);
        QCOMPARE(combo->count(), 9);
        QCOMPARE(combo->itemText(0), QStringLiteral("COM1:"));  // the entries stay as they are
        QCOMPARE(combo->itemData(2, Qt::ToolTipRole).toString(), QString::fromUtf8("COM3: — 1"));
        QVERIFY(combo->toolTip().startsWith(QString::fromUtf8("COM1: — 1\nCOM2: — 1\n")));

        // Each open asks again: an adapter may have come or gone.
        QTest::mouseClick(Widget(w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_COMPARE(combo->itemData(8, Qt::ToolTipRole).toString(),
                     QString::fromUtf8("COM9: — 2"));
        QCOMPARE(combo->toolTip().count(QLatin1Char('\n')), 8);
        QCOMPARE(log->opens.load(), 1);
    }

    // The set-up's own describer: a mapped entry names its path, the others
    // what was found or "нет устройства".
    void thePortSetupDescribesEveryEntry() {
        PortMap ports;
        QVERIFY(ports.Map("COM2:", "/nonexistent/busdesk-tty"));
        const engine::PortSetup setup(ports);
        const std::vector<std::string> lines = setup.EngineOptions().describePorts();
        QCOMPARE(lines.size(), std::size_t{9});
        QCOMPARE(QString::fromStdString(lines[1]),
                 QString::fromUtf8("COM2: — /nonexistent/busdesk-tty"));
        for (std::size_t i = 0; i < lines.size(); ++i)
            QVERIFY(lines[i].rfind("COM" + std::to_string(i + 1) + ": — ", 0) == 0);
    }

    // A line another program holds: the window's two boxes, and beside them why,
    // with the holder's PID, in the status bar and in the entry's tool tip.
    void aLineHeldElsewhereSaysWhyInTheBarAndTheTip() {
        PtyLine line;
        QVERIFY(line.Ok());
        const int holder = ::open(line.path.c_str(), O_RDWR | O_NOCTTY);
        QVERIFY(holder >= 0);
        QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);
        PortMap ports;
        QVERIFY(ports.Map("COM1:", line.path));
        const engine::PortSetup setup(ports);
        ui::MainWindow w(setup.Factory(), setup.EngineOptions());
        QSignalSpy applied(&w, &ui::MainWindow::applied);
        w.show();
        QVERIFY(applied.wait(10000));
        QTest::mouseClick(Widget(w, "BTNOpenCom"), Qt::LeftButton);
        for (const char* text :
             {"Com Port COM1: недоступен. Установите нужный порт.", "COM1: Not available!"}) {
            QTRY_VERIFY(OpenMessageBox(w) != nullptr);
            QCOMPARE(OpenMessageBox(w)->text(), QString::fromUtf8(text));
            OpenMessageBox(w)->button(QMessageBox::Ok)->click();
            QTRY_VERIFY(OpenMessageBox(w) == nullptr || OpenMessageBox(w)->text() != text);
        }
        const QString why =
            QString::fromStdString("порт " + line.path + " занят другой программой (PID " +
                                   std::to_string(::getpid()) + "): " + ErrnoText(EWOULDBLOCK));
        QTRY_COMPARE(w.StatusBar()->Line(), "Порт не открыт: " + why);
        QVERIFY(w.StatusBar()->toolTip().contains(why));
        // The list is asked afresh at the next open; what the port said stays.
        QTest::mouseClick(Widget(w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(OpenMessageBox(w) != nullptr);
        auto* combo = Widget<QComboBox>(w, "CmbPort");
        QTRY_VERIFY(combo->itemData(0, Qt::ToolTipRole).toString().contains(why));
        while (OpenMessageBox(w) != nullptr) {
            OpenMessageBox(w)->button(QMessageBox::Ok)->click();
            QTest::qWait(50);
        }
        ::close(holder);
    }
};

QTEST_MAIN(PortTipsTest)
#include "port_tips_test.moc"
