// pixmar: converts a 24-bit bitmap into a C header of YCbCr 4:2:2 words.
// This face holds the arguments, the files and standard output; the run
// itself is the converter's (converter.h).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "converter.h"
#include "file_faces.h"
#include "output_file.h"
#include "platform.h"

namespace {

using namespace pixmar;

const char* const kUsage =
    "Usage: pixmar <filename>\n"
    "       pixmar -MP <filename>\n"
    "Converts an uncompressed 24-bit bitmap into a C header of YCbCr 4:2:2 words,\n"
    "written beside it as <filename>.h. The second form turns the Magic Pink rule\n"
    "on (any first argument does): in a pixel pair of which only one pixel is\n"
    "magic pink (red 255, green 0, blue 255), that pixel turns black, so the key\n"
    "colour stays only in wholly pink pairs. The header's names come from the\n"
    "whole path: run it from the bitmap's folder. A file named --help converts\n"
    "as ./--help. Exit statuses and more: man pixmar\n";

int run(const std::vector<std::string>& arguments)
{
    const MessageSink out = standard_output();
    // The banner names the version, so --version prints only the banner.
    print_banner(out);
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "--version")) {
        if (arguments[0] == "--help")
            say(out, kUsage);
        return kExitDone;
    }
    if (arguments.size() != 1 && arguments.size() != 2) {
        say(out, "Args:  <-MP> <filename>\n");
        return kExitUsage;
    }
    // With two arguments the first is the switch, whatever its text says.
    InputFile input;
    OutputFile output;
    BitmapSource source = file_source(input);
    HeaderSink header = file_sink(output);
    return convert_bitmap({arguments.back(), arguments.size() == 2}, source, header, out);
}

// Throwing takes memory of its own. In an address space so small that the
// C++ runtime could not set aside its reserve for that at start-up, a failed
// allocation cannot be thrown, and the runtime ends the run here with no
// exception in flight: the run then says what any run says whose memory runs
// out. Anything else that ends here is a fault, and aborts. Either way the
// new file's name, if it has one, goes first: nothing unwinds to remove it.
[[noreturn]] void end_when_nothing_can_be_thrown()
{
    remove_unfinished_output();
    if (std::current_exception())
        std::abort();
    const int status = report_no_memory(standard_output());
    std::fflush(stdout);
    std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv)
{
    std::set_terminate(end_when_nothing_can_be_thrown);
    prepare_process();
    // Even the argument list may not fit: the run then ends as any other
    // that runs out of memory, with its message and status.
    try {
        return run(program_arguments(argc, argv));
    } catch (const std::bad_alloc&) {
        return report_no_memory(standard_output());
    }
}
