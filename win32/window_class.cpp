#include "win32/window_class.h"

#include <commctrl.h>

namespace busdesk::win32 {

WindowClass WindowClassOf(const Control& c) {
    // Clipped by the status bar where they lie under it (the top edge of
    // "Commands and Results", the service controls): it stays on top.
    WindowClass w{L"STATIC", WS_CHILD | WS_CLIPSIBLINGS, 0};
    switch (c.kind) {
        case ControlKind::Label:
            w.style |= SS_LEFT | SS_NOPREFIX;
            break;
        case ControlKind::TextBox:
            w.name = L"EDIT";
            w.exStyle = WS_EX_CLIENTEDGE;
            w.style |= WS_TABSTOP;
            w.style |= c.multiLine ? ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL
                                   : ES_AUTOHSCROLL;
            break;
        case ControlKind::Frame:
            w.name = L"BUTTON";
            w.style |= BS_GROUPBOX | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
            w.exStyle = WS_EX_CONTROLPARENT;
            break;
        case ControlKind::CommandButton:
            w.name = L"BUTTON";
            w.style |= BS_PUSHBUTTON | WS_TABSTOP;
            break;
        case ControlKind::CheckBox:
            w.name = L"BUTTON";
            w.style |= BS_CHECKBOX | WS_TABSTOP;
            break;
        case ControlKind::OptionButton:
            w.name = L"BUTTON";
            w.style |= BS_RADIOBUTTON | WS_TABSTOP;
            break;
        case ControlKind::ComboBox:
            w.name = L"COMBOBOX";
            w.style |= WS_TABSTOP | WS_VSCROLL |
                       (c.editable ? CBS_DROPDOWN | CBS_AUTOHSCROLL : CBS_DROPDOWNLIST);
            break;
        case ControlKind::Shape:
            w.style |= SS_OWNERDRAW;
            break;
        case ControlKind::ProgressBar:
            w.name = PROGRESS_CLASSW;
            break;
        case ControlKind::Timer:
            break;
    }
    if (c.visible) w.style |= WS_VISIBLE;
    return w;
}

}  // namespace busdesk::win32
