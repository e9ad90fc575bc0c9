// The program's resources as Windows' loader sees them: the string tables
// against the catalogue (which compare_catalogue.py holds to res/messages.json),
// dialog 110 as live windows, and the set of resources with their languages.
// Run once per user-interface language: --language=de or --language=en.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "res/catalogue.h"
#include "res/resource.h"

namespace {

CatalogueLanguage uiLanguage = CatalogueLanguage::English;
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL);
constexpr LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
constexpr LANGID kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

HMODULE Module() { return GetModuleHandleW(nullptr); }

const wchar_t* Expected(const CatalogueEntry& entry, CatalogueLanguage language) {
    return language == CatalogueLanguage::German ? entry.german : entry.english;
}

std::vector<LANGID> Languages(LPCWSTR type, LPCWSTR name) {
    std::vector<LANGID> languages;
    EnumResourceLanguagesW(
        Module(), type, name,
        [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out) -> BOOL {
            reinterpret_cast<std::vector<LANGID>*>(out)->push_back(language);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&languages));
    std::sort(languages.begin(), languages.end());
    return languages;
}

// Integer names of every resource of a type; a string name shows as 0xFFFFFFFF.
std::vector<std::uint32_t> Names(LPCWSTR type) {
    std::vector<std::uint32_t> names;
    EnumResourceNamesW(
        Module(), type,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) -> BOOL {
            reinterpret_cast<std::vector<std::uint32_t>*>(out)->push_back(
                IS_INTRESOURCE(name) ? static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(name))
                                     : 0xFFFFFFFFu);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&names));
    std::sort(names.begin(), names.end());
    return names;
}

struct Resource {
    const std::uint8_t* bytes = nullptr;
    DWORD size = 0;
};

Resource Find(LPCWSTR type, WORD id, LANGID language) {
    HRSRC found = FindResourceExW(Module(), type, MAKEINTRESOURCEW(id), language);
    if (!found) return {};
    return {static_cast<const std::uint8_t*>(LockResource(LoadResource(Module(), found))),
            SizeofResource(Module(), found)};
}

// ---------------------------------------------------------------- strings

TEST(UserInterfaceLanguage, IsTheOneThisRunIsFor) {
    const LANGID ui = GetUserDefaultUILanguage();
    if (uiLanguage == CatalogueLanguage::German) {
        EXPECT_EQ(ui, kGerman);
    } else {
        EXPECT_EQ(PRIMARYLANGID(ui), LANG_ENGLISH);
    }
}

TEST(StringTable, LoadStringGivesEachTextOfTheUserInterfaceLanguage) {
    for (const CatalogueEntry& entry : CatalogueEntries()) {
        wchar_t buffer[2048];
        const int length = LoadStringW(Module(), entry.id, buffer, 2048);
        EXPECT_EQ(std::wstring(buffer, std::max(length, 0)), Expected(entry, uiLanguage)) << entry.id;
    }
}

TEST(StringTable, IdsWithoutTextGiveNothing) {
    std::vector<bool> hasText(0x10000);
    for (const CatalogueEntry& entry : CatalogueEntries()) hasText[entry.id] = true;
    for (std::uint32_t id = 0; id <= 0xFFFF; ++id) {
        if (hasText[id]) continue;
        wchar_t buffer[2048] = L"untouched";
        EXPECT_EQ(LoadStringW(Module(), id, buffer, 2048), 0) << id;
    }
}

TEST(StringTable, BothLanguagesHoldEveryTextAndNoOtherLanguageExists) {
    for (const CatalogueEntry& entry : CatalogueEntries()) {
        const WORD block = static_cast<WORD>(entry.id / 16 + 1);
        EXPECT_EQ(Languages(RT_STRING, MAKEINTRESOURCEW(block)), (std::vector<LANGID>{kEnglish, kGerman}));
        for (auto [language, langId] : {std::pair{CatalogueLanguage::English, kEnglish},
                                        std::pair{CatalogueLanguage::German, kGerman}}) {
            const Resource table = Find(RT_STRING, block, langId);
            ASSERT_NE(table.bytes, nullptr) << entry.id;
            const auto* p = reinterpret_cast<const WCHAR*>(table.bytes);
            for (unsigned slot = 0; slot < entry.id % 16u; ++slot) p += 1 + *p;
            EXPECT_EQ(std::wstring(p + 1, *p), Expected(entry, language)) << entry.id;
        }
    }
    EXPECT_EQ(Names(RT_STRING), (std::vector<std::uint32_t>{2501, 2502, 2503}));
}

// ---------------------------------------------------------------- dialog 110

