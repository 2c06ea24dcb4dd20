#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/trend.h"

// The trend chart described as data: every front end (QPainter, GDI, SVG)
// only walks what BuildChart returns, so all of them show the same thing.
namespace busdesk::engine {

// Ticks for a value axis: multiples of 1, 2 or 5 times a power of ten that
// cover [lo, hi], at most about `most` of them.
struct NiceScale {
    double lo = 0;
    double hi = 1;
    double step = 1;
    std::vector<double> ticks;
};
// `integral`: the values are whole numbers, so no step below 1.
NiceScale NiceTicks(double lo, double hi, int most, bool integral);
// A tick's label: as many decimals as the step needs, thousands grouped by a
// no-break space ("4 294 967 295").
std::string TickLabel(double value, double step);

enum class Quantity : std::uint8_t { Level, Temperature, Current };
inline constexpr std::array<Quantity, 3> kQuantities{Quantity::Level, Quantity::Temperature,
                                                     Quantity::Current};
// The window's own row names: "Уровень", "Темп-ра", "Текущий".
std::string QuantityName(Quantity q);
// "512", "-5 °C", "4294967295": as the main window shows the value.
std::string QuantityValue(Quantity q, const TrendSample& s);
double ValueOf(Quantity q, const TrendSample& s);

struct Scale {
    bool automatic = true;
    double lo = 0;  // fixed scale only
    double hi = 0;
};

// Time windows the user can pick, in minutes.
inline constexpr std::array<int, 4> kWindowMinutes{1, 5, 15, 60};

struct ChartView {
    TimeMs end = 0;  // the right edge: now, or the moment paused
    int windowMinutes = 5;
    int width = 800;  // the whole chart, pixels
    int height = 480;
    int left = 72;  // room for value labels
    int right = 12;
    int top = 8;
    int bottom = 24;           // room for time labels
    int bandGap = 18;          // between two series, room for a series' title
    int utcOffsetMinutes = 0;  // time labels in local time
    std::array<Scale, 3> scales{};
    std::optional<int> cursorX;  // a cursor line at this pixel column
};

struct PointF {
    float x = 0;
    float y = 0;
};
struct Rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};
struct AxisTick {
    float pos = 0;  // y for a value axis, x for the time axis
    std::string label;
};

struct SeriesChart {
    Quantity quantity = Quantity::Level;
    std::string title;  // "Уровень", with "(шкала задана)" when fixed
    Rect band;
    double lo = 0;
    double hi = 1;
    std::vector<AxisTick> ticks;
    // The line, broken where answers did not come.
    std::vector<std::vector<PointF>> lines;
};

struct ChartMark {
    float x = 0;
    std::string label;  // the command and what became of it
    TrendMark::State state = TrendMark::State::Waiting;
};

// A stretch with no readings because answers did not come, [x0, x1].
struct GapSpan {
    float x0 = 0;
    float x1 = 0;
};

struct Readout {
    float x = 0;
    TimeMs time = 0;
    std::string text;  // "12:03:15 · Уровень 512 · Темп-ра 25 °C · Текущий 1"
};

struct Chart {
    Rect plot;  // all bands, the time axis below
    TimeMs from = 0;
    TimeMs to = 0;
    std::vector<AxisTick> timeTicks;
    std::array<SeriesChart, 3> series;
    std::vector<GapSpan> gaps;
    std::vector<ChartMark> marks;
    std::optional<Readout> cursor;
    std::string latest;        // the latest values as text, for people and assistive technology
    std::size_t readings = 0;  // readings in the window
};

// A reading that follows the one before after more than this, or after a
// miss, starts a new line.
inline constexpr TimeMs kGapMs = 3000;

// `d` may be null (nothing heard of the device yet).
Chart BuildChart(const DeviceTrend* d, const ChartView& view);

// "12:03:15" in the view's local time.
std::string ClockText(TimeMs t, int utcOffsetMinutes, bool seconds = true);
// The values at time `t`: the reading at or before it unless a gap lies
// between; nullopt in a gap or before the first reading.
std::optional<TrendSample> ReadingAt(const DeviceTrend& d, TimeMs t);
// The line under the cursor at `t`.
std::string ReadoutText(const DeviceTrend* d, TimeMs t, int utcOffsetMinutes);
// The latest values: "Уровень 512 · Темп-ра 25 °C · Текущий 1 (12:03:15)".
std::string LatestText(const DeviceTrend* d, int utcOffsetMinutes);

// The local time zone's offset from UTC at `t`, minutes.
int LocalUtcOffsetMinutes(TimeMs t);

// Colours every renderer of the chart uses, chosen to hold their contrast on
// a light and on a dark ground.
struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};
// Series k of the chart (level, temperature, current).
Rgb SeriesRgb(std::size_t k, bool dark);
// A command mark by its outcome.
Rgb MarkRgb(TrendMark::State state, bool dark);

}  // namespace busdesk::engine
