// The converter's source and sinks over memory: a bitmap's bytes already in
// memory, and messages and a header kept as strings. The tests, the fuzz
// targets and any program that embeds the converter use these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "source_and_sinks.h"

namespace pixmar {

// Bytes of a bitmap file; the source opens it under any path.
struct MemoryInput {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;  // may lie past the end after a seek
};
BitmapSource memory_source(MemoryInput& input);

// Every line appended to `lines`.
MessageSink string_messages(std::string& lines);

// A header kept whole in memory: `name` is the name it was created under,
// `text` what was written, `complete` whether it was finished whole.
struct MemoryHeader {
    std::string name;
    std::string text;
    bool complete = false;
};
HeaderSink memory_sink(MemoryHeader& header);

}  // namespace pixmar
