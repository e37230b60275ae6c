// The platform layer: every call that differs between POSIX systems and
// Windows lives behind these functions, and nowhere else in the project's
// programs: platform_posix.cpp and platform_windows.cpp implement them, one
// chosen by the build. Paths are UTF-8 strings on every platform; on Windows
// they are converted to UTF-16 there, so that any file name the system
// accepts can be opened.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace pixmar {

// Called first in every program's main, before anything opens a file. Any of
// standard input, output and error that the caller closed is opened on the
// null device, so that no file the program opens later takes its place and
// receives its messages. Standard output is line-buffered, so a run that is
// interrupted keeps every line it printed. On POSIX, SIGPIPE and SIGXFSZ are
// ignored: a gone reader or a file-size limit then fails the write that met
// it, which the program reports, instead of killing it with its temporary
// file left behind.
void prepare_process();

// The name under which the system's null device opens: "/dev/null", "NUL".
const char* null_device();

// What `path` names now, following links.
enum class PathKind { nothing, folder, other };
PathKind path_kind(const std::string& path);

// Opens `path` for binary reading when it is a regular file; nullptr when it
// is missing, unreadable, or anything else (folder, pipe, device). The file
// is opened first and its open handle examined, in a way that never waits:
// a pipe without a writer, or one swapped in after a check, cannot hang it.
std::FILE* open_regular_file(const std::string& path);

// Moves to `offset` bytes from the start; offsets past the end are allowed.
bool seek_from_start(std::FILE* file, std::uint64_t offset);

// Sets `count` to the bytes between the current position and the end of the
// file (0 when the position lies past the end) and keeps the position.
bool bytes_until_end(std::FILE* file, std::uint64_t& count);

// Creates `path` exclusively (errno EEXIST when it exists) and opens it for
// binary writing, readable and writable by its owner only (POSIX). From then
// until release_guarded_file, an interruption (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT; on Windows Ctrl-C, Ctrl-Break, closing the console) removes the
// file before the process ends by that interruption. One guarded file at a
// time; nullptr when it cannot be made.
std::FILE* create_guarded_file(const std::string& path);

// Ends the guard of the file made by create_guarded_file, after it has been
// closed: removes it first when `remove` is set.
void release_guarded_file(bool remove);

// Asks the system to start writing `length` bytes of `file` from `offset`
// out to disk, and returns without waiting for the disk. Only Linux is asked;
// elsewhere it does nothing. Where a file replaced by a rename has the new
// file's data written out in the rename itself (ext4, btrfs), starting early
// lets that work overlap the writing instead of following it.
void start_writing_out(std::FILE* file, std::uint64_t offset, std::uint64_t length);

// True when `path` exists and the running user may not write it (a
// read-only header): replacing it would ignore its owner's choice.
bool is_write_protected(const std::string& path);

// Gives the open `file` the permission bits it keeps once it replaces `model`:
// those of the existing file `model`, or else 0666 less the umask, as a newly
// created file has. True when set, or when the system has none (Windows).
bool set_final_permissions(const std::string& model, std::FILE* file);

// Moves `from` over `to` in one step, replacing a file that is there already.
bool replace_file(const std::string& from, const std::string& to);

int process_number();

// Memory aligned to `alignment` (a power of two that divides `size`), or
// nullptr; free it with release_aligned.
void* allocate_aligned(std::size_t size, std::size_t alignment);
void release_aligned(void* memory);

// Asks the system to back the aligned memory with huge pages where it offers
// them; advice only.
void advise_huge_pages(void* memory, std::size_t size);

// The folder part of `path`, with its final separator ("" when there is none):
// where a file beside `path` is created.
std::string folder_of(const std::string& path);

// The arguments after the program name, as UTF-8.
std::vector<std::string> program_arguments(int argc, char** argv);

}  // namespace pixmar
