// busdesk-cli's messages in a Windows console: the bytes are UTF-8, the
// console would show them in its own code page.
#include "cli/console.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <iostream>
#include <string>

namespace {

using busdesk::cli::Utf8Console;

const std::string kDone = "готово: найдены адреса: 1 5 7";
const std::wstring kDoneWide = L"готово: найдены адреса: 1 5 7";

// Standard output and error sent to a screen buffer of the test's own, in a
// console set to a Russian system's code page, as cmd.exe would start
// busdesk-cli.
class Utf8ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Started with its output redirected, the test may have no console,
        // or one that is only a pipe: it takes a console of its own.
        if (GetConsoleOutputCP() == 0) {
            FreeConsole();
            AllocConsole();
        }
        originalCp_ = GetConsoleOutputCP();
        if (originalCp_ == 0) GTEST_SKIP() << "no console to be had here (Wine without a terminal)";
        SetConsoleOutputCP(866);
        screen_ = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            CONSOLE_TEXTMODE_BUFFER, nullptr);
        ASSERT_NE(screen_, INVALID_HANDLE_VALUE);
        out_ = GetStdHandle(STD_OUTPUT_HANDLE);
        err_ = GetStdHandle(STD_ERROR_HANDLE);
        SetStdHandle(STD_OUTPUT_HANDLE, screen_);
        SetStdHandle(STD_ERROR_HANDLE, screen_);
    }
    void TearDown() override {
        if (originalCp_ == 0) return;
        SetStdHandle(STD_OUTPUT_HANDLE, out_);
        SetStdHandle(STD_ERROR_HANDLE, err_);
        CloseHandle(screen_);
        SetConsoleOutputCP(originalCp_);
    }

    // The text on the screen buffer's first row, as far as `chars`.
    std::wstring Shown(std::size_t chars) const {
        std::wstring shown(chars, L' ');
        DWORD n = 0;
        ReadConsoleOutputCharacterW(screen_, shown.data(), static_cast<DWORD>(chars), COORD{0, 0},
                                    &n);
        shown.resize(n);
        return shown;
    }

    HANDLE screen_ = INVALID_HANDLE_VALUE;

  private:
    UINT originalCp_ = 0;
    HANDLE out_ = nullptr;
    HANDLE err_ = nullptr;
};

TEST_F(Utf8ConsoleTest, StandardOutputShowsRussianWhateverTheCodePage) {
    std::streambuf* const before = std::cout.rdbuf();
    {
        const Utf8Console console;
        EXPECT_TRUE(console.Output());
        // Cut inside a letter: its first byte waits for the second.
        const std::size_t cut = kDone.find("д") + 1;
        std::cout << kDone.substr(0, cut) << std::flush;
        std::cout << kDone.substr(cut) << std::flush;
        EXPECT_EQ(Shown(kDoneWide.size()), kDoneWide);
    }
    EXPECT_EQ(std::cout.rdbuf(), before) << "std::cout is not given back";
}

TEST_F(Utf8ConsoleTest, StandardErrorTooWithoutAnExplicitFlush) {
    std::streambuf* const before = std::cerr.rdbuf();
    {
        const Utf8Console console;
        EXPECT_TRUE(console.Error());
        std::cerr << kDone;  // std::cerr flushes after each output
        EXPECT_EQ(Shown(kDoneWide.size()), kDoneWide);
    }
    EXPECT_EQ(std::cerr.rdbuf(), before);
}

TEST_F(Utf8ConsoleTest, WhatIsLeftUnflushedIsWrittenWhenReleased) {
    {
        const Utf8Console console;
        std::cout << kDone;
    }
    EXPECT_EQ(Shown(kDoneWide.size()), kDoneWide);
}

// Output for a script, redirected to a pipe or a file, keeps its UTF-8 bytes.
TEST(Utf8Console, RedirectedOutputIsLeftAlone) {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, write);
    std::streambuf* const before = std::cout.rdbuf();
    {
        const Utf8Console console;
        EXPECT_FALSE(console.Output());
        EXPECT_EQ(std::cout.rdbuf(), before);
    }
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    CloseHandle(read);
    CloseHandle(write);
}

}  // namespace
