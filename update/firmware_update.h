// The firmware update procedure, from the user's confirmation to its report.
#pragma once

#include <cstdint>
#include <string>

#include "update/image_store.h"
#include "update/update_view.h"

constexpr std::uint16_t IMAGE_VERSION = 0x0303;
constexpr std::uint16_t NO_FIRMWARE_VERSION = 0xFFFF;
constexpr std::uint16_t IMAGE_RESOURCE_ID = 142;
constexpr std::uint32_t BLOCK_SIZE = 48;
constexpr std::uint8_t BLOCK_FILL = 0xFF;
constexpr std::uint32_t STEP_DELAY_MS = 20;
constexpr std::uint32_t ERASE_DELAY_MS = 4000;

// Where the procedure takes its image from; LoadFirmwareImage unless a test swaps it.
using FirmwareImageLoader = FirmwareImage (*)(std::uint16_t id);
extern FirmwareImageLoader firmwareImageLoader;

// Runs one update of the ESC behind the open unit (the global DeviceSession) and
// reports its outcome through view. Returns when the update has ended.
void RunFirmwareUpdate(UpdateView& view);

// The one failure path: gives the unit up, disables Update, shows the error box and
// the failure status.
void ReportUpdateFailure(UpdateView& view, const std::wstring& text, const std::wstring& caption,
                         std::int32_t code, std::uint32_t systemError);
