// The report's model from journal lines: changes, line figures, devices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/journal_reader.h"
#include "report/model.h"

namespace busdesk::report {
namespace {

using Journal = std::vector<std::string>;

// The journals in order, each line parsed as the reader parses it.
Model Build(const std::vector<Journal>& journals) {
    ModelBuilder b(10000);
    for (std::size_t i = 0; i < journals.size(); ++i) {
        b.BeginJournal("j" + std::to_string(i + 1) + ".jsonl");
        std::size_t lines = 0;
        std::size_t skipped = 0;
        for (const std::string& line : journals[i]) {
            if (const auto e = ParseLine(line)) {
                b.Take(*e);
                ++lines;
            } else {
                ++skipped;
            }
        }
        b.EndJournal(lines, skipped);
    }
    return b.Finish();
}

// "2026-12-08T13:40:SS.mmm+03:00" from milliseconds after 13:40:00.
std::string At(int ms) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "2026-12-08T13:%02d:%02d.%03d+03:00", 40 + ms / 60000,
                  ms / 1000 % 60, ms % 1000);
    return buf;
}

std::string Line(int ms, const std::string& rest) {
    return "{\"t\":\"" + At(ms) + "\"," + rest + "}";
}

std::string Tx(int ms, int addr, const std::string& code = "F0") {
    return Line(ms, "\"ev\":\"tx\",\"addr\":" + std::to_string(addr) + ",\"code\":\"" + code +
                        "\",\"meaning\":\"запрос\",\"hex\":\"31 01 F0 C5\"");
}
std::string Rx(int ms, int addr, bool crc, const std::string& code = "F0",
               const std::string& decoded = "") {
    return Line(ms, "\"ev\":\"rx\",\"addr\":" + std::to_string(addr) + ",\"code\":\"" + code +
                        "\",\"meaning\":\"ответ\",\"crc\":" + (crc ? "true" : "false") +
                        (decoded.empty() ? "" : ",\"decoded\":" + decoded) + ",\"hex\":\"3E\"");
}
std::string Silent(int ms) {
    return Line(ms, "\"ev\":\"silent\",\"meaning\":\"нет ответа\"");
}
std::string Command(int ms, int id, const std::string& what, int addr, const std::string& values,
                    const std::string& text, const std::string& hex = "31 01 F5 FA") {
    return Line(ms, "\"ev\":\"command\",\"id\":" + std::to_string(id) + ",\"what\":\"" + what +
                        "\",\"addr\":" + std::to_string(addr) + ",\"values\":{" + values +
                        "},\"text\":\"" + text + "\",\"hex\":\"" + hex + "\"");
}
std::string Result(int ms, int id, bool confirmed, const std::string& reason = "") {
    return Line(ms, "\"ev\":\"result\",\"id\":" + std::to_string(id) +
                        ",\"confirmed\":" + (confirmed ? "true" : "false") +
                        (reason.empty() ? "" : ",\"reason\":\"" + reason + "\""));
}
std::string Start(int ms) {
    return Line(ms, "\"ev\":\"start\",\"program\":\"busdesk-cli 0.1.0\"");
}

TEST(ReportModel, ChangesTakeTheirOutcomeAndReasonAndSurveysAreNotChanges) {
    const Model m = Build({{
        Start(0),
        Command(100, 1, "survey", 255, "", "Опрос сети", "31 FF DC"),
        Result(600, 1, true),
        Command(1000, 2, "address", 1, "\"new_address\":5", "Смена сетевого номера 1 на 5",
                "31 01 FB 05 E9"),
        Result(1500, 2, true),
        Command(2000, 3, "calibrate_high", 5, "", "Калибровка верхнего уровня устройства 5"),
        Result(3000, 3, false, "ответ не подтверждает команду"),
        Command(4000, 4, "mode", 5, "\"mode\":1", "Установка режима 1 устройству 5"),
    }});
    ASSERT_EQ(m.changes.size(), 3u);
    EXPECT_EQ(m.surveys, 1u);
    struct Want {
        std::string what;
        Change::State state;
        std::string reason;
    };
    const std::vector<Want> want = {
        {"address", Change::State::Confirmed, ""},
        {"calibrate_high", Change::State::Refused, "ответ не подтверждает команду"},
        {"mode", Change::State::NoResult, ""},
    };
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(want[i].what);
        EXPECT_EQ(m.changes[i].what, want[i].what);
        EXPECT_EQ(m.changes[i].state, want[i].state);
        EXPECT_EQ(m.changes[i].reason, want[i].reason);
    }
    EXPECT_EQ(m.changes[0].values, (std::vector<std::pair<std::string, std::string>>{
                                       {"new_address", "5"}}));
    EXPECT_EQ(m.changes[0].frame, (std::vector<std::uint8_t>{0x31, 0x01, 0xFB, 0x05, 0xE9}));
}

