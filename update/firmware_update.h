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

// True while the command sequence of an update runs. Its waits keep the window alive, so
// the window's handlers can run in the middle of it; they must then neither open a unit
// nor start or end anything.
extern bool updateInProgress;

// Runs one update of the ESC behind the open unit (the global DeviceSession) and
// reports its outcome through view. Returns when the update has ended. The command
// sequence is bracketed by systemClock's BeginUpdatePeriod/EndUpdatePeriod on every
// ending. The unit may vanish under it (a removal handled during a question or a wait
// resets deviceSession): the next exchange then fails and the update is reported failed.
// An image that is missing, empty or not whole 32-bit words is refused before anything
// is sent, with the general failure text.
void RunFirmwareUpdate(UpdateView& view);

// The one failure path: gives the unit up, disables Update, shows the error box and
// the failure status. Unless code is -1 the box adds the code line (message 40036 with
// code and systemError as eight hex digits each); a format with any other conversion
// than those two is replaced by a plain "0x%08x-0x%08x".
void ReportUpdateFailure(UpdateView& view, const std::wstring& text, const std::wstring& caption,
                         std::int32_t code, std::uint32_t systemError);
