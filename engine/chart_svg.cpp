#include "engine/chart_svg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace busdesk::engine {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
// Text is laid out without font metrics: an average advance for 11 px sans
// serif, a little generous so that Cyrillic labels are not underestimated.
constexpr double kFontPx = 11;
constexpr double kAdvancePx = 6.4;

// The code points of `text` as UTF-8 pieces. Broken sequences, control
// characters and the two non-characters XML forbids become U+FFFD; tabs and
// line breaks become spaces (every label is one line).
std::vector<std::string_view> CodePoints(std::string_view text, std::string& storage) {
    storage.clear();
    storage.reserve(text.size());
    const auto* const s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < n;) {
        starts.push_back(storage.size());
        const unsigned char b = s[i];
        if (b < 0x80) {
            if (b == '\t' || b == '\n' || b == '\r') {
                storage += ' ';
            } else if (b < 0x20) {
                storage += kReplacement;
            } else {
                storage += static_cast<char>(b);
            }
            ++i;
            continue;
        }
        std::size_t len = 0;
        std::uint32_t cp = 0;
        std::uint32_t min = 0;
        if ((b & 0xE0) == 0xC0) {
            len = 2;
            cp = b & 0x1Fu;
            min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
            cp = b & 0x0Fu;
            min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
            cp = b & 0x07u;
            min = 0x10000;
        }
        bool ok = len != 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) {
                ok = false;
            } else {
                cp = (cp << 6) | (s[i + k] & 0x3Fu);
            }
        }
        ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) && cp != 0xFFFE &&
             cp != 0xFFFF && !(cp >= 0x80 && cp < 0xA0);
        if (ok) {
            storage.append(text.substr(i, len));
            i += len;
        } else {
            // One byte at a time, so what follows a broken sequence survives.
            storage += kReplacement;
            ++i;
        }
    }
    std::vector<std::string_view> out;
    out.reserve(starts.size());
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : storage.size();
        out.emplace_back(storage.data() + starts[k], end - starts[k]);
    }
    return out;
}

void AppendEscaped(std::string& out, std::string_view piece) {
    for (const char ch : piece) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += ch;
        }
    }
}

// A label cut in the middle to about `room` pixels, as the windows elide
// long command labels. Returns whether it was cut.
bool AppendLabel(std::string& out, std::string_view text, double room, double* width) {
    std::string storage;
    const std::vector<std::string_view> cps = CodePoints(text, storage);
    const auto fits = static_cast<std::size_t>(std::max(room / kAdvancePx, 3.0));
    if (cps.size() <= fits) {
        for (const std::string_view cp : cps) AppendEscaped(out, cp);
        if (width != nullptr) *width = static_cast<double>(cps.size()) * kAdvancePx;
        return false;
    }
    const std::size_t keep = fits - 1;
    const std::size_t head = (keep + 1) / 2;
    const std::size_t tail = keep - head;
    for (std::size_t i = 0; i < head; ++i) AppendEscaped(out, cps[i]);
    out += kEllipsis;
    for (std::size_t i = cps.size() - tail; i < cps.size(); ++i) AppendEscaped(out, cps[i]);
    if (width != nullptr) *width = static_cast<double>(fits) * kAdvancePx;
    return true;
}

double TextWidth(std::string_view text) {
    std::string storage;
    return static_cast<double>(CodePoints(text, storage).size()) * kAdvancePx;
}

// A coordinate to 0.1 px, written by hand: printf and streams would follow
// the process's locale and could write a decimal comma.
void Num(std::string& out, double v) {
    // Far beyond any picture, and llround would overflow.
    v = std::isfinite(v) ? std::clamp(v, -1e9, 1e9) : 0;
    const long long tenths = std::llround(v * 10);
    const unsigned long long a = tenths < 0 ? 0ULL - static_cast<unsigned long long>(tenths)
                                            : static_cast<unsigned long long>(tenths);
    if (tenths < 0) out += '-';
    std::array<char, 24> digits{};
    std::size_t n = 0;
    unsigned long long whole = a / 10;
    do {
        digits[n++] = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole != 0);
    while (n > 0) out += digits[--n];
    if (a % 10 != 0) {
        out += '.';
        out += static_cast<char>('0' + a % 10);
    }
}

std::string Hex(Rgb c) {
    static constexpr std::string_view kDigits = "0123456789abcdef";
    std::string s = "#";
    for (const std::uint8_t v : {c.r, c.g, c.b}) {
        s += kDigits[v >> 4];
        s += kDigits[v & 0xF];
    }
    return s;
}

