#include "converter.h"

#include <cstdint>
#include <cstdio>

#include "bitmap.h"
#include "header_writer.h"
#include "platform.h"

namespace pixmar {

namespace {

// Obtains the buffer only once the file is known to hold every pixel, so a
// header that claims a huge image never costs more than the file's own size.
int load_pixels(std::FILE* input, const FileHeader& file_header, const InfoHeader& info, PixelBuffer& pixels)
{
    pixels.width = std::uint32_t(info.biWidth);
    pixels.height = image_height(info);
    const std::uint64_t required = required_pixel_data_bytes(info);
    if (required == 0)
        return kExitDone;

    std::uint64_t available = 0;
    if (!seek_from_start(input, file_header.bfOffBits) || !bytes_until_end(input, available) ||
        available < required) {
        std::printf("Image read failed\n");
        return kExitBadPixelData;
    }
    const std::uint64_t buffer_bytes = std::uint64_t(pixels.width) * pixels.height * 3;
    if (buffer_bytes <= SIZE_MAX)
        pixels.bytes.reset(allocate_block(std::size_t(buffer_bytes)));
    if (!pixels.bytes) {
        std::printf("ERROR: not enough memory for the image\n");
        return kExitBadPixelData;
    }
    if (!read_pixel_rows(input, info, pixels)) {
        std::printf("Image read failed\n");
        return kExitBadPixelData;
    }
    return kExitDone;
}

int read_bitmap(const std::string& path, PixelBuffer& pixels)
{
    std::printf("Opening File: %s\n", path.c_str());
    // Only regular files: opening a pipe could wait forever for a writer.
    std::FILE* input = path_kind(path) == PathKind::regular_file ? open_for_reading(path) : nullptr;
    if (!input) {
        std::printf("Can't open: %s\n", path.c_str());
        return kExitCannotOpen;
    }

    std::uint8_t record[kInfoHeaderSize];
    std::size_t records = std::fread(record, kFileHeaderSize, 1, input);
    if (records != 1) {
        std::printf("Can't read header: %d\n", int(records));
        std::fclose(input);
        return kExitBadFileHeader;
    }
    const FileHeader file_header = decode_file_header(record);
    if (!check_file_header(file_header)) {
        std::fclose(input);
        return kExitBadFileHeader;
    }

    records = std::fread(record, kInfoHeaderSize, 1, input);
    if (records != 1) {
        std::printf("Can't read info header: %d\n", int(records));
        std::fclose(input);
        return kExitBadInfoHeader;
    }
    const InfoHeader info = decode_info_header(record);
    if (!check_info_header(info)) {
        std::fclose(input);
        return kExitBadInfoHeader;
    }

    const int status = load_pixels(input, file_header, info, pixels);
    std::fclose(input);
    return status;
}

}  // namespace

int run_converter(const std::vector<std::string>& arguments)
{
    std::printf("Pixmar Converter, Version 1.0, (c) the Pixmar authors\n");
    if (arguments.size() != 1 && arguments.size() != 2) {
        std::printf("Args:  <-MP> <filename>\n");
        return kExitUsage;
    }
    // With two arguments the first is the switch, whatever its text says.
    const bool magic_pink = arguments.size() == 2;
    if (magic_pink)
        std::printf("Magic Pink conversion is on.\n");
    const std::string& path = arguments.back();

    PixelBuffer pixels;
    const int status = read_bitmap(path, pixels);
    if (status != kExitDone)
        return status;
    if (!write_header_file(path, pixels, magic_pink))
        return kExitOutputFailed;
    std::printf("Done.\n");
    return kExitDone;
}

}  // namespace pixmar
