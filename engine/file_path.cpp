#include "engine/file_path.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace busdesk::engine {

#ifdef _WIN32

std::optional<NativePath> ToNativePath(const std::string& utf8) {
    if (utf8.empty()) return NativePath{};
    // Refused rather than mended: a replacement character would name another file.
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                      static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return std::nullopt;
    NativePath out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        out.data(), n);
    return out;
}

std::string FromNativePath(const NativePath& native) {
    if (native.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, native.data(), static_cast<int>(native.size()),
                                      nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, native.data(), static_cast<int>(native.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

int OpenPath(const std::string& path, int flags, int mode) {
    const std::optional<NativePath> p = ToNativePath(path);
    if (!p) {
        errno = EILSEQ;
        return -1;
    }
    return ::_wopen(p->c_str(), flags, mode);
}

int PathStatus(const std::string& path, PathStat& st) {
    const std::optional<NativePath> p = ToNativePath(path);
    if (!p) {
        errno = EILSEQ;
        return -1;
    }
    return ::_wstat(p->c_str(), &st);
}

int RemovePath(const std::string& path) {
    const std::optional<NativePath> p = ToNativePath(path);
    if (!p) {
        errno = EILSEQ;
        return -1;
    }
    return ::_wremove(p->c_str());
}

bool ReplacePath(const std::string& from, const std::string& to) {
    const std::optional<NativePath> f = ToNativePath(from);
    const std::optional<NativePath> t = ToNativePath(to);
    if (!f || !t) {
        errno = EILSEQ;
        return false;
    }
    // rename() on Windows refuses to replace an existing file.
    if (MoveFileExW(f->c_str(), t->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = EACCES;
    return false;
}

#else

std::optional<NativePath> ToNativePath(const std::string& utf8) {
    return utf8;
}

std::string FromNativePath(const NativePath& native) {
    return native;
}

int OpenPath(const std::string& path, int flags, int mode) {
    return ::open(path.c_str(), flags, mode);
}

int PathStatus(const std::string& path, PathStat& st) {
    return ::stat(path.c_str(), &st);
}

int RemovePath(const std::string& path) {
    return std::remove(path.c_str());
}

bool ReplacePath(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

#endif

std::optional<std::filesystem::path> ToFsPath(const std::string& utf8) {
    // From the native form, never from the std::string itself: on Windows that
    // constructor reads the ANSI code page.
    std::optional<NativePath> p = ToNativePath(utf8);
    if (!p) return std::nullopt;
    return std::filesystem::path(std::move(*p));
}

}  // namespace busdesk::engine
