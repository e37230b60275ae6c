#include "bitmap.h"

#include <array>

#include "exit_status.h"
#include "message_text.h"

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

struct InfoCheck {
    bool passes;
    const char* message;  // format taking `value` as %d
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

std::uint64_t stored_row_bytes(std::uint32_t width)
{
    const std::uint64_t pixels = width;
    return pixels * 3 + pixels % 4;
}

BitmapRecords records_of_bitmap(std::uint32_t width, std::uint32_t height)
{
    const std::uint32_t offset = kFileHeaderSize + kInfoHeaderSize;
    const std::uint32_t pixel_bytes = std::uint32_t(stored_row_bytes(width) * height);
    const std::int32_t dots_per_metre = 2835;  // 72 dots per inch
    return BitmapRecords{
        FileHeader{kBitmapType, offset + pixel_bytes, 0, 0, offset},
        InfoHeader{kInfoHeaderSize, std::int32_t(width), std::int32_t(height), 1, 24, 0, pixel_bytes, dots_per_metre,
                   dots_per_metre, 0, 0},
    };
}

int check_file_header(const FileHeader& header, const MessageSink& messages)
{
    if (header.bfType != kBitmapType) {
        say(messages, message("Header error: bad type (0x%x)\n", hexadecimal(header.bfType)));
        return 0;
    }
    return 1;
}

int check_info_header(const InfoHeader& info, const MessageSink& messages)
{
    say(messages, "\tInfoHeader: header size=" + std::to_string(as_signed(info.biSize)) + ", Width, Height=(" +
                      std::to_string(info.biWidth) + "," + std::to_string(info.biHeight) + ")\n");
    say(messages, "\tInfoHeader: planes=" + std::to_string(info.biPlanes) + ", bits=" + std::to_string(info.biBitCount) +
                      ", compression=" + std::to_string(as_signed(info.biCompression)) +
                      ", image size (bytes)=" + std::to_string(as_signed(info.biSizeImage)) + "\n");
    for (const InfoCheck& check : info_checks(info)) {
        if (!check.passes) {
            say(messages, message(check.message, check.value));
            return 0;
        }
    }
    return 1;
}

int check_records(const BitmapRecords& records, const MessageSink& messages)
{
    if (!check_file_header(records.file, messages))
        return kExitBadFileHeader;
    return check_info_header(records.info, messages) ? kExitDone : kExitBadInfoHeader;
}

namespace {

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

// True when `size` bytes came whole.
bool read_whole(BitmapSource& source, std::uint8_t* to, std::size_t size)
{
    return source.read(source.context, to, size) == std::int64_t(size);
}

// Reads every stored row into `pixels`, which already holds width x height x 3
// bytes. Returns 1 on success, 0 when the data ended early.
int read_pixel_rows(BitmapSource& source, const InfoHeader& info, PixelBuffer& pixels)
{
    const std::size_t row_bytes = std::size_t(pixels.width) * 3;
    const std::size_t fill = pixels.width % 4;
    const bool top_down = info.biHeight < 0;
    if (fill == 0 && !top_down) {
        // Rows lie back to back in the file, in the buffer's order: one read
        // for all of them costs one call instead of one (or more) a row.
        return read_whole(source, pixels.bytes.get(), row_bytes * pixels.height) ? 1 : 0;
    }
    for (std::uint32_t stored = 0; stored < pixels.height; ++stored) {
        // Keep the buffer bottom-up: a top-down file stores the top row first.
        const std::uint32_t row = top_down ? pixels.height - 1 - stored : stored;
        if (!read_whole(source, pixels.bytes.get() + row * row_bytes, row_bytes))
            return 0;
        // The last row's fill may be missing; a missing fill elsewhere shows
        // up as a short read of the next row.
        std::uint8_t discarded[3];
        (void)source.read(source.context, discarded, fill);
    }
    return 1;
}

// Seeks to the pixel data and loads it, sized from the checked records;
// false when the data ends early.
bool load_pixel_data(BitmapSource& source, const BitmapRecords& records, PixelBuffer& pixels)
{
    pixels.width = std::uint32_t(records.info.biWidth);
    pixels.height = image_height(records.info);
    const std::uint64_t required = required_pixel_data_bytes(records.info);
    if (required == 0)
        return true;
    std::uint64_t available = 0;
    if (!source.seek(source.context, records.file.bfOffBits, available) || available < required)
        return false;
    const std::uint64_t buffer_bytes = std::uint64_t(pixels.width) * pixels.height * 3;
    pixels.bytes = allocate_memory_block(buffer_bytes);
    return read_pixel_rows(source, records.info, pixels) == 1;
}

// What a record that does not come whole means: a read that would have had
// to wait is a failed read of the data, anything else a record cut short.
int record_missing(std::int64_t got, const MessageSink& messages, const char* cut_short, int status)
{
    if (got == kReadWouldWait) {
        say(messages, "Image read failed\n");
        return kExitBadPixelData;
    }
    say(messages, message(cut_short, 0));  // whole records read
    return status;
}

int read_open_bitmap(BitmapSource& source, const MessageSink& messages, PixelBuffer& pixels)
{
    std::uint8_t record[kInfoHeaderSize];
    BitmapRecords records{};
    std::int64_t got = source.read(source.context, record, kFileHeaderSize);
    if (got != std::int64_t(kFileHeaderSize))
        return record_missing(got, messages, "Can't read header: %d\n", kExitBadFileHeader);
    records.file = decode_file_header(record);
    if (!check_file_header(records.file, messages))
        return kExitBadFileHeader;
    got = source.read(source.context, record, kInfoHeaderSize);
    if (got != std::int64_t(kInfoHeaderSize))
        return record_missing(got, messages, "Can't read info header: %d\n", kExitBadInfoHeader);
    records.info = decode_info_header(record);
    if (!check_info_header(records.info, messages))
        return kExitBadInfoHeader;
    if (!load_pixel_data(source, records, pixels)) {
        say(messages, "Image read failed\n");
        return kExitBadPixelData;
    }
    return kExitDone;
}

}  // namespace

int read_bitmap(const std::string& path, BitmapSource& source, const MessageSink& messages, PixelBuffer& pixels)
{
    if (!source.open(source.context, path)) {
        say(messages, message("Can't open: %s\n", path));
        return kExitCannotOpen;
    }
    // Closed on every way out, running out of memory included.
    struct Closer {
        BitmapSource& source;
        ~Closer() { source.close(source.context); }
    } closer{source};
    return read_open_bitmap(source, messages, pixels);
}

}  // namespace pixmar
