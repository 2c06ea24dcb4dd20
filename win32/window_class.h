#pragma once

// The Win32 window each control of the model becomes. Shared by the main
// window and the Wine bench's bare window of the same controls, so the two
// make exactly the same windows.
#include <windows.h>

#include "app/control.h"

namespace busdesk::win32 {

struct WindowClass {
    const wchar_t* name;
    DWORD style;
    DWORD exStyle;
};

// The class and styles of the child window that shows `c`, visible when the
// control is.
WindowClass WindowClassOf(const Control& c);

}  // namespace busdesk::win32
