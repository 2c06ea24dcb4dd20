#include "link/port_names.h"

#include <cctype>

namespace busdesk {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

}  // namespace

std::optional<std::string> PortMap::CanonicalName(const std::string& name) {
    std::string n = name;
    if (!n.empty() && n.back() == ':') n.pop_back();
    if (n.size() < 4 || n.size() > 6) return std::nullopt;
    if (Upper(n[0]) != 'C' || Upper(n[1]) != 'O' || Upper(n[2]) != 'M') return std::nullopt;
    const std::string digits = n.substr(3);
    int number = 0;
    for (const char c : digits) {
        if (!IsDigit(c)) return std::nullopt;
        number = number * 10 + (c - '0');
    }
    // COM0 and COM01 name nothing on Windows either.
    if (digits[0] == '0' || number > 255) return std::nullopt;
    return "COM" + digits + ":";
}

bool PortMap::Map(const std::string& name, const std::string& path) {
    const std::optional<std::string> canonical = CanonicalName(name);
    if (!canonical || path.empty() || path.find('\0') != std::string::npos) return false;
    overrides_[*canonical] = path;
    return true;
}

bool PortMap::AddMapping(const std::string& mapping) {
    const std::size_t eq = mapping.find('=');
    if (eq == std::string::npos) return false;
    return Map(mapping.substr(0, eq), mapping.substr(eq + 1));
}

std::optional<std::string> PortMap::Resolve(const std::string& name) const {
    const std::optional<std::string> canonical = CanonicalName(name);
    if (!canonical) return std::nullopt;
    const auto it = overrides_.find(*canonical);
    if (it != overrides_.end()) return it->second;
    const int number = std::stoi(canonical->substr(3));
    return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace busdesk
