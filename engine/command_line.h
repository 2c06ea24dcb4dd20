#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cmdline/parser.h"
#include "engine/engine.h"
#include "link/port_names.h"

namespace busdesk::engine {

// How the window programs end.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,     // the demo bus or the journal could not start
    kExitUsage = 2,      // a mistake on the command line
    kExitNoDisplay = 3,  // the Qt window found no display to open on
};

struct Options {
    bool demo = false;
    bool help = false;
    bool version = false;
    bool listPorts = false;  // print the port table and exit
    bool rs485 = false;      // switch the line to RS-485 on open (Linux)
    bool reconnect = false;  // try a line that went away again until it opens
    PortMap ports;
    std::string journal;  // the journal file; empty for none
    std::string error;    // empty when the command line is valid
};

// The options every front end takes (this platform's only); busdesk-cli
// reads them beside its own.
std::vector<cmdline::OptionSpec> OptionSpecs();
// Takes one option of OptionSpecs() into `o`, a mistake into o.error; false
// when `given` is not one of them.
bool TakeOption(const cmdline::Given& given, Options& o);

// The arguments after the program name, Qt's own options already removed.
Options ParseCommandLine(const std::vector<std::string>& args);
// The engine's options (from the port set-up) with what the command line asks
// of the engine itself; every front end starts its engine with these.
Engine::Options WithCommandLine(Engine::Options engine, const Options& o);
// Whether the arguments only ask for the help or the version text or the port
// table, which need no display.
bool WantsTextOnly(const std::vector<std::string>& args);
// Runs what WantsTextOnly asked for, for every front end: the text on `out`,
// a command-line error on `err`; the exit code.
int RunTextOnly(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
std::string UsageText();
std::string VersionText();

// Whether a Qt window could find a display: a platform named on the command
// line (-platform) or in QT_QPA_PLATFORM, or an X or Wayland display.
// `env` reads the environment (getenv).
bool HasDisplay(const std::vector<std::string>& args,
                const std::function<const char*(const char*)>& env);
// What a window program says when there is no display, and how to go on.
std::string NoDisplayText();

}  // namespace busdesk::engine
