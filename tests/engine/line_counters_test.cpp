#include "engine/line_counters.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace busdesk::engine {
namespace {

// Why the port did not open is what the status bar says until one opens;
// the figures of an earlier session stay in the tool tip, marked as such.
TEST(LineCountersText, AFailedOpenSaysWhyInTheLineAndTheToolTip) {
    const std::string why = "нет такого устройства /dev/ttyUSB0 (No such file or directory)";
    LineCounters never;
    never.openError = why;
    LineCounters after;  // a session ran, the port was closed, reopening failed
    after.portOpened = true;
    after.requests = 5;
    after.replies = 4;
    after.openError = why;
    LineCounters lossy = never;  // the journal lost lines meanwhile
    lossy.journal = true;
    lossy.journalLines = 10;
    lossy.journalLost = 3;
    LineCounters open;  // the port opened: figures, no reason
    open.portOpened = true;
    open.requests = 2;

    struct Row {
        const char* what;
        LineCounters counters;
        std::string line;
        std::string detailStart;
        bool figures;  // the detail has the table of figures
    };
    const Row rows[] = {
        {"nothing yet", LineCounters{}, "", "", false},
        {"never opened", never, "Порт не открыт: " + why, "Порт не открыт: " + why, false},
        {"after a session", after, "Порт не открыт: " + why,
         "Порт не открыт: " + why + "\n\nПрежнее открытие порта:\nЗапросов отправлено: 5", true},
        {"journal losses", lossy, "Порт не открыт: " + why + " · журнал: потеряно 3",
         "Порт не открыт: " + why + "\nЖурнал: записано строк 10, потеряно 3", false},
        {"open", open, "Запросов 2 · ответов 0 · CRC 0 · без ответа 0", "Запросов отправлено: 2",
         true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(StatusLine(row.counters), row.line) << row.what;
        const std::string detail = StatusDetail(row.counters);
        EXPECT_EQ(detail.substr(0, row.detailStart.size()), row.detailStart) << row.what;
        EXPECT_EQ(detail.find("Без ответа: ") != std::string::npos, row.figures) << row.what;
    }
}

// Characters, not bytes: every Cyrillic letter is two bytes and one place.
int Places(std::string_view s) {
    int n = 0;
    for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// A line too long for the bar drops whole fields, so that no figure shows
// cut off ("(мин 3,2…" read as a minimum of 3.2).
TEST(LineCountersText, ALineThatDoesNotFitDropsWholeFields) {
    const std::string line = "Запросов 123 · ответов 120 · CRC 2 · отклик 3,1 мс (3,1–6,3)";
    const int all = Places(line);  // 60
    struct Row {
        int room;
        std::string shown;
    };
    const Row rows[] = {
        {all, line},
        {all - 1, "Запросов 123 · ответов 120 · CRC 2 · …"},
        {38, "Запросов 123 · ответов 120 · CRC 2 · …"},
        {37, "Запросов 123 · ответов 120 · …"},
        {16, "Запросов 123 · …"},
        {15, "Запросов 123…"},  // the first field alone is cut, by characters
        {10, "Запросов…"},
        {2, "З…"},
        {1, "…"},
        {0, ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(FitStatusLine(line, row.room, Places), row.shown) << row.room;
        EXPECT_LE(Places(FitStatusLine(line, row.room, Places)), row.room) << row.room;
    }
    // A reason has no fields: cut between characters, never inside one.
    const std::string why = "Порт не открыт: нет доступа к /dev/ttyS0 (Permission denied)";
    EXPECT_EQ(FitStatusLine(why, 20, Places), "Порт не открыт: нет…");
}

}  // namespace
}  // namespace busdesk::engine
