#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

class PortControlTest : public ModelTest {};

TEST_F(PortControlTest, StartUpState) {
    EXPECT_EQ(form.CmbNet.list, std::vector<std::string>{"0"});
    EXPECT_EQ(form.CmbNet.listIndex, 0);
    ASSERT_EQ(form.CmbPort.list.size(), 9U);
    EXPECT_EQ(form.CmbPort.list.front(), "COM1:");
    EXPECT_EQ(form.CmbPort.list.back(), "COM9:");
    EXPECT_EQ(form.CmbPort.listIndex, 0);
    for (const Control* c : {&form.iinv, &form.invers, &form.usredn, &form.usred})
        EXPECT_FALSE(c->visible) << c->name;
    EXPECT_EQ(form.iinv.value, 0);
    EXPECT_EQ(form.usredn.value, 0);
    EXPECT_FALSE(form.TMRComm.enabled);
    EXPECT_EQ(form.Pic.fillColor, lamp::kStart);

    // Of the controls in view only the port list and the open button react.
    std::vector<std::string> reacting;
    for (const Control* c : form.Controls()) {
        const bool input = c->kind == ControlKind::CommandButton ||
                           c->kind == ControlKind::ComboBox || c->kind == ControlKind::TextBox ||
                           c->kind == ControlKind::OptionButton || c->kind == ControlKind::CheckBox;
        if (input && form.Reacts(*c)) reacting.push_back(c->name);
    }
    // CmdBoxText and num_bytes lie outside the initial area.
    EXPECT_EQ(reacting,
              (std::vector<std::string>{"CmbPort", "BTNOpenCom", "CmdBoxText", "num_bytes"}));
}

TEST_F(PortControlTest, OpeningUsesTheSelectedNameAndFixedSettings) {
    form.CmbPort.listIndex = 2;
    OpenPort();
    ASSERT_EQ(port.openedNames.size(), 1U);
    EXPECT_EQ(port.openedNames[0], "COM3:");
    EXPECT_EQ(port.openedSettings[0], "19200,n,8,1");
    EXPECT_FALSE(form.BTNOpenCom.enabled);
    EXPECT_TRUE(form.BTNCloseCom.enabled);
    EXPECT_TRUE(form.Opros.enabled);
    EXPECT_FALSE(form.R_p.enabled);  // code 220 stays off
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(PortControlTest, FailedOpeningAddsItsOwnMessageAndChangesNothing) {
    port.openSucceeds = false;
    form.wr_err = 3;
    const auto before = form.Snapshot();
    EXPECT_EQ(form.UserClick("BTNOpenCom"), frmSerial::Raised::Handled);
    ASSERT_EQ(dialogs.messages.size(), 1U);
    EXPECT_EQ(dialogs.messages[0].text, "COM1: Not available!");
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::None);
    EXPECT_EQ(dialogs.messages[0].caption, "BusDesk");
    EXPECT_EQ(form.Snapshot(), before);
    EXPECT_EQ(form.wr_err, 3);
}

TEST_F(PortControlTest, ClosingWritesTheClosingValues) {
    OpenPort();
    SetDevices({"1", "5"});
    form.sn.caption = "123";
    form.vv.caption = "1.3.4.";
    for (Control* c : {&form.tek, &form.temp, &form.uroven, &form.lo, &form.hi, &form.ne})
        c->caption = "42";
    form.ProgressBar1.value = 512;
    form.MsgCom.caption = "Был ПИНГ.";
    form.netdev.caption = "1 5 ";
    form.ko.caption = "7";
    form.wrs = {0x31, 0x01, 0xF0, 0xC5};
    form.last_addr = 5;

    EXPECT_EQ(form.UserClick("BTNCloseCom"), frmSerial::Raised::Handled);
    EXPECT_EQ(form.CmbNet.list, std::vector<std::string>{"0"});
    EXPECT_EQ(form.CmbNet.listIndex, 0);
    EXPECT_EQ(form.sn.caption, "0");
    EXPECT_EQ(form.vv.caption, "--------");
    for (const Control* c : {&form.tek, &form.temp, &form.uroven, &form.lo, &form.hi, &form.ne})
        EXPECT_EQ(c->caption, "Нет данных") << c->name;
    EXPECT_EQ(form.ProgressBar1.value, 0);
    EXPECT_EQ(form.MsgCom.caption, "");
    EXPECT_EQ(form.netdev.caption, "Устройства не определены");
    EXPECT_EQ(form.Pic.fillColor, lamp::kClosed);
    EXPECT_FALSE(form.TMRComm.enabled);
    EXPECT_TRUE(form.BTNOpenCom.enabled);
    EXPECT_FALSE(form.BTNCloseCom.enabled);
    EXPECT_EQ(port.closes, 1);
    // Left as they were.
    EXPECT_EQ(form.ko.caption, "7");
    EXPECT_EQ(form.wrs, (Bytes{0x31, 0x01, 0xF0, 0xC5}));
    EXPECT_EQ(form.last_addr, 5);
}

TEST_F(PortControlTest, OpenCloseOpenKeepsTheCodeNineControlsUsable) {
    OpenPort();
    EXPECT_FALSE(form.txtRec.enabled);  // the design leaves it enabled; the first open inverts it
    form.UserClick("BTNCloseCom");
    for (const Control* c : form.Controls()) {
        if (c->tag == "9" || c->tag == "220") {
            EXPECT_FALSE(c->enabled) << c->name;
        }
    }
    OpenPort();
    for (const Control* c : form.Controls()) {
        if (c->tag == "9") {
            EXPECT_TRUE(c->enabled) << c->name;
        }
        if (c->tag == "220") {
            EXPECT_FALSE(c->enabled) << c->name;
        }
    }
    EXPECT_TRUE(form.BTNOpenCom.enabled == false && form.CmbPort.enabled);
    EXPECT_EQ(form.wr_err, 0);
}

TEST_F(PortControlTest, CmbNetChangeReplacesOrCancelsThePendingFrame) {
    OpenPort();
    SetDevices({"1", "5", "7"});
    form.wrs = {0x31, 0x01, 0xF5, 0x00};
    form.UserSetText("CmbNet", "5");
    EXPECT_EQ(form.wrs, (Bytes{0x31, 0x05, 0xFC, 0x5D}));
    form.UserSetText("CmbNet", "12");
    EXPECT_TRUE(form.wrs.empty());
}

}  // namespace
}  // namespace busdesk::testing
