// Writes a 24-bit bitmap of pseudo-random pixels, the benchmark's workload.
//   make_noise WIDTH HEIGHT OUTPUT.bmp
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bitmap_encode.h"
#include "output_file.h"
#include "platform.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::printf("usage: make_noise WIDTH HEIGHT OUTPUT.bmp\n");
        return 1;
    }
    const auto width = std::uint32_t(std::strtoul(argv[1], nullptr, 10));
    const auto height = std::uint32_t(std::strtoul(argv[2], nullptr, 10));
    std::vector<std::uint8_t> bgr(std::size_t(width) * height * 3);
    std::uint64_t state = 0x9E3779B97F4A7C15u;  // xorshift64: fixed seed, same image every time
    for (std::uint8_t& byte : bgr) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = std::uint8_t(state >> 32);
    }
    const std::vector<std::uint8_t> file = pixmar::encode_bitmap(width, height, bgr.data());
    if (!pixmar::write_whole_file(argv[3], file)) {
        std::printf("cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
