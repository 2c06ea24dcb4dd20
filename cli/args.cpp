#include "cli/args.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "cmdline/parser.h"
#include "engine/file_path.h"

namespace busdesk::cli {

namespace {

struct VerbInfo {
    Verb verb;
    std::vector<std::string> positional;  // names, for the usage message
    std::vector<std::string> flags;       // options without a value
    std::vector<std::string> valued;      // options with one value
};

const std::map<std::string, VerbInfo>& Verbs() {
    static const std::map<std::string, VerbInfo> verbs = {
        {"survey", {Verb::Survey, {}, {}, {}}},
        {"show", {Verb::Show, {"ADDR"}, {}, {"--count", "--seconds"}}},
        {"set-address", {Verb::SetAddress, {"ADDR", "NEW"}, {}, {}}},
        {"set-mode", {Verb::SetMode, {"ADDR", "ROLE"}, {"--average", "--invert"}, {}}},
        {"calibrate", {Verb::Calibrate, {"ADDR", "low|high"}, {"--yes"}, {}}},
        {"set-serial", {Verb::SetSerial, {"ADDR", "TAG-ID", "NUMBER"}, {}, {}}},
        {"set-ident", {Verb::SetIdent, {"ADDR", "TAG-ID", "NUMBER"}, {}, {}}},
        {"tags", {Verb::Tags, {"ADDR"}, {}, {"--seconds"}}},
        {"read-tag", {Verb::ReadTag, {"ADDR", "TAG-ID"}, {}, {}}},
        {"write-tag",
         {Verb::WriteTag,
          {"ADDR", "TAG-ID"},
          {},
          {"--serial", "--mode", "--interval", "--sleep", "--power", "--new-id"}}},
        {"run", {Verb::Run, {"PLAN"}, {"--keep-going"}, {}}},
        {"inventory", {Verb::Inventory, {}, {}, {"-o,--output", "--tags"}}},
        {"verify", {Verb::Verify, {"FILE"}, {}, {"--tags", "--readings"}}},
        {"apply", {Verb::Apply, {"FILE"}, {"--dry-run"}, {"--tags"}}},
        {"report", {Verb::Report, {}, {}, {"--journal", "--site", "-o,--output"}}},
    };
    return verbs;
}

std::optional<int> PlainNumber(const std::string& s, int max) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < 0 || v > max) return std::nullopt;
    return v;
}

std::string Join(const std::vector<std::string>& words) {
    std::string s;
    for (const std::string& w : words) {
        if (!s.empty()) s += ' ';
        s += w;
    }
    return s;
}

ParsedStep Fail(std::string error) {
    return {std::nullopt, std::move(error)};
}

}  // namespace

