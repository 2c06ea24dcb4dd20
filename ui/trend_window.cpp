#include "ui/trend_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHash>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStaticText>
#include <QVBoxLayout>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace busdesk::ui {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

bool Dark(const QPalette& p) {
    return p.color(QPalette::Base).lightness() < 128;
}

QColor SeriesColor(std::size_t k, bool dark) {
    const engine::Rgb c = engine::SeriesRgb(k, dark);
    return QColor(c.r, c.g, c.b);
}

QColor MarkColor(engine::TrendMark::State s, bool dark) {
    const engine::Rgb c = engine::MarkRgb(s, dark);
    return QColor(c.r, c.g, c.b);
}

// A line from (x0, y0) to (x1, y1), `thick` pixels wide, clipped to the image.
void SetLine(QImage& image, int x0, int y0, int x1, int y1, QRgb colour, int thick) {
    const int w = image.width();
    const int h = image.height();
    // bits() once: scanLine() checks for a shared copy on every call.
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        if (y0 >= 0 && y0 < h) {
            auto* row = reinterpret_cast<QRgb*>(bits + stride * y0);
            for (int x = std::max(x0, 0); x < std::min(x0 + thick, w); ++x) row[x] = colour;
        }
        if (x0 == x1 && y0 == y1) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

// Column `x`, rows y0..y1, `thick` pixels wide, clipped to the image.
void SetSpan(QImage& image, int x, int y0, int y1, QRgb colour, int thick) {
    if (y0 > y1) std::swap(y0, y1);
    y0 = std::max(y0, 0);
    y1 = std::min(y1, image.height() - 1);
    const int x0 = std::max(x, 0);
    const int x1 = std::min(x + thick, image.width());
    if (y0 > y1 || x0 >= x1) return;
    uchar* row = image.bits() + image.bytesPerLine() * y0;
    for (int y = y0; y <= y1; ++y, row += image.bytesPerLine()) {
        auto* pixels = reinterpret_cast<QRgb*>(row);
        for (int i = x0; i < x1; ++i) pixels[i] = colour;
    }
}

// A series' lines into its band's layer (one pixel above the band at the top).
// Decimated lines step one column at a time: each step is a vertical run,
// which is set row by row; only sparse readings need a slanted line.
void PlotLines(QImage& layer, const engine::SeriesChart& s, QRgb colour, int thick) {
    const auto x = [&s](float v) { return static_cast<int>(std::floor(v)) - s.band.x; };
    const auto y = [&s](float v) { return static_cast<int>(std::lround(v)) - s.band.y + 1; };
    for (const std::vector<engine::PointF>& line : s.lines) {
        if (line.empty()) continue;
        int px = x(line.front().x);
        int py = y(line.front().y);
        if (line.size() == 1) SetSpan(layer, px, py - 1, py + 1, colour, thick + 1);
        for (std::size_t i = 1; i < line.size(); ++i) {
            const int nx = x(line[i].x);
            const int ny = y(line[i].y);
            if (std::abs(nx - px) <= 1) {
                SetSpan(layer, nx, py, ny, colour, thick);
            } else {
                SetLine(layer, px, py, nx, ny, colour, thick);
            }
            px = nx;
            py = ny;
        }
    }
}

QColor Mix(const QColor& a, const QColor& b, int percentOfB) {
    const auto mix = [percentOfB](int x, int y) {
        return (x * (100 - percentOfB) + y * percentOfB) / 100;
    };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

engine::TimeMs Now() {
    return engine::ToMs(std::chrono::system_clock::now());
}

}  // namespace

ChartWidget::ChartWidget(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    // The whole area is painted each time: nothing beneath needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 240);
}

void ChartWidget::SetChart(engine::Chart chart) {
    chart_ = std::move(chart);
    setAccessibleDescription(Q(chart_.latest));
    update();
}

void ChartWidget::paintEvent(QPaintEvent* event) {
    (void)event;
    ++paints_;
    QPainter p(this);
    Paint(p, chart_, palette());
}

void ChartWidget::Paint(QPainter& p, const engine::Chart& c, const QPalette& palette) {
    const bool dark = Dark(palette);
    const QColor text = palette.color(QPalette::Text);
    const QColor base = palette.color(QPalette::Base);
    // Opaque colours and whole-pixel rectangles only: the raster engine fills
    // those straight into memory, where lines and translucent fills go span by
    // span through its thread pool, which costs more than the drawing.
    const QColor grid = Mix(base, text, 16);
    const QColor frame = Mix(base, text, 45);
    const QColor gapFill = Mix(base, text, dark ? 14 : 9);
    p.fillRect(p.window(), base);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QFont normal = p.font();
    QFont bold = normal;
    bold.setBold(true);
    const QFontMetrics fm(normal);
    const int ascent = fm.ascent();
    const engine::Rect& plot = c.plot;
    // Labels are laid out once and kept: the same numbers and times come back
    // tick after tick, and laying text out is most of what a paint costs.
    static QHash<QString, QStaticText> laidOut;
    if (laidOut.size() > 2000) laidOut.clear();
    const auto label = [&p](const QString& s, const QFont& f, bool isBold) -> const QStaticText& {
        const QString key = (isBold ? QStringLiteral("b") : QStringLiteral("n")) + s;
        auto it = laidOut.find(key);
        if (it == laidOut.end()) {
            QStaticText t(s);
            t.setTextFormat(Qt::PlainText);
            t.setPerformanceHint(QStaticText::AggressiveCaching);
            t.prepare(p.transform(), f);
            it = laidOut.insert(key, t);
        }
        return *it;
    };
    const auto width = [](const QStaticText& t) { return static_cast<int>(t.size().width()); };
    const auto px = [](float v) { return static_cast<int>(std::floor(v)); };

    // Stretches where answers did not come, under everything else.
    for (const engine::GapSpan& g : c.gaps) {
        for (const engine::SeriesChart& s : c.series)
            p.fillRect(QRect(px(g.x0), s.band.y, std::max(px(g.x1) - px(g.x0), 1), s.band.h),
                       gapFill);
    }
    for (const engine::SeriesChart& s : c.series) {
        for (const engine::AxisTick& t : c.timeTicks)
            p.fillRect(QRect(px(t.pos), s.band.y, 1, s.band.h), grid);
        for (const engine::AxisTick& t : s.ticks)
            p.fillRect(QRect(s.band.x, px(t.pos), s.band.w, 1), grid);
        const QRect b(s.band.x, s.band.y, s.band.w, s.band.h);
        p.fillRect(QRect(b.left(), b.top(), b.width(), 1), frame);
        p.fillRect(QRect(b.left(), b.bottom(), b.width(), 1), frame);
        p.fillRect(QRect(b.left(), b.top(), 1, b.height()), frame);
        p.fillRect(QRect(b.right(), b.top(), 1, b.height()), frame);
    }

    p.setPen(text);
    for (const engine::AxisTick& t : c.timeTicks) {
        const QStaticText& l = label(Q(t.label), normal, false);
        const int w = width(l);
        const int x =
            std::clamp(static_cast<int>(t.pos) - w / 2, plot.x - w / 2, plot.x + plot.w - w);
        p.drawStaticText(x, plot.y + plot.h + 4, l);
    }
    for (const engine::SeriesChart& s : c.series) {
        for (const engine::AxisTick& t : s.ticks) {
            const QStaticText& l = label(Q(t.label), normal, false);
            p.drawStaticText(s.band.x - 6 - width(l), static_cast<int>(t.pos) - ascent / 2 - 1, l);
        }
    }

    p.setFont(bold);
    for (std::size_t k = 0; k < c.series.size(); ++k) {
        const engine::SeriesChart& s = c.series[k];
        p.setPen(SeriesColor(k, dark));
        p.drawStaticText(s.band.x, s.band.y - fm.height() - 3, label(Q(s.title), bold, true));
    }
    p.setFont(normal);

    // The series: pixels set straight into one layer per band, laid over it in
    // one call. Drawn as lines, the decimated columns' zigzags make thousands of
    // spans, which the raster engine hands to its thread pool batch by batch.
    const int thick = p.device() != nullptr && p.device()->logicalDpiX() >= 120 ? 2 : 1;
    for (std::size_t k = 0; k < c.series.size(); ++k) {
        const engine::SeriesChart& s = c.series[k];
        if (s.lines.empty() || s.band.w <= 0 || s.band.h <= 0) continue;
        QImage layer(s.band.w, s.band.h + 2, QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        PlotLines(layer, s, qPremultiply(SeriesColor(k, dark).rgba()), thick);
        p.drawImage(s.band.x, s.band.y - 1, layer);
    }

    // Commands: a dashed line through every band, the label at the top.
    for (const engine::ChartMark& m : c.marks) {
        const QColor colour = MarkColor(m.state, dark);
        for (int y = plot.y; y < plot.y + plot.h; y += 6)
            p.fillRect(QRect(px(m.x), y, 1, std::min(3, plot.y + plot.h - y)), colour);
        p.setPen(colour);
        const QString full = Q(m.label);
        const int room = plot.w * 3 / 5;
        const QStaticText& l = label(
            fm.horizontalAdvance(full) > room ? fm.elidedText(full, Qt::ElideMiddle, room) : full,
            normal, false);
        const int w = width(l);
        const int mx = static_cast<int>(m.x);
        const int x = mx + 4 + w > plot.x + plot.w ? mx - 4 - w : mx + 4;
        p.drawStaticText(x, c.series[0].band.y + 2, l);
    }

    if (c.cursor) p.fillRect(QRect(px(c.cursor->x), plot.y, 1, plot.h), text);
}

void ChartWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit resized();
}

void ChartWidget::mouseMoveEvent(QMouseEvent* event) {
    emit cursorMoved(static_cast<int>(event->position().x()));
}

void ChartWidget::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    emit cursorLeft();
}

