// The platform layer on POSIX systems (the build picks this file or
// platform_windows.cpp): descriptors, signals, the output file's primitives
// (its policy is output_file.cpp), kernel advice. ACLs and user. attributes:
// platform_acl.cpp.
#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace pixmar {

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
        return errno == ENOENT ? PathKind::nothing : PathKind::unusable;
    return S_ISDIR(info.st_mode) ? PathKind::folder : PathKind::other;
}

std::FILE* open_regular_file(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO without a writer returns at once instead of
    // waiting for one, and it stays set, so that a regular file whose reads
    // wait for data (a kernel trace pipe, say) fails the read instead of
    // hanging the run; on ordinary files it changes nothing. The open handle
    // is what gets examined, so nothing can be swapped in between the check
    // and the read.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info;
    std::FILE* file = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? fdopen(fd, "rb") : nullptr;
    if (!file)
        close(fd);
    return file;
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

// ---- The output file's primitives -------------------------------------------

namespace {

#ifdef O_PATH
constexpr int kPlaceFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;  // needs no read permission
#else
constexpr int kPlaceFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// A descriptor as a path that the system follows to its file, in a fixed
// buffer: it is made with the signals held, where nothing may throw.
struct ProcLink {
    char path[40];
};
ProcLink proc_link(int fd)
{
    ProcLink link;
    std::snprintf(link.path, sizeof link.path, "/proc/self/fd/%d", fd);
    return link;
}

// The signals whose default action ends the process, besides the real-time
// ones. SIGPIPE and SIGXFSZ are ignored from the start (prepare_process),
// and ignored signals stay so.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE,
                                  SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,   SIGXCPU, SIGXFSZ,
                                  SIGVTALRM, SIGPROF, SIGSYS,
#ifdef __linux__
                                  SIGSTKFLT, SIGIO, SIGPWR,
#endif
};

sigset_t ending_signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : kEndingSignals)
        sigaddset(&set, signal_number);
#ifdef SIGRTMIN
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number)
        sigaddset(&set, signal_number);
#endif
    return set;
}

sigset_t held_previous;

// The guarded name, read by the handler only while `guarding` is set: both
// are in place before it is, with the ending signals held.
struct Guard {
    int folder = -1;
    char name[64] = {};
    struct sigaction previous[NSIG];
    bool handled[NSIG] = {};
};
Guard guard;
volatile std::sig_atomic_t guarding = 0;

// Async-signal-safe only: unlinkat, signal and raise. The signal stays blocked
// while this runs, so the raised one is delivered, with the default action,
// as soon as the handler returns: the caller sees the process ended by it.
extern "C" void remove_guarded_and_reraise(int signal_number)
{
    remove_guarded_name();
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}


}  // namespace

bool open_place(const std::string& target, Place& place)
{
    place.folder_path = folder_of(target);
    place.name = target.substr(place.folder_path.size());
    place.folder = open(place.folder_path.empty() ? "." : place.folder_path.c_str(), kPlaceFlags);
    return place.folder >= 0;
}

void close_place(Place& place)
{
    if (place.folder >= 0)
        close(place.folder);
    place.folder = -1;
}

