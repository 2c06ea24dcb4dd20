#include "win32/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace busdesk::win32 {
namespace {

struct Case {
    const wchar_t* line;
    std::vector<std::wstring> args;
};

// What the system's splitter gives for each line (its documented table and
// the quote runs it is known for).
TEST(SplitArguments, FollowsTheSystemsRules) {
    const Case cases[] = {
        // The program's name: quoted (spaces, no backslash rules) or up to a blank.
        {LR"("C:\Program Files\BusDesk\busdesk.exe" --demo)", {L"--demo"}},
        {LR"(C:\BusDesk\busdesk.exe --demo)", {L"--demo"}},
        {LR"("C:\a\\"--demo)", {L"--demo"}},  // glued to the closing quote
        {LR"(busdesk.exe)", {}},
        {L"busdesk.exe \t ", {}},
        {L"", {}},
        {LR"("unterminated name --demo)", {}},
        // Blanks.
        {L"x.exe\t--port  COM3\t\t--demo ", {L"--port", L"COM3", L"--demo"}},
        {LR"(x.exe "" x "")", {L"", L"x", L""}},
        // Quotes and backslashes.
        {LR"(x.exe "a b c" d e)", {L"a b c", L"d", L"e"}},
        {LR"(x.exe "ab\"c" "\\" d)", {L"ab\"c", L"\\", L"d"}},
        {LR"(x.exe a\\\b d"e f"g h)", {L"a\\\\\\b", L"de fg", L"h"}},
        {LR"(x.exe a\\\"b c d)", {L"a\\\"b", L"c", L"d"}},
        {LR"(x.exe a\\\\"b c" d e)", {L"a\\\\b c", L"d", L"e"}},
        {LR"(x.exe C:\dir\ "C:\a b\\" tail\)", {L"C:\\dir\\", L"C:\\a b\\", L"tail\\"}},
        {LR"(x.exe "unterminated arg)", {L"unterminated arg"}},
        // Quote runs: "" inside quotes is a literal quote and closes them.
        {LR"(x.exe a"b"" c d)", {L"ab\"", L"c", L"d"}},
        {LR"(x.exe """)", {L"\""}},
        {LR"(x.exe """" x)", {L"\" x"}},
        {LR"(x.exe """""" x)", {L"\"\"", L"x"}},
        {LR"(x.exe "a""b c")", {L"a\"b", L"c"}},
        // Non-ASCII passes through as it is.
        {LR"(x.exe --journal "C:\Журнал дня\j.txt")", {L"--journal", L"C:\\Журнал дня\\j.txt"}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitArguments(c.line), c.args) << c.line;
}

}  // namespace
}  // namespace busdesk::win32
