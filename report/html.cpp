#include "report/html.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "engine/chart_svg.h"
#include "protocol/text.h"
#include "report/style.h"

namespace busdesk::report {

namespace {

using engine::XmlEscaped;

constexpr std::string_view kDash = "\xE2\x80\x94";  // —
constexpr std::uint8_t kSurveyAddress = 0xFF;
// The trend's size in SVG units: the printed page's text width at about
// 4 units a millimetre.
constexpr int kTrendWidth = 720;
constexpr int kTrendHeight = 380;
// The longest span one trend shows. The time axis has a label every two hours
// at most: a clock stepped to another year in one line must not make millions.
constexpr int kLongestTrendMinutes = 31 * 24 * 60;

std::string E(std::string_view text) {
    return XmlEscaped(text);
}

std::string Num(std::uint64_t v) {
    return std::to_string(v);
}

template <typename T>
std::string Opt(const std::optional<T>& v) {
    if (!v) return std::string(kDash);
    if constexpr (std::is_same_v<T, std::string>) {
        return E(*v);
    } else {
        return std::to_string(*v);
    }
}

std::string Ms(double v) {
    std::array<char, 32> buf{};
    if (v == std::floor(v)) {
        std::snprintf(buf.data(), buf.size(), "%.0f", v);
    } else {
        std::snprintf(buf.data(), buf.size(), "%.1f", v);
    }
    return buf.data();
}

// "2026-12-08T16:18:53.123+03:00" as people read it; other text as it is.
std::string ShownIso(const std::string& text) {
    if (const auto t = ParseIsoTime(text)) return ShownTime(t->first, t->second);
    return text;
}

std::string TwoDigits(TimeMs v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

std::string Duration(TimeMs ms) {
    const TimeMs s = ms / 1000;
    if (s >= 3600) return std::to_string(s / 3600) + " ч " + TwoDigits(s / 60 % 60) + " мин";
    if (s >= 60) return std::to_string(s / 60) + " мин " + TwoDigits(s % 60) + " с";
    return std::to_string(s) + " с";
}

std::string Offset(int minutes) {
    const int a = minutes < 0 ? -minutes : minutes;
    std::array<char, 32> buf{};
    std::snprintf(buf.data(), buf.size(), "UTC%c%02d:%02d", minutes < 0 ? '-' : '+', a / 60,
                  a % 60);
    return buf.data();
}

std::string Span(const Model& m) {
    if (!m.first || !m.last) return "нет записей";
    return ShownTime(*m.first, m.utcOffsetMinutes) + " " + std::string(kDash) + " " +
           ShownTime(*m.last, m.utcOffsetMinutes) + " (" + Offset(m.utcOffsetMinutes) + "; " +
           Duration(*m.last - *m.first) + ")";
}

std::string Plural(std::size_t n, const char* one, const char* few, const char* many) {
    const std::size_t tens = n % 100;
    const std::size_t ones = n % 10;
    if (ones == 1 && tens != 11) return std::to_string(n) + " " + one;
    if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14)) return std::to_string(n) + " " + few;
    return std::to_string(n) + " " + many;
}

std::string Cell(const std::string& html, bool num = false) {
    return num ? "<td class=\"num\">" + html + "</td>" : "<td>" + html + "</td>";
}

std::string TimeCell(const std::string& html) {
    return "<td class=\"time\">" + html + "</td>";
}

std::string Head(std::initializer_list<std::pair<const char*, bool>> columns) {
    std::string o = "<thead><tr>";
    for (const auto& [name, num] : columns)
        o += std::string(num ? "<th class=\"num\">" : "<th>") + name + "</th>";
    return o + "</tr></thead>";
}

void Open(std::string& o, const char* id, const char* title) {
    o += "<section class=\"part\" id=\"";
    o += id;
    o += "\">\n<h2>";
    o += title;
    o += "</h2>\n";
}

std::string ModeCell(const std::optional<std::uint8_t>& mode) {
    if (!mode) return std::string(kDash);
    return E(cli::site::ModeText(*mode)) + " <span class=\"muted\">(" + std::to_string(*mode) +
           ")</span>";
}

std::string CalibrationCell(const std::optional<cli::site::Calibration>& c) {
    if (!c) return std::string(kDash);
    return "Пустой " + std::to_string(c->empty) + ", Полный " + std::to_string(c->full) + ", K " +
           std::to_string(c->k);
}

std::string ReadingCell(const std::optional<cli::site::Reading>& r) {
    if (!r) return std::string(kDash);
    std::string o = "Уровень " + Opt(r->level) + ", Темп-ра ";
    o += r->temperature ? std::to_string(*r->temperature) +
                              " \xC2\xB0"
                              "C"
                        : std::string(kDash);
    o += ", Текущий " + Opt(r->current);
    if (!r->time.empty()) o += "<br><span class=\"muted\">" + E(ShownIso(r->time)) + "</span>";
    return o;
}

std::string TagId(const std::optional<std::uint32_t>& id) {
    return id ? E(proto::TagIdShown(*id)) : std::string(kDash);
}

void DeviceTables(std::string& o, const std::vector<cli::site::Device>& devices,
                  const std::map<std::uint8_t, bool>& serialKnown) {
    o += "<table class=\"grid\">";
    o += Head({{"Адрес", true},
               {"Серийный номер", true},
               {"Версия", false},
               {"Роль и флаги", false},
               {"Калибровка", false},
               {"Последнее показание", false}});
    o += "<tbody>\n";
    std::size_t tags = 0;
    for (const cli::site::Device& d : devices) {
        tags += d.tags.size();
        const auto known = serialKnown.find(d.address);
        const bool serial = known == serialKnown.end() || known->second;
        o += "<tr>" + Cell(std::to_string(d.address), true) +
             Cell(serial ? std::to_string(d.serial) : std::string(kDash), true) +
             Cell(Opt(d.version)) + Cell(ModeCell(d.mode)) + Cell(CalibrationCell(d.calibration)) +
             Cell(ReadingCell(d.reading)) + "</tr>\n";
    }
    o += "</tbody></table>\n";
    o += "<h3>Метки</h3>\n";
    if (tags == 0) {
        o += "<p>Меток нет.</p>\n";
        return;
    }
    o += "<table class=\"grid\">";
    o += Head({{"Считыватель", true},
               {"Сер. Ном.", true},
               {"ID", false},
               {"Интервал", true},
               {"Режим", true},
               {"Мощность", true},
               {"Период", true},
               {"Версия ПО", false},
               {"Уровень приема", true}});
    o += "<tbody>\n";
    for (const cli::site::Device& d : devices) {
        for (const cli::site::Tag& t : d.tags) {
            o += "<tr>" + Cell(std::to_string(d.address), true) +
                 Cell(std::to_string(t.serial), true) + Cell(TagId(t.id)) +
                 Cell(Opt(t.interval), true) + Cell(Opt(t.mode), true) + Cell(Opt(t.power), true) +
                 Cell(Opt(t.sleep), true) + Cell(Opt(t.version)) + Cell(Opt(t.level), true) +
                 "</tr>\n";
        }
    }
    o += "</tbody></table>\n";
}

void Devices(std::string& o, const Page& p) {
    const Model& m = *p.model;
    Open(o, "devices", "Устройства");
    if (p.site != nullptr) {
        o += "<p>По файлу объекта " + E(p.sitePath) + ".</p>\n";
        if (p.site->devices.empty()) {
            o += "<p>В файле объекта нет устройств.</p>\n";
        } else {
            DeviceTables(o, p.site->devices, {});
        }
    } else {
        o += "<p>По журналу: последнее, что сообщило каждое устройство.</p>\n";
        std::vector<cli::site::Device> devices;
        std::map<std::uint8_t, bool> known;
        for (const auto& [address, d] : m.devices) {
            cli::site::Device out;
            out.address = address;
            out.serial = d.serial.value_or(0);
            out.version = d.version;
            out.mode = d.mode;
            out.calibration = d.calibration;
            out.reading = d.reading;
            for (const auto& [id, t] : d.tags) out.tags.push_back(t);
            known[address] = d.serial.has_value();
            devices.push_back(std::move(out));
        }
        if (devices.empty()) {
            o += "<p>В журнале нет ответов устройств.</p>\n";
        } else {
            DeviceTables(o, devices, known);
        }
    }
    o += "</section>\n";
}

std::string ValueName(const std::string& key) {
    static const std::map<std::string, std::string> names = {
        {"new_address", "новый адрес"},
        {"mode", "режим"},
        {"serial", "серийный номер"},
        {"id", "ID"},
        {"interval", "интервал"},
        {"power", "мощность"},
        {"sleep", "период"},
    };
    const auto it = names.find(key);
    return it == names.end() ? key : it->second;
}

std::string ValuesCell(const Change& c) {
    if (c.values.empty()) return std::string(kDash);
    std::string o;
    for (const auto& [key, value] : c.values) {
        std::string shown = value;
        // A JSON string without its quotes; its escapes are of no interest here.
        if (shown.size() >= 2 && shown.front() == '"' && shown.back() == '"')
            shown = shown.substr(1, shown.size() - 2);
        if (!o.empty()) o += ", ";
        o += E(ValueName(key)) + " " + E(shown);
    }
    return o;
}

std::string OutcomeCell(const Change& c) {
    switch (c.state) {
        case Change::State::Confirmed:
            return "<td class=\"ok\">подтверждена</td>";
        case Change::State::Refused:
            return "<td class=\"fail\">не подтверждена" +
                   (c.reason.empty() ? std::string() : ": " + E(c.reason)) + "</td>";
        case Change::State::NoResult:
            break;
    }
    return "<td class=\"fail\">нет итога в журнале</td>";
}

void Changes(std::string& o, const Model& m) {
    Open(o, "changes", "Изменения");
    if (m.changes.empty()) {
        o += "<p>В журнале нет изменений.</p>\n</section>\n";
        return;
    }
    o += "<table class=\"grid\">";
    o += Head({{"№", true},
               {"Время", false},
               {"Адрес", true},
               {"Изменение", false},
               {"Значения", false},
               {"Кадр", false},
               {"Итог", false}});
    o += "<tbody>\n";
    std::size_t number = 0;
    for (const Change& c : m.changes) {
        const std::string addr = !c.addr                     ? std::string(kDash)
                                 : *c.addr == kSurveyAddress ? std::string("все")
                                                             : std::to_string(*c.addr);
        o += "<tr>" + Cell(std::to_string(++number), true) +
             TimeCell(ShownTime(c.time, c.utcOffsetMinutes)) + Cell(addr, true) +
             Cell(E(c.text.empty() ? c.what : c.text)) + Cell(ValuesCell(c)) +
             Cell("<span class=\"hex\">" + E(HexDump(c.frame, " ")) + "</span>") + OutcomeCell(c) +
             "</tr>\n";
    }
    o += "</tbody></table>\n";
    std::size_t confirmed = 0;
    for (const Change& c : m.changes) confirmed += c.state == Change::State::Confirmed ? 1 : 0;
    o += "<p>" + Plural(m.changes.size(), "изменение", "изменения", "изменений") +
         ", подтверждено " + std::to_string(confirmed) + ".</p>\n</section>\n";
}

void Line(std::string& o, const Model& m) {
    Open(o, "line", "Линия");
    if (m.line.empty()) {
        o += "<p>В журнале нет запросов.</p>\n</section>\n";
        return;
    }
    o += "<table class=\"grid\">";
    o += Head({{"Адрес", true},
               {"Запросы", true},
               {"Ответы", true},
               {"Ошибки CRC", true},
               {"Без ответа", true},
               {"Прочие приёмы", true},
               {"Ошибки записи", true},
               {"Ответ, мс: медиана", true},
               {"мин.", true},
               {"макс.", true}});
    o += "<tbody>\n";
    for (const auto& [address, f] : m.line) {
        const std::optional<ResponseTimes> r = Summarize(f.responseMs);
        const std::string none(kDash);
        o += "<tr>" +
             Cell(address == kSurveyAddress ? std::string("опрос сети") : std::to_string(address),
                  true) +
             Cell(Num(f.requests), true) + Cell(Num(f.answers), true) +
             Cell(Num(f.crcErrors), true) + Cell(Num(f.silences), true) + Cell(Num(f.other), true) +
             Cell(Num(f.writeErrors), true) + Cell(r ? Ms(r->median) : none, true) +
             Cell(r ? Num(r->min) : none, true) + Cell(r ? Num(r->max) : none, true) + "</tr>\n";
    }
    o += "</tbody></table>\n";
    o += "<p class=\"muted\">Время ответа — от строки запроса до строки ответа в журнале; "
         "обмен идёт тактами по 500 мс, ответ читается в следующем такте.</p>\n</section>\n";
}

// The chart's own <style>, the same in every chart, taken out of `svg` into
// `css` once: the document keeps one stylesheet.
std::string Hoisted(std::string svg, std::string& css) {
    const std::size_t open = svg.find("<style>");
    const std::size_t close = svg.find("</style>", open);
    if (open == std::string::npos || close == std::string::npos) return svg;
    if (css.empty()) css = svg.substr(open + 7, close - open - 7);
    svg.erase(open, close + 8 - open);
    return svg;
}

// A mark is labelled with the number of its row in the changes table: the
// whole texts of a long day's commands would cover each other on paper.
void NumberMarks(engine::Chart& chart, const engine::DeviceTrend& d, std::uint8_t address,
                 const Model& m) {
    std::size_t next = 0;  // the chart holds the marks of its window, in order
    for (const engine::TrendMark& t : d.marks) {
        if (t.time < chart.from || t.time > chart.to) continue;
        if (next == chart.marks.size()) break;
        for (std::size_t i = 0; i < m.changes.size(); ++i) {
            const Change& c = m.changes[i];
            if (c.time == t.time && c.addr == address && c.text == t.text) {
                chart.marks[next].label = "№" + std::to_string(i + 1);
                break;
            }
        }
        ++next;
    }
}

void Trends(std::string& o, const Model& m, std::string& chartCss) {
    Open(o, "trends", "Тренды");
    if (m.OldJournals()) {
        o += "<p>Тренды не построены: в журнале нет расшифрованных значений (поле "
             "<code>decoded</code>), он записан более ранней версией BusDesk.</p>\n</section>\n";
        return;
    }
    const engine::ChartView view = TrendView(m);
    if (m.first && m.last && *m.last - *m.first > view.windowMinutes * TimeMs{60000})
        o += "<p>Журнал длиннее " + std::to_string(kLongestTrendMinutes / 1440) +
             " дня: тренды показывают его последние " +
             std::to_string(kLongestTrendMinutes / 1440) + " дня.</p>\n";
    bool any = false;
    for (const std::uint8_t address : m.trends->Devices()) {
        const engine::DeviceTrend* d = m.trends->Device(address);
        if (d == nullptr || !d->Latest()) continue;
        any = true;
        engine::Chart chart = engine::BuildChart(d, view);
        NumberMarks(chart, *d, address, m);
        std::string title = "Устройство " + std::to_string(address);
        const auto dev = m.devices.find(address);
        if (dev != m.devices.end() && dev->second.serial)
            title += " (серийный номер " + std::to_string(*dev->second.serial) + ")";
        o += "<figure class=\"trend\">\n" +
             Hoisted(engine::ChartSvg(chart, view, title), chartCss) + "\n<figcaption>" + E(title) +
             ": уровень, температура и текущее значение за время журнала; " +
             Plural(chart.readings, "показание", "показания", "показаний") + ", " +
             Plural(chart.marks.size(), "команда отмечена", "команды отмечены", "команд отмечено") +
             (chart.marks.empty() ? "" : " номерами из таблицы изменений") +
             ".</figcaption>\n</figure>\n";
    }
    if (!any) o += "<p>В журнале нет показаний.</p>\n";
    o += "</section>\n";
}

void Differences(std::string& o, const Page& p) {
    Open(o, "differences", "Расхождения");
    const std::vector<cli::site::Difference> diffs =
        cli::site::Compare(*p.site, p.model->Site(), {});
    o += "<p>Файл объекта " + E(p.sitePath) +
         " сравнён с последним состоянием шины по журналу, как это делает verify.</p>\n";
    if (diffs.empty()) {
        o += "<p>Расхождений нет.</p>\n</section>\n";
        return;
    }
    o += "<table class=\"grid\">";
    o += Head({{"Серийный номер", true},
               {"Адрес", true},
               {"Поле", false},
               {"В файле", false},
               {"По журналу", false},
               {"Расхождение", false}});
    o += "<tbody>\n";
    for (const cli::site::Difference& d : diffs) {
        o += "<tr>" + Cell(std::to_string(d.serial), true) + Cell(Opt(d.address), true) +
             Cell(E(d.field)) + Cell(E(d.file)) + Cell(E(d.bus)) + Cell(E(d.text)) + "</tr>\n";
    }
    o += "</tbody></table>\n</section>\n";
}

void Notes(std::string& o, const Page& p) {
    const Model& m = *p.model;
    Open(o, "notes", "Примечания");
    o += "<ul class=\"notes\">\n";
    for (const JournalSummary& j : m.journals) {
        o += "<li>Журнал " + E(j.path) + ": " + Plural(j.lines, "строка", "строки", "строк");
        if (j.first && j.last)
            o += ", " + ShownTime(*j.first, m.utcOffsetMinutes) + " " + std::string(kDash) + " " +
                 ShownTime(*j.last, m.utcOffsetMinutes);
        if (!j.program.empty()) o += ", записан " + E(j.program);
        o += ".</li>\n";
        if (j.skipped > 0)
            o += "<li>В журнале " + E(j.path) + " пропущено " +
                 Plural(j.skipped, "строка", "строки", "строк") +
                 ": оборванные, не JSON или не строки журнала BusDesk.</li>\n";
        if (j.earlier)
            o += "<li>Журнал " + E(j.path) +
                 " начинается раньше, чем кончается журнал перед ним: журналы читаются в "
                 "заданном порядке, и тренды показывают его показания не раньше последних "
                 "показаний предыдущего.</li>\n";
        if (j.undecoded && !j.decoded)
            o += "<li>Журнал " + E(j.path) +
                 " записан без расшифрованных значений (<code>decoded</code>): его показания в "
                 "тренды не вошли, устройства и метки по нему не определены.</li>\n";
    }
    if (m.surveys > 0)
        o += "<li>Опросов сети в журнале: " + std::to_string(m.surveys) +
             " (в изменения не входят: они ничего не меняют).</li>\n";
    if (m.journals.empty()) o += "<li>Журнал не задан: отчёт только по файлу объекта.</li>\n";
    if (m.skipped == 0 && !m.journals.empty()) o += "<li>Пропущенных строк нет.</li>\n";
    if (p.site != nullptr && !m.journals.empty() && m.OldJournals())
        o += "<li>Расхождения с файлом объекта по журналу без расшифрованных значений не "
             "определить: устройства в нём не видны.</li>\n";
    o += "</ul>\n</section>\n";
}

}  // namespace

