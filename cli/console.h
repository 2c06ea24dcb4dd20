#pragma once

namespace busdesk::cli {

// Held for the life of main: a Windows console shows output in its own code
// page (866 on a Russian system), so the UTF-8 messages would come out as
// mojibake. Switches the console's output to UTF-8 and restores the code page
// it had when done, since the console outlives the program. Does nothing off
// Windows, with no console (output redirected to a file or a pipe passes the
// bytes through as they are), or when the console is already UTF-8.
class Utf8Console {
  public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;

    // The code page to restore; 0 when nothing was switched.
    unsigned Previous() const { return previous_; }

  private:
    unsigned previous_ = 0;
};

}  // namespace busdesk::cli
