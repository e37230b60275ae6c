// Writes a 24-bit bitmap of pseudo-random pixels, the benchmark's workload.
//   make_noise WIDTH HEIGHT OUTPUT.bmp
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bitmap_encode.h"
#include "output_file.h"
#include "platform.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments = pixmar::program_arguments(argc, argv);
    if (arguments.size() != 3) {
        std::printf("usage: make_noise WIDTH HEIGHT OUTPUT.bmp\n");
        return 1;
    }
    const auto width = std::uint32_t(std::strtoul(arguments[0].c_str(), nullptr, 10));
    const auto height = std::uint32_t(std::strtoul(arguments[1].c_str(), nullptr, 10));
    std::vector<std::uint8_t> bgr(std::size_t(width) * height * 3);
    std::uint64_t state = 0x9E3779B97F4A7C15u;  // xorshift64: fixed seed, same image every time
    for (std::uint8_t& byte : bgr) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = std::uint8_t(state >> 32);
    }
    const std::vector<std::uint8_t> file = pixmar::encode_bitmap(width, height, bgr.data());
    if (!pixmar::write_whole_file(arguments[2], file)) {
        std::printf("cannot write %s\n", arguments[2].c_str());
        return 1;
    }
    return 0;
}
