#pragma once

#include <windows.h>

#include <string>

#include "engine/box_bridge.h"

namespace busdesk::win32 {

// The IDs inside the input box, for test tools.
inline constexpr int kInputPromptId = 100;
inline constexpr int kInputEditId = 101;

struct BoxAnswer {
    MsgResult result = MsgResult::Ok;
    std::string text;
};

// Shows the box modal to `owner` and waits for the user. Buttons read "Да",
// "Нет", "ОК", "Отмена" whatever the system language.
BoxAnswer ShowBox(HWND owner, const engine::BoxRequest& request);

// A plain message box with Russian buttons, for the program's own messages.
int RussianMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                      UINT flags);

}  // namespace busdesk::win32
