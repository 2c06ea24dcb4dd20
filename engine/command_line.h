#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "link/port_names.h"

namespace busdesk::engine {

struct Options {
    bool demo = false;
    bool help = false;
    bool version = false;
    bool listPorts = false;  // print the port table and exit
    bool rs485 = false;      // switch the line to RS-485 on open (Linux)
    PortMap ports;
    std::string journal;  // the journal file; empty for none
    std::string error;    // empty when the command line is valid
};

// The arguments after the program name, Qt's own options already removed.
Options ParseCommandLine(const std::vector<std::string>& args);
// Whether the arguments only ask for the help or the version text or the port
// table, which need no display.
bool WantsTextOnly(const std::vector<std::string>& args);
// Runs what WantsTextOnly asked for, for every front end: the text on `out`,
// a command-line error on `err`; the exit code.
int RunTextOnly(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
std::string UsageText();
std::string VersionText();

}  // namespace busdesk::engine
