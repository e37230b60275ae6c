// The I/O floor that pixmar is measured against: what any program must spend
// to read the bitmap and write a header of the same size, with no computing.
//   io_floor plain|replace INPUT BYTES OUTPUT
// plain:   reads INPUT, then writes BYTES bytes over OUTPUT in place.
// replace: reads INPUT, then writes BYTES bytes to a new temporary file in
//          OUTPUT's folder and renames it over OUTPUT, as pixmar replaces a
//          header (which makes the file system start writing it out at once).
// Both use blocks of 1 MiB, as pixmar writes.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: io_floor plain|replace INPUT BYTES OUTPUT\n");
        return 1;
    }
    const std::string mode = argv[1], output = argv[4];
    const unsigned long long bytes = std::strtoull(argv[3], nullptr, 10);
    std::vector<char> block(std::size_t(1) << 20, '0');

    std::FILE* in = std::fopen(argv[2], "rb");
    if (!in)
        return 1;
    while (std::fread(block.data(), 1, block.size(), in) == block.size()) {
    }
    std::fclose(in);

    const std::string target = mode == "replace" ? output + ".floor.tmp" : output;
    std::FILE* out = std::fopen(target.c_str(), "wb");
    if (!out)
        return 1;
    for (unsigned long long left = bytes; left > 0;) {
        const std::size_t size = left < block.size() ? std::size_t(left) : block.size();
        if (std::fwrite(block.data(), 1, size, out) != size)
            return 1;
        left -= size;
    }
    if (std::fclose(out) != 0)
        return 1;
    return mode == "replace" && std::rename(target.c_str(), output.c_str()) != 0 ? 1 : 0;
}
