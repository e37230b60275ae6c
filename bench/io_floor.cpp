// The I/O floors that pixmar is measured against: what any program must spend
// to read the bitmap and write a header of the same size, formatting nothing.
//   io_floor hold|early INPUT BYTES OUTPUT
// hold:  reads INPUT whole into a buffer of its size (huge pages asked for,
//        as pixmar's pixel buffer has them) and closes it, then writes BYTES
//        bytes, 1 MiB at a time, to a new temporary file in OUTPUT's folder
//        and renames it over OUTPUT: what pixmar's one pass must spend, since
//        it holds the whole image before it creates the header.
// early: the same, handing each written 1 MiB block to the disk at once
//        without waiting for it (on Linux, sync_file_range with
//        SYNC_FILE_RANGE_WRITE), as pixmar does when it replaces a header.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "memory.h"
#include "platform.h"

int main(int argc, char** argv)
{
    const std::string mode = argc == 5 ? argv[1] : "";
    if (mode != "hold" && mode != "early") {
        std::fprintf(stderr, "usage: io_floor hold|early INPUT BYTES OUTPUT\n");
        return 1;
    }
    const std::string output = argv[4];
    const unsigned long long bytes = std::strtoull(argv[3], nullptr, 10);
    constexpr std::size_t kBlock = std::size_t(1) << 20;
    const pixmar::MemoryBlock memory(pixmar::allocate_block(kBlock));
    char* const block = reinterpret_cast<char*>(memory.get());
    if (!block)
        return 1;
    std::memset(block, '0', kBlock);

    std::FILE* in = std::fopen(argv[2], "rb");
    std::uint64_t size = 0;
    if (!in || !pixmar::bytes_until_end(in, size))
        return 1;
    const pixmar::MemoryBlock whole(pixmar::allocate_block(std::size_t(size)));
    if (!whole || std::fread(whole.get(), 1, std::size_t(size), in) != size)
        return 1;
    std::fclose(in);

    const std::string temporary = output + ".floor.tmp";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out)
        return 1;
    std::setvbuf(out, nullptr, _IONBF, 0);
    for (unsigned long long written = 0; written < bytes;) {
        const std::size_t length = bytes - written < kBlock ? std::size_t(bytes - written) : kBlock;
        if (std::fwrite(block, 1, length, out) != length)
            return 1;
        if (mode == "early")
            pixmar::start_writing_out(out, written, length);
        written += length;
    }
    if (std::fclose(out) != 0)
        return 1;
    return std::rename(temporary.c_str(), output.c_str()) != 0 ? 1 : 0;
}
