// The firmware images the program carries, by resource id. The bytes belong to the
// program's own image in memory and stay valid, unchanged, for the whole run.
#pragma once

#include <cstdint>

struct FirmwareImage {
    const std::uint8_t* bytes;  // null when the store has no image of that id
    std::uint32_t size;
};

FirmwareImage LoadFirmwareImage(std::uint16_t id);

// True when the program carries the build's placeholder images instead of a firmware
// release: pseudo-random bytes that must never reach a real ESC.
bool FirmwareImagesArePlaceholders();
