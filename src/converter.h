// The run sequence of the converter: command line, bitmap input, header output.
#pragma once

#include <string>
#include <vector>

namespace pixmar {

// Exit statuses; each kind of failure has its own.
enum ExitStatus {
    kExitDone = 0,             // header written, "Done." printed
    kExitUsage = 1,            // wrong number of arguments
    kExitCannotOpen = 2,       // the input cannot be opened
    kExitBadFileHeader = 3,    // file header missing or not "BM"
    kExitBadInfoHeader = 4,    // info header missing or unsupported
    kExitBadPixelData = 5,     // pixel data ended early or would not come, or no memory
    kExitOutputFailed = 6,     // the header file could not be created or written
};

// Runs one conversion with the arguments that follow the program name and
// returns the exit status; no exception escapes it. Every message goes to
// standard output. A lone
// "--help" or "--version" prints the usage or the banner alone and opens
// nothing.
int run_converter(const std::vector<std::string>& arguments);

// Says that memory ran out, as every run that runs out of it does, and
// returns the status for it.
int report_no_memory();

}  // namespace pixmar
