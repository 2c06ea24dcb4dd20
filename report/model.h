#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/site.h"
#include "engine/trend.h"
#include "report/journal_reader.h"

// What a report says, built from journal entries alone: no files, no clock,
// so every figure can be checked from a few lines of text.
namespace busdesk::report {

// A moment as the journal wrote it, in its own offset from UTC:
// "2026-12-08T16:18:53.123+03:00".
std::string IsoText(TimeMs t, int utcOffsetMinutes);
// For people: "08.12.2026 16:18:53".
std::string ShownTime(TimeMs t, int utcOffsetMinutes);

struct Change {
    TimeMs time = 0;
    int utcOffsetMinutes = 0;
    std::optional<std::uint8_t> addr;
    std::string what;  // "address", "calibrate_high", ...
    std::string text;  // "Смена сетевого номера 1 на 5"
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::uint8_t> frame;
    enum class State : std::uint8_t { Confirmed, Refused, NoResult };
    State state = State::NoResult;
    std::string reason;  // why not confirmed
};

// How the line went with one device: requests to it and what came back.
struct LineFigures {
    std::uint64_t requests = 0;
    std::uint64_t answers = 0;    // framed replies with a good CRC, survey answers
    std::uint64_t crcErrors = 0;  // framed replies whose CRC was wrong
    std::uint64_t silences = 0;   // a request that got nothing
    std::uint64_t other = 0;      // receptions that were no device's reply
    std::uint64_t writeErrors = 0;
    std::vector<std::uint32_t> responseMs;  // request to answer
};

struct ResponseTimes {
    double median = 0;
    std::uint32_t min = 0;
    std::uint32_t max = 0;
};
// Nullopt without any answer timed.
std::optional<ResponseTimes> Summarize(std::vector<std::uint32_t> times);

// A device as the journal shows it: the latest of everything it said.
struct JournalDevice {
    std::optional<std::uint32_t> serial;
    std::optional<std::string> version;
    std::optional<std::uint8_t> mode;
    std::optional<cli::site::Calibration> calibration;
    std::optional<cli::site::Reading> reading;
    TimeMs readingTime = 0;
    int readingOffset = 0;
    std::map<std::uint32_t, cli::site::Tag> tags;  // by tag identifier
};

struct JournalSummary {
    std::string path;
    std::size_t lines = 0;
    std::size_t skipped = 0;
    std::optional<TimeMs> first;
    std::optional<TimeMs> last;
    std::string program;  // of its first start line
    bool decoded = false;     // some reply carries `decoded`
    bool undecoded = false;   // a reply that would carry it does not
    bool earlier = false;     // starts before the journal read before it ends
};

struct Model {
    std::vector<JournalSummary> journals;
    std::optional<TimeMs> first;
    std::optional<TimeMs> last;
    int utcOffsetMinutes = 0;  // of the last line: the report's times are the journal's
    std::string port;          // the last port opened
    std::map<std::uint8_t, JournalDevice> devices;
    std::vector<Change> changes;
    std::map<std::uint8_t, LineFigures> line;  // 255: the survey
    std::unique_ptr<engine::TrendStore> trends;
    std::size_t skipped = 0;
    std::size_t surveys = 0;  // survey commands, which change nothing
    // No journal carried decoded values: trends are left out.
    bool OldJournals() const;

    // The bus as the journal saw it, in the form of a site file: devices
    // whose serial number was heard, at their last address.
    cli::site::Site Site() const;
};

// Takes the entries of the journals in order.
class ModelBuilder {
  public:
    // `trendCapacity`: samples kept per device; enough for the whole span.
    explicit ModelBuilder(std::size_t trendCapacity);
    void BeginJournal(const std::string& path);
    void Take(const Entry& e);
    void EndJournal(std::size_t lines, std::size_t skipped);
    Model Finish();

  private:
    void Session();
    void Reception(const Entry& e);
    void Moved(std::uint8_t from, std::uint8_t to);

    Model m_;
    // The request awaiting its answer.
    struct Pending {
        std::uint8_t addr = 0;
        TimeMs time = 0;
    };
    std::optional<Pending> pending_;
    // Command ids start again with each session: the open commands of this one.
    std::map<std::uint64_t, std::size_t> open_;  // id → index in changes
    std::map<std::uint64_t, std::uint64_t> ids_;  // id → unique id for the trends
    std::uint64_t nextId_ = 1;
};

}  // namespace busdesk::report
