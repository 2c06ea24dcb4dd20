#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

// Borrows controls without a code and gives them the codes to probe.
class EnableGroupsTest : public ModelTest {
  protected:
    void SetUp() override {
        const char* probes[][2] = {{"num_bytes", "130"}, {"Label10", "131"}, {"Label11", "133"},
                                   {"Label12", "134"},   {"Label13", "214"}, {"Label16", "215"},
                                   {"Label17", "8"},     {"Label19", "x9"}};
        for (auto& p : probes) {
            Control* c = form.Find(p[0]);
            c->tag = p[1];
            c->enabled = false;
            probe[p[1]] = c;
        }
    }
    bool On(const char* code) { return probe[code]->enabled; }
    std::map<std::string, Control*> probe;
};

TEST_F(EnableGroupsTest, VersionProceduresEnableTheirRangesOnly) {
    form.swtag130();
    EXPECT_TRUE(On("130"));
    EXPECT_FALSE(On("131"));
    form.swtag131();
    EXPECT_TRUE(On("131"));
    EXPECT_FALSE(On("134"));
    form.swtag134();
    EXPECT_TRUE(On("134"));
    EXPECT_TRUE(On("214"));
    EXPECT_FALSE(On("133"));
    EXPECT_FALSE(On("215"));
    EXPECT_FALSE(form.R_p.enabled);  // 220 is never enabled by a version
}

TEST_F(EnableGroupsTest, SwitchInvertsTheOpenRangeAndCloseDisablesAboveEight) {
    form.SwitchTags();
    EXPECT_TRUE(On("130") == false && On("8") == false && On("x9") == false);
    EXPECT_TRUE(form.Opros.enabled);
    EXPECT_FALSE(form.txtRec.enabled);
    form.SwitchTags();
    EXPECT_FALSE(form.Opros.enabled);
    EXPECT_TRUE(form.txtRec.enabled);

    for (auto& [code, c] : probe) c->enabled = true;
    form.CloseAllTags();
    EXPECT_TRUE(On("8"));
    EXPECT_TRUE(On("x9"));  // not a number: no group
    for (const char* code : {"130", "131", "133", "134", "214", "215"})
        EXPECT_FALSE(On(code)) << code;
    EXPECT_TRUE(form.BTNOpenCom.enabled);
    EXPECT_TRUE(form.CmbPort.enabled);
    EXPECT_TRUE(form.CmdBoxText.enabled);  // no code: untouched
}

}  // namespace
}  // namespace busdesk::testing
