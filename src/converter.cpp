#include "converter.h"

#include <cstdint>
#include <cstdio>

#include "bitmap.h"
#include "header_writer.h"
#include "platform.h"

namespace pixmar {

namespace {

int load_pixels(std::FILE* input, const FileHeader& file_header, const InfoHeader& info, PixelBuffer& pixels)
{
    switch (load_pixel_data(input, file_header, info, pixels)) {
    case PixelLoad::loaded:
        return kExitDone;
    case PixelLoad::no_memory:
        std::printf("ERROR: not enough memory for the image\n");
        return kExitBadPixelData;
    default:
        std::printf("Image read failed\n");
        return kExitBadPixelData;
    }
}

int read_bitmap(const std::string& path, PixelBuffer& pixels)
{
    std::printf("Opening File: %s\n", path.c_str());
    std::FILE* input = open_regular_file(path);
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

const char* const kUsage =
    "Usage: pixmar <filename>\n"
    "       pixmar -MP <filename>\n"
    "Converts an uncompressed 24-bit bitmap into a C header of YCbCr 4:2:2 words,\n"
    "written beside it as <filename>.h. The second form turns the Magic Pink rule\n"
    "on (any first argument does): in a pixel pair of which only one pixel is\n"
    "magic pink (red 255, green 0, blue 255), that pixel turns black, so the key\n"
    "colour stays only in wholly pink pairs. The header's names come from the\n"
    "whole path: run it from the bitmap's folder. A file named --help converts\n"
    "as ./--help. Exit statuses and more: man pixmar\n";

}  // namespace

int run_converter(const std::vector<std::string>& arguments)
{
    // The banner names the version, so --version prints only the banner.
    std::printf("Pixmar Converter, Version 1.0, (c) the Pixmar authors\n");
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "--version")) {
        if (arguments[0] == "--help")
            std::printf("%s", kUsage);
        return kExitDone;
    }
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
