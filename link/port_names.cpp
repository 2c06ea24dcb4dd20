#include "link/port_names.h"

#include <cctype>

#include "link/net_url.h"

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

std::optional<std::string> PortMap::WindowName(const std::string& name, std::string* why) {
    const auto refuse = [why](std::string reason) -> std::optional<std::string> {
        if (why != nullptr) *why = std::move(reason);
        return std::nullopt;
    };
    const std::optional<std::string> canonical = CanonicalName(name);
    if (!canonical) return refuse("«" + name + "» не имя порта: нужно COMn: (COM1: .. COM9:)");
    // A name the window's list does not hold could never be chosen: say so now
    // rather than after the port was asked for.
    if (canonical->size() != 5)
        return refuse("порта " + *canonical + " нет в списке окна (COM1: .. COM9:)");
    return canonical;
}

bool PortMap::AddMapping(const std::string& mapping, std::string* why) {
    const std::size_t eq = mapping.find('=');
    if (eq == std::string::npos) {
        if (why != nullptr) *why = "«" + mapping + "»: нужно COMn:=ПУТЬ";
        return false;
    }
    const std::optional<std::string> name = WindowName(mapping.substr(0, eq), why);
    if (!name) return false;
    const std::string path = mapping.substr(eq + 1);
    if (path.empty() || path.find('\0') != std::string::npos) {
        if (why != nullptr) *why = "«" + mapping + "»: после = нужен путь к устройству";
        return false;
    }
    // A URL is checked now: a mistyped one would otherwise be tried as a
    // device path and fail only when the port is opened.
    if (LooksLikeUrl(path)) {
        const std::optional<NetTarget> target = ParseNetTarget(path, why);
        return target && Map(*name, target->Url());
    }
    return Map(*name, path);
}

std::optional<std::string> PortMap::Mapped(const std::string& name) const {
    const std::optional<std::string> canonical = CanonicalName(name);
    if (!canonical) return std::nullopt;
    const auto it = overrides_.find(*canonical);
    if (it == overrides_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> PortMap::Resolve(const std::string& name,
                                            const std::vector<SerialDevice>& ordered) const {
    const std::optional<std::string> canonical = CanonicalName(name);
    if (!canonical) return std::nullopt;
    if (std::optional<std::string> mapped = Mapped(*canonical)) return mapped;
    const auto n = static_cast<std::size_t>(std::stoi(canonical->substr(3)));
    if (n > ordered.size()) return std::nullopt;
    return ordered[n - 1].path;
}

namespace {

const SerialDevice* FindDevice(const std::vector<SerialDevice>& devices, const std::string& path) {
    for (const SerialDevice& d : devices)
        if (d.path == path || d.node == path || (!d.byId.empty() && d.byId == path)) return &d;
    return nullptr;
}

constexpr const char* kNothing = "нет устройства";

}  // namespace

std::vector<PortEntry> PortMap::Table(const std::vector<SerialDevice>& ordered) const {
    std::vector<PortEntry> table;
    for (const std::string& name : WindowPortNames()) {
        PortEntry e{name, {}, {}};
        const std::optional<std::string> mapped = Mapped(name);
        const SerialDevice* device = nullptr;
        if (mapped) {
            e.path = *mapped;
            device = FindDevice(ordered, *mapped);
        } else if (const std::size_t n = table.size() + 1; n <= ordered.size()) {
            device = &ordered[n - 1];
            e.path = device->path;
        }
        if (device != nullptr)
            e.description = name + " — " + Describe(*device);
        else if (mapped)
            e.description = name + " — " + *mapped;
        else
            e.description = name + " — " + kNothing;
        table.push_back(std::move(e));
    }
    return table;
}

std::vector<PortEntry> PortMap::Win32Table(const std::vector<SerialDevice>& devices) const {
    std::vector<PortEntry> table;
    for (const std::string& name : WindowPortNames()) {
        PortEntry e{name, Win32OpenName(name), {}};
        // The system's name of the port this entry opens: "COM12" for \\.\COM12.
        std::string system = e.path;
        if (system.rfind(R"(\\.\)", 0) == 0) system.erase(0, 4);
        if (!system.empty() && system.back() == ':') system.pop_back();
        const SerialDevice* device = nullptr;
        for (const SerialDevice& d : devices)
            if (CanonicalName(d.node) == CanonicalName(system)) device = &d;
        const bool mapped = e.path != name;
        if (device != nullptr)
            e.description = name + (mapped ? " — " + e.path : "") + " — " + Describe(*device);
        else
            e.description = name + " — " + (mapped ? e.path : kNothing);
        table.push_back(std::move(e));
    }
    return table;
}

std::string PortMap::Win32OpenName(const std::string& name) const {
    const std::optional<std::string> mapped = Mapped(name);
    if (!mapped) return name;
    if (const std::optional<std::string> com = CanonicalName(*mapped))
        return R"(\\.\)" + com->substr(0, com->size() - 1);
    return *mapped;
}

std::vector<std::string> WindowPortNames() {
    std::vector<std::string> names;
    for (int n = 1; n <= 9; ++n) names.push_back("COM" + std::to_string(n) + ":");
    return names;
}

}  // namespace busdesk
