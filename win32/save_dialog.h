// The system's save dialog with Russian captions, for the program's own files.
#pragma once

#include <windows.h>

#include <string>

namespace busdesk::win32 {

// Asks where to save: `name` offered in `folder` (empty: the dialog's own
// choice); `filter` as OPENFILENAME takes it, `ext` added to a name without
// one. The chosen path, or empty when the user cancels.
std::wstring AskSavePath(HWND owner, const wchar_t* title, const wchar_t* filter,
                         const wchar_t* ext, const std::wstring& name,
                         const std::wstring& folder = {});

}  // namespace busdesk::win32