TrendWindow::TrendWindow(const engine::TrendStore& store, QWidget* parent)
    : QWidget(parent, Qt::Window), store_(store) {
    setObjectName(QStringLiteral("TrendWindow"));
    setWindowTitle(QStringLiteral("График — BusDesk"));
    setAccessibleName(windowTitle());

    auto* top = new QHBoxLayout;
    deviceLabel_ = new QLabel(this);
    Named(deviceLabel_, "TrendDevice", QString());
    top->addWidget(deviceLabel_);
    top->addSpacing(12);
    auto* windowLabel = new QLabel(QStringLiteral("&Интервал:"), this);
    top->addWidget(windowLabel);
    windowChoice_ = new QComboBox(this);
    for (const int m : engine::kWindowMinutes)
        windowChoice_->addItem(QStringLiteral("%1 мин").arg(m), m);
    windowChoice_->setCurrentIndex(1);
    windowLabel->setBuddy(windowChoice_);
    Named(windowChoice_, "TrendInterval", QStringLiteral("Интервал"));
    top->addWidget(windowChoice_);
    pause_ = new QPushButton(QStringLiteral("&Пауза"), this);
    pause_->setCheckable(true);
    Named(pause_, "TrendPause", QStringLiteral("Пауза"));
    pause_->setToolTip(
        QStringLiteral("Остановить картинку; данные продолжают приходить. Наведите мышь, чтобы "
                       "прочесть значения под курсором."));
    top->addWidget(pause_);
    auto* csv = new QPushButton(QStringLiteral("Сохранить &CSV…"), this);
    Named(csv, "TrendCsv", QStringLiteral("Сохранить CSV"));
    csv->setToolTip(QStringLiteral("Показанный интервал: время, адрес, уровень, температура, ток"));
    top->addWidget(csv);
    auto* png = new QPushButton(QStringLiteral("Сохранить P&NG…"), this);
    Named(png, "TrendPng", QStringLiteral("Сохранить PNG"));
    png->setToolTip(QStringLiteral("Картинка графика, как он показан"));
    top->addWidget(png);
    top->addStretch(1);

    // Each series: its "авто" box over its two bounds, so the row fits a narrow window.
    auto* scales = new QHBoxLayout;
    const std::array<const char*, 3> keys{"Level", "Temperature", "Current"};
    for (std::size_t k = 0; k < 3; ++k) {
        const QString name = Q(engine::QuantityName(engine::kQuantities[k]));
        auto* a = new QCheckBox(name + QStringLiteral(": авто"), this);
        a->setChecked(true);
        Named(a, (std::string("TrendAuto") + keys[k]).c_str(),
              name + QStringLiteral(": шкала автоматически"));
        auto* lo = new QDoubleSpinBox(this);
        auto* hi = new QDoubleSpinBox(this);
        for (QDoubleSpinBox* b : {lo, hi}) {
            b->setDecimals(0);
            b->setRange(-4294967296.0, 4294967296.0);
            b->setEnabled(false);
            b->setKeyboardTracking(false);
        }
        Named(lo, (std::string("TrendFrom") + keys[k]).c_str(), name + QStringLiteral(": от"));
        Named(hi, (std::string("TrendTo") + keys[k]).c_str(), name + QStringLiteral(": до"));
        auto* column = new QVBoxLayout;
        column->addWidget(a);
        auto* bounds = new QHBoxLayout;
        bounds->addWidget(lo);
        bounds->addWidget(new QLabel(QStringLiteral("…"), this));
        bounds->addWidget(hi);
        column->addLayout(bounds);
        scales->addLayout(column);
        scales->addSpacing(16);
        auto_[k] = a;
        lo_[k] = lo;
        hi_[k] = hi;
        const auto apply = [this, k] {
            const bool automatic = auto_[k]->isChecked();
            lo_[k]->setEnabled(!automatic);
            hi_[k]->setEnabled(!automatic);
            SetScale(k, {automatic, lo_[k]->value(), hi_[k]->value()});
        };
        connect(a, &QCheckBox::toggled, this, [this, k, apply](bool on) {
            if (!on) {
                // A fixed scale starts from what is shown.
                const engine::SeriesChart& s = Chart().series[k];
                const QSignalBlocker b1(lo_[k]);
                const QSignalBlocker b2(hi_[k]);
                lo_[k]->setValue(s.lo);
                hi_[k]->setValue(s.hi);
            }
            apply();
        });
        connect(lo, &QDoubleSpinBox::valueChanged, this, apply);
        connect(hi, &QDoubleSpinBox::valueChanged, this, apply);
    }
    scales->addStretch(1);

    chart_ = new ChartWidget(this);
    Named(chart_, "TrendChart", QStringLiteral("График"));
    latest_ = new QLabel(this);
    latest_->setTextFormat(Qt::PlainText);
    latest_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Named(latest_, "TrendLatest", QString());
    readout_ = new QLabel(this);
    readout_->setTextFormat(Qt::PlainText);
    readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Named(readout_, "TrendReadout", QString());

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(scales);
    layout->addWidget(chart_, 1);
    layout->addWidget(latest_);
    layout->addWidget(readout_);

    connect(windowChoice_, &QComboBox::currentIndexChanged, this,
            [this](int i) { SetWindowMinutes(windowChoice_->itemData(i).toInt()); });
    connect(pause_, &QPushButton::toggled, this, &TrendWindow::SetPaused);
    connect(csv, &QPushButton::clicked, this, &TrendWindow::AskCsv);
    connect(png, &QPushButton::clicked, this, &TrendWindow::AskPng);
    connect(chart_, &ChartWidget::resized, this, &TrendWindow::Rebuild);
    connect(chart_, &ChartWidget::cursorMoved, this, [this](int x) { MoveCursor(x); });
    connect(chart_, &ChartWidget::cursorLeft, this, [this] { MoveCursor(std::nullopt); });

    resize(900, 600);
    SetDevice(std::nullopt);
}

