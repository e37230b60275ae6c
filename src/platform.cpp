#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace pixmar {

#ifdef _WIN32

// ---- Windows -------------------------------------------------------------

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

// Primitives for the shared functions at the end of this file.
bool seek_to(std::FILE* file, std::int64_t offset, int origin) { return _fseeki64(file, offset, origin) == 0; }

std::int64_t position_of(std::FILE* file) { return _ftelli64(file); }

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

std::FILE* create_guarded_file(const std::string& path)
{
    const std::wstring wide = widen(path);
    std::FILE* file = nullptr;
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
    return file;
}

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

void start_writing_out(std::FILE*, std::uint64_t, std::uint64_t) {}  // a rename writes nothing out here

bool is_write_protected(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// A read-only header is refused before it is replaced, and Windows files have
// no permission bits to carry over.
bool set_final_permissions(const std::string&, std::FILE*) { return true; }

bool replace_file(const std::string& from, const std::string& to)
{
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
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

#else

// ---- POSIX ---------------------------------------------------------------

namespace {

// Primitives for the shared functions at the end of this file.
bool seek_to(std::FILE* file, std::int64_t offset, int origin) { return fseeko(file, off_t(offset), origin) == 0; }

std::int64_t position_of(std::FILE* file) { return ftello(file); }

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr std::size_t kInterruptionCount = std::size(kInterruptions);

// The guarded file's name, prepared before the signal handlers can see it; the
// handlers read only this pointer.
std::atomic<const char*> guarded_path{nullptr};
std::string guarded_storage;
struct sigaction previous_actions[kInterruptionCount];
bool handler_installed[kInterruptionCount];

sigset_t interruption_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : kInterruptions)
        sigaddset(&set, signal_number);
    return set;
}

// Async-signal-safe only: unlink, signal and raise. The signal stays blocked
// while this runs, so the raised one is delivered, with the default action,
// as soon as the handler returns: the caller sees the process killed by it.
extern "C" void remove_guarded_and_reraise(int signal_number)
{
    if (const char* path = guarded_path.load())
        unlink(path);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Runs with the interruptions blocked.
void install_handlers()
{
    struct sigaction action = {};
    action.sa_handler = remove_guarded_and_reraise;
    action.sa_mask = interruption_set();
    for (std::size_t i = 0; i < kInterruptionCount; ++i) {
        sigaction(kInterruptions[i], nullptr, &previous_actions[i]);
        // A signal the caller ignores (nohup, for one) stays ignored.
        handler_installed[i] = previous_actions[i].sa_handler != SIG_IGN;
        if (handler_installed[i])
            sigaction(kInterruptions[i], &action, nullptr);
    }
}

void restore_handlers()
{
    for (std::size_t i = 0; i < kInterruptionCount; ++i) {
        if (handler_installed[i])
            sigaction(kInterruptions[i], &previous_actions[i], nullptr);
        handler_installed[i] = false;
    }
}

}  // namespace

const char* null_device() { return "/dev/null"; }

void prepare_process()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is `fd` itself.
        const int null_fd = open(null_device(), fd == 0 ? O_RDONLY : O_WRONLY);
        if (null_fd >= 0 && null_fd != fd) {
            dup2(null_fd, fd);
            close(null_fd);
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

PathKind path_kind(const std::string& path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return PathKind::nothing;
    return S_ISDIR(info.st_mode) ? PathKind::folder : PathKind::other;
}

std::FILE* open_regular_file(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO without a writer returns at once instead of
    // waiting for one. The open handle is what gets examined, so nothing can
    // be swapped in between the check and the read.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info;
    const int flags = fcntl(fd, F_GETFL);
    std::FILE* file = nullptr;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
        file = fdopen(fd, "rb");
    if (!file)
        close(fd);
    return file;
}

std::FILE* create_guarded_file(const std::string& path)
{
    // Blocked interruptions make creating and guarding one step: a signal in
    // between would otherwise leave the new file behind.
    const sigset_t interruptions = interruption_set();
    sigset_t old_mask;
    sigprocmask(SIG_BLOCK, &interruptions, &old_mask);
    std::FILE* file = nullptr;
    if (guarded_path.load()) {
        errno = EBUSY;
    } else {
        // Private while it is written: its final mode is set just before it
        // replaces the header, so an older header's readers are never widened.
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        file = fd < 0 ? nullptr : fdopen(fd, "wb");
        if (fd >= 0 && !file) {
            close(fd);
            unlink(path.c_str());
        }
        if (file) {
            guarded_storage = path;
            guarded_path = guarded_storage.c_str();
            install_handlers();
        }
    }
    const int error = errno;
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    errno = error;
    return file;
}

void release_guarded_file(bool remove)
{
    const sigset_t interruptions = interruption_set();
    sigset_t old_mask;
    sigprocmask(SIG_BLOCK, &interruptions, &old_mask);
    if (const char* path = guarded_path.load()) {
        if (remove)
            unlink(path);
        guarded_path = nullptr;
        restore_handlers();
    }
    // An interruption that came meanwhile is delivered now, with the caller's
    // own action; the file is renamed or gone by then.
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
}

void start_writing_out(std::FILE* file, std::uint64_t offset, std::uint64_t length)
{
#ifdef __linux__
    // Advice only: a failure changes nothing the run relies on.
    (void)sync_file_range(fileno(file), off_t(offset), off_t(length), SYNC_FILE_RANGE_WRITE);
#else
    (void)file, (void)offset, (void)length;
#endif
}

bool is_write_protected(const std::string& path)
{
    // Effective IDs, as the write itself would be judged; root passes.
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM);
}

bool set_final_permissions(const std::string& model, std::FILE* file)
{
    struct stat info;
    mode_t mode = 0;
    if (stat(model.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        mode = info.st_mode & 0777;
    } else {
        // The umask can only be read by setting it; a one-pass program does
        // so once, with no other thread to see the moment in between.
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    return fchmod(fileno(file), mode) == 0;
}

bool replace_file(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

int process_number() { return int(getpid()); }

void* allocate_aligned(std::size_t size, std::size_t alignment) { return std::aligned_alloc(alignment, size); }

void release_aligned(void* memory) { std::free(memory); }

void advise_huge_pages([[maybe_unused]] void* memory, [[maybe_unused]] std::size_t size)
{
#ifdef MADV_HUGEPAGE
    madvise(memory, size, MADV_HUGEPAGE);
#endif
}

std::string folder_of(const std::string& path)
{
    const std::size_t end = path.rfind('/');
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

std::vector<std::string> program_arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
}

#endif

// ---- Built on the functions above; the same on every platform -------------

bool seek_from_start(std::FILE* file, std::uint64_t offset)
{
    return offset <= std::uint64_t(INT64_MAX) && seek_to(file, std::int64_t(offset), SEEK_SET);
}

bool bytes_until_end(std::FILE* file, std::uint64_t& count)
{
    const std::int64_t position = position_of(file);
    if (position < 0 || !seek_to(file, 0, SEEK_END))
        return false;
    const std::int64_t end = position_of(file);
    if (end < 0 || !seek_to(file, position, SEEK_SET))
        return false;
    count = end > position ? std::uint64_t(end - position) : 0;
    return true;
}

}  // namespace pixmar
