#include "engine/command_line.h"

#include <ostream>

#include "engine/port_setup.h"

namespace busdesk::engine {

namespace {
constexpr std::string_view kPortEq = "--port=";
constexpr std::string_view kJournalEq = "--journal=";
}  // namespace

Options ParseCommandLine(const std::vector<std::string>& args) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string mapping;
        if (a == "--demo") {
            o.demo = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            o.help = true;
            continue;
        }
        if (a == "--version") {
            o.version = true;
            continue;
        }
        if (a == "--journal" || a.compare(0, kJournalEq.size(), kJournalEq) == 0) {
            if (a == "--journal" && i + 1 == args.size()) {
                o.error = "--journal needs a file";
                return o;
            }
            o.journal = a == "--journal" ? args[++i] : a.substr(kJournalEq.size());
            if (o.journal.empty()) {
                o.error = "--journal needs a file";
                return o;
            }
            continue;
        }
        if (a == "--list-ports") {
            o.listPorts = true;
            continue;
        }
        if (a == "--rs485") {
            o.rs485 = true;
            continue;
        }
        if (a == "--port") {
            if (i + 1 == args.size()) {
                o.error = "--port needs COMn:=PATH";
                return o;
            }
            mapping = args[++i];
        } else if (a.compare(0, kPortEq.size(), kPortEq) == 0) {
            mapping = a.substr(kPortEq.size());
        } else {
            o.error = "unknown argument: " + a;
            return o;
        }
        if (!o.ports.AddMapping(mapping)) {
            o.error = "not of the form COMn:=PATH: " + mapping;
            return o;
        }
    }
    return o;
}

bool WantsTextOnly(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h" || a == "--version" || a == "--list-ports") return true;
    }
    return false;
}

int RunTextOnly(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Options o = ParseCommandLine(args);
    if (!o.error.empty()) {
        err << "busdesk: " << o.error << "\n" << UsageText();
        return 2;
    }
    if (o.help)
        out << UsageText();
    else if (o.version)
        out << VersionText();
    else if (o.listPorts)
        out << PortListText(o.ports);
    return 0;
}

std::string UsageText() {
    return "Usage: busdesk [--demo] [--journal FILE] [--port COMn:=PATH]... [--rs485] "
           "[--list-ports]\n"
           "Service tool for a bus of radio-linked field devices on one serial port.\n"
           "\n"
           "  --demo              start a simulated bus inside the program as COM1:\n"
           "  --port COMn:=PATH   open PATH when the window opens COMn: (repeatable);\n"
           "                      otherwise COMn: is the n-th serial port found: USB\n"
           "                      and ACM adapters by name, then UARTs by number\n"
           "                      (on Windows COMn: itself; COM1:=COM12 opens COM12)\n"
           "  --rs485             switch the line to RS-485 when opening it (Linux,\n"
           "                      for UARTs whose driver turns the line round by RTS)\n"
           "  --list-ports        print what COM1: .. COM9: open, and exit\n"
           "  --journal FILE      append every exchange and every change made to a\n"
           "                      device to FILE, one JSON object a line\n"
           "  --help              show this text\n"
           "  --version           show the version\n";
}

std::string VersionText() {
    return std::string("busdesk ") + BUSDESK_VERSION + "\n";
}

}  // namespace busdesk::engine
