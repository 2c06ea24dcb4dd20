// The chart as SVG text: well-formed XML, the model's lines point for point,
// gaps, hostile label text, an empty trend, and numbers that ignore the locale.
#include "engine/chart_svg.h"
#include "support/trend_samples.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace busdesk::engine {
namespace {

constexpr TimeMs kT0 = 1'700'000'000'000;

// A small XML reader, strict enough to reject what a browser's XML parser
// would: unbalanced or crossed tags, unquoted or repeated attributes, a raw
// '<' or '&', unknown entities, broken UTF-8, control characters.
struct Element {
    std::string name;
    std::map<std::string, std::string> attrs;
    std::string text;  // its own character data, entities resolved
    int parent = -1;
};

bool ValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            if (b < 0x20 && b != '\n' && b != '\t' && b != '\r') return false;
            ++i;
            continue;
        }
        std::size_t len = (b & 0xE0) == 0xC0   ? 2
                          : (b & 0xF0) == 0xE0 ? 3
                          : (b & 0xF8) == 0xF0 ? 4
                                               : 0;
        if (len == 0 || i + len > s.size()) return false;
        std::uint32_t cp = b & (len == 2 ? 0x1Fu : len == 3 ? 0x0Fu : 0x07u);
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        const std::uint32_t min = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
            cp == 0xFFFF)
            return false;
        i += len;
    }
    return true;
}

std::optional<std::string> Unescape(const std::string& raw) {
    if (raw.find('<') != std::string::npos) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '&') {
            out += raw[i];
            continue;
        }
        const std::size_t semi = raw.find(';', i);
        if (semi == std::string::npos) return std::nullopt;
        const std::string ent = raw.substr(i + 1, semi - i - 1);
        static const std::map<std::string, std::string> named = {
            {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
        const auto it = named.find(ent);
        if (it == named.end()) return std::nullopt;
        out += it->second;
        i = semi;
    }
    return out;
}

std::optional<std::vector<Element>> ParseXml(const std::string& xml) {
    if (!ValidUtf8(xml)) return std::nullopt;
    std::vector<Element> out;
    std::vector<int> open;
    bool rootDone = false;
    std::size_t i = 0;
    const auto isName = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_' || c == ':';
    };
    while (i < xml.size()) {
        if (xml[i] != '<') {
            const std::size_t next = std::min(xml.find('<', i), xml.size());
            const std::optional<std::string> text = Unescape(xml.substr(i, next - i));
            if (!text) return std::nullopt;
            if (open.empty()) {
                if (text->find_first_not_of(" \n\t") != std::string::npos) return std::nullopt;
            } else {
                out[static_cast<std::size_t>(open.back())].text += *text;
            }
            i = next;
            continue;
        }
        if (xml.compare(i, 2, "</") == 0) {
            const std::size_t end = xml.find('>', i);
            if (end == std::string::npos || open.empty()) return std::nullopt;
            if (xml.substr(i + 2, end - i - 2) != out[static_cast<std::size_t>(open.back())].name)
                return std::nullopt;
            open.pop_back();
            if (open.empty()) rootDone = true;
            i = end + 1;
            continue;
        }
        if (rootDone) return std::nullopt;
        Element e;
        e.parent = open.empty() ? -1 : open.back();
        ++i;
        while (i < xml.size() && isName(xml[i])) e.name += xml[i++];
        if (e.name.empty()) return std::nullopt;
        for (;;) {
            const std::size_t before = i;
            while (i < xml.size() && xml[i] == ' ') ++i;
            if (i >= xml.size()) return std::nullopt;
            if (xml[i] == '>' || xml.compare(i, 2, "/>") == 0) break;
            if (i == before) return std::nullopt;  // attributes need a space between them
            std::string key;
            while (i < xml.size() && isName(xml[i])) key += xml[i++];
            if (key.empty() || i + 1 >= xml.size() || xml[i] != '=' || xml[i + 1] != '"')
                return std::nullopt;
            const std::size_t close = xml.find('"', i + 2);
            if (close == std::string::npos) return std::nullopt;
            const std::optional<std::string> value = Unescape(xml.substr(i + 2, close - i - 2));
            if (!value || !e.attrs.emplace(key, *value).second) return std::nullopt;
            i = close + 1;
        }
        out.push_back(e);
        if (xml[i] == '/') {
            i += 2;
            if (open.empty()) rootDone = true;
        } else {
            open.push_back(static_cast<int>(out.size()) - 1);
            ++i;
        }
    }
    if (!open.empty() || !rootDone) return std::nullopt;
    return out;
}

