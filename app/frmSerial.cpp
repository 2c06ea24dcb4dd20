#include "app/frmSerial.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "app/messages.h"

namespace busdesk {

namespace {

// The one entry point that is not a control.
constexpr std::string_view kWindow = "frmSerial";

constexpr frmSerial::EventBinding kEvents[] = {
    {kWindow, "Load", &frmSerial::Form_Load},
    {"BTNOpenCom", "Click", &frmSerial::BTNOpenCom_Click},
    {"BTNCloseCom", "Click", &frmSerial::BTNCloseCom_Click},
    {"CmbNet", "Change", &frmSerial::CmbNet_Change},
    {"TMRComm", "Timer", &frmSerial::TMRComm_Timer},
    {"Opros", "Click", &frmSerial::Opros_Click},
    {"net", "Click", &frmSerial::net_Click},
    {"InstSN", "Click", &frmSerial::InstSN_Click},
    {"Set_ident", "Click", &frmSerial::Set_ident_Click},
    {"R_a", "Click", &frmSerial::R_a_Click},
    {"R_f", "Click", &frmSerial::R_f_Click},
    {"R_p485", "Click", &frmSerial::R_p485_Click},
    {"R485", "Click", &frmSerial::R485_Click},
    {"R_p", "Click", &frmSerial::R_p_Click},
    {"Set_mode", "Click", &frmSerial::Set_mode_Click},
    {"low", "Click", &frmSerial::low_Click},
    {"hig", "Click", &frmSerial::hig_Click},
    {"Find_metki", "Click", &frmSerial::Find_metki_Click},
    {"ReadParamMetki", "Click", &frmSerial::ReadParamMetki_Click},
    {"SetModesMetki", "Click", &frmSerial::SetModesMetki_Click},
};

// Folds ASCII and basic Cyrillic letters (UTF-8) to lower case, for access keys.
std::string FoldCase(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            continue;
        }
        if (i + 1 < s.size()) {
            const auto d = static_cast<unsigned char>(s[i + 1]);
            const unsigned cp = ((c & 0x1FU) << 6) | (d & 0x3FU);
            unsigned low = cp;
            if (cp >= 0x410 && cp <= 0x42F) low = cp + 0x20;  // А..Я
            if (cp >= 0x400 && cp <= 0x40F) low = cp + 0x50;  // Ѐ..Џ (Ё)
            if ((c & 0xE0U) == 0xC0U) {
                out += static_cast<char>(0xC0U | (low >> 6));
                out += static_cast<char>(0x80U | (low & 0x3FU));
                ++i;
                continue;
            }
        }
        out += static_cast<char>(c);
    }
    return out;
}

Control Make(std::string name, ControlKind kind, std::string container, std::string caption,
             std::string tag, bool enabled) {
    Control c;
    c.name = std::move(name);
    c.kind = kind;
    c.container = std::move(container);
    c.caption = std::move(caption);
    c.tag = std::move(tag);
    c.enabled = enabled;
    return c;
}

}  // namespace

// ---- Control --------------------------------------------------------------------

std::optional<long> Control::GroupCode() const {
    if (tag.empty() || tag.size() > 9) return std::nullopt;
    long v = 0;
    for (char ch : tag) {
        if (ch < '0' || ch > '9') return std::nullopt;
        v = v * 10 + (ch - '0');
    }
    return v;
}

std::string Control::DisplayCaption() const {
    std::string out;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += caption[i];
    }
    return out;
}

std::string Control::AccessKey() const {
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&') continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        const auto lead = static_cast<unsigned char>(caption[i + 1]);
        std::size_t len = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 4;
        return caption.substr(i + 1, len);
    }
    return {};
}

std::optional<std::string> Control::SelectedEntry() const {
    if (listIndex < 0 || static_cast<std::size_t>(listIndex) >= list.size()) return std::nullopt;
    return list[static_cast<std::size_t>(listIndex)];
}

// ---- frmSerial --------------------------------------------------------------------

frmSerial::frmSerial(SerialPort& port, Dialogs& dialogs) : port_(port), dialogs_(dialogs) {
    BuildControls();
}

