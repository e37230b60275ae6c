// Fuzz target: the whole conversion as the tool runs it, in memory. The first
// byte picks the Magic Pink switch, the rest is the bitmap file. Besides the
// sanitizers' checks it holds the converter to its promise about the header:
// a run that succeeds leaves it complete, any other run leaves nothing of it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "converter.h"
#include "fuzz_target.h"
#include "memory_faces.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    pixmar::MemoryInput input{data + 1, size - 1};
    pixmar::MemoryHeader header;
    std::string lines;
    pixmar::BitmapSource source = pixmar::memory_source(input);
    pixmar::HeaderSink sink = pixmar::memory_sink(header);
    const int status = pixmar::convert_bitmap({"in.bmp", (data[0] & 1) != 0}, source, sink, pixmar::string_messages(lines));
    if ((status == 0) != header.complete || (status != 0 && !header.text.empty()) || lines.empty()) {
        std::fprintf(stderr, "status %d, header complete %d, %zu bytes left\n", status, int(header.complete),
                     header.text.size());
        std::abort();
    }
    return 0;
}
