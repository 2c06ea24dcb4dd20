#include "sim/bus_config.h"

#include <charconv>
#include <limits>
#include <sstream>
#include <string_view>

namespace busdesk::sim {

BusConfig DefaultBusConfig() {
    BusConfig c;
    ReaderConfig reader;
    reader.address = 1;
    reader.mode = 0x02;
    reader.serial = 100123;
    reader.version = 134;
    reader.temperature = 21;
    reader.current = 52000;

    ReaderConfig indicator;
    indicator.address = 5;
    indicator.mode = 0x01;
    indicator.serial = 100456;
    indicator.version = 131;
    indicator.prefix = 2;
    indicator.temperature = 19;
    indicator.current = 61000;
    indicator.k = 120;

    ReaderConfig bridge;
    bridge.address = 7;
    bridge.mode = 0x80;
    bridge.serial = 100789;
    bridge.version = 125;
    bridge.temperature = 23;
    bridge.current = 35000;
    bridge.k = 80;
    c.readers = {reader, indicator, bridge};

    TagConfig first;
    first.reader = 1;
    first.serial = 5001;
    first.id = 0x1A2B3C4D;
    first.level = -60;
    TagConfig second;
    second.reader = 1;
    second.serial = 5002;
    second.id = 0x0A0B0C0D;  // shown with a leading digit dropped: A0B0C0D
    second.interval = 600;
    second.mode = 1;
    second.power = 50;
    second.version = 31;
    second.sleep = 120;
    second.level = -75;
    c.tags = {first, second};
    return c;
}

namespace {

template <typename T>
bool ParseInt(std::string_view text, T& out, int base = 10) {
    long long v = 0;
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, v, base);
    if (ec != std::errc() || p != end) return false;
    if (v < static_cast<long long>(std::numeric_limits<T>::min()) ||
        v > static_cast<long long>(std::numeric_limits<T>::max())) {
        return false;
    }
    out = static_cast<T>(v);
    return true;
}

bool SplitKeyValue(const std::string& word, std::string& key, std::string& value) {
    const auto eq = word.find('=');
    if (eq == std::string::npos) return false;
    key = word.substr(0, eq);
    value = word.substr(eq + 1);
    return true;
}

// Returns an empty string on success, else what was wrong.
std::string ParseReader(std::istringstream& words, ReaderConfig& r) {
    std::string word;
    if (!(words >> word) || !ParseInt(word, r.address) || r.address > 200) {
        return "reader needs an address 0..200";
    }
    while (words >> word) {
        if (word == "silent") {
            r.present = false;
            continue;
        }
        std::string key, value;
        bool ok = SplitKeyValue(word, key, value);
        if (ok && key == "mode") {
            ok = ParseInt(value, r.mode);
        } else if (ok && key == "serial") {
            ok = ParseInt(value, r.serial);
        } else if (ok && key == "version") {
            ok = ParseInt(value, r.version);
        } else if (ok && key == "prefix") {
            ok = ParseInt(value, r.prefix);
        } else if (ok && key == "temp") {
            ok = ParseInt(value, r.temperature);
        } else if (ok && key == "current") {
            ok = ParseInt(value, r.current);
        } else if (ok && key == "lo") {
            ok = ParseInt(value, r.lo);
        } else if (ok && key == "hi") {
            ok = ParseInt(value, r.hi);
        } else if (ok && key == "k") {
            ok = ParseInt(value, r.k);
        } else {
            ok = false;
        }
        if (!ok) return "bad reader setting '" + word + "'";
    }
    return {};
}

std::string ParseTag(std::istringstream& words, TagConfig& t) {
    std::string word;
    if (!(words >> word) || !ParseInt(word, t.reader) || t.reader > 200) {
        return "tag needs the address 0..200 of its reader";
    }
    while (words >> word) {
        std::string key, value;
        bool ok = SplitKeyValue(word, key, value);
        if (ok && key == "serial") {
            ok = ParseInt(value, t.serial);
        } else if (ok && key == "id") {
            ok = value.size() <= 8 && ParseInt(value, t.id, 16);
        } else if (ok && key == "interval") {
            ok = ParseInt(value, t.interval);
        } else if (ok && key == "mode") {
            ok = ParseInt(value, t.mode);
        } else if (ok && key == "power") {
            ok = ParseInt(value, t.power);
        } else if (ok && key == "version") {
            ok = ParseInt(value, t.version);
        } else if (ok && key == "sleep") {
            ok = ParseInt(value, t.sleep);
        } else if (ok && key == "level") {
            ok = ParseInt(value, t.level);
        } else {
            ok = false;
        }
        if (!ok) return "bad tag setting '" + word + "'";
    }
    return {};
}

}  // namespace

std::optional<BusConfig> ParseBusConfig(const std::string& text, std::string& error) {
    BusConfig c;
    c.readers.clear();
    std::string normalized = text;
    for (char& ch : normalized) {
        if (ch == ';') ch = '\n';
    }
    std::istringstream lines(normalized);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string kind;
        if (!(words >> kind)) continue;
        std::string problem;
        if (kind == "reader") {
            ReaderConfig r;
            problem = ParseReader(words, r);
            if (problem.empty()) c.readers.push_back(r);
        } else if (kind == "tag") {
            TagConfig t;
            problem = ParseTag(words, t);
            if (problem.empty()) c.tags.push_back(t);
        } else if (kind == "drift") {
            std::string value;
            words >> value;
            if (value == "on" || value == "off") {
                c.drift = value == "on";
            } else {
                problem = "drift takes on or off";
            }
        } else {
            problem = "unknown device kind '" + kind + "'";
        }
        if (!problem.empty()) {
            error = "line " + std::to_string(number) + ": " + problem;
            return std::nullopt;
        }
    }
    return c;
}

}  // namespace busdesk::sim
