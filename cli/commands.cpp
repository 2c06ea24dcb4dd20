#include "cli/commands.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <utility>

#include "app/frmSerial.h"
#include "app/numbers.h"
#include "protocol/commands.h"
#include "protocol/text.h"

namespace busdesk::cli {

namespace {

const char* const kSurveyDone = "Произошел опрос сети.";
const char* const kPing = "Был ПИНГ.";
const char* const kTagRead = "Считаны данные.";
const char* const kTagWritten = "Установка параметров метки.";

Outcome Fail(int exit, std::string text) {
    return {exit, std::move(text)};
}

std::string Hex(std::uint8_t b) {
    return HexText(b);
}

std::string Ticks(int n) {
    return std::to_string(n) + " такт(а/ов) по 500 мс";
}

// The first reply of a reception, as the receive dump shows it, is framed and
// comes from `address` with `code`.
bool FramedFrom(const View& v, const std::string& address, const std::string& code) {
    const std::vector<std::string> d = v.Dump();
    return d.size() >= 4 && d[0] == "3E" && (address.empty() || d[1] == address) &&
           (code.empty() || d[2] == code);
}

// The dump ends with the CRC the tool computed; equal to the last byte
// received means the reader data reply was decoded, not dropped.
bool CrcMatches(const View& v) {
    const std::vector<std::string> d = v.Dump();
    return d.size() >= 2 && d[d.size() - 1] == d[d.size() - 2];
}

bool Checked(const View& v, const std::string& name) {
    const Control* c = v.Find(name);
    return c != nullptr && c->value != 0;
}

struct Role {
    const char* word;
    const char* option;
    const char* label;  // the caption beside it
};
constexpr Role kRoles[] = {
    {"reader", "R_a", "Считыватель"},   {"reader-indicator", "R_f", "Считыватель-индикатор"},
    {"tag", "R_p485", "Метка"},         {"bridge", "R485", "Мост"},
    {"repeater", "R_p", "Повторитель"},
};

const Role* ShownRole(const View& v) {
    for (const Role& r : kRoles) {
        if (Checked(v, r.option)) return &r;
    }
    return nullptr;
}

std::string ModeJson(const View& v) {
    const Role* r = ShownRole(v);
    return std::string("{\"role\":") + JsonString(r ? r->word : "") +
           ",\"name\":" + JsonString(r ? r->label : "") +
           ",\"master\":" + (Checked(v, "iinv") ? "true" : "false") +
           ",\"frequency\":" + (Checked(v, "usredn") ? "true" : "false") + "}";
}

std::string ModeHuman(const View& v) {
    const Role* r = ShownRole(v);
    std::string s = r ? r->label : "?";
    if (Checked(v, "iinv")) s += ", Мастер";
    if (Checked(v, "usredn")) s += ", Частотный выход";
    return s;
}

std::string Temperature(const std::string& shown) {
    const std::size_t space = shown.find(' ');
    return JsonNumber(shown.substr(0, space));
}

// The window's text of a tag identifier typed on the command line, or the
// window's message when it would refuse it.
std::optional<std::string> TagText(const std::string& typed, std::string* refusal) {
    const HexIdCheck check = CheckHexId(typed);
    if (check != HexIdCheck::Ok) {
        // The message the window gives for an identifier it cannot read.
        *refusal = HexIdMessage(check);
        std::cerr << *refusal << std::endl;
        return std::nullopt;
    }
    const auto id = HexIdFromRight(typed);
    if (!id) {
        *refusal = HexIdMessage(HexIdCheck::NotHex);
        return std::nullopt;
    }
    return IdText(static_cast<std::uint8_t>(*id >> 24), static_cast<std::uint8_t>(*id >> 16),
                  static_cast<std::uint8_t>(*id >> 8), static_cast<std::uint8_t>(*id));
}

}  // namespace

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char ch : s) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
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
    std::string s = "{\"type\":" + JsonString(r.type);
    for (const auto& [k, v] : r.fields) s += "," + JsonString(k) + ":" + v;
    return s + "}";
}

Runner::Runner(Session& session, std::string port, std::function<void(const Record&)> out)
    : session_(session), port_(std::move(port)), out_(std::move(out)) {}

