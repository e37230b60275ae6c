// The run of one conversion, as every face drives it: the command line with
// its file and standard output, the page with the bytes it was given. The
// messages, their order and the statuses are written here once.
#pragma once

#include <string>

#include "bitmap.h"
#include "exit_status.h"
#include "source_and_sinks.h"

namespace pixmar {

// What one conversion is asked to do: the bitmap's path (which names the
// header and its C names) and the Magic Pink switch.
struct Conversion {
    std::string path;
    bool magic_pink = false;
};

// Prints the banner, which every run starts with.
void print_banner(const MessageSink& messages);

// Converts the bitmap at `conversion.path`, read through `source`, into its
// header, written through `header`, printing every line of the run from
// "Magic Pink conversion is on." to "Done." or the one refusal. Returns the
// exit status; no exception escapes it.
int convert_bitmap(const Conversion& conversion, BitmapSource& source, HeaderSink& header, const MessageSink& messages);

// The same for pixels already in memory with the records of the 24-bit
// bitmap they were made into (an image the page decoded): the same lines, as
// if that bitmap had been read.
int convert_pixels(const Conversion& conversion, const BitmapRecords& records, PixelBuffer& pixels, HeaderSink& header,
                   const MessageSink& messages);

// Says that memory ran out, as every run that runs out of it does, and
// returns the status for it.
int report_no_memory(const MessageSink& messages);

}  // namespace pixmar
