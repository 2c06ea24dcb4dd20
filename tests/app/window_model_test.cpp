#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

using K = ControlKind;

TEST(WindowModel, GroupCodesCountAsDesigned) {
    MemoryPort port;
    ScriptedDialogs dialogs;
    frmSerial form(port, dialogs);
    std::map<std::string, int> byCode;
    for (const Control* c : form.Controls()) ++byCode[c->tag];
    EXPECT_EQ(byCode["9"], 67);
    EXPECT_EQ(byCode["220"], 4);
    EXPECT_EQ(byCode["2"], 3);
    EXPECT_EQ(byCode["7"], 1);
    EXPECT_EQ(byCode[""], 20);
    EXPECT_EQ(form.Controls().size(), 95U);
}

TEST(WindowModel, NamesAreUniqueAndContainersAreFrames) {
    MemoryPort port;
    ScriptedDialogs dialogs;
    frmSerial form(port, dialogs);
    std::set<std::string> names;
    for (const Control* c : form.Controls()) {
        EXPECT_TRUE(names.insert(c->name).second) << c->name;
        if (!c->container.empty()) {
            const Control* frame = form.Find(c->container);
            ASSERT_NE(frame, nullptr) << c->name;
            EXPECT_EQ(frame->kind, K::Frame) << c->name;
        }
    }
}

struct DesignRow {
    const char* name;
    K kind;
    const char* container;
    const char* caption;
    const char* tag;
    bool enabled;
};

// Rows picked where a slip is easy: captions with access keys, double blanks,
// dashes and odd letters, and the controls whose codes differ from their frame's.
const DesignRow kDesign[] = {
    {"CmbPort", K::ComboBox, "", "COM1:", "7", true},
    {"BTNOpenCom", K::CommandButton, "Frame2", "Открыть порт", "2", true},
    {"BTNCloseCom", K::CommandButton, "Frame2", "Закрыть порт", "9", false},
    {"Pic", K::Shape, "", "", "2", true},
    {"TMRComm", K::Timer, "", "", "", false},
    {"vv", K::Label, "", "--------------------", "9", false},
    {"netdev", K::Label, "", "Устройства не определены", "9", false},
    {"Opros", K::CommandButton, "", "&Поиск считывателя", "9", false},
    {"uroven", K::Label, "Frame5", "нет данных", "9", false},
    {"k", K::Label, "Frame4", "K", "", true},
    {"ko", K::Label, "Frame4", "0", "9", false},
    {"net", K::CommandButton, "Frame3", "Изменить &сетевой адрес", "9", false},
    {"low", K::CommandButton, "Frame3", "Уст&ановить  Пустой", "9", false},
    {"hig", K::CommandButton, "Frame3", "Установить Полны&й", "9", false},
    {"R_p485", K::OptionButton, "modes", "Option3", "220", false},
    {"цццц", K::Label, "modes", "Метка", "220", false},
    {"Label2", K::Label, "modes", "Повторитель", "220", false},
    {"Set_mode", K::CommandButton, "modes", "&Установить", "9", false},
    {"outVer", K::Label, "Frame6", "---------", "9", false},
    {"InstSN", K::CommandButton, "", "Установка серийного Но&мера", "9", false},
    {"Frame1", K::Frame, "", "Commands and Results", "", false},
    {"txtRec", K::TextBox, "Frame1", "", "9", true},
    {"CmdBoxText", K::TextBox, "", "Text1", "", true},
    {"Label11", K::Label, "", "Кол.Байт", "", true},
};

TEST(WindowModel, DesignValues) {
    MemoryPort port;
    ScriptedDialogs dialogs;
    frmSerial form(port, dialogs);
    for (const DesignRow& row : kDesign) {
        SCOPED_TRACE(row.name);
        const Control* c = form.Find(row.name);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->kind, row.kind);
        EXPECT_EQ(c->container, row.container);
        EXPECT_EQ(c->caption, row.caption);
        EXPECT_EQ(c->tag, row.tag);
        EXPECT_EQ(c->enabled, row.enabled);
    }
    EXPECT_EQ(form.Pic.fillColor, 0x00FFFFU);
    EXPECT_EQ(form.TMRComm.interval, 500);
    EXPECT_EQ(form.ProgressBar1.maximum, 1024);
    EXPECT_EQ(form.ProgressBar1.value, 0);
    EXPECT_EQ(form.R_a.value, 1);
    EXPECT_EQ(form.ID_Metki.toolTip, "0...FFFFFFFF");
    EXPECT_EQ(form.Label7.toolTip, "1...65535");
    EXPECT_EQ(form.PowerMetki.toolTip, "3...247");
    EXPECT_TRUE(form.CmbNet.editable);
    EXPECT_FALSE(form.CmbPort.editable);
    EXPECT_TRUE(form.txtRec.multiLine);
}

TEST(WindowModel, WindowVariablesStartValues) {
    MemoryPort port;
    ScriptedDialogs dialogs;
    frmSerial form(port, dialogs);
    EXPECT_TRUE(form.wrs.empty());
    EXPECT_EQ(form.CointWrs, 0);
    EXPECT_EQ(form.last_addr, 0);
    EXPECT_EQ(form.wr_err, 0);
    EXPECT_FALSE(form.no_data);
    EXPECT_TRUE(form.last_msg.empty());
    EXPECT_FALSE(form.net_opr);
    EXPECT_TRUE(form.mode_yes);
    EXPECT_EQ(form.fill_id, 0);
}