// As the windows mix their grid and frame greys from text and ground.
Rgb Mix(Rgb a, Rgb b, int percentOfB) {
    const auto mix = [percentOfB](std::uint8_t x, std::uint8_t y) {
        return static_cast<std::uint8_t>((x * (100 - percentOfB) + y * percentOfB) / 100);
    };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

constexpr Rgb kGround{0xff, 0xff, 0xff};
constexpr Rgb kText{0x20, 0x20, 0x20};

int StateIndex(TrendMark::State s) {
    switch (s) {
        case TrendMark::State::Confirmed:
            return 1;
        case TrendMark::State::Refused:
            return 2;
        case TrendMark::State::Waiting:
            break;
    }
    return 0;
}

std::string Style() {
    std::string s = "<style>";
    s += ".tc text{font-family:sans-serif;font-size:11px;fill:" + Hex(kText) + "}";
    s += ".tc .tc-b{font-weight:bold}";
    s += ".tc-bg{fill:" + Hex(kGround) + "}";
    s += ".tc-gap{fill:" + Hex(Mix(kGround, kText, 9)) + "}";
    s += ".tc-g{fill:none;stroke:" + Hex(Mix(kGround, kText, 16)) + "}";
    s += ".tc-f{fill:none;stroke:" + Hex(Mix(kGround, kText, 45)) + "}";
    s += ".tc-cur{stroke:" + Hex(kText) + "}";
    for (std::size_t k = 0; k < 3; ++k) {
        const std::string c = Hex(SeriesRgb(k, false));
        const std::string n = std::to_string(k);
        s += ".tc-l" + n +
             " polyline{fill:none;stroke-width:1.5;stroke-linejoin:round;stroke:" + c + "}";
        s += ".tc-l" + n + " circle,.tc .tc-c" + n + "{fill:" + c + "}";
    }
    constexpr std::array<TrendMark::State, 3> states{
        TrendMark::State::Waiting, TrendMark::State::Confirmed, TrendMark::State::Refused};
    for (const TrendMark::State st : states) {
        const std::string c = Hex(MarkRgb(st, false));
        const std::string n = std::to_string(StateIndex(st));
        s += ".tc-m" + n + " path{stroke:" + c + ";stroke-dasharray:3 3}";
        s += ".tc .tc-m" + n + " text{fill:" + c + "}";
    }
    // A ground-coloured halo keeps command labels readable over the lines.
    s += ".tc [class^=tc-m] text{paint-order:stroke;stroke:" + Hex(kGround) +
         ";stroke-width:3px;stroke-linejoin:round}";
    s += "</style>";
    return s;
}

int Floor(float v) {
    return static_cast<int>(std::floor(v));
}

}  // namespace

std::string XmlEscaped(std::string_view text) {
    std::string storage;
    std::string out;
    out.reserve(text.size());
    for (const std::string_view cp : CodePoints(text, storage)) AppendEscaped(out, cp);
    return out;
}

