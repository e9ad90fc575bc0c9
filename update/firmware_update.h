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

// Whether the update may send placeholder images (FirmwareImagesArePlaceholders): only a
// program whose unit is simulated sets this. Elsewhere such a program is a development
// build and refuses every update.
extern bool placeholderImagesAllowed;

// A program that carries placeholder images and may not send them.
bool IsDevelopmentBuild();

// What a development build says about itself: the end of its window title, and the text
// of the box that refuses the update.
constexpr const wchar_t* DEVELOPMENT_TITLE_MARKER = L"- development build, no firmware";
constexpr const wchar_t* DEVELOPMENT_BUILD_REFUSAL =
    L"This is a development build of the updater. It carries placeholder images instead of the "
    L"firmware release and must never write them to an ESC.\r\n\r\n"
    L"Nothing was sent to the programming unit. Use an updater built with the firmware release.";

// Runs one update of the ESC behind the open unit (the global DeviceSession) and
// reports its outcome through view, telling view each phase it enters. Returns when the
// update has ended. The command sequence is bracketed by systemClock's
// BeginUpdatePeriod/EndUpdatePeriod on every ending.
// Only a unit the window has accepted is updated; one held open without being accepted
// counts as none (40022). The sequence runs only on the very unit that was open when the
// update began: if it was given up or replaced while a question was open, nothing is
// sent, the unit held by then is given up, and the update fails as a removed unit does
// (40026, no code line).
// The ESC is asked again what it is when the update begins: one that is not the ESC the
// window shows is shown anew and nothing is asked (EscChanged). It is asked once more as
// the sequence's first step, and the lock is set only while it is still the ESC
// confirmed; otherwise the lock step fails with nothing written.
// A development build, and an image that is missing, empty or not whole 32-bit words,
// are refused before anything is sent (Refused), as is an update whose front end cannot
// prepare for the sequence (PrepareSequence).
UpdateResult RunFirmwareUpdate(UpdateView& view);

// The one failure path: gives the unit up, disables Update, shows the error box and
// the failure status. Unless code is -1 the box adds the code line (message 40036 with
// code and systemError as eight hex digits each); a format with any other conversion
// than those two is replaced by a plain "0x%08x-0x%08x". Returns the code line (empty
// without one).
std::wstring ReportUpdateFailure(UpdateView& view, const std::wstring& text, const std::wstring& caption,
                         std::int32_t code, std::uint32_t systemError);
