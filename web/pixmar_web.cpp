// The page's way into the converter and the preview, compiled to WebAssembly.
// Files live in the module's in-memory file system and messages go to
// standard output, so a conversion here is the command line's own run: the
// same checks, messages and header bytes.
#include <emscripten/emscripten.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "bitmap.h"
#include "converter.h"
#include "header_reader.h"
#include "output_file.h"
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

}  // namespace

extern "C" {

// Converts the bitmap `name` (a bare file name in the current folder) as
// `pixmar name`, or `pixmar -MP name`, does. Returns the exit status.
EMSCRIPTEN_KEEPALIVE int pixmar_convert(const char* name, int magic_pink)
{
    // The runtime starts with a umask of 0777, under which a new header
    // could not even be read back; a shell's usual one instead.
    umask(022);
    return magic_pink ? pixmar::run_converter({"-MP", name}) : pixmar::run_converter({name});
}

// Decodes the header `header` as the target will show it and writes that
// picture and the original `bitmap` as RGBA rows to `decoded_rgba` and
// `original_rgba`, printing the PSNR line as pixmar-preview does. Returns 0,
// or 1 when any of it cannot be read, held or written.
EMSCRIPTEN_KEEPALIVE int pixmar_preview(const char* header, const char* bitmap, const char* original_rgba,
                                        const char* decoded_rgba)
{
    try {
        std::string text, detail;
        pixmar::ParsedHeader parsed;
        pixmar::PixelBuffer decoded, original;
        if (!pixmar::read_text_file(header, text) || pixmar::parse_header(text, parsed, detail) != pixmar::HeaderProblem::none ||
            !pixmar::decode_picture(parsed, decoded) || pixmar::read_bitmap(bitmap, original).stage != pixmar::BitmapStage::loaded)
            return 1;
        const pixmar::Psnr psnr = pixmar::measure_psnr(original, decoded);
        std::printf("PSNR: %.2f dB (red %.2f dB, green %.2f dB, blue %.2f dB)\n", psnr.overall, psnr.red, psnr.green,
                    psnr.blue);
        return pixmar::write_whole_file(original_rgba, rgba_rows(original)) &&
                       pixmar::write_whole_file(decoded_rgba, rgba_rows(decoded))
                   ? 0
                   : 1;
    } catch (const std::bad_alloc&) {
        return 1;
    }
}
}
