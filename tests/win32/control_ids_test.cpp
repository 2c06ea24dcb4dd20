#include "win32/control_ids.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "app/frmSerial.h"
#include "link/memory_port.h"
#include "support/scripted_dialogs.h"

namespace busdesk::win32 {
namespace {

// The IDs are published for test tools: they must follow the model's window
// order exactly, one per control, none shared.
TEST(ControlIds, FollowTheWindowOrderOfTheModel) {
    MemoryPort port;
    testing::ScriptedDialogs dialogs;
    frmSerial form(port, dialogs);
    const std::vector<Control*>& controls = form.Controls();
    ASSERT_EQ(controls.size(), kControlOrder.size());
    std::set<int> ids;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        EXPECT_EQ(kControlOrder[i], controls[i]->name) << "entry " << i;
        const int id = ControlId(controls[i]->name);
        EXPECT_EQ(id, kFirstControlId + static_cast<int>(i)) << controls[i]->name;
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), controls.size());
}

TEST(ControlIds, UnknownNameHasNone) {
    EXPECT_EQ(ControlId("frmSerial"), 0);
    EXPECT_EQ(ControlId(""), 0);
    EXPECT_EQ(ControlId("цццц"), kFirstControlId + 44);  // UTF-8 names match byte for byte
}

// BusDesk's own controls: numbered apart from the model's, each once, and
// listed in the table that test tools read.
TEST(ControlIds, TrendControlsAreNumberedApartAndDocumented) {
    std::set<int> ids;
    for (std::size_t i = 0; i < kTrendControls.size(); ++i) {
        const int id = TrendControlId(kTrendControls[i]);
        EXPECT_EQ(id, kFirstTrendId + static_cast<int>(i));
        EXPECT_EQ(ControlId(kTrendControls[i]), 0) << kTrendControls[i];
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), kTrendControls.size());
    EXPECT_GT(kFirstTrendId, kFirstControlId + static_cast<int>(kControlOrder.size()));
    EXPECT_EQ(TrendControlId("CmbNet"), 0);

    std::ifstream in(BUSDESK_SOURCE_DIR "/win32/CONTROL_IDS.md");
    if (!in) GTEST_SKIP() << "the table is not reachable from here";
    std::stringstream text;
    text << in.rdbuf();
    for (std::size_t i = 0; i < kTrendControls.size(); ++i) {
        const std::string entry = std::to_string(kFirstTrendId + static_cast<int>(i)) + " `" +
                                  std::string(kTrendControls[i]) + "`";
        EXPECT_NE(text.str().find(entry), std::string::npos) << entry;
    }
}

}  // namespace
}  // namespace busdesk::win32
