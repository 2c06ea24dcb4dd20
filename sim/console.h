#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
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
    // The bus on a socket as well: --tcp PORT or --rfc2217 PORT (0 for any
    // free port), on the address of --bind.
    std::optional<int> tcpPort;
    bool telnet = false;
    std::string bindAddress = "127.0.0.1";
};

// The latest time --at and --drop-after take, in seconds (about eleven days).
inline constexpr double kMaxSeconds = 1e6;

// Command-line options of busdesk-sim; nullopt and `error` set on a mistake.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const kUsage;

// Cuts what arrives on the console into lines. Each byte is looked at once,
// however the input is split into reads; a line longer than the limit is
// dropped whole instead of being kept growing.
class ConsoleLines {
  public:
    explicit ConsoleLines(std::size_t limit = 4096) : limit_(limit) {}
    // The lines completed by `bytes`, without their line ends.
    std::vector<std::string> Add(std::string_view bytes);
    // How many lines were too long and dropped so far.
    std::size_t Dropped() const { return dropped_; }

  private:
    std::size_t limit_;
    std::string partial_;
    bool skipping_ = false;  // inside a line already dropped
    std::size_t dropped_ = 0;
};

// The first line of --version: the program's name and the project's version.
std::string VersionText();

}  // namespace busdesk::sim
