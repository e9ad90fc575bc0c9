// Filling the wide formats of the title and the catalogue within their buffers.
#include <gtest/gtest.h>

#include <string>

#include "res/text_format.h"

namespace {

TEST(FormatText, FillsTextsAndNumbersInOrder) {
    struct Case {
        const wchar_t* format;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"QUORVEX %s FW Updater %u.%u %s", L"QUORVEX ORVANTA 90 FW Updater 3.3 "},
        {L"%s%s", L"ORVANTA 90"},            // a number offered for "%s" prints as nothing
        {L"100%% %s", L"100% ORVANTA 90"},    // "%%" takes no argument
        {L"%u.%u.%u.%u.%u", L"0.3.3.0."},     // a text offered for "%u" prints 0; past the
                                              // last argument nothing is printed
        {L"%d %x %s", L"%d %x ORVANTA 90"},   // other conversions are not taken as one
        {L"ends in %", L"ends in %"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatText(c.format, {L"ORVANTA 90", 3u, 3u, L""}, 256), c.expected)
            << testing::PrintToString(std::wstring(c.format));
    }
    EXPECT_EQ(FormatText(L"%u", {4294967295u}, 32), L"4294967295");
}

TEST(FormatText, WritesEightLowercaseHexDigits) {
    struct Case {
        const wchar_t* format;
        std::uint32_t first;
        std::uint32_t second;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"0x%08x-0x%08x", 0xFFFFFFFEu, 0x48Fu, L"0xfffffffe-0x0000048f"},
        {L"0x%08x-0x%08x", 0x65Bu, 0u, L"0x0000065b-0x00000000"},
        {L"%08x%%%08x", 0xABCDEF01u, 0x1u, L"abcdef01%00000001"},
        {L"%08x %08x %08x", 1u, 2u, L"00000001 00000002 "},  // a third number was not given
        {L"%8x %x %08", 1u, 2u, L"%8x %x %08"},              // only the exact form converts
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatText(c.format, {c.first, c.second}, 64), c.expected)
            << testing::PrintToString(std::wstring(c.format));
    }
}

TEST(FormatText, StaysWithinItsCapacity) {
    const std::wstring longText(300, L'x');
    const std::wstring title = FormatText(L"QUORVEX %s FW Updater %u.%u %s", {longText, 3u, 3u, L""}, 256);
    EXPECT_EQ(title.size(), 255u);
    EXPECT_EQ(title.substr(0, 8), L"QUORVEX ");
    EXPECT_EQ(FormatText(L"abc", {}, 1), L"");
    EXPECT_EQ(FormatText(L"abc", {}, 0), L"");
    EXPECT_EQ(FormatText(L"abc", {}, 3), L"ab");
}

TEST(AppendBounded, KeepsCapacityMinusOneCharacters) {
    struct Case {
        std::wstring text;
        std::wstring tail;
        std::size_t capacity;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"ab", L"cd", 10, L"abcd"}, {L"ab", L"cd", 4, L"abc"}, {L"ab", L"cd", 3, L"ab"},
        {L"abcd", L"e", 3, L"ab"},   {L"ab", L"", 1, L""},       {L"", L"xyz", 0, L""},
    };
    for (Case c : cases) {
        AppendBounded(c.text, c.tail, c.capacity);
        EXPECT_EQ(c.text, c.expected) << c.capacity;
    }
}

}  // namespace
