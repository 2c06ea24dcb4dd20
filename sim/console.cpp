#include "sim/console.h"

#include <charconv>
#include <sstream>

#include "cmdline/parser.h"
#include "sim/sim_bus.h"

namespace busdesk::sim {

const char* const kUsage =
    "Использование: busdesk-sim [ПАРАМЕТРЫ]\n"
    "Открывает псевдотерминал, печатает первой строкой путь к его ведомой стороне\n"
    "и отвечает за ним как шина устройств. Команды со стандартного ввода (те же\n"
    "слова, что у --at) меняют шину на ходу.\n"
    "\n"
    "  --bus ФАЙЛ            устройства из файла описания (см. ниже)\n"
    "  --devices ТЕКСТ       то же описание в строке, ';' между устройствами\n"
    "  --no-drift            показания не меняются\n"
    "  --no-pace             ответ одной записью, а не со скоростью 19200 бод\n"
    "  --verbose, -v         каждый запрос и ответ в stderr\n"
    "  --silent ADDR         устройство с адресом ADDR не отвечает\n"
    "  --corrupt N           следующие N ответов с неверной CRC\n"
    "  --split N             следующие N ответов приходят двумя частями через 40 мс\n"
    "  --late N              следующие N ответов опаздывают на 700 мс\n"
    "  --survey-size N       ответы на опрос сети дополняются до N байт\n"
    "  --drop-after СЕКУНДЫ  линия обрывается через это время (до 1000000 с)\n"
    "  --at СЕКУНДЫ КОМАНДА  выполнить КОМАНДУ в это время, например --at 5 'silent 1'\n"
    "  --tcp ПОРТ            шина и по TCP: байты как есть (0 — любой свободный порт);\n"
    "                        вторая строка вывода — адрес, tcp://127.0.0.1:ПОРТ\n"
    "  --rfc2217 ПОРТ        то же по telnet с управлением линией (RFC 2217)\n"
    "  --bind АДРЕС          адрес для --tcp и --rfc2217 (по умолчанию 127.0.0.1)\n"
    "  --help, -h            эта справка\n"
    "  --version             версия\n"
    "Значение пишется через пробел или через \"=\" (--bus=ФАЙЛ); \"--\" заканчивает\n"
    "параметры.\n"
    "\n"
    "Команды: silent ADDR, back ADDR, corrupt [N], split [N] [GAP_MS],\n"
    "late [N] [MS], garbage [N], survey-size N, drop, stats, devices, help, quit.\n"
    "\n"
    "Строки описания:\n"
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

// A time from now, bounded so that it always fits the wait computed from it.
bool ToSeconds(const std::string& text, double& out) {
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, out, std::chars_format::fixed);
    return !text.empty() && ec == std::errc() && p == end && out >= 0 && out <= kMaxSeconds;
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

std::vector<std::string> ConsoleLines::Add(std::string_view bytes) {
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        const std::size_t eol = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, eol);
        if (!skipping_) {
            if (partial_.size() + piece.size() > limit_) {
                partial_.clear();
                skipping_ = true;
                ++dropped_;
            } else {
                partial_.append(piece);
            }
        }
        if (eol == std::string_view::npos) break;
        if (!skipping_) {
            if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
            lines.push_back(std::move(partial_));
        }
        partial_.clear();
        skipping_ = false;
        bytes.remove_prefix(eol + 1);
    }
    return lines;
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    // Options that are a command at the start, with one argument.
    const std::pair<const char*, const char*> shorthands[] = {
        {"--silent", "silent"}, {"--corrupt", "corrupt"},         {"--split", "split"},
        {"--late", "late"},     {"--survey-size", "survey-size"},
    };
    std::vector<cmdline::OptionSpec> specs = {
        {"--help,-h", 0}, {"--version", 0},    {"--no-drift", 0},
        {"--no-pace", 0}, {"--verbose,-v", 0}, {"--bus", 1},
        {"--devices", 1}, {"--drop-after", 1}, {"--at", 2},
        {"--tcp", 1},     {"--rfc2217", 1},    {"--bind", 1},
    };
    for (const auto& [option, verb] : shorthands) specs.push_back({option, 1});
    const cmdline::Parsed parsed = cmdline::Parse(specs, args, cmdline::Words::None);
    if (!parsed.error.empty()) {
        error = parsed.error;
        return std::nullopt;
    }

    Options o;
    for (const cmdline::Given& g : parsed.options) {
        const std::string& name = g.name;
        if (name == "--help") {
            o.help = true;
        } else if (name == "--version") {
            o.version = true;
        } else if (name == "--no-drift") {
            o.drift = false;
        } else if (name == "--no-pace") {
            o.pace = false;
        } else if (name == "--verbose") {
            o.verbose = true;
        } else if (name == "--bus") {
            o.busFile = g.values[0];
        } else if (name == "--devices") {
            o.busText = g.values[0];
        } else if (name == "--tcp" || name == "--rfc2217") {
            long port = -1;
            if (o.tcpPort) {
                error = "--tcp и --rfc2217 задаются один раз";
                return std::nullopt;
            }
            if (!ToInt(g.values[0], port) || port < 0 || port > 65535) {
                error = name + ": нужен номер порта от 0 до 65535, а не " + g.values[0];
                return std::nullopt;
            }
            o.tcpPort = static_cast<int>(port);
            o.telnet = name == "--rfc2217";
        } else if (name == "--bind") {
            o.bindAddress = g.values[0];
        } else if (name == "--drop-after" || name == "--at") {
            double seconds = 0;
            if (!ToSeconds(g.values[0], seconds)) {
                error = name + ": нужно число секунд от 0 до 1000000, а не " + g.values[0];
                return std::nullopt;
            }
            o.commands.push_back({seconds, name == "--at" ? g.values[1] : "drop"});
        } else {
            for (const auto& [option, verb] : shorthands)
                if (name == option)
                    o.commands.push_back({0, std::string(verb) + " " + g.values[0]});
        }
    }
    if (o.busFile && o.busText) {
        error = "--bus и --devices исключают друг друга";
        return std::nullopt;
    }
    return o;
}

}  // namespace busdesk::sim
