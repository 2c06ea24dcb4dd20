#include "engine/snapshot_changes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace busdesk::engine {
namespace {

std::vector<Control> Fields(const std::string& id, const std::string& power) {
    Control a;
    a.name = "ID_Metki";
    a.caption = id;
    Control b;
    b.name = "PowerMetki";
    b.caption = power;
    return {a, b};
}

struct Seen {
    std::string name;
    bool whole, echo, typingAhead;
};

std::vector<Seen> ApplyAndSee(SnapshotChanges& changes, const std::vector<Control>& now,
                              std::uint64_t seq) {
    std::vector<Seen> out;
    changes.Apply(now, seq, [&](const SnapshotChanges::Change& c) {
        out.push_back({c.now.name, c.before == nullptr, c.echo, c.typingAhead});
    });
    return out;
}

// A snapshot that comes back while the user is still typing must not be
// taken for a change the model made.
TEST(SnapshotChanges, TellsTheUsersTypingFromTheModelsChanges) {
    SnapshotChanges changes(Fields("0", "0"));
    changes.NoteEdit("ID_Metki", 1, "7");
    changes.NoteEdit("ID_Metki", 2, "7A");

    // The model has taken in the first keystroke; the second is on its way.
    std::vector<Seen> seen = ApplyAndSee(changes, Fields("7", "0"), 1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, "ID_Metki");
    EXPECT_TRUE(seen[0].echo);
    EXPECT_TRUE(seen[0].typingAhead);

    // Both taken in: the text is the user's own, nothing more to come.
    seen = ApplyAndSee(changes, Fields("7A", "0"), 2);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].echo);
    EXPECT_FALSE(seen[0].typingAhead);

    // An unchanged snapshot repaints nothing; a change the model makes is no echo.
    EXPECT_TRUE(ApplyAndSee(changes, Fields("7A", "0"), 2).empty());
    seen = ApplyAndSee(changes, Fields("0", "0"), 2);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].echo);
}

TEST(SnapshotChanges, AClickedControlIsRepaintedWholeOnceTheModelHasTheClick) {
    SnapshotChanges changes(Fields("0", "0"));
    changes.NoteClick("PowerMetki", 3);
    EXPECT_TRUE(ApplyAndSee(changes, Fields("0", "0"), 2).empty());  // not yet taken in
    const std::vector<Seen> seen = ApplyAndSee(changes, Fields("0", "0"), 3);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, "PowerMetki");
    EXPECT_TRUE(seen[0].whole);
    EXPECT_TRUE(ApplyAndSee(changes, Fields("0", "0"), 4).empty());  // once only
}

}  // namespace
}  // namespace busdesk::engine
