// The window paints only what changed: a tick of the demo bus repaints the
// labels whose text changed, never the frames behind them, the status bar at
// most once an interval, the lamp only for a new colour.
#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <functional>
#include <map>

#include "engine/port_setup.h"
#include "link/port_names.h"
#include "ui/status_bar.h"
#include "ui/translations.h"
#include "ui/underlay.h"
#include "window_fixture.h"

using namespace busdesk;
using namespace busdesk::testing;

namespace {

// Counts paint events per widget while installed.
class PaintCounter : public QObject {
  public:
    PaintCounter() { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    int Of(const std::function<bool(QWidget*)>& which) const {
        int n = 0;
        for (const auto& [w, count] : counts_) {
            if (w && which(w)) n += count;
        }
        return n;
    }
    int Of(QWidget* w) const {
        return Of([w](QWidget* x) { return x == w; });
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            if (auto* w = qobject_cast<QWidget*>(watched)) {
                bool found = false;
                for (auto& [p, count] : counts_) {
                    if (p == w) {
                        ++count;
                        found = true;
                    }
                }
                if (!found) counts_.emplace_back(QPointer<QWidget>(w), 1);
            }
        }
        return false;
    }

  private:
    std::vector<std::pair<QPointer<QWidget>, int>> counts_;
};

bool InStatusBar(QWidget* w) {
    for (; w != nullptr; w = w->parentWidget()) {
        if (qobject_cast<ui::StatusBar*>(w) != nullptr) return true;
    }
    return false;
}

}  // namespace

class PaintTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(ui::InstallRussian(*qApp)); }

    // Ticks on the demo bus after a survey: the tags' fields change every
    // other tick; nothing else of the window may paint for it.
    void aTickPaintsOnlyWhatChanged() {
        engine::PortSetup setup{PortMap{}};
        QVERIFY2(setup.StartDemo(), setup.Error().c_str());
        auto w = std::make_unique<ui::MainWindow>(setup.Factory(), setup.EngineOptions());
        QSignalSpy applied(w.get(), &ui::MainWindow::applied);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        // By keyboard, as the focus is where the window opened it.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QTRY_VERIFY(Widget(*w, "BTNCloseCom")->isEnabled());
        qobject_cast<QAbstractButton*>(Widget(*w, "Opros"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(Widget<QComboBox>(*w, "CmbNet")->count() == 3, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(Text(*w, "uroven") != QString("нет данных"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(Text(*w, "outID") != QString("0"), 10000);
        // The figures change on every tick; within the hour none is painted.
        w->StatusBar()->SetPaintInterval(3600 * 1000);

        PaintCounter paints;
        const int start = static_cast<int>(applied.size());
        constexpr int kTicks = 6;
        QTRY_VERIFY_WITH_TIMEOUT(applied.size() >= start + kTicks, kTicks * 1000 + 5000);
        const QString lineNow = w->StatusBar()->Line();

        struct Row {
            const char* what;
            std::function<bool(QWidget*)> which;
        };
        const Row still[] = {
            {"the status bar", InStatusBar},
            {"a frame", [](QWidget* x) { return qobject_cast<QGroupBox*>(x) != nullptr; }},
            {"the client area or window",
             [&w](QWidget* x) { return x == w->ClientArea() || x == w.get(); }},
            {"a button", [](QWidget* x) { return qobject_cast<QAbstractButton*>(x) != nullptr; }},
            {"a text box but CmdBoxText",
             [&w](QWidget* x) {
                 return qobject_cast<QLineEdit*>(x) != nullptr && x != Widget(*w, "CmdBoxText");
             }},
            {"the lamp", [](QWidget* x) { return qobject_cast<ui::Lamp*>(x) != nullptr; }},
        };
        for (const Row& row : still) QVERIFY2(paints.Of(row.which) == 0, row.what);
        // Opening the port disabled the button that had the focus: it went to
        // a button, not into a text box to blink there.
        QVERIFY(qobject_cast<QAbstractButton*>(QApplication::focusWidget()) != nullptr);
        // What did change was painted: the tags' fields, the frame last handed on.
        QVERIFY(paints.Of(Widget(*w, "outID")) > 0);
        QVERIFY(paints.Of(Widget(*w, "CmdBoxText")) > 0);
        QVERIFY(paints.Of(Widget(*w, "CmdBoxText")) <= kTicks + 1);  // its text, no caret
        // The figures not painted yet are there for assistive technology.
        QCOMPARE(
            QAccessible::queryAccessibleInterface(w->StatusBar()->Label())->text(QAccessible::Name),
            lineNow);
    }

    // A new text repaints the label, or the text box, and nothing behind it.
    void aNewTextRepaintsNothingBehind_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("label in a frame") << QString("uroven");
        QTest::newRow("label in a frame with a title") << QString("outID");
        QTest::newRow("label on the window") << QString("Label5");
        QTest::newRow("text box on the window") << QString("CmdBoxText");
        QTest::newRow("text box in a frame") << QString("ID_Metki");
    }
    void aNewTextRepaintsNothingBehind() {
        QFETCH(QString, name);
        auto w = ShowWindow(LoggedPorts(std::make_shared<PortLog>()));
        QVERIFY(w);
        QWidget* c = w->ControlWidget(name);
        QVERIFY(c && c->isVisible());
        QWidget* behind = c->parentWidget();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->repaint();  // every control painted once, what lies under each taken
        PaintCounter paints;
        if (auto* l = qobject_cast<QLabel*>(c))
            l->setText(l->text() + "1");
        else
            qobject_cast<QLineEdit*>(c)->setText(qobject_cast<QLineEdit*>(c)->text() + "1");
        QTRY_VERIFY(paints.Of(c) > 0);
        QCOMPARE(paints.Of(behind), 0);
        QCOMPARE(paints.Of(w->ClientArea()), 0);
        QCOMPARE(paints.Of(w.get()), 0);
    }

    // What lies under a label is taken again when its frame changes, so it
    // never shows the frame as it was.
    void aLabelShowsItsFrameAsItIsNow() {
        auto w = ShowWindow(LoggedPorts(std::make_shared<PortLog>()));
        QVERIFY(w);
        auto* l = Widget<QLabel>(*w, "Label5");
        QVERIFY(l);
        const QPoint corner(l->width() - 1, l->height() - 1);
        auto pixel = [&] { return l->grab().toImage().pixelColor(corner); };
        const QColor before = pixel();
        QPalette p = w->ClientArea()->palette();
        p.setColor(QPalette::Window, QColor(0x20, 0x40, 0x60));
        w->ClientArea()->setPalette(p);
        w->ClientArea()->setAutoFillBackground(true);
        QTRY_COMPARE(pixel(), QColor(0x20, 0x40, 0x60));
        QVERIFY(pixel() != before);
    }

    // A text box draws its frame once and reuses it for every new text; a
    // new state (focus, disabled, size, palette) draws it again.
    void aTextBoxDrawsItsFrameOncePerState() {
        QWidget top;
        top.resize(300, 80);
        auto* box = new ui::OpaqueLineEdit(&top);
        box->setGeometry(10, 10, 200, 24);
        auto* button = new QPushButton(QStringLiteral("OK"), &top);  // takes the focus back
        button->setGeometry(220, 10, 60, 24);
        top.show();
        QVERIFY(QTest::qWaitForWindowActive(&top));
        button->setFocus();
        box->repaint();
        QVERIFY(box->PanelsDrawn() >= 1);
        int drawn = box->PanelsDrawn();
        PaintCounter paints;
        for (const char* text : {"31_1_E0_7A", "3E_1_F0_15", "31_1_E0_7B", "", "31_1_E0_7A"}) {
            box->setText(QString::fromLatin1(text));
            box->repaint();
        }
        QVERIFY(paints.Of(box) >= 5);
        QCOMPARE(box->PanelsDrawn(), drawn);

        struct Row {
            const char* what;
            std::function<void()> change;
        };
        const Row rows[] = {
            {"focus in", [&] { box->setFocus(); }},
            {"focus out", [&] { button->setFocus(); }},
            {"disabled", [&] { box->setEnabled(false); }},
            {"resized", [&] { box->resize(180, 24); }},
            {"new palette",
             [&] {
                 QPalette p = box->palette();
                 p.setColor(QPalette::Base, QColor(0x30, 0x30, 0x30));
                 box->setPalette(p);
             }},
        };
        for (const Row& row : rows) {
            row.change();
            QApplication::processEvents();
            box->repaint();
            QVERIFY2(box->PanelsDrawn() == drawn + 1, row.what);
            drawn = box->PanelsDrawn();
        }
    }

    // The box with a frame drawn once looks exactly as a plain one, in every
    // state and on a dark palette too.
    void aTextBoxLooksAsAPlainOne_data() {
        QTest::addColumn<QString>("state");
        for (const char* s : {"text", "focused", "disabled", "resized", "dark", "grown text"})
            QTest::newRow(s) << QString::fromLatin1(s);
    }
    void aTextBoxLooksAsAPlainOne() {
        QFETCH(QString, state);
        QWidget top;
        top.resize(520, 90);
        QLineEdit* boxes[2] = {};
        for (int i = 0; i < 2; ++i) {
            auto* frame = new QGroupBox(QStringLiteral("Команды"), &top);
            frame->setGeometry(10 + i * 250, 5, 240, 80);
            boxes[i] = i == 0 ? new ui::OpaqueLineEdit(frame) : new QLineEdit(frame);
            boxes[i]->setGeometry(10, 30, 200, 24);
            boxes[i]->setText(QStringLiteral("31_1_E0_7A_00"));
        }
        auto* button = new QPushButton(QStringLiteral("OK"), &top);
        button->setGeometry(0, 0, 5, 5);
        top.show();
        QVERIFY(QTest::qWaitForWindowActive(&top));
        button->setFocus();
        auto shot = [&](QLineEdit* box) {
            QApplication::processEvents();
            const QRect where(box->mapTo(&top, QPoint(0, 0)) - QPoint(2, 2),
                              box->size() + QSize(4, 4));
            return top.grab(where).toImage();
        };
        for (QLineEdit* box : boxes) shot(box);  // the cache made before the change
        QImage images[2];
        for (int i = 0; i < 2; ++i) {
            QLineEdit* box = boxes[i];
            if (state == "text") box->setText(QStringLiteral("3E_1_F0_15"));
            if (state == "focused") box->setFocus();
            if (state == "disabled") box->setEnabled(false);
            if (state == "resized") box->resize(150, 30);
            if (state == "grown text") box->setText(QString(60, QLatin1Char('W')));
            if (state == "dark") {
                QPalette p = top.palette();
                p.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
                p.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
                p.setColor(QPalette::Text, Qt::white);
                p.setColor(QPalette::WindowText, Qt::white);
                box->parentWidget()->setPalette(p);
            }
            images[i] = shot(box);
            if (state == "focused") button->setFocus();  // the caret and focus of one at a time
        }
        QCOMPARE(images[0], images[1]);
    }

    // A label that draws each text once and then copies it looks exactly as
    // a plain label of the same text: a new text, one shown before, a
    // wrapped one, disabled, on a dark palette.
    void aLabelLooksAsAPlainOne_data() {
        QTest::addColumn<QString>("state");
        for (const char* s : {"text", "again", "wrapped", "disabled", "dark", "bold", "empty"})
            QTest::newRow(s) << QString::fromLatin1(s);
    }
    void aLabelLooksAsAPlainOne() {
        QFETCH(QString, state);
        QWidget top;
        top.resize(420, 90);
        QLabel* labels[2] = {};
        for (int i = 0; i < 2; ++i) {
            auto* frame = new QGroupBox(QStringLiteral("Метка"), &top);
            frame->setGeometry(10 + i * 200, 5, 190, 80);
            labels[i] = i == 0 ? new ui::OpaqueLabel(frame) : new QLabel(frame);
            labels[i]->setTextFormat(Qt::PlainText);
            labels[i]->setWordWrap(true);
            labels[i]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            labels[i]->setGeometry(8, 20, 120, 40);
            labels[i]->setText(QStringLiteral("-61 дБм"));
        }
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        auto shot = [&](QLabel* l) {
            QApplication::processEvents();
            return top.grab(QRect(l->mapTo(&top, QPoint(0, 0)), l->size())).toImage();
        };
        for (QLabel* l : labels) shot(l);
        QImage images[2];
        for (int i = 0; i < 2; ++i) {
            QLabel* l = labels[i];
            if (state == "text") l->setText(QStringLiteral("31_1_E0_7A"));
            if (state == "again") {
                l->setText(QStringLiteral("-58 дБм"));
                shot(l);
                l->setText(QStringLiteral("-61 дБм"));
            }
            if (state == "wrapped")
                l->setText(QStringLiteral("Считыватель 1 отвечает\nметка 3E_1_F0_15 слышна"));
            if (state == "disabled") l->setEnabled(false);
            if (state == "dark") {
                QPalette p = top.palette();
                p.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
                p.setColor(QPalette::WindowText, Qt::white);
                l->parentWidget()->setPalette(p);
            }
            if (state == "bold") {
                QFont f = l->font();
                f.setBold(true);
                f.setPointSizeF(f.pointSizeF() * 1.5);
                l->setFont(f);
            }
            if (state == "empty") l->clear();
            images[i] = shot(l);
        }
        QCOMPARE(images[0], images[1]);
    }

    // A text shown before is copied, not drawn again; anything else its
    // picture depends on draws it afresh, so no stale picture is shown.
    void aLabelDrawsATextOncePerLook() {
        QWidget top;
        top.resize(300, 80);
        auto* l = new ui::OpaqueLabel(&top);
        l->setTextFormat(Qt::PlainText);
        l->setGeometry(10, 10, 150, 24);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        const QStringList texts{"-61", "-58", "-61", "-58", "-60", "-61"};
        for (const QString& t : texts) {
            l->setText(t);
            l->repaint();
        }
        // Each new text drawn, each coming back drawn once more to be kept.
        QCOMPARE(l->TextsDrawn(), 5);

        struct Row {
            const char* what;
            std::function<void()> change;
        };
        const Row rows[] = {
            {"disabled", [&] { l->setEnabled(false); }},
            {"resized", [&] { l->resize(140, 24); }},
            {"new font",
             [&] {
                 QFont f = l->font();
                 f.setBold(true);
                 l->setFont(f);
             }},
            {"new palette",
             [&] {
                 QPalette p = l->palette();
                 p.setColor(QPalette::WindowText, QColor(0x80, 0x20, 0x20));
                 l->setPalette(p);
             }},
            {"what lies under it",
             [&] {
                 QPalette p = top.palette();
                 p.setColor(QPalette::Window, QColor(0x20, 0x40, 0x60));
                 top.setPalette(p);
             }},
            {"aligned anew", [&] { l->setAlignment(Qt::AlignRight | Qt::AlignVCenter); }},
        };
        for (const Row& row : rows) {
            const int drawn = l->TextsDrawn();
            row.change();
            QApplication::processEvents();
            l->repaint();
            QVERIFY2(l->TextsDrawn() == drawn + 1, row.what);
        }
        // No more pictures than it may keep: the oldest is drawn again, the
        // latest copied.
        const int kept = static_cast<int>(ui::OpaqueLabel::kPictures);
        const int drawn = l->TextsDrawn();
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i <= kept; ++i) {
                l->setText(QString::number(i));
                l->repaint();
            }
        }
        QCOMPARE(l->TextsDrawn(), drawn + 2 * (kept + 1));
        for (int i : {kept, 0, kept}) {
            l->setText(QString::number(i));
            l->repaint();
        }
        QCOMPARE(l->TextsDrawn(), drawn + 2 * (kept + 1) + 1);
    }

    // The progress bar paints a new value when a plain one would, no more
    // often, and then the bar alone; it looks as the plain one.
    void theBarPaintsAsAPlainOneTheBarAlone() {
        QWidget top;
        top.resize(420, 60);
        auto* frame = new QWidget(&top);
        frame->setGeometry(0, 0, 420, 60);
        auto* bar = new ui::OpaqueProgressBar(frame);
        auto* plain = new QProgressBar(frame);
        for (QProgressBar* b : {static_cast<QProgressBar*>(bar), plain}) {
            b->setTextVisible(false);
            b->setRange(0, 1024);
            b->setValue(0);
        }
        bar->setGeometry(10, 10, 330, 14);
        plain->setGeometry(10, 35, 330, 14);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        auto shot = [&](QWidget* w) {
            return top.grab(QRect(w->mapTo(&top, QPoint(0, 0)), w->size())).toImage();
        };
        QApplication::processEvents();
        // Steps smaller and larger than a chunk, the ends of the range.
        for (int v : {600, 603, 605, 640, 641, 1024, 1023, 0, 2, 512}) {
            bool plainPainted = false;
            {
                PaintCounter plainPaints;
                plain->setValue(v);  // paints at once when it does
                plainPainted = plainPaints.Of(plain) > 0;
            }
            PaintCounter paints;
            bar->SetValue(v);
            QCOMPARE(paints.Of(bar), 0);  // not yet: with the rest of the tick
            QApplication::processEvents();
            QCOMPARE(paints.Of(bar) > 0, plainPainted);
            QCOMPARE(paints.Of(frame), 0);
            QCOMPARE(paints.Of(&top), 0);
            QCOMPARE(shot(bar), shot(plain));
        }
    }

    // A box the user is not in shows a request and its answer in turn: each
    // is drawn once it comes back, then copied, and looks as in a plain box.
    // A text wider than the box, or a box with the caret, is never copied.
    void aTextThatComesBackIsCopied() {
        QWidget top;
        top.resize(520, 60);
        auto* box = new ui::OpaqueLineEdit(&top);
        auto* plain = new QLineEdit(&top);
        box->setGeometry(10, 10, 200, 24);
        plain->setGeometry(260, 10, 200, 24);
        auto* button = new QPushButton(QStringLiteral("OK"), &top);
        button->setGeometry(0, 40, 5, 5);
        top.show();
        QVERIFY(QTest::qWaitForWindowActive(&top));
        button->setFocus();
        auto shot = [&](QWidget* w) {
            QApplication::processEvents();
            return top.grab(QRect(w->mapTo(&top, QPoint(0, 0)), w->size())).toImage();
        };
        const QString texts[] = {"31_1_F0_C5_", "31_1_E0_7A_7A_7A_7A_25_"};
        for (int round = 0; round < 4; ++round) {
            for (const QString& t : texts) {
                box->setText(t);
                plain->setText(t);
                QCOMPARE(shot(box), shot(plain));
            }
        }
        QCOMPARE(box->BoxesDrawn(), 2);

        const QString wide(60, QLatin1Char('W'));
        for (int round = 0; round < 3; ++round) {
            box->setText(wide);
            plain->setText(wide);
            QCOMPARE(shot(box), shot(plain));
        }
        QCOMPARE(box->BoxesDrawn(), 2);

        box->setText(texts[0]);
        plain->setText(texts[0]);
        box->setFocus();
        box->setCursorPosition(3);
        const QImage focused = shot(box);
        plain->setFocus();
        plain->setCursorPosition(3);
        QCOMPARE(focused, shot(plain));
        button->setFocus();
        QCOMPARE(shot(box), shot(plain));
    }

    // The lamp paints for a new colour, not for the one it shows.
    void theLampPaintsOnlyForANewColour_data() {
        QTest::addColumn<uint>("from");
        QTest::addColumn<uint>("to");
        QTest::addColumn<bool>("paints");
        QTest::newRow("same") << 0x0000FFu << 0x0000FFu << false;
        QTest::newRow("new") << 0x0000FFu << 0x00FF00u << true;
        QTest::newRow("back to start") << 0x00FF00u << 0x10FFFFu << true;
    }
    void theLampPaintsOnlyForANewColour() {
        QFETCH(uint, from);
        QFETCH(uint, to);
        QFETCH(bool, paints);
        QWidget top;
        top.resize(100, 50);
        auto* lamp = new ui::Lamp(&top);
        lamp->setGeometry(5, 5, 20, 20);
        auto* other = new ui::Lamp(&top);  // paints in the same pass, to know the pass is over
        other->setGeometry(50, 5, 20, 20);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        lamp->SetFill(from);
        other->SetFill(0x000000);
        PaintCounter counted;
        QTRY_VERIFY(counted.Of(other) > 0);
        PaintCounter after;
        lamp->SetFill(to);
        other->SetFill(0xFFFFFF);
        QTRY_VERIFY(after.Of(other) > 0);
        QCOMPARE(after.Of(lamp) > 0, paints);
        QCOMPARE(after.Of(&top), 0);
        QCOMPARE(lamp->Fill(), ui::FromBgr(to));
    }

    // No text box blinks its caret in a window the user has not typed in yet.
    void noCaretBlinksWhereTheUserIsNot() {
        auto w = ShowWindow(LoggedPorts(std::make_shared<PortLog>()));
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QCOMPARE(QApplication::focusWidget(), Widget(*w, "BTNOpenCom"));
        w->repaint();  // the window's first paint done
        PaintCounter paints;
        // Two blinks' time; the engine's ticks change nothing while the port is shut.
        QTest::qWait(2 * qApp->cursorFlashTime());
        QCOMPARE(paints.Of([](QWidget* x) { return qobject_cast<QLineEdit*>(x) != nullptr; }), 0);
    }

    // The line is painted at most once an interval, the latest figures then;
    // what is new in kind at once. Assistive technology hears every change.
    void theLineIsPaintedAtMostOnceAnInterval() {
        ui::StatusBar bar;
        bar.resize(600, bar.sizeHint().height());
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        bar.SetPaintInterval(3600 * 1000);
        QAccessibleInterface* line = QAccessible::queryAccessibleInterface(bar.Label());
        struct Step {
            const char* line;
            const char* detail;
            bool atOnce;
            const char* painted;
        };
        const Step steps[] = {
            {"Запросов 1", "a", false, "Запросов 1"},  // the first figures
            {"Запросов 2", "b", false, "Запросов 1"},  // held
            {"Запросов 3", "c", false, "Запросов 1"},
            {"Порт не открыт: занят", "d", true, "Порт не открыт: занят"},
            {"Порт не открыт: нет", "e", false, "Порт не открыт: занят"},
            {"", "", false, ""},  // nothing to say: at once
            {"Запросов 0", "f", false, "Запросов 0"},
        };
        for (const Step& s : steps) {
            bar.Show(QString::fromUtf8(s.line), QString::fromUtf8(s.detail), s.atOnce);
            QCOMPARE(bar.Label()->text(), QString::fromUtf8(s.painted));
            QCOMPARE(bar.Line(), QString::fromUtf8(s.line));
            QCOMPARE(line->text(QAccessible::Name), QString::fromUtf8(s.line));
            QCOMPARE(line->text(QAccessible::Description), QString::fromUtf8(s.detail));
        }
        // A held table is brought up to date when its tool tip is asked for.
        bar.Show("Запросов 5", "таблица 5");
        QCOMPARE(bar.toolTip(), QString("f"));
        QHelpEvent ask(QEvent::ToolTip, QPoint(5, 5), bar.Label()->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(bar.Label(), &ask);
        QCOMPARE(bar.toolTip(), QString("таблица 5"));
        QCOMPARE(bar.Label()->toolTip(), QString("таблица 5"));
        // Held figures are painted when the interval is over, the latest of them.
        bar.Show("Запросов 6", "таблица 6");
        bar.SetPaintInterval(50);
        QTRY_COMPARE(bar.Label()->text(), QString("Запросов 6"));
        QCOMPARE(bar.toolTip(), QString("таблица 6"));
    }

    // A new line repaints the line alone: not the bar around it, not its
    // button, not the window behind; the bar still makes room for a button
    // that comes or goes.
    void aNewLineRepaintsTheLineAlone() {
        QWidget top;
        auto* bar = new ui::StatusBar(&top);
        auto* button = new QPushButton(QStringLiteral("График"), bar);
        bar->addPermanentWidget(button);
        top.resize(600, 40);
        bar->setGeometry(0, 0, 600, 40);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        bar->SetPaintInterval(0);
        bar->Show(QStringLiteral("Запросов 1"), QStringLiteral("a"));
        QTRY_COMPARE(bar->Label()->text(), QString("Запросов 1"));
        top.repaint();
        for (const char* line : {"Запросов 22", "Запросов 333 · Ответов 4", "", "Запросов 5"}) {
            PaintCounter paints;
            bar->Show(QString::fromUtf8(line), QStringLiteral("b"));
            QCOMPARE(bar->Label()->text(), QString::fromUtf8(line));
            QTRY_VERIFY(paints.Of(bar->Label()) > 0);
            QTest::qWait(50);  // what the line's layout request would paint
            QCOMPARE(paints.Of(bar), 0);
            QCOMPARE(paints.Of(button), 0);
            QCOMPARE(paints.Of(&top), 0);
        }
        const int lineWidth = bar->Label()->width();
        button->hide();
        QTRY_VERIFY(bar->Label()->width() > lineWidth);
        button->show();
        QTRY_COMPARE(bar->Label()->width(), lineWidth);
    }

    // The line laid out once for its measure and its paint looks as the
    // label's own paint of the same text.
    void theLineLooksAsALabelPaintsIt_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("dark");
        QTest::newRow("figures") << QString("Запросов 12 · ответов 11 · ошибок 1") << false;
        QTest::newRow("dark") << QString("Запросов 12 · ответов 11 (мин 3,2 мс)") << true;
        QTest::newRow("failed open") << QString("Порт не открыт: занят") << false;
        QTest::newRow("too long") << QString("Запросов 1 · ").repeated(30) << false;
    }
    void theLineLooksAsALabelPaintsIt() {
        QFETCH(QString, line);
        QFETCH(bool, dark);
        QWidget top;
        top.resize(600, 80);
        if (dark) {
            QPalette p = top.palette();
            p.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
            p.setColor(QPalette::WindowText, Qt::white);
            top.setPalette(p);
        }
        auto* bar = new ui::StatusBar(&top);
        bar->setGeometry(0, 0, 600, 30);
        bar->SetPaintInterval(0);
        // A plain label in the same place on a bar of its own.
        auto* other = new ui::StatusBar(&top);
        other->setGeometry(0, 40, 600, 30);
        other->Label()->hide();
        auto* plain = new QLabel(other);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        bar->Show(line, QStringLiteral("a"));
        QApplication::processEvents();
        plain->setTextFormat(Qt::PlainText);
        plain->setContentsMargins(bar->Label()->contentsMargins());
        plain->setGeometry(bar->Label()->geometry());
        plain->setText(bar->Label()->text());
        plain->show();
        QVERIFY(bar->Label()->text().size() <= line.size() + 1);
        auto shot = [&](QWidget* w) {
            QApplication::processEvents();
            return top.grab(QRect(w->mapTo(&top, QPoint(0, 0)), w->size())).toImage();
        };
        QCOMPARE(shot(bar->Label()), shot(plain));
    }

    // A multi-line box beyond the edge lays out no text until it comes into
    // sight, and then shows the latest; in sight it takes each at once.
    void aBoxOutOfSightShowsTheLatestTextOnceSeen() {
        QWidget top;
        top.resize(200, 100);
        auto* box = new ui::SightedTextEdit(&top);
        box->setGeometry(10, 150, 150, 60);  // below the window's edge
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        box->SetText(QStringLiteral("31 01 F0 C5"));
        box->SetText(QStringLiteral("3E 01 F0 15"));
        QVERIFY(box->Holding());
        QCOMPARE(box->toPlainText(), QString());
        top.resize(200, 250);
        QTRY_COMPARE(box->toPlainText(), QString("3E 01 F0 15"));
        QVERIFY(!box->Holding());
        box->SetText(QStringLiteral("31 01 E0 7A"));
        QVERIFY(!box->Holding());
        QCOMPARE(box->toPlainText(), QString("31 01 E0 7A"));
    }
};

QTEST_MAIN(PaintTest)
#include "paint_test.moc"
