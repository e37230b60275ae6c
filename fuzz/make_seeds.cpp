// Writes the seed corpus for the fuzz target into a folder: small valid
// bitmaps of the shapes the converter treats differently. Each seed starts
// with the byte that sets the Magic Pink switch.
//   make_seeds FOLDER
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bitmap_encode.h"
#include "output_file.h"
#include "platform.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::printf("usage: make_seeds FOLDER\n");
        return 1;
    }
    struct Shape {
        std::uint32_t width, height;
        bool top_down;
    };
    const Shape shapes[] = {{2, 1, false}, {4, 2, false}, {6, 5, false}, {6, 5, true}, {18, 3, false}, {4, 0, false}};
    int written = 0;
    for (const Shape& shape : shapes) {
        std::vector<std::uint8_t> bgr(std::size_t(shape.width) * shape.height * 3);
        for (std::size_t i = 0; i < bgr.size(); ++i)
            bgr[i] = (i / 3) % 3 == 0 ? std::uint8_t(i % 3 == 1 ? 0x00 : 0xFF) : std::uint8_t(i * 37);
        std::vector<std::uint8_t> bitmap = pixmar::encode_bitmap(shape.width, shape.height, bgr.data());
        if (shape.top_down) {
            const std::uint32_t height = 0u - shape.height;
            for (int i = 0; i < 4; ++i)
                bitmap[22 + i] = std::uint8_t(height >> (8 * i));
        }
        for (std::uint8_t switch_byte = 0; switch_byte < 2; ++switch_byte) {
            const std::string path = std::string(argv[1]) + "/seed-" + std::to_string(written++);
            std::vector<std::uint8_t> seed(1, switch_byte);
            seed.insert(seed.end(), bitmap.begin(), bitmap.end());
            if (!pixmar::write_whole_file(path, seed)) {
                std::printf("cannot write %s\n", path.c_str());
                return 1;
            }
        }
    }
    return 0;
}
