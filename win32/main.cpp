// busdesk.exe: the native Windows window on the shared engine.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/messages.h"
#include "engine/command_line.h"
#include "engine/port_setup.h"
#include "win32/arguments.h"
#include "win32/boxes.h"
#include "win32/main_window.h"
#include "win32/text.h"

#ifdef __OPTIMIZE__
// Looked for in the zip's exe by scripts/check-packages.sh: only an optimised
// build carries it, and stripping keeps it.
[[gnu::used]] static const char kOptimisedBuild[] = "busdesk: optimised build";
#endif

namespace {

using busdesk::win32::Utf8;
using busdesk::win32::Wide;

// Split here rather than by shell32, which with what it loads in turn would
// hold the window back at every start.
std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    for (const std::wstring& a : busdesk::win32::SplitArguments(GetCommandLineW()))
        args.push_back(Utf8(a));
    return args;
}

// A window program has no console of its own: write to the one it was started
// from, or to wherever its output was redirected, else show a box.
void Say(const std::string& text, bool error) {
    const DWORD which = error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    HANDLE out = GetStdHandle(which);
    bool attached = false;
    if (out == nullptr || out == INVALID_HANDLE_VALUE || GetFileType(out) == FILE_TYPE_UNKNOWN) {
        attached = AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
        out = attached ? CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr)
                       : INVALID_HANDLE_VALUE;
    }
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        busdesk::win32::RussianMessageBox(
            nullptr, Wide(text), Wide(busdesk::msg::kAppTitle),
            static_cast<UINT>(MB_OK | (error ? MB_ICONSTOP : MB_ICONINFORMATION)));
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        const std::wstring w = Wide(text);
        WriteConsoleW(out, w.data(), static_cast<DWORD>(w.size()), &written, nullptr);
    } else {
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    if (attached) {
        CloseHandle(out);
        FreeConsole();
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
    using namespace busdesk::engine;
    const std::vector<std::string> args = Arguments();
    Options options = ParseCommandLine(args);
    if (!options.error.empty()) {
        Say(busdesk::cmdline::MistakeText("busdesk", options.error), true);
        return kExitUsage;
    }
    if (options.help || options.version) {
        Say(options.help ? UsageText() : VersionText(), false);
        return 0;
    }
    if (options.listPorts) {
        Say(PortListText(options.ports), false);
        return 0;
    }

    // Only the classes the windows use: the status bar and tool tips, the
    // progress bar, the themed standard controls.
    INITCOMMONCONTROLSEX icc{sizeof icc,
                             ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);

    // Declared before the window so the demo bus outlives the engine that talks to it.
    PortSetup ports(std::move(options.ports), options.rs485);
    if (options.demo && !ports.StartDemo()) {
        Say("busdesk: " + ports.Error() + "\n", true);
        return kExitFailed;
    }

    if (!options.journal.empty() && !ports.OpenJournal(options.journal)) {
        Say("busdesk: " + ports.Error() + "\n", true);
        return kExitFailed;
    }

    busdesk::win32::MainWindow window(ports.Factory(),
                                      WithCommandLine(ports.EngineOptions(), options));
    if (!window.Create(show)) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (window.TakeAccessKey(msg)) continue;
        if (window.Handle() != nullptr && IsDialogMessageW(window.Handle(), &msg)) continue;
        if (window.TrendHandle() != nullptr && IsDialogMessageW(window.TrendHandle(), &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
