#pragma once

// A strict reader of one JSON value, enough to check that journal lines parse
// as a script would parse them: objects, arrays, strings with escapes,
// numbers, true, false, null. Throws std::runtime_error on anything else.
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace busdesk::testing {

struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> array;
    std::map<std::string, Json> object;

    bool Has(const std::string& key) const { return object.count(key) != 0; }
    const Json& operator[](const std::string& key) const {
        const auto it = object.find(key);
        if (it == object.end()) throw std::runtime_error("no member " + key);
        return it->second;
    }
};

class JsonReader {
  public:
    static Json Parse(const std::string& text) {
        JsonReader r(text);
        Json v = r.Value();
        r.Space();
        if (r.at_ != text.size()) r.Fail("trailing characters");
        return v;
    }

  private:
    explicit JsonReader(const std::string& t) : t_(t) {}

    [[noreturn]] void Fail(const char* what) const {
        throw std::runtime_error(std::string(what) + " at " + std::to_string(at_));
    }
    void Space() {
        while (at_ < t_.size() && (t_[at_] == ' ' || t_[at_] == '\t')) ++at_;
    }
    bool Take(char c) {
        Space();
        if (at_ < t_.size() && t_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void Word(const char* w) {
        for (const char* p = w; *p != '\0'; ++p, ++at_) {
            if (at_ >= t_.size() || t_[at_] != *p) Fail("bad literal");
        }
    }
    std::string String() {
        if (!Take('"')) Fail("string expected");
        std::string s;
        for (;;) {
            if (at_ >= t_.size()) Fail("unterminated string");
            const char c = t_[at_++];
            if (c == '"') return s;
            if (static_cast<unsigned char>(c) < 0x20) Fail("control character in string");
            if (c != '\\') {
                s += c;
                continue;
            }
            if (at_ >= t_.size()) Fail("bad escape");
            const char e = t_[at_++];
            if (e == 'u') {
                if (at_ + 4 > t_.size()) Fail("bad \\u");
                const long code = std::strtol(t_.substr(at_, 4).c_str(), nullptr, 16);
                at_ += 4;
                if (code >= 0x80) Fail("only ASCII \\u escapes expected");
                s += static_cast<char>(code);
            } else if (e == '"' || e == '\\' || e == '/') {
                s += e;
            } else if (e == 'n') {
                s += '\n';
            } else if (e == 't') {
                s += '\t';
            } else {
                Fail("bad escape");
            }
        }
    }
    Json Value() {
        Space();
        if (at_ >= t_.size()) Fail("value expected");
        Json v;
        const char c = t_[at_];
        if (c == '{') {
            ++at_;
            v.type = Json::Type::Object;
            if (Take('}')) return v;
            do {
                std::string key = String();
                if (!Take(':')) Fail("':' expected");
                if (v.object.count(key) != 0) Fail("duplicate key");
                v.object[key] = Value();
            } while (Take(','));
            if (!Take('}')) Fail("'}' expected");
        } else if (c == '[') {
            ++at_;
            v.type = Json::Type::Array;
            if (Take(']')) return v;
            do v.array.push_back(Value());
            while (Take(','));
            if (!Take(']')) Fail("']' expected");
        } else if (c == '"') {
            v.type = Json::Type::String;
            v.string = String();
        } else if (c == 't' || c == 'f') {
            v.type = Json::Type::Bool;
            v.boolean = c == 't';
            Word(c == 't' ? "true" : "false");
        } else if (c == 'n') {
            Word("null");
        } else {
            const char* begin = t_.c_str() + at_;
            char* end = nullptr;
            v.type = Json::Type::Number;
            v.number = std::strtod(begin, &end);
            if (end == begin || (*begin != '-' && (*begin < '0' || *begin > '9')))
                Fail("bad value");
            at_ += static_cast<std::size_t>(end - begin);
        }
        return v;
    }

    const std::string& t_;
    std::size_t at_ = 0;
};

}  // namespace busdesk::testing
