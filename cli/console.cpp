#include "cli/console.h"

#include <iostream>
#include <streambuf>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace busdesk::cli {

#ifdef _WIN32

namespace {

// How many bytes at the end of `s` begin a UTF-8 sequence that is not
// complete yet: they wait for the next write.
std::size_t IncompleteTail(const std::string& s) {
    const std::size_t n = s.size();
    for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(s[n - back]);
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

}  // namespace

class ConsoleBuffer : public std::streambuf {
  public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}
    ~ConsoleBuffer() override { sync(); }

  protected:
    int_type overflow(int_type ch) override {
        if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
        pending_ += traits_type::to_char_type(ch);
        if (ch == '\n' || pending_.size() >= 4096) Write();
        return ch;
    }

    std::streamsize xsputn(const char* s, std::streamsize n) override {
        pending_.append(s, static_cast<std::size_t>(n));
        if (pending_.size() >= 4096) Write();
        return n;
    }

    int sync() override {
        Write();
        return 0;
    }

  private:
    void Write() {
        const std::size_t whole = pending_.size() - IncompleteTail(pending_);
        if (whole == 0) return;
        const int chars =
            MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(whole), nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(chars), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(whole), wide.data(),
                            chars);
        DWORD written = 0;
        WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        pending_.erase(0, whole);
    }

    HANDLE console_;
    std::string pending_;
};

namespace {

std::unique_ptr<ConsoleBuffer> ForConsole(DWORD which, std::ostream& stream,
                                          std::streambuf*& previous) {
    HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    // GetConsoleMode fails for files, pipes and no handle at all.
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return nullptr;
    stream.flush();
    auto buffer = std::make_unique<ConsoleBuffer>(handle);
    previous = stream.rdbuf(buffer.get());
    return buffer;
}

}  // namespace

Utf8Console::Utf8Console() {
    out_ = ForConsole(STD_OUTPUT_HANDLE, std::cout, previousOut_);
    err_ = ForConsole(STD_ERROR_HANDLE, std::cerr, previousErr_);
}

Utf8Console::~Utf8Console() {
    if (out_) {
        std::cout.flush();
        std::cout.rdbuf(previousOut_);
    }
    if (err_) {
        std::cerr.flush();
        std::cerr.rdbuf(previousErr_);
    }
}

#else

class ConsoleBuffer {};

Utf8Console::Utf8Console() = default;
Utf8Console::~Utf8Console() = default;

#endif

}  // namespace busdesk::cli
