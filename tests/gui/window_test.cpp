// The window on an in-memory port: what it shows, what it forwards, and that
// it shuts the engine down cleanly.
#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleFactory>

#include "engine/geometry.h"
#include "engine/line_counters.h"
#include "ui/status_bar.h"
#include "ui/translations.h"
#include "window_fixture.h"

using namespace busdesk;
using namespace busdesk::testing;

namespace {

// An in-memory port that says why it did not open, as the system ports do.
class ReasonedPort : public MemoryPort {
  public:
    explicit ReasonedPort(std::string why) : why_(std::move(why)) {}
    std::string OpenError() const override { return openSucceeds ? std::string() : why_; }

  private:
    std::string why_;
};

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(ui::InstallRussian(*qApp)); }

    void startsClosedWithOnlyThePortControlsReacting() {
        auto log = std::make_shared<PortLog>();
        auto w = ShowWindow(LoggedPorts(log));
        QVERIFY(w);
        const QRect client = w->rect();
        QStringList reacting;
        for (QWidget* c : w->findChildren<QWidget*>()) {
            const QString name = c->accessibleDescription();
            if (name.isEmpty() || !c->isVisibleTo(w.get())) continue;
            const bool input = qobject_cast<QAbstractButton*>(c) || qobject_cast<QComboBox*>(c) ||
                               qobject_cast<QLineEdit*>(c);
            const QRect r(c->mapTo(w.get(), QPoint(0, 0)), c->size());
            if (input && client.contains(r) && c->isEnabled()) reacting << name;
        }
        reacting.sort();
        // The trend opens whether the port is open or not.
        QCOMPARE(reacting, (QStringList{"BTNOpenCom", "CmbPort", "TrendButton"}));
        QCOMPARE(Widget<ui::Lamp>(*w, "Pic")->Fill(), QColor(255, 255, 0));
        QVERIFY(!Widget(*w, "iinv")->isVisibleTo(w.get()));
        QVERIFY(!Widget(*w, "usredn")->isVisibleTo(w.get()));
        QVERIFY(!Widget(*w, "usred")->isVisibleTo(w.get()));
        QCOMPARE(Text(*w, "CmbNet"), QString("0"));
        QCOMPARE(Text(*w, "CmbPort"), QString("COM1:"));
        QCOMPARE(Widget<QComboBox>(*w, "CmbPort")->count(), 9);
        QCOMPARE(Widget<QProgressBar>(*w, "ProgressBar1")->maximum(), 1024);
        QCOMPARE(w->windowTitle(), QString("BusDesk"));
        QVERIFY(!w->windowIcon().isNull());
        QCOMPARE(log->opens.load(), 0);
    }

    // Captions cut off or lying over each other are what a fixed layout gets wrong.
    void captionsAreWholeAndNothingOverlaps() {
        auto w = ShowWindow(LoggedPorts(std::make_shared<PortLog>()));
        QVERIFY(w);
        w->resize(1000, 800);  // the service controls too
        const QStringList clippedOnPurpose{"low", "hig"};
        QStringList cut;
        for (QWidget* c : w->findChildren<QWidget*>()) {
            const QString name = c->accessibleDescription();
            if (name.isEmpty() || clippedOnPurpose.contains(name)) continue;
            QString text;
            int room = 0;
            if (auto* l = qobject_cast<QLabel*>(c)) {
                // A label may wrap, as long as every line shows.
                const int high = l->heightForWidth(l->contentsRect().width());
                if (!l->text().isEmpty() && high > l->contentsRect().height())
                    cut << QString("%1 (%2 > %3 px high)").arg(name).arg(high).arg(l->height());
                continue;
            }
            if (auto* b = qobject_cast<QPushButton*>(c)) {
                text = b->text().remove('&');
                room = b->width() - 8;
            } else if (auto* g = qobject_cast<QGroupBox*>(c)) {
                text = g->title();
                room = g->width();
            }
            if (text.isEmpty()) continue;
            const int need = c->fontMetrics().horizontalAdvance(text);
            if (need > room) cut << QString("%1 (%2 > %3 px)").arg(name).arg(need).arg(room);
        }
        QVERIFY2(cut.isEmpty(), qPrintable("cut off: " + cut.join(", ")));

        QStringList overlaps;
        const auto siblings = [](QWidget* parent) {
            QList<QWidget*> out;
            for (QObject* o : parent->children()) {
                auto* c = qobject_cast<QWidget*>(o);
                if (c && !c->accessibleDescription().isEmpty() && !c->isWindow()) out << c;
            }
            return out;
        };
        QList<QWidget*> parents{w->ClientArea()};
        for (auto* g : w->findChildren<QGroupBox*>()) parents << g;
        for (QWidget* p : parents) {
            const auto kids = siblings(p);
            for (qsizetype i = 0; i < kids.size(); ++i) {
                for (qsizetype j = i + 1; j < kids.size(); ++j) {
                    if (kids[i]->geometry().intersects(kids[j]->geometry()))
                        overlaps << kids[i]->objectName() + "/" + kids[j]->objectName();
                }
            }
        }
        QVERIFY2(overlaps.isEmpty(), qPrintable("overlapping: " + overlaps.join(", ")));
    }

    void openingEnablesTheGroupAndStartsTheTimer() {
        auto log = std::make_shared<PortLog>();
        auto w = ShowWindow(LoggedPorts(log));
        QVERIFY(w);
        QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(Widget(*w, "BTNCloseCom")->isEnabled());
        for (const char* name : {"Opros", "Find_metki", "CmbNet", "net", "Set_mode", "R_a",
                                 "ID_Metki", "ReadParamMetki", "Frame5", "sn"}) {
            QVERIFY2(Widget(*w, name)->isEnabled(), name);
        }
        QVERIFY(!Widget(*w, "BTNOpenCom")->isEnabled());
        QVERIFY(!Widget(*w, "R_p485")->isEnabled());  // never enabled
        QVERIFY(!Widget(*w, "txtRec")->isEnabled());  // Frame1 stays disabled
        QCOMPARE(log->opens.load(), 1);
        // Ticks run on the engine thread: the port is read.
        QTRY_VERIFY_WITH_TIMEOUT(log->reads.load() >= 2, 5000);
    }

    void closingThePortResetsTheDisplays() {
        auto log = std::make_shared<PortLog>();
        auto w = ShowWindow(LoggedPorts(log));
        QVERIFY(w);
        QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(Widget(*w, "BTNCloseCom")->isEnabled());
        QTest::mouseClick(Widget(*w, "BTNCloseCom"), Qt::LeftButton);
        QTRY_VERIFY(Widget(*w, "BTNOpenCom")->isEnabled());
        QCOMPARE(log->closes.load(), 1);
        QVERIFY(!Widget(*w, "Opros")->isEnabled());
        QCOMPARE(Widget<ui::Lamp>(*w, "Pic")->Fill(), ui::FromBgr(0x10FFFF));
        QCOMPARE(Text(*w, "vv"), QString("--------"));
        QCOMPARE(Text(*w, "sn"), QString("0"));
        for (const char* name : {"uroven", "temp", "tek", "lo", "hi", "ne"})
            QCOMPARE(Text(*w, name), QString("Нет данных"));
        QCOMPARE(Text(*w, "netdev"), QString("Устройства не определены"));
        const int reads = log->reads.load();
        QTest::qWait(1200);  // the timer stopped with the port
        QCOMPARE(log->reads.load(), reads);
    }

    // The engine waits inside its handler while the box is up, then goes on.
    void aMessageBoxIsAnsweredAndTheEngineGoesOn() {
        auto log = std::make_shared<PortLog>();
        auto w = ShowWindow(LoggedPorts(log, false));
        QVERIFY(w);
        for (int round = 0; round < 2; ++round) {
            QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
            QTRY_VERIFY(OpenMessageBox(*w) != nullptr);
            QMessageBox* box = OpenMessageBox(*w);
            QCOMPARE(box->text(), QString("COM1: Not available!"));
            QCOMPARE(box->windowTitle(), QString("BusDesk"));
            QCOMPARE(box->icon(), QMessageBox::NoIcon);
            QVERIFY(box->isModal());
            box->button(QMessageBox::Ok)->click();
            QTRY_VERIFY(OpenMessageBox(*w) == nullptr);
        }
        QVERIFY(Widget(*w, "BTNOpenCom")->isEnabled());
        QVERIFY(!Widget(*w, "BTNCloseCom")->isEnabled());
    }

    void accessKeysReachTheClippedCalibrationButtons() {
        auto w = ShowWindow(LoggedPorts(std::make_shared<PortLog>()));
        QVERIFY(w);
        QWidget* low = Widget(*w, "low");
        QVERIFY(low->visibleRegion().isEmpty());  // clipped by Frame3
        PressAccessKey(w.get(), QChar(u'А'));
        QTest::qWait(300);
        QVERIFY(OpenMessageBox(*w) == nullptr);  // disabled while the port is closed

        QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(low->isEnabled());
        for (QChar key : {QChar(u'А'), QChar(u'й')}) {
            PressAccessKey(w.get(), key);
            QTRY_VERIFY2(OpenMessageBox(*w) != nullptr, qPrintable(QString(key)));
            QMessageBox* box = OpenMessageBox(*w);
            QVERIFY(box->text().contains(key == QChar(u'А') ? "нижнего" : "верхнего"));
            QCOMPARE(box->button(QMessageBox::Yes)->text(), QString("&Да"));
            QCOMPARE(box->button(QMessageBox::No)->text(), QString("&Нет"));
            box->button(QMessageBox::No)->click();
            QTRY_VERIFY(OpenMessageBox(*w) == nullptr);
        }
    }

    // Screen readers, on-screen keyboards and test tools change a field through
    // the accessibility interface; what the field then shows is what is sent.
    void textPutInThroughAccessibilityIsWhatIsSent() {
        auto log = std::make_shared<PortLog>();
        auto w = ShowWindow(LoggedPorts(log));
        QVERIFY(w);
        QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(Widget(*w, "SetModesMetki")->isEnabled());
        const std::pair<const char*, QString> fields[] = {
            {"ID_Metki", "1A2B3C4D"}, {"IntervalMetki", "10"}, {"PowerMetki", "100"}};
        for (const auto& [name, text] : fields) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(Widget(*w, name));
            QVERIFY(a != nullptr && a->editableTextInterface() != nullptr);
            a->editableTextInterface()->replaceText(0, a->textInterface()->characterCount(), text);
            QCOMPARE(Widget<QLineEdit>(*w, name)->text(), text);
        }
        QTest::mouseClick(Widget(*w, "SetModesMetki"), Qt::LeftButton);
        auto sent = [&] {
            for (const Bytes& b : log->Writes())
                if (b.size() == 19 && b[2] == 0xE1) return b;
            return Bytes{};
        };
        QTRY_VERIFY_WITH_TIMEOUT(!sent().empty(), 5000);
        const Bytes frame = sent();
        QCOMPARE(Bytes(frame.begin() + 8, frame.begin() + 12), (Bytes{0x1A, 0x2B, 0x3C, 0x4D}));
        QCOMPARE(Bytes(frame.begin() + 12, frame.begin() + 14), (Bytes{0x00, 0x0A}));
        QCOMPARE(frame[15], std::uint8_t{100});
    }

    // Picking a CmbNet entry changes its edit field too, but is no edit: it
    // must not raise the Change handler (which would drop a pending frame).
    void pickingADeviceIsNotTyping() {
        auto log = std::make_shared<PortLog>();
        auto w = ShowWindow(LoggedPorts(log));
        QVERIFY(w);
        QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
        auto* net = Widget<QComboBox>(*w, "CmbNet");
        QTRY_VERIFY(net->isEnabled());
        net->addItem(QStringLiteral("7"));  // an entry the model does not have
        net->setCurrentIndex(1);
        emit net->activated(1);
        // Events run in order: once this marker is through, so is the pick.
        const quint64 marker = w->Host().PostText(QStringLiteral("num_bytes"), QStringLiteral("1"));
        QTRY_VERIFY_WITH_TIMEOUT(w->AppliedSeq() >= marker, 5000);
        // The model refused the pick of an entry it does not have; had the
        // edit field's change gone in as typing, its text would now be "7".
        for (const Control& c : w->Model()) {
            if (c.name == "CmbNet") QCOMPARE(QString::fromStdString(c.caption), QString("0"));
        }
    }

    // Ticks publish snapshots all the time; none of them may eat the user's typing.
    void typingSurvivesTheTicks() {
        auto log = std::make_shared<PortLog>();
        auto w = ShowWindow(LoggedPorts(log));
        QVERIFY(w);
        QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
        auto* id = Widget<QLineEdit>(*w, "ID_Metki");
        QTRY_VERIFY(id->isEnabled());
        id->setFocus();
        id->selectAll();
        const int reads = log->reads.load();
        for (QChar ch : QString("7A7A7A7A")) {
            QTest::keyClick(id, ch.toLatin1());
            QTest::qWait(60);
        }
        QTRY_VERIFY_WITH_TIMEOUT(log->reads.load() >= reads + 3, 5000);
        QCOMPARE(id->text(), QString("7A7A7A7A"));
        bool found = false;
        for (const Control& c : w->Model()) {
            if (c.name != "ID_Metki") continue;
            found = true;
            QCOMPARE(QString::fromStdString(c.caption), QString("7A7A7A7A"));
        }
        QVERIFY(found);
    }

    void closingTheWindowClosesAnOpenPort() {
        auto log = std::make_shared<PortLog>();
        auto w = ShowWindow(LoggedPorts(log));
        QVERIFY(w);
        QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(Widget(*w, "BTNCloseCom")->isEnabled());
        QVERIFY(w->close());
        QVERIFY(!w->Host().Running());
        QCOMPARE(log->closes.load(), 1);
    }

    void closingTheWindowWhileABoxWaits() {
        auto log = std::make_shared<PortLog>();
        auto w = ShowWindow(LoggedPorts(log));
        QVERIFY(w);
        QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(Widget(*w, "low")->isEnabled());
        PressAccessKey(w.get(), QChar(u'А'));
        QTRY_VERIFY(OpenMessageBox(*w) != nullptr);
        QVERIFY(w->close());
        QVERIFY(!w->Host().Running());
        QCOMPARE(log->closes.load(), 1);
        QTRY_VERIFY(OpenMessageBox(*w) == nullptr);
    }

    // The status bar is BusDesk's own: under the client area, which keeps its
    // size (what the bar covers lay outside the window), and live once the port
    // is open. Assistive technology sees a status bar that keeps its name, with
    // the figures in its description and in its line's name.
    void theStatusBarSitsUnderTheClientAreaAndCounts() {
        auto w = ShowWindow(LoggedPorts(std::make_shared<PortLog>()));
        QVERIFY(w);
        ui::StatusBar* bar = w->StatusBar();
        QVERIFY(bar && bar->isVisible());
        const double dpi = w->PixelsPerTwip() * engine::kTwipsPerInch;
        const int clientHeight = engine::TwipsToPixels(engine::kClientHeightTwips, dpi);
        QCOMPARE(bar->geometry().top(), clientHeight);
        QCOMPARE(w->width(), engine::TwipsToPixels(engine::kClientWidthTwips, dpi));
        QCOMPARE(w->ClientArea()->geometry(), QRect(0, 0, w->width(), clientHeight));
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(bar);
        QVERIFY(a != nullptr);
        QCOMPARE(a->role(), QAccessible::StatusBar);
        QCOMPARE(a->text(QAccessible::Name), QString("Строка состояния"));
        QCOMPARE(bar->Line(), QString());  // nothing to say before a port opens

        QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(bar->Line().startsWith(QString("Запросов ")));
        // The in-memory port never answers: the silent ticks show.
        QTRY_VERIFY_WITH_TIMEOUT(!bar->Line().contains(QString("без ответа 0")), 5000);
        QCOMPARE(a->text(QAccessible::Name), QString("Строка состояния"));
        QTRY_COMPARE(a->text(QAccessible::Description), bar->Line());
        QAccessibleInterface* line = QAccessible::queryAccessibleInterface(bar->Label());
        QVERIFY(line != nullptr);
        QCOMPARE(line->text(QAccessible::Name), bar->Line());
        QVERIFY(line->text(QAccessible::Description).contains(QString("Байт передано: ")));
        QVERIFY(bar->toolTip().contains(QString("Без ответа: ")));
        QVERIFY(bar->toolTip().contains(QString("Байт передано: ")));
    }

    // "Commands and Results" lies at the client area's bottom edge, its top
    // edge showing: it is cut there, never drawn over the status bar.
    void nothingOfTheClientAreaIsDrawnOverTheStatusBar() {
        auto w = ShowWindow(LoggedPorts(std::make_shared<PortLog>()));
        QVERIFY(w);
        const QRect bar = w->StatusBar()->geometry();
        QWidget* frame = Widget(*w, "Frame1");
        QVERIFY(frame->isVisible());
        QVERIFY(frame->mapTo(w.get(), QPoint(0, 0)).y() < bar.top());  // its top edge shows
        QStringList over;
        for (QWidget* c : w->ClientArea()->findChildren<QWidget*>()) {
            if (!c->isVisible()) continue;
            QRegion shown = c->visibleRegion();
            shown.translate(c->mapTo(w.get(), QPoint(0, 0)));
            if (shown.intersects(bar)) over << c->objectName();
        }
        QVERIFY2(over.isEmpty(), qPrintable("over the status bar: " + over.join(", ")));
    }

    // A port that will not open says why beside the window's own boxes, which stay.
    void aPortThatWillNotOpenSaysWhyInTheStatusBar() {
        const std::string why = "нет такого устройства /dev/ttyUSB7 (No such file or directory)";
        ui::PortFactory refusing = [why](Dialogs&) {
            auto p = std::make_unique<ReasonedPort>(why);
            p->openSucceeds = false;
            return std::unique_ptr<SerialPort>(std::move(p));
        };
        auto w = ShowWindow(refusing);
        QVERIFY(w);
        QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(OpenMessageBox(*w) != nullptr);
        QCOMPARE(OpenMessageBox(*w)->text(), QString("COM1: Not available!"));
        OpenMessageBox(*w)->button(QMessageBox::Ok)->click();
        QTRY_VERIFY(OpenMessageBox(*w) == nullptr);
        const QString shown = QString::fromStdString("Порт не открыт: " + why);
        ui::StatusBar* bar = w->StatusBar();
        QTRY_COMPARE(bar->Line(), shown);
        QVERIFY(bar->toolTip().startsWith(shown));
        QCOMPARE(QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Description), shown);
    }

    // With --reconnect a press that could not open is followed by quiet
    // tries: the bar says the line is awaited, and the window opens itself
    // once the port is there, with no further box.
    void aLineThatComesBackIsAwaitedInTheBarAndOpened() {
        auto there = std::make_shared<std::atomic<bool>>(false);
        ui::PortFactory flaky = [there](Dialogs&) {
            class Flaky : public ReasonedPort {
              public:
                explicit Flaky(std::shared_ptr<std::atomic<bool>> t)
                    : ReasonedPort("нет такого устройства"), there_(std::move(t)) {}
                bool OpenPort(const std::string& name, const std::string& settings) override {
                    openSucceeds = there_->load();
                    return MemoryPort::OpenPort(name, settings);
                }

              private:
                std::shared_ptr<std::atomic<bool>> there_;
            };
            return std::unique_ptr<SerialPort>(std::make_unique<Flaky>(there));
        };
        engine::Engine::Options options;
        options.reconnect = true;
        options.retry = std::chrono::milliseconds(30);
        ui::MainWindow w(flaky, options);
        QSignalSpy first(&w, &ui::MainWindow::applied);
        w.show();
        QVERIFY(first.wait(10000));
        QTest::mouseClick(Widget(w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(OpenMessageBox(w) != nullptr);
        OpenMessageBox(w)->button(QMessageBox::Ok)->click();
        const QString waiting("Жду линию COM1: — новая попытка через 1 с");
        ui::StatusBar* bar = w.StatusBar();
        QTRY_COMPARE(bar->Line(), waiting);
        QVERIFY(bar->toolTip().startsWith(waiting));
        QVERIFY(Widget(w, "BTNOpenCom")->isEnabled());

        there->store(true);
        QTRY_VERIFY(Widget(w, "BTNCloseCom")->isEnabled());
        QVERIFY(!Widget(w, "BTNOpenCom")->isEnabled());
        QVERIFY(OpenMessageBox(w) == nullptr);
        QTRY_VERIFY(bar->Line().startsWith("Запросов"));
    }

    // A day of polling (five- and six-digit counts) still fits the window's
    // starting width; a line that does not drops whole fields, never a figure.
    void theLineFitsTheStartingWidth() {
        auto w = ShowWindow(LoggedPorts(std::make_shared<PortLog>()));
        QVERIFY(w);
        engine::LineCounters day;
        day.portOpened = true;
        day.requests = 172800;  // a tick every 500 ms for 24 hours
        day.replies = 172000;
        day.badCrc = 120;
        day.silent = 800;
        day.timed = 100;
        day.lastUs = 13'100;
        day.minUs = 11'300;
        day.maxUs = 16'700;
        ui::StatusBar* bar = w->StatusBar();
        const QString line = QString::fromStdString(engine::StatusLine(day));
        bar->Show(line, QString());
        QCOMPARE(bar->Label()->text(), line);
        day.unknownCodes = 3;
        day.writeFailures = 2;
        day.journal = true;
        day.journalLost = 12;
        const QString longer = QString::fromStdString(engine::StatusLine(day));
        bar->Show(longer, QString(), true);  // painted now, not at the bar's next paint
        const QString shown = bar->Label()->text();
        QVERIFY2(shown.endsWith(QString(" · …")), qPrintable(shown));
        QVERIFY(longer.startsWith(shown.chopped(1)));
        QCOMPARE(bar->Line(), longer);  // the whole line stays for assistive technology
        QCOMPARE(QAccessible::queryAccessibleInterface(bar->Label())->text(QAccessible::Name),
                 longer);
    }

    // Text colours come from the palette, so a dark one keeps the labels readable.
    void aDarkPaletteKeepsTheTextReadable() {
        const QPalette before = qApp->palette();
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x20, 0x22, 0x25));
        dark.setColor(QPalette::WindowText, QColor(0xE8, 0xE8, 0xE8));
        dark.setColor(QPalette::Base, QColor(0x15, 0x16, 0x18));
        dark.setColor(QPalette::Text, QColor(0xE8, 0xE8, 0xE8));
        dark.setColor(QPalette::Button, QColor(0x33, 0x35, 0x38));
        dark.setColor(QPalette::ButtonText, QColor(0xE8, 0xE8, 0xE8));
        qApp->setPalette(dark);
        auto w = ShowWindow(LoggedPorts(std::make_shared<PortLog>()));
        QVERIFY(w);
        QTest::mouseClick(Widget(*w, "BTNOpenCom"), Qt::LeftButton);
        QTRY_VERIFY(Widget(*w, "sn")->isEnabled());
        const QImage shot = w->grab().toImage();
        if (const QByteArray dir = qgetenv("BUSDESK_SHOT_DIR"); !dir.isEmpty())
            shot.save(QString::fromLocal8Bit(dir) + "/busdesk-dark.png");
        qApp->setPalette(before);
        for (const char* name : {"Label5", "sn", "ver2", "Label4"}) {
            QWidget* c = Widget(*w, name);
            const QRect r(c->mapTo(w.get(), QPoint(0, 0)), c->size());
            int brightest = 0;
            for (int y = r.top(); y <= r.bottom(); ++y) {
                for (int x = r.left(); x <= r.right(); ++x)
                    brightest =
                        std::max(brightest, qGray(shot.pixel(x * shot.width() / w->width(),
                                                             y * shot.height() / w->height())));
            }
            QVERIFY2(brightest > 160, name);  // light text on the dark window
        }
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
