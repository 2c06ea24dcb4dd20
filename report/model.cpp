#include "report/model.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "engine/bus_event.h"
#include "protocol/replies.h"
#include "protocol/text.h"

namespace busdesk::report {

namespace {

using engine::BusEvent;
using engine::Decoded;

constexpr std::uint8_t kSurveyAddress = 0xFF;
constexpr std::uint8_t kReaderData = 0xF0;
constexpr std::uint8_t kSerialNumber = 0xFC;
constexpr std::uint8_t kModeSet = 0xF2;
constexpr std::uint8_t kTagPing = 0xE0;
constexpr std::uint8_t kTagData = 0xE3;
// No device answers above this address: a larger byte in a survey answer is
// noise on the line.
constexpr std::uint8_t kHighestAddress = 200;

struct Civil {
    int year;
    unsigned month;
    unsigned day;
};
Civil CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(y + (m <= 2 ? 1 : 0)), m, d};
}

struct Local {
    Civil date;
    int hour, minute, second, ms;
};
Local LocalOf(TimeMs t, int offset) {
    const TimeMs local = t + static_cast<TimeMs>(offset) * 60000;
    TimeMs days = local / 86400000;
    TimeMs rest = local % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    const auto r = static_cast<int>(rest);
    return {CivilFromDays(days), r / 3600000, r / 60000 % 60, r / 1000 % 60, r % 1000};
}

BusEvent Event(BusEvent::Kind kind, const Entry& e) {
    BusEvent b;
    b.kind = kind;
    b.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(e.time));
    b.bytes = e.bytes;
    return b;
}

std::optional<std::uint8_t> Target(const Entry& e) {
    if (e.addr) return e.addr;
    if (e.bytes.size() >= 2) return e.bytes[1];
    return std::nullopt;
}

}  // namespace

std::string IsoText(TimeMs t, int utcOffsetMinutes) {
    const Local l = LocalOf(t, utcOffsetMinutes);
    const int a = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
    std::array<char, 96> buf{};
    std::snprintf(buf.data(), buf.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03d%c%02d:%02d",
                  l.date.year, l.date.month, l.date.day, l.hour, l.minute, l.second, l.ms,
                  utcOffsetMinutes < 0 ? '-' : '+', a / 60, a % 60);
    return buf.data();
}

std::string ShownTime(TimeMs t, int utcOffsetMinutes) {
    const Local l = LocalOf(t, utcOffsetMinutes);
    std::array<char, 64> buf{};
    std::snprintf(buf.data(), buf.size(), "%02u.%02u.%04d %02d:%02d:%02d", l.date.day,
                  l.date.month, l.date.year, l.hour, l.minute, l.second);
    return buf.data();
}

std::optional<ResponseTimes> Summarize(std::vector<std::uint32_t> times) {
    if (times.empty()) return std::nullopt;
    const std::size_t n = times.size();
    std::nth_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(n / 2), times.end());
    ResponseTimes r;
    const double upper = times[n / 2];
    if (n % 2 == 1) {
        r.median = upper;
    } else {
        const double lower =
            *std::max_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(n / 2));
        r.median = (lower + upper) / 2;
    }
    const auto [lo, hi] = std::minmax_element(times.begin(), times.end());
    r.min = *lo;
    r.max = *hi;
    return r;
}

bool Model::OldJournals() const {
    if (journals.empty()) return false;
    return std::none_of(journals.begin(), journals.end(),
                        [](const JournalSummary& j) { return j.decoded; });
}

cli::site::Site Model::Site() const {
    cli::site::Site s;
    if (last) s.date = IsoText(*last, utcOffsetMinutes);
    s.port = port;
    for (const auto& [address, d] : devices) {
        if (!d.serial) continue;
        cli::site::Device out;
        out.address = address;
        out.serial = *d.serial;
        out.version = d.version;
        out.mode = d.mode;
        out.calibration = d.calibration;
        out.reading = d.reading;
        for (const auto& [id, t] : d.tags) out.tags.push_back(t);
        std::sort(out.tags.begin(), out.tags.end(),
                  [](const cli::site::Tag& a, const cli::site::Tag& b) { return a.serial < b.serial; });
        s.devices.push_back(std::move(out));
    }
    return s;
}

ModelBuilder::ModelBuilder(std::size_t trendCapacity)
    : m_{} {
    m_.trends = std::make_unique<engine::TrendStore>(trendCapacity);
}

void ModelBuilder::Session() {
    pending_.reset();
    // A command left open by the session before never gets its result now.
    open_.clear();
    ids_.clear();
}

