#include "app/version_display.h"

#include "res/text_format.h"
#include "link/device_session.h"
#include "res/resource.h"
#include "update/firmware_update.h"

namespace {

// The number formats of the version fields, the same in both languages.
constexpr const wchar_t* VERSION_LEADING_FORMAT = L"%u.";
constexpr const wchar_t* VERSION_PAIR_FORMAT = L"%u.%u";

// The group's controls in the order they are enabled and disabled.
constexpr std::int32_t VERSION_GROUP_CONTROLS[] = {
    IDC_UNIT_VERSION, IDC_BOOTLOADER_VERSION, IDC_ESC_VERSION,
    IDC_UNIT_LABEL,   IDC_BOOTLOADER_LABEL,   IDC_ESC_LABEL,
};

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

void UpdateVersionDisplay(DialogOps& ops) {
    if (deviceSession.handle == NO_DEVICE_HANDLE) {
        ops.SetItemText(IDC_UNIT_VERSION, NO_UNIT_VERSION_TEXT);
        ops.SetItemText(IDC_BOOTLOADER_VERSION, NO_UNIT_VERSION_TEXT);
        ops.SetItemText(IDC_ESC_VERSION, NO_UNIT_VERSION_TEXT);
        for (const std::int32_t control : VERSION_GROUP_CONTROLS) {
            ops.EnableControl(control, false);
        }
        // The unit label keeps what it showed last.
        return;
    }

    for (const std::int32_t control : VERSION_GROUP_CONTROLS) {
        ops.EnableControl(control, true);
    }

    std::uint32_t unitVersion = deviceSession.unitFirmwareVersion;
    if (Byte(unitVersion, 0) == 0) {
        unitVersion >>= 8;
    }
    ops.SetItemText(IDC_UNIT_VERSION, FormatVersionText(unitVersion));
    ops.SetItemText(IDC_BOOTLOADER_VERSION,
                    FormatVersionText(deviceSession.escBootInfo.escBootloaderVersion));

    const std::uint16_t escVersion = deviceSession.escAppInfo.escFirmwareVersion;
    if (escVersion == NO_FIRMWARE_VERSION) {
        ops.SetItemText(IDC_ESC_VERSION, NO_ESC_FIRMWARE_TEXT);
    } else {
        ops.SetItemText(IDC_ESC_VERSION,
                        FormatText(VERSION_PAIR_FORMAT, {std::uint32_t{escVersion} >> 8, std::uint32_t{escVersion} & 0xFFu},
                                   VERSION_TEXT_CAPACITY));
    }

    ops.SetItemText(IDC_UNIT_LABEL,
                    deviceSession.productId == PRODUCT_TUNEPUCK ? TUNEPUCK_NAME : TUNE_BOX_NAME);
}
