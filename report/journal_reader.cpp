#include "report/journal_reader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <type_traits>

#include "engine/file_path.h"
#include "engine/local_time.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace busdesk::report {

namespace {

using Json = nlohmann::json;

#ifdef _WIN32
int OpenRead(const std::string& path) {
    return engine::OpenPath(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}
bool IsRegular(int fd) {
    struct _stat st {};
    return ::_fstat(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}
long ReadSome(int fd, char* data, std::size_t size) {
    return ::_read(fd, data, static_cast<unsigned>(size));
}
void CloseFile(int fd) {
    ::_close(fd);
}
#else
int OpenRead(const std::string& path) {
    // O_NONBLOCK: a FIFO in the journal's place must not hold the open up;
    // it is refused below.
    return engine::OpenPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}
bool IsRegular(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
long ReadSome(int fd, char* data, std::size_t size) {
    return static_cast<long>(::read(fd, data, size));
}
void CloseFile(int fd) {
    ::close(fd);
}
#endif

constexpr int kFirstYear = 1970;
constexpr int kLastYear = 2200;

bool LeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// `n` digits at `at` as a number, or -1.
int Digits(std::string_view s, std::size_t at, std::size_t n) {
    if (at + n > s.size()) return -1;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

// A field that is absent is fine; one that is present must have the type and
// range asked for, or the line is no line of ours.
class Fields {
  public:
    explicit Fields(const Json& object) : j_(object) {}
    bool good = true;

    const Json* Find(const char* key) const {
        const auto it = j_.find(key);
        return it == j_.end() ? nullptr : &*it;
    }

    template <typename T>
    std::optional<T> Integer(const char* key) {
        const Json* v = Find(key);
        if (v == nullptr) return std::nullopt;
        return IntegerOf<T>(*v);
    }
    template <typename T>
    std::optional<T> IntegerOf(const Json& v) {
        if (v.is_number_unsigned()) {
            const auto n = v.get<std::uint64_t>();
            if (n <= static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
                return static_cast<T>(n);
        } else if (v.is_number_integer()) {
            const auto n = v.get<std::int64_t>();
            if (n >= static_cast<std::int64_t>(std::numeric_limits<T>::min()) &&
                (n < 0 || static_cast<std::uint64_t>(n) <=
                              static_cast<std::uint64_t>(std::numeric_limits<T>::max())))
                return static_cast<T>(n);
        }
        good = false;
        return std::nullopt;
    }
    std::optional<std::string> Text(const char* key) {
        const Json* v = Find(key);
        if (v == nullptr) return std::nullopt;
        if (!v->is_string()) {
            good = false;
            return std::nullopt;
        }
        return v->get<std::string>();
    }
    std::optional<bool> Flag(const char* key) {
        const Json* v = Find(key);
        if (v == nullptr) return std::nullopt;
        if (!v->is_boolean()) {
            good = false;
            return std::nullopt;
        }
        return v->get<bool>();
    }

  private:
    const Json& j_;
};

std::optional<std::uint8_t> HexByte(std::string_view s) {
    if (s.empty() || s.size() > 2) return std::nullopt;
    unsigned v = 0;
    for (const char c : s) {
        v <<= 4;
        if (c >= '0' && c <= '9') {
            v |= static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            v |= static_cast<unsigned>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            v |= static_cast<unsigned>(c - 'a' + 10);
        } else {
            return std::nullopt;
        }
    }
    return static_cast<std::uint8_t>(v);
}

std::optional<std::vector<std::uint8_t>> HexBytes(std::string_view s) {
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        const std::size_t end = std::min(s.find(' ', i), s.size());
        const std::optional<std::uint8_t> b = HexByte(s.substr(i, end - i));
        if (!b) return std::nullopt;
        out.push_back(*b);
        i = end;
    }
    return out;
}

// A tag identifier as the window writes it: up to 8 hex digits.
std::optional<std::uint32_t> TagId(std::string_view s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const std::optional<std::uint8_t> d = HexByte(s.substr(i, 1));
        if (!d) return std::nullopt;
        v = (v << 4) | *d;
    }
    return v;
}

// `tag`: a tag's reply, whose "level" is the reception level and may be
// negative; a reading's level never is.
std::optional<DecodedValues> Decoded(const Json& j, bool tag) {
    if (!j.is_object()) return std::nullopt;
    Fields f(j);
    DecodedValues d;
    if (tag) {
        d.tagLevel = f.Integer<std::int16_t>("level");
    } else {
        d.level = f.Integer<std::uint16_t>("level");
    }
    d.temperature = f.Integer<std::int16_t>("temperature");
    d.current = f.Integer<std::uint32_t>("current");
    d.empty = f.Integer<std::uint32_t>("empty");
    d.full = f.Integer<std::uint32_t>("full");
    d.k = f.Integer<std::uint16_t>("k");
    d.mode = f.Integer<std::uint8_t>("mode");
    d.serial = f.Integer<std::uint32_t>("serial");
    d.version = f.Integer<std::uint8_t>("version");
    d.versionPrefix = f.Integer<std::uint8_t>("version_prefix");
    d.versionText = f.Text("version_text");
    d.interval = f.Integer<std::uint16_t>("interval");
    d.power = f.Integer<std::uint8_t>("power");
    d.sleep = f.Integer<std::uint16_t>("sleep");
    if (const std::optional<std::string> id = f.Text("id")) {
        d.id = TagId(*id);
        if (!d.id) return std::nullopt;
    }
    if (!f.good) return std::nullopt;
    return d;
}

constexpr std::array<std::pair<std::string_view, Ev>, 9> kEvents{{
    {"start", Ev::Start},
    {"open", Ev::Open},
    {"close", Ev::Close},
    {"tx", Ev::Tx},
    {"rx", Ev::Rx},
    {"silent", Ev::Silent},
    {"write_error", Ev::WriteError},
    {"command", Ev::Command},
    {"result", Ev::Result},
}};

}  // namespace

std::optional<std::pair<TimeMs, int>> ParseIsoTime(std::string_view s) {
    // 2026-12-08T16:18:53.123+03:00; the milliseconds may be left out, the
    // offset may be "Z".
    if (s.size() < 20 || s[4] != '-' || s[7] != '-' || (s[10] != 'T' && s[10] != ' ') ||
        s[13] != ':' || s[16] != ':')
        return std::nullopt;
    const int year = Digits(s, 0, 4);
    const int month = Digits(s, 5, 2);
    const int day = Digits(s, 8, 2);
    const int hour = Digits(s, 11, 2);
    const int minute = Digits(s, 14, 2);
    const int second = Digits(s, 17, 2);
    // Times go through the system clock's nanoseconds, which end in 2262: no
    // journal was written outside these years.
    if (year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1 || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return std::nullopt;
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int monthDays =
        kDays[static_cast<std::size_t>(month - 1)] + (month == 2 && LeapYear(year) ? 1 : 0);
    if (day > monthDays) return std::nullopt;
    std::size_t at = 19;
    int ms = 0;
    if (at < s.size() && s[at] == '.') {
        ++at;
        int digits = 0;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
            if (digits < 3) ms = ms * 10 + (s[at] - '0');
            ++digits;
            ++at;
        }
        if (digits == 0) return std::nullopt;
        for (int i = digits; i < 3; ++i) ms *= 10;
    }
    int offset = 0;
    if (at < s.size() && s[at] == 'Z') {
        ++at;
    } else {
        if (at + 6 != s.size() || (s[at] != '+' && s[at] != '-') || s[at + 3] != ':')
            return std::nullopt;
        const int oh = Digits(s, at + 1, 2);
        const int om = Digits(s, at + 4, 2);
        if (oh < 0 || oh > 23 || om < 0 || om > 59) return std::nullopt;
        offset = (oh * 60 + om) * (s[at] == '-' ? -1 : 1);
        at += 6;
    }
    if (at != s.size()) return std::nullopt;
    const std::int64_t days =
        engine::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const std::int64_t secs =
        days * 86400 + hour * 3600 + minute * 60 + second - static_cast<std::int64_t>(offset) * 60;
    return std::make_pair(secs * 1000 + ms, offset);
}

std::optional<Entry> ParseLine(std::string_view line) {
    const Json j = Json::parse(line.begin(), line.end(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    Fields f(j);
    const std::optional<std::string> t = f.Text("t");
    const std::optional<std::string> ev = f.Text("ev");
    if (!t || !ev) return std::nullopt;
    Entry e;
    const auto when = ParseIsoTime(*t);
    if (!when) return std::nullopt;
    e.time = when->first;
    e.utcOffsetMinutes = when->second;
    bool known = false;
    for (const auto& [name, kind] : kEvents) {
        if (*ev == name) {
            e.ev = kind;
            known = true;
        }
    }
    if (!known) return std::nullopt;

    e.addr = f.Integer<std::uint8_t>("addr");
    if (const std::optional<std::string> code = f.Text("code")) {
        e.code = HexByte(*code);
        if (!e.code) return std::nullopt;
    }
    e.meaning = f.Text("meaning").value_or("");
    e.crc = f.Flag("crc");
    if (const std::optional<std::string> hex = f.Text("hex")) {
        std::optional<std::vector<std::uint8_t>> bytes = HexBytes(*hex);
        if (!bytes) return std::nullopt;
        e.bytes = std::move(*bytes);
    }
    if (const Json* a = f.Find("addresses")) {
        if (!a->is_array()) return std::nullopt;
        for (const Json& v : *a) {
            const std::optional<std::uint8_t> b = f.IntegerOf<std::uint8_t>(v);
            if (!b) return std::nullopt;
            e.addresses.push_back(*b);
        }
    }
    if (const Json* d = f.Find("decoded")) {
        const bool tag = e.code && (*e.code == 0xE0 || *e.code == 0xE3);
        e.decoded = Decoded(*d, tag);
        if (!e.decoded) return std::nullopt;
    }
    switch (e.ev) {
        case Ev::Start:
            e.text = f.Text("program").value_or("");
            break;
        case Ev::Open:
            e.text = f.Text("port").value_or("");
            e.ok = f.Flag("ok").value_or(false);
            e.reason = f.Text("reason").value_or("");
            break;
        case Ev::Command: {
            const std::optional<std::uint64_t> id = f.Integer<std::uint64_t>("id");
            const std::optional<std::string> what = f.Text("what");
            if (!id || !what) return std::nullopt;
            e.id = *id;
            e.what = *what;
            e.text = f.Text("text").value_or("");
            if (const Json* v = f.Find("values")) {
                if (!v->is_object()) return std::nullopt;
                for (const auto& [key, value] : v->items())
                    e.values.emplace_back(
                        key, value.dump(-1, ' ', false, Json::error_handler_t::replace));
            }
            break;
        }
        case Ev::Result: {
            const std::optional<std::uint64_t> id = f.Integer<std::uint64_t>("id");
            const std::optional<bool> confirmed = f.Flag("confirmed");
            if (!id || !confirmed) return std::nullopt;
            e.id = *id;
            e.ok = *confirmed;
            e.reason = f.Text("reason").value_or("");
            break;
        }
        default:
            break;
    }
    if (!f.good) return std::nullopt;
    return e;
}

ReadCounts ReadJournal(const std::string& path, const std::function<void(const Entry&)>& take) {
    ReadCounts counts;
    const int fd = OpenRead(path);
    if (fd < 0) {
        counts.error = "не удаётся прочитать журнал " + path + ": " + std::strerror(errno);
        return counts;
    }
    if (!IsRegular(fd)) {
        CloseFile(fd);
        counts.error = "журнал " + path + " - не обычный файл";
        return counts;
    }
    std::string line;
    bool overlong = false;  // the current line passed kMaxLine: dropped to its end
    const auto finish = [&] {
        if (overlong) {
            ++counts.skipped;
        } else {
            std::string_view v = line;
            if (!v.empty() && v.back() == '\r') v.remove_suffix(1);
            if (v.find_first_not_of(" \t") != std::string_view::npos) {
                if (const std::optional<Entry> e = ParseLine(v)) {
                    ++counts.lines;
                    take(*e);
                } else {
                    ++counts.skipped;
                }
            }
        }
        line.clear();
        overlong = false;
    };
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const long n = ReadSome(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            counts.error = "не удаётся прочитать журнал " + path + ": " + std::strerror(errno);
            CloseFile(fd);
            return counts;
        }
        if (n == 0) break;
        std::string_view chunk(buffer.data(), static_cast<std::size_t>(n));
        while (!chunk.empty()) {
            const std::size_t nl = chunk.find('\n');
            const std::string_view piece = chunk.substr(0, nl);
            if (!overlong) {
                if (line.size() + piece.size() > kMaxLine) {
                    overlong = true;
                    line.clear();
                } else {
                    line.append(piece);
                }
            }
            if (nl == std::string_view::npos) break;
            finish();
            chunk.remove_prefix(nl + 1);
        }
    }
    CloseFile(fd);
    // The last line without its line break: taken when whole, else torn.
    if (overlong || !line.empty()) finish();
    return counts;
}

}  // namespace busdesk::report