void ModelBuilder::BeginJournal(const std::string& path) {
    JournalSummary j;
    j.path = path;
    m_.journals.push_back(std::move(j));
    Session();
    BusEvent start;
    start.kind = BusEvent::Kind::Start;
    m_.trends->Take(start);
}

void ModelBuilder::EndJournal(std::size_t lines, std::size_t skipped) {
    if (m_.journals.empty()) return;
    // Journals are taken in the order given, not sorted by time: a second
    // journal that overlaps the first is said, not merged into it.
    const std::size_t n = m_.journals.size();
    if (n >= 2 && m_.journals[n - 1].first && m_.journals[n - 2].last &&
        *m_.journals[n - 1].first < *m_.journals[n - 2].last)
        m_.journals[n - 1].earlier = true;
    m_.journals.back().lines = lines;
    m_.journals.back().skipped = skipped;
    m_.skipped += skipped;
}

void ModelBuilder::Moved(std::uint8_t from, std::uint8_t to) {
    const auto it = m_.devices.find(from);
    if (it == m_.devices.end() || from == to) return;
    JournalDevice d = std::move(it->second);
    m_.devices.erase(it);
    m_.devices[to] = std::move(d);
}

void ModelBuilder::Reception(const Entry& e) {
    JournalSummary& journal = m_.journals.back();
    const bool framed = e.addr.has_value() && e.code.has_value();
    const bool survey = !framed && (!e.addresses.empty() || e.meaning == "ответ на опрос сети");
    // The reply counts for the device asked: the confirmation of an address
    // change comes from the new address, and a corrupted reply's address byte
    // is not to be trusted.
    std::optional<std::uint8_t> target;
    if (pending_) {
        target = pending_->addr;
    } else if (framed) {
        target = e.addr;
    }
    if (target) {
        LineFigures& f = m_.line[*target];
        const bool good = (framed && e.crc.value_or(false)) || survey;
        if (framed && !e.crc.value_or(false)) {
            ++f.crcErrors;
        } else if (good) {
            ++f.answers;
            if (pending_ && e.time >= pending_->time)
                f.responseMs.push_back(static_cast<std::uint32_t>(
                    std::min<TimeMs>(e.time - pending_->time, 0xFFFFFFFF)));
        } else {
            ++f.other;
        }
    }
    pending_.reset();

    BusEvent b = Event(BusEvent::Kind::Rx, e);
    b.heard.crcGood = e.crc.value_or(false);
    b.heard.address = e.addr.value_or(0);
    b.heard.code = e.code.value_or(0);
    b.heard.what = framed ? Decoded::What::Unknown : Decoded::What::Other;

    if (survey) {
        b.heard.what = Decoded::What::Survey;
        b.ok = true;
        for (const std::uint8_t a : e.addresses) {
            if (a <= kHighestAddress) m_.devices[a];
        }
    }
    if (framed && e.crc.value_or(false)) {
        const std::uint8_t code = *e.code;
        const bool carries = code == kReaderData || code == kSerialNumber || code == kTagPing ||
                             code == kTagData || code == kModeSet;
        if (carries && !e.decoded) journal.undecoded = true;
        if (e.decoded) journal.decoded = true;
    }
    if (framed && e.decoded) {
        const DecodedValues& v = *e.decoded;
        JournalDevice& d = m_.devices[*e.addr];
        switch (*e.code) {
            case kReaderData: {
                if (v.mode) d.mode = v.mode;
                if (v.empty && v.full && v.k) d.calibration = cli::site::Calibration{*v.empty, *v.full, *v.k};
                if (v.current) {
                    d.reading = cli::site::Reading{IsoText(e.time, e.utcOffsetMinutes), v.level,
                                                   v.temperature, v.current};
                    d.readingTime = e.time;
                    d.readingOffset = e.utcOffsetMinutes;
                }
                proto::ReaderReading& r = b.heard.reading;
                r.level = v.level;
                r.temperature = v.temperature;
                r.current = v.current;
                r.empty = v.empty;
                r.full = v.full;
                r.k = v.k;
                r.mode = v.mode;
                b.heard.what = Decoded::What::Reading;
                break;
            }
            case kSerialNumber:
                if (v.serial) {
                    d.serial = v.serial;
                    // A device is at one address at a time: one heard elsewhere
                    // before (another session, a move not journaled) is here now.
                    for (auto it = m_.devices.begin(); it != m_.devices.end();) {
                        if (it->first != *e.addr && it->second.serial == v.serial) {
                            it = m_.devices.erase(it);
                        } else {
                            ++it;
                        }
                    }
                }
                if (v.versionText) {
                    d.version = *v.versionText;
                } else if (v.version) {
                    proto::SerialVersion sv;
                    sv.version = v.version;
                    sv.prefix = v.versionPrefix.value_or(0);
                    d.version = proto::VersionShown(sv);
                }
                break;
            case kModeSet:
                if (v.mode) d.mode = v.mode;
                break;
            case kTagPing:
            case kTagData: {
                if (!v.id) break;
                cli::site::Tag& t = d.tags[*v.id];
                t.id = v.id;
                if (v.serial) t.serial = *v.serial;
                if (v.interval) t.interval = v.interval;
                if (v.mode) t.mode = v.mode;
                if (v.power) t.power = v.power;
                if (v.sleep) t.sleep = v.sleep;
                if (v.version) t.version = VersionText(*v.version);
                if (v.tagLevel) t.level = v.tagLevel;
                break;
            }
            default:
                break;
        }
    }
    m_.trends->Take(b);
}

