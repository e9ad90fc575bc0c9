// Image store of the native build: the images are embedded in the binary, so a
// lookup only finds the place; nothing is read, copied or freed.
#include "update/image_store.h"

#include "res/firmware_blob.h"

FirmwareImage LoadFirmwareImage(std::uint16_t id) {
    for (std::size_t i = 0; i < embeddedImageCount; ++i) {
        const EmbeddedImage& image = embeddedImages[i];
        if (image.id == id) {
            return {image.begin, static_cast<std::uint32_t>(image.end - image.begin)};
        }
    }
    return {nullptr, 0};
}

#ifndef ORV_PLACEHOLDER_FIRMWARE
#error "the build must say whether its firmware images are placeholders"
#endif

bool FirmwareImagesArePlaceholders() {
    return ORV_PLACEHOLDER_FIRMWARE != 0;
}
