// The three version lines of the main dialog: programming unit, ESC bootloader and ESC
// firmware, shown from the DeviceSession.
#pragma once

#include <cstdint>
#include <string>

#include "app/dialog_view.h"

constexpr std::size_t VERSION_TEXT_CAPACITY = 32;
constexpr const wchar_t* NO_UNIT_VERSION_TEXT = L"0.0.0";
constexpr const wchar_t* NO_ESC_FIRMWARE_TEXT = L"----------";
constexpr const wchar_t* TUNEPUCK_NAME = L"TUNEPUCK";
constexpr const wchar_t* TUNE_BOX_NAME = L"TUNE-BOX";

// The text of a 32-bit version: "b3." when byte 3 is set, then "b1.b0"; byte 2 never shows.
std::wstring FormatVersionText(std::uint32_t version);

// Shows the version group as the global DeviceSession has it.
void UpdateVersionDisplay(DialogView& view);
