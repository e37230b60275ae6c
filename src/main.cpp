// pixmar: converts a 24-bit bitmap into a C header of YCbCr 4:2:2 words.
#include <cstdio>
#include <new>

#include "converter.h"
#include "platform.h"

int main(int argc, char** argv)
{
    pixmar::prepare_process();
    // Even the argument list may not fit: the run then ends as any other
    // that runs out of memory, with its message and status.
    try {
        return pixmar::run_converter(pixmar::program_arguments(argc, argv));
    } catch (const std::bad_alloc&) {
        std::printf("ERROR: not enough memory for the image\n");
        return pixmar::kExitBadPixelData;
    }
}
