#include "engine/chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "engine/local_time.h"

namespace busdesk::engine {

namespace {

constexpr const char* kNbsp = "\xC2\xA0";
constexpr const char* kDot = " \xC2\xB7 ";  // " · "

std::string ValuesText(const TrendSample& s) {
    std::string out;
    for (const Quantity q : kQuantities) {
        if (!out.empty()) out += kDot;
        out += QuantityName(q) + ' ' + QuantityValue(q, s);
    }
    return out;
}

std::string MarkLabel(const TrendMark& m) {
    switch (m.state) {
        case TrendMark::State::Confirmed:
            return m.text + " \xE2\x80\x94 подтверждено";
        case TrendMark::State::Refused:
            return m.text + " \xE2\x80\x94 не подтверждено" +
                   (m.reason.empty() ? "" : ": " + m.reason);
        case TrendMark::State::Waiting:
            break;
    }
    return m.text + " \xE2\x80\x94 ждёт подтверждения";
}

// Time tick steps, shortest first.
constexpr std::array<TimeMs, 14> kTimeSteps{1000,   2000,    5000,    10000,  15000,
                                            30000,  60000,   120000,  300000, 600000,
                                            900000, 1800000, 3600000, 7200000};

// The points of one pixel column: its lowest and highest value, in the order
// they came, so a spike is never lost however many readings share the column.
struct Column {
    int col = -1;
    double min = 0;
    double max = 0;
    int minAt = 0;
    int maxAt = 0;
    int n = 0;
    bool any = false;

    bool MinFirst() const { return minAt <= maxAt; }
    void Add(double v) {
        if (!any || v < min) {
            min = v;
            minAt = n;
        }
        if (!any || v > max) {
            max = v;
            maxAt = n;
        }
        any = true;
        ++n;
    }
};

}  // namespace

NiceScale NiceTicks(double lo, double hi, int most, bool integral) {
    NiceScale s;
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
        lo = 0;
        hi = 1;
    }
    if (lo > hi) std::swap(lo, hi);
    if (lo == hi) {
        const double pad = integral ? 1.0 : std::max(std::fabs(lo) * 0.1, 1.0);
        lo -= pad;
        hi += pad;
    }
    most = std::max(most, 2);
    const double rough = (hi - lo) / (most - 1);
    double mag = std::pow(10.0, std::floor(std::log10(rough)));
    // The finest round step whose ticks, widened to cover the range, are few enough.
    double klo = 0;
    double khi = 0;
    double step = 0;
    for (int i = 0; i < 12; ++i) {
        step = (i % 3 == 0 ? 1.0 : i % 3 == 1 ? 2.0 : 5.0) * mag;
        if (i % 3 == 2) mag *= 10;
        if (integral && step < 1) continue;
        // A little slack, so 0.3 / 0.1 counts as 3 and not 2.9999.
        klo = std::floor(lo / step + 1e-9);
        khi = std::ceil(hi / step - 1e-9);
        if (khi - klo + 1 <= most) break;
    }
    s.step = step;
    s.lo = klo * step;
    s.hi = khi * step;
    for (double k = klo; k <= khi; k += 1.0) s.ticks.push_back(k * step);
    return s;
}

std::string TickLabel(double value, double step) {
    if (std::fabs(value) < std::fabs(step) * 1e-6) value = 0;
    int decimals = 0;
    if (step > 0 && step < 1) decimals = static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    std::array<char, 64> buf{};
    std::snprintf(buf.data(), buf.size(), "%.*f", decimals, value);
    std::string text = buf.data();
    // "0.4" beside "0", not "0.0": only the digits a value needs.
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
        if (text == "-0") text = "0";
    }
    const std::size_t sign = text[0] == '-' ? 1 : 0;
    const std::size_t point = std::min(text.find('.'), text.size());
    // Group only numbers of five digits or more, as Russian typesetting does.
    if (point - sign <= 4) return text;
    std::string grouped = text.substr(0, sign);
    for (std::size_t i = sign; i < point; ++i) {
        if (i > sign && (point - i) % 3 == 0) grouped += kNbsp;
        grouped += text[i];
    }
    return grouped + text.substr(point);
}

std::string QuantityName(Quantity q) {
    switch (q) {
        case Quantity::Level:
            return "Уровень";
        case Quantity::Temperature:
            return "Темп-ра";
        case Quantity::Current:
            break;
    }
    return "Текущий";
}

double ValueOf(Quantity q, const TrendSample& s) {
    switch (q) {
        case Quantity::Level:
            return s.level;
        case Quantity::Temperature:
            return s.temperature;
        case Quantity::Current:
            break;
    }
    return s.current;
}

std::string QuantityValue(Quantity q, const TrendSample& s) {
    switch (q) {
        case Quantity::Level:
            return std::to_string(s.level);
        case Quantity::Temperature:
            return std::to_string(s.temperature) +
                   " \xC2\xB0"
                   "C";
        case Quantity::Current:
            break;
    }
    return std::to_string(s.current);
}