std::vector<const Element*> All(const std::vector<Element>& doc, const std::string& name) {
    std::vector<const Element*> r;
    for (const Element& e : doc)
        if (e.name == name) r.push_back(&e);
    return r;
}

std::string ClassOf(const std::vector<Element>& doc, const Element& e) {
    const Element& parent = doc[static_cast<std::size_t>(e.parent)];
    const auto it = parent.attrs.find("class");
    return it == parent.attrs.end() ? std::string() : it->second;
}

std::vector<PointF> Points(const std::string& attr) {
    std::vector<PointF> r;
    static const std::regex pair(R"((-?\d+(?:\.\d)?),(-?\d+(?:\.\d)?))");
    for (auto it = std::sregex_iterator(attr.begin(), attr.end(), pair);
         it != std::sregex_iterator(); ++it)
        r.push_back({std::stof((*it)[1]), std::stof((*it)[2])});
    return r;
}

ChartView View(int minutes, int width = 720, int height = 420) {
    ChartView v;
    v.end = kT0;
    v.windowMinutes = minutes;
    v.width = width;
    v.height = height;
    return v;
}

// An hour of readings twice a second with a silence in the middle, a lone
// reading after it, and a command of each outcome.
DeviceTrend Busy() {
    std::vector<TrendSample> s;
    const TimeMs from = kT0 - 3'600'000;
    for (TimeMs t = from; t < kT0 - 1'800'000; t += 500) {
        const auto i = (t - from) / 500;
        s.push_back(Reading(t, static_cast<std::uint16_t>(500 + i % 13),
                            static_cast<std::int8_t>(-5 + i % 3), static_cast<std::uint32_t>(i)));
    }
    s.push_back(Miss(kT0 - 1'790'000));
    s.push_back(Reading(kT0 - 1'200'000, 700));  // alone between two silences
    s.push_back(Miss(kT0 - 1'190'000));
    for (TimeMs t = kT0 - 600'000; t < kT0; t += 500) s.push_back(Reading(t, 600, 3, 9));
    DeviceTrend d = Series(s);
    d.marks.push_back({kT0 - 2'000'000, 1, "mode", "Режим", TrendMark::State::Confirmed, ""});
    d.marks.push_back({kT0 - 1'000'000, 2, "mode", "Режим", TrendMark::State::Refused, "нет"});
    d.marks.push_back(
        {kT0 - 1'000, 3, "calibrate_high", "Калибровка", TrendMark::State::Waiting, ""});
    return d;
}

TEST(ChartSvg, SelfContainedWellFormedAndSized) {
    const DeviceTrend busy = Busy();
    ChartView withCursor = View(60, 900, 500);
    withCursor.cursorX = 400;
    struct Row {
        const char* name;
        const DeviceTrend* d;
        ChartView view;
    };
    const std::vector<Row> rows = {
        {"nothing heard", nullptr, View(5)},
        {"busy hour", &busy, View(60)},
        {"cursor, larger", &busy, withCursor},
        {"last minute", &busy, View(1, 400, 300)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string svg = ChartSvg(BuildChart(r.d, r.view), r.view, "Устройство 1 <Уровень>");
        const auto doc = ParseXml(svg);
        ASSERT_TRUE(doc.has_value()) << svg;
        const Element& root = doc->front();
        EXPECT_EQ(root.name, "svg");
        EXPECT_EQ(root.attrs.at("width"), std::to_string(r.view.width));
        EXPECT_EQ(root.attrs.at("height"), std::to_string(r.view.height));
        EXPECT_EQ(root.attrs.at("viewBox"),
                  "0 0 " + std::to_string(r.view.width) + " " + std::to_string(r.view.height));
        EXPECT_EQ(root.attrs.at("aria-label"), "Устройство 1 <Уровень>");
        EXPECT_TRUE(All(*doc, "script").empty());
        for (const Element& e : *doc) {
            for (const auto& [key, value] : e.attrs) {
                EXPECT_EQ(key.find("href"), std::string::npos) << e.name;
                EXPECT_EQ(value.find("url("), std::string::npos) << e.name;
            }
        }
        EXPECT_EQ(svg.find("@import"), std::string::npos);
        EXPECT_EQ(svg.find("url("), std::string::npos);
        // Every series title and tick label the model has is written.
        const Chart c = BuildChart(r.d, r.view);
        std::vector<std::string> texts;
        for (const Element* t : All(*doc, "text")) texts.push_back(t->text);
        const auto has = [&texts](const std::string& s) {
            return std::find(texts.begin(), texts.end(), s) != texts.end();
        };
        for (const SeriesChart& s : c.series) {
            EXPECT_TRUE(has(s.title)) << s.title;
            for (const AxisTick& t : s.ticks) EXPECT_TRUE(has(t.label)) << t.label;
        }
        for (const AxisTick& t : c.timeTicks) EXPECT_TRUE(has(t.label)) << t.label;
    }
}

TEST(ChartSvg, PolylinesCarryTheModelsPointsAndBreakAtGaps) {
    const DeviceTrend d = Busy();
    for (const int width : {300, 720, 1600}) {
        SCOPED_TRACE(width);
        const ChartView view = View(60, width);
        const Chart c = BuildChart(&d, view);
        const auto doc = ParseXml(ChartSvg(c, view));
        ASSERT_TRUE(doc.has_value());
        const std::vector<const Element*> polylines = All(*doc, "polyline");
        std::size_t total = 0;
        for (std::size_t k = 0; k < c.series.size(); ++k) {
            const SeriesChart& s = c.series[k];
            // The silence and the lone reading make three runs at least.
            ASSERT_GE(s.lines.size(), 3u);
            std::vector<const Element*> mine;
            for (const Element* p : polylines)
                if (ClassOf(*doc, *p) == "tc-l" + std::to_string(k)) mine.push_back(p);
            ASSERT_EQ(mine.size(), s.lines.size());
            total += mine.size();
            for (std::size_t j = 0; j < mine.size(); ++j) {
                const std::vector<PointF> pts = Points(mine[j]->attrs.at("points"));
                ASSERT_EQ(pts.size(), s.lines[j].size()) << "run " << j;
                for (std::size_t i = 0; i < pts.size(); ++i) {
                    EXPECT_NEAR(pts[i].x, s.lines[j][i].x, 0.051);
                    EXPECT_NEAR(pts[i].y, s.lines[j][i].y, 0.051);
                }
            }
        }
        EXPECT_EQ(total, polylines.size());
        // Each silence is shaded across every band.
        ASSERT_FALSE(c.gaps.empty());
        std::size_t shaded = 0;
        for (const Element* r : All(*doc, "rect"))
            shaded += r->attrs.count("class") != 0 && r->attrs.at("class") == "tc-gap";
        EXPECT_EQ(shaded, c.gaps.size() * c.series.size());
        // Marks keep their outcome.
        std::vector<std::string> markClasses;
        for (const Element& e : *doc)
            if (e.name == "g" && e.attrs.count("class") &&
                e.attrs.at("class").rfind("tc-m", 0) == 0)
                markClasses.push_back(e.attrs.at("class"));
        ASSERT_EQ(markClasses.size(), c.marks.size());
        EXPECT_NE(markClasses[0], markClasses[1]);
        EXPECT_NE(markClasses[1], markClasses[2]);
        EXPECT_NE(markClasses[0], markClasses[2]);
    }
}

TEST(ChartSvg, HostileLabelTextStaysText) {
    struct Row {
        std::string label;
        std::string shown;  // what a reader sees, entities resolved
    };
    const std::string fffd = "\xEF\xBF\xBD";
    const std::vector<Row> rows = {
        {"<script>alert(1)</script>", "<script>alert(1)</script>"},
        {"Режим & <калибровка> \"a\" 'b' ]]>", "Режим & <калибровка> \"a\" 'b' ]]>"},
        {"&amp; &#x3c;", "&amp; &#x3c;"},
        {"a\x01z\x1f", "a" + fffd + "z" + fffd},
        {"tab\tnew\nline", "tab new line"},
        {"cut \xD0", "cut " + fffd},                               // sequence ends early
        {"\xC0\xAF", fffd + fffd},                                 // overlong '/'
        {"\xED\xA0\x80x", fffd + fffd + fffd + "x"},               // a surrogate
        {"\xEF\xBF\xBE", fffd + fffd + fffd},                      // U+FFFE, not a character
        {"\xD0\x9A\xFF\xD0\xB0", "\xD0\x9A" + fffd + "\xD0\xB0"},  // stray byte inside Cyrillic
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.shown);
        DeviceTrend d = Series({Reading(kT0 - 30'000, 1)});
        d.marks.push_back({kT0 - 20'000, 1, "mode", r.label, TrendMark::State::Refused, ""});
        const ChartView view = View(1);
        const Chart c = BuildChart(&d, view);
        ASSERT_EQ(c.marks.size(), 1u);
        const std::string svg = ChartSvg(c, view, r.label);
        const auto doc = ParseXml(svg);
        ASSERT_TRUE(doc.has_value()) << svg;
        EXPECT_TRUE(All(*doc, "script").empty());
        EXPECT_EQ(doc->front().attrs.at("aria-label"), r.shown);
        EXPECT_EQ(XmlEscaped(r.label).find_first_of("<>\"'"), std::string::npos);
        bool found = false;
        for (const Element* t : All(*doc, "text"))
            found = found || t->text.find(r.shown) != std::string::npos;
        EXPECT_TRUE(found);
    }
}

TEST(ChartSvg, LongLabelIsCutBetweenCharacters) {
    std::string label;
    for (int i = 0; i < 60; ++i) label += "Ж&";  // two bytes and an entity, over and over
    label += "конец";
    DeviceTrend d = Series({Reading(kT0 - 30'000, 1)});
    d.marks.push_back({kT0 - 59'000, 1, "mode", label, TrendMark::State::Confirmed, ""});
    d.marks.push_back({kT0 - 1'000, 2, "mode", "справа", TrendMark::State::Confirmed, ""});
    const ChartView view = View(1, 500, 300);
    const Chart c = BuildChart(&d, view);
    const auto doc = ParseXml(ChartSvg(c, view));
    ASSERT_TRUE(doc.has_value());
    std::vector<const Element*> labels;
    for (const Element* t : All(*doc, "text"))
        if (ClassOf(*doc, *t).rfind("tc-m", 0) == 0) labels.push_back(t);
    ASSERT_EQ(labels.size(), 2u);
    const std::string& shown = labels[0]->text;
    EXPECT_LT(shown.size(), label.size());
    EXPECT_NE(shown.find("\xE2\x80\xA6"), std::string::npos);
    EXPECT_EQ(shown.rfind("Ж&", 0), 0u);
    // Both ends kept whole: ten bytes are five Cyrillic letters.
    const std::string& full = c.marks[0].label;
    EXPECT_EQ(shown.substr(shown.size() - 10), full.substr(full.size() - 10));
    // The whole label is kept as the cut one's tooltip.
    const std::vector<const Element*> titles = All(*doc, "title");
    ASSERT_EQ(titles.size(), 1u);
    EXPECT_EQ(titles[0]->text, full);
    // A label at the right edge turns to the left of its line.
    EXPECT_EQ(labels[1]->attrs.count("text-anchor"), 1u);
    EXPECT_LT(std::stof(labels[1]->attrs.at("x")), c.marks[1].x);
    EXPECT_GT(std::stof(labels[0]->attrs.at("x")), c.marks[0].x);
}

// Paper has no hovering: labels of commands close together take rows of
// their own, and one far enough away goes back to the top row.
TEST(ChartSvg, MarkLabelsDoNotCoverEachOther) {
    DeviceTrend d = Series({Reading(kT0 - 30'000, 1)});
    for (const TimeMs t : {kT0 - 50'000, kT0 - 49'000, kT0 - 48'000, kT0 - 10'000})
        d.marks.push_back({t, 1, "mode", "Режим", TrendMark::State::Confirmed, ""});
    const ChartView view = View(1, 900, 420);
    const Chart c = BuildChart(&d, view);
    ASSERT_EQ(c.marks.size(), 4u);
    const auto doc = ParseXml(ChartSvg(c, view));
    ASSERT_TRUE(doc.has_value());
    std::vector<float> y;
    for (const Element* t : All(*doc, "text"))
        if (ClassOf(*doc, *t).rfind("tc-m", 0) == 0) y.push_back(std::stof(t->attrs.at("y")));
    ASSERT_EQ(y.size(), 4u);
    EXPECT_NE(y[0], y[1]);
    EXPECT_NE(y[1], y[2]);
    EXPECT_NE(y[0], y[2]);
    EXPECT_EQ(y[3], y[0]);
    for (const float v : y) {
        EXPECT_GT(v, c.series[0].band.y);
        EXPECT_LT(v, c.series[0].band.y + c.series[0].band.h);
    }
}

TEST(ChartSvg, NoReadingsSaysSo) {
    const DeviceTrend silent = Series({Miss(kT0 - 40'000), Miss(kT0 - 20'000)});
    const DeviceTrend old = Series({Reading(kT0 - 900'000, 5)});  // out of the window
    const DeviceTrend live = Series({Reading(kT0 - 30'000, 5), Reading(kT0 - 29'000, 6)});
    struct Row {
        const char* name;
        const DeviceTrend* d;
        bool empty;
    };
    const std::vector<Row> rows = {
        {"never heard", nullptr, true},
        {"only misses", &silent, true},
        {"readings out of the window", &old, true},
        {"readings", &live, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const ChartView view = View(1);
        const auto doc = ParseXml(ChartSvg(BuildChart(r.d, view), view));
        ASSERT_TRUE(doc.has_value());
        bool says = false;
        for (const Element* t : All(*doc, "text")) says = says || t->text == "нет данных";
        EXPECT_EQ(says, r.empty);
        EXPECT_EQ(All(*doc, "polyline").empty(), r.empty);
    }
}

// A locale whose decimal separator is a comma, for C++ streams.
struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(ChartSvg, NumbersIgnoreTheLocale) {
    const std::locale before =
        std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
    const std::string cBefore = std::setlocale(LC_ALL, nullptr);
    // The C library's too, where such a locale is installed.
    for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "ru_RU.utf8", "de_DE.utf8"})
        if (std::setlocale(LC_NUMERIC, name) != nullptr) break;

    const DeviceTrend d = Busy();
    const ChartView view = View(60, 777, 433);  // odd sizes: fractional coordinates
    const std::string svg = ChartSvg(BuildChart(&d, view), view);

    std::locale::global(before);
    std::setlocale(LC_ALL, cBefore.c_str());

    const auto doc = ParseXml(svg);
    ASSERT_TRUE(doc.has_value());
    static const std::regex number(R"(-?\d+(\.\d)?)");
    static const std::regex pairs(R"((-?\d+(\.\d)?,-?\d+(\.\d)?)( -?\d+(\.\d)?,-?\d+(\.\d)?)*)");
    static const std::regex path(R"(([Mvhz]|-?\d+(\.\d)?| )*)");
    bool fractional = false;
    for (const Element& e : *doc) {
        for (const auto& [key, value] : e.attrs) {
            if (key == "points") {
                EXPECT_TRUE(std::regex_match(value, pairs)) << value.substr(0, 80);
            } else if (key == "d") {
                EXPECT_TRUE(std::regex_match(value, path)) << value.substr(0, 80);
            } else if (key == "x" || key == "y" || key == "width" || key == "height" ||
                       key == "cx" || key == "cy") {
                EXPECT_TRUE(std::regex_match(value, number)) << key << "=" << value;
            } else {
                continue;
            }
            fractional = fractional || value.find('.') != std::string::npos;
        }
    }
    EXPECT_TRUE(fractional);  // there were decimals to get wrong
}

}  // namespace
}  // namespace busdesk::engine
