// The I/O floor that pixmar is measured against: what any program must spend
// to read the bitmap and write a header of the same size, with no computing.
//   io_floor hold|replace|plain INPUT BYTES OUTPUT
// hold:    reads INPUT whole into a buffer of its size and closes it, then
//          writes BYTES bytes to a new temporary file in OUTPUT's folder and
//          renames it over OUTPUT: exactly what pixmar's one pass must spend,
//          since it holds the whole image before it creates the header.
// replace: the same, but reads INPUT a 1 MiB block at a time into one block.
// plain:   reads INPUT a block at a time, then writes BYTES bytes over OUTPUT
//          in place.
// Blocks come from the allocator pixmar uses for its blocks (a huge page
// where the system has them), and bytes are written 1 MiB at a time, as
// pixmar writes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "memory.h"
#include "platform.h"

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: io_floor hold|replace|plain INPUT BYTES OUTPUT\n");
        return 1;
    }
    const std::string mode = argv[1], output = argv[4];
    const unsigned long long bytes = std::strtoull(argv[3], nullptr, 10);
    constexpr std::size_t kBlock = std::size_t(1) << 20;
    const pixmar::MemoryBlock memory(pixmar::allocate_block(kBlock));
    char* const block = reinterpret_cast<char*>(memory.get());
    if (!block)
        return 1;
    std::memset(block, '0', kBlock);

    std::FILE* in = std::fopen(argv[2], "rb");
    if (!in)
        return 1;
    pixmar::MemoryBlock whole;
    if (mode == "hold") {
        std::uint64_t size = 0;
        if (!pixmar::bytes_until_end(in, size))
            return 1;
        whole.reset(pixmar::allocate_block(std::size_t(size)));
        if (!whole || std::fread(whole.get(), 1, std::size_t(size), in) != size)
            return 1;
    } else {
        while (std::fread(block, 1, kBlock, in) == kBlock) {
        }
    }
    std::fclose(in);

    const bool temporary = mode != "plain";
    const std::string target = temporary ? output + ".floor.tmp" : output;
    std::FILE* out = std::fopen(target.c_str(), "wb");
    if (!out)
        return 1;
    for (unsigned long long left = bytes; left > 0;) {
        const std::size_t size = left < kBlock ? std::size_t(left) : kBlock;
        if (std::fwrite(block, 1, size, out) != size)
            return 1;
        left -= size;
    }
    if (std::fclose(out) != 0)
        return 1;
    return temporary && std::rename(target.c_str(), output.c_str()) != 0 ? 1 : 0;
}
