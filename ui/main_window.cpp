#include "ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QSignalBlocker>
#include <QToolButton>
#include <algorithm>
#include <utility>

#include "app/messages.h"
#include "engine/design_controls.h"
#include "engine/geometry.h"
#include "engine/journal.h"
#include "ui/lamp.h"
#include "ui/report_action.h"
#include "ui/status_bar.h"
#include "ui/trend_window.h"
#include "ui/underlay.h"

namespace busdesk::ui {

namespace {

// Value fields and bare boxes named by the label beside them.
constexpr std::pair<std::string_view, std::string_view> kNamedBy[] = {
    {"CmbNet", "Label4"},     {"R_a", "R_analog"},       {"R_f", "R_fr"},
    {"R_p485", "цццц"},       {"R485", "R_485"},         {"R_p", "Label2"},
    {"usredn", "usred"},      {"iinv", "invers"},        {"ID_Metki", "Label9"},
    {"ModeMetki", "Label6"},  {"sleep_time", "Label21"}, {"IntervalMetki", "Label7"},
    {"PowerMetki", "Label8"}, {"num_bytes", "Label11"},  {"txtRec", "Label1"},
};

// The entry of a combo box the window last showed as the model's selection.
constexpr const char* kShownIndex = "busdeskShownIndex";

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Line breaks from the model are CR LF; Qt wants LF.
QString DisplayText(const std::string& s) {
    QString t = Q(s);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QChar(u'\r'), QChar(u'\n'));
    return t;
}

QFont FontFor(FontStyle style, const QFont& base) {
    QFont f = base;
    if (style == FontStyle::Normal) return f;
    f.setBold(true);
    if (style == FontStyle::BoldLarger) f.setPointSizeF(base.pointSizeF() * 1.5);
    if (style == FontStyle::BoldLarge) f.setPointSizeF(base.pointSizeF() * 1.3);
    return f;
}

void SetChecked(QAbstractButton* b, bool on) {
    if (b->isChecked() == on) return;
    // Auto-exclusive option buttons refuse to be cleared one by one.
    const bool exclusive = b->autoExclusive();
    b->setAutoExclusive(false);
    b->setChecked(on);
    b->setAutoExclusive(exclusive);
}

}  // namespace

MainWindow::MainWindow(PortFactory factory, QWidget* parent)
    : MainWindow(std::move(factory), engine::Engine::Options{}, parent) {}

MainWindow::MainWindow(PortFactory factory, engine::Engine::Options options, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("frmSerial"));
    setWindowTitle(QString::fromUtf8(msg::kAppTitle));
    setWindowIcon(QIcon(QStringLiteral(":/busdesk/icon.png")));
    QFont base = font();
    base.setPointSizeF(8.0);
    setFont(base);
    dpi_ = logicalDpiX();
    // The controls live in a widget of their own so that what lies below the
    // client area (the top edge of "Commands and Results" and the service
    // controls) is cut off there and never drawn over the status bar.
    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("ClientArea"));
    // The status bar sits under the client area, which keeps its exact size.
    status_ = new ui::StatusBar(this);
    if (options.journal != nullptr)
        report_ = new ReportAction(Q(options.journal->Path()), status_, this);
    AddTrendButton();
    barHeight_ = status_->sizeHint().height();
    resize(engine::TwipsToPixels(engine::kClientWidthTwips, dpi_),
           engine::TwipsToPixels(engine::kClientHeightTwips, dpi_) + barHeight_);

    Build(engine::DesignControls());
    // The window opens with the focus on the button that opens the port: in a
    // text box the user has not gone into, the caret would blink (a repaint
    // twice a second) for nothing.
    if (QWidget* open = ControlWidget(QStringLiteral("BTNOpenCom"))) open->setFocus();

    host_ = std::make_unique<EngineHost>(std::move(factory), this, std::move(options));
    connect(host_.get(), &EngineHost::published, this, &MainWindow::Apply);
    connect(host_.get(), &EngineHost::heard, this, [this](const BusEventBatch& events) {
        trendData_.Take(*events);
        if (trend_ != nullptr) trend_->DataChanged();
    });
    host_->Start();
}

MainWindow::~MainWindow() {
    host_->Stop();
}

QWidget* MainWindow::ControlWidget(const QString& name) const {
    const auto it = widgets_.find(name.toStdString());
    return it == widgets_.end() ? nullptr : it->second;
}

