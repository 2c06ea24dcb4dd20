#pragma once

#include <optional>
#include <string>

namespace busdesk {

enum class StopBits { One, OneAndHalf, Two };

// The line settings of a mode string such as "19200,n,8,1".
struct LineSettings {
    unsigned long baud = 0;
    char parity = 'N';  // N, E, O, M or S
    int dataBits = 8;
    StopBits stop = StopBits::One;
};

// The mode-string syntax: baud[,parity[,data[,stop]]]. Missing fields take
// n, 8 and 1. Two-digit bauds are the old abbreviations (96 is 9600, 19 is
// 19200). A retry or handshake field is refused: it would ask for the flow
// control this line must not have.
std::optional<LineSettings> ParseModeString(const std::string& text);

}  // namespace busdesk
