#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace busdesk {

// Where a line over the network goes: "tcp://HOST:PORT" carries the bytes
// as they are, "rfc2217://HOST:PORT" speaks telnet with the com-port
// control. HOST is a name, an IPv4 address or an IPv6 address in brackets.
struct NetTarget {
    enum class Kind { Tcp, Rfc2217 };
    Kind kind = Kind::Tcp;
    std::string host;  // without the brackets
    std::uint16_t port = 0;

    // The URL again, in the form it was parsed from.
    std::string Url() const;
};

// Whether `text` is meant as a network address at all (it has "://"): such
// text is either a good URL or refused, never taken as a device path.
bool LooksLikeUrl(const std::string& text);

// Nullopt, with the reason in `why`, for text that is not one of the two
// forms.
std::optional<NetTarget> ParseNetTarget(const std::string& text, std::string* why = nullptr);

}  // namespace busdesk
