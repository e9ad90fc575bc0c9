// The firmware images as the native build embeds them (no Windows resources
// there): the bytes sit in the program's read-only data, where the generated
// firmware_blob.cpp put them with .incbin.
#pragma once

#include <cstddef>
#include <cstdint>

struct EmbeddedImage {
    std::uint16_t id;
    const std::uint8_t* begin;
    const std::uint8_t* end;
};

extern const EmbeddedImage embeddedImages[];
extern const std::size_t embeddedImageCount;
