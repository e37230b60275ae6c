// The command line's side of the converter's source and sinks: the bitmap
// is a file, the messages go to standard output, and the header is an
// output file written whole or not at all.
#pragma once

#include <cstdio>
#include <string>

#include "output_file.h"
#include "source_and_sinks.h"

namespace pixmar {

// Every line straight to standard output.
MessageSink standard_output();

// A bitmap read from a regular file (platform.h, open_regular_file), which
// the source opens and closes.
struct InputFile {
    std::FILE* stream = nullptr;
};
BitmapSource file_source(InputFile& file);

// A header written through `file` (output_file.h).
HeaderSink file_sink(OutputFile& file);

// Reads the whole regular file `path` into `text`; false when it cannot be
// opened or read.
bool read_whole_file(const std::string& path, std::string& text);

}  // namespace pixmar
