// The image store against the files the build embedded (the release's images
// or the generated placeholders): every image, in place and unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "update/image_store.h"

namespace {

struct StoredImage {
    std::uint16_t id;
    std::uint32_t size;
};

constexpr StoredImage kImages[] = {
    {119, 98304}, {120, 36032}, {122, 62848}, {124, 65792}, {125, 65792}, {126, 23552},
    {127, 23552}, {128, 23552}, {130, 23552}, {131, 121856}, {132, 121856}, {133, 121856},
    {140, 97808}, {141, 97760}, {142, 97760}, {143, 58224}, {145, 76224}, {146, 97744},
    {147, 76320}, {148, 97744}, {151, 98304}, {152, 64784}, {153, 77088}, {154, 86448},
    {155, 86480}, {156, 48000}, {157, 98304}, {158, 98304}, {159, 64752}, {160, 38480},
    {170, 57136}, {171, 56528}, {172, 98304}, {173, 98304}, {174, 98304}, {175, 96720},
    {176, 96736}, {177, 96720}, {178, 98304}, {179, 98304}, {200, 63456},
};

std::vector<std::uint8_t> ReadImageFile(std::uint16_t id) {
    const std::string path = std::string(ORV_FIRMWARE_BUILD_DIR) + "/" + std::to_string(id) + ".bin";
    std::vector<std::uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::uint8_t buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

TEST(ImageStore, ImageSentToTheEsc) {
    const FirmwareImage image = LoadFirmwareImage(142);
    ASSERT_NE(image.bytes, nullptr);
    ASSERT_EQ(image.size, 97760u);
    const std::vector<std::uint8_t> file = ReadImageFile(142);
    ASSERT_EQ(file.size(), 97760u) << "cannot read " << ORV_FIRMWARE_BUILD_DIR << "/142.bin";
    EXPECT_EQ(image.bytes[0], file.front());
    EXPECT_EQ(image.bytes[image.size - 1], file.back());
}

TEST(ImageStore, TwoLookUpsGiveTheSameBytesInPlace) {
    const FirmwareImage first = LoadFirmwareImage(142);
    const std::vector<std::uint8_t> before(first.bytes, first.bytes + first.size);
    const FirmwareImage second = LoadFirmwareImage(142);
    EXPECT_EQ(second.bytes, first.bytes);
    EXPECT_EQ(second.size, first.size);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), second.bytes));
}

TEST(ImageStore, EveryImageHasItsSizeAndExactlyTheFilesBytes) {
    for (const StoredImage& stored : kImages) {
        const FirmwareImage image = LoadFirmwareImage(stored.id);
        ASSERT_NE(image.bytes, nullptr) << stored.id;
        EXPECT_EQ(image.size, stored.size) << stored.id;
        EXPECT_EQ(image.size % 16, 0u) << stored.id;
        const std::vector<std::uint8_t> file = ReadImageFile(stored.id);
        ASSERT_EQ(file.size(), stored.size) << stored.id;
        EXPECT_TRUE(std::equal(file.begin(), file.end(), image.bytes)) << stored.id;
        // Enciphered data, or the pseudo-random placeholder: never one repeated byte,
        // so an erased (0xFF) or zeroed transfer cannot pass for the image.
        EXPECT_NE(std::count(file.begin(), file.end(), file.front()), static_cast<std::ptrdiff_t>(file.size()))
            << stored.id;
    }
}

TEST(ImageStore, IdsWithoutImageGiveNothing) {
    // 121 and 123 are the logo and the icon group: resources, but no raw data.
    for (std::uint16_t id : {0, 1, 110, 118, 121, 123, 129, 134, 144, 201, 65535}) {
        const FirmwareImage image = LoadFirmwareImage(id);
        EXPECT_EQ(image.bytes, nullptr) << id;
        EXPECT_EQ(image.size, 0u) << id;
    }
}

}  // namespace
