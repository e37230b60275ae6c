#include "bitmap.h"

#include "platform.h"

#include <array>
#include <cerrno>

namespace pixmar {

namespace {

std::uint16_t load_u16(const std::uint8_t* p)
{
    return std::uint16_t(std::uint16_t(p[0]) | std::uint16_t(p[1]) << 8);
}

std::uint32_t load_u32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// Two's complement reinterpretation, well defined since C++20.
std::int32_t load_s32(const std::uint8_t* p) { return std::int32_t(load_u32(p)); }

// Unsigned 32-bit fields are reported as signed decimal numbers, as the
// messages have always shown them (0xFFFFFFFF prints -1).
int as_signed(std::uint32_t value) { return int(std::int32_t(value)); }

// The records from their exact little-endian bytes.
FileHeader decode_file_header(const std::uint8_t* bytes)
{
    return FileHeader{load_u16(bytes), load_u32(bytes + 2), load_u16(bytes + 6), load_u16(bytes + 8),
                      load_u32(bytes + 10)};
}

InfoHeader decode_info_header(const std::uint8_t* bytes)
{
    return InfoHeader{load_u32(bytes),      load_s32(bytes + 4),  load_s32(bytes + 8),
                      load_u16(bytes + 12), load_u16(bytes + 14), load_u32(bytes + 16),
                      load_u32(bytes + 20), load_s32(bytes + 24), load_s32(bytes + 28),
                      load_u32(bytes + 32), load_u32(bytes + 36)};
}

struct InfoCheck {
    bool passes;
    const char* message;  // printf format taking `value`
    int value;
};

// The checks in the order they are made; the first that fails is reported.
// The "(0x%d)" messages print a decimal number behind the letters 0x; users
// and scripts know them in that form, so they stay.
std::array<InfoCheck, 7> info_checks(const InfoHeader& info)
{
    return {{
        {info.biSize == kInfoHeaderSize, "ERROR: Info Header error: bad header size (0x%d)\n", as_signed(info.biSize)},
        {info.biWidth % 2 == 0, "ERROR: Info Header error: width is not a multiple of 2 (0x%d)\n", int(info.biWidth)},
        // A width of 0 or less would declare an array of negative bound, or
        // write billions of empty lines; no real bitmap has one.
        {info.biWidth > 0, "ERROR: Info Header error: bad width (%d)\n", int(info.biWidth)},
        {info.biCompression == 0, "ERROR: Info Header error: compression not supported (0x%d)\n",
         as_signed(info.biCompression)},
        {info.biClrUsed == 0, "ERROR: Info Header error: indexed colors not supported (%d)\n", as_signed(info.biClrUsed)},
        {info.biPlanes == 1, "ERROR: Info Header error: only one plane supported (%d)\n", int(info.biPlanes)},
        {info.biBitCount == 24, "ERROR: Info Header error: only 24 bit color depth supported (%d)\n",
         int(info.biBitCount)},
    }};
}

}  // namespace

int check_file_header(const FileHeader& header)
{
    if (header.bfType != kBitmapType) {
        std::printf("Header error: bad type (0x%x)\n", unsigned(header.bfType));
        return 0;
    }
    return 1;
}

int check_info_header(const InfoHeader& info)
{
    std::printf("\tInfoHeader: header size=%d, Width, Height=(%d,%d)\n", as_signed(info.biSize),
                int(info.biWidth), int(info.biHeight));
    std::printf("\tInfoHeader: planes=%u, bits=%u, compression=%d, image size (bytes)=%d\n",
                unsigned(info.biPlanes), unsigned(info.biBitCount), as_signed(info.biCompression),
                as_signed(info.biSizeImage));
    for (const InfoCheck& check : info_checks(info)) {
        if (!check.passes) {
            std::printf(check.message, check.value);
            return 0;
        }
    }
    return 1;
}

std::uint64_t stored_row_bytes(std::uint32_t width)
{
    const std::uint64_t pixels = width;
    return pixels * 3 + pixels % 4;
}

namespace {

bool info_header_supported(const InfoHeader& info)
{
    for (const InfoCheck& check : info_checks(info)) {
        if (!check.passes)
            return false;
    }
    return true;
}

// The number of rows in the picture: |biHeight|, exact for the most negative value.
std::uint32_t image_height(const InfoHeader& info)
{
    // Negate in 64 bits: -(-2^31) does not fit a 32-bit int.
    const std::int64_t height = info.biHeight;
    return std::uint32_t(height < 0 ? -height : height);
}

// Bytes the file must hold from the start of the pixel data: every stored row,
// except that the last row's fill bytes may be missing. Exact in 64 bits for
// every width and height that passed the checks.
std::uint64_t required_pixel_data_bytes(const InfoHeader& info)
{
    const std::uint64_t rows = image_height(info);
    if (rows == 0)
        return 0;
    // rows <= 2^31 and a row is below 3 x 2^31 + 4 bytes, so this stays below 2^64.
    const std::uint32_t width = std::uint32_t(info.biWidth);
    return (rows - 1) * stored_row_bytes(width) + std::uint64_t(width) * 3;
}

// Reads every stored row into `pixels`, which already holds width x height x 3
// bytes. Returns 1 on success, 0 when the data ended early.
int read_pixel_rows(std::FILE* input, const InfoHeader& info, PixelBuffer& pixels)
{
    const std::size_t row_bytes = std::size_t(pixels.width) * 3;
    const std::size_t fill = pixels.width % 4;
    const bool top_down = info.biHeight < 0;
    if (fill == 0 && !top_down) {
        // Rows lie back to back in the file, in the buffer's order: one read
        // for all of them costs one call instead of one (or more) a row.
        const std::size_t total = row_bytes * pixels.height;
        return std::fread(pixels.bytes.get(), 1, total, input) == total ? 1 : 0;
    }
    for (std::uint32_t stored = 0; stored < pixels.height; ++stored) {
        // Keep the buffer bottom-up: a top-down file stores the top row first.
        const std::uint32_t row = top_down ? pixels.height - 1 - stored : stored;
        if (std::fread(pixels.bytes.get() + row * row_bytes, 1, row_bytes, input) != row_bytes)
            return 0;
        // The last row's fill may be missing; a missing fill elsewhere shows
        // up as a short read of the next row.
        std::uint8_t discarded[3];
        (void)std::fread(discarded, 1, fill, input);
    }
    return 1;
}

// Seeks to the pixel data and loads it, sized from the checked records.
BitmapStage load_pixel_data(std::FILE* input, const FileHeader& file_header, const InfoHeader& info,
                            PixelBuffer& pixels)
{
    pixels.width = std::uint32_t(info.biWidth);
    pixels.height = image_height(info);
    const std::uint64_t required = required_pixel_data_bytes(info);
    if (required == 0)
        return BitmapStage::loaded;

    std::uint64_t available = 0;
    if (!seek_from_start(input, file_header.bfOffBits) || !bytes_until_end(input, available) || available < required)
        return BitmapStage::pixels_ended_early;
    const std::uint64_t buffer_bytes = std::uint64_t(pixels.width) * pixels.height * 3;
    if (buffer_bytes <= SIZE_MAX)
        pixels.bytes.reset(allocate_block(std::size_t(buffer_bytes)));
    if (!pixels.bytes)
        return BitmapStage::no_memory;
    return read_pixel_rows(input, info, pixels) ? BitmapStage::loaded : BitmapStage::pixels_ended_early;
}

// True when the last read failed because the input had nothing to give
// without waiting: it was opened so that reads never wait.
bool read_would_block(std::FILE* input)
{
    return std::ferror(input) && (errno == EAGAIN || errno == EWOULDBLOCK);
}

BitmapStage read_open_bitmap(std::FILE* input, BitmapRead& read, PixelBuffer& pixels)
{
    std::uint8_t record[kInfoHeaderSize];
    if (std::fread(record, kFileHeaderSize, 1, input) != 1)
        return read_would_block(input) ? BitmapStage::read_blocked : BitmapStage::no_file_header;
    read.file_header = decode_file_header(record);
    if (read.file_header.bfType != kBitmapType)
        return BitmapStage::bad_file_header;
    if (std::fread(record, kInfoHeaderSize, 1, input) != 1)
        return read_would_block(input) ? BitmapStage::read_blocked : BitmapStage::no_info_header;
    read.info = decode_info_header(record);
    if (!info_header_supported(read.info))
        return BitmapStage::bad_info_header;
    return load_pixel_data(input, read.file_header, read.info, pixels);
}

}  // namespace

BitmapRead read_bitmap(const std::string& path, PixelBuffer& pixels)
{
    BitmapRead read;
    std::FILE* input = open_regular_file(path);
    if (!input)
        return read;
    read.stage = read_open_bitmap(input, read, pixels);
    std::fclose(input);
    return read;
}

}  // namespace pixmar
