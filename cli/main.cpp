// busdesk-cli: the window's handlers driven from the command line.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "engine/command_line.h"
#include "engine/port_setup.h"

using namespace busdesk::cli;

namespace {

int Usage(const std::string& error) {
    std::cerr << "busdesk-cli: " << error << "\n\n" << UsageText();
    return kRefused;
}

}  // namespace

int main(int argc, char** argv) {
    const Invocation inv = ParseInvocation(std::vector<std::string>(argv + 1, argv + argc));
    if (!inv.error.empty()) return Usage(inv.error);
    if (inv.help) {
        std::cout << UsageText();
        return kDone;
    }
    if (inv.version) {
        std::cout << "busdesk-cli " << BUSDESK_VERSION << "\n";
        return kDone;
    }
    busdesk::engine::Options options = busdesk::engine::ParseCommandLine(inv.engineArgs);
    if (!options.error.empty()) return Usage(options.error);
    if (inv.command.empty()) return Usage("не задана команда");

    const ParsedStep parsed = ParseStep(inv.command);
    if (!parsed.step) return Usage(parsed.error);
    const Step& step = *parsed.step;
    Plan steps;
    if (step.verb == Verb::Run) {
        std::ifstream file(step.value);
        if (!file) return Usage("не открывается план " + step.value);
        std::stringstream text;
        text << file.rdbuf();
        steps = ParsePlan(text.str());
        if (!steps.error.empty()) return Usage(step.value + ": " + steps.error);
    }

    // Declared before the session so the demo bus outlives the engine.
    busdesk::engine::PortSetup ports(std::move(options.ports), options.rs485);
    if (options.demo && !ports.StartDemo()) {
        std::cerr << "busdesk-cli: " << ports.Error() << "\n";
        return kPortFailed;
    }
    // A journal that cannot be written is said at once, before anything is sent.
    if (!options.journal.empty() && !ports.OpenJournal(options.journal)) {
        std::cerr << "busdesk-cli: " << ports.Error() << "\n";
        return kRefused;
    }
    Session session(
        ports.Factory(),
        [](const std::string& text) {
            // The window's boxes, word for word.
            std::cerr << text << std::endl;
        },
        ports.EngineOptions());
    session.Start();
    const bool json = inv.json;
    Runner runner(session, inv.port,
                  [json](const Record& r) { std::cout << FormatRecord(r, json) << std::endl; });
    const Outcome o =
        step.verb == Verb::Run ? runner.RunPlan(steps.steps, step.keepGoing) : runner.Run(step);
    const bool plan = step.verb == Verb::Run;
    const std::string head = o.exit == kDone ? (plan ? "план выполнен: " : "готово: ")
                                             : (plan ? "план остановлен: " : "ошибка: ");
    std::cout << FormatRecord({"result",
                               {{"command", JsonString(step.text)},
                                {"exit", std::to_string(o.exit)},
                                {"ok", o.exit == kDone ? "true" : "false"},
                                {"text", JsonString(o.text)}},
                               head + o.text},
                              json)
              << std::endl;
    session.Stop();
    return o.exit;
}
