#include "engine/snapshot_changes.h"

#include <utility>

namespace busdesk::engine {

void SnapshotChanges::NoteEdit(const std::string& control, std::uint64_t seq, std::string text) {
    edits_[control].push_back({seq, std::move(text)});
}

void SnapshotChanges::NoteClick(const std::string& control, std::uint64_t seq) {
    resync_[control] = seq;
}

void SnapshotChanges::Apply(std::shared_ptr<const std::vector<Control>> shared, std::uint64_t seq,
                            const std::function<void(const Change&)>& apply) {
    if (!shared) return;
    const std::vector<Control>& now = *shared;
    const std::vector<Control>& last = *last_;
    const bool comparable = now.size() == last.size();
    for (std::size_t i = 0; i < now.size(); ++i) {
        const Control& c = now[i];
        const Control* before = comparable && last[i].name == c.name ? &last[i] : nullptr;

        bool echo = false;
        bool typingAhead = false;
        if (auto it = edits_.empty() ? edits_.end() : edits_.find(c.name); it != edits_.end()) {
            std::deque<Edit>& q = it->second;
            while (!q.empty() && q.front().seq <= seq) {
                // The model took this edit in; its text coming back is the user's own.
                echo = c.caption == q.front().text;
                q.pop_front();
            }
            typingAhead = !q.empty();
            if (q.empty()) edits_.erase(it);
        }
        if (auto it = resync_.empty() ? resync_.end() : resync_.find(c.name);
            it != resync_.end() && seq >= it->second) {
            before = nullptr;
            resync_.erase(it);
        }
        if (before != nullptr && *before == c) continue;
        apply({c, before, echo, typingAhead});
    }
    last_ = std::move(shared);
}

}  // namespace busdesk::engine
