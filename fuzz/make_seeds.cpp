// Writes the seed corpora of the fuzz targets:
//   make_seeds BITMAP_FOLDER [HEADER_FOLDER]
// BITMAP_FOLDER gets small valid bitmaps of the shapes the converter treats
// differently, each behind the byte that sets the Magic Pink switch.
// HEADER_FOLDER gets headers written by the converter's own writer, under
// names that give awkward prefixes (spaces, several dots, other letters).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "bitmap.h"
#include "bitmap_encode.h"
#include "file_faces.h"
#include "header_writer.h"
#include "memory.h"
#include "output_file.h"
#include "platform.h"

namespace {

struct Shape {
    std::uint32_t width, height;
    bool top_down;
};
constexpr Shape kShapes[] = {{2, 1, false}, {4, 2, false}, {6, 5, false}, {6, 5, true}, {18, 3, false}, {4, 0, false}};

// Magic pink every third pixel, other colours between.
std::vector<std::uint8_t> pixels_of(const Shape& shape)
{
    std::vector<std::uint8_t> bgr(std::size_t(shape.width) * shape.height * 3 + 1);
    for (std::size_t i = 0; i + 1 < bgr.size(); ++i)
        bgr[i] = (i / 3) % 3 == 0 ? std::uint8_t(i % 3 == 1 ? 0x00 : 0xFF) : std::uint8_t(i * 37);
    return bgr;
}

bool write_bitmap_seeds(const std::string& folder)
{
    int written = 0;
    for (const Shape& shape : kShapes) {
        std::vector<std::uint8_t> bitmap = pixmar::encode_bitmap(shape.width, shape.height, pixels_of(shape).data());
        if (shape.top_down) {
            const std::uint32_t height = 0u - shape.height;
            for (int i = 0; i < 4; ++i)
                bitmap[22 + std::size_t(i)] = std::uint8_t(height >> (8 * i));
        }
        for (std::uint8_t switch_byte = 0; switch_byte < 2; ++switch_byte) {
            const std::string path = folder + "/seed-" + std::to_string(written++);
            std::vector<std::uint8_t> seed(bitmap.size() + 1, switch_byte);
            std::copy(bitmap.begin(), bitmap.end(), seed.begin() + 1);
            if (!pixmar::write_whole_file(path, seed)) {
                std::printf("cannot write %s\n", path.c_str());
                return false;
            }
        }
    }
    return true;
}

bool write_header_seeds(const std::string& folder)
{
    // The writer names its output after the path it is given, so it runs
    // from inside the folder.
    std::error_code error;
    std::filesystem::current_path(std::filesystem::path(std::u8string(folder.begin(), folder.end())), error);
    if (error) {
        std::printf("cannot enter %s\n", folder.c_str());
        return false;
    }
    const char* const names[] = {"seed.bmp", "my logo.bmp", "my.logo.v2.bmp", "Gr\303\274\303\237e.bmp",
                                 "2nd-logo (1).bmp", "noext", "./dot.bmp", "UPPER.BMP", "semi;colon.bmp",
                                 "per%cent.bmp"};
    std::size_t name = 0;
    for (const Shape& shape : kShapes) {
        if (shape.top_down)
            continue;
        const std::vector<std::uint8_t> bgr = pixels_of(shape);
        for (const bool magic_pink : {false, true}) {
            pixmar::PixelBuffer pixels;
            pixels.width = shape.width;
            pixels.height = shape.height;
            pixels.bytes = pixmar::allocate_memory_block(bgr.size());
            std::copy(bgr.begin(), bgr.end(), pixels.bytes.get());
            pixmar::OutputFile output;
            pixmar::HeaderSink sink = pixmar::file_sink(output);
            if (!pixmar::write_header_file(names[name++ % std::size(names)], pixels, magic_pink, sink, pixmar::kNoMessages))
                return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments = pixmar::program_arguments(argc, argv);
    if (arguments.empty() || arguments.size() > 2) {
        std::printf("usage: make_seeds BITMAP_FOLDER [HEADER_FOLDER]\n");
        return 1;
    }
    if (!write_bitmap_seeds(arguments[0]))
        return 1;
    return arguments.size() == 2 && !write_header_seeds(arguments[1]) ? 1 : 0;
}
