#include "output_file.h"

#include <atomic>
#include <cerrno>

#include "platform.h"

namespace pixmar {

namespace {

std::atomic<unsigned> temporary_counter{0};

}  // namespace

bool open_output(const std::string& target, OutputFile& output)
{
    output.target_ = target;
    // A folder at the target's name can never be replaced by a file, and a
    // file its user may not write is not to be replaced behind their back.
    const PathKind kind = path_kind(target);
    if (kind == PathKind::folder || is_write_protected(target))
        return false;
    output.replaces_older_ = kind == PathKind::other;
    const std::string folder = folder_of(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        output.temporary_ = folder + "pixmar-" + std::to_string(process_number()) + "-" +
                            std::to_string(temporary_counter++) + ".tmp";
        // Exclusive creation: two runs beside the same file never share a temporary file.
        output.stream_ = create_guarded_file(output.temporary_);
        if (output.stream_) {
            // Writers hand over whole blocks of their own; a stream buffer
            // would only split each block into two writes.
            std::setvbuf(output.stream_, nullptr, _IONBF, 0);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
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
    complete = set_final_permissions(output.target_, output.stream_) && complete;
    complete = std::fclose(output.stream_) == 0 && complete;
    output.stream_ = nullptr;
    // Only a complete file takes the target's name; an older one stays until then.
    complete = complete && replace_file(output.temporary_, output.target_);
    release_guarded_file(!complete);
    return complete;
}

bool write_whole_file(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    OutputFile output;
    if (!open_output(path, output))
        return false;
    return finish_output(output, write_output(output, reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace pixmar