QWidget* TrendWindow::Named(QWidget* w, const char* name, const QString& accessibleName) {
    w->setObjectName(QString::fromUtf8(name));
    // As in the main window: AT-SPI does not publish objectName, the description carries it.
    w->setAccessibleDescription(QString::fromUtf8(name));
    if (!accessibleName.isEmpty()) w->setAccessibleName(accessibleName);
    return w;
}

void TrendWindow::SetDevice(std::optional<std::uint8_t> address) {
    if (address == device_ && !deviceLabel_->text().isEmpty()) return;
    device_ = address;
    deviceLabel_->setText(address ? QStringLiteral("Устройство %1").arg(*address)
                                  : QStringLiteral("Устройство не выбрано"));
    deviceLabel_->setAccessibleName(deviceLabel_->text());
    cursorX_.reset();
    Rebuild();
}

const engine::Chart& TrendWindow::Chart() const {
    return chart_->Chart();
}

QString TrendWindow::LatestText() const {
    return latest_->text();
}

void TrendWindow::DataChanged() {
    if (!isVisible()) return;
    const engine::DeviceTrend* d = device_ ? store_.Device(*device_) : nullptr;
    const std::uint64_t v = d != nullptr ? d->version : 0;
    if (v == shownVersion_) return;
    // Paused, the chart stays as it was; the latest values still move on.
    if (paused_) {
        UpdateLatest();
        return;
    }
    Rebuild();
}

