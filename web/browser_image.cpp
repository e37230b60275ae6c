#include "browser_image.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace pixmar {

namespace {

std::uint32_t big16(const std::uint8_t* p) { return std::uint32_t(p[0]) << 8 | p[1]; }
std::uint32_t little16(const std::uint8_t* p) { return std::uint32_t(p[1]) << 8 | p[0]; }
std::uint32_t little24(const std::uint8_t* p) { return little16(p) | std::uint32_t(p[2]) << 16; }
std::uint32_t little32(const std::uint8_t* p) { return little24(p) | std::uint32_t(p[3]) << 24; }

// The orientation tag of the TIFF block of an APP1 "Exif" segment; 1 when
// it has none that can be read.
int exif_orientation(const std::uint8_t* tiff, std::size_t size)
{
    if (size < 8 || !(std::memcmp(tiff, "II", 2) == 0 || std::memcmp(tiff, "MM", 2) == 0))
        return 1;
    const bool big = tiff[0] == 'M';
    const auto u16 = [&](std::size_t at) { return big ? big16(tiff + at) : little16(tiff + at); };
    const auto u32 = [&](std::size_t at) { return big ? big16(tiff + at) << 16 | big16(tiff + at + 2) : little32(tiff + at); };
    const std::uint64_t directory = u32(4);
    if (directory + 2 > size)
        return 1;
    const std::uint32_t entries = u16(std::size_t(directory));
    for (std::uint32_t entry = 0; entry < entries; ++entry) {
        const std::uint64_t at = directory + 2 + std::uint64_t(entry) * 12;
        if (at + 12 > size)
            return 1;
        const std::uint32_t value = u16(std::size_t(at + 8));
        if (u16(std::size_t(at)) == 0x0112 && u16(std::size_t(at + 2)) == 3)
            return value >= 1 && value <= 8 ? int(value) : 1;
    }
    return 1;
}

bool jpeg_size(const std::uint8_t* head, std::size_t size, BrowserImage& image)
{
    for (std::size_t at = 2; at + 4 <= size;) {
        if (head[at] != 0xFF)
            return false;
        const std::uint8_t marker = head[at + 1];
        if (marker == 0xFF) {  // fill
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const std::size_t length = big16(head + at + 2);
        if (length < 2)
            return false;
        const std::uint8_t* segment = head + at + 4;
        const std::size_t available = std::min(length - 2, size - (at + 4));
        if (marker == 0xE1 && available >= 6 && std::memcmp(segment, "Exif\0\0", 6) == 0)
            image.orientation = exif_orientation(segment + 6, available - 6);
        // Start of frame: every SOFn but the DHT (C4), JPG (C8) and DAC (CC) markers.
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (available < 5)
                return false;
            image.height = big16(segment + 1), image.width = big16(segment + 3);
            if (image.orientation >= 5)
                std::swap(image.width, image.height);
            return image.width > 0 && image.height > 0;
        }
        at += 2 + length;
    }
    return false;
}

bool webp_size(const std::uint8_t* head, std::size_t size, BrowserImage& image)
{
    if (size < 30)
        return false;
    const std::uint8_t* data = head + 20;
    if (std::memcmp(head + 12, "VP8 ", 4) == 0 && data[3] == 0x9D && data[4] == 0x01 && data[5] == 0x2A) {
        image.width = little16(data + 6) & 0x3FFF, image.height = little16(data + 8) & 0x3FFF;
    } else if (std::memcmp(head + 12, "VP8L", 4) == 0 && data[0] == 0x2F) {
        const std::uint32_t bits = little32(data + 1);
        image.width = (bits & 0x3FFF) + 1, image.height = (bits >> 14 & 0x3FFF) + 1;
    } else if (std::memcmp(head + 12, "VP8X", 4) == 0) {
        image.width = little24(data + 4) + 1, image.height = little24(data + 7) + 1;
    } else {
        return false;
    }
    return image.width > 0 && image.height > 0;
}

}  // namespace

bool browser_image_size(const std::uint8_t* head, std::size_t size, BrowserImage& image)
{
    image = BrowserImage();
    if (size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return jpeg_size(head, size, image);
    if (size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0)
        return webp_size(head, size, image);
    return false;
}

}  // namespace pixmar