TEST(WindowModel, AccessKeys) {
    struct Row {
        const char* name;
        const char* key;
        const char* shown;
    };
    const Row rows[] = {
        {"Opros", "П", "Поиск считывателя"}, {"net", "с", "Изменить сетевой адрес"},
        {"low", "а", "Установить  Пустой"},  {"hig", "й", "Установить Полный"},
        {"Set_mode", "У", "Установить"},     {"InstSN", "м", "Установка серийного Номера"},
        {"BTNOpenCom", "", "Открыть порт"},
    };
    MemoryPort port;
    ScriptedDialogs dialogs;
    frmSerial form(port, dialogs);
    for (const Row& r : rows) {
        const Control* c = form.Find(r.name);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->AccessKey(), r.key) << r.name;
        EXPECT_EQ(c->DisplayCaption(), r.shown) << r.name;
    }
}

TEST(WindowModel, EveryEventReachesAControlAndAHandler) {
    MemoryPort port;
    ScriptedDialogs dialogs;
    frmSerial form(port, dialogs);
    EXPECT_EQ(frmSerial::EventTable().size(), 20U);
    for (const auto& b : frmSerial::EventTable()) {
        EXPECT_NE(b.handler, nullptr);
        if (b.control != "frmSerial") {
            EXPECT_NE(form.Find(b.control), nullptr) << b.control;
        }
    }
    EXPECT_EQ(frmSerial::FindHandler("CmbNet", "Click"), nullptr);
    EXPECT_EQ(frmSerial::FindHandler("R_p", "Click"), &frmSerial::R_p_Click);
}

class EventsTest : public ModelTest {};

TEST_F(EventsTest, ClosedWindowRefusesEverythingButThePortControls) {
    for (const auto& b : frmSerial::EventTable()) {
        if (b.control == "frmSerial" || b.control == "TMRComm" || b.control == "BTNOpenCom") {
            continue;
        }
        EXPECT_EQ(form.Raise(b.control, b.event), frmSerial::Raised::Refused) << b.control;
    }
    EXPECT_FALSE(form.Tick());
    EXPECT_TRUE(port.writes.empty());
}

TEST_F(EventsTest, AccessKeyFindsOnlyEnabledControls) {
    EXPECT_EQ(form.ControlForAccessKey("а"), "");  // low, disabled while closed
    OpenPort();
    EXPECT_EQ(form.ControlForAccessKey("А"), "low");
    EXPECT_EQ(form.ControlForAccessKey("й"), "hig");
    EXPECT_EQ(form.ControlForAccessKey("Й"), "hig");
    EXPECT_EQ(form.ControlForAccessKey("п"), "Opros");
    EXPECT_EQ(form.ControlForAccessKey("x"), "");
}

TEST_F(EventsTest, HandlersNeverNestAndASkippedTickIsNotMadeUp) {
    OpenPort();
    int ticksDuringBox = 0;
    dialogs.onMessage = [&] {
        if (form.Tick()) ++ticksDuringBox;
        EXPECT_EQ(form.UserClick("Opros"), frmSerial::Raised::Busy);
    };
    // A port name the in-memory port refuses would not show a box; a failing
    // write does, from inside the tick.
    port.FailWrites(1);
    EXPECT_TRUE(form.Tick());
    EXPECT_EQ(dialogs.messages.size(), 1U);
    EXPECT_EQ(ticksDuringBox, 0);
    EXPECT_EQ(port.writes.size(), 1U);
    dialogs.onMessage = nullptr;
    EXPECT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.size(), 2U);
}

TEST_F(EventsTest, OptionClickSelectsOneRoleOfTheFrame) {
    OpenPort();
    EXPECT_EQ(form.UserClick("R_f"), frmSerial::Raised::Handled);
    EXPECT_EQ(form.R_f.value, 1);
    EXPECT_EQ(form.R_a.value, 0);
    // The code-220 roles never react to the user.
    EXPECT_EQ(form.UserClick("R_p"), frmSerial::Raised::Refused);
    EXPECT_EQ(form.R_p.value, 0);
}

TEST_F(EventsTest, TypingInCmbNetSelectsAMatchingEntry) {
    OpenPort();
    SetDevices({"1", "5", "7"});
    EXPECT_EQ(form.UserSetText("CmbNet", "5"), frmSerial::Raised::Handled);
    EXPECT_EQ(form.CmbNet.listIndex, 1);
    EXPECT_EQ(form.UserSetText("CmbNet", "55"), frmSerial::Raised::Handled);
    EXPECT_EQ(form.CmbNet.listIndex, -1);
    EXPECT_EQ(form.UserPick("CmbNet", 2), frmSerial::Raised::NoHandler);
    EXPECT_EQ(form.CmbNet.caption, "7");
    EXPECT_EQ(form.UserPick("CmbNet", 3), frmSerial::Raised::Refused);
    EXPECT_EQ(form.UserSetText("CmbPort", "COM3:"), frmSerial::Raised::Refused);
}

}  // namespace
}  // namespace busdesk::testing
