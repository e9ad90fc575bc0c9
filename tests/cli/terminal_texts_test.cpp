// The texts the terminal program builds itself: the progress line, the JSON of the
// status command, and the conversion between the catalogue's wide text and UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "cli/progress_line.h"
#include "cli/status_json.h"
#include "cli/terminal_text.h"
#include "res/catalogue.h"
#include "res/terminal_texts.h"

namespace {

// ---- progress line ----

TEST(ProgressBar, FillsThirtyMarksInProportionAndStopsAtFull) {
    const struct {
        std::uint32_t percent;
        const wchar_t* bar;
    } cases[] = {
        {0, L"[------------------------------]"},
        {3, L"[------------------------------]"},
        {4, L"[#-----------------------------]"},
        {50, L"[###############---------------]"},
        {99, L"[#############################-]"},
        {100, L"[##############################]"},
        {250, L"[##############################]"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.percent);
        EXPECT_EQ(ProgressBar(test.percent), test.bar);
    }
}

TEST(DurationText, MinutesAndTwoDigitSeconds) {
    const struct {
        std::uint64_t seconds;
        const wchar_t* text;
    } cases[] = {
        {0, L"0:00"},   {9, L"0:09"},     {59, L"0:59"},     {60, L"1:00"},
        {61, L"1:01"},  {599, L"9:59"},   {600, L"10:00"},   {3725, L"62:05"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.seconds);
        EXPECT_EQ(DurationText(test.seconds), test.text);
    }
}

TEST(ProgressText, BarPercentBlocksAndTheTimeLeftAtThePaceSoFar) {
    const std::wstring format = TerminalText(TXT_PROGRESS, CatalogueLanguage::English);
    const struct {
        const char* label;
        TransferProgress progress;
        const wchar_t* text;
    } cases[] = {
        {"before the first block", {0, 0, 2037, 0},
         L"[------------------------------] 0%  0/2037 blocks  -:-- left"},
        {"time passed, still no block", {0, 0, 2037, 5'000'000},
         L"[------------------------------] 0%  0/2037 blocks  -:-- left"},
        {"half way", {50, 1000, 2000, 20'000'000},
         L"[###############---------------] 50%  1000/2000 blocks  0:20 left"},
        {"parts of a second are dropped", {50, 1, 2, 1'999'999},
         L"[###############---------------] 50%  1/2 blocks  0:01 left"},
        {"over nine minutes", {10, 100, 1000, 70'000'000},
         L"[###---------------------------] 10%  100/1000 blocks  10:30 left"},
        {"all sent", {100, 2037, 2037, 40'720'000},
         L"[##############################] 100%  2037/2037 blocks  0:00 left"},
        {"more sent than counted", {100, 2038, 2037, 40'720'000},
         L"[##############################] 100%  2038/2037 blocks  -:-- left"},
        {"a long transfer does not overflow", {1, 1, 100, 3'600'000'000},
         L"[------------------------------] 1%  1/100 blocks  5940:00 left"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.label);
        EXPECT_EQ(ProgressText(format, test.progress), test.text);
    }
}

TEST(ProgressText, GermanLine) {
    const TransferProgress progress{50, 1000, 2000, 20'000'000};
    EXPECT_EQ(ProgressText(TerminalText(TXT_PROGRESS, CatalogueLanguage::German), progress),
              L"[###############---------------] 50%  1000/2000 Bl\u00f6cke  noch 0:20");
}

TEST(PassesTenth, OnlyWhenTheTensDigitGrows) {
    const struct {
        std::uint32_t before;
        std::uint32_t now;
        bool passes;
    } cases[] = {
        {0, 0, false},  {0, 9, false},   {0, 10, true},   {9, 10, true},    {10, 10, false},
        {10, 19, false}, {19, 20, true}, {18, 35, true},  {90, 99, false},  {99, 100, true},
        {100, 100, false}, {20, 10, false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(std::to_string(test.before) + " -> " + std::to_string(test.now));
        EXPECT_EQ(PassesTenth(test.before, test.now), test.passes);
    }
}

// ---- JSON ----

TEST(JsonString, EscapesWhatJsonRequiresAndKeepsTheRest) {
    const struct {
        const char* label;
        std::wstring text;
        std::wstring json;
    } cases[] = {
        {"empty", L"", L"\"\""},
        {"plain", L"TUNE-BOX", L"\"TUNE-BOX\""},
        {"quotes", L"click on the 'Update'-Button \"now\"", L"\"click on the 'Update'-Button \\\"now\\\"\""},
        {"backslash", L"C:\\orvanta\\", L"\"C:\\\\orvanta\\\\\""},
        {"catalogue line break", L"one\r\ntwo\r\n\r\nthree", L"\"one\\ntwo\\n\\nthree\""},
        {"lone line feed", L"a\nb", L"\"a\\nb\""},
        {"lone carriage return", L"a\rb", L"\"a\\rb\""},
        {"carriage return at the end", L"a\r", L"\"a\\r\""},
        {"tab", L"a\tb", L"\"a\\tb\""},
        {"other control characters", std::wstring(L"\x01-\x1f-") + L'\0', L"\"\\u0001-\\u001f-\\u0000\""},
        {"escape and delete", L"\x1b[K\x7f", L"\"\\u001b[K\x7f\""},
        {"not ASCII", L"Bl\u00f6cke \u20ac \u00df", L"\"Bl\u00f6cke \u20ac \u00df\""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.label);
        EXPECT_EQ(JsonString(test.text), test.json);
    }
}

TEST(StatusJson, OneObjectWithNullForWhatIsNotThere) {
    StatusReport noUnit;
    noUnit.status = 40017;
    noUnit.exitStatus = 2;
    noUnit.text = L"No unit.";
    noUnit.hint = L"1.)\r\nPlug it in.";
    noUnit.unitVersion = L"0.0.0";
    noUnit.bootloaderVersion = L"0.0.0";
    noUnit.escVersion = L"0.0.0";
    EXPECT_EQ(StatusJson(noUnit),
              L"{\"status\":40017,\"exitStatus\":2,\"text\":\"No unit.\",\"hint\":\"1.)\\nPlug it in.\","
              L"\"message\":null,\"permissionDenied\":false,\"unitInUse\":false,\"unit\":null,"
              L"\"versions\":{\"unit\":\"0.0.0\",\"bootloader\":\"0.0.0\",\"esc\":\"0.0.0\"}}");

    StatusReport ready;
    ready.status = 40000;
    ready.exitStatus = 0;
    ready.text = L"Ready \"now\".";
    ready.unitOpen = true;
    ready.productId = 2;
    ready.unitName = L"TUNE-BOX";
    ready.unitVersion = L"2.3";
    ready.bootloaderVersion = L"1.0.5";
    ready.escVersion = L"3.2";
    EXPECT_EQ(StatusJson(ready),
              L"{\"status\":40000,\"exitStatus\":0,\"text\":\"Ready \\\"now\\\".\",\"hint\":null,"
              L"\"message\":null,\"permissionDenied\":false,\"unitInUse\":false,\"unit\":{\"name\":\"TUNE-BOX\",\"productId\":2},"
              L"\"versions\":{\"unit\":\"2.3\",\"bootloader\":\"1.0.5\",\"esc\":\"3.2\"}}");

    StatusReport denied;
    denied.status = 40017;
    denied.exitStatus = 8;
    denied.message = L"Only 'ORVANTA 90'.";
    denied.permissionDenied = true;
    denied.unitVersion = L"0.0.0";
    denied.bootloaderVersion = L"0.0.0";
    denied.escVersion = L"----------";
    EXPECT_EQ(StatusJson(denied),
              L"{\"status\":40017,\"exitStatus\":8,\"text\":null,\"hint\":null,\"message\":\"Only 'ORVANTA 90'.\","
              L"\"permissionDenied\":true,\"unitInUse\":false,\"unit\":null,"
              L"\"versions\":{\"unit\":\"0.0.0\",\"bootloader\":\"0.0.0\",\"esc\":\"----------\"}}");

    StatusReport inUse = denied;
    inUse.exitStatus = 6;
    inUse.message.clear();
    inUse.permissionDenied = false;
    inUse.unitInUse = true;
    EXPECT_EQ(StatusJson(inUse),
              L"{\"status\":40017,\"exitStatus\":6,\"text\":null,\"hint\":null,\"message\":null,"
              L"\"permissionDenied\":false,\"unitInUse\":true,\"unit\":null,"
              L"\"versions\":{\"unit\":\"0.0.0\",\"bootloader\":\"0.0.0\",\"esc\":\"----------\"}}");
}

// ---- wide text and UTF-8 ----

TEST(TerminalUtf8, EncodesAndTurnsCatalogueLineBreaksIntoLineFeeds) {
    const struct {
        const char* label;
        std::wstring text;
        std::string utf8;
    } cases[] = {
        {"ASCII", L"orvanta-cli", "orvanta-cli"},
        {"umlauts", L"Bl\u00f6cke f\u00fcr \u00c4rger \u00df", "Bl\xc3\xb6" "cke f\xc3\xbc" "r \xc3\x84rger \xc3\x9f"},
        {"three bytes", L"\u20ac \ufffd", "\xe2\x82\xac \xef\xbf\xbd"},
        {"CR LF", L"one\r\ntwo\r\n\r\n", "one\ntwo\n\n"},
        {"lone CR and LF kept", L"a\rb\nc\r", "a\rb\nc\r"},
        {"lone surrogate", std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x", "\xef\xbf\xbdx"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.label);
        EXPECT_EQ(TerminalUtf8(test.text), test.utf8);
    }
}

TEST(TerminalUtf8, CharacterOutsideTheBasicPlane) {
    std::wstring text;
    if constexpr (sizeof(wchar_t) == 2) {
        text = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    } else {
        text = {static_cast<wchar_t>(0x1F600)};
    }
    EXPECT_EQ(TerminalUtf8(text), "\xf0\x9f\x98\x80");
    EXPECT_EQ(WideFromUtf8("\xf0\x9f\x98\x80"), text);
}

TEST(WideFromUtf8, DecodesAndReplacesMalformedBytes) {
    const struct {
        const char* label;
        std::string utf8;
        std::wstring text;
    } cases[] = {
        {"ASCII", "unit.log", L"unit.log"},
        {"umlauts", "Protokoll-\xc3\xa4\xc3\xb6\xc3\xbc.log", L"Protokoll-\u00e4\u00f6\u00fc.log"},
        {"euro", "\xe2\x82\xac", L"\u20ac"},
        {"byte that never starts a character", "a\xff" "b", L"a\ufffd" L"b"},
        {"lone continuation byte", "\x80", L"\ufffd"},
        {"cut at the end", "ab\xc3", L"ab\ufffd"},
        {"cut before an ASCII character", "\xc3(", L"\ufffd("},
        {"overlong slash", "\xc0\xaf", L"\ufffd\ufffd"},
        {"encoded surrogate", "\xed\xa0\x80", L"\ufffd\ufffd\ufffd"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", L"\ufffd\ufffd\ufffd\ufffd"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.label);
        EXPECT_EQ(WideFromUtf8(test.utf8), test.text);
    }
}

TEST(TerminalText, CatalogueTextsReachTheTerminalAsUtf8AndBack) {
    const struct {
        std::uint16_t id;
        CatalogueLanguage language;
        std::string utf8;
    } cases[] = {
        {TXT_PROMPT, CatalogueLanguage::English, "Continue? [y/N] "},
        {TXT_PROMPT, CatalogueLanguage::German, "Fortfahren? [j/N] "},
        {TXT_PROGRESS, CatalogueLanguage::German, "%s %u%%  %u/%u Bl\xc3\xb6" "cke  noch %s"},
        {TXT_SHORT_USAGE, CatalogueLanguage::English,
         "Usage: orvanta-cli [--lang en|de] [--log FILE] status [--json] | update [--yes] | watch\n"
         "More: orvanta-cli --help"},
        {TXT_CANCELLED, CatalogueLanguage::German,
         "Abgebrochen: an die Programmiereinheit wurde nichts gesendet."},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.id);
        const wchar_t* text = TerminalText(test.id, test.language);
        ASSERT_NE(text, nullptr);
        const std::string utf8 = TerminalUtf8(text);
        EXPECT_EQ(utf8, test.utf8);
        // Back as the program reads its arguments: the same text but for the line breaks.
        std::wstring expected = text;
        for (std::size_t at; (at = expected.find(L"\r\n")) != std::wstring::npos;) {
            expected.erase(at, 1);
        }
        EXPECT_EQ(WideFromUtf8(utf8), expected);
    }
    EXPECT_EQ(TerminalText(40000, CatalogueLanguage::English), nullptr) << "a dialog text is no terminal text";
}

}  // namespace
