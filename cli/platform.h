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

// ---- Primitives of the output file (its policy: output_file.cpp) ----

// The target's folder, opened once so that a folder renamed meanwhile is
// still the one written (POSIX: a descriptor opened as a place, which needs
// no read permission), and the target's name in it.
struct Place {
    int folder = -1;
    std::string folder_path;  // folder_of(target)
    std::string name;
};

// Opens `target`'s folder; false when it cannot be opened.
bool open_place(const std::string& target, Place& place);
void close_place(Place& place);

// True when names can be added to the folder but not removed (Linux chattr +a).
bool is_append_only(const Place& place);

// A new file for binary writing, readable and writable by its owner only:
// made exclusively as `name` in the folder (errno EEXIST when it is taken),
// or with `name` nullptr without a name where it can be named later (Linux).
// nullptr on failure; errno ENOMEM when only its stream could not be had.
std::FILE* create_file(const Place& place, const char* name);

// Gives the unnamed `file` the name `name` in the folder; errno EEXIST when taken.
bool link_file(const Place& place, std::FILE* file, const char* name);

// Renames `from` over `to` in the folder, in one step.
bool rename_file(const Place& place, const char* from, const char* to);

// Removes `name` from the folder.
void remove_file(const Place& place, const char* name);

// Hold back, and let through again, what would end the process (POSIX: the
// signals whose default action ends it; Windows: Ctrl-C, Ctrl-Break, closing
// the console): one that arrives meanwhile takes effect at the release.
void hold_ending_signals();
void release_ending_signals();

// Until unguard_name, what would end the process (but a signal the caller
// ignores) first removes `name` from the folder. Both run with the ending
// signals held.
void guard_name(const Place& place, const char* name);
void unguard_name();

// Removes the guarded name now, for a run that ends without unwinding.
// Async-signal-safe on POSIX.
void remove_guarded_name();

// The file at the place's name before the new one replaces it, opened once
// so that its owner, mode, ACL and attributes all come from the same file.
struct OlderFile {
    enum class Kind { none, regular, other } kind = Kind::none;
    unsigned uid = 0, gid = 0, mode = 0;  // a regular file's owner, group, permission bits
    int fd = -1;                          // POSIX: open for reading, or else only as a place
    bool readable = false;
    std::string path;  // the target as given: a place's attributes are read through it without /proc
};

// Opens what is at the place's name; false when its status cannot be read
// (only "no such file" means there is none). Windows keeps nothing to read.
bool open_older_file(const Place& place, const std::string& target, OlderFile& older);
void close_older_file(OlderFile& older);

// Sets the owner and group (uid -1 keeps the owner); false when not allowed.
bool set_owner(std::FILE* file, long uid, long gid);
// Sets the permission bits; does nothing on Windows.
bool set_mode(std::FILE* file, unsigned mode);
// The bits a new file's mode loses (the umask; 0 on Windows).
unsigned creation_mask();

// Gives `file` the access ACL of `older`, first denying the owning group when
// asked (its entry cleared, the others' capped at what it had); true also
// where no ACL can be kept. False when an ACL that exists cannot be read or given.
bool copy_access_acl(const OlderFile& older, std::FILE* file, bool deny_owning_group);
// Copies the user. attributes of `older` that can be read onto `file`; false
// only when their list is too large to hold (the run has no memory for it).
bool copy_user_attributes(const OlderFile& older, std::FILE* file);
// Gives `file` what the folder's default ACL gives a file created with mode
// 0666; false when the folder has none or it cannot be given.
bool give_default_acl(const Place& place, std::FILE* file);

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
