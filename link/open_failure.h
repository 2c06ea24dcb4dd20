#pragma once

#include <string>

#include "app/dialogs.h"

namespace busdesk {

// The ways opening a port fails, each with the box it shows. Both backends
// report through here so that the texts are the same on every platform.
enum class OpenFailure { Unavailable, Timeouts, BuildSettings, ApplySettings };

// Shows the box for `failure`; `code` is the system's error code of the failed
// call (unused for Unavailable). Never throws: opening returns false whatever
// the box did.
void ReportOpenFailure(Dialogs& dialogs, OpenFailure failure, const std::string& name,
                       const std::string& settings, unsigned long code);

}  // namespace busdesk
