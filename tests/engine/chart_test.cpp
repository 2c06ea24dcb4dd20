// The chart description: value ticks and their labels, time ticks, the
// min/max decimation to pixel columns, gaps, a sliding window, marks and the
// cursor read-out.
#include "engine/chart.h"
#include "support/trend_samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace busdesk::engine {
namespace {

constexpr TimeMs kT0 = 1'700'000'000'000;  // 22:13:20 UTC
const std::string kNbsp = "\xC2\xA0";

TEST(NiceTicks, CoverTheRangeWithRoundSteps) {
    struct Row {
        double lo, hi;
        int most;
        bool integral;
        double step, first, last;
    };
    const std::vector<Row> rows = {
        {0, 1, 6, false, 0.2, 0, 1},
        {0, 1, 6, true, 1, 0, 1},
        {0, 1023, 7, true, 200, 0, 1200},
        {0, 4294967295.0, 5, true, 2e9, 0, 6e9},
        {0, 4294967295.0, 10, true, 5e8, 0, 4.5e9},
        {-40, -5, 5, true, 10, -40, 0},
        {-128, 127, 7, true, 50, -150, 150},
        {-0.3, 0.7, 7, false, 0.2, -0.4, 0.8},
        {512, 512, 5, true, 1, 511, 513},  // a flat series still gets a range
        {7, 3, 5, true, 1, 3, 7},          // bounds given the wrong way round
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.lo) + ".." + std::to_string(r.hi));
        const NiceScale s = NiceTicks(r.lo, r.hi, r.most, r.integral);
        EXPECT_DOUBLE_EQ(s.step, r.step);
        ASSERT_FALSE(s.ticks.empty());
        EXPECT_NEAR(s.ticks.front(), r.first, r.step * 1e-9);
        EXPECT_NEAR(s.ticks.back(), r.last, r.step * 1e-9);
        EXPECT_LE(s.lo, std::min(r.lo, r.hi));
        EXPECT_GE(s.hi, std::max(r.lo, r.hi));
        EXPECT_LE(static_cast<int>(s.ticks.size()), r.most);
        for (std::size_t i = 1; i < s.ticks.size(); ++i)
            EXPECT_NEAR(s.ticks[i] - s.ticks[i - 1], r.step, r.step * 1e-9);
    }
}

TEST(NiceTicks, LabelsAreReadable) {
    struct Row {
        double value, step;
        std::string label;
    };
    const std::vector<Row> rows = {
        {0, 1, "0"},
        {1023, 1, "1023"},
        {-40, 10, "-40"},
        {0.30000000000000004, 0.1, "0.3"},
        {-0.4, 0.2, "-0.4"},
        {1e-17, 0.2, "0"},  // never "-0" or "0.00000000000000001"
        {4294967295.0, 1, "4" + kNbsp + "294" + kNbsp + "967" + kNbsp + "295"},
        {2e9, 1e9, "2" + kNbsp + "000" + kNbsp + "000" + kNbsp + "000"},
        {-12000, 1000, "-12" + kNbsp + "000"},
        {12345.5, 0.5, "12" + kNbsp + "345.5"},
        {12346, 0.5, "12" + kNbsp + "346"},
        {0.25, 0.05, "0.25"},
    };
    for (const Row& r : rows) EXPECT_EQ(TickLabel(r.value, r.step), r.label) << r.value;
}

TEST(ClockText, LocalTimeOfDay) {
    EXPECT_EQ(ClockText(kT0, 0), "22:13:20");
    EXPECT_EQ(ClockText(kT0, 180), "01:13:20");
    EXPECT_EQ(ClockText(kT0, -300, false), "17:13");
    EXPECT_EQ(ClockText(kT0 + 999, 0), "22:13:20");
}

ChartView View(TimeMs end, int minutes, int plotWidth) {
    ChartView v;
    v.end = end;
    v.windowMinutes = minutes;
    v.left = 50;
    v.right = 10;
    v.width = plotWidth + v.left + v.right;
    v.height = 400;
    return v;
}