struct Control {
    int id;
    const wchar_t* className;
    const wchar_t* english;
    const wchar_t* german;
    DWORD style;
    DWORD exStyle;
};

constexpr Control kControls[] = {
    {IDCANCEL, L"Button", L"Close", L"Beenden", 0x50030001, 0},
    {IDC_UPDATE, L"Button", L"Update", L"Update", 0x58010000, 0},
    {IDC_UNIT_LABEL, L"Static", L"Firmware 1:", L"Firmware 1:", 0x50020000, 0},
    {IDC_BOOTLOADER_LABEL, L"Static", L"Firmware 2:", L"Firmware 2:", 0x50020000, 0},
    {IDC_UNIT_VERSION, L"Static", L"0.00.00", L"0.00.00", 0x50020000, WS_EX_RIGHT},
    {IDC_BOOTLOADER_VERSION, L"Static", L"0.00.00", L"0.00.00", 0x50020000, WS_EX_RIGHT},
    {IDC_STATUS, L"Edit", L"", L"", 0x50A00844, 0},
    {IDC_STATIC, L"Static", L"Hint:", L"Hinweisfenster:", 0x50020000, 0},
    {IDC_VERSION_GROUP, L"Button", L"Installed firmware version", L"Installierte Firmware Versionen",
     0x50020007, 0},
    {IDC_ESC_LABEL, L"Static", L"Firmware 3:", L"Firmware 3:", 0x50020000, 0},
    {IDC_ESC_VERSION, L"Static", L"0.00.00", L"0.00.00", 0x50020000, WS_EX_RIGHT},
};

// What the dialog manager itself adds to a control it creates from a template:
// every child gets WS_EX_NOPARENTNOTIFY, and a bordered edit control is drawn
// with a sunken client edge instead of WS_BORDER. The template bytes are
// checked exactly by check_pe_resources.py.
constexpr DWORD kAddedExStyle = WS_EX_NOPARENTNOTIFY | WS_EX_CLIENTEDGE;
constexpr DWORD kDroppedStyle = WS_BORDER;

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

std::wstring WindowText(HWND window) {
    wchar_t buffer[256] = {};
    GetWindowTextW(window, buffer, 256);
    return buffer;
}

void ExpectMainDialog(HWND dialog, CatalogueLanguage language) {
    ASSERT_NE(dialog, nullptr);
    const bool german = language == CatalogueLanguage::German;
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(WindowText(dialog), german ? L"QUORVEX Firmware Updater" : L"QUORVEX firmware updater");
    const DWORD style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
    EXPECT_EQ(style & 0xFFFF0000u & ~static_cast<DWORD>(WS_CLIPSIBLINGS), 0x80C80000u) << std::hex << style;

    HWND child = GetWindow(dialog, GW_CHILD);
    for (const Control& expected : kControls) {
        ASSERT_NE(child, nullptr) << "missing control " << expected.id;
        wchar_t className[64] = {};
        GetClassNameW(child, className, 64);
        EXPECT_EQ(GetDlgCtrlID(child), expected.id);
        EXPECT_STREQ(className, expected.className) << expected.id;
        EXPECT_EQ(WindowText(child), german ? expected.german : expected.english) << expected.id;
        const DWORD liveStyle = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
        const DWORD liveExStyle = static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE));
        EXPECT_EQ(liveStyle | (expected.style & kDroppedStyle), expected.style)
            << expected.id << std::hex << " style " << liveStyle;
        EXPECT_EQ(liveExStyle & ~kAddedExStyle, expected.exStyle)
            << expected.id << std::hex << " extended style " << liveExStyle;
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "more than eleven controls";
    // Tab order: the Update button starts disabled, so Close is the only stop.
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE)));
    EXPECT_EQ(GetNextDlgTabItem(dialog, GetDlgItem(dialog, IDCANCEL), FALSE), GetDlgItem(dialog, IDCANCEL));
}

TEST(MainDialog, TheLoaderPicksTheTemplateOfTheUserInterfaceLanguage) {
    HWND dialog = CreateDialogParamW(Module(), MAKEINTRESOURCEW(IDD_MAIN), nullptr, QuietDialog, 0);
    ExpectMainDialog(dialog, uiLanguage);
    DestroyWindow(dialog);
}

