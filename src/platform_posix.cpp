// The platform layer on POSIX systems (the build picks this file or
// platform_windows.cpp): descriptors, signals, permission bits, kernel advice.
#include "platform.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace pixmar {

namespace {

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

bool seek_from_start(std::FILE* file, std::uint64_t offset)
{
    return offset <= std::uint64_t(INT64_MAX) && fseeko(file, off_t(offset), SEEK_SET) == 0;
}

bool bytes_until_end(std::FILE* file, std::uint64_t& count)
{
    // The size from the open file, so the read position is never moved.
    struct stat info;
    const off_t position = ftello(file);
    if (position < 0 || fstat(fileno(file), &info) != 0)
        return false;
    count = info.st_size > position ? std::uint64_t(info.st_size - position) : 0;
    return true;
}

}  // namespace pixmar
