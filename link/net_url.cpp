#include "link/net_url.h"

namespace busdesk {

namespace {

constexpr const char* kForms = "нужно tcp://ХОСТ:ПОРТ или rfc2217://ХОСТ:ПОРТ";

bool NameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool Ipv6Char(char c) {
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
           c == '.';
}

}  // namespace

std::string NetTarget::Url() const {
    const std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return std::string(kind == Kind::Tcp ? "tcp" : "rfc2217") + "://" + h + ":" +
           std::to_string(port);
}

bool LooksLikeUrl(const std::string& text) {
    return text.find("://") != std::string::npos;
}

std::optional<NetTarget> ParseNetTarget(const std::string& text, std::string* why) {
    const auto refuse = [&](const std::string& reason) -> std::optional<NetTarget> {
        if (why != nullptr) *why = "«" + text + "»: " + reason;
        return std::nullopt;
    };
    const std::size_t sep = text.find("://");
    if (sep == std::string::npos) return refuse(kForms);
    std::string scheme = text.substr(0, sep);
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    NetTarget t;
    if (scheme == "tcp")
        t.kind = NetTarget::Kind::Tcp;
    else if (scheme == "rfc2217")
        t.kind = NetTarget::Kind::Rfc2217;
    else
        return refuse("неизвестная схема «" + text.substr(0, sep) + "», " + kForms);
    std::string rest = text.substr(sep + 3);
    std::size_t colon = 0;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) return refuse("нет закрывающей скобки адреса IPv6");
        t.host = rest.substr(1, close - 1);
        if (t.host.empty() || t.host.find(':') == std::string::npos) {
            return refuse("в скобках нужен адрес IPv6");
        }
        for (const char c : t.host)
            if (!Ipv6Char(c)) return refuse("в скобках нужен адрес IPv6");
        colon = close + 1;
        if (colon >= rest.size() || rest[colon] != ':')
            return refuse(std::string("нужен порт: ") + kForms);
    } else {
        colon = rest.find(':');
        if (colon != rest.rfind(':'))
            return refuse("адрес IPv6 пишется в скобках: rfc2217://[::1]:ПОРТ");
        if (colon == std::string::npos) return refuse(std::string("нужен порт: ") + kForms);
        t.host = rest.substr(0, colon);
        if (t.host.empty()) return refuse(std::string("нужно имя или адрес сервера: ") + kForms);
        for (const char c : t.host)
            if (!NameChar(c))
                return refuse(
                    "недопустимый знак в имени сервера (адрес IPv6 пишется в скобках: "
                    "[::1])");
    }
    const std::string port = rest.substr(colon + 1);
    unsigned long n = 0;
    if (port.empty() || port.size() > 5) return refuse("порт — число от 1 до 65535");
    for (const char c : port) {
        if (c < '0' || c > '9') return refuse("порт — число от 1 до 65535");
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    if (n == 0 || n > 65535) return refuse("порт — число от 1 до 65535");
    t.port = static_cast<std::uint16_t>(n);
    return t;
}

}  // namespace busdesk
