#include "cli/console.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace busdesk::cli {

#ifdef _WIN32

Utf8Console::Utf8Console() {
    // 0: the process has no console.
    const UINT current = GetConsoleOutputCP();
    if (current == 0 || current == CP_UTF8) return;
    if (SetConsoleOutputCP(CP_UTF8)) previous_ = current;
}

Utf8Console::~Utf8Console() {
    if (previous_ != 0) SetConsoleOutputCP(previous_);
}

#else

Utf8Console::Utf8Console() = default;
Utf8Console::~Utf8Console() = default;

#endif

}  // namespace busdesk::cli
