// The trend window against the simulated bus, as `busdesk --demo` runs it:
// it grows as the ticks run, follows the selected device, freezes on pause
// while the data goes on, marks a calibration, and exports what it shows.
#include "ui/trend_window.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <cstdlib>

#include "engine/port_setup.h"
#include "link/port_names.h"
#include "sim/sim_bus.h"
#include "ui/status_bar.h"
#include "ui/translations.h"
#include "window_fixture.h"

using namespace busdesk;
using namespace busdesk::testing;

namespace {

std::size_t Readings(const engine::TrendStore& store, std::uint8_t address) {
    const engine::DeviceTrend* d = store.Device(address);
    if (d == nullptr) return 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < d->samples.Size(); ++i) n += d->samples[i].missed ? 0u : 1u;
    return n;
}

}  // namespace

class TrendWindowTest : public QObject {
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
        ui::MainWindow& w = *window_;
        QTest::mouseClick(Widget(w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(Widget(w, "BTNCloseCom")->isEnabled());
        QTest::mouseClick(Widget(w, "Opros"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Widget<QComboBox>(w, "CmbNet")->count() == 3, 10000);
    }

    void cleanup() {
        window_.reset();
        if (bus_) bus_->Stop();
        bus_.reset();
    }

    // The status bar's button opens it; the trend of device 1 grows tick by tick.
    void growsAsTicksRun() {
        ui::MainWindow& w = *window_;
        auto* button = w.StatusBar()->findChild<QToolButton*>(QStringLiteral("TrendButton"));
        QVERIFY(button != nullptr);
        QCOMPARE(button->accessibleName(), QStringLiteral("График"));
        QVERIFY(w.Trend() == nullptr);
        button->click();
        ui::TrendWindow* t = w.Trend();
        QVERIFY(t != nullptr);
        QVERIFY(t->isVisible());
        QCOMPARE(t->windowTitle(), QStringLiteral("График — BusDesk"));
        QCOMPARE(t->Device(), std::optional<std::uint8_t>(1));
        QTRY_VERIFY_WITH_TIMEOUT(t->Chart().readings >= 2, 10000);
        const std::size_t before = t->Chart().readings;
        QTRY_VERIFY_WITH_TIMEOUT(t->Chart().readings >= before + 2, 10000);
        for (const engine::SeriesChart& s : t->Chart().series) QVERIFY(!s.lines.empty());
        QVERIFY(t->LatestText().startsWith(QStringLiteral("Уровень ")));
        // The chart says the same for assistive technology.
        QCOMPARE(t->ChartView()->accessibleDescription(), t->LatestText());
    }

    void followsTheSelectedDeviceAndKeepsItsPlace() {
        ui::MainWindow& w = *window_;
        w.OpenTrend();
        ui::TrendWindow* t = w.Trend();
        t->setGeometry(40, 50, 700, 500);
        const QRect place = t->geometry();
        t->close();
        QVERIFY(!t->isVisible());
        auto* net = Widget<QComboBox>(w, "CmbNet");
        emit net->activated(1);
        QTRY_COMPARE_WITH_TIMEOUT(t->Device(), std::optional<std::uint8_t>(5), 10000);
        w.OpenTrend();
        QCOMPARE(w.Trend(), t);
        QCOMPARE(t->geometry(), place);
        QTRY_VERIFY_WITH_TIMEOUT(t->Chart().readings >= 1, 10000);
        // Device 5's own readings, not device 1's.
        QVERIFY(Readings(w.TrendData(), 5) >= t->Chart().readings);
    }

    void pauseFreezesTheViewWhileDataGoesOn() {
        ui::MainWindow& w = *window_;
        w.OpenTrend();
        ui::TrendWindow* t = w.Trend();
        QTRY_VERIFY_WITH_TIMEOUT(t->Chart().readings >= 2, 10000);
        t->findChild<QPushButton*>(QStringLiteral("TrendPause"))->click();
        QVERIFY(t->Paused());
        // The paint the pause itself asked for.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        const engine::Chart frozen = t->Chart();
        const int paints = t->ChartView()->Paints();
        const std::size_t stored = Readings(w.TrendData(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(Readings(w.TrendData(), 1) >= stored + 3, 10000);
        QCoreApplication::processEvents();
        QCOMPARE(t->Chart().to, frozen.to);
        QCOMPARE(t->Chart().readings, frozen.readings);
        QCOMPARE(t->ChartView()->Paints(), paints);

        // The cursor reads the values under it.
        const engine::Rect& plot = t->Chart().plot;
        QTest::mouseMove(t->ChartView(), QPoint(plot.x + plot.w - 2, plot.y + 10));
        QTRY_VERIFY(t->Chart().cursor.has_value());
        auto* readout = t->findChild<QLabel*>(QStringLiteral("TrendReadout"));
        QCOMPARE(readout->text(), QString::fromStdString(t->Chart().cursor->text));
        QVERIFY(readout->text().contains(QStringLiteral("Уровень")));

        t->SetPaused(false);
        QTRY_VERIFY_WITH_TIMEOUT(t->Chart().readings > frozen.readings, 10000);
    }

    void calibrationLeavesAConfirmedMark() {
        ui::MainWindow& w = *window_;
        w.OpenTrend();
        ui::TrendWindow* t = w.Trend();
        QTRY_VERIFY_WITH_TIMEOUT(Widget(w, "hig")->isEnabled(), 10000);
        // Not before the new device's serial number request has gone: that replaces a command.
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "sn") != QStringLiteral("0"), 10000);
        QTest::mouseClick(Widget(w, "hig"), Qt::LeftButton);
        QTRY_VERIFY(OpenMessageBox(w) != nullptr);
        OpenMessageBox(w)->button(QMessageBox::Yes)->click();
        QTRY_VERIFY_WITH_TIMEOUT(!t->Chart().marks.empty(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(t->Chart().marks.back().state,
                                  engine::TrendMark::State::Confirmed, 10000);
        QVERIFY(t->Chart().marks.back().label.find("верхнего уровня") != std::string::npos);
    }

    // Half a minute of the demo bus: about one reading a second, in order.
    void exportsWhatItShows() {
        ui::MainWindow& w = *window_;
        w.OpenTrend();
        ui::TrendWindow* t = w.Trend();
        t->SetWindowMinutes(1);
        QTRY_VERIFY_WITH_TIMEOUT(Readings(w.TrendData(), 1) >= 1, 10000);
        const engine::TimeMs first = w.TrendData().Device(1)->samples[0].time;
        QTRY_VERIFY_WITH_TIMEOUT(w.TrendData().Device(1)->Latest()->time - first >= 30000, 45000);
        QTRY_VERIFY(t->Chart().to - first >= 30000);

        QTemporaryDir dir;
        const QString csvPath = dir.filePath(QStringLiteral("trend.csv"));
        QVERIFY(t->ExportCsv(csvPath));
        QFile f(csvPath);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QStringLiteral("time,address,level,temperature,current"));
        const qsizetype readings = lines.size() - 1;
        QVERIFY2(readings >= 27 && readings <= 34, qPrintable(QString::number(readings)));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QStringList cells = lines[i].split(QLatin1Char(','));
            QCOMPARE(cells.size(), 5);
            QCOMPARE(cells[1], QStringLiteral("1"));
            if (i > 1) QVERIFY2(lines[i - 1] < lines[i], qPrintable(lines[i]));
        }

        const QString pngPath = dir.filePath(QStringLiteral("trend.png"));
        QVERIFY(t->ExportPng(pngPath));
        const QImage image(pngPath);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), t->ChartView()->size() * t->ChartView()->devicePixelRatio());
        QVERIFY(!t->ExportCsv(dir.filePath(QStringLiteral("no/such/dir/x.csv"))));
    }

