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

// The console control handler runs on a thread of its own, so the guarded
// file's name is shared under a lock rather than a blocked signal.
SRWLOCK guard_lock = SRWLOCK_INIT;
std::wstring guarded_path;
bool guarded = false;

BOOL WINAPI remove_guarded_on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    AcquireSRWLockExclusive(&guard_lock);
    if (!guarded) {
        ReleaseSRWLockExclusive(&guard_lock);
        return FALSE;  // nothing to remove: the event's default action
    }
    // The file was opened with FILE_SHARE_DELETE, so it can be deleted while
    // the writer still holds it; it goes when the process's handles close.
    DeleteFileW(guarded_path.c_str());
    // Ended at once with the status of an interrupted console program, as the
    // default action would, without running exit-time clean-up that could
    // wait for locks the interrupted writer holds.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

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

namespace {

// Creates `wide` exclusively (errno EEXIST when it exists) and guards it.
std::FILE* create_guarded_file(const std::wstring& wide)
{
    std::FILE* file = nullptr;
    bool no_memory = false;
    AcquireSRWLockExclusive(&guard_lock);
    if (guarded) {
        errno = EBUSY;
    } else {
        const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
        } else {
            const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
            if (fd < 0)
                CloseHandle(handle);
            file = fd < 0 ? nullptr : _fdopen(fd, "wb");
            no_memory = fd >= 0 && !file && errno == ENOMEM;
            if (fd >= 0 && !file)
                _close(fd);
            if (!file) {
                DeleteFileW(wide.c_str());
                errno = EACCES;
            }
        }
        if (file) {
            guarded_path = wide;
            guarded = true;
            SetConsoleCtrlHandler(remove_guarded_on_console_event, TRUE);
        }
    }
    ReleaseSRWLockExclusive(&guard_lock);
    if (no_memory)
        throw std::bad_alloc();  // the run's memory message, not an opening error
    return file;
}

// Ends the guard, removing the file first when `remove` is set.
void release_guarded_file(bool remove)
{
    AcquireSRWLockExclusive(&guard_lock);
    if (guarded) {
        if (remove)
            DeleteFileW(guarded_path.c_str());
        guarded = false;
        SetConsoleCtrlHandler(remove_guarded_on_console_event, FALSE);
    }
    ReleaseSRWLockExclusive(&guard_lock);
}

std::wstring new_file_target;
unsigned temporary_counter = 0;

}  // namespace

std::FILE* create_new_file(const std::string& target)
{
    // A temporary name beside the target: Windows has no file without a name.
    const std::string folder = folder_of(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = folder + "pixmar-" + std::to_string(process_number()) + "-" +
                                      std::to_string(temporary_counter++) + ".tmp";
        if (std::FILE* file = create_guarded_file(widen(temporary))) {
            new_file_target = widen(target);
            return file;
        }
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

// A read-only header is refused before it is replaced, and Windows files have
// no permission bits to carry over.
bool commit_new_file(std::FILE* file)
{
    const bool done = std::fclose(file) == 0 &&
                      MoveFileExW(guarded_path.c_str(), new_file_target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    release_guarded_file(!done);
    return done;
}

void discard_new_file(std::FILE* file)
{
    std::fclose(file);
    release_guarded_file(true);
}

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
