#include "ui/command_line.h"

#include <QTest>

using busdesk::ui::Options;
using busdesk::ui::ParseCommandLine;

class CommandLineTest : public QObject {
    Q_OBJECT

  private slots:
    void parses_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("demo");
        QTest::addColumn<QString>("com1");  // where COM1: opens
        QTest::addColumn<QString>("com2");

        QTest::newRow("nothing") << QStringList{} << true << false << "/dev/ttyS0"
                                 << "/dev/ttyS1";
        QTest::newRow("demo") << QStringList{"--demo"} << true << true << "/dev/ttyS0"
                              << "/dev/ttyS1";
        QTest::newRow("port, two words")
            << QStringList{"--port", "COM1:=/dev/ttyUSB0"} << true << false << "/dev/ttyUSB0"
            << "/dev/ttyS1";
        QTest::newRow("port=, repeated")
            << QStringList{"--port=COM1:=/dev/a", "--port", "COM2:=/dev/b"} << true << false
            << "/dev/a"
            << "/dev/b";
        QTest::newRow("later mapping wins")
            << QStringList{"--port", "COM1:=/dev/a", "--port", "COM1:=/dev/b"} << true << false
            << "/dev/b"
            << "/dev/ttyS1";
        QTest::newRow("port without value") << QStringList{"--port"} << false << false << ""
                                            << "";
        QTest::newRow("port without path") << QStringList{"--port", "COM1:"} << false << false << ""
                                           << "";
        QTest::newRow("not a port name")
            << QStringList{"--port", "LPT1:=/dev/lp0"} << false << false << ""
            << "";
        QTest::newRow("unknown option") << QStringList{"--config", "x"} << false << false << ""
                                        << "";
        QTest::newRow("stray word") << QStringList{"COM1:"} << false << false << ""
                                    << "";
    }

    void parses() {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        std::vector<std::string> v;
        for (const QString& a : args) v.push_back(a.toStdString());
        const Options o = ParseCommandLine(v);
        QCOMPARE(o.error.empty(), ok);
        if (!ok) return;
        QFETCH(bool, demo);
        QFETCH(QString, com1);
        QFETCH(QString, com2);
        QCOMPARE(o.demo, demo);
        QCOMPARE(QString::fromStdString(o.ports.Resolve("COM1:").value_or("")), com1);
        QCOMPARE(QString::fromStdString(o.ports.Resolve("COM2:").value_or("")), com2);
    }

    void helpAndVersionNeedNoDisplay() {
        QVERIFY(busdesk::ui::WantsTextOnly({"--help"}));
        QVERIFY(busdesk::ui::WantsTextOnly({"--demo", "--version"}));
        QVERIFY(!busdesk::ui::WantsTextOnly({"--demo"}));
        const Options o = ParseCommandLine({"--version"});
        QVERIFY(o.version && o.error.empty());
        QVERIFY(QString::fromStdString(busdesk::ui::VersionText()).contains(BUSDESK_VERSION));
    }
};

QTEST_APPLESS_MAIN(CommandLineTest)
#include "command_line_test.moc"
