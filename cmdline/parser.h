#pragma once

#include <optional>
#include <string>
#include <vector>

namespace busdesk::cmdline {

// An option a program knows: its names ("--help,-h"; the first is the one
// reported) and how many words it takes (0 for a switch).
struct OptionSpec {
    std::string names;
    int values = 0;
};

// What to do with words that are not options.
enum class Words {
    None,  // refused
    Any,   // kept, wherever they stand
    Rest,  // the first one and everything after it are kept as they are
};

// One option as given, in the order given; `name` is the first of its names.
struct Given {
    std::string name;
    std::vector<std::string> values;
};

struct Parsed {
    std::vector<Given> options;
    std::vector<std::string> words;
    std::string error;  // in Russian; empty when the line was read

    bool Has(const std::string& name) const;
    int Count(const std::string& name) const;
    // The value of the last time the option was given.
    std::optional<std::string> Last(const std::string& name) const;
};

// Reads `args` (without the program's name): "--opt VALUE" and "--opt=VALUE"
// alike, "--" ends the options.
Parsed Parse(const std::vector<OptionSpec>& specs, const std::vector<std::string>& args,
             Words words);

// How every program says a mistake on its command line: "busdesk-cli: ..."
// and where the help is.
std::string MistakeText(const std::string& program, const std::string& error);

}  // namespace busdesk::cmdline
