#include "app/version_display.h"

#include "res/text_format.h"
#include "link/device_session.h"
#include "res/resource.h"
#include "update/firmware_update.h"

namespace {

// The number formats of the version fields, the same in both languages.
constexpr const wchar_t* VERSION_LEADING_FORMAT = L"%u.";
constexpr const wchar_t* VERSION_PAIR_FORMAT = L"%u.%u";

std::uint32_t Byte(std::uint32_t value, int index) {
    return (value >> (8 * index)) & 0xFFu;
}

}  // namespace

std::wstring FormatVersionText(std::uint32_t version) {
    std::wstring text;
    if (Byte(version, 3) != 0) {
        text = FormatText(VERSION_LEADING_FORMAT, {Byte(version, 3)}, VERSION_TEXT_CAPACITY);
    }
    AppendBounded(text, FormatText(VERSION_PAIR_FORMAT, {Byte(version, 1), Byte(version, 0)}, VERSION_TEXT_CAPACITY),
                  VERSION_TEXT_CAPACITY);
    return text;
}

void UpdateVersionDisplay(DialogView& view) {
    VersionLines lines;
    if (deviceSession.handle == NO_DEVICE_HANDLE) {
        lines.unit = lines.bootloader = lines.esc = NO_UNIT_VERSION_TEXT;
        view.ShowVersions(lines);
        return;
    }

    lines.unitOpen = true;
    std::uint32_t unitVersion = deviceSession.unitFirmwareVersion;
    if (Byte(unitVersion, 0) == 0) {
        unitVersion >>= 8;
    }
    lines.unit = FormatVersionText(unitVersion);
    lines.bootloader = FormatVersionText(deviceSession.escBootInfo.escBootloaderVersion);
    const std::uint16_t escVersion = deviceSession.escAppInfo.escFirmwareVersion;
    lines.esc = escVersion == NO_FIRMWARE_VERSION
                    ? std::wstring(NO_ESC_FIRMWARE_TEXT)
                    : FormatText(VERSION_PAIR_FORMAT, {std::uint32_t{escVersion} >> 8, std::uint32_t{escVersion} & 0xFFu},
                                 VERSION_TEXT_CAPACITY);
    lines.unitLabel = deviceSession.productId == PRODUCT_TUNEPUCK ? TUNEPUCK_NAME : TUNE_BOX_NAME;
    view.ShowVersions(lines);
}