TEST(ReportModel, CommandNumbersStartAgainWithEachSessionAndJournal) {
    // Session one leaves command 1 open; the next session's command 1 and
    // its result must not close the old one, nor the other way round.
    const Model m = Build({
        {Start(0), Command(1000, 1, "calibrate_low", 1, "", "нижний 1")},
        {Start(60000), Command(61000, 1, "calibrate_high", 1, "", "верхний 1"),
         Result(61500, 1, true), Start(70000), Result(70500, 1, false, "нет ответа")},
    });
    ASSERT_EQ(m.changes.size(), 2u);
    EXPECT_EQ(m.changes[0].state, Change::State::NoResult);
    EXPECT_EQ(m.changes[1].state, Change::State::Confirmed);
    ASSERT_EQ(m.journals.size(), 2u);
    EXPECT_EQ(m.journals[0].lines, 2u);
    EXPECT_EQ(m.journals[1].lines, 5u);
    EXPECT_EQ(*m.first, ParseIsoTime(At(0))->first);
    EXPECT_EQ(*m.last - *m.first, 70500);
    EXPECT_FALSE(m.journals[1].earlier);

    // Given in the wrong order: taken as given, and said.
    const Model swapped = Build({{Start(60000), Result(61000, 1, true)}, {Start(0)}});
    EXPECT_TRUE(swapped.journals[1].earlier);
    EXPECT_FALSE(swapped.journals[0].earlier);
}

TEST(ReportModel, LineFiguresGoToTheDeviceThatWasAsked) {
    const Model m = Build({{
        Start(0),
        Tx(0, 1), Rx(100, 1, true),      // 100 ms
        Tx(500, 1), Rx(800, 1, true),    // 300 ms
        Tx(1000, 1), Rx(1200, 1, true),  // 200 ms
        Tx(1500, 1), Rx(1900, 1, true),  // 400 ms
        Tx(2000, 1), Rx(2100, 1, false),
        // A reply whose address byte was hit on the line still belongs to 5.
        Tx(2500, 5), Rx(2700, 77, false),
        Tx(3000, 5), Silent(3500),
        Tx(4000, 5), Silent(4500),
        // An address change is confirmed from its new address.
        Tx(5000, 5, "FB"), Rx(5300, 9, true, "FB"),
    }});
    ASSERT_TRUE(m.line.count(1));
    ASSERT_TRUE(m.line.count(5));
    EXPECT_FALSE(m.line.count(77));
    EXPECT_FALSE(m.line.count(9));
    const LineFigures& one = m.line.at(1);
    EXPECT_EQ(one.requests, 5u);
    EXPECT_EQ(one.answers, 4u);
    EXPECT_EQ(one.crcErrors, 1u);
    EXPECT_EQ(one.silences, 0u);
    const std::optional<ResponseTimes> r = Summarize(one.responseMs);
    ASSERT_TRUE(r);
    EXPECT_DOUBLE_EQ(r->median, 250.0);  // an even count: the mean of the middle two
    EXPECT_EQ(r->min, 100u);
    EXPECT_EQ(r->max, 400u);
    const LineFigures& five = m.line.at(5);
    EXPECT_EQ(five.requests, 4u);
    EXPECT_EQ(five.answers, 1u);
    EXPECT_EQ(five.crcErrors, 1u);
    EXPECT_EQ(five.silences, 2u);
    EXPECT_EQ(five.responseMs, std::vector<std::uint32_t>{300});
}

