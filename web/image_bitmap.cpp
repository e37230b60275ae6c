#include "image_bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "memory.h"

// Debian's stb_image, restricted to the lossless formats the page decodes
// itself; JPEG and WebP are the browser's.
#define STBI_ONLY_PNG
#define STBI_ONLY_GIF
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace pixmar {

namespace {

std::uint32_t big_endian32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bool is_png(const std::uint8_t* bytes, std::size_t size) { return size >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0; }

bool is_bitmap(const std::uint8_t* head, std::size_t size)
{
    return size >= kFileHeaderSize && decode_file_header(head).bfType == kBitmapType;
}

}  // namespace

bool image_size(const std::uint8_t* bytes, std::size_t size, std::uint32_t& width, std::uint32_t& height)
{
    int x = 0, y = 0, channels = 0;
    // The decoder tells no size of a PNG past its own 1 GiB limit, which the
    // file's IHDR still tells: such an image is one too large, not damaged.
    const std::uint32_t png_width = size >= 24 ? big_endian32(bytes + 16) : 0, png_height = size >= 24 ? big_endian32(bytes + 20) : 0;
    if (size >= 24 && is_png(bytes, size) && std::memcmp(bytes + 12, "IHDR", 4) == 0 && png_width > 0 &&
        png_width <= INT32_MAX && png_height > 0 && png_height <= INT32_MAX) {
        width = png_width, height = png_height;
        return true;
    }
    if (size > INT32_MAX || !stbi_info_from_memory(bytes, int(size), &x, &y, &channels) || x <= 0 || y == 0 ||
        y == INT32_MIN)
        return false;
    // The decoder gives a top-down bitmap's height as it is stored: negative.
    width = std::uint32_t(x), height = std::uint32_t(y < 0 ? -y : y);
    return true;
}

ImageResult bitmap_problem(const std::uint8_t* head, std::size_t size, std::uint64_t file_size)
{
    if (!is_bitmap(head, size))
        return ImageResult::made;
    const FileHeader file = decode_file_header(head);
    // The info header's size comes first, and an OS/2 one is shorter than the rest.
    if (size >= kFileHeaderSize + 4 && (head[14] == 12 && head[15] == 0 && head[16] == 0 && head[17] == 0))
        return ImageResult::os2_bitmap;
    if (size < kFileHeaderSize + kInfoHeaderSize)
        return ImageResult::cannot_decode;
    const InfoHeader info = decode_info_header(head + kFileHeaderSize);
    // Uncompressed rows (plain or with bit fields) have a size the records
    // tell; the decoder would fill a file cut short with black.
    if (info.biCompression == 0 || info.biCompression == 3) {
        const std::uint64_t row = (std::uint64_t(std::uint32_t(info.biWidth < 0 ? 0 : info.biWidth)) * info.biBitCount + 31) / 32 * 4;
        const std::uint64_t rows = std::uint64_t(info.biHeight < 0 ? -std::int64_t(info.biHeight) : info.biHeight);
        if (file_size < file.bfOffBits + row * rows)
            return ImageResult::cannot_decode;
    }
    return ImageResult::made;
}

bool is_sixteen_bit_png(const std::uint8_t* bytes, std::size_t size)
{
    return size <= INT32_MAX && stbi_is_16_bit_from_memory(bytes, int(size));
}

namespace {

// Gives the part of a GIF's screen that its first frame leaves uncovered
// what Pillow gives it: the frame's transparent index where it has one
// (fully transparent, black as the decoder leaves such pixels), or else the
// global palette's first colour; the decoder fills it from the background
// index instead.
void fill_uncovered_screen(const std::uint8_t* gif, std::size_t size, DecodedImage& image)
{
    if (size < 13)
        return;
    const auto u16 = [&](std::size_t at) { return std::uint32_t(gif[at]) | std::uint32_t(gif[at + 1]) << 8; };
    const std::size_t palette = gif[10] & 0x80 ? std::size_t(3) << ((gif[10] & 7) + 1) : 0;
    std::uint8_t fill[4] = {0, 0, 0, 255};
    if (palette > 0 && size >= 13 + 3)
        std::memcpy(fill, gif + 13, 3);
    bool transparent = false;
    std::size_t at = 13 + palette;
    // Extensions up to the first image descriptor; a graphic control one says
    // whether the frame has a transparent index.
    while (at + 1 < size && gif[at] == 0x21) {
        const std::uint8_t label = gif[at + 1];
        at += 2;
        if (label == 0xF9 && at + 2 < size && gif[at] >= 1)
            transparent = (gif[at + 1] & 1) != 0;
        while (at < size && gif[at] != 0)
            at += std::size_t(gif[at]) + 1;
        ++at;
    }
    if (at + 9 > size || gif[at] != 0x2C)
        return;
    const std::uint32_t left = u16(at + 1), top = u16(at + 3);
    const std::uint64_t right = std::uint64_t(left) + u16(at + 5), bottom = std::uint64_t(top) + u16(at + 7);
    if (left == 0 && top == 0 && right >= image.width && bottom >= image.height)
        return;  // the frame covers the screen, as most do
    if (transparent)
        std::memset(fill, 0, sizeof fill);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        for (std::uint32_t x = 0; x < image.width; ++x) {
            if (x >= left && x < right && y >= top && y < bottom)
                continue;
            std::memcpy(image.rgba.get() + (std::size_t(y) * image.width + x) * 4, fill, 4);
        }
    }
}

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t size)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t at = 0; at < size; ++at) {
        crc ^= bytes[at];
        for (int bit = 0; bit < 8; ++bit)
            crc = crc >> 1 ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

// A PNG's integrity as Pillow judges it: every chunk whole, and those before
// the image data with their CRCs right (Pillow checks no later ones).
// Sets `needs_end` for a file that stops after a whole chunk without an
// IEND, which Pillow reads and the decoder does not.
bool png_whole(const std::uint8_t* bytes, std::size_t size, bool& needs_end)
{
    needs_end = false;
    const auto big32 = [&](std::size_t at) { return big_endian32(bytes + at); };
    bool image_data = false;
    std::size_t at = 8;
    while (at + 12 <= size) {
        const std::uint64_t length = big32(at);
        if (at + 12 + length > size)
            return false;
        image_data = image_data || std::memcmp(bytes + at + 4, "IDAT", 4) == 0;
        if (!image_data && crc32(bytes + at + 4, std::size_t(length) + 4) != big32(at + 8 + std::size_t(length)))
            return false;
        if (std::memcmp(bytes + at + 4, "IEND", 4) == 0)
            return true;
        at += 12 + std::size_t(length);
    }
    needs_end = at == size;
    return at == size;
}

}  // namespace

