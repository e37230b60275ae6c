// Makes examples/sample.bmp: colour bars over a grey ramp, with magic pink
// areas of odd and even extents so the colour-key rule has something to show.
//   make_sample OUTPUT.bmp
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bitmap_encode.h"
#include "output_file.h"
#include "platform.h"

namespace {

struct Rgb {
    std::uint8_t r, g, b;
};

constexpr std::uint32_t kWidth = 64, kHeight = 48;
constexpr Rgb kMagicPink{255, 0, 255};

// y counts from the top of the picture.
Rgb sample_pixel(std::uint32_t x, std::uint32_t y)
{
    static const Rgb bars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    const bool pink_block = x >= 10 && x < 22 && y >= 36 && y < 44;   // pairs wholly pink
    const bool odd_block = x >= 27 && x < 33 && y >= 36 && y < 44;    // half-pink pairs at both ends
    const bool pink_line = x == 45 && y >= 34;                        // every pair half pink
    if (pink_block || odd_block || pink_line)
        return kMagicPink;
    if (y < 32)
        return bars[x / 8];
    const auto grey = std::uint8_t(x * 4);
    return {grey, grey, grey};
}

}  // namespace

int main(int argc, char** argv)
{
    // UTF-8 on every platform: the output may lie under any folder name.
    const std::vector<std::string> arguments = pixmar::program_arguments(argc, argv);
    if (arguments.size() != 1) {
        std::printf("usage: make_sample OUTPUT.bmp\n");
        return 1;
    }
    std::vector<std::uint8_t> bgr;
    for (std::uint32_t row = 0; row < kHeight; ++row) {
        for (std::uint32_t x = 0; x < kWidth; ++x) {
            const Rgb c = sample_pixel(x, kHeight - 1 - row);
            bgr.insert(bgr.end(), {c.b, c.g, c.r});
        }
    }
    const std::vector<std::uint8_t> file = pixmar::encode_bitmap(kWidth, kHeight, bgr.data());
    if (!pixmar::write_whole_file(arguments[0], file)) {
        std::printf("cannot write %s\n", arguments[0].c_str());
        return 1;
    }
    return 0;
}