TEST(ReportModel, ResponseTimeSummary) {
    struct Case {
        std::vector<std::uint32_t> times;
        double median;
        std::uint32_t min;
        std::uint32_t max;
    };
    const std::vector<Case> cases = {
        {{7}, 7, 7, 7},
        {{4, 1}, 2.5, 1, 4},
        {{3, 1, 2}, 2, 1, 3},
        {{10, 1, 7, 3}, 5, 1, 10},
        {{500, 500, 263, 525, 500, 264}, 500, 263, 525},
    };
    for (const Case& c : cases) {
        const std::optional<ResponseTimes> r = Summarize(c.times);
        ASSERT_TRUE(r);
        EXPECT_DOUBLE_EQ(r->median, c.median) << c.times.size();
        EXPECT_EQ(r->min, c.min);
        EXPECT_EQ(r->max, c.max);
    }
    EXPECT_FALSE(Summarize({}));
}

std::size_t Readings(const engine::DeviceTrend* d) {
    std::size_t n = 0;
    for (std::size_t i = 0; d != nullptr && i < d->samples.Size(); ++i)
        n += d->samples[i].missed ? 0u : 1u;
    return n;
}

const char* kReading =
    R"({"level":512,"temperature":-5,"current":52000,"empty":20000,"full":90000,"k":100,"mode":2})";

TEST(ReportModel, DevicesFollowWhatTheyLastSaidAndMoveWithAConfirmedAddressChange) {
    const Model m = Build({{
        Start(0),
        Rx(500, 1, true, "FC", R"({"serial":100123,"version":134,"version_prefix":0,"version_text":"1.3.4."})"),
        Rx(1000, 1, true, "F0", kReading),
        Rx(1500, 1, true, "E0", R"({"serial":5001,"id":"1A2B3C4D","level":-60})"),
        Rx(2000, 1, true, "E3",
           R"({"serial":5001,"id":"1A2B3C4D","interval":300,"mode":2,"power":100,"sleep":60,"version":25,"level":-61})"),
        Rx(2500, 7, true, "FC", R"({"serial":100789})"),
        Command(3000, 1, "address", 1, "\"new_address\":9", "Смена сетевого номера 1 на 9"),
        Result(3500, 1, true),
        Command(4000, 2, "address", 7, "\"new_address\":3", "Смена сетевого номера 7 на 3"),
        Result(4500, 2, false, "нет ответа"),
    }});
    EXPECT_FALSE(m.devices.count(1));
    ASSERT_TRUE(m.devices.count(9));
    ASSERT_TRUE(m.devices.count(7));
    EXPECT_FALSE(m.devices.count(3));

    const cli::site::Site s = m.Site();
    ASSERT_EQ(s.devices.size(), 2u);
    const cli::site::Device& d = s.devices[1];
    EXPECT_EQ(d.address, 9);
    EXPECT_EQ(d.serial, 100123u);
    EXPECT_EQ(d.version, "1.3.4.");
    EXPECT_EQ(d.mode, 2);
    ASSERT_TRUE(d.calibration);
    EXPECT_EQ(d.calibration->full, 90000u);
    ASSERT_TRUE(d.reading);
    EXPECT_EQ(d.reading->temperature, -5);
    EXPECT_EQ(d.reading->time, At(1000));
    ASSERT_EQ(d.tags.size(), 1u);
    EXPECT_EQ(d.tags[0].serial, 5001u);
    EXPECT_EQ(d.tags[0].id, 0x1A2B3C4Du);
    EXPECT_EQ(d.tags[0].interval, 300);
    EXPECT_EQ(d.tags[0].version, "2.5..");
    EXPECT_EQ(d.tags[0].level, -61);

    // The journal's bus against a file that says otherwise: verify's words.
    cli::site::Site file = s;
    file.devices[1].mode = 1;
    const auto diffs = cli::site::Compare(file, s, {});
    ASSERT_EQ(diffs.size(), 1u);
    EXPECT_EQ(diffs[0].field, "mode");
}

