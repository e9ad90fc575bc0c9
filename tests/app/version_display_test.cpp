// The three version lines from the DeviceSession.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/version_display.h"
#include "link/hid_host.h"
#include "tests/app/fake_dialog.h"

namespace {

constexpr std::uint32_t Bytes(std::uint32_t b3, std::uint32_t b2, std::uint32_t b1, std::uint32_t b0) {
    return b3 << 24 | b2 << 16 | b1 << 8 | b0;
}

class VersionDisplay : public ::testing::Test {
protected:
    FakeDialog dialog;

    void SetUp() override {
        hidHost = nullptr;  // the session below is made up: nothing to close
        deviceSession.Reset();
    }
    void TearDown() override { deviceSession.Reset(); }

    // A unit open with the versions of the ready unit unless changed.
    void OpenUnit() {
        deviceSession.handle = 7;
        deviceSession.productId = PRODUCT_TUNE_BOX;
        deviceSession.unitFirmwareVersion = Bytes(0, 0, 2, 3);
        deviceSession.escBootInfo.escBootloaderVersion = Bytes(1, 0, 0, 5);
        deviceSession.escAppInfo.escFirmwareVersion = 0x0302;
    }
};

TEST(FormatVersionText, ShowsByteThreeOnlyWhenSetAndNeverByteTwo) {
    struct Case {
        std::uint32_t value;
        const wchar_t* text;
    };
    const Case cases[] = {
        {Bytes(0, 0, 2, 3), L"2.3"},       {Bytes(1, 0, 1, 2), L"1.1.2"},
        {Bytes(0, 0, 0, 0), L"0.0"},       {Bytes(1, 0, 0, 5), L"1.0.5"},
        {Bytes(0, 2, 10, 1), L"10.1"},     {Bytes(255, 0, 0, 0), L"255.0.0"},
        {Bytes(255, 255, 255, 255), L"255.255.255"}, {Bytes(0, 255, 0, 0), L"0.0"},
        {Bytes(100, 7, 200, 99), L"100.200.99"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatVersionText(c.value), c.text) << std::hex << c.value;
    }
}

TEST_F(VersionDisplay, ExamplesOfEachField) {
    struct Case {
        const char* label;
        std::uint32_t unit;
        std::uint32_t bootloader;
        std::uint16_t esc;
        const wchar_t* unitText;
        const wchar_t* bootloaderText;
        const wchar_t* escText;
    };
    const Case cases[] = {
        {"plain", Bytes(0, 0, 2, 3), Bytes(1, 0, 0, 5), 0x0303, L"2.3", L"1.0.5", L"3.3"},
        // Byte 0 of the unit value is 0: shifted right by 8 bits, so never three numbers.
        {"unit shifted", Bytes(1, 2, 3, 0), Bytes(0, 2, 10, 1), 0x0000, L"2.3", L"10.1", L"0.0"},
        {"unit three numbers", Bytes(1, 0, 1, 2), Bytes(255, 0, 0, 0), 0xFFFF, L"1.1.2", L"255.0.0", L"----------"},
        {"zeros", Bytes(0, 0, 0, 0), Bytes(0, 0, 0, 0), 0x0A01, L"0.0", L"0.0", L"10.1"},
        {"bootloader not shifted", Bytes(0, 0, 1, 1), Bytes(0, 0, 1, 0), 0xFF00, L"1.1", L"1.0", L"255.0"},
        {"esc 0x00ff", Bytes(0, 0, 1, 1), Bytes(0, 0, 1, 0), 0x00FF, L"1.1", L"1.0", L"0.255"},
        {"esc 0xfffe", Bytes(0, 0, 1, 1), Bytes(0, 0, 1, 0), 0xFFFE, L"1.1", L"1.0", L"255.254"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        OpenUnit();
        deviceSession.unitFirmwareVersion = c.unit;
        deviceSession.escBootInfo.escBootloaderVersion = c.bootloader;
        deviceSession.escAppInfo.escFirmwareVersion = c.esc;
        UpdateVersionDisplay(dialog);
        EXPECT_EQ(dialog.Text(IDC_UNIT_VERSION), c.unitText);
        EXPECT_EQ(dialog.Text(IDC_BOOTLOADER_VERSION), c.bootloaderText);
        EXPECT_EQ(dialog.Text(IDC_ESC_VERSION), c.escText);
    }
}

TEST_F(VersionDisplay, OpenUnitEnablesTheGroupThenWritesFieldsAndUnitName) {
    OpenUnit();
    UpdateVersionDisplay(dialog);
    const std::vector<std::wstring> expected = {
        L"enable 40013 1", L"enable 40014 1", L"enable 40015 1",
        L"enable 40010 1", L"enable 1005 1",  L"enable 40011 1",
        L"item 40013 2.3", L"item 40014 1.0.5", L"item 40015 3.2", L"item 40010 TUNE-BOX",
    };
    EXPECT_EQ(dialog.log, expected);
}

TEST_F(VersionDisplay, UnitNameByProductId) {
    struct Case {
        std::uint16_t productId;
        const wchar_t* name;
    };
    for (const Case& c : {Case{1, L"TUNEPUCK"}, Case{2, L"TUNE-BOX"}, Case{0, L"TUNE-BOX"},
                          Case{3, L"TUNE-BOX"}, Case{0x0101, L"TUNE-BOX"}, Case{0xFFFF, L"TUNE-BOX"}}) {
        OpenUnit();
        deviceSession.productId = c.productId;
        UpdateVersionDisplay(dialog);
        EXPECT_EQ(dialog.Text(IDC_UNIT_LABEL), c.name) << c.productId;
    }
}

TEST_F(VersionDisplay, NoUnitShowsZerosDisablesGroupAndKeepsTheUnitLabel) {
    for (const wchar_t* label : {L"programming unit", L"TUNEPUCK"}) {
        dialog = FakeDialog{};
        dialog.texts[IDC_UNIT_LABEL] = label;
        UpdateVersionDisplay(dialog);
        const std::vector<std::wstring> expected = {
            L"item 40013 0.0.0", L"item 40014 0.0.0", L"item 40015 0.0.0",
            L"enable 40013 0",   L"enable 40014 0",   L"enable 40015 0",
            L"enable 40010 0",   L"enable 1005 0",    L"enable 40011 0",
        };
        EXPECT_EQ(dialog.log, expected);
        EXPECT_EQ(dialog.Text(IDC_UNIT_LABEL), label);
    }
}

TEST_F(VersionDisplay, UnitLostAfterBeingShownKeepsItsName) {
    OpenUnit();
    deviceSession.productId = PRODUCT_TUNEPUCK;
    UpdateVersionDisplay(dialog);
    deviceSession.Reset();
    UpdateVersionDisplay(dialog);
    EXPECT_EQ(dialog.Text(IDC_UNIT_LABEL), L"TUNEPUCK");
    EXPECT_EQ(dialog.Text(IDC_ESC_VERSION), L"0.0.0");
    EXPECT_FALSE(dialog.Enabled(IDC_ESC_LABEL));
}

}  // namespace
