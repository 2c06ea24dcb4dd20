#include <QApplication>
#include <QIcon>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "ui/command_line.h"
#include "ui/main_window.h"
#include "ui/port_factory.h"
#include "ui/translations.h"

#ifdef BUSDESK_HAVE_SIM
#include "sim/sim_bus.h"
#endif

int main(int argc, char** argv) {
    using namespace busdesk::ui;
    const std::vector<std::string> raw(argv + 1, argv + argc);
    // Help and version must work without a display.
    if (WantsTextOnly(raw)) {
        const Options o = ParseCommandLine(raw);
        if (!o.error.empty()) {
            std::cerr << "busdesk: " << o.error << "\n" << UsageText();
            return 2;
        }
        std::cout << (o.help ? UsageText() : VersionText());
        return 0;
    }

    QApplication app(argc, argv);
    std::vector<std::string> args;
    const QStringList qtArgs = QCoreApplication::arguments();
    for (qsizetype i = 1; i < qtArgs.size(); ++i) args.push_back(qtArgs[i].toStdString());
    Options options = ParseCommandLine(args);
    if (!options.error.empty()) {
        std::cerr << "busdesk: " << options.error << "\n" << UsageText();
        return 2;
    }
    InstallRussian(app);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/busdesk/icon.png")));

#ifdef BUSDESK_HAVE_SIM
    // Declared before the window so the bus outlives the engine that talks to it.
    std::unique_ptr<busdesk::sim::SimulatedBus> bus;
    if (options.demo) {
        bus = std::make_unique<busdesk::sim::SimulatedBus>();
        const std::string path = bus->Start();
        if (path.empty() || !options.ports.Map("COM1:", path)) {
            std::cerr << "busdesk: the simulated bus could not be started\n";
            return 1;
        }
    }
#else
    if (options.demo) {
        std::cerr << "busdesk: this build has no simulated bus\n";
        return 1;
    }
#endif

    MainWindow window(SystemPorts(std::move(options.ports)));
    window.show();
    return QApplication::exec();
}
