#pragma once
// File calls on a UTF-8 path, in the form each platform needs.

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

namespace busdesk::engine {

// Every path in BusDesk is UTF-8. Windows' narrow calls would read it in the
// ANSI code page and make another name of it, so there it goes as UTF-16;
// POSIX takes the bytes as they are.
#ifdef _WIN32
using NativePath = std::wstring;
using PathStat = struct _stat;
#else
using NativePath = std::string;
using PathStat = struct stat;
#endif

// Empty when the path is no valid UTF-8 (Windows only: POSIX names are bytes).
std::optional<NativePath> ToNativePath(const std::string& utf8);
// Back to UTF-8, for names the system lists.
std::string FromNativePath(const NativePath& native);
// Empty when the path is no valid UTF-8.
std::optional<std::filesystem::path> ToFsPath(const std::string& utf8);

// As open/_open, stat/_stat, remove and rename: -1 (false) with errno set on
// failure, EILSEQ for a path that is no valid UTF-8.
int OpenPath(const std::string& path, int flags, int mode = 0);
int PathStatus(const std::string& path, PathStat& st);
int RemovePath(const std::string& path);
// Puts `from` in the place of `to`, replacing a file there.
bool ReplacePath(const std::string& from, const std::string& to);

}  // namespace busdesk::engine
