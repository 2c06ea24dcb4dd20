#include "cmdline/parser.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>

namespace busdesk::cmdline {

bool Parsed::Has(const std::string& name) const {
    return Count(name) > 0;
}

int Parsed::Count(const std::string& name) const {
    return static_cast<int>(std::count_if(options.begin(), options.end(),
                                          [&](const Given& g) { return g.name == name; }));
}

std::optional<std::string> Parsed::Last(const std::string& name) const {
    for (auto it = options.rbegin(); it != options.rend(); ++it) {
        if (it->name == name && !it->values.empty()) return it->values.back();
    }
    return std::nullopt;
}

namespace {

std::string FirstName(const std::string& names) {
    return names.substr(0, names.find(','));
}

// The option an error message of the library is about: the message starts
// with its name.
const OptionSpec* Named(const std::vector<OptionSpec>& specs, const std::string& message) {
    const OptionSpec* best = nullptr;
    std::size_t bestLength = 0;
    for (const OptionSpec& known : specs) {
        std::size_t from = 0;
        while (from <= known.names.size()) {
            std::size_t to = known.names.find(',', from);
            if (to == std::string::npos) to = known.names.size();
            std::string name = known.names.substr(from, to - from);
            // Some messages name the option without its dashes.
            if (message.rfind(name, 0) != 0) name.erase(0, name.find_first_not_of('-'));
            const bool starts = message.rfind(name, 0) == 0 &&
                                (message.size() == name.size() || message[name.size()] == ':' ||
                                 message[name.size()] == ' ');
            if (starts && name.size() > bestLength) {
                best = &known;
                bestLength = name.size();
            }
            from = to + 1;
        }
    }
    return best;
}

bool LooksLikeOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-';
}

}  // namespace

Parsed Parse(const std::vector<OptionSpec>& specs, const std::vector<std::string>& args,
             Words words) {
    Parsed parsed;
    CLI::App app;
    // Help and version are the programs' own, with texts of their own.
    app.set_help_flag();
    app.allow_extras();
    if (words == Words::Rest) app.prefix_command();

    std::map<const CLI::Option*, const OptionSpec*> specOf;
    for (const OptionSpec& known : specs) {
        CLI::Option* option = nullptr;
        if (known.values == 0) {
            option = app.add_flag(known.names);
            option->disable_flag_override();
        } else {
            option = app.add_option(known.names);
            option->expected(known.values);
            option->allow_extra_args(false);
        }
        option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        specOf[option] = &known;
    }
    std::vector<std::string> positional;
    if (words != Words::Rest) app.add_option("words", positional)->allow_extra_args(true);

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ArgumentMismatch& e) {
        const OptionSpec* known = Named(specs, e.what());
        const std::string name = known != nullptr ? FirstName(known->names) : "параметр";
        if (known != nullptr && known->values == 0)
            parsed.error = name + " не принимает значения";
        else if (known != nullptr && known->values > 1)
            parsed.error = "после " + name + " нужно " + std::to_string(known->values) + " слова";
        else
            parsed.error = "после " + name + " нужно значение";
        return parsed;
    } catch (const CLI::ParseError&) {
        // Nothing above lets the library refuse anything else; say so plainly.
        parsed.error = "командная строка не разобрана";
        return parsed;
    }

    // The library lists an option once for each value it took, in order; the
    // values of one occurrence stand together.
    std::map<const CLI::Option*, std::size_t> used;
    std::map<const CLI::Option*, std::size_t> current;  // its Given in parsed.options
    for (const CLI::Option* option : app.parse_order()) {
        const auto known = specOf.find(option);
        if (known == specOf.end()) continue;
        const int values = known->second->values;
        if (values == 0) {
            parsed.options.push_back({FirstName(known->second->names), {}});
            continue;
        }
        std::size_t& next = used[option];
        if (next % static_cast<std::size_t>(values) == 0) {
            current[option] = parsed.options.size();
            parsed.options.push_back({FirstName(known->second->names), {}});
        }
        const auto& results = option->results();
        if (next < results.size()) parsed.options[current[option]].values.push_back(results[next]);
        ++next;
    }
    for (const Given& given : parsed.options) {
        for (const OptionSpec& known : specs) {
            if (FirstName(known.names) != given.name ||
                given.values.size() == static_cast<std::size_t>(known.values))
                continue;
            parsed.error =
                "после " + given.name + " нужно " + std::to_string(known.values) + " слова";
            parsed.options.clear();
            return parsed;
        }
    }

    std::vector<std::string> rest = app.remaining();
    if (words == Words::Rest) {
        // "--" before the first word only ends the options.
        if (!rest.empty() && rest.front() == "--")
            rest.erase(rest.begin());
        else if (!rest.empty() && LooksLikeOption(rest.front())) {
            parsed.error = "неизвестный параметр " + rest.front();
            return parsed;
        }
        parsed.words = rest;
        return parsed;
    }
    // The library keeps the "--" that ended the options among the extras.
    rest.erase(std::remove(rest.begin(), rest.end(), "--"), rest.end());
    if (!rest.empty()) {
        parsed.error = "неизвестный параметр " + rest.front();
        return parsed;
    }
    if (words == Words::None && !positional.empty()) {
        parsed.error = "лишнее слово: " + positional.front();
        return parsed;
    }
    parsed.words = std::move(positional);
    return parsed;
}

std::string MistakeText(const std::string& program, const std::string& error) {
    return program + ": " + error + "\nСправка: " + program + " --help\n";
}

}  // namespace busdesk::cmdline
