// The platform layer on Windows (the build picks this file or
// platform_posix.cpp): console events, UTF-16 paths, the wide command line.
// Paths arrive as UTF-8 and are widened here, so that any file name the
// system accepts can be opened.
#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#include <shellapi.h>

namespace pixmar {

namespace {

std::wstring widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(std::size_t(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), length);
    return wide;
}

std::string narrow(const wchar_t* text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::string utf8(std::size_t(length - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

// The console control handler runs on a thread of its own: holding the
// ending events back is holding this lock, which the handler takes first.
SRWLOCK guard_lock = SRWLOCK_INIT;
std::wstring guarded_path;
volatile bool guarded = false;

BOOL WINAPI remove_guarded_on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    AcquireSRWLockExclusive(&guard_lock);
    if (!guarded) {
        ReleaseSRWLockExclusive(&guard_lock);
        return FALSE;  // nothing to remove: the event's default action
    }
    remove_guarded_name();
    // Ended at once with the status of an interrupted console program, as the
    // default action would, without running exit-time clean-up that could
    // wait for locks the interrupted writer holds.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

std::wstring path_in(const Place& place, const char* name) { return widen(place.folder_path + name); }

}  // namespace

const char* null_device() { return "NUL"; }

void prepare_process()
{
    // A descriptor with no handle behind it (the caller closed it, or a GUI
    // parent gave none) would be handed to the next file the C runtime opens.
    for (int fd = 0; fd <= 2; ++fd) {
        const std::intptr_t handle = _get_osfhandle(fd);
        if (handle != -1 && handle != -2)
            continue;
        const int null_fd = _open(null_device(), fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (null_fd >= 0 && null_fd != fd) {
            _dup2(null_fd, fd);
            _close(null_fd);
        }
    }
    // The C runtime has no line buffering (it buffers fully instead); unbuffered,
    // it still hands each formatted message over in one write.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

PathKind path_kind(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::nothing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::folder : PathKind::other;
}

std::FILE* open_regular_file(const std::string& path)
{
    // Opening never waits on Windows (a pipe without a server fails at once);
    // the open handle then tells a disk file from a pipe, console or device.
    std::FILE* file = _wfopen(widen(path).c_str(), L"rb");
    if (file && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

// A folder is named by its path here: Windows gives a file no name of its
// own apart from one.
bool open_place(const std::string& target, Place& place)
{
    place.folder_path = folder_of(target);
    place.name = target.substr(place.folder_path.size());
    return true;
}

void close_place(Place&) {}

bool is_append_only(const Place&) { return false; }

// Opened with FILE_SHARE_DELETE, so that it can be deleted while the writer
// still holds it; it goes when the process's handles close. Windows has no
// file without a name.
std::FILE* create_file(const Place& place, const char* name)
{
    if (!name) {
        errno = EOPNOTSUPP;
        return nullptr;
    }
    const std::wstring wide = path_in(place, name);
    const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(handle);
    std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (!file) {
        const int error = fd >= 0 && errno == ENOMEM ? ENOMEM : EACCES;
        if (fd >= 0)
            _close(fd);
        DeleteFileW(wide.c_str());
        errno = error;
    }
    return file;
}

bool link_file(const Place&, std::FILE*, const char*) { return false; }

bool rename_file(const Place& place, const char* from, const char* to)
{
    return MoveFileExW(path_in(place, from).c_str(), path_in(place, to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void remove_file(const Place& place, const char* name) { DeleteFileW(path_in(place, name).c_str()); }

void hold_ending_signals()
{
    // The handler is registered once, before the lock is first taken, and
    // never removed: the system calls handlers under a lock of its own, which
    // SetConsoleCtrlHandler takes too, so registering or removing one while
    // holding guard_lock could wait forever on a handler that waits for
    // guard_lock. With nothing guarded the handler leaves the event to the
    // default action, as if it were not there.
    static const bool registered = SetConsoleCtrlHandler(remove_guarded_on_console_event, TRUE) != 0;
    (void)registered;
    AcquireSRWLockExclusive(&guard_lock);
}

void release_ending_signals()
{
    const int error = errno;
    ReleaseSRWLockExclusive(&guard_lock);
    errno = error;
}

void guard_name(const Place& place, const char* name)
{
    guarded_path = path_in(place, name);
    guarded = true;
}

void unguard_name() { guarded = false; }

void remove_guarded_name()
{
    if (guarded)
        DeleteFileW(guarded_path.c_str());
}

// A read-only header is refused before it is replaced, and Windows files
// have no owner, permission bits or ACL that are carried over here.
bool open_older_file(const Place&, const std::string&, OlderFile&) { return true; }
void close_older_file(OlderFile&) {}
bool set_owner(std::FILE*, long, long) { return false; }
bool set_mode(std::FILE*, unsigned) { return true; }
unsigned creation_mask() { return 0; }
bool copy_access_acl(const OlderFile&, std::FILE*, bool) { return true; }
bool copy_user_attributes(const OlderFile&, std::FILE*) { return true; }
bool give_default_acl(const Place&, std::FILE*) { return false; }

void start_writing_out(std::FILE*, std::uint64_t, std::uint64_t) {}  // a rename writes nothing out here

bool is_write_protected(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

int process_number() { return _getpid(); }

void* allocate_aligned(std::size_t size, std::size_t alignment) { return _aligned_malloc(size, alignment); }

void release_aligned(void* memory) { _aligned_free(memory); }

void advise_huge_pages(void*, std::size_t) {}  // large pages need a privilege on Windows

std::string folder_of(const std::string& path)
{
    const std::size_t end = path.find_last_of("/\\:");
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

std::vector<std::string> program_arguments(int, char**)
{
    // The narrow argv holds the names in the console's code page, which cannot
    // carry every letter; the wide command line can.
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(narrow(wide[i]));
    LocalFree(wide);
    return arguments;
}

bool seek_from_start(std::FILE* file, std::uint64_t offset)
{
    return offset <= std::uint64_t(INT64_MAX) && _fseeki64(file, std::int64_t(offset), SEEK_SET) == 0;
}

bool bytes_until_end(std::FILE* file, std::uint64_t& count)
{
    const std::int64_t position = _ftelli64(file);
    const std::int64_t end = _filelengthi64(_fileno(file));
    if (position < 0 || end < 0)
        return false;
    count = end > position ? std::uint64_t(end - position) : 0;
    return true;
}

}  // namespace pixmar
