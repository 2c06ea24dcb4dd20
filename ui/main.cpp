#include <QApplication>
#include <QIcon>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "engine/command_line.h"
#include "engine/port_setup.h"
#include "ui/main_window.h"
#include "ui/translations.h"

int main(int argc, char** argv) {
    using namespace busdesk::engine;
    using busdesk::ui::InstallRussian;
    using busdesk::ui::MainWindow;
    const std::vector<std::string> raw(argv + 1, argv + argc);
    // Help, version and the port table must work without a display.
    if (WantsTextOnly(raw)) return RunTextOnly(raw, std::cout, std::cerr);
    // Without a display Qt would abort with a core dump. A mistake on the
    // command line is said first: it is the user's to mend either way.
    if (!HasDisplay(raw, [](const char* name) { return std::getenv(name); })) {
        const Options checked = ParseCommandLine(raw);
        if (!checked.error.empty()) {
            std::cerr << busdesk::cmdline::MistakeText("busdesk", checked.error);
            return kExitUsage;
        }
        std::cerr << NoDisplayText();
        return kExitNoDisplay;
    }

    QApplication app(argc, argv);
    std::vector<std::string> args;
    const QStringList qtArgs = QCoreApplication::arguments();
    for (qsizetype i = 1; i < qtArgs.size(); ++i) args.push_back(qtArgs[i].toStdString());
    Options options = ParseCommandLine(args);
    if (!options.error.empty()) {
        std::cerr << busdesk::cmdline::MistakeText("busdesk", options.error);
        return kExitUsage;
    }
    InstallRussian(app);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/busdesk/icon.png")));

    // Declared before the window so the demo bus outlives the engine that talks to it.
    PortSetup ports(std::move(options.ports), options.rs485);
    if (options.demo && !ports.StartDemo()) {
        std::cerr << "busdesk: " << ports.Error() << "\n";
        return kExitFailed;
    }
    // A journal that cannot be written is said at once, not found missing later.
    if (!options.journal.empty() && !ports.OpenJournal(options.journal)) {
        std::cerr << "busdesk: " << ports.Error() << "\n";
        return kExitFailed;
    }

    MainWindow window(ports.Factory(), WithCommandLine(ports.EngineOptions(), options));
    window.show();
    return QApplication::exec();
}
