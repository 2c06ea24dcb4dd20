// busdesk-cli: the window's handlers driven from the command line.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// after windows.h
#include <shellapi.h>
#endif

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/session.h"
#include "cmdline/parser.h"
#include "engine/command_line.h"
#include "engine/file_path.h"
#include "engine/port_setup.h"

using namespace busdesk::cli;

namespace {

// The words after the program's name, in UTF-8 like every text of ours.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
    // argv is in the ANSI code page, which cannot hold every name a user
    // gives; the UTF-16 command line can.
    (void)argc;
    (void)argv;
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return args;
    for (int i = 1; i < count; ++i) args.push_back(busdesk::engine::FromNativePath(wide[i]));
    LocalFree(wide);
    return args;
#else
    return {argv + 1, argv + argc};
#endif
}

std::string Join(const std::vector<std::string>& words) {
    std::string s;
    for (const std::string& w : words) s += (s.empty() ? "" : " ") + w;
    return s;
}

// A mistake on the command line: said on stderr and, with --json, in the
// result line that always ends the output.
int Usage(const std::string& error, bool json, const std::vector<std::string>& command) {
    std::cerr << busdesk::cmdline::MistakeText("busdesk-cli", error);
    if (json) {
        std::cout << FormatRecord({"result",
                                   {{"command", JsonString(Join(command))},
                                    {"exit", std::to_string(kRefused)},
                                    {"ok", "false"},
                                    {"text", JsonString(error)}},
                                   "ошибка: " + error},
                                  true)
                  << std::endl;
    }
    return kRefused;
}

}  // namespace

int main(int argc, char** argv) {
    const busdesk::cli::Utf8Console console;
    const std::vector<std::string> args = Arguments(argc, argv);
    Invocation inv = ParseInvocation(args);
    const bool json = inv.json;
    if (!inv.error.empty()) return Usage(inv.error, json, {});
    busdesk::engine::Options& options = inv.options;
    if (options.help) {
        std::cout << UsageText();
        return kDone;
    }
    if (options.version) {
        std::cout << "busdesk-cli " << BUSDESK_VERSION << "\n";
        return kDone;
    }
    if (options.listPorts) {
        std::cout << busdesk::engine::PortListText(options.ports);
        return kDone;
    }
    if (inv.command.empty()) return Usage("не задана команда", json, {});
    // The report is made from files alone, and a journal of its own would add
    // lines to the journal being read.
    if (inv.command[0] == "report" && !options.journal.empty())
        return Usage("report: журналы задаются после команды: report --journal ФАЙЛ", json,
                     inv.command);

    const ParsedStep parsed = ParseStep(inv.command);
    if (!parsed.step) return Usage(parsed.error, json, inv.command);
    const Step& step = *parsed.step;
    if (step.verb == Verb::Report) {
        // No port, no bus.
        const Outcome o = RunReport(step);
        const bool done = o.exit == kDone;
        std::cout << FormatRecord({"result",
                                   {{"command", JsonString(step.text)},
                                    {"exit", std::to_string(o.exit)},
                                    {"ok", done ? "true" : "false"},
                                    {"text", JsonString(o.text)}},
                                   (done ? "готово: " : "ошибка: ") + o.text},
                                  json)
                  << std::endl;
        return o.exit;
    }
    Plan steps;
    if (step.verb == Verb::Run) {
        const PlanFile file = ReadPlanFile(step.value);
        if (!file.error.empty()) return Usage(file.error, json, inv.command);
        steps = ParsePlan(file.text);
        if (!steps.error.empty()) return Usage(step.value + ": " + steps.error, json, inv.command);
    }

    // Declared before the session so the demo bus outlives the engine.
    busdesk::engine::PortSetup ports(std::move(options.ports), options.rs485, "busdesk-cli");
    if (options.demo && !ports.StartDemo()) {
        std::cerr << "busdesk-cli: " << ports.Error() << "\n";
        return kPortFailed;
    }
    // A journal that cannot be written is said at once, before anything is sent.
    if (!options.journal.empty() && !ports.OpenJournal(options.journal)) {
        return Usage(ports.Error(), json, inv.command);
    }
    Session session(
        ports.Factory(),
        [](const std::string& text) {
            // The window's boxes, word for word.
            std::cerr << text << std::endl;
        },
        busdesk::engine::WithCommandLine(ports.EngineOptions(), options));
    session.OnLine(
        [](const std::string& text) { std::cerr << "busdesk-cli: " << text << std::endl; });
    session.Start();
    Runner runner(session, inv.port,
                  [json](const Record& r) { std::cout << FormatRecord(r, json) << std::endl; });
    Outcome o =
        step.verb == Verb::Run ? runner.RunPlan(steps.steps, step.keepGoing) : runner.Run(step);
    session.Stop();

    // The journal is closed after the session, so its figures are final.
    std::optional<busdesk::engine::Journal::Counts> journal = ports.CloseJournal();
    std::string journalNote;
    if (journal && journal->lost > 0) {
        journalNote = JournalLostText(journal->lost, journal->error);
        std::cerr << "busdesk-cli: " << journalNote << std::endl;
        // The device took the command, but the record of it is not whole.
        if (o.exit == kDone) o.exit = kJournalLost;
    }

    const bool plan = step.verb == Verb::Run;
    const bool done = o.exit == kDone || o.exit == kJournalLost;
    const std::string head =
        done ? (plan ? "план выполнен: " : "готово: ") : (plan ? "план остановлен: " : "ошибка: ");
    Record result{"result",
                  {{"command", JsonString(step.text)},
                   {"exit", std::to_string(o.exit)},
                   {"ok", done ? "true" : "false"},
                   {"text", JsonString(o.text)}},
                  head + o.text};
    if (journal) {
        result.fields.push_back({"journal_lost", std::to_string(journal->lost)});
        if (journal->lost > 0) result.human += "; " + journalNote;
    }
    // A site written to standard output stays a document of its own.
    const bool document = step.verb == Verb::Inventory && !step.output;
    (document ? std::cerr : std::cout) << FormatRecord(result, json) << std::endl;
    return o.exit;
}
