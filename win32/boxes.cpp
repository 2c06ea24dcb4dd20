#include "win32/boxes.h"

#include <vector>

#include "app/messages.h"
#include "win32/text.h"

namespace busdesk::win32 {

namespace {

thread_local HHOOK t_hook = nullptr;

// Renames the buttons of the message box that is about to show, then unhooks:
// the system's own captions follow the system language.
LRESULT CALLBACK RenameButtons(int code, WPARAM wParam, LPARAM lParam) {
    const HHOOK hook = t_hook;
    if (code == HCBT_ACTIVATE) {
        const auto box = reinterpret_cast<HWND>(wParam);
        wchar_t cls[16] = {};
        GetClassNameW(box, cls, 16);
        if (std::wstring_view(cls) == L"#32770") {
            SetDlgItemTextW(box, IDOK, L"ОК");
            SetDlgItemTextW(box, IDCANCEL, L"Отмена");
            SetDlgItemTextW(box, IDYES, L"Да");
            SetDlgItemTextW(box, IDNO, L"Нет");
            UnhookWindowsHookEx(hook);
            t_hook = nullptr;
        }
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

std::wstring CaptionOf(const std::string& caption) {
    return Wide(caption.empty() ? std::string(msg::kAppTitle) : caption);
}

struct InputState {
    const engine::BoxRequest* request;
    std::wstring answer;
};

HWND Child(HWND dlg, const wchar_t* cls, const std::wstring& text, DWORD style, int id, RECT r) {
    MapDialogRect(dlg, &r);
    const DWORD exStyle = std::wstring_view(cls) == L"EDIT" ? WS_EX_CLIENTEDGE : 0;
    HWND w = CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, r.left,
                             r.top, r.right - r.left, r.bottom - r.top, dlg,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    SendMessageW(w, WM_SETFONT, static_cast<WPARAM>(SendMessageW(dlg, WM_GETFONT, 0, 0)), TRUE);
    return w;
}

INT_PTR CALLBACK InputProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<InputState*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG: {
            state = reinterpret_cast<InputState*>(lParam);
            SetWindowLongPtrW(dlg, DWLP_USER, lParam);
            const engine::BoxRequest& r = *state->request;
            SetWindowTextW(dlg, CaptionOf(r.caption).c_str());
            // Dialog units, so the box follows its font and the monitor's DPI.
            Child(dlg, L"STATIC", CrLf(Wide(r.text)), SS_LEFT | SS_NOPREFIX, kInputPromptId,
                  {7, 7, 177, 52});
            HWND edit = Child(dlg, L"EDIT", Wide(r.defaultText), ES_AUTOHSCROLL | WS_TABSTOP,
                              kInputEditId, {7, 58, 233, 70});
            Child(dlg, L"BUTTON", L"ОК", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, {187, 7, 233, 21});
            Child(dlg, L"BUTTON", L"Отмена", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL,
                  {187, 25, 233, 39});
            RECT size{0, 0, 240, 77};
            MapDialogRect(dlg, &size);
            RECT frame = size;
            AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dlg, GWL_STYLE)), FALSE,
                               static_cast<DWORD>(GetWindowLongPtrW(dlg, GWL_EXSTYLE)));
            RECT owner{};
            GetWindowRect(GetParent(dlg) != nullptr ? GetParent(dlg) : GetDesktopWindow(), &owner);
            const int w = frame.right - frame.left;
            const int h = frame.bottom - frame.top;
            SetWindowPos(dlg, nullptr, owner.left + (owner.right - owner.left - w) / 2,
                         owner.top + (owner.bottom - owner.top - h) / 2, w, h, SWP_NOZORDER);
            SendMessageW(edit, EM_SETSEL, 0, -1);
            SetFocus(edit);
            return FALSE;  // focus set here
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                if (LOWORD(wParam) == IDOK && state != nullptr) {
                    HWND edit = GetDlgItem(dlg, kInputEditId);
                    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1,
                                      L'\0');
                    text.resize(static_cast<std::size_t>(
                        GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
                    state->answer = text;
                }
                EndDialog(dlg, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

// An empty dialog template: the controls are made in WM_INITDIALOG.
std::vector<WORD> InputTemplate() {
    std::vector<WORD> t(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    auto* d = reinterpret_cast<DLGTEMPLATE*>(t.data());
    d->style = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    d->cx = 240;
    d->cy = 77;
    t.push_back(0);  // no menu
    t.push_back(0);  // the dialog class
    t.push_back(0);  // empty title
    t.push_back(8);  // point size
    for (const wchar_t ch : std::wstring_view(L"MS Shell Dlg")) t.push_back(static_cast<WORD>(ch));
    t.push_back(0);
    return t;
}

}  // namespace

int RussianMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                      UINT flags) {
    if (t_hook == nullptr)
        t_hook = SetWindowsHookExW(WH_CBT, RenameButtons, nullptr, GetCurrentThreadId());
    const int r = MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
    if (t_hook != nullptr) {  // the box never showed
        UnhookWindowsHookEx(t_hook);
        t_hook = nullptr;
    }
    return r;
}

BoxAnswer ShowBox(HWND owner, const engine::BoxRequest& request) {
    BoxAnswer a;
    a.result = engine::ClosedResult(request);
    if (request.kind == engine::BoxRequest::Kind::Input) {
        InputState state{&request, {}};
        std::vector<WORD> t = InputTemplate();
        const INT_PTR r =
            DialogBoxIndirectParamW(nullptr, reinterpret_cast<const DLGTEMPLATE*>(t.data()), owner,
                                    InputProc, reinterpret_cast<LPARAM>(&state));
        if (r == IDOK) a.text = Utf8(state.answer);
        return a;
    }
    UINT flags = request.buttons == MsgButtons::YesNo ? MB_YESNO : MB_OK;
    if (request.icon == MsgIcon::Warning) flags |= MB_ICONWARNING;
    if (request.icon == MsgIcon::Stop) flags |= MB_ICONSTOP;
    const int r =
        RussianMessageBox(owner, CrLf(Wide(request.text)), CaptionOf(request.caption), flags);
    if (r == IDYES) a.result = MsgResult::Yes;
    if (r == IDNO) a.result = MsgResult::No;
    if (r == IDOK) a.result = MsgResult::Ok;
    return a;
}

}  // namespace busdesk::win32
