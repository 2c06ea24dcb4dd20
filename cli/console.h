#pragma once

#include <iosfwd>
#include <memory>

namespace busdesk::cli {

class ConsoleBuffer;

// Held for the life of main. The messages are UTF-8, and a Windows console
// shows bytes in its own code page (866 on a Russian system), which the C
// runtime may translate once more on the way: Russian comes out as other
// letters. While held, std::cout and std::cerr, where they go to a console,
// write to it as UTF-16 (WriteConsoleW), whatever its code page; redirected
// to a file or a pipe they pass their bytes through unchanged. Does nothing
// off Windows.
class Utf8Console {
  public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;

    // Whether standard output, and standard error, were found to be a console.
    bool Output() const { return out_ != nullptr; }
    bool Error() const { return err_ != nullptr; }

  private:
    std::unique_ptr<ConsoleBuffer> out_;
    std::unique_ptr<ConsoleBuffer> err_;
    std::streambuf* previousOut_ = nullptr;
    std::streambuf* previousErr_ = nullptr;
};

}  // namespace busdesk::cli