TEST(ReportModel, ADeviceHeardAtAnotherAddressLaterIsThereOnly) {
    // Two sessions of a demo bus: the move of the first is gone in the second.
    const Model m = Build({{
        Rx(0, 5, true, "FC", R"({"serial":100456})"),
        Command(500, 1, "address", 5, "\"new_address\":9", "Смена"),
        Result(1000, 1, true),
        Start(2000),
        Rx(2500, 5, true, "FC", R"({"serial":100456})"),
    }});
    ASSERT_EQ(m.Site().devices.size(), 1u);
    EXPECT_EQ(m.Site().devices[0].address, 5);
}

TEST(ReportModel, ReadingsMakeTrendsOnlyWithDecodedValues) {
    const Model fresh = Build({{Start(0), Tx(0, 1), Rx(500, 1, true, "F0", kReading), Tx(500, 1),
                                Rx(1000, 1, true, "F0", kReading)}});
    EXPECT_FALSE(fresh.OldJournals());
    ASSERT_NE(fresh.trends->Device(1), nullptr);
    EXPECT_EQ(Readings(fresh.trends->Device(1)), 2u);
    EXPECT_EQ(fresh.trends->Device(1)->Latest()->temperature, -5);

    const Model old = Build({{Start(0), Tx(0, 1), Rx(500, 1, true), Tx(500, 1), Rx(1000, 1, true)}});
    EXPECT_TRUE(old.OldJournals());
    EXPECT_TRUE(old.journals[0].undecoded);
    EXPECT_EQ(Readings(old.trends->Device(1)), 0u);

    // One old journal beside a new one: the new one's trends are kept.
    const Model mixed = Build({{Start(0), Tx(0, 1), Rx(500, 1, true)},
                               {Start(60000), Tx(60000, 1), Rx(60500, 1, true, "F0", kReading)}});
    EXPECT_FALSE(mixed.OldJournals());
    EXPECT_TRUE(mixed.journals[0].undecoded && !mixed.journals[0].decoded);
    EXPECT_EQ(Readings(mixed.trends->Device(1)), 1u);
}

TEST(ReportModel, TimesKeepTheJournalsOwnOffset) {
    struct Case {
        const char* text;
        std::optional<TimeMs> ms;
        int offset;
    };
    const std::vector<Case> cases = {
        {"2026-12-08T16:18:53.123+03:00", 1796735933123, 180},
        {"2026-12-08T13:18:53.123Z", 1796735933123, 0},
        {"2026-12-08T08:48:53.123-04:30", 1796735933123, -270},
        {"2026-12-08T13:18:53+00:00", 1796735933000, 0},
        {"2024-02-29T00:00:00.000+00:00", 1709164800000, 0},
        {"2026-02-29T00:00:00.000+00:00", std::nullopt, 0},
        {"2026-13-01T00:00:00.000+00:00", std::nullopt, 0},
        {"2026-12-08T13:18:53.123", std::nullopt, 0},
        {"2026-12-08T13:18:53.123+03:00 ", std::nullopt, 0},
        {"yesterday", std::nullopt, 0},
        // Beyond what the system clock holds in nanoseconds.
        {"9999-12-31T23:59:59.999+00:00", std::nullopt, 0},
        {"1969-12-31T23:59:59.999+00:00", std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto t = ParseIsoTime(c.text);
        ASSERT_EQ(t.has_value(), c.ms.has_value());
        if (!t) continue;
        EXPECT_EQ(t->first, *c.ms);
        EXPECT_EQ(t->second, c.offset);
    }
    EXPECT_EQ(IsoText(1796735933123, 180), "2026-12-08T16:18:53.123+03:00");
    EXPECT_EQ(IsoText(1796735933123, -270), "2026-12-08T08:48:53.123-04:30");
    EXPECT_EQ(ShownTime(1796735933123, 180), "08.12.2026 16:18:53");
}

}  // namespace
}  // namespace busdesk::report