TEST(MainDialog, BothTemplatesMakeTheSameElevenControls) {
    EXPECT_EQ(Names(RT_DIALOG), std::vector<std::uint32_t>{IDD_MAIN});
    EXPECT_EQ(Languages(RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN)), (std::vector<LANGID>{kEnglish, kGerman}));
    for (auto [language, langId] : {std::pair{CatalogueLanguage::English, kEnglish},
                                    std::pair{CatalogueLanguage::German, kGerman}}) {
        const Resource tpl = Find(RT_DIALOG, IDD_MAIN, langId);
        ASSERT_NE(tpl.bytes, nullptr);
        HWND dialog = CreateDialogIndirectParamW(
            Module(), reinterpret_cast<LPCDLGTEMPLATEW>(tpl.bytes), nullptr, QuietDialog, 0);
        ExpectMainDialog(dialog, language);
        DestroyWindow(dialog);
    }
}

// ---------------------------------------------------------------- artwork, manifest, images

TEST(Artwork, LogoBitmap) {
    EXPECT_EQ(Names(RT_BITMAP), std::vector<std::uint32_t>{IDB_LOGO});
    EXPECT_EQ(Languages(RT_BITMAP, MAKEINTRESOURCEW(IDB_LOGO)), std::vector<LANGID>{kGerman});
    const Resource logo = Find(RT_BITMAP, IDB_LOGO, kGerman);
    ASSERT_EQ(logo.size, 1398148u);
    BITMAPINFOHEADER header;
    std::memcpy(&header, logo.bytes, sizeof header);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 1772);
    EXPECT_EQ(header.biHeight, 263);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(header.biSizeImage, 1398108u);
    EXPECT_EQ(header.biClrUsed, 0u);

    HBITMAP bitmap = LoadBitmapW(Module(), MAKEINTRESOURCEW(IDB_LOGO));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info{};
    GetObjectW(bitmap, sizeof info, &info);
    EXPECT_EQ(info.bmWidth, 1772);
    EXPECT_EQ(info.bmHeight, 263);
    DeleteObject(bitmap);
}

TEST(Artwork, OneIconGroupWithFiveImages) {
    EXPECT_EQ(Names(RT_GROUP_ICON), std::vector<std::uint32_t>{IDI_APP});
    EXPECT_EQ(Languages(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP)), std::vector<LANGID>{kGerman});
    EXPECT_EQ(Names(RT_ICON), (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
    struct Image { WORD id; LONG pixels; DWORD bytes; };
    constexpr Image kImages[] = {{1, 16, 1128}, {2, 32, 4264}, {3, 48, 9640}, {4, 64, 16936}, {5, 128, 67624}};
    for (const Image& image : kImages) {
        EXPECT_EQ(Languages(RT_ICON, MAKEINTRESOURCEW(image.id)), std::vector<LANGID>{kGerman});
        const Resource icon = Find(RT_ICON, image.id, kGerman);
        ASSERT_EQ(icon.size, image.bytes) << image.id;
        BITMAPINFOHEADER header;
        std::memcpy(&header, icon.bytes, sizeof header);
        EXPECT_EQ(header.biWidth, image.pixels);
        EXPECT_EQ(header.biHeight, 2 * image.pixels);
        EXPECT_EQ(header.biBitCount, 32);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    }
    HICON icon = LoadIconW(Module(), MAKEINTRESOURCEW(IDI_APP));
    EXPECT_NE(icon, nullptr);
}

TEST(Manifest, OnlyTheExecutionLevel) {
    EXPECT_EQ(Names(MAKEINTRESOURCEW(24)), std::vector<std::uint32_t>{1});
    EXPECT_EQ(Languages(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1)), std::vector<LANGID>{kEnglishUs});
    const Resource manifest = Find(MAKEINTRESOURCEW(24), 1, kEnglishUs);
    ASSERT_EQ(manifest.size, 381u);
    const std::string text(reinterpret_cast<const char*>(manifest.bytes), manifest.size);
    EXPECT_EQ(text.rfind("<?xml", 0), 0u);
    EXPECT_NE(text.find("standalone='yes'"), std::string::npos);
    EXPECT_NE(text.find("level='asInvoker' uiAccess='false'"), std::string::npos);
    EXPECT_EQ(text.find("dependency"), std::string::npos);
    EXPECT_EQ(text.find("dpiAware"), std::string::npos);
}

TEST(FirmwareImages, EveryImageIsGermanRawData) {
    const std::vector<std::uint32_t> ids = Names(RT_RCDATA);
    EXPECT_EQ(ids.size(), 41u);
    for (std::uint32_t id : ids) {
        EXPECT_EQ(Languages(RT_RCDATA, MAKEINTRESOURCEW(id)), std::vector<LANGID>{kGerman}) << id;
    }
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--language=de") == 0) uiLanguage = CatalogueLanguage::German;
        else if (std::strcmp(argv[i], "--language=en") == 0) uiLanguage = CatalogueLanguage::English;
        else {
            std::fprintf(stderr, "usage: %s --language=de|en\n", argv[0]);
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}
