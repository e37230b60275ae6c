// The converter's exit statuses; each kind of failure has its own, and
// scripts and build rules rely on them.
#pragma once

namespace pixmar {

enum ExitStatus {
    kExitDone = 0,           // header written, "Done." printed
    kExitUsage = 1,          // wrong number of arguments
    kExitCannotOpen = 2,     // the input cannot be opened
    kExitBadFileHeader = 3,  // file header missing or not "BM"
    kExitBadInfoHeader = 4,  // info header missing or unsupported
    kExitBadPixelData = 5,   // pixel data ended early or would not come, or no memory
    kExitOutputFailed = 6,   // the header file could not be created or written
};

}  // namespace pixmar
