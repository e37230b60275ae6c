// The platform layer on POSIX systems (the build picks this file or
// platform_windows.cpp): descriptors, signals, the file that replaces a
// header with its owner, permission bits and ACL, kernel advice.
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

// ---- The file that replaces a header ----------------------------------------
//
// On Linux the new file is made without a name (O_TMPFILE) in the target's
// folder where the file system allows it, so that nothing is left whatever
// ends the run, SIGKILL and a power loss included. It takes a name
// (pixmar-<process number>-<n>.tmp) only just before it is renamed over the
// target, with every signal that would end the process held back in
// between. Elsewhere it has such a name from the start, and each of those
// signals removes it before the process ends. Everything is done relative to
// one descriptor of the folder, opened once, so that a folder renamed
// meanwhile is still cleaned.

namespace {

#ifdef O_PATH
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;  // needs no read permission
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// The signals whose default action ends the process. SIGPIPE and SIGXFSZ are
// ignored from the start (prepare_process), and ignored signals stay so.
sigset_t ending_signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : {SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1, SIGSEGV,
                                    SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS})
        sigaddset(&set, signal_number);
#ifdef __linux__
    for (const int signal_number : {SIGSTKFLT, SIGIO, SIGPWR})
        sigaddset(&set, signal_number);
#endif
#ifdef SIGRTMIN
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number)
        sigaddset(&set, signal_number);
#endif
    return set;
}