TEST(Chart, TimeTicksFallOnRoundLocalTimes) {
    struct Row {
        int minutes;
        int offset;
        std::string first, second;
    };
    // kT0 is 22:13:20 UTC; the plot is 600 px wide, so at most 6 labels.
    const std::vector<Row> rows = {
        {1, 0, "22:12:20", "22:12:30"}, {5, 0, "22:09", "22:10"},    {15, 0, "22:00", "22:05"},
        {60, 0, "21:20", "21:30"},      {60, 330, "02:50", "03:00"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.minutes);
        ChartView v = View(kT0, r.minutes, 600);
        v.utcOffsetMinutes = r.offset;
        const Chart c = BuildChart(nullptr, v);
        ASSERT_GE(c.timeTicks.size(), 2u);
        EXPECT_LE(c.timeTicks.size(), 7u);
        EXPECT_EQ(c.timeTicks[0].label, r.first);
        EXPECT_EQ(c.timeTicks[1].label, r.second);
        for (const AxisTick& t : c.timeTicks) {
            EXPECT_GE(t.pos, c.plot.x);
            EXPECT_LE(t.pos, c.plot.x + c.plot.w);
        }
    }
}

// Many readings per pixel column: each column keeps its lowest and highest
// value, so a one-reading spike still reaches the top of the band.
TEST(Chart, DecimationKeepsEachColumnsMinAndMax) {
    std::vector<TrendSample> samples;
    const TimeMs from = kT0 - 3'600'000;
    for (TimeMs t = from; t < kT0; t += 500) {
        const auto i = (t - from) / 500;
        std::uint16_t level = static_cast<std::uint16_t>(500 + (i % 7));
        if (i == 3600) level = 1000;  // one spike
        if (i == 5000) level = 10;    // one dip
        samples.push_back(Reading(t, level));
    }
    const DeviceTrend d = Series(samples);
    const Chart c = BuildChart(&d, View(kT0, 60, 300));
    const SeriesChart& lv = c.series[0];
    ASSERT_EQ(lv.lines.size(), 1u);
    const std::vector<PointF>& line = lv.lines[0];
    // Two points at most for each of the 300 columns, not 7200.
    EXPECT_LE(line.size(), 600u);
    EXPECT_GE(line.size(), 300u);
    const auto top =
        std::min_element(line.begin(), line.end(), [](PointF a, PointF b) { return a.y < b.y; });
    const auto bottom =
        std::max_element(line.begin(), line.end(), [](PointF a, PointF b) { return a.y < b.y; });
    const double span = lv.hi - lv.lo;
    const auto yOf = [&](double v) {
        return lv.band.y + lv.band.h - (v - lv.lo) / span * lv.band.h;
    };
    EXPECT_NEAR(top->y, yOf(1000), 0.01);
    EXPECT_NEAR(bottom->y, yOf(10), 0.01);
    // The spike sits in the column of its time: halfway along the plot.
    EXPECT_NEAR(top->x, c.plot.x + 150, 1.0);
    // Points run left to right.
    for (std::size_t i = 1; i < line.size(); ++i) EXPECT_LE(line[i - 1].x, line[i].x);
}

// Within one column the order is kept: a fall comes out as max then min.
TEST(Chart, DecimationKeepsTheOrderWithinAColumn) {
    const DeviceTrend d =
        Series({Reading(kT0 - 1000, 10), Reading(kT0 - 900, 900), Reading(kT0 - 800, 100)});
    ChartView v = View(kT0, 60, 10);  // 6 minutes a column
    const Chart c = BuildChart(&d, v);
    const std::vector<PointF>& line = c.series[0].lines.at(0);
    ASSERT_EQ(line.size(), 2u);
    EXPECT_GT(line[0].y, line[1].y) << "10 came first, so the low point comes first";
}

