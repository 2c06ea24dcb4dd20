// busdesk-cli's messages in a Windows console: the bytes are UTF-8, the
// console shows them in its own code page unless switched.
#include "cli/console.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

using busdesk::cli::Utf8Console;

constexpr UINT kOem = 866;  // a Russian system's console code page

// A console of the test's own, as cmd.exe would give busdesk-cli.
class Utf8ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Started with its output redirected, the test may have no console,
        // or one that is only a pipe: it takes a console of its own.
        if (GetConsoleOutputCP() == 0) {
            FreeConsole();
            AllocConsole();
        }
        original_ = GetConsoleOutputCP();
        if (original_ == 0) GTEST_SKIP() << "no console to be had here (Wine without a terminal)";
    }
    void TearDown() override { SetConsoleOutputCP(original_); }

  private:
    UINT original_ = 0;
};

// What the console shows after `bytes` were written to it as std::cout writes
// them: through WriteFile, in the console's output code page.
std::wstring Shown(const std::string& bytes, std::size_t chars) {
    HANDLE buffer =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (buffer == INVALID_HANDLE_VALUE) return L"<no screen buffer>";
    DWORD n = 0;
    WriteFile(buffer, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    std::wstring shown(chars, L' ');
    ReadConsoleOutputCharacterW(buffer, shown.data(), static_cast<DWORD>(chars), COORD{0, 0}, &n);
    shown.resize(n);
    CloseHandle(buffer);
    return shown;
}

const std::string kDone = "готово: найдены адреса: 1 5 7";
const std::wstring kDoneWide = L"готово: найдены адреса: 1 5 7";

TEST_F(Utf8ConsoleTest, RussianReadsRightWhileHeldAndTheCodePageComesBackAfter) {
    ASSERT_TRUE(SetConsoleOutputCP(kOem));
    // Without the switch the console shows other letters: the fault mended.
    EXPECT_NE(Shown(kDone, kDoneWide.size()), kDoneWide);
    {
        const Utf8Console console;
        EXPECT_EQ(GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
        EXPECT_EQ(console.Previous(), kOem);
        EXPECT_EQ(Shown(kDone, kDoneWide.size()), kDoneWide);
    }
    // The console outlives the program: the next program finds it as it was.
    EXPECT_EQ(GetConsoleOutputCP(), kOem);
}

TEST_F(Utf8ConsoleTest, AConsoleAlreadyInUtf8IsLeftAsItIs) {
    ASSERT_TRUE(SetConsoleOutputCP(CP_UTF8));
    {
        const Utf8Console console;
        EXPECT_EQ(console.Previous(), 0u);
        EXPECT_EQ(GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
    }
    EXPECT_EQ(GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
}

}  // namespace