void frmSerial::BuildControls() {
    using K = ControlKind;
    const std::string w;  // lies directly on the window
    auto add = [this](Control& member, Control design) {
        member = std::move(design);
        controls_.push_back(&member);
        return &member;
    };

    // Port selection and link
    add(CmbPort, Make("CmbPort", K::ComboBox, w, "COM1:", "7", true));
    add(Frame2, Make("Frame2", K::Frame, w, "Comm's", "2", true));
    add(BTNOpenCom, Make("BTNOpenCom", K::CommandButton, "Frame2", "Открыть порт", "2", true));
    add(BTNCloseCom, Make("BTNCloseCom", K::CommandButton, "Frame2", "Закрыть порт", "9", false));
    add(Pic, Make("Pic", K::Shape, w, "", "2", true))->fillColor = lamp::kStart;
    add(TMRComm, Make("TMRComm", K::Timer, w, "", "", false))->interval = 500;

    // Selected device
    add(Label5, Make("Label5", K::Label, w, "Сер. Номер", "9", false))->font = FontStyle::Bold;
    add(sn, Make("sn", K::Label, w, "0", "9", false))->font = FontStyle::BoldLarger;
    add(Label4, Make("Label4", K::Label, w, "Сетевой Адрес", "9", false));
    add(CmbNet, Make("CmbNet", K::ComboBox, w, "0", "9", false))->editable = true;
    add(Label3, Make("Label3", K::Label, w, "Устройства в сети:", "9", false));
    add(netdev, Make("netdev", K::Label, w, "Устройства не определены", "9", false));
    add(ver2, Make("ver2", K::Label, w, "Версия ПО", "9", false));
    add(vv, Make("vv", K::Label, w, "--------------------", "9", false))->font = FontStyle::Bold;
    add(MsgCom, Make("MsgCom", K::Label, w, "", "9", false))->font = FontStyle::BoldLarge;
    Control* bar = add(ProgressBar1, Make("ProgressBar1", K::ProgressBar, w, "", "", true));
    bar->minimum = 0;
    bar->maximum = 1024;
    add(Opros, Make("Opros", K::CommandButton, w, "&Поиск считывателя", "9", false));
    add(Find_metki, Make("Find_metki", K::CommandButton, w, "Поиск метки", "9", false));

    // Frame5: current readings
    add(Frame5, Make("Frame5", K::Frame, w, "Текущие параметры", "9", false));
    add(ur, Make("ur", K::Label, "Frame5", "Уровень", "9", false));
    add(uroven, Make("uroven", K::Label, "Frame5", "нет данных", "9", false))->font =
        FontStyle::Bold;
    add(te, Make("te", K::Label, "Frame5", "Темп-ра", "9", false));
    add(temp, Make("temp", K::Label, "Frame5", "нет данных", "9", false))->font = FontStyle::Bold;
    add(tek_l, Make("tek_l", K::Label, "Frame5", "Текущий", "9", false));
    add(tek, Make("tek", K::Label, "Frame5", "нет данных", "9", false))->font = FontStyle::Bold;

    // Frame4: settings of the selected device
    add(Frame4, Make("Frame4", K::Frame, w, "Установки", "9", false));
    add(l, Make("l", K::Label, "Frame4", "Пустой", "9", false));
    add(lo, Make("lo", K::Label, "Frame4", "нет данных", "9", false));
    add(h, Make("h", K::Label, "Frame4", "ID метки", "9", false));
    add(hi, Make("hi", K::Label, "Frame4", "нет данных", "9", false));
    add(n, Make("n", K::Label, "Frame4", "Сетевой адрес", "9", false));
    add(ne, Make("ne", K::Label, "Frame4", "нет данных", "9", false));
    add(k, Make("k", K::Label, "Frame4", "K", "", true));
    add(ko, Make("ko", K::Label, "Frame4", "0", "9", false));

    // Frame3: device commands; low and hig lie beyond its right edge
    add(Frame3, Make("Frame3", K::Frame, w, "Команды", "9", false));
    add(net, Make("net", K::CommandButton, "Frame3", "Изменить &сетевой адрес", "9", false));
    add(low, Make("low", K::CommandButton, "Frame3", "Уст&ановить  Пустой", "9", false));
    add(hig, Make("hig", K::CommandButton, "Frame3", "Установить Полны&й", "9", false));

    // modes: bare option buttons and check boxes, each named by the label beside it
    add(modes, Make("modes", K::Frame, w, "Режимы считывателя", "9", false));
    add(R_a, Make("R_a", K::OptionButton, "modes", "Option1", "9", false))->value = 1;
    add(R_analog, Make("R_analog", K::Label, "modes", "Считыватель", "9", false));
    add(R_f, Make("R_f", K::OptionButton, "modes", "Option2", "9", false));
    add(R_fr, Make("R_fr", K::Label, "modes", "Считыватель-индикатор", "9", false));
    add(R_p485, Make("R_p485", K::OptionButton, "modes", "Option3", "220", false));
    add(label_metka, Make("цццц", K::Label, "modes", "Метка", "220", false));
    add(R485, Make("R485", K::OptionButton, "modes", "Option3", "9", false));
    add(R_485, Make("R_485", K::Label, "modes", "Мост", "9", false));
    add(R_p, Make("R_p", K::OptionButton, "modes", "Option2", "220", false));
    add(Label2, Make("Label2", K::Label, "modes", "Повторитель", "220", false));
    add(usredn, Make("usredn", K::CheckBox, "modes", "Check1", "9", false));
    add(usred, Make("usred", K::Label, "modes", "Частотный выход", "9", false));
    add(iinv, Make("iinv", K::CheckBox, "modes", "Check1", "9", false));
    add(invers, Make("invers", K::Label, "modes", "Мастер", "9", false));
    add(Set_mode, Make("Set_mode", K::CommandButton, "modes", "&Установить", "9", false));

    // Frame6: tag parameters
    const std::string f6 = "Frame6";
    add(Frame6, Make("Frame6", K::Frame, w, "Параметры метки", "9", false));
    add(Label14, Make("Label14", K::Label, f6, "Сер. Ном.", "9", false));
    add(SerNumMetki, Make("SerNumMetki", K::Label, f6, "0", "9", false));
    add(Label15, Make("Label15", K::Label, f6, "Текущий ID", "9", false));
    add(outID, Make("outID", K::Label, f6, "0", "9", false));
    add(Label9, Make("Label9", K::Label, f6, "ID Метки", "9", false));
    add(ID_Metki, Make("ID_Metki", K::TextBox, f6, "0", "9", false))->toolTip = "0...FFFFFFFF";
    add(Label6, Make("Label6", K::Label, f6, "Режим", "9", false));
    add(ModeMetki, Make("ModeMetki", K::TextBox, f6, "0", "9", false))->toolTip = "1...3";
    add(Label21, Make("Label21", K::Label, f6, "Период", "9", false));
    add(sleep_time, Make("sleep_time", K::TextBox, f6, "0", "9", false))->toolTip = "1...65535";
    add(Label7, Make("Label7", K::Label, f6, "Задержка", "9", false))->toolTip = "1...65535";
    add(IntervalMetki, Make("IntervalMetki", K::TextBox, f6, "0", "9", false))->toolTip =
        "1...65535";
    add(Label8, Make("Label8", K::Label, f6, "Мощность", "9", false));
    add(PowerMetki, Make("PowerMetki", K::TextBox, f6, "0", "9", false))->toolTip = "3...247";
    add(Label20, Make("Label20", K::Label, f6, "Уровень приема", "9", false));
    add(UrPr, Make("UrPr", K::Label, f6, "0", "9", false));
    add(Label18, Make("Label18", K::Label, f6, "Версия ПО", "9", false));
    add(outVer, Make("outVer", K::Label, f6, "---------", "9", false));
    add(ReadParamMetki, Make("ReadParamMetki", K::CommandButton, f6, "Считать", "9", false));
    add(SetModesMetki, Make("SetModesMetki", K::CommandButton, f6, "Установить", "9", false));

    // Service and diagnostic controls, outside the initial client area
    add(Set_ident,
        Make("Set_ident", K::CommandButton, w, "Установка идентификационного Номера", "9", false));
    add(InstSN, Make("InstSN", K::CommandButton, w, "Установка серийного Но&мера", "9", false));
    add(Frame1, Make("Frame1", K::Frame, w, "Commands and Results", "", false));
    add(txtRec, Make("txtRec", K::TextBox, "Frame1", "", "9", true))->multiLine = true;
    add(Label1, Make("Label1", K::Label, "Frame1", "Text Returned:", "", true));
    add(CmdBoxText, Make("CmdBoxText", K::TextBox, w, "Text1", "", true));
    add(num_bytes, Make("num_bytes", K::TextBox, w, "0", "", true));
    add(Label12, Make("Label12", K::Label, w, "Cmd", "", true));
    add(textOutCmd, Make("textOutCmd", K::Label, w, "0", "", true));
    add(Label13, Make("Label13", K::Label, w, "Кол. байт", "", true));
    add(OutKolBytes, Make("OutKolBytes", K::Label, w, "0", "", true));
    add(Label16, Make("Label16", K::Label, w, "Интервал", "", true));
    add(outTime, Make("outTime", K::Label, w, "0", "", true));
    add(Label17, Make("Label17", K::Label, w, "Режим", "", true));
    add(outMode, Make("outMode", K::Label, w, "0", "", true));
    add(Label19, Make("Label19", K::Label, w, "Мощность", "", true));
    add(outPower, Make("outPower", K::Label, w, "0", "", true));
    add(outSN, Make("outSN", K::Label, w, "0", "", true));
    add(Label10, Make("Label10", K::Label, w, "Серийный Номер", "", true));
    add(Label11, Make("Label11", K::Label, w, "Кол.Байт", "", true));
}

