#pragma once
// The names in a folder as the system itself lists them, in UTF-8.

#ifdef _WIN32
#include <windows.h>
// Left from 16-bit Windows; they would take plain names in the tests.
#undef far
#undef near
#else
#include <dirent.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/file_path.h"

namespace busdesk::testing {

// The system's temporary folder in UTF-8, whatever the ANSI code page.
inline std::string TempFolderUtf8() {
    const std::filesystem::path p = std::filesystem::temp_directory_path();
#ifdef _WIN32
    return engine::FromNativePath(p.wstring());
#else
    return p.string();
#endif
}

// Listed with the wide call on Windows, so a name the narrow calls mangled
// shows up mangled here rather than converted back.
inline std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
#ifdef _WIN32
    const std::optional<engine::NativePath> pattern = engine::ToNativePath(folder + "\\*");
    if (!pattern) return names;
    WIN32_FIND_DATAW found{};
    HANDLE h = FindFirstFileW(pattern->c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(engine::FromNativePath(name));
    } while (FindNextFileW(h, &found));
    FindClose(h);
#else
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return names;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
#endif
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace busdesk::testing
