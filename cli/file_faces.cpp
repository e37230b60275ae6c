#include "file_faces.h"

#include <cerrno>

#include "platform.h"

namespace pixmar {

namespace {

void print_to_standard_output(void*, std::string_view line) { std::fwrite(line.data(), 1, line.size(), stdout); }

InputFile& input(void* context) { return *static_cast<InputFile*>(context); }

bool open_input(void* context, const std::string& path)
{
    input(context).stream = open_regular_file(path);
    return input(context).stream != nullptr;
}

std::int64_t read_input(void* context, std::uint8_t* to, std::size_t size)
{
    std::FILE* const stream = input(context).stream;
    const std::size_t got = std::fread(to, 1, size, stream);
    // The file was opened so that reads never wait: one that would have
    // fails with EAGAIN instead.
    if (got < size && std::ferror(stream) && (errno == EAGAIN || errno == EWOULDBLOCK))
        return kReadWouldWait;
    return std::int64_t(got);
}

bool seek_input(void* context, std::uint64_t offset, std::uint64_t& available)
{
    std::FILE* const stream = input(context).stream;
    return seek_from_start(stream, offset) && bytes_until_end(stream, available);
}

void close_input(void* context)
{
    std::fclose(input(context).stream);
    input(context).stream = nullptr;
}

OutputFile& output(void* context) { return *static_cast<OutputFile*>(context); }

bool create_output(void* context, const std::string& name, std::uint64_t) { return open_output(name, output(context)); }

bool write_to_output(void* context, const char* text, std::size_t size)
{
    return write_output(output(context), text, size);
}

bool finish(void* context, bool complete) { return finish_output(output(context), complete); }

}  // namespace

MessageSink standard_output() { return MessageSink{nullptr, print_to_standard_output}; }

BitmapSource file_source(InputFile& file) { return BitmapSource{&file, open_input, read_input, seek_input, close_input}; }

HeaderSink file_sink(OutputFile& file) { return HeaderSink{&file, create_output, write_to_output, finish}; }

bool read_whole_file(const std::string& path, std::string& text)
{
    std::FILE* in = open_regular_file(path);
    if (!in)
        return false;
    std::uint64_t size = 0;
    bool read = bytes_until_end(in, size) && size <= SIZE_MAX;
    if (read) {
        text.resize(std::size_t(size));
        read = std::fread(text.data(), 1, text.size(), in) == text.size();
    }
    std::fclose(in);
    return read;
}

}  // namespace pixmar
