#include "engine/line_counters.h"

#include <charconv>
#include <functional>
#include <string>
#include <string_view>

namespace busdesk::engine {

namespace {

// Built on every snapshot: appended in place, no temporaries.
class Text {
  public:
    Text() { s_.reserve(512); }
    Text& operator<<(std::string_view v) {
        s_ += v;
        return *this;
    }
    Text& operator<<(std::uint64_t v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        s_.append(buf, r.ptr);
        return *this;
    }
    // Whole milliseconds from 10 ms up, one decimal (with a comma) below.
    Text& Ms(std::int64_t us, bool unit = true) {
        if (us < 0) us = 0;
        const auto u = static_cast<std::uint64_t>(us);
        if (u >= 9950) {
            *this << (u + 500) / 1000;
        } else {
            const std::uint64_t tenths = (u + 50) / 100;
            *this << tenths / 10 << "," << tenths % 10;
        }
        if (unit) s_ += " мс";
        return *this;
    }
    std::string Take() { return std::move(s_); }

  private:
    std::string s_;
};

constexpr std::string_view kDot = " · ";
constexpr std::string_view kNotOpen = "Порт не открыт: ";

void JournalDetail(Text& t, const LineCounters& c) {
    if (!c.journal) return;
    t << "\nЖурнал: записано строк " << c.journalLines << ", потеряно " << c.journalLost;
    if (!c.journalError.empty()) t << ", ошибка: " << c.journalError;
}

void Waiting(Text& t, const LineState& s) {
    t << "Жду линию " << s.waitingFor << " — новая попытка через "
      << static_cast<std::uint64_t>(s.retrySeconds < 0 ? 0 : s.retrySeconds) << " с";
}

}  // namespace

std::string StatusLine(const LineCounters& c, const LineState& s) {
    // Why the port did not open, or that its line is awaited, comes first:
    // until one opens the figures (of an earlier session, if any) are not
    // what the user is looking at.
    if (!s.waitingFor.empty() || !c.openError.empty()) {
        Text t;
        if (!s.waitingFor.empty())
            Waiting(t, s);
        else
            t << kNotOpen << c.openError;
        if (c.journal && (c.journalLost > 0 || !c.journalError.empty()))
            t << kDot << "журнал: потеряно " << c.journalLost;
        return t.Take();
    }
    if (!c.portOpened) return {};
    Text t;
    t << "Запросов " << c.requests << kDot << "ответов " << c.replies + c.surveyAnswers << kDot
      << "CRC " << c.badCrc << kDot << "без ответа " << c.silent;
    if (c.unknownCodes > 0) t << kDot << "неизв. код " << c.unknownCodes;
    if (c.writeFailures > 0) t << kDot << "ошибок записи " << c.writeFailures;
    if (c.timed > 0) {
        t << kDot << "отклик ";
        // The range in brief: the line must fit the window's starting width
        // with a day's counts; the tool tip names minimum and maximum.
        t.Ms(c.lastUs) << " (";
        t.Ms(c.minUs, false) << "–";
        t.Ms(c.maxUs, false) << ")";
    }
    if (c.journal && (c.journalLost > 0 || !c.journalError.empty()))
        t << kDot << "журнал: потеряно " << c.journalLost;
    return t.Take();
}

std::string FitStatusLine(std::string_view line, int room,
                          const std::function<int(std::string_view)>& width) {
    if (width(line) <= room) return std::string(line);
    constexpr std::string_view kEllipsis = "…";
    // Whole fields first, so that no figure shows cut off ("(мин 3,2…").
    for (std::size_t end = line.rfind(kDot); end != std::string_view::npos && end > 0;
         end = line.rfind(kDot, end - 1)) {
        std::string head(line.substr(0, end));
        head += kDot;
        head += kEllipsis;
        if (width(head) <= room) return head;
    }
    // Not even the first field fits: cut it between characters.
    std::string head(line.substr(0, line.find(kDot)));
    while (!head.empty()) {
        while (!head.empty() && head.back() == ' ') head.pop_back();
        std::string shown = head;
        shown += kEllipsis;
        if (width(shown) <= room) return shown;
        // One character: its continuation bytes, then its lead byte.
        while (!head.empty() && (static_cast<unsigned char>(head.back()) & 0xC0) == 0x80)
            head.pop_back();
        if (!head.empty()) head.pop_back();
    }
    return width(kEllipsis) <= room ? std::string(kEllipsis) : std::string();
}

std::string StatusDetail(const LineCounters& c, const LineState& s) {
    Text t;
    if (!s.waitingFor.empty()) {
        Waiting(t, s);
        t << "\nПопыток открыть: " << std::uint64_t{s.tries};
        if (!s.lastTry.empty()) t << "\nПоследняя попытка: " << s.lastTry;
        if (c.openError.empty() && !c.portOpened) return t.Take();
        t << "\n\n";
    }
    if (!c.openError.empty()) {
        t << kNotOpen << c.openError;
        if (!c.portOpened) {
            JournalDetail(t, c);
            return t.Take();
        }
        t << "\n\nПрежнее открытие порта:\n";
    } else if (!c.portOpened) {
        return {};
    }
    t << "Запросов отправлено: " << c.requests << "\nБайт передано: " << c.bytesOut
      << "\nБайт принято: " << c.bytesIn << "\nОтветов разобрано: " << c.replies
      << "\nОтветов на опрос сети: " << c.surveyAnswers << "\nОшибок CRC: " << c.badCrc
      << "\nНеизвестных кодов ответа: " << c.unknownCodes << "\nПосторонних приёмов: " << c.other
      << "\nБез ответа: " << c.silent << "\nОшибок записи: " << c.writeFailures;
    if (c.untimed) {
        t << "\nОтклик: порт не сообщает о приходе байтов";
    } else if (c.timed > 0) {
        t << "\nОтклик устройства " << static_cast<std::uint64_t>(c.device) << " (последних "
          << std::uint64_t{c.timed} << "): последний ";
        t.Ms(c.lastUs) << ", медиана ";
        t.Ms(c.medianUs) << ", мин ";
        t.Ms(c.minUs) << ", макс ";
        t.Ms(c.maxUs);
    } else {
        t << "\nОтклик: ещё не измерен";
    }
    if (!s.networkTarget.empty())
        t << "\nСетевая линия " << s.networkTarget
          << ": сервер добавляет свою задержку к каждому ответу";
    if (!s.notice.empty()) t << "\nЛиния: " << s.notice;
    JournalDetail(t, c);
    return t.Take();
}

}  // namespace busdesk::engine
