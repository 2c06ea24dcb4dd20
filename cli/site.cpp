#include "cli/site.h"

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "app/checks.h"
#include "app/numbers.h"
#include "engine/file_path.h"
#include "protocol/commands.h"
#include "protocol/replies.h"

namespace busdesk::cli::site {

namespace {

using Json = nlohmann::json;
using OJson = nlohmann::ordered_json;

struct RoleName {
    std::uint8_t value;
    const char* word;
    const char* caption;
};
constexpr RoleName kRoleNames[] = {
    {proto::kRoleReader, "reader", "Считыватель"},
    {proto::kRoleReaderIndicator, "reader-indicator", "Считыватель-индикатор"},
    {proto::kRoleTag, "tag", "Метка"},
    {proto::kRoleBridge, "bridge", "Мост"},
    {proto::kRoleRepeater, "repeater", "Повторитель"},
};

const RoleName* FindRole(std::uint8_t role) {
    for (const RoleName& r : kRoleNames) {
        if (r.value == role) return &r;
    }
    return nullptr;
}

OJson ModeJson(std::uint8_t mode) {
    const proto::ModeParts m = proto::SplitMode(mode);
    OJson j;
    // A role the window has no name for keeps its number.
    if (const RoleName* r = FindRole(m.role)) {
        j["role"] = r->word;
    } else {
        j["role"] = m.role;
    }
    j["master"] = m.master;
    j["frequency"] = m.frequency;
    return j;
}

template <typename T>
OJson OrNull(const std::optional<T>& v) {
    return v ? OJson(*v) : OJson(nullptr);
}

std::string Dump(const OJson& j) {
    return j.dump(-1, ' ', false, OJson::error_handler_t::replace);
}

// ---- Where each value of a document stands --------------------------------

// The place of a value, and of the key that names it, by path ("/devices/0/tags").
struct Where {
    std::size_t value = 0;
    std::size_t key = 0;
};

std::string PathPart(const std::string& key) {
    std::string s;
    for (char c : key) {
        if (c == '~') {
            s += "~0";
        } else if (c == '/') {
            s += "~1";
        } else {
            s += c;
        }
    }
    return s;
}

void PutUtf8(std::string& s, std::uint32_t cp) {
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Walks a document the JSON parser has already taken, noting where every value
// and key starts; nlohmann's tree keeps no positions. Also finds a key given
// twice in one object, which the parser silently takes the last of.
class Scanner {
  public:
    Scanner(const std::string& text, std::size_t start) : t_(text), i_(start) {}
    void Run() { Value("", i_); }
    std::map<std::string, Where> where;
    std::optional<std::pair<std::string, std::size_t>> repeated;  // key and its place

  private:
    void Blank() {
        while (i_ < t_.size() &&
               (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r'))
            ++i_;
    }
    unsigned Hex4() {
        unsigned v = 0;
        for (int n = 0; n < 4 && i_ < t_.size(); ++n, ++i_) {
            const char c = t_[i_];
            v = v * 16 + static_cast<unsigned>(c >= 'a'   ? c - 'a' + 10
                                               : c >= 'A' ? c - 'A' + 10
                                                          : c - '0');
        }
        return v;
    }
    std::string String() {
        std::string s;
        ++i_;  // the opening quote
        while (i_ < t_.size() && t_[i_] != '"') {
            if (t_[i_] != '\\') {
                s += t_[i_++];
                continue;
            }
            ++i_;
            if (i_ >= t_.size()) break;
            const char e = t_[i_++];
            switch (e) {
                case 'b':
                    s += '\b';
                    break;
                case 'f':
                    s += '\f';
                    break;
                case 'n':
                    s += '\n';
                    break;
                case 'r':
                    s += '\r';
                    break;
                case 't':
                    s += '\t';
                    break;
                case 'u': {
                    std::uint32_t cp = Hex4();
                    if (cp >= 0xD800 && cp < 0xDC00 && i_ + 1 < t_.size() && t_[i_] == '\\' &&
                        t_[i_ + 1] == 'u') {
                        i_ += 2;
                        const std::uint32_t low = Hex4();
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    PutUtf8(s, cp);
                    break;
                }
                default:
                    s += e;
                    break;
            }
        }
        ++i_;  // the closing quote
        return s;
    }
    void Value(const std::string& path, std::size_t key) {
        Blank();
        where[path] = {i_, key};
        if (i_ >= t_.size()) return;
        if (t_[i_] == '{') {
            ++i_;
            std::set<std::string> seen;
            while (true) {
                Blank();
                if (i_ >= t_.size() || t_[i_] == '}') break;
                const std::size_t at = i_;
                const std::string name = String();
                if (!seen.insert(name).second && !repeated) repeated = {{name, at}};
                Blank();
                ++i_;  // ':'
                Value(path + "/" + PathPart(name), at);
                Blank();
                if (i_ < t_.size() && t_[i_] == ',') ++i_;
            }
            ++i_;
        } else if (t_[i_] == '[') {
            ++i_;
            for (std::size_t n = 0;; ++n) {
                Blank();
                if (i_ >= t_.size() || t_[i_] == ']') break;
                Value(path + "/" + std::to_string(n), i_);
                Blank();
                if (i_ < t_.size() && t_[i_] == ',') ++i_;
            }
            ++i_;
        } else if (t_[i_] == '"') {
            String();
        } else {
            while (i_ < t_.size() &&
                   std::string_view(",]} \t\r\n").find(t_[i_]) == std::string_view::npos)
                ++i_;
        }
    }

    const std::string& t_;
    std::size_t i_;
};

// Line and column of a byte offset, both from 1; a column counts characters.
std::pair<int, int> LineColumn(const std::string& text, std::size_t offset, std::size_t start) {
    offset = std::min(offset, text.size());
    int line = 1;
    int column = 1;
    for (std::size_t i = start; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return {line, column};
}

// Arrays and objects nested deeper than any site file goes; found before the
// parser and the scanner, which would follow them all the way down.
constexpr int kDepthLimit = 32;
std::optional<std::size_t> TooDeep(const std::string& text) {
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kDepthLimit) return i;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return std::nullopt;
}

// ---- Checking a document ----------------------------------------------------

struct Failure {
    std::string path;
    bool atKey = false;  // the key is wrong, not its value
    std::string text;
};

std::string Name(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

class Checker {
  public:
    std::optional<Failure> failure;

    bool Fail(const std::string& path, std::string text, bool atKey = false) {
        if (!failure) failure = Failure{path, atKey, std::move(text)};
        return false;
    }

    bool Object(const Json& j, const std::string& path, std::initializer_list<const char*> known) {
        if (!j.is_object()) return Fail(path, "нужен объект {…}");
        for (const auto& [key, value] : j.items()) {
            const bool ok = std::any_of(known.begin(), known.end(),
                                        [&key = key](const char* k) { return key == k; });
            if (!ok)
                return Fail(path + "/" + PathPart(key), "неизвестное поле \"" + key + "\"", true);
        }
        return true;
    }

    const Json* Field(const Json& j, const std::string& path, const char* name, bool required) {
        const auto it = j.find(name);
        if (it == j.end()) {
            if (required) Fail(path, std::string("нет поля ") + name);
            return nullptr;
        }
        return &*it;
    }

    std::optional<std::int64_t> Integer(const Json& j, const std::string& path, std::int64_t lo,
                                        std::int64_t hi) {
        const std::string name = Name(path);
        if (j.is_number_unsigned() && j.get<std::uint64_t>() > static_cast<std::uint64_t>(hi)) {
            Fail(path, name + ": " + j.dump() + " вне диапазона " + std::to_string(lo) + ".." +
                           std::to_string(hi));
            return std::nullopt;
        }
        if (!j.is_number_integer()) {
            Fail(path, name + ": нужно целое число, а не " + j.dump());
            return std::nullopt;
        }
        const std::int64_t v = j.get<std::int64_t>();
        if (v < lo || v > hi) {
            Fail(path, name + ": " + std::to_string(v) + " вне диапазона " + std::to_string(lo) +
                           ".." + std::to_string(hi));
            return std::nullopt;
        }
        return v;
    }

    std::optional<std::string> Text(const Json& j, const std::string& path) {
        if (!j.is_string()) {
            Fail(path, Name(path) + ": нужна строка в кавычках");
            return std::nullopt;
        }
        return j.get<std::string>();
    }

    std::optional<bool> Flag(const Json& j, const std::string& path) {
        if (!j.is_boolean()) {
            Fail(path, Name(path) + ": нужно true или false");
            return std::nullopt;
        }
        return j.get<bool>();
    }

    // An integer field that may be absent, or null where `nullable`.
    template <typename T>
    bool Optional(const Json& j, const std::string& path, const char* name, std::int64_t lo,
                  std::int64_t hi, std::optional<T>& into, bool nullable = false) {
        const Json* v = Field(j, path, name, false);
        if (v == nullptr || (nullable && v->is_null())) return true;
        const auto n = Integer(*v, path + "/" + name, lo, hi);
        if (!n) return false;
        into = static_cast<T>(*n);
        return true;
    }

    // A tag field, decided by the window's own check of the parameter boxes
    // (the other boxes holding values it takes); lo..hi only names its range.
    bool TagParam(const Json& j, const std::string& path, const char* name, std::int64_t lo,
                  std::int64_t hi, std::string TagParamTexts::*box) {
        const Json* v = Field(j, path, name, false);
        if (v == nullptr) return true;
        const auto n = Integer(*v, path + "/" + name, INT32_MIN, INT32_MAX);
        if (!n) return false;
        TagParamTexts texts{"0", "0", "1", "3", "", "0"};
        texts.*box = std::to_string(*n);
        const char* message = nullptr;
        if (!ReadTagParams(texts, &message))
            return Fail(path + "/" + name, std::string(name) + ": " + std::to_string(*n) +
                                               " вне диапазона " + std::to_string(lo) + ".." +
                                               std::to_string(hi));
        return true;
    }

    std::optional<std::uint8_t> Mode(const Json& j, const std::string& path) {
        if (!Object(j, path, {"role", "master", "frequency"})) return std::nullopt;
        const Json* role = Field(j, path, "role", true);
        const Json* master = Field(j, path, "master", false);
        const Json* frequency = Field(j, path, "frequency", false);
        if (role == nullptr) return std::nullopt;
        std::uint8_t value = 0;
        if (role->is_string()) {
            const auto word = role->get<std::string>();
            const RoleName* found = nullptr;
            for (const RoleName& r : kRoleNames) {
                if (word == r.word) found = &r;
            }
            if (found == nullptr) {
                Fail(path + "/role", "role: \"" + word +
                                         "\" - нужно reader, reader-indicator, tag, bridge, "
                                         "repeater или число 0..63");
                return std::nullopt;
            }
            value = found->value;
        } else {
            const auto n = Integer(*role, path + "/role", 0, 0x3F);
            if (!n) return std::nullopt;
            value = static_cast<std::uint8_t>(*n);
        }
        if (master != nullptr) {
            const auto b = Flag(*master, path + "/master");
            if (!b) return std::nullopt;
            if (*b) value |= proto::kModeMaster;
        }
        if (frequency != nullptr) {
            const auto b = Flag(*frequency, path + "/frequency");
            if (!b) return std::nullopt;
            if (*b) value |= proto::kModeFrequency;
        }
        return value;
    }

    std::optional<Tag> TagOf(const Json& j, const std::string& path) {
        if (!Object(j, path,
                    {"serial", "id", "interval", "mode", "power", "sleep", "version", "level"}))
            return std::nullopt;
        Tag t;
        const Json* serial = Field(j, path, "serial", true);
        if (serial == nullptr) return std::nullopt;
        const auto s = Integer(*serial, path + "/serial", 0, 0xFFFFFFFF);
        if (!s) return std::nullopt;
        t.serial = static_cast<std::uint32_t>(*s);
        if (const Json* id = Field(j, path, "id", false)) {
            const auto text = Text(*id, path + "/id");
            if (!text) return std::nullopt;
            // The window's check of the identifier box, and its message.
            if (const char* problem = HexIdMessage(CheckHexId(*text))) {
                Fail(path + "/id", "id: \"" + *text + "\": " + problem);
                return std::nullopt;
            }
            t.id = HexIdFromRight(*text);
        }
        if (!TagParam(j, path, "interval", 1, 65000, &TagParamTexts::interval) ||
            !TagParam(j, path, "mode", 0, 255, &TagParamTexts::mode) ||
            !TagParam(j, path, "power", 3, 247, &TagParamTexts::power) ||
            !TagParam(j, path, "sleep", 0, 32767, &TagParamTexts::sleep))
            return std::nullopt;
        Optional(j, path, "interval", 0, 0xFFFF, t.interval);
        Optional(j, path, "mode", 0, 0xFF, t.mode);
        Optional(j, path, "power", 0, 0xFF, t.power);
        Optional(j, path, "sleep", 0, 0xFFFF, t.sleep);
        if (const Json* v = Field(j, path, "version", false)) {
            t.version = Text(*v, path + "/version");
            if (!t.version) return std::nullopt;
        }
        if (!Optional(j, path, "level", -128, 127, t.level, true)) return std::nullopt;
        return t;
    }

    std::optional<Device> DeviceOf(const Json& j, const std::string& path) {
        if (!Object(j, path,
                    {"address", "serial", "version", "mode", "calibration", "reading", "tags"}))
            return std::nullopt;
        Device d;
        const Json* address = Field(j, path, "address", true);
        if (address == nullptr) return std::nullopt;
        const auto a = Integer(*address, path + "/address", INT32_MIN, INT32_MAX);
        if (!a) return std::nullopt;
        // Decided by the window's check of a new address.
        if (!ReadNetAddress(std::to_string(*a))) {
            Fail(path + "/address", "address: " + std::to_string(*a) + " вне диапазона 0..200");
            return std::nullopt;
        }
        d.address = static_cast<std::uint8_t>(*a);
        const Json* serial = Field(j, path, "serial", true);
        if (serial == nullptr) return std::nullopt;
        const auto s = Integer(*serial, path + "/serial", 0, 0xFFFFFFFF);
        if (!s) return std::nullopt;
        d.serial = static_cast<std::uint32_t>(*s);
        if (const Json* v = Field(j, path, "version", false)) {
            d.version = Text(*v, path + "/version");
            if (!d.version) return std::nullopt;
        }
        if (const Json* m = Field(j, path, "mode", false)) {
            d.mode = Mode(*m, path + "/mode");
            if (!d.mode) return std::nullopt;
        }
        if (const Json* c = Field(j, path, "calibration", false)) {
            const std::string p = path + "/calibration";
            if (!Object(*c, p, {"empty", "full", "k"})) return std::nullopt;
            Calibration cal;
            const Json* empty = Field(*c, p, "empty", true);
            const Json* full = Field(*c, p, "full", true);
            const Json* k = Field(*c, p, "k", true);
            if (empty == nullptr || full == nullptr || k == nullptr) return std::nullopt;
            const auto e = Integer(*empty, p + "/empty", 0, 0xFFFFFFFF);
            const auto f = e ? Integer(*full, p + "/full", 0, 0xFFFFFFFF) : std::nullopt;
            const auto kk = f ? Integer(*k, p + "/k", 0, 0xFFFF) : std::nullopt;
            if (!kk) return std::nullopt;
            cal.empty = static_cast<std::uint32_t>(*e);
            cal.full = static_cast<std::uint32_t>(*f);
            cal.k = static_cast<std::uint16_t>(*kk);
            d.calibration = cal;
        }
        if (const Json* r = Field(j, path, "reading", false)) {
            const std::string p = path + "/reading";
            if (!Object(*r, p, {"time", "level", "temperature", "current"})) return std::nullopt;
            Reading reading;
            if (const Json* time = Field(*r, p, "time", false)) {
                const auto text = Text(*time, p + "/time");
                if (!text) return std::nullopt;
                reading.time = *text;
            }
            if (!Optional(*r, p, "level", 0, 0xFFFF, reading.level, true) ||
                !Optional(*r, p, "temperature", -128, 127, reading.temperature, true) ||
                !Optional(*r, p, "current", 0, 0xFFFFFFFF, reading.current, true))
                return std::nullopt;
            d.reading = reading;
        }
        if (const Json* tags = Field(j, path, "tags", false)) {
            if (!tags->is_array()) {
                Fail(path + "/tags", "tags: нужен массив […]");
                return std::nullopt;
            }
            for (std::size_t n = 0; n < tags->size(); ++n) {
                auto t = TagOf((*tags)[n], path + "/tags/" + std::to_string(n));
                if (!t) return std::nullopt;
                d.tags.push_back(std::move(*t));
            }
        }
        return d;
    }

    std::optional<Site> SiteOf(const Json& j) {
        if (!j.is_object()) {
            Fail("", "нужен объект {…} с полем \"format\": \"" + std::string(kFormat) + "\"");
            return std::nullopt;
        }
        // The format first: another kind of JSON file is named as such, not
        // by its first unknown field.
        const Json* format = Field(j, "", "format", false);
        if (format == nullptr) {
            Fail("", std::string("нет поля format: это не файл объекта ") + kFormat);
            return std::nullopt;
        }
        if (!format->is_string() || format->get<std::string>() != kFormat) {
            Fail("/format", "format " + format->dump() + ": это не файл объекта " + kFormat);
            return std::nullopt;
        }
        if (!Object(j, "", {"format", "date", "busdesk", "port", "devices"})) return std::nullopt;
        Site site;
        for (auto [name, into] :
             {std::pair{"date", &site.date}, std::pair{"busdesk", &site.busdesk},
              std::pair{"port", &site.port}}) {
            if (const Json* v = Field(j, "", name, false)) {
                const auto text = Text(*v, std::string("/") + name);
                if (!text) return std::nullopt;
                *into = *text;
            }
        }
        const Json* devices = Field(j, "", "devices", true);
        if (devices == nullptr) return std::nullopt;
        if (!devices->is_array()) {
            Fail("/devices", "devices: нужен массив […]");
            return std::nullopt;
        }
        std::map<std::uint8_t, std::uint32_t> addresses;
        std::set<std::uint32_t> serials;
        std::set<std::uint32_t> tagSerials;
        for (std::size_t n = 0; n < devices->size(); ++n) {
            const std::string path = "/devices/" + std::to_string(n);
            auto d = DeviceOf((*devices)[n], path);
            if (!d) return std::nullopt;
            // Two devices on one address or with one serial number would make
            // the plan put two devices on one address.
            if (const auto it = addresses.find(d->address); it != addresses.end()) {
                Fail(path + "/address", "address: на адресе " + std::to_string(d->address) +
                                            " уже устройство " + std::to_string(it->second));
                return std::nullopt;
            }
            if (!serials.insert(d->serial).second) {
                Fail(path + "/serial",
                     "serial: устройство " + std::to_string(d->serial) + " уже есть в файле");
                return std::nullopt;
            }
            for (std::size_t t = 0; t < d->tags.size(); ++t) {
                if (!tagSerials.insert(d->tags[t].serial).second) {
                    Fail(
                        path + "/tags/" + std::to_string(t) + "/serial",
                        "serial: метка " + std::to_string(d->tags[t].serial) + " уже есть в файле");
                    return std::nullopt;
                }
            }
            addresses[d->address] = d->serial;
            site.devices.push_back(std::move(*d));
        }
        return site;
    }
};

// ---- Comparing ----------------------------------------------------------------

std::string IdText(const std::optional<std::uint32_t>& id) {
    return id ? proto::TagIdShown(*id) : std::string("—");
}

template <typename T>
std::string Plain(const std::optional<T>& v) {
    if (!v) return "—";
    if constexpr (std::is_same_v<T, std::string>) {
        return *v;
    } else {
        return std::to_string(*v);
    }
}

std::string DeviceLabel(const Device& d) {
    return "устройство " + std::to_string(d.serial) + " на адресе " + std::to_string(d.address);
}

// "у устройства 100123 на адресе 1"
std::string AtDevice(const Device& d) {
    return "у устройства " + std::to_string(d.serial) + " на адресе " + std::to_string(d.address);
}

const Device* BySerial(const Site& s, std::uint32_t serial) {
    for (const Device& d : s.devices) {
        if (d.serial == serial) return &d;
    }
    return nullptr;
}

struct TagAt {
    const Device* device = nullptr;
    const Tag* tag = nullptr;
};
TagAt TagBySerial(const Site& s, std::uint32_t serial) {
    for (const Device& d : s.devices) {
        for (const Tag& t : d.tags) {
            if (t.serial == serial) return {&d, &t};
        }
    }
    return {};
}

bool Settable(std::uint8_t mode) {
    const proto::ModeParts m = proto::SplitMode(mode);
    // What the window's role options and flags can give: the flags only
    // with the bridge role.
    if (m.role == proto::kRoleBridge) return true;
    return (m.role == proto::kRoleReader || m.role == proto::kRoleReaderIndicator) && !m.master &&
           !m.frequency;
}

class Differ {
  public:
    std::vector<Difference> out;

    void Add(const std::string& field, const Device& d, std::optional<std::uint32_t> tag,
             std::string file, std::string bus, std::string text) {
        out.push_back(
            {field, d.serial, d.address, tag, std::move(file), std::move(bus), std::move(text)});
    }

    template <typename T>
    void Value(const std::string& field, const Device& bus, std::optional<std::uint32_t> tag,
               const std::string& label, const char* what, const std::optional<T>& file,
               const std::optional<T>& now) {
        if (!file || file == now) return;
        Add(field, bus, tag, Dump(OrNull(file)), Dump(OrNull(now)),
            label + ": " + what + " " + Plain(now) + ", в файле " + Plain(file));
    }

    void Reading(const std::string& field, const Device& bus, std::optional<std::uint32_t> tag,
                 const std::string& label, const char* what, std::optional<double> file,
                 std::optional<double> now, double percent) {
        if (!file || !now) return;
        if (std::abs(*now - *file) <= std::abs(*file) * percent / 100.0) return;
        const auto text = [](double v) { return std::to_string(std::llround(v)); };
        Add(field, bus, tag, text(*file), text(*now),
            label + ": " + what + " " + text(*now) + ", в файле " + text(*file) + " (больше " +
                Dump(OJson(percent)) + " %)");
    }
};

template <typename T>
std::optional<double> Real(const std::optional<T>& v) {
    return v ? std::optional<double>(static_cast<double>(*v)) : std::nullopt;
}

std::string ModeShown(const std::optional<std::uint8_t>& m) {
    return m ? ModeText(*m) : "—";
}

}  // namespace

std::string RoleWord(std::uint8_t mode) {
    const std::uint8_t role = proto::SplitMode(mode).role;
    const RoleName* r = FindRole(role);
    return r ? r->word : std::to_string(role);
}

std::string ModeText(std::uint8_t mode) {
    const proto::ModeParts m = proto::SplitMode(mode);
    const RoleName* r = FindRole(m.role);
    std::string s = r ? r->caption : "роль " + std::to_string(m.role);
    if (m.master) s += ", Мастер";
    if (m.frequency) s += ", Частотный выход";
    return s;
}

std::string JoinWords(const std::vector<std::string>& words) {
    std::string s;
    for (const std::string& w : words) s += (s.empty() ? "" : " ") + w;
    return s;
}

std::string Write(const Site& site) {
    OJson doc;
    doc["format"] = kFormat;
    doc["date"] = site.date;
    doc["busdesk"] = site.busdesk;
    doc["port"] = site.port;
    doc["devices"] = OJson::array();
    for (const Device& d : site.devices) {
        OJson j;
        j["address"] = d.address;
        j["serial"] = d.serial;
        if (d.version) j["version"] = *d.version;
        if (d.mode) j["mode"] = ModeJson(*d.mode);
        if (d.calibration)
            j["calibration"] = {{"empty", d.calibration->empty},
                                {"full", d.calibration->full},
                                {"k", d.calibration->k}};
        if (d.reading)
            j["reading"] = {{"time", d.reading->time},
                            {"level", OrNull(d.reading->level)},
                            {"temperature", OrNull(d.reading->temperature)},
                            {"current", OrNull(d.reading->current)}};
        j["tags"] = OJson::array();
        for (const Tag& t : d.tags) {
            OJson tag;
            tag["serial"] = t.serial;
            if (t.id) tag["id"] = proto::TagIdShown(*t.id);
            if (t.interval) tag["interval"] = *t.interval;
            if (t.mode) tag["mode"] = *t.mode;
            if (t.power) tag["power"] = *t.power;
            if (t.sleep) tag["sleep"] = *t.sleep;
            if (t.version) tag["version"] = *t.version;
            if (t.level) tag["level"] = *t.level;
            j["tags"].push_back(std::move(tag));
        }
        doc["devices"].push_back(std::move(j));
    }
    return doc.dump(2, ' ', false, OJson::error_handler_t::replace) + "\n";
}

Parsed Parse(const std::string& text) {
    Parsed p;
    // The parser skips a byte-order mark; lines and columns start after it.
    const std::size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    const auto fail = [&](std::size_t offset, std::string error) {
        std::tie(p.line, p.column) = LineColumn(text, offset, start);
        p.error = std::move(error);
        return p;
    };
    if (const auto deep = TooDeep(text)) return fail(*deep, "слишком глубокая вложенность");
    Json doc;
    try {
        doc = Json::parse(text);
    } catch (const Json::parse_error& e) {
        // `byte` counts from 1 and points at the character that was wrong.
        const std::size_t at = e.byte > 0 ? e.byte - 1 : 0;
        std::string why = e.what();
        // Only the parser's own words, without its "[json.exception...]" prefix.
        const std::size_t colon = why.find(": ", why.find("parse error"));
        if (colon != std::string::npos) why = why.substr(colon + 2);
        return fail(at, "ошибка JSON: " + why);
    }
    Scanner scan(text, start);
    scan.Run();
    if (scan.repeated)
        return fail(scan.repeated->second, "поле \"" + scan.repeated->first + "\" повторяется");
    Checker check;
    std::optional<Site> site = check.SiteOf(doc);
    if (!site) {
        const Failure& f = *check.failure;
        const auto it = scan.where.find(f.path);
        const std::size_t at =
            it == scan.where.end() ? start : (f.atKey ? it->second.key : it->second.value);
        return fail(at, f.text);
    }
    p.site = std::move(site);
    return p;
}

std::vector<Difference> Compare(const Site& file, const Site& bus, const CompareOptions& options) {
    Differ d;
    for (const Device& f : file.devices) {
        const Device* b = BySerial(bus, f.serial);
        if (b == nullptr) {
            d.Add("device", f, std::nullopt,
                  Dump(OJson{{"address", f.address}, {"serial", f.serial}}), "null",
                  "устройство " + std::to_string(f.serial) + " (в файле на адресе " +
                      std::to_string(f.address) + ") не найдено на шине");
            continue;
        }
        const std::string label = DeviceLabel(*b);
        if (b->address != f.address)
            d.Add("address", *b, std::nullopt, std::to_string(f.address),
                  std::to_string(b->address),
                  label + ": адрес " + std::to_string(b->address) + ", в файле " +
                      std::to_string(f.address));
        d.Value("version", *b, std::nullopt, label, "версия", f.version, b->version);
        if (f.mode && f.mode != b->mode)
            d.Add("mode", *b, std::nullopt, Dump(ModeJson(*f.mode)),
                  b->mode ? Dump(ModeJson(*b->mode)) : "null",
                  label + ": режим " + ModeShown(b->mode) + ", в файле " + ModeShown(f.mode));
        if (f.calibration) {
            const auto part = [&](const char* key, const char* what, auto get) {
                const std::optional<std::uint32_t> fv = get(*f.calibration);
                const std::optional<std::uint32_t> bv =
                    b->calibration ? get(*b->calibration) : std::optional<std::uint32_t>();
                d.Value(std::string("calibration.") + key, *b, std::nullopt, label, what, fv, bv);
            };
            part("empty", "калибровка \"Пустой\"",
                 [](const Calibration& c) { return std::optional<std::uint32_t>(c.empty); });
            part("full", "калибровка полного уровня",
                 [](const Calibration& c) { return std::optional<std::uint32_t>(c.full); });
            part("k", "калибровка \"K\"",
                 [](const Calibration& c) { return std::optional<std::uint32_t>(c.k); });
        }
        if (options.readings && f.reading && b->reading) {
            const double pc = *options.readings;
            d.Reading("reading.level", *b, std::nullopt, label, "уровень", Real(f.reading->level),
                      Real(b->reading->level), pc);
            d.Reading("reading.temperature", *b, std::nullopt, label, "температура",
                      Real(f.reading->temperature), Real(b->reading->temperature), pc);
            d.Reading("reading.current", *b, std::nullopt, label, "текущий",
                      Real(f.reading->current), Real(b->reading->current), pc);
        }
        for (const Tag& ft : f.tags) {
            const std::string tagName = "метка " + std::to_string(ft.serial);
            const TagAt found = TagBySerial(bus, ft.serial);
            if (found.tag == nullptr) {
                d.Add("tag", *b, ft.serial, Dump(OJson{{"serial", ft.serial}}), "null",
                      tagName + " (в файле у устройства " + std::to_string(f.serial) +
                          ") не слышна на шине");
                continue;
            }
            if (found.device->serial != f.serial) {
                d.Add("tag.reader", *b, ft.serial, std::to_string(f.serial),
                      std::to_string(found.device->serial),
                      tagName + " слышна устройством " + std::to_string(found.device->serial) +
                          " на адресе " + std::to_string(found.device->address) +
                          ", в файле - устройством " + std::to_string(f.serial));
            }
            const Tag& bt = *found.tag;
            const Device& at = *found.device;
            const std::string tl = tagName + " (ID " + IdText(bt.id) + ") " + AtDevice(at);
            if (ft.id && ft.id != bt.id)
                d.Add("tag.id", at, ft.serial, Dump(OJson(IdText(ft.id))),
                      bt.id ? Dump(OJson(IdText(bt.id))) : "null",
                      tl + ": ID " + IdText(bt.id) + ", в файле " + IdText(ft.id));
            d.Value("tag.interval", at, ft.serial, tl, "интервал", ft.interval, bt.interval);
            d.Value("tag.mode", at, ft.serial, tl, "режим", ft.mode, bt.mode);
            d.Value("tag.power", at, ft.serial, tl, "мощность", ft.power, bt.power);
            d.Value("tag.sleep", at, ft.serial, tl, "период", ft.sleep, bt.sleep);
            d.Value("tag.version", at, ft.serial, tl, "версия", ft.version, bt.version);
            if (options.readings)
                d.Reading("tag.level", at, ft.serial, tl, "уровень приёма", Real(ft.level),
                          Real(bt.level), *options.readings);
        }
    }
    for (const Device& b : bus.devices) {
        if (BySerial(file, b.serial) == nullptr)
            d.Add("device", b, std::nullopt, "null",
                  Dump(OJson{{"address", b.address}, {"serial", b.serial}}),
                  DeviceLabel(b) + ": нет в файле");
        for (const Tag& bt : b.tags) {
            if (TagBySerial(file, bt.serial).tag == nullptr)
                d.Add("tag", b, bt.serial, "null",
                      Dump(OJson{{"serial", bt.serial}, {"id", IdText(bt.id)}}),
                      "метка " + std::to_string(bt.serial) + " (ID " + IdText(bt.id) + ") " +
                          AtDevice(b) + ": нет в файле");
        }
    }
    return d.out;
}

std::vector<std::string> ReadingsText(const Site& file, const Site& bus) {
    std::vector<std::string> lines;
    const auto pair = [](const char* what, const auto& now, const auto& was, const char* unit) {
        std::string s = std::string(what) + " " + Plain(now) + unit;
        if (was) s += " (в файле " + Plain(was) + unit + ")";
        return s;
    };
    for (const Device& b : bus.devices) {
        if (!b.reading) continue;
        const Device* f = BySerial(file, b.serial);
        const std::optional<Reading> none;
        const std::optional<Reading>& fr = f ? f->reading : none;
        const auto was = [&fr](auto get) { return fr ? get(*fr) : decltype(get(*fr))(); };
        std::string line =
            "показания: " + DeviceLabel(b) + ": " +
            pair("уровень", b.reading->level, was([](const Reading& r) { return r.level; }), "") +
            ", " +
            pair("температура", b.reading->temperature,
                 was([](const Reading& r) { return r.temperature; }), " °C") +
            ", " +
            pair("текущий", b.reading->current, was([](const Reading& r) { return r.current; }),
                 "");
        lines.push_back(std::move(line));
        for (const Tag& t : b.tags) {
            const TagAt ft = TagBySerial(file, t.serial);
            const std::optional<int> before = ft.tag ? ft.tag->level : std::nullopt;
            lines.push_back("показания: метка " + std::to_string(t.serial) + " " + AtDevice(b) +
                            ": " + pair("уровень приёма", t.level, before, ""));
        }
    }
    return lines;
}

Plan MakePlan(const Site& file, const Site& bus) {
    Plan plan;
    const auto step = [&plan](std::vector<std::string> words, std::string why) {
        plan.steps.push_back({std::move(words), std::move(why)});
    };

    // Who holds each address now; a device that is not in the file stays put.
    std::map<std::uint8_t, std::uint32_t> holder;
    for (const Device& b : bus.devices) holder.emplace(b.address, b.serial);
    struct Move {
        std::uint32_t serial;
        std::uint8_t from, to;
    };
    std::vector<Move> moves;
    std::set<std::uint8_t> wanted;  // every address the file gives a device on the bus
    std::map<std::uint32_t, std::uint8_t> finalAddress;
    for (const Device& f : file.devices) {
        const Device* b = BySerial(bus, f.serial);
        if (b == nullptr) continue;
        wanted.insert(f.address);
        finalAddress[f.serial] = b->address;
        if (b->address != f.address) moves.push_back({f.serial, b->address, f.address});
    }
    const auto moveStep = [&](const Move& m, std::uint8_t to, const std::string& why) {
        step({"set-address", std::to_string(m.from), std::to_string(to)}, why);
        holder.erase(m.from);
        holder[to] = m.serial;
        finalAddress[m.serial] = to;
    };
    while (!moves.empty()) {
        // A move onto a free address, first come first.
        const auto free = std::find_if(moves.begin(), moves.end(),
                                       [&](const Move& m) { return holder.count(m.to) == 0; });
        if (free != moves.end()) {
            moveStep(*free, free->to,
                     "устройство " + std::to_string(free->serial) + ": адрес " +
                         std::to_string(free->from) + " -> " + std::to_string(free->to));
            moves.erase(free);
            continue;
        }
        // Every target is held. Held by a device that moves too, round and
        // round, is a cycle: one of them steps aside to a free address.
        const auto moverAt = [&](std::uint8_t address) {
            return std::find_if(moves.begin(), moves.end(), [&](const Move& m) {
                return holder.count(address) && holder.at(address) == m.serial;
            });
        };
        std::optional<std::size_t> cycle;
        for (std::size_t i = 0; i < moves.size() && !cycle; ++i) {
            std::set<std::uint32_t> seen{moves[i].serial};
            for (auto next = moverAt(moves[i].to); next != moves.end(); next = moverAt(next->to)) {
                if (!seen.insert(next->serial).second) {
                    cycle = static_cast<std::size_t>(next - moves.begin());
                    break;
                }
            }
        }
        std::optional<std::uint8_t> spare;
        for (int a = 200; a >= 0 && cycle && !spare; --a) {
            const auto address = static_cast<std::uint8_t>(a);
            if (holder.count(address) == 0 && wanted.count(address) == 0) spare = address;
        }
        if (cycle && spare) {
            Move& m = moves[*cycle];
            moveStep(m, *spare,
                     "устройство " + std::to_string(m.serial) + ": временный адрес " +
                         std::to_string(*spare) + ", пока адрес " + std::to_string(m.to) +
                         " занят");
            m.from = *spare;
            continue;
        }
        // What is left waits on a device that does not move: two devices must
        // never share an address, so these stay where they are.
        for (const Move& m : moves) {
            const std::uint32_t in = holder.at(m.to);
            std::string why = "устройство " + std::to_string(m.serial) + " на адресе " +
                              std::to_string(m.from) + ": адрес " + std::to_string(m.to) +
                              " не сменить, его занимает устройство " + std::to_string(in);
            why += BySerial(file, in) == nullptr ? ", которого нет в файле"
                   : cycle ? " (нет свободного адреса для обмена)"
                           : ", которое само не может уйти";
            plan.leftOver.push_back(why);
        }
        break;
    }

    for (const Device& f : file.devices) {
        const Device* b = BySerial(bus, f.serial);
        if (b == nullptr || !f.mode || !b->mode || *f.mode == *b->mode) continue;
        const std::string address = std::to_string(finalAddress.at(f.serial));
        const std::string why = "устройство " + std::to_string(f.serial) + ": режим " +
                                ModeText(*b->mode) + " -> " + ModeText(*f.mode);
        if (!Settable(*f.mode)) {
            plan.leftOver.push_back(why + ": через окно не ставится");
            continue;
        }
        std::vector<std::string> words = {"set-mode", address, RoleWord(*f.mode)};
        const proto::ModeParts m = proto::SplitMode(*f.mode);
        if (m.frequency) words.push_back("--average");
        if (m.master) words.push_back("--invert");
        step(words, why);
    }

    for (const Device& f : file.devices) {
        const Device* b = BySerial(bus, f.serial);
        if (b == nullptr) continue;
        // A tag is read and written by the identifier it has: one that takes
        // an identifier another tag of this reader still has would leave two
        // tags answering to it, and the next write could reach the wrong one.
        struct Write {
            std::uint32_t serial;
            std::uint32_t id;
            std::optional<std::uint32_t> newId;
            std::vector<std::string> words;
            std::string why;
        };
        std::vector<Write> writes;
        std::map<std::uint32_t, std::uint32_t> idHolder;  // identifier -> tag serial
        for (const Tag& t : b->tags) {
            if (t.id) idHolder.emplace(*t.id, t.serial);
        }
        for (const Tag& ft : f.tags) {
            const TagAt found = TagBySerial(bus, ft.serial);
            // A tag is where its reader hears it: another reader's tag cannot be
            // moved by a command.
            if (found.tag == nullptr || found.device->serial != f.serial || !found.tag->id)
                continue;
            const Tag& bt = *found.tag;
            std::vector<std::string> words = {
                "write-tag", std::to_string(finalAddress.at(f.serial)), proto::TagIdShown(*bt.id)};
            std::string why;
            const auto change = [&](const char* option, const char* what, const auto& want,
                                    const auto& now) {
                if (!want || want == now) return;
                words.push_back(option);
                words.push_back(std::to_string(*want));
                why += std::string(why.empty() ? "" : ", ") + what + " " + Plain(now) + " -> " +
                       std::to_string(*want);
            };
            change("--interval", "интервал", ft.interval, bt.interval);
            change("--mode", "режим", ft.mode, bt.mode);
            change("--power", "мощность", ft.power, bt.power);
            change("--sleep", "период", ft.sleep, bt.sleep);
            if (ft.id && ft.id != bt.id) {
                words.push_back("--new-id");
                words.push_back(proto::TagIdShown(*ft.id));
                why += std::string(why.empty() ? "" : ", ") + "ID " + IdText(bt.id) + " -> " +
                       IdText(ft.id);
            }
            if (why.empty()) continue;
            std::optional<std::uint32_t> newId;
            if (ft.id && ft.id != bt.id) newId = ft.id;
            writes.push_back({ft.serial, *bt.id, newId, words,
                              "метка " + std::to_string(ft.serial) + ": " + why});
        }
        while (!writes.empty()) {
            const auto free = std::find_if(writes.begin(), writes.end(), [&](const Write& w) {
                return !w.newId || idHolder.count(*w.newId) == 0;
            });
            if (free == writes.end()) {
                for (const Write& w : writes) {
                    plan.leftOver.push_back(w.why + ": ID " + IdText(w.newId) + " сейчас у метки " +
                                            std::to_string(idHolder.at(*w.newId)));
                }
                break;
            }
            step(free->words, free->why);
            if (free->newId) {
                idHolder.erase(free->id);
                idHolder[*free->newId] = free->serial;
            }
            writes.erase(free);
        }
    }

    // What no command sets.
    for (const Difference& d : Compare(file, bus, {})) {
        if (d.field == "device" || d.field == "version" || d.field.rfind("calibration.", 0) == 0 ||
            d.field == "tag" || d.field == "tag.reader" || d.field == "tag.version")
            plan.leftOver.push_back(d.text);
    }
    return plan;
}

namespace {

#ifdef _WIN32
int OpenFile(const std::string& path, int flags, int mode) {
    return engine::OpenPath(path, flags | _O_BINARY | _O_NOINHERIT, mode);
}
int CloseFile(int fd) {
    return _close(fd);
}
long PutBytes(int fd, const char* data, std::size_t n) {
    return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30)));
}
long GetBytes(int fd, char* data, std::size_t n) {
    return _read(fd, data, static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30)));
}
int SyncFile(int fd) {
    return _commit(fd);
}
int Pid() {
    return _getpid();
}
constexpr int kReadFlags = _O_RDONLY;
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_EXCL;
constexpr int kCreateMode = _S_IREAD | _S_IWRITE;
#else
int OpenFile(const std::string& path, int flags, int mode) {
    return engine::OpenPath(path, flags | O_CLOEXEC, mode);
}
int CloseFile(int fd) {
    return close(fd);
}
long PutBytes(int fd, const char* data, std::size_t n) {
    return write(fd, data, n);
}
long GetBytes(int fd, char* data, std::size_t n) {
    return read(fd, data, n);
}
int SyncFile(int fd) {
    return fsync(fd);
}
int Pid() {
    return getpid();
}
// Without blocking: a FIFO put where the file was would wait for a writer.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK;
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL;
constexpr int kCreateMode = 0666;  // less the umask, as for any new file
#endif

std::string Why() {
    return std::strerror(errno);
}

}  // namespace

Loaded Load(const std::string& path) {
    Loaded l;
    const int fd = OpenFile(path, kReadFlags, 0);
    if (fd < 0) {
        l.error = (errno == ENOENT ? "нет файла " : "не открывается файл ") + path;
        return l;
    }
    // Checked on the open file, not by name, so nothing can be put in between.
    struct stat st {};
    if (fstat(fd, &st) != 0 || (st.st_mode & S_IFMT) != S_IFREG) {
        CloseFile(fd);
        l.error = path + " - не обычный файл";
        return l;
    }
    l.text.resize(kFileLimit + 1);
    std::size_t got = 0;
    while (got < l.text.size()) {
        const long n = GetBytes(fd, l.text.data() + got, l.text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            CloseFile(fd);
            l.text.clear();
            l.error = "не читается файл " + path + ": " + Why();
            return l;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    CloseFile(fd);
    l.text.resize(got);
    if (got > kFileLimit) {
        l.text.clear();
        l.error = path + " больше " + std::to_string(kFileLimit >> 20) + " МиБ";
    }
    return l;
}

WholeFile::~WholeFile() {
    Discard();
}

void WholeFile::Discard() {
    if (fd_ >= 0) CloseFile(fd_);
    fd_ = -1;
    if (!temp_.empty()) engine::RemovePath(temp_);
    temp_.clear();
}

bool WholeFile::Open(const std::string& path, std::string* error) {
    Discard();
    path_ = path;
    // Only a file is replaced: a folder or a device in its place is said now,
    // not after the whole bus was read.
    engine::PathStat st{};
    if (engine::PathStatus(path, st) == 0 && (st.st_mode & S_IFMT) != S_IFREG) {
        *error = path + " - не обычный файл";
        return false;
    }
    // Beside the file, so the rename stays on one file system.
    for (int n = 0; n < 100 && fd_ < 0; ++n) {
        temp_ = path + ".tmp-" + std::to_string(Pid()) + "-" + std::to_string(n);
        fd_ = OpenFile(temp_, kCreateFlags, kCreateMode);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        *error = "не создать файл рядом с " + path + ": " + Why();
        temp_.clear();
        return false;
    }
    return true;
}

bool WholeFile::Commit(const std::string& text, std::string* error) {
    if (fd_ < 0) {
        *error = "файл " + path_ + " не открыт";
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const long n = PutBytes(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = "не записать " + path_ + ": " + Why();
            Discard();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    // On the disk before it takes the name: a crash leaves the old file or
    // the new one, never half of one.
    if (SyncFile(fd_) != 0 || CloseFile(fd_) != 0) {
        fd_ = -1;
        *error = "не записать " + path_ + ": " + Why();
        Discard();
        return false;
    }
    fd_ = -1;
    if (!engine::ReplacePath(temp_, path_)) {
        *error = "не переименовать " + temp_ + " в " + path_ + ": " + Why();
        Discard();
        return false;
    }
    temp_.clear();
    return true;
}

}  // namespace busdesk::cli::site
