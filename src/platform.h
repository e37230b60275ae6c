// The platform layer: every call that differs between POSIX systems and
// Windows lives behind these functions, and nowhere else in the converter.
// Paths are UTF-8 strings on every platform; on Windows they are converted to
// UTF-16 here so that any file name the system accepts can be opened.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace pixmar {

enum class PathKind { missing, regular_file, directory, other };

// What the path names now, following links.
PathKind path_kind(const std::string& path);

// Opens an existing file for binary reading; nullptr on failure.
std::FILE* open_for_reading(const std::string& path);

// Moves to `offset` bytes from the start; offsets past the end are allowed.
bool seek_from_start(std::FILE* file, std::uint64_t offset);

// Sets `count` to the bytes between the current position and the end of the
// file (0 when the position lies past the end) and keeps the position.
bool bytes_until_end(std::FILE* file, std::uint64_t& count);

// Creates a new, empty file with a unique name in the folder of `target` and
// opens it for binary writing; sets `temp_path`. nullptr when that fails.
std::FILE* create_temporary_beside(const std::string& target, std::string& temp_path);

// Moves `from` over `to` in one step, replacing a file that is there already.
bool replace_file(const std::string& from, const std::string& to);

bool remove_file(const std::string& path);

// Reads a whole regular file into `text`.
bool read_whole_file(const std::string& path, std::string& text);

// Writes `bytes` to a temporary file beside `path` and renames it over `path`
// when complete, so `path` holds either its old content or all of `bytes`.
bool write_whole_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

// A large block of memory (the pixel buffer, the block of header text), or
// nullptr; free it with release_block. For blocks of 2 MiB and more, huge pages
// are asked for where the system offers them: a 48 MiB image then costs a few
// dozen page faults instead of twelve thousand.
std::uint8_t* allocate_block(std::size_t size);
void release_block(std::uint8_t* memory);

struct BlockRelease {
    void operator()(std::uint8_t* memory) const { release_block(memory); }
};
using MemoryBlock = std::unique_ptr<std::uint8_t[], BlockRelease>;

// The arguments after the program name, as UTF-8.
std::vector<std::string> program_arguments(int argc, char** argv);

}  // namespace pixmar
