#pragma once

#include <vector>

#include "app/control.h"

namespace busdesk::engine {

// The window model's controls with their design values, in window order:
// what a front end builds its window from before the engine starts.
std::vector<Control> DesignControls();

}  // namespace busdesk::engine
