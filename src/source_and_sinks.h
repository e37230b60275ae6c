// The converter's only ways to the world. It opens, prints and calls nothing
// of the system itself: the face that runs it (the command line, the page,
// the preview, a test) hands it a source for the bitmap's bytes, a sink for
// its message lines and a sink for the header's text, each a few plain
// functions over a context of the face's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pixmar {

// Message lines, each handed over whole with its line break: standard output
// on the command line, the status box on the page.
struct MessageSink {
    void* context = nullptr;
    void (*print)(void* context, std::string_view line) = nullptr;
};

inline void say(const MessageSink& messages, std::string_view line)
{
    if (messages.print)
        messages.print(messages.context, line);
}

// A sink that drops every line, for a caller that wants only the status.
inline const MessageSink kNoMessages{};

// What `read` returns when the data would come only by waiting for it (a
// pipe, say): the converter takes that as a failed read, never waits.
inline constexpr std::int64_t kReadWouldWait = -1;

// The bitmap's bytes, from the start of its file.
struct BitmapSource {
    void* context = nullptr;
    // Opens `path`; false when it is missing, unreadable or not a regular file.
    bool (*open)(void* context, const std::string& path) = nullptr;
    // Reads up to `size` bytes into `to`: returns how many came (fewer only at
    // the end of the data or on an error), or kReadWouldWait.
    std::int64_t (*read)(void* context, std::uint8_t* to, std::size_t size) = nullptr;
    // Moves to `offset` bytes from the start and sets `available` to the bytes
    // from there to the end (0 past it); false when it cannot.
    bool (*seek)(void* context, std::uint64_t offset, std::uint64_t& available) = nullptr;
    void (*close)(void* context) = nullptr;
};

// Where the header's text goes, a block at a time.
struct HeaderSink {
    void* context = nullptr;
    // Makes ready to take the header named `name`, whose exact size is `size`
    // bytes; false when it cannot be created (nothing is left then).
    bool (*create)(void* context, const std::string& name, std::uint64_t size) = nullptr;
    // Appends `size` bytes; false when they could not be written.
    bool (*write)(void* context, const char* text, std::size_t size) = nullptr;
    // Ends the header: with `complete`, it takes its name, and the result says
    // whether it did; otherwise, or when that fails, nothing of it is left.
    bool (*finish)(void* context, bool complete) = nullptr;
};

}  // namespace pixmar
