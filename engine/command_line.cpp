#include "engine/command_line.h"

#include <ostream>

#include "engine/port_setup.h"

namespace busdesk::engine {

std::vector<cmdline::OptionSpec> OptionSpecs() {
    std::vector<cmdline::OptionSpec> specs = {
        {"--demo", 0}, {"--help,-h", 0},    {"--version", 0},   {"--journal", 1},
        {"--port", 1}, {"--list-ports", 0}, {"--reconnect", 0},
    };
#ifndef _WIN32
    specs.push_back({"--rs485", 0});
#endif
    return specs;
}

bool TakeOption(const cmdline::Given& given, Options& o) {
    const std::string& name = given.name;
    if (name == "--demo") {
        o.demo = true;
    } else if (name == "--help") {
        o.help = true;
    } else if (name == "--version") {
        o.version = true;
    } else if (name == "--list-ports") {
        o.listPorts = true;
    } else if (name == "--rs485") {
        o.rs485 = true;
    } else if (name == "--reconnect") {
        o.reconnect = true;
    } else if (name == "--journal") {
        // One session, one journal: a second file would silently get nothing.
        if (!o.journal.empty())
            o.error = "--journal указан дважды";
        else if (given.values.at(0).empty())
            o.error = "после --journal нужно имя файла";
        else
            o.journal = given.values[0];
    } else if (name == "--port") {
        std::string why;
        if (!o.ports.AddMapping(given.values.at(0), &why)) o.error = "--port: " + why;
    } else {
        return false;
    }
    return true;
}

Options ParseCommandLine(const std::vector<std::string>& args) {
    Options o;
    const cmdline::Parsed parsed = cmdline::Parse(OptionSpecs(), args, cmdline::Words::None);
    if (!parsed.error.empty()) {
        o.error = parsed.error;
        return o;
    }
    for (const cmdline::Given& given : parsed.options) {
        TakeOption(given, o);
        if (!o.error.empty()) return o;
    }
    return o;
}

Engine::Options WithCommandLine(Engine::Options engine, const Options& o) {
    engine.reconnect = o.reconnect;
    return engine;
}

bool WantsTextOnly(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--") break;
        if (a == "--help" || a == "-h" || a == "--version" || a == "--list-ports") return true;
    }
    return false;
}

int RunTextOnly(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Options o = ParseCommandLine(args);
    if (!o.error.empty()) {
        err << cmdline::MistakeText("busdesk", o.error);
        return kExitUsage;
    }
    if (o.help)
        out << UsageText();
    else if (o.version)
        out << VersionText();
    else if (o.listPorts)
        out << PortListText(o.ports);
    return kExitOk;
}

std::string UsageText() {
#ifdef _WIN32
    return "Использование: busdesk [--demo] [--journal ФАЙЛ] [--port COMn:=ИМЯ]... "
           "[--reconnect]\n"
           "               [--list-ports]\n"
           "Сервисная программа для шины радиоустройств на одном последовательном порту.\n"
           "\n"
           "  --demo              встроенная модель шины вместо порта COM1:\n"
           "  --port COMn:=ИМЯ    окно открывает ИМЯ, когда открывает COMn: (COM1: .. COM9:,\n"
           "                      можно несколько раз), например COM1:=COM12; иначе\n"
           "                      COMn: - системный порт с этим именем\n"
           "  --reconnect         когда порт закрылся после ошибок записи или не открылся,\n"
           "                      пробовать его снова каждые 2 с и открыть, как только\n"
           "                      он появится (переподключённый адаптер USB, сетевой порт)\n"
           "  --list-ports        напечатать, что открывают COM1: .. COM9:, и выйти\n"
           "  --journal ФАЙЛ      дописывать в ФАЙЛ каждый обмен и каждое изменение\n"
           "                      устройства, один объект JSON на строку\n"
           "  --help              эта справка\n"
           "  --version           версия\n"
           "\n"
           "Значение пишется через пробел или через \"=\" (--journal=ФАЙЛ); \"--\" заканчивает\n"
           "параметры.\n"
           "\n"
           "Код выхода: 0 - окно закрыто; 1 - не запустилась модель шины или не открылся\n"
           "журнал; 2 - ошибка в командной строке.\n";
#else
    return "Использование: busdesk [--demo] [--journal ФАЙЛ] [--port COMn:=ПУТЬ]... [--rs485]\n"
           "               [--reconnect] [--list-ports]\n"
           "Сервисная программа для шины радиоустройств на одном последовательном порту.\n"
           "\n"
           "  --demo              встроенная модель шины вместо порта COM1:\n"
           "  --port COMn:=ПУТЬ   окно открывает ПУТЬ, когда открывает COMn: (COM1: .. COM9:,\n"
           "                      можно несколько раз); иначе COMn: - n-й найденный порт:\n"
           "                      сначала адаптеры USB и ACM по имени, затем UART по номеру\n"
           "  --rs485             при открытии переключать линию в RS-485 (для UART, чей\n"
           "                      драйвер переключает направление линии по RTS)\n"
           "  --reconnect         когда порт закрылся после ошибок записи или не открылся,\n"
           "                      пробовать его снова каждые 2 с и открыть, как только\n"
           "                      он появится (переподключённый адаптер USB, сетевой порт)\n"
           "  --list-ports        напечатать, что открывают COM1: .. COM9:, и выйти\n"
           "  --journal ФАЙЛ      дописывать в ФАЙЛ каждый обмен и каждое изменение\n"
           "                      устройства, один объект JSON на строку\n"
           "  --help              эта справка\n"
           "  --version           версия\n"
           "\n"
           "Значение пишется через пробел или через \"=\" (--journal=ФАЙЛ); \"--\" заканчивает\n"
           "параметры. Параметры Qt (-platform и другие) окно принимает тоже.\n"
           "\n"
           "Код выхода: 0 - окно закрыто; 1 - не запустилась модель шины или не открылся\n"
           "журнал; 2 - ошибка в командной строке; 3 - нет дисплея для окна.\n";
#endif
}

std::string VersionText() {
    return std::string("busdesk ") + BUSDESK_VERSION + "\n";
}

bool HasDisplay(const std::vector<std::string>& args,
                const std::function<const char*(const char*)>& env) {
    for (const std::string& a : args) {
        if (a == "--") break;
        for (const char* option : {"-platform", "--platform"}) {
            const std::string o = option;
            if (a == o || a.rfind(o + "=", 0) == 0) return true;
        }
    }
    for (const char* variable :
         {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"}) {
        const char* value = env(variable);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

std::string NoDisplayText() {
    return "busdesk: нет дисплея для окна (не заданы DISPLAY и WAYLAND_DISPLAY).\n"
           "Без окна работает busdesk-cli; что открывают порты, покажет busdesk --list-ports.\n";
}

}  // namespace busdesk::engine
