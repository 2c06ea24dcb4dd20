#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/control.h"

namespace busdesk::engine {

// What a window repaints of each new snapshot. Only controls that changed are
// handed on, and a field's text is marked when it is the user's own typing
// coming back (echo) or typing still on its way to the engine: either way the
// window keeps what the user sees, so a tick never eats a keystroke.
class SnapshotChanges {
  public:
    struct Change {
        const Control& now;
        const Control* before;  // null: repaint everything of it
        bool echo;              // the text is the user's own, taken in by the model
        bool typingAhead;       // more of the user's typing is still on its way
    };

    explicit SnapshotChanges(std::vector<Control> shown = {})
        : last_(std::make_shared<const std::vector<Control>>(std::move(shown))) {}

    // The user typed `text` into `control`; the engine gave the event `seq`.
    void NoteEdit(const std::string& control, std::uint64_t seq, std::string text);
    // The user clicked or picked `control` (event `seq`): the widget may have
    // changed itself, so it is repainted whole once the model has the event.
    void NoteClick(const std::string& control, std::uint64_t seq);

    // Calls `apply` for each control of `now` to repaint, then keeps `now` as
    // what is shown. `seq` is the snapshot's last user event. A snapshot's
    // controls are shared, not copied: a tick hands on only what changed.
    void Apply(std::shared_ptr<const std::vector<Control>> now, std::uint64_t seq,
               const std::function<void(const Change&)>& apply);
    void Apply(const std::vector<Control>& now, std::uint64_t seq,
               const std::function<void(const Change&)>& apply) {
        Apply(std::make_shared<const std::vector<Control>>(now), seq, apply);
    }

    const std::vector<Control>& Shown() const { return *last_; }

  private:
    struct Edit {
        std::uint64_t seq;
        std::string text;
    };

    std::shared_ptr<const std::vector<Control>> last_;  // never null
    std::map<std::string, std::deque<Edit>> edits_;     // typing not yet echoed
    std::map<std::string, std::uint64_t> resync_;       // clicked controls to re-read
};

}  // namespace busdesk::engine
