// The text conversions of framework/sys, with the system's own code pages.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "framework/sys/AnsiText.h"

namespace {

// Every system code page, UTF-8 too (which refuses the best-fit flag): a
// value converts exactly or not at all.
TEST(AnsiText, FromUtf8EachCodePageConvertsExactlyOrRefuses)
{
    const struct {
        UINT codePage;
        const char* utf8;
        const char* ansi;  // nullptr: refused
    } cases[] = {
        {936, "\xE6\xA3\x8B\xE6\x89\x8Bone", "\xC6\xE5\xCA\xD6one"},  // 棋手 (sources are GBK)
        {936, "guest\xF0\x9F\x98\x80", nullptr},  // U+1F600, not in GBK
        {65001, "\xE6\xA3\x8B\xE6\x89\x8Bone", "\xE6\xA3\x8B\xE6\x89\x8Bone"},
        {65001, "guest\xF0\x9F\x98\x80", "guest\xF0\x9F\x98\x80"},
        {65001, "\xC3", nullptr},  // not UTF-8
        {1252, "caf\xC3\xA9", "caf\xE9"},
        {1252, "\xEF\xBC\xA1", nullptr},  // U+FF21: a best fit would make it 'A'
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.codePage) + " " + c.utf8);
        std::string ansi = "stale";
        EXPECT_EQ(AnsiFromUtf8(c.utf8, ansi, c.codePage), c.ansi != nullptr);
        if (c.ansi) {
            EXPECT_EQ(ansi, c.ansi);
        }
    }
}

// A surrogate pair is one character; a lone surrogate would silently become
// U+FFFD, so the text is refused.
TEST(AnsiText, Utf8FromWideRefusesOnlyALoneSurrogate)
{
    const struct {
        const wchar_t* wide;
        const char* utf8;  // nullptr: refused
    } cases[] = {
        {L"", ""},
        {L"\x68cb\x624bone", "\xE6\xA3\x8B\xE6\x89\x8Bone"},  // 棋手
        {L"guest\xD83D\xDE00", "guest\xF0\x9F\x98\x80"},
        {L"guest\xD83D", nullptr},
        {L"\xDE00guest", nullptr},
        {L"\xD83D\xD83D\xDE00", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8 ? c.utf8 : "refused");
        std::string utf8 = "stale";
        EXPECT_EQ(Utf8FromWide(c.wide, utf8), c.utf8 != nullptr);
        if (c.utf8) {
            EXPECT_EQ(utf8, c.utf8);
        }
    }
}

}  // namespace
