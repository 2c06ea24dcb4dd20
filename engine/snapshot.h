#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/control.h"
#include "engine/line_counters.h"

namespace busdesk::engine {

// The controls as the engine left them after an event, or just before it asked
// for a box. `seq` is the number of the last user event the engine has taken
// in, so a window can tell its own typing coming back from a change the model
// made.
struct Snapshot {
    std::uint64_t seq = 0;
    std::shared_ptr<const std::vector<Control>> controls;

    // What BusDesk shows beside the window model, never in it.
    // The status bar under the client area: one line, and the full table for
    // its tool tip. Empty when there is nothing to say.
    std::string status;
    std::string statusDetail;
    // The figures behind them.
    LineCounters line;
    // The entry whose line went away and is tried again (--reconnect); empty
    // when nothing is waited for.
    std::string waitingFor;
    // Why the last try at it failed; empty when none did.
    std::string lastTry;
    // What each entry of CmbPort opens, in entry order, for tool tips; empty
    // when the port set-up cannot tell.
    std::shared_ptr<const std::vector<std::string>> portInfo;
};

}  // namespace busdesk::engine