std::string ClockText(TimeMs t, int utcOffsetMinutes, bool seconds) {
    const TimeMs local = t + static_cast<TimeMs>(utcOffsetMinutes) * 60000;
    TimeMs day = (local / 1000) % 86400;
    if (local % 1000 < 0) --day;  // floor, also before 1970
    if (day < 0) day += 86400;
    const int secs = static_cast<int>(day);
    std::array<char, 32> buf{};
    if (seconds) {
        std::snprintf(buf.data(), buf.size(), "%02d:%02d:%02d", secs / 3600, secs / 60 % 60,
                      secs % 60);
    } else {
        std::snprintf(buf.data(), buf.size(), "%02d:%02d", secs / 3600, secs / 60 % 60);
    }
    return buf.data();
}

int LocalUtcOffsetMinutes(TimeMs t) {
    return LocalTimeOf(static_cast<std::time_t>(t / 1000)).utcOffsetMinutes;
}

std::optional<TrendSample> ReadingAt(const DeviceTrend& d, TimeMs t) {
    const std::size_t after = d.samples.LowerBound(t + 1);
    if (after == 0) return std::nullopt;
    const TrendSample& s = d.samples[after - 1];
    if (s.missed || t - s.time > kGapMs) return std::nullopt;
    return s;
}

std::string ReadoutText(const DeviceTrend* d, TimeMs t, int utcOffsetMinutes) {
    std::string out = ClockText(t, utcOffsetMinutes) + kDot;
    const std::optional<TrendSample> s = d != nullptr ? ReadingAt(*d, t) : std::nullopt;
    return out + (s ? ValuesText(*s) : "нет данных");
}

std::string LatestText(const DeviceTrend* d, int utcOffsetMinutes) {
    const std::optional<TrendSample> s = d != nullptr ? d->Latest() : std::nullopt;
    if (!s) return "Нет данных";
    std::string out = ValuesText(*s) + " (" + ClockText(s->time, utcOffsetMinutes) + ")";
    const TrendSample& last = d->samples[d->samples.Size() - 1];
    if (last.missed)
        out += kDot + std::string("нет ответа с ") + ClockText(last.time, utcOffsetMinutes);
    return out;
}

