#include "sim/console.h"

#include <charconv>
#include <sstream>

#include "sim/sim_bus.h"

namespace busdesk::sim {

const char* const kUsage =
    "usage: busdesk-sim [options]\n"
    "Opens a pseudo-terminal, prints the path of its slave side on the first line\n"
    "and answers as a bus of devices behind it. Commands typed on standard input\n"
    "(the same words as --at takes) change the bus while it runs.\n"
    "\n"
    "  --bus FILE            devices from a description file (see below)\n"
    "  --devices TEXT        the same description inline, ';' between devices\n"
    "  --no-drift            readings stay fixed\n"
    "  --no-pace             replies in one write, not at 19200 baud\n"
    "  --verbose             every request and answer on standard error\n"
    "  --silent ADDR         the device at ADDR does not answer\n"
    "  --corrupt N           the next N answers have a wrong CRC\n"
    "  --split N             the next N answers come in two parts, 40 ms apart\n"
    "  --late N              the next N answers come 700 ms late\n"
    "  --survey-size N       survey answers padded to N bytes\n"
    "  --drop-after SECONDS  the line is dropped after that time\n"
    "  --at SECONDS COMMAND  runs COMMAND at that time, e.g. --at 5 'silent 1'\n"
    "  --help                this text\n"
    "  --version             the version\n"
    "\n"
    "Commands: silent ADDR, back ADDR, corrupt [N], split [N] [GAP_MS],\n"
    "late [N] [MS], garbage [N], survey-size N, drop, stats, devices, help, quit.\n"
    "\n"
    "Description lines:\n"
    "  reader ADDR [mode=N] [serial=N] [version=N] [prefix=N] [temp=N]\n"
    "              [current=N] [lo=N] [hi=N] [k=N] [silent]\n"
    "  tag READER_ADDR [serial=N] [id=HEX] [interval=N] [mode=N] [power=N]\n"
    "              [version=N] [sleep=N] [level=N]\n"
    "  drift on|off\n";

std::string VersionText() {
    return std::string("busdesk-sim ") + BUSDESK_VERSION + "\n";
}

namespace {

bool ToInt(const std::string& text, long& out) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return !text.empty() && ec == std::errc() && p == end;
}

bool ToSeconds(const std::string& text, double& out) {
    std::istringstream in(text);
    in >> out;
    return in && in.eof() && out >= 0;
}

// Reads an optional count argument in [lo, hi]; absent gives `fallback`.
bool OptionalArg(std::istringstream& words, long lo, long hi, long fallback, long& out) {
    std::string word;
    if (!(words >> word)) {
        out = fallback;
        return true;
    }
    return ToInt(word, out) && out >= lo && out <= hi;
}

std::string Describe(const SimulatedBus& bus) {
    std::ostringstream s;
    for (const ReaderConfig& r : bus.Readers()) {
        s << "reader " << int{r.address} << " mode=" << int{r.mode} << " serial=" << r.serial
          << " version=" << int{r.version} << " lo=" << r.lo << " hi=" << r.hi
          << (r.present ? "" : " silent") << '\n';
    }
    for (const TagConfig& t : bus.Tags()) {
        s << "tag " << int{t.reader} << " serial=" << t.serial << " id=" << std::hex
          << std::uppercase << t.id << std::dec << " interval=" << t.interval
          << " mode=" << int{t.mode} << " power=" << int{t.power} << " sleep=" << t.sleep << '\n';
    }
    return s.str();
}

}  // namespace