std::span<const frmSerial::EventBinding> frmSerial::EventTable() {
    return kEvents;
}

frmSerial::Handler frmSerial::FindHandler(std::string_view control, std::string_view event) {
    for (const EventBinding& b : EventTable()) {
        if (b.control == control && b.event == event) return b.handler;
    }
    return nullptr;
}

Control* frmSerial::Find(std::string_view name) {
    for (Control* c : controls_) {
        if (c->name == name) return c;
    }
    return nullptr;
}

const Control* frmSerial::Find(std::string_view name) const {
    for (const Control* c : controls_) {
        if (c->name == name) return c;
    }
    return nullptr;
}

bool frmSerial::Reacts(const Control& c) const {
    const Control* cur = &c;
    // Frames nest only one level deep in this window; the bound guards a bad model.
    for (int depth = 0; cur != nullptr && depth < 8; ++depth) {
        if (!cur->enabled || !cur->visible) return false;
        if (cur->container.empty()) return true;
        cur = Find(cur->container);
    }
    return false;
}

std::vector<Control> frmSerial::Snapshot() const {
    std::vector<Control> out;
    out.reserve(controls_.size());
    for (const Control* c : controls_) out.push_back(*c);
    return out;
}

frmSerial::Raised frmSerial::Dispatch(std::string_view control, std::string_view event,
                                      bool fromUser) {
    if (busy_) return Raised::Busy;
    if (fromUser) {
        const Control* c = Find(control);
        if (c == nullptr || !Reacts(*c)) return Raised::Refused;
    }
    const Handler handler = FindHandler(control, event);
    if (handler == nullptr) return Raised::NoHandler;
    busy_ = true;
    try {
        (this->*handler)();
    } catch (const std::exception&) {
        // An unexpected failure ends the handler; the window goes on.
    }
    busy_ = false;
    return Raised::Handled;
}