Chart BuildChart(const DeviceTrend* d, const ChartView& view) {
    Chart c;
    const TimeMs window = static_cast<TimeMs>(std::max(view.windowMinutes, 1)) * 60000;
    c.to = view.end;
    c.from = view.end - window;
    c.plot = {view.left, view.top, std::max(view.width - view.left - view.right, 1),
              std::max(view.height - view.top - view.bottom, 1)};
    const Rect& p = c.plot;
    const double perMs = static_cast<double>(p.w) / static_cast<double>(window);
    const auto xOf = [&](TimeMs t) {
        return static_cast<float>(p.x + static_cast<double>(t - c.from) * perMs);
    };

    // The time axis: the shortest step that leaves ~90 px between labels.
    const auto room = static_cast<TimeMs>(std::max(p.w / 90, 2));
    TimeMs step = kTimeSteps.back();
    for (const TimeMs s : kTimeSteps) {
        if (window / s <= room) {
            step = s;
            break;
        }
    }
    const TimeMs offset = static_cast<TimeMs>(view.utcOffsetMinutes) * 60000;
    TimeMs first = c.from + offset;
    first = (first / step + (first % step > 0 ? 1 : 0)) * step - offset;
    if (first < c.from) first += step;
    for (TimeMs t = first; t <= c.to; t += step)
        c.timeTicks.push_back({xOf(t), ClockText(t, view.utcOffsetMinutes, step < 60000)});

    // The readings in the window.
    std::size_t i0 = 0;
    std::size_t i1 = 0;
    if (d != nullptr) {
        i0 = d->samples.LowerBound(c.from);
        i1 = d->samples.LowerBound(c.to + 1);
    }
    for (std::size_t i = i0; i < i1; ++i) c.readings += d->samples[i].missed ? 0u : 1u;

    // Gaps: from the last reading before a miss to the first one after it.
    if (d != nullptr) {
        std::optional<float> open;
        std::optional<TimeMs> lastReading;
        if (i0 > 0 && d->samples[i0 - 1].missed) open = static_cast<float>(p.x);
        for (std::size_t i = i0; i < i1; ++i) {
            const TrendSample& s = d->samples[i];
            if (s.missed) {
                if (!open) open = lastReading ? xOf(*lastReading) : static_cast<float>(p.x);
                continue;
            }
            if (open) c.gaps.push_back({*open, xOf(s.time)});
            open.reset();
            lastReading = s.time;
        }
        if (open) c.gaps.push_back({*open, static_cast<float>(p.x + p.w)});
    }

    const int bandH = std::max((p.h - 3 * view.bandGap) / 3, 1);
    for (std::size_t k = 0; k < kQuantities.size(); ++k) {
        const Quantity q = kQuantities[k];
        SeriesChart& sc = c.series[k];
        sc.quantity = q;
        sc.band = {p.x, p.y + static_cast<int>(k) * (bandH + view.bandGap) + view.bandGap, p.w,
                   bandH};
        const Scale& scale = view.scales[k];
        const int most = std::max(bandH / 28, 2);
        const bool fixed = !scale.automatic && scale.hi > scale.lo;
        sc.title = QuantityName(q) + (fixed ? " (шкала задана)" : "");
        if (fixed) {
            const NiceScale n = NiceTicks(scale.lo, scale.hi, most, true);
            sc.lo = scale.lo;
            sc.hi = scale.hi;
            for (const double v : n.ticks) {
                if (v >= scale.lo && v <= scale.hi) sc.ticks.push_back({0, TickLabel(v, n.step)});
            }
        } else {
            double lo = 0;
            double hi = 1;
            bool any = false;
            for (std::size_t i = i0; i < i1; ++i) {
                const TrendSample& s = d->samples[i];
                if (s.missed) continue;
                const double v = ValueOf(q, s);
                lo = any ? std::min(lo, v) : v;
                hi = any ? std::max(hi, v) : v;
                any = true;
            }
            const NiceScale n = NiceTicks(lo, hi, most, true);
            sc.lo = n.lo;
            sc.hi = n.hi;
            for (const double v : n.ticks) sc.ticks.push_back({0, TickLabel(v, n.step)});
        }
        const Rect& b = sc.band;
        const double span = sc.hi - sc.lo;
        const auto yOf = [&](double v) {
            const double y = b.y + b.h - (v - sc.lo) / span * b.h;
            return static_cast<float>(
                std::clamp(y, static_cast<double>(b.y), static_cast<double>(b.y + b.h)));
        };
        // Tick labels were made in value order; place them now the range is known.
        {
            const NiceScale n = fixed ? NiceTicks(scale.lo, scale.hi, most, true)
                                      : NiceTicks(sc.lo, sc.hi, most, true);
            std::size_t t = 0;
            for (const double v : n.ticks) {
                if (fixed && (v < scale.lo || v > scale.hi)) continue;
                if (t < sc.ticks.size()) sc.ticks[t++].pos = yOf(v);
            }
        }

        if (d == nullptr) continue;
        Column col;
        std::vector<PointF> line;
        std::optional<TimeMs> prev;
        const auto flush = [&] {
            if (!col.any) return;
            const auto x = static_cast<float>(p.x + col.col + 0.5);
            const double a = col.MinFirst() ? col.min : col.max;
            const double z = col.MinFirst() ? col.max : col.min;
            line.push_back({x, yOf(a)});
            if (z != a) line.push_back({x, yOf(z)});
            col = Column{};
        };
        const auto breakLine = [&] {
            flush();
            if (!line.empty()) sc.lines.push_back(std::move(line));
            line.clear();
        };
        for (std::size_t i = i0; i < i1; ++i) {
            const TrendSample& s = d->samples[i];
            if (s.missed) {
                breakLine();
                prev.reset();
                continue;
            }
            if (prev && s.time - *prev > kGapMs) breakLine();
            prev = s.time;
            const int cx = std::clamp(
                static_cast<int>(static_cast<double>(s.time - c.from) * perMs), 0, p.w - 1);
            if (cx != col.col) flush();
            col.col = cx;
            col.Add(ValueOf(q, s));
        }
        breakLine();
    }

    if (d != nullptr) {
        for (const TrendMark& m : d->marks) {
            if (m.time < c.from || m.time > c.to) continue;
            c.marks.push_back({xOf(m.time), MarkLabel(m), m.state});
        }
    }
    if (view.cursorX && *view.cursorX >= p.x && *view.cursorX <= p.x + p.w) {
        const TimeMs t =
            c.from + static_cast<TimeMs>(static_cast<double>(*view.cursorX - p.x) / perMs);
        c.cursor =
            Readout{static_cast<float>(*view.cursorX), t, ReadoutText(d, t, view.utcOffsetMinutes)};
    }
    c.latest = LatestText(d, view.utcOffsetMinutes);
    return c;
}

Rgb SeriesRgb(std::size_t k, bool dark) {
    static constexpr std::array<Rgb, 3> light{Rgb{0x1f, 0x5f, 0xbf}, Rgb{0xc0, 0x39, 0x2b},
                                              Rgb{0x1e, 0x7d, 0x32}};
    static constexpr std::array<Rgb, 3> night{Rgb{0x6c, 0xb4, 0xff}, Rgb{0xff, 0x8a, 0x65},
                                              Rgb{0x81, 0xd8, 0x81}};
    return (dark ? night : light)[k % 3];
}

Rgb MarkRgb(TrendMark::State state, bool dark) {
    switch (state) {
        case TrendMark::State::Confirmed:
            return dark ? Rgb{0x81, 0xd8, 0x81} : Rgb{0x1e, 0x7d, 0x32};
        case TrendMark::State::Refused:
            return dark ? Rgb{0xff, 0x6e, 0x6e} : Rgb{0xc6, 0x28, 0x28};
        case TrendMark::State::Waiting:
            break;
    }
    return dark ? Rgb{0xff, 0xcc, 0x66} : Rgb{0xb2, 0x6a, 0x00};
}

}  // namespace busdesk::engine
