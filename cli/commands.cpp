#include "cli/commands.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "app/checks.h"
#include "app/frmSerial.h"
#include "app/messages.h"
#include "app/numbers.h"
#include "engine/line_frames.h"
#include "protocol/commands.h"
#include "protocol/text.h"

namespace busdesk::cli {

namespace {

using engine::BusEvent;
using What = engine::Decoded::What;
using EvKind = BusEvent::Kind;

constexpr int kTicksPerSecond = 2;

Outcome Fail(int exit, std::string text) {
    return {exit, std::move(text)};
}

// A value the window would refuse: its message on standard error, as the
// window's box would have put it, and nothing sent.
Outcome Refuse(const std::string& what, const std::string& message) {
    std::cerr << message << std::endl;
    return Fail(kRefused, what + ": " + message);
}

std::string Ticks(int n) {
    return std::to_string(n) + " " + Plural(n, "такт", "такта", "тактов") + " по 500 мс";
}

std::string Number(const std::optional<std::uint32_t>& v) {
    return v ? std::to_string(*v) : "null";
}
std::string Number(const std::optional<int>& v) {
    return v ? std::to_string(*v) : "null";
}
std::string Shown(const std::optional<std::uint32_t>& v) {
    return v ? std::to_string(*v) : "—";
}
std::string Shown(const std::optional<int>& v) {
    return v ? std::to_string(*v) : "—";
}
template <typename T>
std::optional<std::uint32_t> Wide(const std::optional<T>& v) {
    if (!v) return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

struct Role {
    const char* word;
    const char* option;
    const char* label;  // the caption beside it
    std::uint8_t value;
};
constexpr Role kRoles[] = {
    {"reader", "R_a", "Считыватель", proto::kRoleReader},
    {"reader-indicator", "R_f", "Считыватель-индикатор", proto::kRoleReaderIndicator},
    {"tag", "R_p485", "Метка", proto::kRoleTag},
    {"bridge", "R485", "Мост", proto::kRoleBridge},
    {"repeater", "R_p", "Повторитель", proto::kRoleRepeater},
};

const Role* RoleOf(const std::optional<std::uint8_t>& mode) {
    if (!mode) return nullptr;
    for (const Role& r : kRoles) {
        if (r.value == proto::SplitMode(*mode).role) return &r;
    }
    return nullptr;
}

std::string ModeJson(const std::optional<std::uint8_t>& mode) {
    const Role* r = RoleOf(mode);
    const proto::ModeParts m = proto::SplitMode(mode.value_or(0));
    return std::string("{\"role\":") + JsonString(r ? r->word : "") +
           ",\"name\":" + JsonString(r ? r->label : "") +
           ",\"master\":" + (mode && m.master ? "true" : "false") +
           ",\"frequency\":" + (mode && m.frequency ? "true" : "false") + "}";
}

std::string ModeHuman(const std::optional<std::uint8_t>& mode) {
    const Role* r = RoleOf(mode);
    std::string s = r ? r->label : "?";
    if (mode && proto::SplitMode(*mode).master) s += ", Мастер";
    if (mode && proto::SplitMode(*mode).frequency) s += ", Частотный выход";
    return s;
}

bool Checked(const View& v, const std::string& name) {
    const Control* c = v.Find(name);
    return c != nullptr && c->value != 0;
}

// The window's text of a tag identifier typed on the command line, or the
// window's message when it would refuse it.
std::optional<std::string> TagText(const std::string& typed, std::string* refusal) {
    const HexIdCheck check = CheckHexId(typed);
    if (check != HexIdCheck::Ok) {
        *refusal = HexIdMessage(check);
        return std::nullopt;
    }
    const auto id = HexIdFromRight(typed);
    if (!id) {
        *refusal = HexIdMessage(HexIdCheck::NotHex);
        return std::nullopt;
    }
    return proto::TagIdShown(*id);
}

bool HeardTag(const BusEvent& e, What what, const std::string& idText) {
    return e.kind == EvKind::Rx && e.heard.what == what && e.heard.tag.id &&
           (idText.empty() || proto::TagIdShown(*e.heard.tag.id) == idText);
}

// A framed reply, whatever it says, from `address`.
bool FramedFrom(const BusEvent& e, std::uint8_t address) {
    return e.kind == EvKind::Rx && FramedReply(e.heard) && e.heard.address == address;
}

}  // namespace

std::string JsonString(const std::string& s) {
    return nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string JsonNumber(const std::string& shown) {
    const std::size_t start = !shown.empty() && shown[0] == '-' ? 1 : 0;
    const bool digits = shown.size() > start && shown.size() - start <= 15 &&
                        std::all_of(shown.begin() + static_cast<std::ptrdiff_t>(start), shown.end(),
                                    [](char c) { return c >= '0' && c <= '9'; });
    return digits ? shown : JsonString(shown);
}

std::string FormatRecord(const Record& r, bool json) {
    if (!json) return r.human;
    nlohmann::ordered_json o;
    o["type"] = r.type;
    for (const auto& [k, v] : r.fields) {
        nlohmann::ordered_json value = nlohmann::ordered_json::parse(v, nullptr, false);
        // A value that is not JSON is kept as its text.
        o[k] = value.is_discarded() ? nlohmann::ordered_json(v) : std::move(value);
    }
    return o.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Plural(long long n, const char* one, const char* few, const char* many) {
    const long long a = n < 0 ? -n : n;
    const long long tens = a % 100;
    const long long units = a % 10;
    if (tens >= 11 && tens <= 14) return many;
    if (units == 1) return one;
    if (units >= 2 && units <= 4) return few;
    return many;
}

bool Progress::StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

void Progress::Show(const std::string& what, int seconds, int of) {
    if (!terminal_) return;
    const std::string line = what + ": " + std::to_string(seconds) + " с из " + std::to_string(of);
    // Counted in characters, for the padding that wipes a longer line.
    std::size_t width = 0;
    for (char c : line) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    out_ << '\r' << line;
    if (shown_ > width) out_ << std::string(shown_ - width, ' ');
    out_ << std::flush;
    shown_ = std::max(shown_, width);  // the padding is on the line too
}

void Progress::Clear() {
    if (!terminal_ || shown_ == 0) return;
    out_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
    shown_ = 0;
}

Runner::Runner(Session& session, std::string port, std::function<void(const Record&)> out,
               Progress* progress)
    : session_(session), port_(std::move(port)), out_(std::move(out)), progress_(progress) {
    if (progress_ == nullptr) {
        ownProgress_ = std::make_unique<Progress>(std::cerr, Progress::StderrIsTerminal());
        progress_ = ownProgress_.get();
    }
}

std::function<void(std::uint64_t)> Runner::ProgressOf(const std::string& what, std::uint64_t start,
                                                      int ticks) {
    return [this, what, start, ticks](std::uint64_t tick) {
        const auto passed = static_cast<int>(tick > start ? tick - start : 0);
        progress_->Show(what, std::min(passed, ticks) / kTicksPerSecond,
                        (ticks + kTicksPerSecond - 1) / kTicksPerSecond);
    };
}

Outcome Runner::Open() {
    const View v = session_.Latest();
    const Control* timer = v.Find("TMRComm");
    if (timer != nullptr && timer->enabled) return {};
    const Control* list = v.Find("CmbPort");
    if (list == nullptr) return Fail(kPortFailed, "окно не готово");
    const auto it = std::find(list->list.begin(), list->list.end(), port_);
    if (it == list->list.end()) return Fail(kRefused, "нет порта " + port_ + " в списке окна");
    // A line the engine already tries again is waited for, not opened: a
    // press now would only show the failure boxes once more.
    if (v.waitingFor != port_) {
        session_.PostPickAndOpen(static_cast<int>(it - list->list.begin()));
        const View after = session_.Latest();
        const Control* opened = after.Find("TMRComm");
        if (opened != nullptr && opened->enabled) return {};
        if (after.waitingFor != port_) {
            std::string text = "порт " + port_ + " не открылся";
            if (!after.openError.empty()) text += ": " + after.openError;
            std::cerr << text << std::endl;
            return Fail(kPortFailed, text);
        }
    }
    // --reconnect: the engine opens it through the window once it is back.
    if (session_.WaitOpen(std::chrono::milliseconds(500) * lineTicks_)) return {};
    std::string text = "линия " + port_ + " не вернулась за " +
                       std::to_string(lineTicks_ / kTicksPerSecond) + " с";
    const View last = session_.Latest();
    const std::string& why = last.lastTry.empty() ? last.openError : last.lastTry;
    if (!why.empty()) text += ": " + why;
    std::cerr << text << std::endl;
    return Fail(kPortFailed, text);
}

std::optional<Outcome> Runner::Refused(const Session::Done& d, const std::string& what) {
    for (const ShownBox& b : d.boxes) {
        if (b.request.kind == engine::BoxRequest::Kind::Message &&
            b.request.buttons == MsgButtons::Ok)
            return Fail(kRefused, what + ": окно отказало: " + b.request.text);
    }
    if (!d.handled) return Fail(kRefused, what + ": окно не приняло действие");
    if (d.pending.empty()) return Fail(kRefused, what + ": окно ничего не отправит");
    return std::nullopt;
}

std::optional<Outcome> Runner::WaitSent(const Session::Done& d, std::uint64_t* from,
                                        std::uint64_t after, const std::string& what, Sent* sent) {
    if (auto refused = Refused(d, what)) return refused;
    const std::optional<Heard> write =
        session_.WaitEvent(from, after, kSendTicks, [&d](const BusEvent& e) {
            return (e.kind == EvKind::Tx || e.kind == EvKind::WriteFailed) && e.bytes == d.pending;
        });
    if (!write) return Fail(kNoAnswer, what + ": кадр не ушёл за " + Ticks(kSendTicks));
    if (write->event.kind == EvKind::WriteFailed)
        return Fail(kNoAnswer, what + ": кадр не записан в порт");
    sent->tick = write->tick;
    sent->command = 0;
    // A frame still pending may have gone out in front of this one: the
    // command is the last changing frame of the write.
    Bytes frame;
    for (const Bytes& f : engine::SplitRequests(d.pending)) {
        if (engine::ChangesDevice(f)) frame = f;
    }
    if (frame.empty()) return std::nullopt;
    // The engine numbers the command in the same batch as the write.
    const std::optional<Heard> command = session_.WaitEvent(
        from, write->tick, 0,
        [&frame](const BusEvent& e) { return e.kind == EvKind::Command && e.bytes == frame; });
    if (!command) return Fail(kNoAnswer, what + ": команда не ушла");
    sent->command = command->event.id;
    return std::nullopt;
}

Outcome Runner::Confirmed(const Sent& sent, std::uint64_t* from, const std::string& what,
                          BusEvent* result) {
    const std::optional<Heard> decided = session_.WaitEvent(
        from, sent.tick, kReplyTicks,
        [&sent](const BusEvent& e) { return e.kind == EvKind::Result && e.id == sent.command; },
        ProgressOf("жду подтверждения", sent.tick, kReplyTicks));
    progress_->Clear();
    if (!decided)
        return Fail(kNoAnswer, what + ": нет ответа за " + Ticks(kReplyTicks) + " после отправки");
    if (!decided->event.ok)
        return Fail(kNoAnswer, what + ": устройство не подтвердило: " + decided->event.text);
    if (result != nullptr) *result = decided->event;
    return {};
}

Outcome Runner::SendAndConfirm(const Session::Done& d, std::uint64_t from, std::uint64_t before,
                               const std::string& what, BusEvent* result) {
    Sent sent;
    if (auto o = WaitSent(d, &from, std::max(before, d.tick), what, &sent)) return *o;
    return Confirmed(sent, &from, what, result);
}

Outcome Runner::Survey(bool report) {
    if (Outcome o = Open(); o.exit != kDone) return o;
    std::uint64_t from = session_.Mark();
    const std::uint64_t before = session_.Latest().tick;
    const Session::Done d = session_.Click("Opros");
    BusEvent result;
    if (Outcome o = SendAndConfirm(d, from, before, "опрос сети", &result); o.exit != kDone) {
        if (o.exit != kNoAnswer) return o;
        return Fail(kNoAnswer, "опрос сети: ни одно устройство не ответило (" + o.text + ")");
    }
    std::string json = "[";
    std::string human;
    for (std::uint8_t a : result.heard.addresses) {
        json += (json.size() > 1 ? "," : "") + std::to_string(a);
        human += (human.empty() ? "" : " ") + std::to_string(a);
    }
    if (report) Emit({"survey", {{"addresses", json + "]"}}, "найдены адреса: " + human});
    return {kDone, "найдены адреса: " + human};
}

Outcome Runner::Select(const std::string& address) {
    if (Outcome o = Open(); o.exit != kDone) return o;
    const auto listed = [&] {
        // The view holds the controls: a snapshot published meanwhile must
        // not free them while they are read.
        const View view = session_.Latest();
        const Control* net = view.Find("CmbNet");
        const auto it = std::find(net->list.begin(), net->list.end(), address);
        return it == net->list.end() ? -1 : static_cast<int>(it - net->list.begin());
    };
    int index = listed();
    if (index < 0) {
        if (Outcome o = Survey(false); o.exit != kDone) return o;
        index = listed();
        if (index < 0)
            return Fail(kNoAnswer, "устройство " + address + " не ответило на опрос сети");
    }
    const auto device = static_cast<std::uint8_t>(std::stoi(address));
    std::uint64_t from = session_.Mark();
    const View now = session_.Latest();
    if (now.Find("CmbNet")->listIndex == index) {
        // Selected and answering: the exchange asks it every tick anyway, and
        // waiting for one more answer would only spend ticks (and could use up
        // the tag ping the next command waits for).
        const std::optional<std::uint64_t> answered = session_.Facts(device).answeredTick;
        if (answered && *answered + kAnsweringTicks >= now.tick) return {};
    } else {
        session_.Pick("CmbNet", index);
    }
    const std::uint64_t before = now.tick;
    // A new selection asks for the serial number first; either way the device
    // must answer something within the wait.
    const std::optional<Heard> alive =
        session_.WaitEvent(&from, before, kSendTicks + kReplyTicks,
                           [device](const BusEvent& e) { return FramedFrom(e, device); });
    if (!alive)
        return Fail(kNoAnswer,
                    "устройство " + address + " не отвечает " + Ticks(kSendTicks + kReplyTicks));
    return {};
}

Outcome Runner::Show(const Step& s) {
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    const auto device = static_cast<std::uint8_t>(std::stoi(s.address));
    const int wanted = s.count.value_or(s.seconds ? 0 : 1);
    const int ticks = s.seconds ? *s.seconds * kTicksPerSecond : wanted * kReadingTicks;
    const std::uint64_t start = session_.Latest().tick;
    std::uint64_t from = session_.Mark();
    int readings = 0;
    const auto progress = ProgressOf("показания устройства " + s.address, start, ticks);
    while (s.seconds || readings < wanted) {
        const std::optional<Heard> h = session_.WaitEvent(
            &from, start, ticks,
            [device](const BusEvent& e) {
                // A reading the window took: framed, from the device, a good CRC.
                return e.kind == EvKind::Rx && e.heard.what == What::Reading && e.heard.crcGood &&
                       e.heard.address == device;
            },
            progress);
        if (!h) break;
        const proto::ReaderReading& r = h->event.heard.reading;
        if (readings == 0) {
            const DeviceFacts f = session_.Facts(device);
            Emit({"device",
                  {{"address", s.address},
                   {"serial", Number(f.serial)},
                   {"version", JsonString(f.version)},
                   {"mode", ModeJson(f.mode)}},
                  "устройство " + s.address + ": серийный номер " + Shown(f.serial) + ", версия " +
                      f.version + ", режим " + ModeHuman(f.mode)});
        }
        ++readings;
        const std::string temperature =
            r.temperature ? std::to_string(*r.temperature) + " °C" : "—";
        Emit({"reading",
              {{"address", s.address},
               {"level", Number(Wide(r.level))},
               {"temperature", Number(r.temperature)},
               {"current", Number(r.current)},
               {"empty", Number(r.empty)},
               {"full", Number(r.full)},
               {"k", Number(Wide(r.k))}},
              "уровень " + Shown(Wide(r.level)) + ", температура " + temperature + ", текущий " +
                  Shown(r.current) + ", пустой " + Shown(r.empty) + ", полный " + Shown(r.full) +
                  ", K " + Shown(Wide(r.k))});
    }
    progress_->Clear();
    if (readings == 0 || readings < wanted)
        return Fail(kNoAnswer, "показания устройства " + s.address + ": получено " +
                                   std::to_string(readings) + " из " +
                                   std::to_string(std::max(wanted, 1)));
    return {kDone, "получено показаний: " + std::to_string(readings)};
}

Outcome Runner::SetAddress(const Step& s) {
    const std::string what = "сетевой адрес " + s.address + " -> " + s.value;
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    const std::uint64_t from = session_.Mark();
    const std::uint64_t before = session_.Latest().tick;
    session_.AnswerInput(s.value);
    const Session::Done d = session_.Click("net");
    if (Outcome o = SendAndConfirm(d, from, before, what); o.exit != kDone) return o;
    return {kDone, what + " подтверждён"};
}

Outcome Runner::SetMode(const Step& s) {
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    const Role* role = nullptr;
    for (const Role& r : kRoles) {
        if (s.value == r.word) role = &r;
    }
    const View now = session_.Click(role->option).after;
    // The flags are toggles, shown only with the bridge role.
    if (Checked(now, "iinv") != s.invert) session_.Click("iinv");
    if (Checked(now, "usredn") != s.average) session_.Click("usredn");
    const std::uint64_t from = session_.Mark();
    const std::uint64_t before = session_.Latest().tick;
    const Session::Done d = session_.Click("Set_mode");
    const std::string what = "режим устройства " + s.address;
    BusEvent result;
    if (Outcome o = SendAndConfirm(d, from, before, what, &result); o.exit != kDone) return o;
    // The confirmation carries the mode the device took.
    const std::optional<std::uint8_t> took = result.heard.mode;
    const proto::ModeParts m = proto::SplitMode(took.value_or(0));
    if (!took || RoleOf(took) != role || m.master != s.invert || m.frequency != s.average)
        return Fail(kNoAnswer, what + ": устройство подтвердило другой режим: " + ModeHuman(took));
    return {kDone, what + ": " + ModeHuman(took)};
}

Outcome Runner::Calibrate(const Step& s) {
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    const bool high = s.value == "high";
    const std::uint64_t from = session_.Mark();
    const std::uint64_t before = session_.Latest().tick;
    // The window asks first; without --yes the answer is No.
    session_.AnswerQuestion(s.yes);
    const Session::Done d = session_.Click(high ? "hig" : "low");
    const std::string what =
        std::string(high ? "верхний" : "нижний") + " уровень устройства " + s.address;
    if (!s.yes) return Fail(kRefused, what + ": не подтверждено, нужен --yes");
    if (Outcome o = SendAndConfirm(d, from, before, what); o.exit != kDone) return o;
    return {kDone, what + " установлен"};
}

std::optional<Session::Done> Runner::WhenTagHeard(
    const std::string& idText, const std::vector<std::pair<std::string, std::string>>& texts,
    const std::string& control, std::uint64_t* from, std::uint64_t* before,
    const std::optional<std::string>& input) {
    const std::uint64_t start = session_.Latest().tick;
    // A ping already heard in this tick counts: the guard below still asks
    // that it be the last tag reply the window decoded.
    std::uint64_t mark = session_.MarkOfTick(start);
    const auto progress = ProgressOf("жду метку " + idText, start, kTagTicks);
    while (true) {
        const std::optional<Heard> heard = session_.WaitEvent(
            &mark, start, kTagTicks,
            [&idText](const BusEvent& e) { return HeardTag(e, What::TagPing, idText); }, progress);
        if (!heard) {
            progress_->Clear();
            return std::nullopt;
        }
        *from = session_.Mark();
        *before = session_.Latest().tick;
        if (input) session_.AnswerInput(*input);
        // The last decoded tag reply must be this tag's ping: the write names
        // the tag by the serial number that ping showed.
        Session::Guarded g = session_.ClickWhen(
            [idText](const frmSerial& f) {
                return f.outID.caption == idText && f.textOutCmd.caption == "E0";
            },
            texts, control);
        if (g.clicked) {
            progress_->Clear();
            return g.done;
        }
    }
}

Outcome Runner::SetSerial(const Step& s, const std::string& tagText) {
    std::uint64_t from = 0;
    std::uint64_t before = 0;
    const std::optional<Session::Done> d =
        WhenTagHeard(tagText, {}, "InstSN", &from, &before, s.value);
    const std::string what = "серийный номер метки " + tagText;
    if (!d) return Fail(kNoAnswer, what + ": метку не слышно " + Ticks(kTagTicks));
    Sent sent;
    if (auto o = WaitSent(*d, &from, std::max(before, d->tick), what, &sent)) return *o;
    if (Outcome o = Confirmed(sent, &from, what); o.exit != kDone) return o;
    // The tag's next ping must carry the number.
    const std::uint32_t number = ReadTagNumber(s.value).value_or(0);
    const std::uint64_t start = session_.Latest().tick;
    const std::optional<Heard> ping = session_.WaitEvent(
        &from, start, kTagTicks,
        [&tagText](const BusEvent& e) { return HeardTag(e, What::TagPing, tagText); },
        ProgressOf("жду метку " + tagText, start, kTagTicks));
    progress_->Clear();
    if (!ping) return Fail(kNoAnswer, what + ": метку больше не слышно " + Ticks(kTagTicks));
    if (ping->event.heard.tag.serial != number)
        return Fail(kNoAnswer,
                    what + ": метка сообщает номер " + Shown(ping->event.heard.tag.serial));
    return {kDone, what + " -> " + std::to_string(number) + " подтверждён меткой"};
}

Outcome Runner::SetIdent(const Step& s) {
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    const std::uint64_t from = session_.Mark();
    const std::uint64_t before = session_.Latest().tick;
    session_.AnswerInput(s.value);
    // Typed and clicked in one turn: a tag ping in between could refill the box.
    const Session::Done d =
        session_
            .ClickWhen([](const frmSerial&) { return true; }, {{"ID_Metki", s.tagId}}, "Set_ident")
            .done;
    const std::string what = "идентификатор метки " + s.tagId;
    BusEvent result;
    // The tag named answers with a ping of its own.
    if (Outcome o = SendAndConfirm(d, from, before, what, &result); o.exit != kDone) return o;
    const std::optional<std::uint32_t> asked = HexIdFromRight(s.tagId);
    const proto::TagFields& t = result.heard.tag;
    const std::string answered = t.id ? proto::TagIdShown(*t.id) : std::string("?");
    if (!asked || !t.id || *t.id != *asked)
        return Fail(kNoAnswer, what + ": ответила другая метка " + answered);
    return {kDone, what + " подтверждён меткой, серийный номер " + Shown(t.serial)};
}

Outcome Runner::Tags(const Step& s) {
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    std::uint64_t from = session_.Mark();
    const std::uint64_t before = session_.Latest().tick;
    const Session::Done d = session_.Click("Find_metki");
    const std::string what = "поиск меток через " + s.address;
    Sent sent;
    if (auto o = WaitSent(d, &from, std::max(before, d.tick), what, &sent)) return *o;
    const auto isPing = [](const BusEvent& e) { return HeardTag(e, What::TagPing, ""); };
    const std::optional<Heard> first = session_.WaitEvent(&from, sent.tick, kReplyTicks, isPing);
    if (!first)
        return Fail(kNoAnswer, what + ": нет ответа за " + Ticks(kReplyTicks) +
                                   " после отправки (метки не отвечают)");
    std::vector<std::uint32_t> heard;
    const auto report = [&](const BusEvent& e) {
        const proto::TagFields& t = e.heard.tag;
        if (std::find(heard.begin(), heard.end(), *t.id) != heard.end()) return;
        heard.push_back(*t.id);
        const std::string id = proto::TagIdShown(*t.id);
        Emit({"tag",
              {{"address", s.address},
               {"serial", Number(t.serial)},
               {"id", JsonString(id)},
               {"level", Number(t.level)}},
              "метка " + id + ": серийный номер " + Shown(t.serial) + ", уровень приёма " +
                  Shown(t.level)});
    };
    report(first->event);
    // Then the tag polls of the exchange, for the rest of the time.
    const int ticks = s.seconds.value_or(5) * kTicksPerSecond;
    const auto progress = ProgressOf("слушаю метки", first->tick, ticks);
    while (const std::optional<Heard> more =
               session_.WaitEvent(&from, first->tick, ticks, isPing, progress))
        report(more->event);
    progress_->Clear();
    return {kDone, "услышано меток: " + std::to_string(heard.size())};
}

Outcome Runner::ReadTag(const Step& s, proto::TagFields* read) {
    std::string refusal;
    const auto tagText = TagText(s.tagId, &refusal);
    if (!tagText) return Refuse("метка " + s.tagId, refusal);
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    std::uint64_t from = 0;
    std::uint64_t before = 0;
    const std::optional<Session::Done> d =
        WhenTagHeard(*tagText, {}, "ReadParamMetki", &from, &before, std::nullopt);
    const std::string what = "параметры метки " + *tagText;
    if (!d) return Fail(kNoAnswer, what + ": метку не слышно " + Ticks(kTagTicks));
    Sent sent;
    if (auto o = WaitSent(*d, &from, std::max(before, d->tick), what, &sent)) return *o;
    const std::optional<Heard> data =
        session_.WaitEvent(&from, sent.tick, kReplyTicks,
                           [](const BusEvent& e) { return HeardTag(e, What::TagData, ""); });
    if (!data)
        return Fail(kNoAnswer, what + ": нет ответа за " + Ticks(kReplyTicks) + " после отправки");
    const proto::TagFields& t = data->event.heard.tag;
    const std::string id = proto::TagIdShown(*t.id);
    if (id != *tagText) return Fail(kNoAnswer, what + ": ответила другая метка " + id);
    if (read != nullptr) {
        *read = t;
        return {};
    }
    const std::string version = t.version ? VersionText(*t.version) : std::string();
    Emit({"tagParams",
          {{"address", s.address},
           {"serial", Number(t.serial)},
           {"id", JsonString(id)},
           {"interval", Number(Wide(t.interval))},
           {"mode", Number(Wide(t.mode))},
           {"power", Number(Wide(t.power))},
           {"sleep", Number(Wide(t.sleep))},
           {"version", JsonString(version)},
           {"level", Number(t.level)}},
          "метка " + id + ": серийный номер " + Shown(t.serial) + ", интервал " +
              Shown(Wide(t.interval)) + ", режим " + Shown(Wide(t.mode)) + ", мощность " +
              Shown(Wide(t.power)) + ", период " + Shown(Wide(t.sleep)) + ", версия " + version +
              ", уровень приёма " + Shown(t.level)});
    return {kDone, what + " считаны"};
}

Outcome Runner::WriteTag(const Step& s) {
    proto::TagFields read;
    if (Outcome o = ReadTag(s, &read); o.exit != kDone) return o;
    std::string refusal;
    const std::string tagText = *TagText(s.tagId, &refusal);
    const auto text = [](const std::optional<std::uint32_t>& v) {
        return v ? std::to_string(*v) : std::string();
    };
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"ID_Metki", s.newId.value_or(read.id ? proto::TagIdShown(*read.id) : std::string())},
        {"IntervalMetki", s.interval.value_or(text(Wide(read.interval)))},
        {"ModeMetki", s.mode.value_or(text(Wide(read.mode)))},
        {"PowerMetki", s.power.value_or(text(Wide(read.power)))},
        {"sleep_time", s.sleep.value_or(text(Wide(read.sleep)))},
    };
    std::uint64_t from = 0;
    std::uint64_t before = 0;
    const std::optional<Session::Done> d =
        WhenTagHeard(tagText, texts, "SetModesMetki", &from, &before, std::nullopt);
    const std::string what = "запись параметров метки " + tagText;
    if (!d) return Fail(kNoAnswer, what + ": метку не слышно " + Ticks(kTagTicks));
    if (Outcome o = SendAndConfirm(*d, from, before, what); o.exit != kDone) return o;
    if (!s.serial) return {kDone, what + " подтверждена"};
    // The serial number is not part of the write: the window sets it apart,
    // naming the tag by the identifier it now has.
    Step serial = s;
    serial.value = *s.serial;
    std::string nowText = tagText;
    if (s.newId) {
        const auto t = TagText(*s.newId, &refusal);
        if (!t) return Fail(kRefused, what + ": " + refusal);
        nowText = *t;
    }
    Outcome o = SetSerial(serial, nowText);
    if (o.exit != kDone) return o;
    return {kDone, what + " подтверждена; " + o.text};
}

std::optional<Outcome> Runner::Precheck(const Step& s) {
    std::string refusal;
    switch (s.verb) {
        case Verb::SetAddress:
            if (!s.value.empty() && !ReadNetAddress(s.value))
                return Refuse("сетевой адрес " + s.address + " -> " + s.value, msg::kRange200);
            break;
        case Verb::SetSerial:
            if (!TagText(s.tagId, &refusal)) return Refuse("метка " + s.tagId, refusal);
            if (!s.value.empty() && !ReadTagNumber(s.value))
                return Refuse("серийный номер метки " + s.tagId, msg::kRange2M);
            break;
        case Verb::SetIdent:
            // The number is asked first, then the identifier is read.
            if (!s.value.empty() && (!ReadTagNumber(s.value) || !HexIdFromRight(s.tagId)))
                return Refuse("идентификатор метки " + s.tagId, msg::kRange2M);
            break;
        case Verb::WriteTag: {
            if (!TagText(s.tagId, &refusal)) return Refuse("метка " + s.tagId, refusal);
            // What is not given keeps the tag's value, which the window takes as
            // it reads it; only the given values can fail here.
            const char* message = nullptr;
            if (!ReadTagParams({"0", s.mode.value_or("0"), s.interval.value_or("1"),
                                s.power.value_or("3"), s.newId.value_or(""), s.sleep.value_or("0")},
                               &message) &&
                message != nullptr)
                return Refuse("запись параметров метки " + s.tagId, message);
            if (s.serial && !ReadTagNumber(*s.serial))
                return Refuse("серийный номер метки " + s.tagId, msg::kRange2M);
            break;
        }
        default:
            break;
    }
    return std::nullopt;
}

Outcome Runner::Run(const Step& step) {
    if (auto refused = Precheck(step)) return *refused;
    switch (step.verb) {
        case Verb::Survey:
            return Survey(true);
        case Verb::Show:
            return Show(step);
        case Verb::SetAddress:
            return SetAddress(step);
        case Verb::SetMode:
            return SetMode(step);
        case Verb::Calibrate:
            return Calibrate(step);
        case Verb::SetSerial: {
            std::string refusal;
            const auto tagText = TagText(step.tagId, &refusal);
            if (!tagText) return Refuse("метка " + step.tagId, refusal);
            if (Outcome o = Select(step.address); o.exit != kDone) return o;
            return SetSerial(step, *tagText);
        }
        case Verb::SetIdent:
            return SetIdent(step);
        case Verb::Tags:
            return Tags(step);
        case Verb::ReadTag:
            return ReadTag(step, nullptr);
        case Verb::WriteTag:
            return WriteTag(step);
        case Verb::Run:
            return Fail(kRefused, "run внутри плана не допускается");
        case Verb::Inventory:
            return Inventory(step);
        case Verb::Verify:
            return Verify(step);
        case Verb::Apply:
            return Apply(step);
        case Verb::Report:
            return RunReport(step);
    }
    return Fail(kRefused, "неизвестная команда");
}

Outcome Runner::RunPlan(const std::vector<Step>& steps, bool keepGoing) {
    Outcome first;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Outcome o = Run(steps[i]);
        const std::string n = std::to_string(i + 1) + "/" + std::to_string(steps.size());
        Emit({"step",
              {{"step", std::to_string(i + 1)},
               {"command", JsonString(steps[i].text)},
               {"exit", std::to_string(o.exit)},
               {"ok", o.exit == kDone ? "true" : "false"},
               {"text", JsonString(o.text)}},
              "шаг " + n + " [" + steps[i].text +
                  "]: " + (o.exit == kDone ? "готово" : "ошибка " + std::to_string(o.exit)) + ": " +
                  o.text});
        if (o.exit != kDone && first.exit == kDone) first = o;
        // A port that does not open fails every later step the same way.
        if (o.exit != kDone && (!keepGoing || o.exit == kPortFailed)) return o;
    }
    if (first.exit != kDone) return first;
    return {kDone, "выполнено шагов: " + std::to_string(steps.size())};
}

}  // namespace busdesk::cli