bool is_append_only([[maybe_unused]] const Place& place)
{
#ifdef __linux__
    // Asked through the descriptor the folder is open as, which needs no read
    // permission; a kernel without statx is asked through the folder opened
    // for reading.
    struct statx info;
    if (statx(place.folder, "", AT_EMPTY_PATH, 0, &info) == 0 && (info.stx_attributes_mask & STATX_ATTR_APPEND) != 0)
        return (info.stx_attributes & STATX_ATTR_APPEND) != 0;
    const int fd = openat(place.folder, ".", O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    int flags = 0;
    const bool append_only = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
    if (fd >= 0)
        close(fd);
    return append_only;
#else
    return false;
#endif
}

std::FILE* create_file(const Place& place, const char* name)
{
    int fd = -1;
    if (name) {
        fd = openat(place.folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    } else {
#ifdef O_TMPFILE
        fd = openat(place.folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0 && access(proc_link(fd).path, F_OK) != 0) {
            close(fd);  // without /proc it could never be named
            fd = -1;
        }
#endif
        if (fd < 0)
            errno = EOPNOTSUPP;
    }
    std::FILE* file = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (fd >= 0 && !file) {
        const int error = errno == ENOMEM ? ENOMEM : EACCES;
        close(fd);
        if (name)
            unlinkat(place.folder, name, 0);
        errno = error;
    }
    return file;
}

bool link_file(const Place& place, std::FILE* file, const char* name)
{
    return linkat(AT_FDCWD, proc_link(fileno(file)).path, place.folder, name, AT_SYMLINK_FOLLOW) == 0;
}

bool rename_file(const Place& place, const char* from, const char* to)
{
    return renameat(place.folder, from, place.folder, to) == 0;
}

void remove_file(const Place& place, const char* name) { unlinkat(place.folder, name, 0); }

void hold_ending_signals()
{
    const sigset_t ending = ending_signals();
    sigprocmask(SIG_BLOCK, &ending, &held_previous);
}

void release_ending_signals()
{
    const int error = errno;
    sigprocmask(SIG_SETMASK, &held_previous, nullptr);
    errno = error;
}

void guard_name(const Place& place, const char* name)
{
    guard.folder = place.folder;
    std::snprintf(guard.name, sizeof guard.name, "%s", name);
    guarding = 1;
    struct sigaction action = {};
    action.sa_handler = remove_guarded_and_reraise;
    action.sa_mask = ending_signals();
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        bool& handled = guard.handled[signal_number];
        struct sigaction& previous = guard.previous[signal_number];
        handled = sigismember(&action.sa_mask, signal_number) == 1 && sigaction(signal_number, &action, &previous) == 0;
        // A signal the caller ignores (nohup, for one) stays ignored.
        if (handled && (previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN) {
            sigaction(signal_number, &previous, nullptr);
            handled = false;
        }
    }
}

void unguard_name()
{
    guarding = 0;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (guard.handled[signal_number])
            sigaction(signal_number, &guard.previous[signal_number], nullptr);
        guard.handled[signal_number] = false;
    }
}

void remove_guarded_name()
{
    if (guarding)
        unlinkat(guard.folder, guard.name, 0);
}

bool open_older_file(const Place& place, const std::string& target, OlderFile& older)
{
    struct stat info;
    if (fstatat(place.folder, place.name.c_str(), &info, 0) != 0)
        return errno == ENOENT;
    older.kind = S_ISREG(info.st_mode) ? OlderFile::Kind::regular : OlderFile::Kind::other;
    older.path = target;
    if (older.kind == OlderFile::Kind::other)
        return true;
    // Opened once, through the folder: owner, mode, ACL and attributes then
    // all come from this one file, even when another run replaces it
    // meanwhile. One the running user may not read is opened only as a place.
    older.fd = openat(place.folder, place.name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    older.readable = older.fd >= 0;
#ifdef O_PATH
    if (!older.readable && (older.fd = openat(place.folder, place.name.c_str(), O_PATH | O_CLOEXEC)) < 0)
        return false;
#endif
    if (older.fd >= 0 && fstat(older.fd, &info) != 0)
        return false;
    older.uid = unsigned(info.st_uid);
    older.gid = unsigned(info.st_gid);
    older.mode = unsigned(info.st_mode & 07777);
    return true;
}

void close_older_file(OlderFile& older)
{
    if (older.fd >= 0)
        close(older.fd);
    older.fd = -1;
}

bool set_owner(std::FILE* file, long uid, long gid) { return fchown(fileno(file), uid_t(uid), gid_t(gid)) == 0; }

bool set_mode(std::FILE* file, unsigned mode) { return fchmod(fileno(file), mode_t(mode)) == 0; }

unsigned creation_mask()
{
    // The umask can only be read by setting it; a one-pass program does so
    // with no other thread to see the moment in between.
    const mode_t mask = umask(0);
    umask(mask);
    return unsigned(mask);
}


}  // namespace pixmar
