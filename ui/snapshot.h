#pragma once

#include <QMetaType>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/control.h"

namespace busdesk::ui {

// The controls as the engine left them after an event. `seq` is the number of
// the last user event the engine has taken in, so the window can tell its own
// typing coming back from a change the model made.
struct Snapshot {
    std::uint64_t seq = 0;
    std::shared_ptr<const std::vector<Control>> controls;
};

}  // namespace busdesk::ui

Q_DECLARE_METATYPE(busdesk::ui::Snapshot)