ParsedStep ParseStep(const std::vector<std::string>& words) {
    if (words.empty()) return Fail("не задана команда");
    const auto it = Verbs().find(words[0]);
    if (it == Verbs().end()) return Fail("неизвестная команда: " + words[0]);
    const VerbInfo& info = it->second;
    Step s;
    s.verb = info.verb;
    s.text = Join(words);

    std::vector<cmdline::OptionSpec> specs;
    for (const std::string& flag : info.flags) specs.push_back({flag, 0});
    for (const std::string& option : info.valued) specs.push_back({option, 1});
    const cmdline::Parsed parsed = cmdline::Parse(
        specs, std::vector<std::string>(words.begin() + 1, words.end()), cmdline::Words::Any);
    if (!parsed.error.empty()) return Fail(words[0] + ": " + parsed.error);

    std::map<std::string, std::string> values;
    for (const cmdline::Given& g : parsed.options) {
        if (g.name == "--yes") s.yes = true;
        if (g.name == "--average") s.average = true;
        if (g.name == "--invert") s.invert = true;
        if (g.name == "--keep-going") s.keepGoing = true;
        if (g.name == "--dry-run") s.dryRun = true;
        if (g.values.empty()) continue;
        // The one option that may be given again: each journal in turn.
        if (g.name == "--journal") {
            if (g.values[0].empty()) return Fail(words[0] + ": --journal без имени файла");
            s.journals.push_back(g.values[0]);
            continue;
        }
        if (values.count(g.name)) return Fail(words[0] + ": " + g.name + " указан дважды");
        values[g.name] = g.values[0];
    }
    const std::vector<std::string>& positional = parsed.words;
    if (positional.size() > info.positional.size()) {
        const std::string& extra = positional[info.positional.size()];
        if (info.positional.empty())
            return Fail(words[0] + ": у команды нет параметров, лишнее слово: " + extra);
        return Fail(words[0] + ": лишнее слово: " + extra + " (нужно " + Join(info.positional) +
                    ")");
    }
    if (positional.size() < info.positional.size()) {
        const std::vector<std::string> missing(
            info.positional.begin() + static_cast<std::ptrdiff_t>(positional.size()),
            info.positional.end());
        return Fail(words[0] + ": не хватает " + Join(missing) + " (нужно " +
                    Join(info.positional) + ")");
    }

    std::size_t p = 0;
    if (p < info.positional.size() && info.positional[0] == "ADDR") {
        const auto address = PlainNumber(positional[0], 255);
        if (!address) return Fail(words[0] + ": адрес должен быть числом 0..255: " + positional[0]);
        s.address = std::to_string(*address);
        ++p;
    }
    if (info.verb == Verb::Run || info.verb == Verb::Verify || info.verb == Verb::Apply)
        s.value = positional[0];
    if (info.verb == Verb::SetSerial || info.verb == Verb::SetIdent || info.verb == Verb::ReadTag ||
        info.verb == Verb::WriteTag) {
        s.tagId = positional[p++];
    }
    if (info.verb == Verb::SetAddress || info.verb == Verb::SetMode ||
        info.verb == Verb::Calibrate || info.verb == Verb::SetSerial ||
        info.verb == Verb::SetIdent) {
        s.value = positional[p++];
    }

    if (info.verb == Verb::Calibrate && s.value != "low" && s.value != "high")
        return Fail("calibrate: нужно low или high, а не " + s.value);
    if (info.verb == Verb::SetMode) {
        if (s.value != "reader" && s.value != "reader-indicator" && s.value != "bridge")
            return Fail("set-mode: роль reader, reader-indicator или bridge, а не " + s.value);
        // The window offers the two flags only with the bridge role.
        if ((s.average || s.invert) && s.value != "bridge")
            return Fail("set-mode: --average и --invert бывают только у роли bridge");
    }

    for (const char* name : {"--count", "--seconds"}) {
        const auto v = values.find(name);
        if (v == values.end()) continue;
        const auto n = PlainNumber(v->second, 86400);
        if (!n || *n == 0) return Fail(words[0] + ": " + name + " должно быть целым > 0");
        (std::string(name) == "--count" ? s.count : s.seconds) = *n;
    }
    if (s.count && s.seconds) return Fail("show: либо --count, либо --seconds");
    if (const auto v = values.find("--tags"); v != values.end()) {
        // 0: no time for tags at all.
        const auto n = PlainNumber(v->second, 600);
        if (!n) return Fail(words[0] + ": --tags - секунды 0..600, а не " + v->second);
        s.seconds = *n;
    }
    if (const auto v = values.find("-o"); v != values.end()) {
        if (v->second.empty()) return Fail(words[0] + ": -o без имени файла");
        s.output = v->second;
    }
    if (const auto v = values.find("--site"); v != values.end()) {
        if (v->second.empty()) return Fail(words[0] + ": --site без имени файла");
        s.site = v->second;
    }
    if (info.verb == Verb::Report) {
        if (s.journals.empty() && !s.site)
            return Fail("report: нужен хотя бы один --journal или --site");
        if (!s.output) s.output = "report.html";
    }
    if (const auto v = values.find("--readings"); v != values.end()) {
        double d = -1;
        const char* end = v->second.data() + v->second.size();
        const auto [stop, ec] = std::from_chars(v->second.data(), end, d, std::chars_format::fixed);
        if (ec != std::errc() || stop != end || !(d >= 0 && d <= 1000))
            return Fail(words[0] + ": --readings - допуск в процентах 0..1000, а не " + v->second);
        s.readings = d;
    }

    const auto take = [&](const char* name, std::optional<std::string>& into) {
        const auto v = values.find(name);
        if (v != values.end()) into = v->second;
    };
    take("--serial", s.serial);
    take("--mode", s.mode);
    take("--interval", s.interval);
    take("--sleep", s.sleep);
    take("--power", s.power);
    take("--new-id", s.newId);
    return {std::move(s), {}};
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (char ch : line) {
        if (ch == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (ch == ' ' || ch == '\t' || ch == '\r')) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += ch;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

Plan ParsePlan(const std::string& text) {
    Plan plan;
    // Editors on Windows start a UTF-8 file with a byte-order mark.
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    std::istringstream in(text.rfind(kBom, 0) == 0 ? text.substr(kBom.size()) : text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        // A "#" inside quotes is part of a word, not a comment.
        bool quoted = false;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"') quoted = !quoted;
            if (line[i] == '#' && !quoted) {
                line.resize(i);
                break;
            }
        }
        const std::vector<std::string> words = SplitWords(line);
        if (words.empty()) continue;
        ParsedStep parsed = ParseStep(words);
        if (!parsed.step) {
            plan.error = "строка " + std::to_string(number) + ": " + parsed.error;
            return plan;
        }
        if (parsed.step->verb == Verb::Run) {
            plan.error = "строка " + std::to_string(number) + ": run внутри плана не допускается";
            return plan;
        }
        plan.steps.push_back(std::move(*parsed.step));
    }
    if (plan.steps.empty() && plan.error.empty()) plan.error = "в плане нет ни одной команды";
    return plan;
}

PlanFile ReadPlanFile(const std::string& path, std::size_t limit) {
    PlanFile plan;
#ifndef _WIN32
    // Opened without blocking and checked on the open file: a FIFO put in the
    // file's place after a check by name would still wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        plan.error = (errno == ENOENT ? "нет файла плана " : "не открывается план ") + path;
        return plan;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        plan.error = "план " + path + " - не обычный файл";
        return plan;
    }
    plan.text.resize(limit + 1);
    std::size_t got = 0;
    while (got < plan.text.size()) {
        const ssize_t n = read(fd, plan.text.data() + got, plan.text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            plan.text.clear();
            plan.error = "не читается план " + path;
            return plan;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    plan.text.resize(got);
#else
    const std::optional<std::filesystem::path> native = engine::ToFsPath(path);
    if (!native) {
        plan.error = "не открывается план " + path;
        return plan;
    }
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(*native, ec);
    if (ec || !std::filesystem::exists(status)) {
        plan.error = "нет файла плана " + path;
        return plan;
    }
    // A device would never end.
    if (!std::filesystem::is_regular_file(status)) {
        plan.error = "план " + path + " - не обычный файл";
        return plan;
    }
    std::ifstream file(*native, std::ios::binary);
    if (!file) {
        plan.error = "не открывается план " + path;
        return plan;
    }
    plan.text.resize(limit + 1);
    file.read(plan.text.data(), static_cast<std::streamsize>(plan.text.size()));
    plan.text.resize(static_cast<std::size_t>(file.gcount()));
    if (file.bad()) {
        plan.text.clear();
        plan.error = "не читается план " + path;
        return plan;
    }
#endif
    if (plan.text.size() > limit) {
        plan.text.clear();
        const std::string size = limit % (1 << 20) == 0 ? std::to_string(limit >> 20) + " МиБ"
                                                        : std::to_string(limit) + " байт";
        plan.error = "план " + path + " больше " + size;
    }
    return plan;
}

bool WantsJson(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") return true;
        // The command's own words start at the first word that is no option.
        if (a == "--" || a.empty() || a[0] != '-') return false;
        for (const cmdline::OptionSpec& known : engine::OptionSpecs())
            if (known.values == 1 && a == known.names) ++i;  // its value
    }
    return false;
}

Invocation ParseInvocation(const std::vector<std::string>& args) {
    Invocation inv;
    std::vector<cmdline::OptionSpec> specs = engine::OptionSpecs();
    specs.push_back({"--json", 0});
    const cmdline::Parsed parsed = cmdline::Parse(specs, args, cmdline::Words::Rest);
    inv.json = parsed.error.empty() ? parsed.Has("--json") : WantsJson(args);
    if (!parsed.error.empty()) {
        inv.error = parsed.error;
        return inv;
    }
    for (const cmdline::Given& g : parsed.options) {
        if (g.name == "--json") continue;
        if (g.name == "--port") {
            // COMn: chooses the entry of the window's list; =PATH also maps it.
            const std::string& value = g.values.at(0);
            const std::size_t eq = value.find('=');
            std::string why;
            if (eq != std::string::npos && !inv.options.ports.AddMapping(value, &why)) {
                inv.error = "--port: " + why;
                return inv;
            }
            const std::optional<std::string> entry = PortMap::WindowName(value.substr(0, eq), &why);
            if (!entry) {
                inv.error = "--port: " + why;
                return inv;
            }
            inv.port = *entry;
            continue;
        }
        engine::TakeOption(g, inv.options);
        if (!inv.options.error.empty()) {
            inv.error = inv.options.error;
            return inv;
        }
    }
    inv.command = parsed.words;
    return inv;
}

std::string JournalLostText(std::uint64_t lost, const std::string& error) {
    // Russian agrees the verb and the noun with the number.
    const std::uint64_t tens = lost % 100;
    const std::uint64_t ones = lost % 10;
    const bool one = ones == 1 && tens != 11;
    const bool few = ones >= 2 && ones <= 4 && (tens < 12 || tens > 14);
    std::string text = std::string("журнал: ") + (one ? "потеряна " : "потеряно ") +
                       std::to_string(lost) +
                       (one   ? " строка"
                        : few ? " строки"
                              : " строк");
    if (!error.empty()) text += ": " + error;
    return text;
}

std::string UsageText() {
    return "Использование: busdesk-cli [ПАРАМЕТРЫ] [--] КОМАНДА ...\n"
           "То же, что окно BusDesk, без окна: нажимает его кнопки, вводит значения в его поля\n"
           "и печатает то, что показало бы окно. Сообщения окна идут в stderr.\n"
           "\n"
           "  --port COMn:[=ПУТЬ]  открыть COMn: (COM1: .. COM9:, по умолчанию COM1:);\n"
           "                       =ПУТЬ указывает устройство\n"
           "  --demo               встроенная модель шины вместо порта (как COM1:)\n"
           "  --journal ФАЙЛ       дописывать в ФАЙЛ каждый обмен и каждое изменение\n"
           "                       устройства, один объект JSON на строку\n"
#ifndef _WIN32
           "  --rs485              при открытии переключать линию в RS-485\n"
#endif
           "  --reconnect          когда порт закрылся после ошибок записи или не открылся,\n"
           "                       пробовать его снова каждые 2 с; команда ждёт линию\n"
           "                       до 30 с\n"
           "  --list-ports         напечатать, что открывают COM1: .. COM9:, и выйти\n"
           "  --json               один объект JSON на строку вместо текста\n"
           "  --help               эта справка\n"
           "  --version            версия\n"
           "Значение пишется через пробел или через \"=\" (--journal=ФАЙЛ); \"--\" заканчивает\n"
           "параметры, дальше идёт команда.\n"
           "\n"
           "Команды (ADDR - сетевой адрес; если его нет в списке, сначала идёт опрос сети):\n"
           "  survey                          опрос сети, печатает найденные адреса\n"
           "      busdesk-cli --demo survey\n"
           "  show ADDR [--count N | --seconds S]\n"
           "                                  серийный номер, версия, режим и показания\n"
           "      busdesk-cli --demo show 1 --count 3\n"
           "  set-address ADDR NEW            новый сетевой адрес 0..200\n"
           "      busdesk-cli set-address 5 8\n"
           "  set-mode ADDR ROLE [--average] [--invert]\n"
           "                                  ROLE: reader, reader-indicator, bridge; флаги "
           "только\n"
           "                                  у bridge (--average: Частотный выход, --invert: "
           "Мастер)\n"
           "      busdesk-cli set-mode 7 bridge --invert\n"
           "  calibrate ADDR low|high --yes   перекалибровка пустого/полного уровня; без --yes\n"
           "                                  отказ, как ответ \"Нет\" в окне\n"
           "      busdesk-cli calibrate 1 high --yes\n"
           "  set-serial ADDR TAG-ID NUMBER   серийный номер метки (0..2000000)\n"
           "      busdesk-cli set-serial 1 1A2B3C4D 5100\n"
           "  set-ident ADDR TAG-ID NUMBER    запрос идентификатора метки\n"
           "      busdesk-cli set-ident 1 1A2B3C4D 0\n"
           "  tags ADDR [--seconds S]         поиск меток, печатает каждую услышанную (5 с)\n"
           "      busdesk-cli --demo tags 1 --seconds 3\n"
           "  read-tag ADDR TAG-ID            параметры метки\n"
           "      busdesk-cli --demo read-tag 1 1A2B3C4D\n"
           "  write-tag ADDR TAG-ID [--serial N] [--mode N] [--interval N] [--sleep N]\n"
           "            [--power N] [--new-id HEX]\n"
           "                                  записать параметры; не заданные остаются\n"
           "                                  прочитанными из метки\n"
           "      busdesk-cli write-tag 1 1A2B3C4D --interval 600 --power 120\n"
           "  run PLAN [--keep-going]         команды из файла, по одной в строке, # - "
           "комментарий;\n"
           "                                  останавливается на первой ошибке; PLAN -\n"
           "                                  обычный файл не больше 1 МиБ\n"
           "      busdesk-cli run commissioning.plan\n"
           "  inventory [-o FILE] [--tags S]  вся шина в файл объекта (JSON busdesk-site/1):\n"
           "                                  устройства, режимы, калибровка, показания и\n"
           "                                  метки, услышанные за S с (12) у каждого;\n"
           "                                  без -o - в stdout\n"
           "      busdesk-cli inventory -o site12.json\n"
           "  verify FILE [--tags S] [--readings ПРОЦЕНТ]\n"
           "                                  сравнить шину с файлом, по строке на\n"
           "                                  расхождение; показания сравниваются только с\n"
           "                                  --readings (допуск в процентах)\n"
           "      busdesk-cli verify site12.json\n"
           "  apply FILE [--tags S] [--dry-run]\n"
           "                                  план изменений (устройства по серийному номеру)\n"
           "                                  и его выполнение: адреса, режимы, метки;\n"
           "                                  --dry-run только печатает план\n"
           "      busdesk-cli apply site12.json --dry-run\n"
           "  report [--journal FILE]... [--site FILE] [-o ОТЧЁТ]\n"
           "                                  отчёт о пусконаладке в один файл HTML (по\n"
           "                                  умолчанию report.html): устройства, изменения,\n"
           "                                  линия, тренды, расхождения с файлом объекта;\n"
           "                                  журналы читаются по порядку; порт не нужен\n"
           "      busdesk-cli report --journal day.jsonl --site site12.json -o site12.html\n"
           "\n"
           "Ожидание в тактах обмена по 500 мс: кадр команды должен уйти не позже 2 тактов\n"
           "после нажатия; первый принятый после него ответ должен быть подтверждением,\n"
           "не позже 4 тактов (2 с); выбранное устройство должно ответить за 6 тактов (3 с);\n"
           "метку ждём до 24 тактов (12 с); каждое показание show - до 6 тактов.\n"
           "С --reconnect пропавшую линию ждём до 30 с перед командой (иначе код 3); команда,\n"
           "во время которой линия пропала, не повторяется и кончается по своему сроку.\n"
           "\n"
           "Код выхода: 0 - выполнено и подтверждено устройством; 1 - устройство не ответило\n"
           "или не подтвердило вовремя; 2 - ошибка в командной строке или значение, которое\n"
           "окно не принимает (с сообщением окна); 3 - порт не открылся; 4 - выполнено и\n"
           "подтверждено, но в журнал записаны не все строки (сколько потеряно - в stderr и\n"
           "в поле journal_lost строки result). С --json последняя строка - всегда result.\n"
           "verify: 1 - шина не совпадает с файлом; 2 - файл не файл объекта (строка и\n"
           "столбец ошибки в stderr) или не записывается; inventory без -o печатает строку\n"
           "result в stderr.\n"
           "report: 0 - отчёт записан; 2 - нет ни журнала, ни файла объекта, журнал не\n"
           "читается, файл объекта не файл объекта или отчёт не записывается. Пропущенные\n"
           "строки журнала считаются в stderr и в отчёте.\n";
}

}  // namespace busdesk::cli
