#include "engine/line_counters.h"

#include <string>

namespace busdesk::engine {

namespace {

constexpr const char* kDot = " · ";

// Whole milliseconds from 10 ms up, one decimal (with a comma) below.
std::string Ms(std::int64_t us) {
    if (us < 0) us = 0;
    if (us >= 9950) return std::to_string((us + 500) / 1000) + " мс";
    const std::int64_t tenths = (us + 50) / 100;
    return std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) + " мс";
}

std::string Bare(std::int64_t us) {
    std::string s = Ms(us);
    return s.substr(0, s.size() - std::string(" мс").size());
}

void Row(std::string& out, const char* label, std::uint64_t value) {
    out += label;
    out += ": ";
    out += std::to_string(value);
    out += '\n';
}

}  // namespace

std::string StatusLine(const LineCounters& c) {
    if (!c.portOpened) return {};
    std::string s = "Запросов " + std::to_string(c.requests);
    s += kDot;
    s += "ответов " + std::to_string(c.replies + c.surveyAnswers);
    s += kDot;
    s += "CRC " + std::to_string(c.badCrc);
    s += kDot;
    s += "без ответа " + std::to_string(c.silent);
    if (c.unknownCodes > 0) s += std::string(kDot) + "неизв. код " + std::to_string(c.unknownCodes);
    if (c.writeFailures > 0)
        s += std::string(kDot) + "ошибок записи " + std::to_string(c.writeFailures);
    if (c.timed > 0) {
        s += std::string(kDot) + "отклик " + Ms(c.lastUs) + " (мин " + Bare(c.minUs) + ", макс " +
             Bare(c.maxUs) + ")";
    }
    if (c.journal && (c.journalLost > 0 || !c.journalError.empty()))
        s += std::string(kDot) + "журнал: потеряно " + std::to_string(c.journalLost);
    return s;
}

std::string StatusDetail(const LineCounters& c) {
    if (!c.portOpened) return {};
    std::string s;
    Row(s, "Запросов отправлено", c.requests);
    Row(s, "Байт передано", c.bytesOut);
    Row(s, "Байт принято", c.bytesIn);
    Row(s, "Ответов разобрано", c.replies);
    Row(s, "Ответов на опрос сети", c.surveyAnswers);
    Row(s, "Ошибок CRC", c.badCrc);
    Row(s, "Неизвестных кодов ответа", c.unknownCodes);
    Row(s, "Посторонних приёмов", c.other);
    Row(s, "Без ответа", c.silent);
    Row(s, "Ошибок записи", c.writeFailures);
    if (c.untimed) {
        s += "Отклик: порт не сообщает о приходе байтов\n";
    } else if (c.timed > 0) {
        s += "Отклик устройства " + std::to_string(c.device) + " (последних " +
             std::to_string(c.timed) + "): последний " + Ms(c.lastUs) + ", медиана " +
             Ms(c.medianUs) + ", мин " + Ms(c.minUs) + ", макс " + Ms(c.maxUs) + "\n";
    } else {
        s += "Отклик: ещё не измерен\n";
    }
    if (c.journal) {
        s += "Журнал: записано строк " + std::to_string(c.journalLines) + ", потеряно " +
             std::to_string(c.journalLost);
        if (!c.journalError.empty()) s += ", ошибка: " + c.journalError;
        s += '\n';
    }
    s.pop_back();
    return s;
}

}  // namespace busdesk::engine
