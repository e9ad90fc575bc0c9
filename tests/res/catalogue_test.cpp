// The native catalogue: the texts whose exact characters are easy to lose
// (blanks, line breaks, non-ASCII letters), the web addresses of 40034, and the
// ids that must stay without text. The full comparison with res/messages.json is
// done by compare_catalogue.py on the dump of this same table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "res/catalogue.h"
#include "res/resource.h"

namespace {

using enum CatalogueLanguage;

std::wstring Text(std::uint16_t id, CatalogueLanguage language) {
    const wchar_t* text = CatalogueText(id, language);
    return text ? text : L"<none>";
}

struct Fragment {
    std::uint16_t id;
    CatalogueLanguage language;
    const wchar_t* fragment;
};

// Each fragment pins one detail that a retyping or an encoding step would lose.
constexpr Fragment kFragments[] = {
    {IDS_READY, English, L"'Update'-Button.\r\n\r\n!!!  NOTE: Do not"},
    {IDS_READY, English, L"no longer function  !!!"},
    {IDS_READY, German, L"zu \u00fcbertragen.\r\n\r\n!!! Bitte"},
    {IDS_READY, German, L"PC<=>Programmiereinheit w\u00e4hrend"},
    {IDS_HINT, English, L"cable required. \r\nThe STRATO-9"},
    {IDS_HINT, English, L"\r\n\r\n 2.)\r\nConnect"},
    {IDS_HINT, English, L"\r\n 3.)\r\n Now connect"},
    {IDS_HINT, English, L"\r\n 4.)\r\n If the"},
    {IDS_HINT, German, L"BEC-Kabel erforderlich. \r\nDer STRATO-9 ben\u00f6tigt"},
    {IDS_HINT, German, L"anschlie\u00dfend"},
    {IDS_HINT, German, L"Ihrem Windows\u2122PC."},
    {IDS_REGISTER_FAILED, English, L"cannot be detected.The program is closed."},
    {IDS_REGISTER_FAILED, German, L"Ger\u00e4te-Meldungshandlers. Neue Ger\u00e4te am USB Port k\u00f6nnen"},
    {IDS_OLDER_FIRMWARE, English, L"firmware version.  If you continue"},
    {IDS_OLDER_FIRMWARE, German, L"m\u00f6chten, ist \u00e4lter"},
    {IDS_INCOMPATIBLE_ESC, English, L"with the type '%s'. Other"},
    {IDS_INCOMPATIBLE_ESC, English, L"QUORVEX website (www.quorvex.example) to see"},
    {IDS_INCOMPATIBLE_ESC, German, L"des Typs '%s' aktualisieren"},
    {IDS_INCOMPATIBLE_ESC, German, L"l\u00e4\u00dft sich ausschlie\u00dflich"},
    {IDS_INCOMPATIBLE_ESC, German, L"Website unter https://www.quorvex.example nach, ob"},
    {IDS_ERROR_CODE_LINE, English, L"errorcode: 0x%08x-0x%08x"},
    {IDS_ERROR_CODE_LINE, German, L"Fehlercode 0x%08x-0x%08x"},
};

TEST(Catalogue, TextsKeepTheirExactCharacters) {
    for (const Fragment& f : kFragments) {
        EXPECT_NE(Text(f.id, f.language).find(f.fragment), std::wstring::npos)
            << "id " << f.id << " lacks: " << testing::PrintToString(std::wstring(f.fragment));
    }
}

TEST(Catalogue, WholeShortTexts) {
    struct Whole { std::uint16_t id; const wchar_t* english; const wchar_t* german; };
    constexpr Whole kWhole[] = {
        {IDS_UPDATE_FAILED_CAPTION, L"Update failed!", L"Update fehlgeschlagen!"},
        {IDS_APP_ERROR_CAPTION, L"Error in the application.", L"Fehler in der Anwendung"},
        {IDS_NEWER_FIRMWARE_CAPTION, L"Newer firmware found.", L"Neuere Firmware gefunden"},
        {IDS_PROGRESS_CAPTION, L"Firmware update in progress, please wait...",
         L"Firmware wird geschrieben, bitte warten..."},
        {IDS_INCOMPATIBLE_CAPTION, L"ESC incompatible", L"Regler inkompatibel"},
        {IDS_CONFIRM_CAPTION, L"important note", L"Wichtiger Hinweis"},
        {IDS_UNIT_LABEL, L"programming unit", L"Programmiereinheit"},
        {IDS_BOOTLOADER_LABEL, L"ESC-bootloader", L"Regler-Bootloader"},
        {IDS_ESC_LABEL, L"ESC", L"Regler"},
    };
    for (const Whole& w : kWhole) {
        EXPECT_EQ(Text(w.id, English), w.english) << w.id;
        EXPECT_EQ(Text(w.id, German), w.german) << w.id;
    }
}

TEST(Catalogue, LengthsOfTheLongTexts) {
    // The quoted texts: German 40001 is the longest, and the longest status with
    // hint (German 40035 + CR LF CR LF + German 40001) fits the 2048 buffer.
    EXPECT_EQ(Text(IDS_HINT, German).size(), 781u);
    EXPECT_EQ(Text(IDS_INCOMPATIBLE_STATUS, German).size(), 212u);
    std::size_t longest = 0;
    for (const CatalogueEntry& e : CatalogueEntries()) {
        longest = std::max({longest, std::wstring(e.english).size(), std::wstring(e.german).size()});
    }
    EXPECT_EQ(longest, Text(IDS_HINT, German).size());
    EXPECT_LT(Text(IDS_INCOMPATIBLE_STATUS, German).size() + 4 + Text(IDS_HINT, German).size(), 2048u);
}

TEST(Catalogue, LineBreaksAreAlwaysCrLf) {
    for (const CatalogueEntry& e : CatalogueEntries()) {
        for (const std::wstring& text : {std::wstring(e.english), std::wstring(e.german)}) {
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] == L'\r') {
                    EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == L'\n') << e.id;
                }
                if (text[i] == L'\n') {
                    EXPECT_TRUE(i > 0 && text[i - 1] == L'\r') << e.id;
                }
                EXPECT_FALSE(text[i] < L' ' && text[i] != L'\r' && text[i] != L'\n') << e.id;
            }
        }
    }
}

