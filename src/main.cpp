// pixmar: converts a 24-bit bitmap into a C header of YCbCr 4:2:2 words.
#include "converter.h"
#include "platform.h"

int main(int argc, char** argv)
{
    pixmar::prepare_process();
    return pixmar::run_converter(pixmar::program_arguments(argc, argv));
}