engine::ChartView TrendView(const Model& model) {
    engine::ChartView v;
    v.width = kTrendWidth;
    v.height = kTrendHeight;
    v.utcOffsetMinutes = model.utcOffsetMinutes;
    if (model.first && model.last) {
        // Whole minutes from the first line on, so the journal starts at the
        // left edge; a span beyond the longest shows its end.
        const TimeMs span = *model.last - *model.first;
        const TimeMs minutes = (span + 59999) / 60000;
        if (minutes > kLongestTrendMinutes) {
            v.windowMinutes = kLongestTrendMinutes;
            v.end = *model.last;
        } else {
            v.windowMinutes = static_cast<int>(std::max<TimeMs>(minutes, 1));
            v.end = *model.first + v.windowMinutes * TimeMs{60000};
        }
    }
    return v;
}

std::string RenderHtml(const Page& p) {
    const Model& m = *p.model;
    std::string title = "Отчёт о пусконаладке";
    if (m.last) title += " " + ShownTime(*m.last, m.utcOffsetMinutes).substr(0, 10);

    std::string body;
    body.reserve(256 * 1024);
    std::string chartCss;
    Devices(body, p);
    Changes(body, m);
    Line(body, m);
    Trends(body, m, chartCss);
    if (p.site != nullptr && !m.journals.empty()) Differences(body, p);
    Notes(body, p);

    std::string o;
    o.reserve(body.size() + 16 * 1024);
    o += "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    // The charts' rules first, so the report's own (its fonts) win.
    o += E(title) + "</title>\n<style>\n" + chartCss + "\n" + ReportCss() +
         "</style>\n</head>\n<body>\n";

    o += "<header class=\"report-head\">\n<h1>" + E(title) + "</h1>\n<dl>\n";
    if (p.site != nullptr) {
        o += "<dt>Файл объекта</dt><dd>" + E(p.sitePath) + "</dd>\n";
        o += "<dt>Дата файла</dt><dd>" + E(ShownIso(p.site->date)) + "</dd>\n";
        o += "<dt>Порт</dt><dd>" + E(p.site->port) + "</dd>\n";
    } else if (!m.port.empty()) {
        o += "<dt>Порт</dt><dd>" + E(m.port) + "</dd>\n";
    }
    if (!m.journals.empty()) o += "<dt>Журнал</dt><dd>" + E(Span(m)) + "</dd>\n";
    o += "<dt>Версия BusDesk</dt><dd>" + E(BUSDESK_VERSION) + "</dd>\n";
    o += "<dt>Отчёт составлен</dt><dd>" + E(p.madeAt) + "</dd>\n</dl>\n</header>\n";
    o += body;
    o += "</body>\n</html>\n";
    return o;
}

}  // namespace busdesk::report