frmSerial::Raised frmSerial::Raise(std::string_view control, std::string_view event) {
    if (control == kWindow) return Dispatch(control, event, false);
    // The timer's event goes through Tick(), which checks the timer's own state.
    if (control == "TMRComm") {
        if (busy_) return Raised::Busy;
        return Tick() ? Raised::Handled : Raised::Refused;
    }
    return Dispatch(control, event, true);
}

bool frmSerial::Tick() {
    if (busy_ || !TMRComm.enabled) return false;
    return Dispatch("TMRComm", "Timer", false) == Raised::Handled;
}

frmSerial::Raised frmSerial::UserClick(std::string_view control) {
    if (busy_) return Raised::Busy;
    Control* c = Find(control);
    if (c == nullptr || !Reacts(*c)) return Raised::Refused;
    if (c->kind == ControlKind::OptionButton) {
        for (Control* other : controls_) {
            if (other->kind == ControlKind::OptionButton && other->container == c->container)
                other->value = 0;
        }
        c->value = 1;
    } else if (c->kind == ControlKind::CheckBox) {
        c->value = c->value == 0 ? 1 : 0;
    }
    return Dispatch(control, "Click", true);
}

frmSerial::Raised frmSerial::UserSetText(std::string_view control, const std::string& text) {
    if (busy_) return Raised::Busy;
    Control* c = Find(control);
    if (c == nullptr || !Reacts(*c)) return Raised::Refused;
    if (c->kind == ControlKind::ComboBox) {
        if (!c->editable) return Raised::Refused;
        c->caption = text;
        // An edit that spells an entry selects it, as typing a known address should.
        const auto it = std::find(c->list.begin(), c->list.end(), text);
        c->listIndex = it == c->list.end() ? -1 : static_cast<int>(it - c->list.begin());
    } else if (c->kind == ControlKind::TextBox) {
        c->caption = text;
    } else {
        return Raised::Refused;
    }
    return Dispatch(control, "Change", true);
}

frmSerial::Raised frmSerial::UserPick(std::string_view control, int index) {
    if (busy_) return Raised::Busy;
    Control* c = Find(control);
    if (c == nullptr || !Reacts(*c) || c->kind != ControlKind::ComboBox) return Raised::Refused;
    if (index < 0 || static_cast<std::size_t>(index) >= c->list.size()) return Raised::Refused;
    c->listIndex = index;
    c->caption = c->list[static_cast<std::size_t>(index)];
    return Dispatch(control, "Click", true);
}

std::string frmSerial::ControlForAccessKey(const std::string& key) const {
    const std::string wanted = FoldCase(key);
    if (wanted.empty()) return {};
    for (const Control* c : controls_) {
        if (Reacts(*c) && FoldCase(c->AccessKey()) == wanted) return c->name;
    }
    return {};
}

MsgResult frmSerial::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                            const std::string& caption) {
    return dialogs_.MsgBox(text, buttons, icon, caption.empty() ? msg::kAppTitle : caption);
}

std::string frmSerial::InputBox(const std::string& prompt, const std::string& title,
                                const std::string& defaultText) {
    return dialogs_.InputBox(prompt, title, defaultText);
}

}  // namespace busdesk
