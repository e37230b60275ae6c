// The platform layer on POSIX systems (the build picks this file or
// platform_windows.cpp): descriptors, signals, the output file's primitives
// (its policy is output_file.cpp), kernel advice. ACLs go through libacl and
// user. attributes through libattr where the build has them (PIXMAR_ACL).
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
#ifdef PIXMAR_ACL
#include <acl/libacl.h>
#include <attr/libattr.h>
#include <sys/acl.h>
#include <sys/xattr.h>
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

#ifdef PIXMAR_ACL
// True when `path`, links followed, leads to the file whose status is `file`.
bool is_file(const std::string& path, const struct stat& file)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && info.st_dev == file.st_dev && info.st_ino == file.st_ino;
}

// Calls `read` with a path the libraries can follow to the file open as
// `place` (a descriptor opened only as a place, whose attributes cannot be
// read through it): /proc's link to it, or without /proc `path`, which must
// lead to that very file before and after, or the read fails.
template <typename Read>
bool read_through_path(int place, const std::string& path, Read read)
{
    const ProcLink link = proc_link(place);
    if (access(link.path, F_OK) == 0)
        return read(link.path);
    struct stat file;
    return fstat(place, &file) == 0 && is_file(path, file) && read(path.c_str()) && is_file(path, file);
}

// Calls `visit(tag, permissions)` for each entry of `acl`; false when one cannot be read.
template <typename Visit>
bool for_each_entry(acl_t acl, Visit visit)
{
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY, got; (got = acl_get_entry(acl, which, &entry)) != 0; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        acl_permset_t permissions;
        if (got < 0 || acl_get_tag_type(entry, &tag) != 0 || acl_get_permset(entry, &permissions) != 0)
            return false;
        visit(tag, permissions);
    }
    return true;
}

// The access ACL of the older file (libacl makes one from its mode where it
// keeps none); nullptr when it cannot be read.
acl_t read_access_acl(const OlderFile& older)
{
    if (older.readable)
        return acl_get_fd(older.fd);
    acl_t acl = nullptr;
    const bool read = read_through_path(older.fd, older.path, [&](const char* path) {
        return (acl = acl_get_file(path, ACL_TYPE_ACCESS)) != nullptr;
    });
    if (!read && acl) {
        acl_free(acl);  // the path led elsewhere afterwards
        acl = nullptr;
    }
    return acl;
}

// False only when the older file's list of attributes can be read and names
// no access ACL: reading an ACL fails alike on a file system that keeps none
// and for a fault, and only the list tells the two apart.
bool may_keep_acl(const OlderFile& older)
{
    std::vector<char> names(65536);
    ssize_t size = -1;
    if (older.readable)
        size = flistxattr(older.fd, names.data(), names.size());
    else
        read_through_path(older.fd, older.path,
                          [&](const char* path) { return (size = listxattr(path, names.data(), names.size())) >= 0; });
    for (const char* name = names.data(); size >= 0 && name < names.data() + size; name += std::strlen(name) + 1)
        if (std::strcmp(name, "system.posix_acl_access") == 0)
            return true;
    return size < 0;
}

// For a group that cannot be kept: takes every right from the owning group's
// entry, and caps the others' at what that group had (its entry under the
// mask), so that a member of the older group, now one of the others, gains
// nothing.
bool deny_owning_group(acl_t acl)
{
    acl_permset_t group = nullptr, mask = nullptr, others = nullptr;
    const bool read = for_each_entry(acl, [&](acl_tag_t tag, acl_permset_t permissions) {
        if (tag == ACL_GROUP_OBJ)
            group = permissions;
        else if (tag == ACL_MASK)
            mask = permissions;
        else if (tag == ACL_OTHER)
            others = permissions;
    });
    if (!read || !group || !others)
        return false;
    for (const acl_perm_t permission : {ACL_READ, ACL_WRITE, ACL_EXECUTE})
        if (acl_get_perm(group, permission) != 1 || (mask && acl_get_perm(mask, permission) != 1))
            acl_delete_perm(others, permission);
    return acl_clear_perms(group) == 0;
}

extern "C" int is_user_attribute(const char* name, struct error_context*) { return std::strncmp(name, "user.", 5) == 0; }
#endif

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

#ifdef PIXMAR_ACL
bool copy_access_acl(const OlderFile& older, std::FILE* file, bool deny_group)
{
    acl_t acl = read_access_acl(older);
    if (!acl && (errno == ENOTSUP || errno == ENODATA) && !may_keep_acl(older))
        acl = acl_from_mode(mode_t(older.mode));  // a file system without ACLs: the mode says everything
    // Given even when it says no more than the mode: it then takes away what
    // a default ACL of the folder gave the new file.
    const bool given = acl && (!deny_group || deny_owning_group(acl)) &&
                       (acl_set_fd(fileno(file), acl) == 0 || (errno == ENOTSUP && acl_equiv_mode(acl, nullptr) == 0));
    if (acl)
        acl_free(acl);
    return given;
}

bool copy_user_attributes(const OlderFile& older, std::FILE* file)
{
    // Reading user. attributes needs read permission: a file open only as a
    // place gives none. libattr holds the list of names on its stack, so a
    // list longer than the system allows (XATTR_LIST_MAX) is refused first.
    if (!older.readable)
        return true;
    if (flistxattr(older.fd, nullptr, 0) > 65536)
        return false;
    attr_copy_fd("", older.fd, "", fileno(file), is_user_attribute, nullptr);
    return true;
}

bool give_default_acl(const Place& place, std::FILE* file)
{
    acl_t acl = nullptr;
    const bool read = read_through_path(place.folder, place.folder_path + ".", [&](const char* path) {
        return (acl = acl_get_file(path, ACL_TYPE_DEFAULT)) != nullptr;
    });
    // Each entry of the default ACL, the owner's, the mask's (or without one
    // the owning group's) and the others' cut to read and write.
    bool has_mask = false, given = read && acl && acl_entries(acl) > 0;
    given = given && for_each_entry(acl, [&](acl_tag_t tag, acl_permset_t) { has_mask = has_mask || tag == ACL_MASK; });
    given = given && for_each_entry(acl, [&](acl_tag_t tag, acl_permset_t permissions) {
        if (tag == ACL_USER_OBJ || tag == ACL_OTHER || tag == (has_mask ? ACL_MASK : ACL_GROUP_OBJ))
            acl_delete_perm(permissions, ACL_EXECUTE);
    });
    given = given && acl_set_fd(fileno(file), acl) == 0;
    if (acl)
        acl_free(acl);
    return given;
}
#else
// Built without libacl and libattr: a replaced header keeps its owner and
// mode, and no ACL or user. attribute is copied.
bool copy_access_acl(const OlderFile&, std::FILE*, bool) { return true; }
bool copy_user_attributes(const OlderFile&, std::FILE*) { return true; }
bool give_default_acl(const Place&, std::FILE*) { return false; }
#endif

}  // namespace pixmar