void ModelBuilder::Take(const Entry& e) {
    if (m_.journals.empty()) BeginJournal("");
    JournalSummary& journal = m_.journals.back();
    if (!journal.first || e.time < *journal.first) journal.first = e.time;
    if (!journal.last || e.time > *journal.last) journal.last = e.time;
    if (!m_.first || e.time < *m_.first) m_.first = e.time;
    if (!m_.last || e.time >= *m_.last) {
        m_.last = e.time;
        m_.utcOffsetMinutes = e.utcOffsetMinutes;
    }
    switch (e.ev) {
        case Ev::Start:
            Session();
            if (journal.program.empty()) journal.program = e.text;
            m_.trends->Take(Event(BusEvent::Kind::Start, e));
            break;
        case Ev::Open:
            pending_.reset();
            if (e.ok) m_.port = e.text;
            m_.trends->Take(Event(BusEvent::Kind::Open, e));
            break;
        case Ev::Close:
            pending_.reset();
            m_.trends->Take(Event(BusEvent::Kind::Close, e));
            break;
        case Ev::Tx: {
            const std::optional<std::uint8_t> addr = Target(e);
            if (!addr) break;
            ++m_.line[*addr].requests;
            // Frames of one write share its time; the first is answered first.
            if (!pending_ || pending_->time != e.time) pending_ = Pending{*addr, e.time};
            m_.trends->Take(Event(BusEvent::Kind::Tx, e));
            break;
        }
        case Ev::Rx:
            Reception(e);
            break;
        case Ev::Silent:
            if (pending_) ++m_.line[pending_->addr].silences;
            pending_.reset();
            m_.trends->Take(Event(BusEvent::Kind::Silent, e));
            break;
        case Ev::WriteError:
            if (const std::optional<std::uint8_t> addr = Target(e)) ++m_.line[*addr].writeErrors;
            pending_.reset();
            m_.trends->Take(Event(BusEvent::Kind::WriteFailed, e));
            break;
        case Ev::Command: {
            // A survey changes no device: counted, not listed.
            if (e.what == "survey") {
                ++m_.surveys;
                break;
            }
            Change c;
            c.time = e.time;
            c.utcOffsetMinutes = e.utcOffsetMinutes;
            c.addr = Target(e);
            c.what = e.what;
            c.text = e.text;
            c.values = e.values;
            c.frame = e.bytes;
            // A repeated id within a session: the later command is the one a
            // result names.
            open_[e.id] = m_.changes.size();
            m_.changes.push_back(std::move(c));
            const std::uint64_t unique = nextId_++;
            ids_[e.id] = unique;
            BusEvent b = Event(BusEvent::Kind::Command, e);
            b.id = unique;
            m_.trends->Take(b);
            break;
        }
        case Ev::Result: {
            const auto it = open_.find(e.id);
            if (it == open_.end()) break;
            Change& c = m_.changes[it->second];
            open_.erase(it);
            c.state = e.ok ? Change::State::Confirmed : Change::State::Refused;
            c.reason = e.reason;
            if (e.ok && c.what == "address" && c.addr) {
                for (const auto& [name, value] : c.values) {
                    if (name != "new_address") continue;
                    unsigned to = 0;
                    if (std::sscanf(value.c_str(), "%u", &to) == 1 && to <= kHighestAddress)
                        Moved(*c.addr, static_cast<std::uint8_t>(to));
                }
            }
            BusEvent b = Event(BusEvent::Kind::Result, e);
            b.id = ids_.count(e.id) ? ids_[e.id] : 0;
            b.ok = e.ok;
            b.text = e.reason;
            m_.trends->Take(b);
            break;
        }
    }
}

Model ModelBuilder::Finish() {
    return std::move(m_);
}

}  // namespace busdesk::report
