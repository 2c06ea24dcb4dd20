#include "win32/first_view.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/frmSerial.h"
#include "link/memory_port.h"
#include "support/scripted_dialogs.h"

namespace busdesk::win32 {
namespace {

using Places = std::map<std::string, engine::TwipRect>;

std::set<std::string> Out(const std::vector<Control>& controls, const Places& places) {
    return OutOfFirstView(
        controls,
        [&places](const std::string& name) -> std::optional<engine::TwipRect> {
            const auto it = places.find(name);
            if (it == places.end()) return std::nullopt;
            return it->second;
        },
        1000, 800);
}

Control Make(std::string name, std::string container = {}) {
    Control c;
    c.name = std::move(name);
    c.container = std::move(container);
    return c;
}

// A view of 1000 x 800 twips.
TEST(FirstView, ControlsClippedByTheViewAndTheirFrames) {
    struct Case {
        const char* what;
        std::vector<Control> controls;
        Places places;
        std::set<std::string> out;
    };
    const std::vector<Case> cases = {
        {"wholly inside", {Make("a")}, {{"a", {10, 10, 100, 100}}}, {}},
        {"one twip inside at the right", {Make("a")}, {{"a", {999, 0, 100, 100}}}, {}},
        {"touching the right edge", {Make("a")}, {{"a", {1000, 0, 100, 100}}}, {"a"}},
        {"touching the bottom edge", {Make("a")}, {{"a", {0, 800, 100, 100}}}, {"a"}},
        {"left of the view", {Make("a")}, {{"a", {-200, 0, 200, 100}}}, {"a"}},
        {"no place (a timer) counts as shown", {Make("t")}, {}, {}},
        {"empty size", {Make("a")}, {{"a", {10, 10, 0, 100}}}, {"a"}},
        // The frame is partly in view; its child lies in its hidden part.
        {"child placed in its frame's coordinates",
         {Make("f"), Make("top", "f"), Make("low", "f")},
         {{"f", {0, 700, 500, 400}}, {"top", {10, 20, 100, 50}}, {"low", {10, 150, 100, 50}}},
         {"low"}},
        // In view but beyond its frame's edge: the frame clips it.
        {"clipped by its frame",
         {Make("f"), Make("spill", "f")},
         {{"f", {0, 0, 300, 300}}, {"spill", {400, 10, 100, 50}}},
         {"spill"}},
        {"everything in a frame out of view is out",
         {Make("f"), Make("in", "f"), Make("g", "f"), Make("deep", "g")},
         {{"f", {0, 900, 500, 400}},
          {"in", {0, -200, 100, 300}},
          {"g", {0, 0, 100, 100}},
          {"deep", {0, 0, 10, 10}}},
         {"f", "in", "g", "deep"}},
        {"nested frames add up",
         {Make("f"), Make("g", "f"), Make("x", "g")},
         {{"f", {500, 0, 600, 600}}, {"g", {300, 0, 300, 300}}, {"x", {200, 0, 50, 50}}},
         {"x"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Out(c.controls, c.places), c.out) << c.what;
}

// The real window: what the user sees at once is made before the first show,
// and what is left for later is indeed out of view.
TEST(FirstView, TheWindowLeavesOutOnlyWhatLiesBeyondItsInitialArea) {
    MemoryPort port;
    testing::ScriptedDialogs dialogs;
    frmSerial form(port, dialogs);
    const std::vector<Control> controls = form.Snapshot();
    const std::set<std::string> out = OutOfFirstView(
        controls, engine::PlaceOf, engine::kClientWidthTwips, engine::kClientHeightTwips);
    for (const char* shown : {"CmbPort", "BTNOpenCom", "Pic", "Frame6", "SetModesMetki", "Frame1",
                              "CmdBoxText", "net"}) {
        EXPECT_EQ(out.count(shown), 0U) << shown;
    }
    // The service controls right of the area, the end of "Commands and
    // Results" below it, the two buttons placed beyond their frame's edge.
    for (const char* hidden :
         {"Set_ident", "InstSN", "num_bytes", "Label11", "txtRec", "Label1", "low", "hig"})
        EXPECT_EQ(out.count(hidden), 1U) << hidden;
}

}  // namespace
}  // namespace busdesk::win32