// BusDesk's own strip, not the model's: the trend's button at its right end.
// A small drawn chart, no caption: a day's counters must still fit the
// window's starting width. Its name and tool tip say what it is.
void MainWindow::AddTrendButton() {
    auto* button = new QToolButton(status_);
    button->setObjectName(QStringLiteral("TrendButton"));
    button->setAccessibleDescription(button->objectName());
    button->setText(QStringLiteral("График"));
    button->setAccessibleName(QStringLiteral("График"));
    button->setToolTip(
        QStringLiteral("График: уровень, температура и ток выбранного устройства (Ctrl+G)"));
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    const int side = button->fontMetrics().height();
    const qreal ratio = devicePixelRatioF();
    QPixmap icon(QSize(side, side) * ratio);
    icon.setDevicePixelRatio(ratio);
    icon.fill(Qt::transparent);
    {
        QPainter p(&icon);
        p.setRenderHint(QPainter::Antialiasing);
        // The window's text colour: seen on a light and on a dark theme alike.
        p.setPen(QPen(palette().color(QPalette::WindowText), 1.5));
        const qreal s = side;
        const QPointF line[] = {{1, s - 2}, {s * 0.35, s * 0.45}, {s * 0.6, s * 0.7}, {s - 1, 2}};
        p.drawPolyline(line, 4);
    }
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(side, side));
    status_->addPermanentWidget(button);
    connect(button, &QToolButton::clicked, this, &MainWindow::OpenTrend);
    auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+G")), this);
    connect(shortcut, &QShortcut::activated, this, &MainWindow::OpenTrend);
}

void MainWindow::OpenTrend() {
    if (trend_ == nullptr) {
        trend_ = new TrendWindow(trendData_, this);
        trend_->SetDevice(selected_);
    }
    trend_->show();
    trend_->raise();
    trend_->activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (trend_ != nullptr) trend_->hide();
    host_->Stop();
    event->accept();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    client_->setGeometry(0, 0, width(), std::max(0, height() - barHeight_));
    status_->setGeometry(0, height() - barHeight_, width(), barHeight_);
}

void MainWindow::Build(const std::vector<Control>& design) {
    for (const Control& c : design) {
        if (c.kind == ControlKind::Timer) continue;
        QWidget* parent = client_;
        if (!c.container.empty()) {
            if (QWidget* frame = ControlWidget(Q(c.container))) parent = frame;
        }
        QWidget* w = MakeWidget(c, parent);
        w->setObjectName(Q(c.name));
        // AT-SPI does not publish objectName; the description carries it instead.
        w->setAccessibleDescription(Q(c.name));
        if (const auto place = engine::PlaceOf(c.name)) {
            auto px = [this](int twips) { return engine::TwipsToPixels(twips, dpi_); };
            w->setGeometry(px(place->x), px(place->y), px(place->width), px(place->height));
            // A label of a fixed size takes a new text without asking its
            // frame for a layout.
            if (c.kind == ControlKind::Label) w->setFixedSize(w->size());
        }
        widgets_[c.name] = w;
    }
    for (const auto& [field, label] : kNamedBy) {
        auto* l = qobject_cast<QLabel*>(ControlWidget(Q(std::string(label))));
        QWidget* w = ControlWidget(Q(std::string(field)));
        if (l == nullptr || w == nullptr) continue;
        l->setBuddy(w);
        w->setAccessibleName(l->text());
    }
    for (const Control& c : design) {
        if (QWidget* w = ControlWidget(Q(c.name))) {
            ApplyControl(c, nullptr, false, false);
            Connect(c, w);
        }
    }
    changes_ = engine::SnapshotChanges(design);
}

QWidget* MainWindow::MakeWidget(const Control& c, QWidget* parent) {
    switch (c.kind) {
        case ControlKind::Label: {
            auto* l = new OpaqueLabel(parent);
            l->setTextFormat(Qt::PlainText);  // device texts are never markup
            l->setWordWrap(true);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return l;
        }
        case ControlKind::TextBox:
            if (c.multiLine) {
                auto* t = new SightedTextEdit(parent);
                t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                return t;
            }
            return new OpaqueLineEdit(parent);
        case ControlKind::Frame:
            return new QGroupBox(parent);
        case ControlKind::CommandButton:
            return new QPushButton(parent);
        case ControlKind::CheckBox:
            return new QCheckBox(parent);
        case ControlKind::OptionButton:
            return new QRadioButton(parent);
        case ControlKind::ComboBox: {
            auto* b = new QComboBox(parent);
            b->setEditable(c.editable);
            if (c.editable) b->setInsertPolicy(QComboBox::NoInsert);
            return b;
        }
        case ControlKind::Shape:
            return new Lamp(parent);
        case ControlKind::ProgressBar: {
            auto* p = new OpaqueProgressBar(parent);
            p->setTextVisible(false);
            return p;
        }
        case ControlKind::Timer:
            break;
    }
    return new QWidget(parent);
}

