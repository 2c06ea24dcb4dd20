// The window against the simulated bus over a real pseudo-terminal, as
// `busdesk --demo` runs it.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "engine/port_setup.h"
#include "link/port_names.h"
#include "sim/sim_bus.h"
#include "ui/translations.h"
#include "window_fixture.h"

using namespace busdesk;
using namespace busdesk::testing;

class DemoBusTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(ui::InstallRussian(*qApp)); }

    void init() {
        bus_ = std::make_unique<sim::SimulatedBus>();
        const std::string path = bus_->Start();
        QVERIFY2(!path.empty(), bus_->Error().c_str());
        PortMap ports;
        QVERIFY(ports.Map("COM1:", path));
        window_ = ShowWindow(engine::PortSetup(ports).Factory());
        QVERIFY(window_);
        QTest::mouseClick(Widget(*window_, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(Widget(*window_, "BTNCloseCom")->isEnabled());
    }

    void cleanup() {
        window_.reset();  // the engine first: it talks to the bus
        if (bus_) bus_->Stop();
        bus_.reset();
    }

    void theSurveyFindsTheReadersAndShowsTheSelectedOne() {
        ui::MainWindow& w = *window_;
        QTest::mouseClick(Widget(w, "Opros"), Qt::LeftButton);
        auto* net = Widget<QComboBox>(w, "CmbNet");
        QTRY_VERIFY_WITH_TIMEOUT(net->count() == 3, 10000);
        QCOMPARE(net->itemText(0), QString("1"));
        QCOMPARE(net->itemText(1), QString("5"));
        QCOMPARE(net->itemText(2), QString("7"));
        QVERIFY(Text(w, "netdev") != QString("Устройства не определены"));
        // Selecting a device asks for its serial number and software version.
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "sn") != QString("0"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!Text(w, "vv").startsWith("-"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "uroven") != QString("нет данных"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(Widget<ui::Lamp>(w, "Pic")->Fill(), ui::FromBgr(0x0000FF), 10000);

        const QString first = Text(w, "sn");
        // Picking another reader from the list: the engine notices it on its next tick.
        net->showPopup();
        net->setCurrentIndex(1);
        emit net->activated(1);
        net->hidePopup();
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "sn") != first && Text(w, "sn") != QString("0"), 10000);
    }

    void typingAnAddressAsksThatDevice() {
        ui::MainWindow& w = *window_;
        auto* net = Widget<QComboBox>(w, "CmbNet");
        QTRY_VERIFY(net->isEnabled());
        // "7" is no entry yet, so the edit selects nothing and cancels what was pending;
        // the survey then lists it and typing it again selects it.
        QTest::mouseClick(Widget(w, "Opros"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(net->count() == 3, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "sn") != QString("0"), 10000);
        const QString first = Text(w, "sn");
        net->lineEdit()->selectAll();
        QTest::keyClicks(net->lineEdit(), "7");
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "sn") != first, 10000);
        QCOMPARE(net->currentText(), QString("7"));
    }

    void closingThePortResetsTheDevice() {
        ui::MainWindow& w = *window_;
        QTest::mouseClick(Widget(w, "Opros"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "sn") != QString("0"), 10000);
        QTest::mouseClick(Widget(w, "BTNCloseCom"), Qt::LeftButton);
        QTRY_VERIFY(Widget(w, "BTNOpenCom")->isEnabled());
        QCOMPARE(Text(w, "sn"), QString("0"));
        QCOMPARE(Text(w, "CmbNet"), QString("0"));
        QCOMPARE(Widget<QComboBox>(w, "CmbNet")->count(), 1);
        QCOMPARE(Widget<ui::Lamp>(w, "Pic")->Fill(), ui::FromBgr(0x10FFFF));
    }

    void accessKeysAskBeforeCalibrating() {
        ui::MainWindow& w = *window_;
        QTest::mouseClick(Widget(w, "Opros"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Widget<QComboBox>(w, "CmbNet")->count() == 3, 10000);
        PressAccessKey(&w, QChar(u'Й'));
        QTRY_VERIFY(OpenMessageBox(w) != nullptr);
        QVERIFY(OpenMessageBox(w)->text().contains("верхнего"));
        OpenMessageBox(w)->button(QMessageBox::No)->click();
        QTRY_VERIFY(OpenMessageBox(w) == nullptr);
        // The engine goes on polling after the answer.
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "uroven") != QString("нет данных"), 10000);
    }

  private:
    std::unique_ptr<sim::SimulatedBus> bus_;
    std::unique_ptr<ui::MainWindow> window_;
};

QTEST_MAIN(DemoBusTest)
#include "demo_bus_test.moc"
