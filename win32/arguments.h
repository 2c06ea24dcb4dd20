#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace busdesk::win32 {

// The arguments after the program's name in a Windows command line, split by
// the rules the system's own splitter (shell32) uses, so that busdesk.exe need
// not load shell32 and what it pulls in at start:
//  - the program's name ends at the next quote when it starts with one, else
//    at the first space or tab; no backslash rules apply to it;
//  - arguments are separated by spaces and tabs outside quotes;
//  - 2n backslashes before a quote give n backslashes and the quote opens or
//    closes a quoted part; 2n+1 give n backslashes and a literal quote;
//    backslashes before anything else are literal;
//  - inside a quoted part, "" gives a literal quote and ends the quoted part
//    (a third quote in a row gives a literal quote each time).
inline std::vector<std::wstring> SplitArguments(std::wstring_view line) {
    std::vector<std::wstring> args;
    std::size_t i = 0;
    const std::size_t n = line.size();
    const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    if (i < n && line[i] == L'"') {
        ++i;
        while (i < n && line[i++] != L'"') {
        }
    } else {
        while (i < n && !blank(line[i])) ++i;
    }
    while (i < n && blank(line[i])) ++i;

    std::wstring arg;
    bool inArg = false;
    int quotes = 0;  // 1 inside a quoted part
    std::size_t slashes = 0;
    for (; i < n; ++i) {
        const wchar_t c = line[i];
        if (blank(c) && quotes == 0) {
            arg.append(slashes, L'\\');
            slashes = 0;
            if (inArg) args.push_back(std::move(arg));
            arg.clear();
            inArg = false;
            while (i + 1 < n && blank(line[i + 1])) ++i;
            continue;
        }
        inArg = true;
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        if (c != L'"') {
            arg.append(slashes, L'\\');
            slashes = 0;
            arg.push_back(c);
            continue;
        }
        arg.append(slashes / 2, L'\\');
        const bool literal = slashes % 2 == 1;
        slashes = 0;
        if (literal) {
            arg.push_back(L'"');
            continue;
        }
        // A run of quotes: counted on from the state before it, every third
        // one is a literal quote.
        ++quotes;
        while (i + 1 < n && line[i + 1] == L'"') {
            ++i;
            if (++quotes == 3) {
                arg.push_back(L'"');
                quotes = 0;
            }
        }
        if (quotes == 2) quotes = 0;
    }
    arg.append(slashes, L'\\');
    if (inArg) args.push_back(std::move(arg));
    return args;
}

}  // namespace busdesk::win32