std::string RunCommand(SimulatedBus& bus, const std::string& line, bool& ok) {
    std::istringstream words(line);
    std::string verb;
    ok = true;
    if (!(words >> verb)) return {};
    long a = 0;
    long b = 0;
    std::string rest;
    const auto bad = [&ok](const std::string& why) {
        ok = false;
        return why;
    };

    if (verb == "silent" || verb == "back") {
        std::string word;
        if (!(words >> word) || !ToInt(word, a) || a < 0 || a > 255) {
            return bad(verb + " needs an address");
        }
        if (!bus.SetSilent(static_cast<std::uint8_t>(a), verb == "silent")) {
            return bad("no device at " + word);
        }
        return verb == "silent" ? "device " + word + " is silent" : "device " + word + " is back";
    }
    if (verb == "corrupt") {
        if (!OptionalArg(words, 0, 1000000, 1, a)) return bad("corrupt takes a count");
        bus.CorruptNextReplies(static_cast<int>(a));
        return "next " + std::to_string(a) + " answers with a wrong CRC";
    }
    if (verb == "split") {
        if (!OptionalArg(words, 0, 1000000, 1, a) || !OptionalArg(words, 0, 10000, 40, b)) {
            return bad("split takes a count and a gap in ms");
        }
        bus.SplitNextReplies(static_cast<int>(a), std::chrono::milliseconds(b));
        return "next " + std::to_string(a) + " answers split by " + std::to_string(b) + " ms";
    }
    if (verb == "late") {
        if (!OptionalArg(words, 0, 1000000, 1, a) || !OptionalArg(words, 0, 60000, 700, b)) {
            return bad("late takes a count and a delay in ms");
        }
        bus.DelayNextReplies(static_cast<int>(a), std::chrono::milliseconds(b));
        return "next " + std::to_string(a) + " answers " + std::to_string(b) + " ms late";
    }
    if (verb == "garbage") {
        if (!OptionalArg(words, 1, 255, 5, a)) return bad("garbage takes a byte count 1..255");
        bus.SendGarbage(static_cast<std::size_t>(a));
        return std::to_string(a) + " bytes of garbage sent";
    }
    if (verb == "survey-size") {
        if (!OptionalArg(words, 0, 255, 20, a)) return bad("survey-size takes 0..255");
        bus.SetSurveySize(static_cast<std::size_t>(a));
        return "survey answers padded to " + std::to_string(a) + " bytes";
    }
    if (verb == "drop") {
        bus.DropLine();
        return "line dropped";
    }
    if (verb == "stats") {
        const BusStats s = bus.Stats();
        return "requests " + std::to_string(s.requests) + ", bad CRC " + std::to_string(s.badCrc) +
               ", dropped bytes " + std::to_string(s.droppedBytes) + ", answers " +
               std::to_string(s.answers) + ", bytes sent " + std::to_string(s.bytesSent) +
               ", bytes received " + std::to_string(s.bytesReceived) + ", unanswered " +
               std::to_string(s.unanswered) + ", corrupted " + std::to_string(s.corrupted) +
               ", late " + std::to_string(s.delayed);
    }
    if (verb == "devices") return Describe(bus);
    if (verb == "help") return kUsage;
    return bad("unknown command '" + verb + "' (try help)");
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    Options o;
    // Options that are a command at the start, with one argument.
    const auto shorthand = [](const std::string& opt) -> std::string {
        if (opt == "--silent") return "silent";
        if (opt == "--corrupt") return "corrupt";
        if (opt == "--split") return "split";
        if (opt == "--late") return "late";
        if (opt == "--survey-size") return "survey-size";
        return {};
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& opt = args[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = opt + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (opt == "--help" || opt == "-h") {
            o.help = true;
        } else if (opt == "--version") {
            o.version = true;
        } else if (opt == "--no-drift") {
            o.drift = false;
        } else if (opt == "--no-pace") {
            o.pace = false;
        } else if (opt == "--verbose" || opt == "-v") {
            o.verbose = true;
        } else if (opt == "--bus") {
            if (!value(v)) return std::nullopt;
            o.busFile = v;
        } else if (opt == "--devices") {
            if (!value(v)) return std::nullopt;
            o.busText = v;
        } else if (const std::string verb = shorthand(opt); !verb.empty()) {
            if (!value(v)) return std::nullopt;
            o.commands.push_back({0, verb + " " + v});
        } else if (opt == "--drop-after") {
            double s = 0;
            if (!value(v)) return std::nullopt;
            if (!ToSeconds(v, s)) {
                error = "--drop-after needs seconds";
                return std::nullopt;
            }
            o.commands.push_back({s, "drop"});
        } else if (opt == "--at") {
            double s = 0;
            std::string command;
            if (!value(v) || !value(command)) return std::nullopt;
            if (!ToSeconds(v, s)) {
                error = "--at needs seconds, then a command";
                return std::nullopt;
            }
            o.commands.push_back({s, command});
        } else {
            error = "unknown option " + opt;
            return std::nullopt;
        }
    }
    if (o.busFile && o.busText) {
        error = "--bus and --devices exclude each other";
        return std::nullopt;
    }
    return o;
}

}  // namespace busdesk::sim
