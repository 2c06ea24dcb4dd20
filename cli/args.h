#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/command_line.h"

namespace busdesk::cli {

// Exit statuses of the program and of each step of a plan.
enum Exit : int {
    kDone = 0,         // done and confirmed by the device
    kNoAnswer = 1,     // no answer or no confirmation in time
    kRefused = 2,      // usage error, or a value the window refuses
    kPortFailed = 3,   // the port could not be opened
    kJournalLost = 4,  // done and confirmed, but the journal lost lines
    kDiffers = 1,      // the bus is not what the site file says
};

enum class Verb {
    Survey,
    Show,
    SetAddress,
    SetMode,
    Calibrate,
    SetSerial,
    SetIdent,
    Tags,
    ReadTag,
    WriteTag,
    Run,
    Inventory,
    Verify,
    Apply,
    Report,
};

// One command with its words checked for form; the values themselves are left
// to the window's checks.
struct Step {
    Verb verb = Verb::Survey;
    std::string text;  // the words as given, for the result line
    std::string address;
    std::string value;  // NEW, NUMBER, low|high, the role, or the plan path
    std::string tagId;
    bool yes = false;
    bool average = false;
    bool invert = false;
    bool keepGoing = false;
    std::optional<int> count;
    std::optional<int> seconds;
    // write-tag: the fields to change, as typed; the rest keep what was read.
    std::optional<std::string> serial, mode, interval, sleep, power, newId;
    // Site files: where inventory writes (standard output without it), how
    // far readings may be apart (per cent), and a plan shown but not carried out.
    std::optional<std::string> output;
    std::optional<double> readings;
    bool dryRun = false;
    // report: the journals in the order given, and the site file.
    std::vector<std::string> journals;
    std::optional<std::string> site;
};

struct ParsedStep {
    std::optional<Step> step;
    std::string error;  // empty when step holds a command
};

// The words of one command (the command name first).
ParsedStep ParseStep(const std::vector<std::string>& words);

// A plan: one command a line, "#" starts a comment, blank lines are skipped;
// a byte-order mark at its start is no part of it. `run` cannot appear in a
// plan.
struct Plan {
    std::vector<Step> steps;
    std::string error;  // "line N: ..." when a line is not a command
};
Plan ParsePlan(const std::string& text);

// The largest plan read: a plan is typed by people, and reading must not grow
// without end when handed a device.
inline constexpr std::size_t kPlanLimit = 1 << 20;
struct PlanFile {
    std::string text;
    std::string error;  // empty when the file was read
};
// Reads a plan from a regular file of at most `limit` bytes; anything else
// (a FIFO, a device, a folder) is refused before it is opened.
PlanFile ReadPlanFile(const std::string& path, std::size_t limit = kPlanLimit);

// What comes before the command: our own options and those shared with the
// windows. "--" ends them, so the command may follow it.
struct Invocation {
    bool json = false;
    std::string port = "COM1:";        // the entry of the port list to open
    engine::Options options;           // help, version, demo, journal, mappings...
    std::vector<std::string> command;  // the command and its words
    std::string error;
};
Invocation ParseInvocation(const std::vector<std::string>& args);
// Whether a result line in JSON was asked for, read even from a command line
// that could not be parsed, so a mistake still ends with its result line.
bool WantsJson(const std::vector<std::string>& args);

std::string UsageText();

// "журнал: потеряно 3 строки: <error>" for lost journal lines.
std::string JournalLostText(std::uint64_t lost, const std::string& error);

// The words of a command line split as a shell would for plain words: blanks
// separate, double quotes group.
std::vector<std::string> SplitWords(const std::string& line);

}  // namespace busdesk::cli