ImageResult decode_image(const std::uint8_t* bytes, std::size_t size, DecodedImage& image)
{
    if (is_sixteen_bit_png(bytes, size))
        return ImageResult::sixteen_bit;
    const ImageResult problem = bitmap_problem(bytes, size, size);
    if (problem != ImageResult::made)
        return problem;
    std::vector<std::uint8_t> ended;
    bool needs_end = false;
    if (is_png(bytes, size)) {
        if (!png_whole(bytes, size, needs_end))
            return ImageResult::cannot_decode;
        if (needs_end) {
            static const std::uint8_t end[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
            ended.assign(bytes, bytes + size);
            ended.insert(ended.end(), end, end + sizeof end);
            bytes = ended.data(), size = ended.size();
        }
    }
    int x = 0, y = 0, channels = 0;
    image.rgba.reset(size <= INT32_MAX ? stbi_load_from_memory(bytes, int(size), &x, &y, &channels, 4) : nullptr);
    if (!image.rgba) {
        const std::string reason = stbi_failure_reason() ? stbi_failure_reason() : "";
        return reason == "Out of memory" || reason == "Image too large to decode" ? ImageResult::no_memory
                                                                                 : ImageResult::cannot_decode;
    }
    image.width = std::uint32_t(x), image.height = std::uint32_t(y);
    // Pillow reads the fourth byte of a 32-bit bitmap without bit fields as
    // unused, and the decoder as alpha.
    image.opaque = is_bitmap(bytes, size) && size >= kFileHeaderSize + kInfoHeaderSize &&
                   decode_info_header(bytes + kFileHeaderSize).biBitCount == 32 &&
                   decode_info_header(bytes + kFileHeaderSize).biCompression == 0;
    image.transparent_black = size >= 4 && std::memcmp(bytes, "GIF8", 4) == 0;
    if (image.transparent_black)
        fill_uncovered_screen(bytes, size, image);
    image.sixteen_bit_bitmap = is_bitmap(bytes, size) && size >= kFileHeaderSize + kInfoHeaderSize &&
                               decode_info_header(bytes + kFileHeaderSize).biBitCount == 16;
    return ImageResult::made;
}

void DecodedImage::Free::operator()(std::uint8_t* pixels) const { stbi_image_free(pixels); }

PixelBuffer pixels_of_rgba(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height,
                           const ImageOptions& options, std::string& notes)
{
    const std::uint32_t even_width = width % 2 == 0 ? width : options.crop ? width - 1 : width + 1;
    PixelBuffer pixels;
    pixels.width = even_width;
    pixels.height = height;
    pixels.bytes = allocate_memory_block(std::uint64_t(even_width) * height * 3);
    std::size_t keyed = 0, transparent_kept = 0, partly_transparent = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        // The buffer's row 0 is the bottom of the picture.
        std::uint8_t* out = pixels.bytes.get() + std::size_t(height - 1 - y) * even_width * 3;
        for (std::uint32_t x = 0; x < even_width; ++x, out += 3) {
            const std::uint8_t* in = rgba + (std::size_t(y) * width + std::min(x, width - 1)) * 4;
            const bool repeated = x >= width;
            const std::uint8_t alpha = options.opaque ? 255 : in[3];
            const bool key = options.transparent_pink && alpha == 0;
            out[0] = key ? 255 : in[2];
            out[1] = key ? 0 : in[1];
            out[2] = key ? 255 : in[0];
            if (!repeated) {
                keyed += key;
                transparent_kept += !key && alpha == 0;
                partly_transparent += alpha != 0 && alpha != 255;
            }
        }
    }
    if (even_width > width)
        notes += "padded from " + std::to_string(width) + " to " + std::to_string(even_width) +
                 " columns by repeating the last one\n";
    else if (even_width < width)
        notes += "cropped from " + std::to_string(width) + " to " + std::to_string(even_width) +
                 " columns: the last one was dropped\n";
    if (keyed > 0)
        notes += std::to_string(keyed) + " fully transparent pixels became magic pink\n";
    if (transparent_kept > 0 && options.transparent_black)
        notes += std::to_string(transparent_kept) + " fully transparent pixels became black: the GIF decoder keeps no colour for them\n";
    else if (transparent_kept > 0)
        notes += std::to_string(transparent_kept) + " fully transparent pixels kept their stored colour\n";
    if (partly_transparent > 0)
        notes += std::to_string(partly_transparent) + " partly transparent pixels lost their alpha\n";
    return pixels;
}

}  // namespace pixmar
