#include "win32/text.h"

#include <gtest/gtest.h>

#include <string>

namespace busdesk::win32 {
namespace {

TEST(Win32Text, LineBreaksBecomeCrLf) {
    const struct {
        std::wstring in, out;
    } cases[] = {
        {L"", L""},
        {L"a\r\nb", L"a\r\nb"},
        {L"a\nb", L"a\r\nb"},
        {L"a\rb", L"a\r\nb"},
        {L"\n\n", L"\r\n\r\n"},
        {L"\r\r\n", L"\r\n\r\n"},  // a lone CR, then a pair: two breaks, not three
        {L"31 1 F0\r\n\r\n", L"31 1 F0\r\n\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(CrLf(c.in), c.out);
}

TEST(Win32Text, Utf8RoundTripsCyrillicAndAstral) {
    for (const std::string s : {"", "COM1:", "Установить Полны&й", "цццц", "\xF0\x9F\x94\x8C"}) {
        EXPECT_EQ(Utf8(Wide(s)), s);
    }
    EXPECT_EQ(Wide("Да"), L"Да");
    EXPECT_EQ(Wide("\xF0\x9F\x94\x8C").size(), 2U);  // a surrogate pair
}

}  // namespace
}  // namespace busdesk::win32