void TrendWindow::SetWindowMinutes(int minutes) {
    if (minutes == minutes_) return;
    minutes_ = minutes;
    const int i = windowChoice_->findData(minutes);
    if (i >= 0 && i != windowChoice_->currentIndex()) windowChoice_->setCurrentIndex(i);
    Rebuild();
}

void TrendWindow::SetPaused(bool paused) {
    if (paused == paused_) return;
    paused_ = paused;
    if (paused) pausedAt_ = Now();
    if (pause_->isChecked() != paused) pause_->setChecked(paused);
    pause_->setText(paused ? QStringLiteral("&Продолжить") : QStringLiteral("&Пауза"));
    pause_->setAccessibleName(paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
    Rebuild();
}

void TrendWindow::SetScale(std::size_t k, engine::Scale scale) {
    if (k >= scales_.size()) return;
    scales_[k] = scale;
    Rebuild();
}

void TrendWindow::UpdateLatest() {
    const engine::DeviceTrend* d = device_ ? store_.Device(*device_) : nullptr;
    const QString latest = Q(engine::LatestText(d, engine::LocalUtcOffsetMinutes(Now())));
    if (latest_->text() != latest) {
        latest_->setText(latest);
        latest_->setAccessibleName(latest);
    }
}

void TrendWindow::Rebuild() {
    const engine::DeviceTrend* d = device_ ? store_.Device(*device_) : nullptr;
    shownVersion_ = d != nullptr ? d->version : 0;
    const engine::TimeMs now = Now();
    engine::ChartView view;
    view.end = paused_ ? pausedAt_ : now;
    view.windowMinutes = minutes_;
    view.width = chart_->width();
    view.height = chart_->height();
    const QFontMetrics fm = chart_->fontMetrics();
    // Room for the widest value and a line of text: right at 96 and at 144 DPI.
    view.left = fm.horizontalAdvance(QStringLiteral("-4 294 967 295")) + 10;
    view.right = fm.horizontalAdvance(QStringLiteral("00:00")) / 2 + 4;
    view.top = 2;
    view.bottom = fm.height() + 8;
    view.bandGap = fm.height() + 6;
    view.utcOffsetMinutes = engine::LocalUtcOffsetMinutes(now);
    view.scales = scales_;
    view.cursorX = cursorX_;
    engine::Chart c = engine::BuildChart(d, view);
    const QString readout = c.cursor ? Q(c.cursor->text)
                            : paused_
                                ? QStringLiteral("Наведите мышь на график, чтобы прочесть значения")
                                : QString();
    if (readout_->text() != readout) {
        readout_->setText(readout);
        readout_->setAccessibleName(readout);
    }
    chart_->SetChart(std::move(c));
    UpdateLatest();
}

void TrendWindow::MoveCursor(std::optional<int> x) {
    if (x == cursorX_) return;
    cursorX_ = x;
    Rebuild();
}

bool TrendWindow::ExportCsv(const QString& path, QString* error) const {
    const engine::DeviceTrend* d = device_ ? store_.Device(*device_) : nullptr;
    const engine::Chart& c = Chart();
    const std::string csv = d != nullptr ? engine::TrendCsv(*d, *device_, c.from, c.to)
                                         : engine::TrendCsv(engine::DeviceTrend(0), 0, 0, -1);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
        !f.flush()) {
        if (error != nullptr) *error = f.errorString();
        return false;
    }
    return true;
}

bool TrendWindow::ExportPng(const QString& path, QString* error) const {
    const QPixmap picture = chart_->grab();
    if (!picture.save(path, "PNG")) {
        if (error != nullptr) *error = QStringLiteral("файл не записан");
        return false;
    }
    return true;
}

void TrendWindow::AskCsv() {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString name = QStringLiteral("trend-%1-%2.csv").arg(device_.value_or(0)).arg(stamp);
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить CSV"), name,
                                                      QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    QString why;
    if (!ExportCsv(path, &why))
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Не удалось записать %1: %2").arg(path, why));
}

void TrendWindow::AskPng() {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString name = QStringLiteral("trend-%1-%2.png").arg(device_.value_or(0)).arg(stamp);
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить PNG"), name,
                                                      QStringLiteral("PNG (*.png)"));
    if (path.isEmpty()) return;
    QString why;
    if (!ExportPng(path, &why))
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Не удалось записать %1: %2").arg(path, why));
}

void TrendWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Rebuild();
}

void TrendWindow::closeEvent(QCloseEvent* event) {
    // Hidden, not destroyed: the next opening finds it where the user left it.
    event->ignore();
    hide();
}

}  // namespace busdesk::ui