Outcome Runner::Open() {
    const View v = session_.Latest();
    const Control* timer = v.Find("TMRComm");
    if (timer != nullptr && timer->enabled) return {};
    const Control* list = v.Find("CmbPort");
    if (list == nullptr) return Fail(kPortFailed, "окно не готово");
    const auto it = std::find(list->list.begin(), list->list.end(), port_);
    if (it == list->list.end()) return Fail(kRefused, "нет порта " + port_ + " в списке окна");
    session_.PostPickAndOpen(static_cast<int>(it - list->list.begin()));
    const Control* opened = session_.Latest().Find("TMRComm");
    if (opened == nullptr || !opened->enabled)
        return Fail(kPortFailed, "порт " + port_ + " не открылся");
    return {};
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

std::optional<View> Runner::Sent(const std::vector<std::uint8_t>& frame, std::uint64_t after) {
    const std::string shown = HexDump(frame, "_");
    return session_.WaitTicks(after, kSendTicks,
                              [&](const View& v) { return v.Text("CmdBoxText") == shown; });
}

Outcome Runner::Confirmed(const View& sent, std::uint8_t code, const std::string& status,
                          const std::string& what, std::optional<View>* seen) {
    const std::optional<View> reply =
        session_.WaitTicks(sent.tick, kReplyTicks, [](const View& v) { return v.received; });
    if (!reply)
        return Fail(kNoAnswer, what + ": нет ответа за " + Ticks(kReplyTicks) + " после отправки");
    if (seen != nullptr) *seen = reply;
    if (!FramedFrom(*reply, "", Hex(code)) || reply->Text("MsgCom") != status)
        return Fail(kNoAnswer, what + ": устройство не подтвердило; окно показывает \"" +
                                   reply->Text("MsgCom") + "\"");
    return {};
}

Outcome Runner::SendAndConfirm(const Session::Done& d, std::uint64_t before, std::uint8_t code,
                               const std::string& status, const std::string& what,
                               std::optional<View>* seen) {
    if (auto refused = Refused(d, what)) return *refused;
    const std::optional<View> sent = Sent(d.pending, std::max(before, d.tick));
    if (!sent) return Fail(kNoAnswer, what + ": кадр не ушёл за " + Ticks(kSendTicks));
    return Confirmed(*sent, code, status, what, seen);
}

Outcome Runner::Survey(bool report) {
    if (Outcome o = Open(); o.exit != kDone) return o;
    const std::uint64_t before = session_.Latest().tick;
    const Session::Done d = session_.Click("Opros");
    if (auto refused = Refused(d, "опрос сети")) return *refused;
    const std::optional<View> sent = Sent(d.pending, std::max(before, d.tick));
    if (!sent) return Fail(kNoAnswer, "опрос сети: кадр не ушёл за " + Ticks(kSendTicks));
    const std::optional<View> reply =
        session_.WaitTicks(sent->tick, kReplyTicks, [](const View& v) { return v.received; });
    // The survey answer is unframed: its dump has no second part.
    if (!reply || reply->Text("MsgCom") != kSurveyDone ||
        reply->Text("txtRec").find('\r') != std::string::npos)
        return Fail(kNoAnswer,
                    "опрос сети: ни одно устройство не ответило за " + Ticks(kReplyTicks));
    const Control* net = reply->Find("CmbNet");
    std::string json = "[";
    std::string human;
    for (const std::string& a : net->list) {
        json += (json.size() > 1 ? "," : "") + a;
        human += (human.empty() ? "" : " ") + a;
    }
    if (report) Emit({"survey", {{"addresses", json + "]"}}, "найдены адреса: " + human});
    return {kDone, "найдены адреса: " + human};
}

Outcome Runner::Select(const std::string& address) {
    if (Outcome o = Open(); o.exit != kDone) return o;
    const auto listed = [&] {
        const Control* net = session_.Latest().Find("CmbNet");
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
    const std::uint64_t before = session_.Latest().tick;
    if (session_.Latest().Find("CmbNet")->listIndex != index) session_.Pick("CmbNet", index);
    // A new selection asks for the serial number first; either way the device
    // must answer something within the wait.
    const std::string hexAddress = Hex(static_cast<std::uint8_t>(std::stoi(address)));
    const std::optional<View> alive = session_.WaitTicks(
        before, kSendTicks + kReplyTicks,
        [&](const View& v) { return v.received && FramedFrom(v, hexAddress, ""); });
    if (!alive)
        return Fail(kNoAnswer,
                    "устройство " + address + " не отвечает " + Ticks(kSendTicks + kReplyTicks));
    return {};
}

Outcome Runner::Show(const Step& s) {
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    const std::string hexAddress = Hex(static_cast<std::uint8_t>(std::stoi(s.address)));
    const int wanted = s.count.value_or(s.seconds ? 0 : 1);
    const int ticks = s.seconds ? *s.seconds * 2 : wanted * kReadingTicks;
    const std::uint64_t start = session_.Latest().tick;
    int readings = 0;
    std::uint64_t after = start;
    while (s.seconds || readings < wanted) {
        const int left = static_cast<int>(start + static_cast<std::uint64_t>(ticks) - after);
        if (left <= 0) break;
        const std::optional<View> v = session_.WaitTicks(after, left, [&](const View& x) {
            return x.received && FramedFrom(x, hexAddress, Hex(proto::kReaderData)) &&
                   CrcMatches(x);
        });
        if (!v) break;
        after = v->tick;
        if (readings == 0) {
            Emit({"device",
                  {{"address", s.address},
                   {"serial", JsonNumber(v->Text("sn"))},
                   {"version", JsonString(v->Text("vv"))},
                   {"mode", ModeJson(*v)}},
                  "устройство " + s.address + ": серийный номер " + v->Text("sn") + ", версия " +
                      v->Text("vv") + ", режим " + ModeHuman(*v)});
        }
        ++readings;
        Emit({"reading",
              {{"address", s.address},
               {"level", JsonNumber(v->Text("uroven"))},
               {"temperature", Temperature(v->Text("temp"))},
               {"current", JsonNumber(v->Text("tek"))},
               {"empty", JsonNumber(v->Text("lo"))},
               {"full", JsonNumber(v->Text("hi"))},
               {"k", JsonNumber(v->Text("ko"))}},
              "уровень " + v->Text("uroven") + ", температура " + v->Text("temp") + ", текущий " +
                  v->Text("tek") + ", пустой " + v->Text("lo") + ", полный " + v->Text("hi") +
                  ", K " + v->Text("ko")});
    }
    if (readings == 0 || readings < wanted)
        return Fail(kNoAnswer, "показания устройства " + s.address + ": получено " +
                                   std::to_string(readings) + " из " +
                                   std::to_string(std::max(wanted, 1)));
    return {kDone, "получено показаний: " + std::to_string(readings)};
}

Outcome Runner::SetAddress(const Step& s) {
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    const std::uint64_t before = session_.Latest().tick;
    session_.AnswerInput(s.value);
    const Session::Done d = session_.Click("net");
    const std::string what = "сетевой адрес " + s.address + " -> " + s.value;
    if (Outcome o =
            SendAndConfirm(d, before, proto::kSetNetAddress, " Установлен сетевой номер.", what);
        o.exit != kDone)
        return o;
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
    const std::uint64_t before = session_.Latest().tick;
    const Session::Done d = session_.Click("Set_mode");
    const std::string what = "режим устройства " + s.address;
    std::optional<View> seen;
    if (Outcome o =
            SendAndConfirm(d, before, proto::kSetMode, " Установлен новый режим.", what, &seen);
        o.exit != kDone)
        return o;
    // The confirmation carries the mode the device took; the window shows it.
    const Role* shown = ShownRole(*seen);
    if (shown != role || Checked(*seen, "iinv") != s.invert ||
        Checked(*seen, "usredn") != s.average)
        return Fail(kNoAnswer, what + ": устройство подтвердило другой режим: " + ModeHuman(*seen));
    return {kDone, what + ": " + ModeHuman(*seen)};
}

Outcome Runner::Calibrate(const Step& s) {
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    const bool high = s.value == "high";
    const std::uint64_t before = session_.Latest().tick;
    // The window asks first; without --yes the answer is No.
    session_.AnswerQuestion(s.yes);
    const Session::Done d = session_.Click(high ? "hig" : "low");
    const std::string what =
        std::string(high ? "верхний" : "нижний") + " уровень устройства " + s.address;
    if (!s.yes) return Fail(kRefused, what + ": не подтверждено, нужен --yes");
    if (Outcome o = SendAndConfirm(
            d, before, high ? proto::kSetUpperLevel : proto::kSetLowerLevel,
            high ? " Установлен верхний уровень." : " Установлен нижний уровень.", what);
        o.exit != kDone)
        return o;
    return {kDone, what + " установлен"};
}

std::optional<Session::Done> Runner::WhenTagHeard(
    const std::string& idText, const std::vector<std::pair<std::string, std::string>>& texts,
    const std::string& control, std::uint64_t* before, const std::optional<std::string>& input) {
    const std::uint64_t start = session_.Latest().tick;
    std::uint64_t after = start;
    while (after < start + kTagTicks) {
        const std::optional<View> heard = session_.WaitTicks(
            after, static_cast<int>(start + kTagTicks - after), [&](const View& v) {
                return v.received && FramedFrom(v, "", Hex(proto::kTagPing)) &&
                       v.Text("outID") == idText;
            });
        if (!heard) return std::nullopt;
        after = heard->tick;
        *before = session_.Latest().tick;
        if (input) session_.AnswerInput(*input);
        // The last decoded tag reply must be this tag's ping: the write names
        // the tag by the serial number that ping showed.
        Session::Guarded g = session_.ClickWhen(
            [idText](const frmSerial& f) {
                return f.outID.caption == idText && f.textOutCmd.caption == "E0";
            },
            texts, control);
        if (g.clicked) return g.done;
    }
    return std::nullopt;
}

Outcome Runner::SetSerial(const Step& s, const std::string& tagText) {
    std::uint64_t before = 0;
    const std::optional<Session::Done> d = WhenTagHeard(tagText, {}, "InstSN", &before, s.value);
    const std::string what = "серийный номер метки " + tagText;
    if (!d) return Fail(kNoAnswer, what + ": метку не слышно " + Ticks(kTagTicks));
    // The reply to the serial number has no status of its own: the window
    // takes it as an unknown reply. The tag's next ping must show the number.
    if (auto refused = Refused(*d, what)) return *refused;
    const std::optional<View> sent = Sent(d->pending, std::max(before, d->tick));
    if (!sent) return Fail(kNoAnswer, what + ": кадр не ушёл за " + Ticks(kSendTicks));
    const std::optional<View> reply =
        session_.WaitTicks(sent->tick, kReplyTicks, [](const View& v) { return v.received; });
    if (!reply || !FramedFrom(*reply, "", Hex(proto::kTagSerial)))
        return Fail(kNoAnswer, what + ": нет ответа за " + Ticks(kReplyTicks));
    const std::string number = std::to_string(ReadDecimal(s.value).value_or(-1));
    const std::optional<View> ping = session_.WaitTicks(reply->tick, kTagTicks, [&](const View& v) {
        return v.received && FramedFrom(v, "", Hex(proto::kTagPing)) && v.Text("outID") == tagText;
    });
    if (!ping) return Fail(kNoAnswer, what + ": метку больше не слышно " + Ticks(kTagTicks));
    if (ping->Text("SerNumMetki") != number)
        return Fail(kNoAnswer, what + ": метка сообщает номер " + ping->Text("SerNumMetki"));
    return {kDone, what + " -> " + number + " подтверждён меткой"};
}

Outcome Runner::SetIdent(const Step& s) {
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    const std::uint64_t before = session_.Latest().tick;
    session_.AnswerInput(s.value);
    // Typed and clicked in one turn: a tag ping in between could refill the box.
    const Session::Done d =
        session_
            .ClickWhen([](const frmSerial&) { return true; }, {{"ID_Metki", s.tagId}}, "Set_ident")
            .done;
    const std::string what = "идентификатор метки " + s.tagId;
    std::optional<View> seen;
    // The tag named answers with a ping of its own.
    if (Outcome o = SendAndConfirm(d, before, proto::kTagPing, kPing, what, &seen); o.exit != kDone)
        return o;
    std::string refusal;
    const auto text = TagText(s.tagId, &refusal);
    if (!text || seen->Text("outID") != *text)
        return Fail(kNoAnswer, what + ": ответила другая метка " + seen->Text("outID"));
    return {kDone, what + " подтверждён меткой, серийный номер " + seen->Text("SerNumMetki")};
}

Outcome Runner::Tags(const Step& s) {
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    const std::uint64_t before = session_.Latest().tick;
    const Session::Done d = session_.Click("Find_metki");
    std::optional<View> seen;
    const std::string what = "поиск меток через " + s.address;
    if (Outcome o = SendAndConfirm(d, before, proto::kTagPing, kPing, what, &seen); o.exit != kDone)
        return Fail(o.exit, o.text + " (метки не отвечают)");
    std::vector<std::string> heard;
    const auto report = [&](const View& v) {
        const std::string id = v.Text("outID");
        if (std::find(heard.begin(), heard.end(), id) != heard.end()) return;
        heard.push_back(id);
        Emit({"tag",
              {{"address", s.address},
               {"serial", JsonNumber(v.Text("SerNumMetki"))},
               {"id", JsonString(id)},
               {"level", JsonNumber(v.Text("UrPr"))}},
              "метка " + id + ": серийный номер " + v.Text("SerNumMetki") + ", уровень приёма " +
                  v.Text("UrPr")});
    };
    report(*seen);
    // Then the tag polls of the exchange, for the rest of the time.
    session_.WaitTicks(seen->tick, s.seconds.value_or(5) * 2, [&](const View& v) {
        if (v.received && FramedFrom(v, "", Hex(proto::kTagPing)) && v.Text("MsgCom") == kPing)
            report(v);
        return false;
    });
    return {kDone, "услышано меток: " + std::to_string(heard.size())};
}

Outcome Runner::ReadTag(const Step& s, std::map<std::string, std::string>* read) {
    std::string refusal;
    const auto tagText = TagText(s.tagId, &refusal);
    if (!tagText) return Fail(kRefused, "метка " + s.tagId + ": " + refusal);
    if (Outcome o = Select(s.address); o.exit != kDone) return o;
    std::uint64_t before = 0;
    const std::optional<Session::Done> d =
        WhenTagHeard(*tagText, {}, "ReadParamMetki", &before, std::nullopt);
    const std::string what = "параметры метки " + *tagText;
    if (!d) return Fail(kNoAnswer, what + ": метку не слышно " + Ticks(kTagTicks));
    std::optional<View> seen;
    if (Outcome o = SendAndConfirm(*d, before, proto::kTagRead, kTagRead, what, &seen);
        o.exit != kDone)
        return o;
    const View& v = *seen;
    if (v.Text("outID") != *tagText)
        return Fail(kNoAnswer, what + ": ответила другая метка " + v.Text("outID"));
    if (read != nullptr) {
        for (const char* name :
             {"outSN", "ID_Metki", "IntervalMetki", "ModeMetki", "PowerMetki", "sleep_time"})
            (*read)[name] = v.Text(name);
        return {};
    }
    Emit({"tagParams",
          {{"address", s.address},
           {"serial", JsonNumber(v.Text("outSN"))},
           {"id", JsonString(v.Text("outID"))},
           {"interval", JsonNumber(v.Text("IntervalMetki"))},
           {"mode", JsonNumber(v.Text("ModeMetki"))},
           {"power", JsonNumber(v.Text("PowerMetki"))},
           {"sleep", JsonNumber(v.Text("sleep_time"))},
           {"version", JsonString(v.Text("outVer"))},
           {"level", JsonNumber(v.Text("UrPr"))}},
          "метка " + v.Text("outID") + ": серийный номер " + v.Text("outSN") + ", интервал " +
              v.Text("IntervalMetki") + ", режим " + v.Text("ModeMetki") + ", мощность " +
              v.Text("PowerMetki") + ", период " + v.Text("sleep_time") + ", версия " +
              v.Text("outVer") + ", уровень приёма " + v.Text("UrPr")});
    return {kDone, what + " считаны"};
}

Outcome Runner::WriteTag(const Step& s) {
    std::map<std::string, std::string> read;
    if (Outcome o = ReadTag(s, &read); o.exit != kDone) return o;
    std::string refusal;
    const std::string tagText = *TagText(s.tagId, &refusal);
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"ID_Metki", s.newId.value_or(read["ID_Metki"])},
        {"IntervalMetki", s.interval.value_or(read["IntervalMetki"])},
        {"ModeMetki", s.mode.value_or(read["ModeMetki"])},
        {"PowerMetki", s.power.value_or(read["PowerMetki"])},
        {"sleep_time", s.sleep.value_or(read["sleep_time"])},
    };
    std::uint64_t before = 0;
    const std::optional<Session::Done> d =
        WhenTagHeard(tagText, texts, "SetModesMetki", &before, std::nullopt);
    const std::string what = "запись параметров метки " + tagText;
    if (!d) return Fail(kNoAnswer, what + ": метку не слышно " + Ticks(kTagTicks));
    if (Outcome o = SendAndConfirm(*d, before, proto::kTagWrite, kTagWritten, what);
        o.exit != kDone)
        return o;
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

Outcome Runner::Run(const Step& step) {
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
            if (!tagText) return Fail(kRefused, "метка " + step.tagId + ": " + refusal);
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
