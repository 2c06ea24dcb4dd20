#include <gtest/gtest.h>

#include <string>

#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

class ModesTest : public ModelTest {
  protected:
    // The role the option buttons show, as its value; -1 when none or several.
    int ShownRole() const {
        const std::pair<const Control*, int> roles[] = {
            {&form.R_a, 2}, {&form.R_f, 1}, {&form.R_p485, 16}, {&form.R485, 0}, {&form.R_p, 6}};
        int shown = -1;
        int selected = 0;
        for (const auto& [option, value] : roles) {
            if (option->value != 0) {
                shown = value;
                ++selected;
            }
        }
        return selected == 1 ? shown : -1;
    }
    bool FlagsVisible() const {
        return form.iinv.visible && form.invers.visible && form.usredn.visible &&
               form.usred.visible;
    }
    bool FlagsHidden() const {
        return !form.iinv.visible && !form.invers.visible && !form.usredn.visible &&
               !form.usred.visible;
    }
};

TEST_F(ModesTest, SetModeFramesForTheUserSelectableRoles) {
    struct Row {
        const char* option;
        bool master, frequency;
        Bytes frame;
        const char* echo;
    };
    const Row rows[] = {
        {"R_a", false, false, {0x31, 0x05, 0xF2, 0x02, 0x46}, "31 5 F2 2 46 "},
        {"R485", true, true, {0x31, 0x05, 0xF2, 0xC0, 0x30}, "31 5 F2 C0 30 "},
        {"R485", false, true, {0x31, 0x05, 0xF2, 0x40, 0xBC}, "31 5 F2 40 BC "},
        {"R485", true, false, {0x31, 0x05, 0xF2, 0x80, 0x76}, "31 5 F2 80 76 "},
        {"R_f", false, false, {0x31, 0x05, 0xF2, 0x01, 0xA4}, "31 5 F2 1 A4 "},
    };
    OpenPort();
    SetDevices({"5"});
    for (const Row& r : rows) {
        SCOPED_TRACE(r.echo);
        form.wrs.clear();
        form.mode_yes = false;
        ASSERT_EQ(form.UserClick(r.option), frmSerial::Raised::Handled);
        if (r.master) {
            ASSERT_EQ(form.UserClick("iinv"), frmSerial::Raised::NoHandler);
        }
        if (r.frequency) {
            ASSERT_EQ(form.UserClick("usredn"), frmSerial::Raised::NoHandler);
        }
        ASSERT_EQ(form.UserClick("Set_mode"), frmSerial::Raised::Handled);
        EXPECT_EQ(form.wrs, r.frame);
        EXPECT_EQ(form.txtRec.caption.rfind(std::string(r.echo) + "\r\n\r\n", 0), 0U);
        EXPECT_TRUE(form.mode_yes);
        // Another role drops the flags for the next row.
        ASSERT_EQ(form.UserClick("R_a"), frmSerial::Raised::Handled);
        EXPECT_EQ(form.iinv.value + form.usredn.value, 0);
    }
}

TEST_F(ModesTest, TwoPressesBeforeATickQueueBothFrames) {
    OpenPort();
    SetDevices({"5"});
    form.last_addr = 5;
    form.Set_mode_Click();
    form.Set_mode_Click();
    const Bytes one = {0x31, 0x05, 0xF2, 0x02, 0x46};
    Bytes both = one;
    both.insert(both.end(), one.begin(), one.end());
    EXPECT_EQ(form.wrs, both);
    EXPECT_EQ(form.txtRec.caption.rfind("31 5 F2 2 46 31 5 F2 2 46 \r\n\r\n", 0), 0U);
    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(port.writes.back(), both);
}

TEST_F(ModesTest, NoDeviceSelectedQueuesAndShowsNothing) {
    OpenPort();
    form.CmbNet.listIndex = -1;
    form.wrs = {0xAA};
    form.txtRec.caption = "kept";
    form.mode_yes = false;
    form.Set_mode_Click();
    EXPECT_EQ(form.wrs, Bytes{0xAA});
    EXPECT_EQ(form.txtRec.caption, "kept");
    EXPECT_FALSE(form.mode_yes);
}

TEST_F(ModesTest, OutModesShowsRoleAndFlags) {
    struct Row {
        std::uint8_t mode;
        int role;  // as shown afterwards; R_a (2) is shown before
        bool flagsVisible;
        int master, frequency;
    };
    const Row rows[] = {
        {0x40, 0, true, 0, 1},
        {0xC0, 0, true, 1, 1},
        {0x00, 0, true, 0, 0},
        {0x02, 2, false, 0, 0},
        {0x01, 1, false, 0, 0},
        {0x10, 16, false, 0, 0},
        {0x06, 6, false, 0, 0},
        {0x83, 2, false, 1, 0},
        {0x3F, 2, false, 0, 0},
        // A non-bridge role drops the master flag, but the frequency bit is set
        // after the role and stays, hidden.
        {0x82, 2, false, 0, 0},
        {0x42, 2, false, 0, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.mode));
        form.Out_modes(0x02);
        form.mode_yes = true;
        form.Out_modes(r.mode);
        EXPECT_EQ(ShownRole(), r.role);
        EXPECT_EQ(r.flagsVisible ? FlagsVisible() : FlagsHidden(), true);
        EXPECT_EQ(form.iinv.value, r.master);
        EXPECT_EQ(form.usredn.value, r.frequency);
        EXPECT_FALSE(form.mode_yes);
    }
}

TEST_F(ModesTest, BridgeAndBackClearsTheFlags) {
    OpenPort();
    ASSERT_EQ(form.UserClick("R485"), frmSerial::Raised::Handled);
    EXPECT_TRUE(FlagsVisible());
    form.UserClick("iinv");
    form.UserClick("usredn");
    ASSERT_EQ(form.UserClick("R_a"), frmSerial::Raised::Handled);
    EXPECT_TRUE(FlagsHidden());
    ASSERT_EQ(form.UserClick("R485"), frmSerial::Raised::Handled);
    EXPECT_TRUE(FlagsVisible());
    EXPECT_EQ(form.iinv.value, 0);
    EXPECT_EQ(form.usredn.value, 0);
}

TEST_F(ModesTest, RolesOnlyADeviceCanSelectAreSentBack) {
    OpenPort();
    SetDevices({"5"});
    const std::pair<std::uint8_t, Bytes> rows[] = {
        {0x06, {0x31, 0x05, 0xF2, 0x06, 0x27}},
        {0x10, {0x31, 0x05, 0xF2, 0x10, 0x67}},
    };
    for (const auto& [mode, frame] : rows) {
        form.wrs.clear();
        form.Out_modes(mode);
        form.Set_mode_Click();
        EXPECT_EQ(form.wrs, frame);
    }
}

TEST_F(ModesTest, AGreyedFlagCountsAsSet) {
    SetDevices({"5"});
    form.Out_modes(0x00);
    form.iinv.value = 2;
    form.Set_mode_Click();
    EXPECT_EQ(form.wrs, (Bytes{0x31, 0x05, 0xF2, 0x80, 0x76}));
}

}  // namespace
}  // namespace busdesk::testing