// Holds back the ending signals while it lives; one that arrives meanwhile is
// delivered when it ends, with whatever action is in place then.
struct HeldSignals {
    sigset_t previous;
    HeldSignals()
    {
        const sigset_t ending = ending_signals();
        sigprocmask(SIG_BLOCK, &ending, &previous);
    }
    ~HeldSignals()
    {
        const int error = errno;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        errno = error;
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;
};

// The one new file. The signal handlers read its folder and temporary name,
// and only while name_guarded is set: both are in place before it is, with
// the ending signals held back.
struct NewFile {
    int folder = -1;            // the target's folder
    std::string target;         // the target's path, as given
    std::string name;           // the target's name in its folder
    char temporary[48] = {};    // the new file's name, once it has one
    bool named = false;
    bool open = false;
    struct sigaction previous[NSIG];
    bool guarded[NSIG] = {};
};
NewFile new_file;
volatile std::sig_atomic_t name_guarded = 0;

// Async-signal-safe only: unlinkat, signal and raise. The signal stays blocked
// while this runs, so the raised one is delivered, with the default action,
// as soon as the handler returns: the caller sees the process ended by it.
extern "C" void remove_new_file_and_reraise(int signal_number)
{
    if (name_guarded)
        unlinkat(new_file.folder, new_file.temporary, 0);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Runs with the ending signals held back.
void guard_new_file_name()
{
    name_guarded = 1;
    const sigset_t ending = ending_signals();
    struct sigaction action = {};
    action.sa_handler = remove_new_file_and_reraise;
    action.sa_mask = ending;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        bool& guarded = new_file.guarded[signal_number];
        struct sigaction& previous = new_file.previous[signal_number];
        guarded = sigismember(&ending, signal_number) == 1 && sigaction(signal_number, &action, &previous) == 0;
        // A signal the caller ignores (nohup, for one) stays ignored.
        if (guarded && (previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN) {
            sigaction(signal_number, &previous, nullptr);
            guarded = false;
        }
    }
}

// Runs with the ending signals held back.
void end_new_file()
{
    name_guarded = 0;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (new_file.guarded[signal_number])
            sigaction(signal_number, &new_file.previous[signal_number], nullptr);
        new_file.guarded[signal_number] = false;
    }
    close(new_file.folder);
    new_file.folder = -1;
    new_file.named = new_file.open = false;
}

void choose_temporary_name(unsigned attempt)
{
    std::snprintf(new_file.temporary, sizeof new_file.temporary, "pixmar-%d-%u.tmp", int(getpid()), attempt);
}

// The unnamed file, as a path that linkat can follow.
std::string link_to_descriptor(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Gives the unnamed file a temporary name in its folder.
bool name_new_file(int fd)
{
    const std::string link = link_to_descriptor(fd);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        choose_temporary_name(attempt);
        if (linkat(AT_FDCWD, link.c_str(), new_file.folder, new_file.temporary, AT_SYMLINK_FOLLOW) == 0) {
            new_file.named = true;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

#ifdef __linux__
constexpr char kAccessAcl[] = "system.posix_acl_access";

// An ACL in its stored form is a 4-byte version, then entries of a 16-bit
// tag, 16-bit permissions and a 32-bit id, little-endian. The tags read here:
constexpr char kAclOwner = 0x01, kAclOwningGroup = 0x04, kAclMask = 0x10, kAclOthers = 0x20;

// The tag of the entry at `at`; 0 for one above 0xFF, none of those above.
char acl_tag(const std::vector<char>& acl, std::size_t at) { return acl[at + 1] == 0 ? acl[at] : 0; }

// The output's folder opened again for reading, through its descriptor (which
// is opened only as a place): -1 where the running user may not read it.
int open_folder_for_reading() { return openat(new_file.folder, ".", O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC); }

// Where extended attributes are read: an open descriptor, or else a path.
struct AttributeSource {
    int fd = -1;
    std::string path;

    ssize_t list(char* names, std::size_t size) const
    {
        return fd >= 0 ? flistxattr(fd, names, size) : listxattr(path.c_str(), names, size);
    }
    ssize_t get(const char* name, void* value, std::size_t size) const
    {
        return fd >= 0 ? fgetxattr(fd, name, value, size) : getxattr(path.c_str(), name, value, size);
    }
};

bool attribute_value(const AttributeSource& source, const char* name, std::vector<char>& value)
{
    const ssize_t size = source.get(name, nullptr, 0);
    value.resize(size > 0 ? std::size_t(size) : 0);
    const ssize_t read = size < 0 ? -1 : source.get(name, value.data(), value.size());
    value.resize(read > 0 ? std::size_t(read) : 0);
    return read >= 0;
}

// For a group that cannot be kept: takes every right from the owning group's
// entry of an ACL, and caps the others' entry at what that group had (its
// entry under the mask), so that a member of the older group, now one of the
// others, gains nothing.
void deny_owning_group(std::vector<char>& acl)
{
    char group = 0, mask = 7;
    for (std::size_t at = 4; at + 8 <= acl.size(); at += 8) {
        if (acl_tag(acl, at) == kAclOwningGroup)
            group = acl[at + 2];
        if (acl_tag(acl, at) == kAclMask)
            mask = acl[at + 2];
    }
    for (std::size_t at = 4; at + 8 <= acl.size(); at += 8) {
        if (acl_tag(acl, at) == kAclOwningGroup)
            acl[at + 2] = acl[at + 3] = 0;
        if (acl_tag(acl, at) == kAclOthers)
            acl[at + 2] = char(acl[at + 2] & group & mask);
    }
}

// Copies the access ACL and the user. attributes of `source` onto the new
// file. False when the ACL cannot be copied: replacing the header would then
// widen who may read it.
bool copy_attributes_from(const AttributeSource& older, int fd, bool group_kept)
{
    std::vector<char> names, value;
    ssize_t size = older.list(nullptr, 0);
    if (size > 0) {
        names.resize(std::size_t(size));
        size = older.list(names.data(), names.size());
    }
    if (size < 0 && (errno == E2BIG || errno == ENOTSUP)) {
        // More names than the system lists at once (64 KiB of them), or no
        // list at all: the ACL is still read by its name, and the user.
        // attributes are dropped, as one that cannot be read is.
        names.assign(kAccessAcl, kAccessAcl + sizeof kAccessAcl);
        size = ssize_t(names.size());
    }
    if (size < 0)
        return false;
    bool has_acl = false;
    for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
        const bool acl = std::strcmp(name, kAccessAcl) == 0;
        if (!acl && std::strncmp(name, "user.", 5) != 0)
            continue;
        bool copied = attribute_value(older, name, value);
        if (acl && !copied && (errno == ENODATA || errno == ENOTSUP))
            continue;  // no ACL, or a file system without them: the permission bits say everything
        if (copied && acl && !group_kept)
            deny_owning_group(value);
        copied = copied && fsetxattr(fd, name, value.data(), value.size(), 0) == 0;
        if (acl && !copied)
            return false;
        has_acl = has_acl || acl;
    }
    // A default ACL of the folder may have given the new file entries that
    // the older one did not have.
    return has_acl || fremovexattr(fd, kAccessAcl) == 0 || errno == ENODATA || errno == ENOTSUP;
}

// True when `path`, links followed, leads to the file whose status is `file`.
bool is_file(const std::string& path, const struct stat& file)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && info.st_dev == file.st_dev && info.st_ino == file.st_ino;
}

// Reads, through `read`, the attributes of the file open as `place` where
// the running user may not open it for reading (only as a place, O_PATH,
// whose attributes cannot be read through it): through /proc's link to it,
// or without /proc through `path`, which must lead to that very file before
// and after, or the read fails.
template <typename Read>
bool read_attributes_of_place(int place, const std::string& path, Read read)
{
    const std::string link = link_to_descriptor(place);
    if (access(link.c_str(), F_OK) == 0)
        return read(AttributeSource{-1, link});
    struct stat file;
    return fstat(place, &file) == 0 && is_file(path, file) && read(AttributeSource{-1, path}) && is_file(path, file);
}

// Copies the access ACL and user. attributes of the older target open as
// `older_fd` (`readable`, or only as a place) onto the new file.
bool copy_extended_attributes(int fd, bool group_kept, int older_fd, bool readable)
{
    const auto copy = [&](const AttributeSource& older) { return copy_attributes_from(older, fd, group_kept); };
    return readable ? copy(AttributeSource{older_fd, {}}) : read_attributes_of_place(older_fd, new_file.target, copy);
}

// Gives a new file what the folder's default ACL gives a file created with
// mode 0666 there: each entry of the default ACL, the owner's, the mask's (or
// without one the owning group's) and the others' cut to read and write.
// False when the folder has no default ACL (the umask then applies) or it
// cannot be given.
bool give_folder_default_acl(int fd)
{
    std::vector<char> acl;
    const auto read = [&](const AttributeSource& folder) {
        return attribute_value(folder, "system.posix_acl_default", acl);
    };
    const int folder = open_folder_for_reading();
    const bool found = folder >= 0 ? read(AttributeSource{folder, {}})
                                   : read_attributes_of_place(new_file.folder, folder_of(new_file.target) + ".", read);
    if (folder >= 0)
        close(folder);
    if (!found || acl.size() < 4)
        return false;
    bool has_mask = false;
    for (std::size_t at = 4; at + 8 <= acl.size(); at += 8)
        has_mask = has_mask || acl_tag(acl, at) == kAclMask;
    for (std::size_t at = 4; at + 8 <= acl.size(); at += 8) {
        const char tag = acl_tag(acl, at);
        if (tag == kAclOwner || tag == kAclOthers || tag == (has_mask ? kAclMask : kAclOwningGroup))
            acl[at + 2] = char(acl[at + 2] & 06);
    }
    return fsetxattr(fd, kAccessAcl, acl.data(), acl.size(), 0) == 0;
}
#else
bool copy_extended_attributes(int, bool, int, bool) { return true; }
bool give_folder_default_acl(int) { return false; }
#endif

enum class Identity { failed, first, replacing };

// Gives the new file the identity of the older target whose status is
// `older` (as read from `older_fd` where that is open, `readable` or only as
// a place): see give_older_identity.
Identity give_identity_of(int fd, int older_fd, bool readable, bool found, struct stat& older)
{
    if (older_fd >= 0 && fstat(older_fd, &older) != 0)
        return Identity::failed;
    if (!found || !S_ISREG(older.st_mode)) {
        // What any new file created with mode 0666 gets there: the folder's
        // default ACL where it has one, otherwise 0666 less the umask. The
        // umask can only be read by setting it; a one-pass program does so
        // once, with no other thread to see the moment in between.
        const mode_t mask = umask(0);
        umask(mask);
        if (!give_folder_default_acl(fd) && fchmod(fd, 0666 & ~mask) != 0)
            return Identity::failed;
        return found ? Identity::replacing : Identity::first;
    }
    // Root keeps both; a member of the older header's group keeps the group,
    // as sed -i does. A group that cannot be kept is given nothing, and the
    // others no more than it had: its members are others now, and gain no
    // access the older header did not give them.
    const bool group_kept = fchown(fd, older.st_uid, older.st_gid) == 0 || fchown(fd, uid_t(-1), older.st_gid) == 0;
    const mode_t group = (older.st_mode >> 3) & 07;
    const mode_t mode = group_kept ? older.st_mode & 0777 : (older.st_mode & 0700) | (older.st_mode & group);
    const bool copied = fchmod(fd, mode) == 0 && copy_extended_attributes(fd, group_kept, older_fd, readable);
    return copied ? Identity::replacing : Identity::failed;
}

// Gives the new file what the older target has (owner and group where the
// running user may set them, permission bits, ACL and user. attributes), or
// the permission bits of a newly created file where there is none (or it is
// no regular file: a FIFO, socket or device is replaced by a regular file).
// Only "no such file" means there is none: an older header whose status
// cannot be read fails, so that it is never replaced as if it were not there.
Identity give_older_identity(int fd)
{
    struct stat older;
    const bool found = fstatat(new_file.folder, new_file.name.c_str(), &older, 0) == 0;
    if (!found && errno != ENOENT)
        return Identity::failed;
    // A regular older target is opened once, through the folder, and its
    // owner, mode, ACL and attributes are all read from that one file, even
    // when another run replaces it meanwhile; one the running user may not
    // read is opened only as a place.
    int older_fd = -1;
    bool readable = false;
    if (found && S_ISREG(older.st_mode)) {
        older_fd = openat(new_file.folder, new_file.name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        readable = older_fd >= 0;
#ifdef O_PATH
        if (!readable && (older_fd = openat(new_file.folder, new_file.name.c_str(), O_PATH | O_CLOEXEC)) < 0)
            return Identity::failed;
#endif
    }
    const Identity identity = give_identity_of(fd, older_fd, readable, found, older);
    if (older_fd >= 0)
        close(older_fd);
    return identity;
}

// Gives the unnamed file the target's name in one step, where there was no
// target: no temporary name ever exists for a first header. False when it
// cannot (the file has a name already, or a target appeared meanwhile).
bool link_as_target(int fd)
{
    return !new_file.named && linkat(AT_FDCWD, link_to_descriptor(fd).c_str(), new_file.folder, new_file.name.c_str(),
                                     AT_SYMLINK_FOLLOW) == 0;
}

// True when names can be added to the output's folder but not removed
// (chattr +a): an older header there could never be replaced, and a new
// file with a temporary name would stay behind under it.
bool append_only_folder()
{
#ifdef __linux__
    const int fd = open_folder_for_reading();
    int flags = 0;
    const bool append_only = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
    if (fd >= 0)
        close(fd);
    return append_only;
#else
    return false;
#endif
}

}  // namespace

std::FILE* create_new_file(const std::string& target)
{
    if (new_file.open) {
        errno = EBUSY;
        return nullptr;
    }
    const std::string folder = folder_of(target);
    new_file.target = target;
    new_file.name = target.substr(folder.size());
    const HeldSignals held;  // creating and guarding are one step
    new_file.folder = open(folder.empty() ? "." : folder.c_str(), kFolderFlags);
    if (new_file.folder < 0)
        return nullptr;
    if (append_only_folder()) {
        end_new_file();
        errno = EPERM;
        return nullptr;
    }
    // Private while it is written (0600, which the umask can only narrow):
    // its final owner and mode are set just before it takes the target's name.
    int fd = -1;
#ifdef O_TMPFILE
    fd = openat(new_file.folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0 && access(link_to_descriptor(fd).c_str(), F_OK) != 0) {
        close(fd);  // without /proc it could never be named
        fd = -1;
    }
#endif
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        choose_temporary_name(attempt);
        fd = openat(new_file.folder, new_file.temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        new_file.named = fd >= 0;
        if (fd < 0 && errno != EEXIST)
            break;
    }
    std::FILE* file = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (!file) {
        const bool no_memory = fd >= 0 && errno == ENOMEM;
        if (fd >= 0)
            close(fd);
        if (new_file.named)
            unlinkat(new_file.folder, new_file.temporary, 0);
        end_new_file();
        if (no_memory)
            throw std::bad_alloc();  // the run's memory message, not an opening error
        errno = EACCES;
        return nullptr;
    }
    new_file.open = true;
    if (new_file.named)
        guard_new_file_name();
    return file;
}

bool commit_new_file(std::FILE* file)
{
    Identity identity = Identity::failed;
    try {
        identity = give_older_identity(fileno(file));
    } catch (...) {
        // Memory that runs out while the older header's identity is copied
        // leaves no file behind either.
        discard_new_file(file);
        throw;
    }
    bool done = identity != Identity::failed && std::fflush(file) == 0;
    // From naming to renaming, no signal ends the run half-way: one that
    // arrives meanwhile ends it just after, with the new header in place.
    const HeldSignals held;
    if (done && identity == Identity::first && link_as_target(fileno(file))) {
        done = std::fclose(file) == 0;
        if (!done)
            unlinkat(new_file.folder, new_file.name.c_str(), 0);  // no header rather than a damaged one
        end_new_file();
        return done;
    }
    done = done && (new_file.named || name_new_file(fileno(file)));
    done = std::fclose(file) == 0 && done;
    done = done && renameat(new_file.folder, new_file.temporary, new_file.folder, new_file.name.c_str()) == 0;
    if (!done && new_file.named)
        unlinkat(new_file.folder, new_file.temporary, 0);
    end_new_file();
    return done;
}

void discard_new_file(std::FILE* file)
{
    const HeldSignals held;
    std::fclose(file);
    if (new_file.named)
        unlinkat(new_file.folder, new_file.temporary, 0);
    end_new_file();
}

}  // namespace pixmar
