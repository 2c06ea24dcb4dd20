#pragma once

#include <string>
#include <string_view>

namespace busdesk::win32 {

// The model speaks UTF-8; the window speaks UTF-16.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
// Line breaks as a Win32 edit box shows them: every CR, LF or CR LF becomes CR LF.
std::wstring CrLf(std::wstring_view text);

}  // namespace busdesk::win32