void MainWindow::Connect(const Control& c, QWidget* w) {
    const QString name = Q(c.name);
    const std::string key = c.name;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        connect(b, &QAbstractButton::clicked, this,
                [this, name, key] { changes_.NoteClick(key, host_->PostClick(name)); });
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        // textChanged, not textEdited: text put in through the accessibility
        // interface (screen readers, on-screen keyboards, test tools) must reach
        // the model too. Snapshots are applied with signals blocked.
        connect(e, &QLineEdit::textChanged, this, [this, name, key](const QString& text) {
            NoteEdit(key, host_->PostText(name, text), text);
        });
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        connect(combo, &QComboBox::activated, this, [this, name, key](int index) {
            changes_.NoteClick(key, host_->PostPick(name, index));
        });
        if (QLineEdit* edit = combo->lineEdit()) {
            // A pick sets the edit field too, after moving the current entry;
            // that is no edit (activated follows and picks it in the model).
            connect(edit, &QLineEdit::textChanged, this,
                    [this, combo, name, key](const QString& text) {
                        if (combo->currentIndex() != combo->property(kShownIndex).toInt()) return;
                        NoteEdit(key, host_->PostText(name, text), text);
                    });
            connect(combo, &QComboBox::activated, this,
                    [combo](int index) { combo->setProperty(kShownIndex, index); });
        }
    }
}

void MainWindow::NoteEdit(const std::string& name, std::uint64_t seq, const QString& text) {
    changes_.NoteEdit(name, seq, text.toStdString());
}

void MainWindow::Apply(const Snapshot& s) {
    // The first figures of a port just opened, why one did not open, and a
    // line awaited or back are shown at once; the counters ticking on wait
    // for the bar's next paint.
    const bool news = s.line.portOpened != linePortOpened_ || s.line.openError != lineOpenError_ ||
                      s.line.requests < lineRequests_ || s.waitingFor != lineWaitingFor_;
    linePortOpened_ = s.line.portOpened;
    lineOpenError_ = s.line.openError;
    lineWaitingFor_ = s.waitingFor;
    lineRequests_ = s.line.requests;
    status_->Show(Q(s.status), Q(s.statusDetail), news);
    if (!s.controls) return;
    changes_.Apply(s.controls, s.seq, [this](const engine::SnapshotChanges::Change& c) {
        ApplyControl(c.now, c.before, c.echo, c.typingAhead);
    });
    if (focusLeft_ != nullptr) {
        PassFocusOn(focusLeft_);
        focusLeft_ = nullptr;
    }
    appliedSeq_ = s.seq;
    ApplyPortInfo(s);
    NoteSelectedDevice(*s.controls);
    emit applied(s.seq);
}

// What each port entry opens: the list's tool tip holds all of them, each
// entry its own. Without it the model's tool tip stands.
void MainWindow::ApplyPortInfo(const Snapshot& s) {
    // The same descriptions over the same entries: nothing to do, as on most ticks.
    if (s.portInfo == portInfoShown_ && !portListChanged_) return;
    portInfoShown_ = s.portInfo;
    portListChanged_ = false;
    auto* combo = qobject_cast<QComboBox*>(ControlWidget(QStringLiteral("CmbPort")));
    if (combo == nullptr || !s.portInfo || s.portInfo->empty()) return;
    const std::vector<std::string>& info = *s.portInfo;
    QStringList lines;
    for (const std::string& line : info) lines << Q(line);
    const QString all = lines.join(QLatin1Char('\n'));
    if (combo->toolTip() != all) combo->setToolTip(all);
    for (int i = 0; i < combo->count() && i < lines.size(); ++i) {
        if (combo->itemData(i, Qt::ToolTipRole).toString() != lines[i])
            combo->setItemData(i, lines[i], Qt::ToolTipRole);
    }
}

