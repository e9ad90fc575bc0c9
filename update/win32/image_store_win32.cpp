// Image store on Windows: the images are RT_RCDATA resources of the program file.
// The resource stays mapped for the whole run, so nothing is unlocked or freed.
// An unknown id yields a null resource handle, which the loader turns into null
// bytes and size 0.
#include <windows.h>

#include "update/image_store.h"

FirmwareImage LoadFirmwareImage(std::uint16_t id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
    HGLOBAL loaded = LoadResource(module, found);
    return {static_cast<const std::uint8_t*>(LockResource(loaded)),
            static_cast<std::uint32_t>(SizeofResource(module, found))};
}

#ifndef ORV_PLACEHOLDER_FIRMWARE
#error "the build must say whether its firmware images are placeholders"
#endif

bool FirmwareImagesArePlaceholders() {
    return ORV_PLACEHOLDER_FIRMWARE != 0;
}
