// busdesk-cli's site files: the bus read into a site from the engine's decoded
// receptions (the events the journal writes, never the window's captions),
// compared with a file, and set from it through the window's own handlers.
#include <algorithm>
#include <iostream>
#include <utility>

#include "cli/commands.h"
#include "cli/site.h"
#include "engine/journal.h"
#include "protocol/text.h"

namespace busdesk::cli {

namespace {

using engine::BusEvent;
using What = engine::Decoded::What;
using EvKind = BusEvent::Kind;

constexpr int kDefaultTagSeconds = 12;
constexpr int kTicksPerSecond = 2;

Outcome Fail(int exit, std::string text) {
    return {exit, std::move(text)};
}

bool From(const BusEvent& e, What what, std::uint8_t address) {
    return e.kind == EvKind::Rx && e.heard.what == what && e.heard.address == address;
}

// The file a verify or an apply names, or why it is no site file: said on
// standard error with its line and column, before the port is opened.
std::optional<site::Site> LoadSite(const std::string& path, Outcome* failed) {
    const site::Loaded l = site::Load(path);
    if (!l.error.empty()) {
        std::cerr << "busdesk-cli: " << l.error << std::endl;
        *failed = Fail(kRefused, l.error);
        return std::nullopt;
    }
    site::Parsed p = site::Parse(l.text);
    if (!p.site) {
        const std::string text =
            path + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": " + p.error;
        std::cerr << text << std::endl;
        *failed = Fail(kRefused, text);
        return std::nullopt;
    }
    return std::move(p.site);
}

std::string Optional(const std::optional<std::uint8_t>& v) {
    return v ? std::to_string(*v) : "null";
}

std::string Count(std::size_t n, const char* one, const char* few, const char* many) {
    return std::to_string(n) + " " + Plural(static_cast<long long>(n), one, few, many);
}

}  // namespace

Outcome Runner::ReadDevice(std::uint8_t address, int tagSeconds, std::uint64_t since,
                           site::Device* device) {
    const std::string text = std::to_string(address);
    const std::string what = "устройство " + text;
    if (Outcome o = Select(text); o.exit != kDone) return o;
    const std::uint64_t start = session_.Latest().tick;
    device->address = address;

    // The answer to the serial-number request its selection (or the survey)
    // sent; the address does not change while the bus is read.
    std::uint64_t mark = since;
    const std::optional<Heard> serial =
        session_.WaitEvent(&mark, start, kSendTicks + kReplyTicks, [address](const BusEvent& e) {
            return From(e, What::Serial, address) && e.heard.serial.serial.has_value();
        });
    if (!serial) return Fail(kNoAnswer, what + ": не сообщило серийный номер");
    device->serial = *serial->event.heard.serial.serial;
    const std::string version = proto::VersionShown(serial->event.heard.serial);
    if (!version.empty()) device->version = version;

    // A reading carries the calibration and, in its long form, the mode byte,
    // which the window shows only after a survey or a mode change.
    mark = since;
    const std::optional<Heard> reading =
        session_.WaitEvent(&mark, start, kReadingTicks, [address](const BusEvent& e) {
            return From(e, What::Reading, address) && e.heard.crcGood;
        });
    if (!reading)
        return Fail(kNoAnswer,
                    what + ": нет показаний " + std::to_string(kReadingTicks) + " тактов");
    const proto::ReaderReading& r = reading->event.heard.reading;
    device->mode = r.mode;
    if (r.empty && r.full && r.k) device->calibration = site::Calibration{*r.empty, *r.full, *r.k};
    device->reading =
        site::Reading{engine::IsoTime(reading->event.time), r.level, r.temperature, r.current};

    if (tagSeconds <= 0) return {};
    // The tags its reader hears: the exchange's own tag polls, for the time given.
    std::vector<std::uint32_t> ids;
    const auto heard = [&ids](const Heard& h) {
        const std::uint32_t id = *h.event.heard.tag.id;
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    };
    const auto isPing = [address](const BusEvent& e) {
        return From(e, What::TagPing, address) && e.heard.tag.id.has_value();
    };
    // Counted from the selection: the pings heard meanwhile count too.
    const std::uint64_t from = start;
    const int ticks = tagSeconds * kTicksPerSecond;
    mark = since;
    const auto progress = ProgressOf("слушаю метки устройства " + text, from, ticks);
    while (const std::optional<Heard> h = session_.WaitEvent(&mark, from, ticks, isPing, progress))
        heard(*h);
    progress_->Clear();

    for (const std::uint32_t id : ids) {
        Step read;
        read.verb = Verb::ReadTag;
        read.address = text;
        read.tagId = proto::TagIdShown(id);
        proto::TagFields t;
        if (Outcome o = ReadTag(read, &t); o.exit != kDone) return o;
        if (!t.serial) return Fail(kNoAnswer, "метка " + read.tagId + ": нет серийного номера");
        site::Tag tag;
        tag.serial = *t.serial;
        tag.id = t.id;
        tag.interval = t.interval;
        tag.mode = t.mode;
        tag.power = t.power;
        tag.sleep = t.sleep;
        if (t.version) tag.version = VersionText(*t.version);
        tag.level = t.level;
        device->tags.push_back(std::move(tag));
    }
    std::sort(device->tags.begin(), device->tags.end(),
              [](const site::Tag& a, const site::Tag& b) { return a.serial < b.serial; });
    return {};
}

Outcome Runner::ReadSite(int tagSeconds, site::Site* bus) {
    if (Outcome o = Open(); o.exit != kDone) return o;
    const std::uint64_t since = session_.Mark();
    if (Outcome o = Survey(false); o.exit != kDone) return o;
    // The addresses as the survey answer said them.
    std::uint64_t mark = since;
    const std::optional<Heard> answer = session_.WaitEvent(
        &mark, session_.Latest().tick, 0,
        [](const BusEvent& e) { return e.kind == EvKind::Rx && e.heard.what == What::Survey; });
    if (!answer) return Fail(kNoAnswer, "опрос сети: нет списка адресов");
    std::vector<std::uint8_t> addresses;
    for (const std::uint8_t a : answer->event.heard.addresses) {
        // No device answers above 200: such a byte is noise on the line.
        if (a > 200) {
            std::cerr << "busdesk-cli: в ответе на опрос адрес " << int{a} << " пропущен"
                      << std::endl;
            continue;
        }
        if (std::find(addresses.begin(), addresses.end(), a) == addresses.end())
            addresses.push_back(a);
    }
    std::sort(addresses.begin(), addresses.end());
    for (const std::uint8_t a : addresses) {
        site::Device d;
        if (Outcome o = ReadDevice(a, tagSeconds, since, &d); o.exit != kDone) return o;
        bus->devices.push_back(std::move(d));
    }
    bus->date = engine::IsoTime(std::chrono::system_clock::now());
    bus->busdesk = BUSDESK_VERSION;
    bus->port = port_;
    return {};
}

Outcome Runner::Inventory(const Step& s) {
    // Opened first: a file that cannot be written is said before anything is sent.
    site::WholeFile file;
    std::string error;
    if (s.output && !file.Open(*s.output, &error)) {
        std::cerr << "busdesk-cli: " << error << std::endl;
        return Fail(kRefused, error);
    }
    site::Site bus;
    if (Outcome o = ReadSite(s.seconds.value_or(kDefaultTagSeconds), &bus); o.exit != kDone)
        return o;
    std::size_t tags = 0;
    for (const site::Device& d : bus.devices) tags += d.tags.size();
    const std::string counted = Count(bus.devices.size(), "устройство", "устройства", "устройств") +
                                ", " + Count(tags, "метка", "метки", "меток");
    const std::string text = site::Write(bus);
    if (!s.output) {
        std::cout << text << std::flush;
        return {kDone, counted};
    }
    if (!file.Commit(text, &error)) {
        std::cerr << "busdesk-cli: " << error << std::endl;
        return Fail(kRefused, error);
    }
    return {kDone, counted + " записано в " + *s.output};
}

Outcome Runner::Verify(const Step& s) {
    Outcome failed;
    const std::optional<site::Site> file = LoadSite(s.value, &failed);
    if (!file) return failed;
    site::Site bus;
    if (Outcome o = ReadSite(s.seconds.value_or(kDefaultTagSeconds), &bus); o.exit != kDone)
        return o;
    for (const std::string& line : site::ReadingsText(*file, bus))
        Emit({"note", {{"text", JsonString(line)}}, line});
    const std::vector<site::Difference> diffs = site::Compare(*file, bus, {s.readings});
    for (const site::Difference& d : diffs) {
        Emit({"difference",
              {{"field", JsonString(d.field)},
               {"serial", std::to_string(d.serial)},
               {"address", Optional(d.address)},
               {"tag", d.tag ? std::to_string(*d.tag) : "null"},
               {"file", d.file},
               {"bus", d.bus},
               {"text", JsonString(d.text)}},
              d.text});
    }
    if (diffs.empty()) return {kDone, "шина совпадает с файлом " + s.value};
    return Fail(kDiffers, "шина не совпадает с файлом " + s.value + ": " +
                              Count(diffs.size(), "расхождение", "расхождения", "расхождений"));
}

Outcome Runner::Apply(const Step& s) {
    Outcome failed;
    const std::optional<site::Site> file = LoadSite(s.value, &failed);
    if (!file) return failed;
    site::Site bus;
    if (Outcome o = ReadSite(s.seconds.value_or(kDefaultTagSeconds), &bus); o.exit != kDone)
        return o;
    const site::Plan plan = site::MakePlan(*file, bus);
    const std::size_t n = plan.steps.size();
    std::vector<std::string> commands;
    for (std::size_t i = 0; i < n; ++i) {
        commands.push_back(site::JoinWords(plan.steps[i].words));
        Emit({"plan",
              {{"step", std::to_string(i + 1)},
               {"command", JsonString(commands[i])},
               {"why", JsonString(plan.steps[i].why)}},
              std::to_string(i + 1) + ". " + commands[i] + "    # " + plan.steps[i].why});
    }
    for (const std::string& left : plan.leftOver)
        Emit({"left", {{"text", JsonString(left)}}, "оставлено технику: " + left});
    const std::string leftText =
        plan.leftOver.empty() ? "" : "; оставлено технику: " + std::to_string(plan.leftOver.size());
    if (n == 0) return {kDone, "делать нечего" + leftText};
    if (s.dryRun)
        return {kDone, "план из " + Count(n, "шага", "шагов", "шагов") +
                           " не выполнялся (--dry-run)" + leftText};

    for (std::size_t i = 0; i < n; ++i) {
        const ParsedStep parsed = ParseStep(plan.steps[i].words);
        const Outcome o = parsed.step ? Run(*parsed.step) : Fail(kRefused, parsed.error);
        const std::string of = std::to_string(i + 1) + "/" + std::to_string(n);
        Emit({"step",
              {{"step", std::to_string(i + 1)},
               {"command", JsonString(commands[i])},
               {"exit", std::to_string(o.exit)},
               {"ok", o.exit == kDone ? "true" : "false"},
               {"text", JsonString(o.text)}},
              "шаг " + of + " [" + commands[i] +
                  "]: " + (o.exit == kDone ? "готово" : "ошибка " + std::to_string(o.exit)) + ": " +
                  o.text});
        if (o.exit == kDone) continue;
        // What is still to do, for the technician to finish by hand or with a
        // second apply once the device answers again.
        std::string rest;
        for (std::size_t j = i; j < n; ++j) {
            Emit({"pending",
                  {{"step", std::to_string(j + 1)}, {"command", JsonString(commands[j])}},
                  "не выполнен шаг " + std::to_string(j + 1) + "/" + std::to_string(n) + " [" +
                      commands[j] + "]"});
            rest += (rest.empty() ? "" : ", ") + std::to_string(j + 1) + " [" + commands[j] + "]";
        }
        return Fail(o.exit,
                    "шаг " + of + " не выполнен: " + o.text + "; не выполнены шаги: " + rest);
    }
    return {kDone, "выполнено " + Count(n, "шаг", "шага", "шагов") + leftText};
}

}  // namespace busdesk::cli
