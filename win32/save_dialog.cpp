// The system's save dialog with Russian captions, for the program's own files.
#include "win32/save_dialog.h"

#include <commdlg.h>

#include <cwchar>

namespace busdesk::win32 {

namespace {

// The save dialog's own captions in Russian whatever the system language,
// as every other box of the program; the hook sees the dialog's child, the
// dialog itself is its parent.
UINT_PTR CALLBACK RussianSaveDialog(HWND child, UINT msg, WPARAM, LPARAM lParam) {
    if (msg != WM_NOTIFY) return 0;
    const auto* note = reinterpret_cast<const OFNOTIFYW*>(lParam);
    if (note->hdr.code != CDN_INITDONE) return 0;
    const HWND dialog = GetParent(child);
    const struct {
        int id;
        const wchar_t* text;
    } texts[] = {{IDOK, L"Сохранить"},
                 {IDCANCEL, L"Отмена"},
                 {0x442, L"Имя файла:"},  // stc3
                 {0x441, L"Тип файла:"},  // stc2
                 {0x443, L"Папка:"}};     // stc4
    for (const auto& t : texts)
        SendMessageW(dialog, CDM_SETCONTROLTEXT, static_cast<WPARAM>(t.id),
                     reinterpret_cast<LPARAM>(t.text));
    return 0;
}

}  // namespace

std::wstring AskSavePath(HWND owner, const wchar_t* title, const wchar_t* filter,
                         const wchar_t* ext, const std::wstring& name, const std::wstring& folder) {
    std::wstring buffer = name;
    buffer.resize(MAX_PATH * 4, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = title;
    ofn.lpstrDefExt = ext;
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER |
                OFN_ENABLEHOOK | OFN_ENABLESIZING;
    ofn.lpfnHook = RussianSaveDialog;
    if (!GetSaveFileNameW(&ofn)) return {};
    buffer.resize(std::wcslen(buffer.c_str()));
    return buffer;
}

}  // namespace busdesk::win32
