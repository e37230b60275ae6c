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

// What `path` names now, following links: nothing yet, a folder, something
// else, or (POSIX) a path that can name nothing at all: too long for its
// folder or for the system's limit, under a file or a folder that cannot be
// searched.
enum class PathKind { nothing, folder, other, unusable };
PathKind path_kind(const std::string& path);

// Opens `path` for binary reading when it is a regular file; nullptr when it
// is missing, unreadable, or anything else (folder, pipe, device). The file
// is opened first and its open handle examined, in a way that never waits:
// a pipe without a writer, or one swapped in after a check, cannot hang it.
// On POSIX its reads never wait either: one that would fails with EAGAIN.
std::FILE* open_regular_file(const std::string& path);

// Moves to `offset` bytes from the start; offsets past the end are allowed.
bool seek_from_start(std::FILE* file, std::uint64_t offset);

// Sets `count` to the bytes between the current position and the end of the
// file (0 when the position lies past the end) and keeps the position.
bool bytes_until_end(std::FILE* file, std::uint64_t& count);

// Creates the file that is to take the name `target`, in `target`'s folder,
// for binary writing, readable and writable by its owner only (POSIX) until
// it is committed. Until commit_new_file or discard_new_file it is guarded:
// an interruption (on POSIX every signal whose default action ends the
// process, except those the caller ignores; on Windows Ctrl-C, Ctrl-Break,
// closing the console) removes it before the process ends by that
// interruption. On Linux, where the file system allows it, it has no name
// until it is committed, so that nothing at all is left when the process is
// killed or the power fails. One at a time; nullptr when it cannot be made,
// std::bad_alloc (on POSIX) when memory for its stream cannot be had.
std::FILE* create_new_file(const std::string& target);

// Closes the file made by create_new_file and moves it over `target` in one
// step, replacing what is there. On POSIX it first takes the older target's
// owner and group where the running user may set them (a group that cannot
// be kept gets no access), its permission bits, and on Linux its access ACL
// and user. attributes; a new target gets 0666 less the umask. False when
// any of it fails: the file is gone then, and the target untouched.
bool commit_new_file(std::FILE* file);

// Closes the file made by create_new_file and removes it.
void discard_new_file(std::FILE* file);

// Asks the system to start writing `length` bytes of `file` from `offset`
// out to disk, and returns without waiting for the disk. Only Linux is asked;
// elsewhere it does nothing. Where a file replaced by a rename has the new
// file's data written out in the rename itself (ext4, btrfs), starting early
// lets that work overlap the writing instead of following it.
void start_writing_out(std::FILE* file, std::uint64_t offset, std::uint64_t length);

// True when `path` exists and the running user may not write it (a
// read-only header): replacing it would ignore its owner's choice.
bool is_write_protected(const std::string& path);

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
