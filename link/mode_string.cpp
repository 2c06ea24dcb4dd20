#include "link/mode_string.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace busdesk {

namespace {

std::string Trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    const std::size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::optional<unsigned long> ParseNumber(const std::string& s) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    unsigned long n = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    return n;
}

}  // namespace

std::optional<LineSettings> ParseModeString(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        fields.push_back(Trim(text.substr(start, comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (fields.size() > 4) return std::nullopt;

    LineSettings line;
    const std::optional<unsigned long> baud = ParseNumber(fields[0]);
    if (!baud || *baud == 0) return std::nullopt;
    switch (*baud) {
        case 11:
        case 15:
        case 30:
        case 60:
            line.baud = *baud * 10;
            break;
        case 12:
        case 24:
        case 48:
        case 96:
            line.baud = *baud * 100;
            break;
        case 19:
            line.baud = 19200;
            break;
        default:
            line.baud = *baud;
    }
    if (fields.size() > 1) {
        if (fields[1].size() != 1) return std::nullopt;
        const char p = static_cast<char>(std::toupper(static_cast<unsigned char>(fields[1][0])));
        if (std::strchr("NEOMS", p) == nullptr) return std::nullopt;
        line.parity = p;
    }
    if (fields.size() > 2) {
        const std::optional<unsigned long> bits = ParseNumber(fields[2]);
        if (!bits || *bits < 5 || *bits > 8) return std::nullopt;
        line.dataBits = static_cast<int>(*bits);
    }
    if (fields.size() > 3) {
        if (fields[3] == "1")
            line.stop = StopBits::One;
        else if (fields[3] == "1.5")
            line.stop = StopBits::OneAndHalf;
        else if (fields[3] == "2")
            line.stop = StopBits::Two;
        else
            return std::nullopt;
    }
    return line;
}

}  // namespace busdesk
