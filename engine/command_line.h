#pragma once

#include <string>
#include <vector>

#include "link/port_names.h"

namespace busdesk::engine {

struct Options {
    bool demo = false;
    bool help = false;
    bool version = false;
    PortMap ports;
    std::string journal;  // the journal file; empty for none
    std::string error;    // empty when the command line is valid
};

// The arguments after the program name, Qt's own options already removed.
Options ParseCommandLine(const std::vector<std::string>& args);
// Whether the arguments only ask for the help or the version text, which need
// no display.
bool WantsTextOnly(const std::vector<std::string>& args);
std::string UsageText();
std::string VersionText();

}  // namespace busdesk::engine
