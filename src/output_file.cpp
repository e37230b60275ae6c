#include "output_file.h"

#include <atomic>
#include <cerrno>

#include "platform.h"

namespace pixmar {

namespace {

std::atomic<unsigned> temporary_counter{0};

std::string folder_of(const std::string& path)
{
#ifdef _WIN32
    const char* separators = "/\\:";
#else
    const char* separators = "/";
#endif
    const std::size_t end = path.find_last_of(separators);
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

}  // namespace

bool open_output(const std::string& target, OutputFile& output)
{
    output.target = target;
    // A folder at the target's name can never be replaced by a file, and a
    // file its user may not write is not to be replaced behind their back.
    if (is_folder(target) || is_write_protected(target))
        return false;
    const std::string folder = folder_of(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        output.temporary = folder + "pixmar-" + std::to_string(process_number()) + "-" +
                           std::to_string(temporary_counter++) + ".tmp";
        // Exclusive creation: two runs beside the same file never share a temporary file.
        output.stream = create_guarded_file(output.temporary);
        if (output.stream) {
            // Writers hand over whole blocks of their own; a stream buffer
            // would only split each block into two writes.
            std::setvbuf(output.stream, nullptr, _IONBF, 0);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool finish_output(OutputFile& output, bool complete)
{
    complete = set_final_permissions(output.target, output.stream) && complete;
    complete = std::fclose(output.stream) == 0 && complete;
    output.stream = nullptr;
    // Only a complete file takes the target's name; an older one stays until then.
    complete = complete && replace_file(output.temporary, output.target);
    release_guarded_file(!complete);
    return complete;
}

bool write_whole_file(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    OutputFile output;
    if (!open_output(path, output))
        return false;
    return finish_output(output, std::fwrite(bytes.data(), 1, bytes.size(), output.stream) == bytes.size());
}

}  // namespace pixmar
