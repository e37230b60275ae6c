#include "memory_faces.h"

#include <algorithm>
#include <cstring>

namespace pixmar {

namespace {

MemoryInput& input(void* context) { return *static_cast<MemoryInput*>(context); }

bool open_input(void* context, const std::string&)
{
    input(context).position = 0;
    return true;
}

std::int64_t read_input(void* context, std::uint8_t* to, std::size_t size)
{
    MemoryInput& in = input(context);
    const std::size_t count = in.position < in.size ? std::min(size, in.size - in.position) : 0;
    if (count > 0)
        std::memcpy(to, in.bytes + in.position, count);
    in.position += count;
    return std::int64_t(count);
}

bool seek_input(void* context, std::uint64_t offset, std::uint64_t& available)
{
    MemoryInput& in = input(context);
    if (offset > SIZE_MAX)
        return false;
    in.position = std::size_t(offset);
    available = in.position < in.size ? in.size - in.position : 0;
    return true;
}

void close_input(void*) {}

void append_line(void* context, std::string_view line) { static_cast<std::string*>(context)->append(line); }

MemoryHeader& header(void* context) { return *static_cast<MemoryHeader*>(context); }

bool create_header(void* context, const std::string& name, std::uint64_t size)
{
    header(context) = MemoryHeader{name, std::string(), false};
    header(context).text.reserve(std::size_t(std::min<std::uint64_t>(size, SIZE_MAX)));
    return true;
}

bool write_header(void* context, const char* text, std::size_t size)
{
    header(context).text.append(text, size);
    return true;
}

bool finish_header(void* context, bool complete)
{
    header(context).complete = complete;
    if (!complete)
        header(context).text.clear();
    return complete;
}

}  // namespace

BitmapSource memory_source(MemoryInput& in) { return BitmapSource{&in, open_input, read_input, seek_input, close_input}; }

MessageSink string_messages(std::string& lines) { return MessageSink{&lines, append_line}; }

HeaderSink memory_sink(MemoryHeader& out) { return HeaderSink{&out, create_header, write_header, finish_header}; }

}  // namespace pixmar
