#pragma once

#include <optional>
#include <string>
#include <vector>

namespace busdesk::sim {

class SimulatedBus;

// Runs one text command on the bus, as typed on the program's input:
//   silent ADDR | back ADDR | corrupt [N] | split [N] [GAP_MS] | late [N] [MS]
//   garbage [N] | survey-size N | drop | stats | devices | help
// Returns the text to show; sets `ok` to false for a command it could not run.
std::string RunCommand(SimulatedBus& bus, const std::string& line, bool& ok);

// A command to run some seconds after the bus started.
struct TimedCommand {
    double seconds = 0;
    std::string command;
};

struct Options {
    std::optional<std::string> busFile;
    std::optional<std::string> busText;  // --devices "reader 1; tag 1 ..."
    bool drift = true;
    bool pace = true;
    bool verbose = false;
    bool help = false;
    bool version = false;
    std::vector<TimedCommand> commands;  // in the order given
};

// Command-line options of busdesk-sim; nullopt and `error` set on a mistake.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const kUsage;

// The first line of --version: the program's name and the project's version.
std::string VersionText();

}  // namespace busdesk::sim
