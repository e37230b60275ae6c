// pixmar: converts a 24-bit bitmap into a C header of YCbCr 4:2:2 words.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "converter.h"
#include "output_file.h"
#include "platform.h"

namespace {

// Throwing takes memory of its own. In an address space so small that the
// C++ runtime could not set aside its reserve for that at start-up, a failed
// allocation cannot be thrown, and the runtime ends the run here with no
// exception in flight: the run then says what any run says whose memory runs
// out. Anything else that ends here is a fault, and aborts. Either way the
// new file's name, if it has one, goes first: nothing unwinds to remove it.
[[noreturn]] void end_when_nothing_can_be_thrown()
{
    pixmar::remove_unfinished_output();
    if (std::current_exception())
        std::abort();
    const int status = pixmar::report_no_memory();
    std::fflush(stdout);
    std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv)
{
    std::set_terminate(end_when_nothing_can_be_thrown);
    pixmar::prepare_process();
    // Even the argument list may not fit: the run then ends as any other
    // that runs out of memory, with its message and status.
    try {
        return pixmar::run_converter(pixmar::program_arguments(argc, argv));
    } catch (const std::bad_alloc&) {
        return pixmar::report_no_memory();
    }
}