    // Every series and its labels stand out from the ground, light or dark.
    void readableOnLightAndDarkGrounds() {
        engine::DeviceTrend d(1000);
        for (int i = 0; i < 60; ++i) {
            engine::TrendSample s;
            s.time = 1'700'000'000'000 + i * 1000;
            s.level = static_cast<std::uint16_t>(100 + i * 10);
            s.temperature = static_cast<std::int8_t>(i % 20 - 10);
            s.current = static_cast<std::uint32_t>(1000 + (i % 7) * 300);
            d.samples.Push(s);
        }
        engine::ChartView view;
        view.end = 1'700'000'000'000 + 60'000;
        view.windowMinutes = 1;
        const engine::Chart chart = engine::BuildChart(&d, view);
        struct Ground {
            const char* name;
            QColor base, text;
        };
        const Ground grounds[] = {{"light", QColor(255, 255, 255), QColor(0, 0, 0)},
                                  {"dark", QColor(30, 30, 30), QColor(230, 230, 230)}};
        for (const Ground& g : grounds) {
            QPalette palette;
            palette.setColor(QPalette::Base, g.base);
            palette.setColor(QPalette::Text, g.text);
            QImage image(view.width, view.height, QImage::Format_ARGB32_Premultiplied);
            {
                QPainter p(&image);
                ui::ChartWidget::Paint(p, chart, palette);
            }
            for (const engine::SeriesChart& s : chart.series) {
                // Pixels inside the band far from the ground: the line itself.
                int strong = 0;
                for (int y = s.band.y + 2; y < s.band.y + s.band.h - 2; ++y) {
                    for (int x = s.band.x + 2; x < s.band.x + s.band.w - 2; ++x) {
                        const QColor c = image.pixelColor(x, y);
                        if (std::abs(c.lightness() - g.base.lightness()) > 60) ++strong;
                    }
                }
                QVERIFY2(strong > s.band.w / 2, g.name);
                // The tick labels left of the band.
                int ink = 0;
                for (int y = s.band.y; y < s.band.y + s.band.h; ++y) {
                    for (int x = 0; x < s.band.x - 4; ++x) {
                        if (std::abs(image.pixelColor(x, y).lightness() - g.base.lightness()) > 100)
                            ++ink;
                    }
                }
                QVERIFY2(ink > 20, g.name);
            }
        }
    }

  private:
    std::unique_ptr<sim::SimulatedBus> bus_;
    std::unique_ptr<ui::MainWindow> window_;
};

QTEST_MAIN(TrendWindowTest)
#include "trend_window_test.moc"