TEST(Chart, LineBreaksAtMissedAnswersAndLongSilences) {
    struct Row {
        const char* name;
        std::vector<TrendSample> samples;
        std::size_t lines;
        std::size_t gaps;
    };
    const TimeMs t = kT0 - 30'000;
    const std::vector<Row> rows = {
        {"steady", {Reading(t, 1), Reading(t + 1000, 2), Reading(t + 2000, 3)}, 1, 0},
        {"a miss", {Reading(t, 1), Miss(t + 1000), Reading(t + 2000, 3)}, 2, 1},
        // Not asked for a while (another device was selected): broken, no gap shown.
        {"long pause", {Reading(t, 1), Reading(t + 10'000, 2)}, 2, 0},
        {"silent at the end", {Reading(t, 1), Reading(t + 1000, 2), Miss(t + 2000)}, 1, 1},
        {"silent from the start", {Miss(t - 60'000), Reading(t, 1)}, 1, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const DeviceTrend d = Series(r.samples);
        const Chart c = BuildChart(&d, View(kT0, 1, 600));
        for (const SeriesChart& s : c.series) EXPECT_EQ(s.lines.size(), r.lines);
        ASSERT_EQ(c.gaps.size(), r.gaps);
        for (const GapSpan& g : c.gaps) {
            EXPECT_LE(g.x0, g.x1);
            EXPECT_GE(g.x0, c.plot.x);
            EXPECT_LE(g.x1, c.plot.x + c.plot.w);
        }
    }
}

TEST(Chart, GapRunsFromTheLastReadingToTheNext) {
    const TimeMs t = kT0 - 30'000;
    const DeviceTrend d = Series({Reading(t, 1), Miss(t + 1000), Reading(t + 6000, 3)});
    const Chart c = BuildChart(&d, View(kT0, 1, 600));  // 10 px a second
    ASSERT_EQ(c.gaps.size(), 1u);
    EXPECT_NEAR(c.gaps[0].x0, c.plot.x + 300, 0.01);
    EXPECT_NEAR(c.gaps[0].x1, c.plot.x + 360, 0.01);
}

// The window slides with the end time: readings leave on the left.
TEST(Chart, WindowSlides) {
    std::vector<TrendSample> samples;
    for (int i = 0; i < 180; ++i) samples.push_back(Reading(kT0 + i * 1000, 100));
    const DeviceTrend d = Series(samples);
    struct Row {
        TimeMs end;
        std::size_t readings;
        float lastX;  // where the newest reading in the window is drawn
    };
    // 1 minute over 600 px: 10 px a second.
    const std::vector<Row> rows = {
        {kT0 + 30'000, 31, 600.5f},  {kT0 + 60'000, 61, 600.5f}, {kT0 + 120'000, 61, 600.5f},
        {kT0 + 209'000, 31, 300.5f}, {kT0 + 400'000, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.end - kT0);
        const Chart c = BuildChart(&d, View(r.end, 1, 600));
        EXPECT_EQ(c.readings, r.readings);
        EXPECT_EQ(c.from, r.end - 60'000);
        if (r.readings == 0) {
            EXPECT_TRUE(c.series[0].lines.empty());
            continue;
        }
        // The last column is the plot's last pixel.
        EXPECT_NEAR(c.series[0].lines.back().back().x,
                    static_cast<float>(c.plot.x) + std::min(r.lastX, 599.5f), 1.0);
    }
}

TEST(Chart, AutomaticAndFixedScales) {
    const DeviceTrend d =
        Series({Reading(kT0 - 2000, 300, -5, 10), Reading(kT0 - 1000, 700, 30, 4000000000u)});
    ChartView v = View(kT0, 1, 600);
    v.scales[1] = {false, -50, 50};
    v.scales[2] = {false, 0, 1000};  // the current runs off the top
    const Chart c = BuildChart(&d, v);
    EXPECT_LE(c.series[0].lo, 300);
    EXPECT_GE(c.series[0].hi, 700);
    EXPECT_EQ(c.series[0].title, "Уровень");
    EXPECT_EQ(c.series[1].lo, -50);
    EXPECT_EQ(c.series[1].hi, 50);
    EXPECT_EQ(c.series[1].ticks.front().label, "-50");
    EXPECT_NEAR(c.series[1].ticks.front().pos, c.series[1].band.y + c.series[1].band.h, 0.01);
    EXPECT_NE(c.series[1].title.find("задана"), std::string::npos);
    // Drawn clipped to its band, not across the others.
    const SeriesChart& cur = c.series[2];
    for (const PointF& p : cur.lines.at(0)) {
        EXPECT_GE(p.y, cur.band.y);
        EXPECT_LE(p.y, cur.band.y + cur.band.h);
    }
    EXPECT_NEAR(cur.lines.at(0).back().y, cur.band.y, 0.01);
    // Bands do not overlap.
    for (std::size_t k = 1; k < 3; ++k)
        EXPECT_GE(c.series[k].band.y, c.series[k - 1].band.y + c.series[k - 1].band.h);
}

TEST(Chart, MarksSitAtTheirCommandsTimeWithTheirOutcome) {
    DeviceTrend d = Series({Reading(kT0 - 50'000, 1)});
    d.marks.push_back(
        {kT0 - 30'000, 1, "calibrate_high", "Калибровка", TrendMark::State::Confirmed, ""});
    d.marks.push_back({kT0 - 20'000, 2, "mode", "Режим", TrendMark::State::Refused, "нет ответа"});
    d.marks.push_back({kT0 - 10'000, 3, "mode", "Режим", TrendMark::State::Waiting, ""});
    d.marks.push_back({kT0 - 90'000, 4, "mode", "Старая", TrendMark::State::Confirmed, ""});
    const Chart c = BuildChart(&d, View(kT0, 1, 600));
    ASSERT_EQ(c.marks.size(), 3u);
    EXPECT_NEAR(c.marks[0].x, c.plot.x + 300, 0.01);
    EXPECT_NEAR(c.marks[1].x, c.plot.x + 400, 0.01);
    EXPECT_NE(c.marks[0].label.find("подтверждено"), std::string::npos);
    EXPECT_NE(c.marks[1].label.find("не подтверждено: нет ответа"), std::string::npos);
    EXPECT_EQ(c.marks[2].state, TrendMark::State::Waiting);
}

TEST(Chart, CursorReadsTheValuesUnderIt) {
    const TimeMs t = kT0 - 30'000;
    const DeviceTrend d = Series({Reading(t, 512, -5, 7), Reading(t + 1000, 513, -5, 7),
                                  Miss(t + 2000), Reading(t + 9000, 600, 1, 8)});
    struct Row {
        int px;  // pixels from the plot's left edge, 10 px a second
        std::string text;
    };
    const std::vector<Row> rows = {
        {305, "22:12:50 · Уровень 512 · Темп-ра -5 °C · Текущий 7"},
        {315, "22:12:51 · Уровень 513 · Темп-ра -5 °C · Текущий 7"},
        {350, "22:12:55 · нет данных"},  // after the miss
        {100, "22:12:30 · нет данных"},  // before the first reading
        {395, "22:12:59 · Уровень 600 · Темп-ра 1 °C · Текущий 8"},
    };
    for (const Row& r : rows) {
        ChartView v = View(kT0, 1, 600);
        v.cursorX = v.left + r.px;
        const Chart c = BuildChart(&d, v);
        ASSERT_TRUE(c.cursor.has_value());
        EXPECT_EQ(c.cursor->text, r.text);
    }
    ChartView outside = View(kT0, 1, 600);
    outside.cursorX = 5;
    EXPECT_FALSE(BuildChart(&d, outside).cursor.has_value());
}

TEST(Chart, LatestValuesAsText) {
    EXPECT_EQ(LatestText(nullptr, 0), "Нет данных");
    const DeviceTrend d = Series({Reading(kT0, 512, 25, 1), Miss(kT0 + 1000)});
    EXPECT_EQ(LatestText(&d, 0),
              "Уровень 512 · Темп-ра 25 °C · Текущий 1 (22:13:20) · нет ответа с 22:13:21");
}

}  // namespace
}  // namespace busdesk::engine
