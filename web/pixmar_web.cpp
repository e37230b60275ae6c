// The page's way into the converter and the preview, compiled to
// WebAssembly. Files are named blocks of the module's memory
// (platform_web.h): the worker puts the page's bytes there, runs the command
// line's own conversion on them (the same checks, messages and header bytes;
// messages go to standard output) and takes the header from there.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "bitmap.h"
#include "converter.h"
#include "header_reader.h"
#include "image_bitmap.h"
#include "platform_web.h"
#include "preview.h"

namespace {

// A picture as a canvas takes it: RGBA, top row first.
std::vector<std::uint8_t> rgba_rows(const pixmar::PixelBuffer& picture)
{
    std::vector<std::uint8_t> rgba(std::size_t(picture.width) * picture.height * 4);
    std::uint8_t* out = rgba.data();
    for (std::uint32_t row = picture.height; row-- > 0;) {
        const std::uint8_t* in = picture.bytes.get() + std::size_t(row) * picture.width * 3;
        for (std::uint32_t column = 0; column < picture.width; ++column, in += 3, out += 4) {
            out[0] = in[2], out[1] = in[1], out[2] = in[0], out[3] = 255;
        }
    }
    return rgba;
}

// The width and height of the image file `name`; 0 and 0 when it cannot be read.
std::pair<std::uint32_t, std::uint32_t> image_size_of(const char* name)
{
    std::size_t size = 0;
    const std::uint8_t* bytes = pixmar::web_file(name, size);
    std::uint32_t width = 0, height = 0;
    if (!bytes || !pixmar::image_size(bytes, size, width, height))
        return {0, 0};
    return {width, height};
}

}  // namespace

extern "C" {

// Makes the file `name` of `size` bytes and returns where the page puts them
// (nullptr when memory runs out).
EMSCRIPTEN_KEEPALIVE std::uint8_t* pixmar_make_file(const char* name, double size)
{
    return pixmar::make_web_file(name, std::size_t(size));
}

// Where the bytes of the file `name` are, and how many (-1 when there is no such file).
EMSCRIPTEN_KEEPALIVE const std::uint8_t* pixmar_file_bytes(const char* name)
{
    std::size_t size = 0;
    return pixmar::web_file(name, size);
}
EMSCRIPTEN_KEEPALIVE double pixmar_file_size(const char* name)
{
    std::size_t size = 0;
    return pixmar::web_file(name, size) ? double(size) : -1;
}

// Names the file that the page holds as Module.pageFile, of `size` bytes.
EMSCRIPTEN_KEEPALIVE void pixmar_name_page_file(const char* name, double size)
{
    pixmar::name_page_file(name, std::uint64_t(size));
}

// Forgets every file, so that each job starts clean.
EMSCRIPTEN_KEEPALIVE void pixmar_remove_files() { pixmar::remove_web_files(); }

// Converts the bitmap `name` as `pixmar name`, or `pixmar -MP name`, does,
// into `name`.h, with storage for `expected_header` bytes taken at once.
// Returns the exit status.
EMSCRIPTEN_KEEPALIVE int pixmar_convert(const char* name, int magic_pink, double expected_header)
{
    pixmar::expect_web_output(std::size_t(expected_header));
    return magic_pink ? pixmar::run_converter({"-MP", name}) : pixmar::run_converter({name});
}

// The width and height of the PNG, GIF or BMP `name` (0 when it cannot be read).
EMSCRIPTEN_KEEPALIVE double pixmar_image_width(const char* name) { return image_size_of(name).first; }
EMSCRIPTEN_KEEPALIVE double pixmar_image_height(const char* name) { return image_size_of(name).second; }

// Makes the 24-bit bitmap `bitmap` of the image `image`: a PNG, GIF or BMP
// that is decoded here, or, when `width` is above 0, RGBA rows of `width` x
// `height` that the browser decoded. Prints a line for each thing done to
// the picture. Returns an ImageResult.
EMSCRIPTEN_KEEPALIVE int pixmar_image_to_bitmap(const char* image, const char* bitmap, int width, int height,
                                                int transparent_pink, int crop)
{
    try {
        std::size_t size = 0;
        const std::uint8_t* bytes = pixmar::web_file(image, size);
        if (!bytes)
            return int(pixmar::ImageResult::cannot_decode);
        pixmar::DecodedImage decoded;
        if (width <= 0) {
            const pixmar::ImageResult result = pixmar::decode_image(bytes, size, decoded);
            if (result != pixmar::ImageResult::made)
                return int(result);
            bytes = decoded.rgba.get(), width = int(decoded.width), height = int(decoded.height);
        }
        std::string notes;
        std::vector<std::uint8_t> file = pixmar::bitmap_of_rgba(bytes, std::uint32_t(width), std::uint32_t(height),
                                                                {transparent_pink != 0, crop != 0}, notes);
        decoded.rgba.reset();
        pixmar::keep_web_file(image, {});  // its memory is the converter's now
        pixmar::keep_web_file(bitmap, std::move(file));
        std::printf("%s", notes.c_str());
        return int(pixmar::ImageResult::made);
    } catch (const std::bad_alloc&) {
        return int(pixmar::ImageResult::no_memory);
    }
}

// Decodes the header `header` as the target will show it and writes that
// picture and the original `bitmap` as RGBA rows into the files
// `decoded_rgba` and `original_rgba`, printing the PSNR line as
// pixmar-preview does. Returns 0, 1 when any of it cannot be read, or 2 when
// memory runs out.
EMSCRIPTEN_KEEPALIVE int pixmar_preview(const char* header, const char* bitmap, const char* original_rgba,
                                        const char* decoded_rgba)
{
    try {
        std::string text, detail;
        pixmar::ParsedHeader parsed;
        pixmar::PixelBuffer decoded, original;
        if (!pixmar::read_text_file(header, text) || pixmar::parse_header(text, parsed, detail) != pixmar::HeaderProblem::none)
            return 1;
        text = std::string();
        if (!pixmar::decode_picture(parsed, decoded))
            return 2;
        parsed = pixmar::ParsedHeader();
        const pixmar::BitmapStage read = pixmar::read_bitmap(bitmap, original).stage;
        if (read != pixmar::BitmapStage::loaded)
            return read == pixmar::BitmapStage::no_memory ? 2 : 1;
        pixmar::print_psnr(pixmar::measure_psnr(original, decoded));
        pixmar::keep_web_file(original_rgba, rgba_rows(original));
        original = pixmar::PixelBuffer();
        pixmar::keep_web_file(decoded_rgba, rgba_rows(decoded));
        return 0;
    } catch (const std::bad_alloc&) {
        return 2;
    }
}
}
