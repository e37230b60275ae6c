#include "converter.h"

#include <cstdio>
#include <new>

#include "bitmap.h"
#include "header_writer.h"

namespace pixmar {

namespace {

// Prints what reading the bitmap found, in the order the checks are made,
// and returns the run's status: the checks that print their own messages
// run on the records the reader found.
int report_bitmap(const std::string& path, const BitmapRead& read)
{
    switch (read.stage) {
    case BitmapStage::cannot_open:
        std::printf("Can't open: %s\n", path.c_str());
        return kExitCannotOpen;
    case BitmapStage::read_blocked:
        std::printf("Image read failed\n");
        return kExitBadPixelData;
    case BitmapStage::no_file_header:
        std::printf("Can't read header: %d\n", 0);  // whole records read
        return kExitBadFileHeader;
    default:
        break;
    }
    if (!check_file_header(read.file_header))
        return kExitBadFileHeader;
    if (read.stage == BitmapStage::no_info_header) {
        std::printf("Can't read info header: %d\n", 0);
        return kExitBadInfoHeader;
    }
    if (!check_info_header(read.info))
        return kExitBadInfoHeader;
    switch (read.stage) {
    case BitmapStage::loaded:
        return kExitDone;
    case BitmapStage::no_memory:
        return report_no_memory();
    default:
        std::printf("Image read failed\n");
        return kExitBadPixelData;
    }
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

namespace {

int convert(const std::vector<std::string>& arguments)
{
    // The banner names the version, so --version prints only the banner.
    std::printf("Pixmar Converter, Version " PIXMAR_VERSION ", (c) the Pixmar authors\n");
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

    std::printf("Opening File: %s\n", path.c_str());
    PixelBuffer pixels;
    const int status = report_bitmap(path, read_bitmap(path, pixels));
    if (status != kExitDone)
        return status;
    if (!write_header_file(path, pixels, magic_pink))
        return kExitOutputFailed;
    std::printf("Done.\n");
    return kExitDone;
}

}  // namespace

int report_no_memory()
{
    std::printf("ERROR: not enough memory for the image\n");
    return kExitBadPixelData;
}

int run_converter(const std::vector<std::string>& arguments)
{
    // Memory that runs out anywhere (the header's names, its blocks of text)
    // ends the run as the pixel buffer's would; an output file being written
    // is removed on the way out.
    try {
        return convert(arguments);
    } catch (const std::bad_alloc&) {
        return report_no_memory();
    }
}

}  // namespace pixmar