std::string ChartSvg(const Chart& c, const ChartView& view, std::string_view title) {
    const int width = std::max(view.width, 1);
    const int height = std::max(view.height, 1);
    const Rect& plot = c.plot;
    std::string o;
    o.reserve(4096);
    const auto num = [&o](double v) { Num(o, v); };
    const auto at = [&](const char* name, double v) {
        o += ' ';
        o += name;
        o += "=\"";
        num(v);
        o += '"';
    };

    o += "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"tc\"";
    at("width", width);
    at("height", height);
    o += " viewBox=\"0 0 ";
    num(width);
    o += ' ';
    num(height);
    o += "\" role=\"img\"";
    if (!title.empty()) o += " aria-label=\"" + XmlEscaped(title) + "\"";
    o += '>';
    if (!title.empty()) o += "<title>" + XmlEscaped(title) + "</title>";
    if (!c.latest.empty()) o += "<desc>" + XmlEscaped(c.latest) + "</desc>";
    o += Style();
    o += "<rect class=\"tc-bg\"";
    at("width", width);
    at("height", height);
    o += "/>";

    // Stretches where answers did not come, under everything else.
    for (const GapSpan& g : c.gaps) {
        for (const SeriesChart& s : c.series) {
            o += "<rect class=\"tc-gap\"";
            at("x", Floor(g.x0));
            at("y", s.band.y);
            at("width", std::max(Floor(g.x1) - Floor(g.x0), 1));
            at("height", s.band.h);
            o += "/>";
        }
    }

    // One-pixel lines sit on pixel centres so they print sharp.
    o += "<path class=\"tc-g\" d=\"";
    for (const SeriesChart& s : c.series) {
        for (const AxisTick& t : c.timeTicks) {
            o += 'M';
            num(Floor(t.pos) + 0.5);
            o += ' ';
            num(s.band.y);
            o += 'v';
            num(s.band.h);
        }
        for (const AxisTick& t : s.ticks) {
            o += 'M';
            num(s.band.x);
            o += ' ';
            num(Floor(t.pos) + 0.5);
            o += 'h';
            num(s.band.w);
        }
    }
    o += "\"/><path class=\"tc-f\" d=\"";
    for (const SeriesChart& s : c.series) {
        o += 'M';
        num(s.band.x + 0.5);
        o += ' ';
        num(s.band.y + 0.5);
        o += 'h';
        num(s.band.w - 1);
        o += 'v';
        num(s.band.h - 1);
        o += 'h';
        num(-(s.band.w - 1));
        o += 'z';
    }
    o += "\"/>";

    // Time labels centred under their ticks, kept inside the plot at the right.
    o += "<g text-anchor=\"middle\">";
    for (const AxisTick& t : c.timeTicks) {
        const double w = TextWidth(t.label);
        const double left = std::clamp(static_cast<double>(t.pos) - w / 2, plot.x - w / 2,
                                       std::max(plot.x + plot.w - w, plot.x - w / 2));
        o += "<text";
        at("x", left + w / 2);
        at("y", plot.y + plot.h + 4 + kFontPx - 1);
        o += '>' + XmlEscaped(t.label) + "</text>";
    }
    o += "</g><g text-anchor=\"end\">";
    for (const SeriesChart& s : c.series) {
        for (const AxisTick& t : s.ticks) {
            o += "<text";
            at("x", s.band.x - 6);
            at("y", t.pos + 4);
            o += '>' + XmlEscaped(t.label) + "</text>";
        }
    }
    o += "</g>";
    for (std::size_t k = 0; k < c.series.size(); ++k) {
        const SeriesChart& s = c.series[k];
        o += "<text class=\"tc-b tc-c" + std::to_string(k) + '"';
        at("x", s.band.x);
        at("y", s.band.y - 5);
        o += '>' + XmlEscaped(s.title) + "</text>";
    }

    // The series: one polyline per unbroken run, every point the model gives.
    for (std::size_t k = 0; k < c.series.size(); ++k) {
        const SeriesChart& s = c.series[k];
        if (s.lines.empty()) continue;
        o += "<g class=\"tc-l" + std::to_string(k) + "\">";
        for (const std::vector<PointF>& line : s.lines) {
            if (line.empty()) continue;
            o += "<polyline points=\"";
            for (std::size_t i = 0; i < line.size(); ++i) {
                if (i > 0) o += ' ';
                num(line[i].x);
                o += ',';
                num(line[i].y);
            }
            o += "\"/>";
            // A lone reading draws no line: a dot shows it.
            if (line.size() == 1) {
                o += "<circle";
                at("cx", line[0].x);
                at("cy", line[0].y);
                o += " r=\"1.5\"/>";
            }
        }
        o += "</g>";
    }

    // Commands: a dashed line through every band, the label at the top, to
    // the left of the line where it would run out of the plot. On paper there
    // is no hovering to tell labels apart, so one that would cover another
    // goes a row lower.
    const int rows = std::clamp(static_cast<int>((c.series[0].band.h - 4) / (kFontPx + 2)), 1, 4);
    std::vector<std::vector<std::pair<double, double>>> taken(static_cast<std::size_t>(rows));
    for (const ChartMark& m : c.marks) {
        o += "<g class=\"tc-m" + std::to_string(StateIndex(m.state)) + "\"><path d=\"M";
        num(Floor(m.x) + 0.5);
        o += ' ';
        num(plot.y);
        o += 'v';
        num(plot.h);
        o += "\"/>";
        std::string label;
        double w = 0;
        const bool cut = AppendLabel(label, m.label, plot.w * 3.0 / 5.0, &w);
        const bool leftSide = m.x + 4 + w > plot.x + plot.w;
        const double x0 = leftSide ? m.x - 4 - w : m.x + 4;
        const double x1 = x0 + w;
        std::size_t row = taken.size() - 1;
        for (std::size_t r = 0; r < taken.size(); ++r) {
            const bool free = std::none_of(taken[r].begin(), taken[r].end(), [&](const auto& span) {
                return x0 < span.second + 4 && span.first < x1 + 4;
            });
            if (free) {
                row = r;
                break;
            }
        }
        taken[row].emplace_back(x0, x1);
        o += "<text";
        at("x", leftSide ? m.x - 4 : m.x + 4);
        at("y", c.series[0].band.y + 2 + kFontPx - 1 + static_cast<double>(row) * (kFontPx + 2));
        if (leftSide) o += " text-anchor=\"end\"";
        o += '>';
        // The whole label stays readable as the tooltip of a cut one.
        if (cut) o += "<title>" + XmlEscaped(m.label) + "</title>";
        o += label + "</text></g>";
    }

    if (c.cursor) {
        o += "<path class=\"tc-cur\" d=\"M";
        num(Floor(c.cursor->x) + 0.5);
        o += ' ';
        num(plot.y);
        o += 'v';
        num(plot.h);
        o += "\"/>";
    }

    if (c.readings == 0) {
        o += "<text text-anchor=\"middle\"";
        at("x", plot.x + plot.w / 2.0);
        at("y", plot.y + plot.h / 2.0);
        o += ">нет данных</text>";
    }
    o += "</svg>";
    return o;
}

}  // namespace busdesk::engine
