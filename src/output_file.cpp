#include "output_file.h"

#include "platform.h"

namespace pixmar {

bool open_output(const std::string& target, OutputFile& output)
{
    // A folder at the target's name can never be replaced by a file, a path
    // too long to name a file must fail before anything is written, and a
    // file its user may not write is not to be replaced behind their back.
    const PathKind kind = path_kind(target);
    if (kind == PathKind::folder || kind == PathKind::unusable || is_write_protected(target))
        return false;
    output.replaces_older_ = kind == PathKind::other;
    output.stream_ = create_new_file(target);
    if (!output.stream_)
        return false;
    // Writers hand over whole blocks of their own; a stream buffer would
    // only split each block into two writes.
    std::setvbuf(output.stream_, nullptr, _IONBF, 0);
    return true;
}

bool write_output(OutputFile& output, const char* bytes, std::size_t size)
{
    if (std::fwrite(bytes, 1, size, output.stream_) != size)
        return false;
    if (output.replaces_older_)
        start_writing_out(output.stream_, output.written_, size);
    output.written_ += size;
    return true;
}

OutputFile::~OutputFile()
{
    if (stream_)
        finish_output(*this, false);
}

bool finish_output(OutputFile& output, bool complete)
{
    std::FILE* const stream = output.stream_;
    output.stream_ = nullptr;
    // Only a complete file takes the target's name; an older one stays until then.
    if (complete)
        return commit_new_file(stream);
    discard_new_file(stream);
    return false;
}

bool write_whole_file(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    OutputFile output;
    if (!open_output(path, output))
        return false;
    return finish_output(output, write_output(output, reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace pixmar