TEST(Catalogue, ExactlyTheIdsWithTextHaveOne) {
    constexpr std::uint16_t kWithText[] = {40000, 40001, 40002, 40008, 40009, 40011, 40012, 40015,
                                           40016, 40017, 40020, 40022, 40023, 40025, 40026, 40027,
                                           40028, 40029, 40030, 40032, 40033, 40034, 40035, 40036,
                                           40037, 40038, 40039, 40040, 40041, 40042, 40043, 40044};
    ASSERT_EQ(CatalogueEntries().size(), std::size(kWithText));
    std::size_t next = 0;
    for (const CatalogueEntry& e : CatalogueEntries()) {
        EXPECT_EQ(e.id, kWithText[next++]) << "entries out of order or unexpected id";
    }
    // Ids of texts we do not have, gaps in 40000-40044, and the rest of the blocks.
    for (std::uint32_t id = 0; id <= 0xFFFF; ++id) {
        if (std::find(std::begin(kWithText), std::end(kWithText), id) != std::end(kWithText)) {
            EXPECT_NE(CatalogueText(static_cast<std::uint16_t>(id), English), nullptr) << id;
            EXPECT_NE(CatalogueText(static_cast<std::uint16_t>(id), German), nullptr) << id;
        } else {
            EXPECT_EQ(CatalogueText(static_cast<std::uint16_t>(id), English), nullptr) << id;
            EXPECT_EQ(CatalogueText(static_cast<std::uint16_t>(id), German), nullptr) << id;
        }
    }
}

}  // namespace
