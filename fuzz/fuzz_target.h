// The two entry points every fuzz target defines, as libFuzzer calls them;
// replay_main calls them the same way, so any compiler can replay a corpus.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