void MainWindow::ApplyControl(const Control& now, const Control* before, bool userTypedThis,
                              bool typingAhead) {
    const auto found = widgets_.find(now.name);
    if (found == widgets_.end()) return;
    QWidget* w = found->second;
    const bool all = before == nullptr;

    if (all || before->enabled != now.enabled) {
        if (!now.enabled && w->hasFocus()) focusLeft_ = w;
        w->setEnabled(now.enabled);
    }
    if (all || before->visible != now.visible) w->setVisible(now.visible);
    if (all || before->toolTip != now.toolTip) {
        w->setToolTip(Q(now.toolTip));
        if (now.name == "CmbPort") portListChanged_ = true;  // the descriptions go on again
    }
    if (all || before->font != now.font) {
        QFont base = font();
        w->setFont(FontFor(now.font, base));
    }

    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        if (all || before->value != now.value) SetChecked(b, now.value != 0);
    } else if (auto* p = qobject_cast<QProgressBar*>(w)) {
        if (all || before->minimum != now.minimum || before->maximum != now.maximum)
            p->setRange(now.minimum, std::max(now.minimum, now.maximum));
        if (all || before->value != now.value) {
            const int value = std::clamp(now.value, p->minimum(), p->maximum());
            if (auto* bar = dynamic_cast<OpaqueProgressBar*>(p))
                bar->SetValue(value);
            else
                p->setValue(value);
        }
    } else if (auto* lamp = qobject_cast<Lamp*>(w)) {
        if (all || before->fillColor != now.fillColor) lamp->SetFill(now.fillColor);
    }

    const bool textChanged = all || before->caption != now.caption;
    const bool listChanged = all || before->list != now.list || before->listIndex != now.listIndex;
    // The user's own typing coming back, or typing still on its way: keep the widget.
    const bool keepUserText = userTypedThis || typingAhead;
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (!listChanged && !textChanged) return;
        QLineEdit* edit = combo->lineEdit();
        const QString typed = edit != nullptr ? edit->text() : QString();
        const int cursor = edit != nullptr ? edit->cursorPosition() : 0;
        const QSignalBlocker blockCombo(combo);
        const QSignalBlocker blockEdit(edit);
        if (all || before->list != now.list) {
            if (now.name == "CmbPort") portListChanged_ = true;
            combo->clear();
            for (const std::string& e : now.list) combo->addItem(Q(e));
        }
        combo->setCurrentIndex(now.listIndex);
        combo->setProperty(kShownIndex, combo->currentIndex());
        if (edit != nullptr) {
            if (keepUserText) {
                edit->setText(typed);
                edit->setCursorPosition(cursor);
            } else {
                edit->setText(Q(now.caption));
            }
        }
        return;
    }
    if (textChanged) ApplyText(now, w, keepUserText);
}

// The device the trend follows: the selected entry of CmbNet, as the exchange reads it.
void MainWindow::NoteSelectedDevice(const std::vector<Control>& controls) {
    std::optional<std::uint8_t> device;
    for (const Control& c : controls) {
        if (c.name != "CmbNet") continue;
        if (c.listIndex >= 0 && static_cast<std::size_t>(c.listIndex) < c.list.size()) {
            bool ok = false;
            const int a = Q(c.list[static_cast<std::size_t>(c.listIndex)]).toInt(&ok);
            if (ok && a >= 0 && a <= 255) device = static_cast<std::uint8_t>(a);
        }
        break;
    }
    if (device == selected_) return;
    selected_ = device;
    if (trend_ != nullptr) trend_->SetDevice(device);
}

// Qt hands the focus of a control being disabled to the next one in the
// chain, as likely a text box as not, whose caret would then blink for
// nothing: the user never went in. The next button in sight takes it instead.
void MainWindow::PassFocusOn(QWidget* from) {
    if (qobject_cast<QAbstractButton*>(QApplication::focusWidget()) != nullptr) return;
    for (QWidget* n = from->nextInFocusChain(); n != nullptr && n != from;
         n = n->nextInFocusChain()) {
        // The status bar's own button is no control of the model.
        if (qobject_cast<QAbstractButton*>(n) == nullptr || !client_->isAncestorOf(n) ||
            !n->isEnabled() || !n->isVisibleTo(client_) || !(n->focusPolicy() & Qt::TabFocus))
            continue;
        const QRect where(n->mapTo(client_, QPoint(0, 0)), n->size());
        if (!client_->rect().contains(where)) continue;  // a service control, cut off
        n->setFocus(Qt::TabFocusReason);
        return;
    }
}

void MainWindow::ApplyText(const Control& now, QWidget* w, bool keepUserText) {
    if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(DisplayText(now.caption));
        l->setAccessibleName(l->text());
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        // Bare boxes show no caption; the label beside them names them.
        if (now.kind == ControlKind::CommandButton) b->setText(Q(now.caption));
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        g->setTitle(Q(now.caption));
        Underlay::DropAllOn(g);  // what lies under its labels may have changed
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        const QSignalBlocker block(e);
        if (!keepUserText) e->setText(Q(now.caption));
    } else if (auto* t = dynamic_cast<SightedTextEdit*>(w)) {
        t->SetText(DisplayText(now.caption));
    }
}

}  // namespace busdesk::ui
