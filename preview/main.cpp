// pixmar-preview: decodes a header written by pixmar back into a bitmap, the
// picture as the target will show it, optionally beside the original with
// the PSNR of the difference.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "bitmap_encode.h"
#include "exit_status.h"
#include "file_faces.h"
#include "header_reader.h"
#include "key_report.h"
#include "output_file.h"
#include "platform.h"
#include "preview.h"

namespace {

using namespace pixmar;

// Exit statuses, one for each kind of failure.
enum PreviewStatus {
    kPreviewDone = 0,
    kPreviewUsage = 1,
    kPreviewCannotOpenHeader = 2,
    kPreviewEmptyHeader = 3,
    kPreviewBadMacros = 4,
    kPreviewNoArray = 5,
    kPreviewMalformedWord = 6,
    kPreviewWordCount = 7,
    kPreviewBadOriginal = 8,
    kPreviewSizeDiffers = 9,
    kPreviewCannotWrite = 10,
    kPreviewNoMemory = 11,
    kPreviewTooLarge = 12,
};

const char* const kUsage =
    "Usage: pixmar-preview HEADER [ORIGINAL.bmp]\n"
    "       pixmar-preview --key-list FILE HEADER ORIGINAL.bmp\n"
    "Decodes a header written by pixmar into HEADER.preview.bmp, the picture as\n"
    "the target shows it. With ORIGINAL.bmp the original (left) and the decoded\n"
    "picture (right) are written side by side, the PSNR of the decoded picture\n"
    "against the original is printed, then a line counting the Magic Pink key's\n"
    "wholly pink pairs, half-pink pairs and near-pink pixels, and their map is\n"
    "written to HEADER.key.bmp. --key-list writes each half-pink pair and\n"
    "near-pink pixel to FILE as a row,column,kind line, rows from the top.\n"
    "Exit statuses: 0 written, 1 usage, 2 header cannot be opened, 3 header empty,\n"
    "4 macros missing or inconsistent, 5 no array line, 6 malformed word or array\n"
    "not closed, 7 word count disagrees with the macros, 8 original cannot be read\n"
    "as a 24-bit bitmap, 9 original size differs, 10 preview, key map or key list\n"
    "cannot be written, 11 not enough memory, 12 the picture is too large for a\n"
    "bitmap.\n";

int fail(int status, const std::string& message)
{
    std::fprintf(stderr, "pixmar-preview: %s\n", message.c_str());
    return status;
}

// A bitmap stores its width and height as signed 32-bit numbers.
bool fits_bitmap(std::uint64_t width, std::uint64_t height) { return width <= INT32_MAX && height <= INT32_MAX; }

int status_for(HeaderProblem problem)
{
    switch (problem) {
    case HeaderProblem::none: return kPreviewDone;
    case HeaderProblem::empty: return kPreviewEmptyHeader;
    case HeaderProblem::bad_macros: return kPreviewBadMacros;
    case HeaderProblem::no_array_line: return kPreviewNoArray;
    case HeaderProblem::malformed_word: return kPreviewMalformedWord;
    case HeaderProblem::array_not_closed: return kPreviewMalformedWord;
    case HeaderProblem::wrong_word_count: return kPreviewWordCount;
    }
    return kPreviewMalformedWord;
}

// Reads the original as the converter does, silently: false when it would
// refuse it, or when the memory for its pixels cannot be had.
bool read_original(const std::string& path, BitmapSource& source, PixelBuffer& original)
{
    try {
        return read_bitmap(path, source, kNoMessages, original) == kExitDone;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Writes the key map beside the preview and, when asked, the key list.
int write_key_files(const std::string& header_path, const std::string& list_path, const KeyMap& map,
                    const PixelBuffer& original)
{
    const std::string map_path = header_path + ".key.bmp";
    if (!write_whole_file(map_path, map.file.get(), map.file_size))
        return fail(kPreviewCannotWrite, "cannot write " + map_path);
    if (list_path.empty())
        return kPreviewDone;
    const std::string list = key_list(original);
    if (!write_whole_file(list_path, std::vector<std::uint8_t>(list.begin(), list.end())))
        return fail(kPreviewCannotWrite, "cannot write " + list_path);
    return kPreviewDone;
}

int run_preview(std::vector<std::string> arguments)
{
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::printf("%s", kUsage);
        return kPreviewDone;
    }
    if (arguments.size() == 1 && arguments[0] == "--version") {
        std::printf("Pixmar Preview, Version " PIXMAR_VERSION ", (c) the Pixmar authors\n");  // in the form of pixmar's banner
        return kPreviewDone;
    }
    std::string list_path;
    if (arguments.size() >= 2 && arguments[0] == "--key-list") {
        list_path = arguments[1];
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }
    // The key list is made from the original, so it needs one.
    if (arguments.empty() || arguments.size() > 2 || (!list_path.empty() && arguments.size() != 2)) {
        std::fprintf(stderr, "%s", kUsage);
        return kPreviewUsage;
    }
    const std::string& header_path = arguments[0];

    std::string text;
    if (!read_whole_file(header_path, text))
        return fail(kPreviewCannotOpenHeader, "cannot open " + header_path);
    ParsedHeader header;
    std::string detail;
    const HeaderProblem problem = parse_header(text, header, detail);
    if (problem != HeaderProblem::none)
        return fail(status_for(problem), header_path + ": " + detail);
    text = std::string();  // the words are parsed; the text is no longer needed

    PixelBuffer decoded;
    if (!decode_picture(header, decoded))
        return fail(kPreviewNoMemory, "not enough memory for the picture");

    const std::string output = header_path + ".preview.bmp";
    std::vector<std::uint8_t> file;
    PixelBuffer original;
    KeyMap key_map;
    if (arguments.size() == 2) {
        InputFile input;
        BitmapSource source = file_source(input);
        if (!read_original(arguments[1], source, original))
            return fail(kPreviewBadOriginal, "cannot read " + arguments[1] + " as a 24-bit bitmap that pixmar converts");
        if (original.width != decoded.width || original.height != decoded.height)
            return fail(kPreviewSizeDiffers, arguments[1] + " is " + std::to_string(original.width) + " x " +
                                                 std::to_string(original.height) + ", the header " +
                                                 std::to_string(decoded.width) + " x " +
                                                 std::to_string(decoded.height));
        if (!fits_bitmap(std::uint64_t(original.width) * 2, original.height))
            return fail(kPreviewTooLarge, "side by side, the pictures are " +
                                              std::to_string(std::uint64_t(original.width) * 2) +
                                              " pixels wide, more than a bitmap holds");
        say(standard_output(), psnr_line(measure_psnr(original, decoded)));
        KeyCounts counts;
        report_key(original, header.words, counts, &key_map);  // the words fit: decode_picture took them
        say(standard_output(), key_line(counts));
        file = encode_side_by_side(original, decoded);
    } else {
        file = encode_bitmap(decoded.width, decoded.height, decoded.bytes.get());
    }
    if (!write_whole_file(output, file))
        return fail(kPreviewCannotWrite, "cannot write " + output);
    std::printf("Preview: %s\n", output.c_str());
    if (arguments.size() != 2)
        return kPreviewDone;
    file = std::vector<std::uint8_t>();  // written: its memory goes back before the key files are written
    return write_key_files(header_path, list_path, key_map, original);
}

}  // namespace

int main(int argc, char** argv)
{
    // The header's text, its words and the pictures are held whole; a header
    // too large for the memory there is gets a status of its own.
    prepare_process();
    try {
        return run_preview(program_arguments(argc, argv));
    } catch (const std::bad_alloc&) {
        return fail(kPreviewNoMemory, "not enough memory");
    }
}
