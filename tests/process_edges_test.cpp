// Where a run meets its operating system: standard output closed or without a
// reader, a file-size limit, a header its user may not write, and what a
// replaced header keeps. Each run is
// started with every signal at its default action, so a run that would be
// killed by one is seen killed. POSIX descriptors and users: not on Windows.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/xattr.h>
#endif

#include "test_support.h"

namespace {

using namespace pixmar_test;
namespace fs = std::filesystem;

// A relative path of about `length` bytes to sample.bmp, through folders of
// 200-byte names, made inside `folder`: messages that long fill a stream's
// buffer mid-run.
std::string long_path(const ScratchFolder& folder, std::size_t length)
{
    std::string path;
    while (path.size() + 211 < length)
        path += std::string(200, 'd') + "/";
    fs::create_directories(folder / path);
    path += "sample.bmp";
    write_file(folder / path, make_bitmap(6, 4, [](auto x, auto y) { return (x + y) % 2 ? kRed : kBlue; }));
    return path;
}

// Writes `bytes` at the relative `path` below `folder`, making its folders
// one at a time through descriptors: no call sees more than one name, so the
// path may pass the system's limit for a whole path wherever the folder lies.
bool write_deep_file(const fs::path& folder, const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    int at = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    std::size_t start = 0;
    for (std::size_t slash; at >= 0 && (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
        const std::string name = path.substr(start, slash - start);
        const int next = mkdirat(at, name.c_str(), 0755) == 0 ? openat(at, name.c_str(), O_RDONLY | O_DIRECTORY) : -1;
        close(at);
        at = next;
    }
    const int file = at < 0 ? -1 : openat(at, path.substr(start).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    const bool written = file >= 0 && write(file, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    if (file >= 0)
        close(file);
    if (at >= 0)
        close(at);
    return written;
}

// The header a run with an ordinary standard output makes for `path`.
std::string reference_header(const ScratchFolder& folder, const std::string& path)
{
    const std::string script = "cd \"$1\" && exec \"$2\" \"$3\" >/dev/null";
    EXPECT_EQ(wait_status(spawn_shell(script, {folder.path().string(), PIXMAR_EXE, path})), 0);
    return read_file(folder / (path + ".h"));
}

// A closed standard output must not let the header's own file take its
// descriptor (the messages would be written into the header); a pipe whose
// reader has gone must not kill the run. Either way the run converts.
TEST(ProcessEdges, StandardOutputClosedOrWithoutReaderLeavesTheHeaderWhole)
{
    struct OutputCase {
        const char* name;
        std::size_t path_length;
        bool closed;  // otherwise a pipe whose reader has gone
    };
    // Both lines that name the path together overflow a 4 KiB stream buffer
    // while the header is being written.
    const OutputCase cases[] = {{"closed", 2100, true}, {"reader gone", 2100, false}};
    for (const OutputCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        const std::string path = long_path(folder, c.path_length);
        int pipe_ends[2] = {-1, -1};
        ASSERT_EQ(pipe(pipe_ends), 0);
        close(pipe_ends[0]);
        const int output = c.closed ? kCloseOutput : pipe_ends[1];
        const int pid = spawn_shell("cd \"$1\" && exec \"$2\" \"$3\"", {folder.path().string(), PIXMAR_EXE, path}, output);
        close(pipe_ends[1]);
        const int status = wait_status(pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        const std::string header = read_file(folder / (path + ".h"));
        EXPECT_EQ(header.rfind("/*\r\n * File  : ", 0), 0u) << header.substr(0, 60);
        EXPECT_TRUE(header == reference_header(folder, path));
        EXPECT_EQ(folder.names(), std::vector<std::string>{std::string(200, 'd')});
    }
}

// The limit is met part-way through the header: the write fails, the run says
// so with status 6, and the temporary file is gone. Not ignoring SIGXFSZ here
// is the point: the tool must not be killed by it. The limits count blocks of
// 512 bytes (dash's ulimit): the small header fails at once, the large one
// in its second 1 MiB block.
TEST(ProcessEdges, AFileSizeLimitFailsTheWriteAndKeepsTheOlderHeader)
{
    struct LimitCase {
        std::uint32_t width, height;
        const char* limit;
    };
    const LimitCase cases[] = {{64, 8, "2"}, {1024, 256, "2500"}};
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        ScratchFolder folder, capture;
        write_file(folder / "big.bmp", make_bitmap(c.width, c.height, [](auto x, auto) { return x % 3 ? kRed : kBlue; }));
        const std::vector<std::uint8_t> older(5000, 'o');
        write_file(folder / "big.bmp.h", older);
        const std::string out = (capture / "out.txt").string();
        const int status = wait_status(spawn_shell("cd \"$1\" && ulimit -f $4 && exec \"$2\" big.bmp >\"$3\"",
                                                   {folder.path().string(), PIXMAR_EXE, out, c.limit}));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 6) << "status " << status;
        EXPECT_EQ(read_file(out), kBanner + "Opening File: big.bmp\n" +
                                      info_lines(int(c.width), int(c.height), int(c.width * c.height * 3)) +
                                      "Output File: big.bmp.h\nERROR: error writing file: big.bmp.h\n");
        EXPECT_EQ(read_file(folder / "big.bmp.h"), std::string(older.begin(), older.end()));
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"big.bmp", "big.bmp.h"}));
    }
}

// A folder of /tmp that anyone may write and enter, holding a copy of
// pixmar (the build folder may lie where other users cannot); removed
// afterwards.
class SharedFolder {
public:
    SharedFolder()
    {
        char name[] = "/tmp/pixmar-users-XXXXXX";
        EXPECT_NE(mkdtemp(name), nullptr);
        path_ = name;
        EXPECT_EQ(chmod(name, 0777), 0);
        fs::copy_file(PIXMAR_BINARY, path_ / "pixmar");
        write_file(path_ / "in.bmp", make_bitmap(4, 2, [](auto, auto) { return kRed; }));
        EXPECT_EQ(chmod((path_ / "in.bmp").c_str(), 0644), 0);
    }
    ~SharedFolder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

    // Runs pixmar on in.bmp there, under the emulator where the tests run
    // under one, as the user that setpriv's `user` options make (none: this
    // process's user), with /proc hidden if asked.
    RunResult run_as(const std::string& user, bool hide_proc = false) const
    {
#ifdef PIXMAR_EMULATOR
        const std::string tool = std::string("\"") + PIXMAR_EMULATOR + "\" ./pixmar";
#else
        const std::string tool = "./pixmar";
#endif
        const std::string runner = (hide_proc ? kHideProc : "") + (user.empty() ? "" : "setpriv " + user + " ");
        const std::string command = "cd \"" + path_.string() + "\" && " + runner + tool + " in.bmp 2>&1";
        RunResult result{-1, ""};
        if (std::FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[256];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
                result.out.append(buffer, n);
            result.status = pclose(pipe);
        }
        return result;
    }

private:
    fs::path path_;
};

bool can_run_as_others() { return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0; }

// Root may write any file, so the tool runs as nobody. A header nobody may
// not write is refused; one it may write is replaced, which shows the run
// could have replaced the first.
TEST(ProcessEdges, AHeaderTheUserMayNotWriteIsNotReplaced)
{
    const bool as_root = geteuid() == 0;
    if (as_root && !can_run_as_others())
        GTEST_SKIP() << "running as root without setpriv (util-linux), so the tool cannot run as an unprivileged user";
    const SharedFolder folder;
    const std::string user = as_root ? "--reuid=65534 --regid=65534 --clear-groups" : "";
    const std::string older = "older";
    struct ModeCase {
        mode_t mode;
        int status;
        std::string last_line;
    };
    const ModeCase cases[] = {{0444, 6, "ERROR: error opening file: in.bmp.h\n"}, {0666, 0, "Done.\n"}};
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.mode);
        write_file(folder.path() / "in.bmp.h", std::vector<std::uint8_t>(older.begin(), older.end()));
        ASSERT_EQ(chmod((folder.path() / "in.bmp.h").c_str(), c.mode), 0);
        const RunResult run = folder.run_as(user);
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == c.status) << "status " << run.status << "\n" << run.out;
        ASSERT_GE(run.out.size(), c.last_line.size());
        EXPECT_EQ(run.out.substr(run.out.size() - c.last_line.size()), c.last_line);
        EXPECT_EQ(read_file(folder.path() / "in.bmp.h") == older, c.status != 0);
        EXPECT_EQ(names_in(folder.path()), (std::vector<std::string>{"in.bmp", "in.bmp.h", "pixmar"}));
    }
}

#ifdef __linux__
// An append-only folder (chattr +a) is refused before anything is made in
// it, whatever its mode: one the runner may write but not read (0733) too,
// with /proc shown or hidden, with an older header or without.
TEST(ProcessEdges, AnAppendOnlyFolderIsRefusedWhateverItsMode)
{
    if (!can_run_as_others())
        GTEST_SKIP() << "needs root, for chattr and to run the tool as nobody, and setpriv";
    struct FolderCase {
        mode_t mode;
        bool older;
        bool hide_proc;
    };
    const FolderCase cases[] = {{0777, true, false}, {0733, true, false}, {0733, false, false}, {0733, false, true},
                                {0733, true, true}};
    const SharedFolder folder;
    const std::string path = folder.path().string();
    const auto writable = [&] {
        wait_status(spawn_shell("exec chattr -a \"$1\" 2>/dev/null", {path}));
        chmod(path.c_str(), 0777);
    };
    const ScopeGuard undo(writable);
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.mode << (c.older ? ", older header" : ", first header")
                                        << (c.hide_proc ? ", /proc hidden" : ""));
        if (c.hide_proc && !can_hide_proc()) {
            std::printf("hiding /proc needs unshare, and a tool that runs without it: that row is not run\n");
            continue;
        }
        writable();
        fs::remove(folder.path() / "in.bmp.h");
        std::vector<std::string> names = {"in.bmp", "pixmar"};
        if (c.older) {
            write_file(folder.path() / "in.bmp.h", {'o'});
            ASSERT_EQ(chmod((folder.path() / "in.bmp.h").c_str(), 0666), 0);
            names.insert(names.begin() + 1, "in.bmp.h");
        }
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        if (wait_status(spawn_shell("exec chattr +a \"$1\" 2>/dev/null", {path})) != 0)
            GTEST_SKIP() << "this file system keeps no append-only flag";
        const RunResult run = folder.run_as("--reuid=65534 --regid=65534 --clear-groups", c.hide_proc);
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 6) << "status " << run.status << "\n" << run.out;
        EXPECT_EQ(run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1), "ERROR: error opening file: in.bmp.h\n");
        EXPECT_EQ(names_in(folder.path()), names);
    }
}

// An ACL in its stored form: a version, then five entries of tag,
// permissions and id, little-endian (owner, a named user, the owning group,
// the mask, the others).
std::vector<std::uint8_t> acl_of(const std::uint32_t (&entries)[5][3])
{
    std::vector<std::uint8_t> acl(4 + 5 * 8, 0);
    put_u32(acl, 0, 2);
    for (std::size_t i = 0; i < 5; ++i) {
        put_u16(acl, 4 + 8 * i, entries[i][0]);
        put_u16(acl, 6 + 8 * i, entries[i][1]);
        put_u32(acl, 8 + 8 * i, entries[i][2]);
    }
    return acl;
}

// An access ACL that gives user 1003 nothing and the owner, the owning group
// (`group`) and others what `mode` gives them.
std::vector<std::uint8_t> acl_denying_user_1003(mode_t mode, std::uint32_t group)
{
    return acl_of({{0x01, (mode >> 6) & 7, ~0u}, {0x02, 0, 1003}, {0x04, group, ~0u}, {0x10, (mode >> 3) & 7, ~0u},
                   {0x20, mode & 7, ~0u}});
}

// A replaced header keeps its owner and group where the running user may set
// them (root keeps both, a member of the header's group keeps the group), its
// permission bits, its access ACL and its user. attributes. A group that
// cannot be kept is given nothing, in the mode or in the ACL. With /proc
// hidden too, where the attributes of a header its user may not read are
// read through its path.
TEST(ProcessEdges, AReplacedHeaderKeepsItsOwnerGroupModeAndAttributes)
{
    PIXMAR_SKIP_WITHOUT_ACL();
    if (!can_run_as_others())
        GTEST_SKIP() << "needs root, to give the older header to other users, and setpriv";
    struct IdentityCase {
        const char* user;         // setpriv's options; none: root
        uid_t uid;                // the older header's owner, group and mode
        gid_t gid;
        mode_t mode;
        bool acl;                 // it also denies user 1003 through an ACL
        gid_t new_gid;            // what the new one has
        mode_t new_mode;
        std::uint32_t new_group;  // the owning group's entry in its ACL
    };
    const IdentityCase cases[] = {
        {"", 1001, 1500, 0640, true, 1500, 0640, 4},
        {"--reuid=1002 --regid=100 --groups=1500", 1001, 1500, 0660, false, 1500, 0660, 0},
        {"--reuid=1002 --regid=100 --clear-groups", 1002, 1500, 0664, false, 100, 0604, 0},
        {"--reuid=1002 --regid=100 --clear-groups", 1002, 1500, 0664, true, 100, 0664, 0},
        // The older group may not read, the others may: the others lose what the group did not have.
        {"--reuid=1002 --regid=100 --clear-groups", 1002, 1500, 0604, false, 100, 0600, 0},
        {"--reuid=1002 --regid=100 --clear-groups", 1002, 1500, 0606, true, 100, 0600, 0},
        // Its owner may not read it: the ACL is still copied, the user. attribute cannot be read.
        {"--reuid=1002 --regid=100 --groups=1500", 1002, 1500, 0260, true, 1500, 0260, 6},
    };
    const SharedFolder folder;
    const fs::path header = folder.path() / "in.bmp.h";
    std::vector<bool> proc_hidden = {false};
    if (can_hide_proc())
        proc_hidden.push_back(true);
    else
        std::printf("hiding /proc needs unshare, and a tool that runs without it: those rows are not run\n");
    for (const bool hide_proc : proc_hidden)
    for (const IdentityCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "as " << (*c.user ? c.user : "root") << ", older " << c.uid << ":" << c.gid
                                        << " " << std::oct << c.mode << (c.acl ? " with an ACL" : "")
                                        << (hide_proc ? ", /proc hidden" : ""));
        fs::remove(header);
        write_file(header, {'o'});
        ASSERT_EQ(chown(header.c_str(), c.uid, c.gid), 0);
        ASSERT_EQ(chmod(header.c_str(), c.mode), 0);
        const std::vector<std::uint8_t> acl = acl_denying_user_1003(c.mode, (c.mode >> 3) & 7);
        if (c.acl && (setxattr(header.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0 ||
                      setxattr(header.c_str(), "user.pixmar.test", "art", 3, 0) != 0))
            GTEST_SKIP() << "this file system keeps no ACLs or user attributes";
        const RunResult run = folder.run_as(c.user, hide_proc);
        ASSERT_EQ(run.status, 0) << run.out;
        struct stat info;
        ASSERT_EQ(stat(header.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, *c.user ? 1002u : c.uid);
        EXPECT_EQ(info.st_gid, c.new_gid);
        EXPECT_EQ(info.st_mode & 0777, c.new_mode) << std::oct << (info.st_mode & 0777);
        EXPECT_EQ(attribute(header, "system.posix_acl_access"),
                  c.acl ? acl_denying_user_1003(c.new_mode, c.new_group) : std::vector<std::uint8_t>{});
        const std::vector<std::uint8_t> art = {'a', 'r', 't'};
        EXPECT_EQ(attribute(header, "user.pixmar.test"), c.acl && (c.mode & 0400) ? art : std::vector<std::uint8_t>{});
    }
}

// Where the commit meets the system: an older header whose status cannot be
// read is not taken for no header (the run fails and keeps it), and a first
// header takes its name in one step, so a run killed where a header would be
// renamed is never killed with a temporary file: a first header is not
// renamed at all, and one killed as it links leaves nothing. Memory that
// runs out while the older header's identity is copied leaves nothing
// either, even where the new file is named from the start (/proc hidden). An
// older header whose attributes cannot be listed (too many, or no list at
// all) still gives its ACL; one whose ACL cannot be read is not replaced.
// strace injects the errors, the signals and a list of attributes too large
// to hold; a preloaded allocator, memory that runs out where nothing can be
// thrown (the terminate path). A run that fails keeps the older header with
// its ACL and attributes.
TEST(ProcessEdges, TheCommitTakesNoErrorForNoHeaderAndNamesAFirstHeaderInOneStep)
{
#ifdef PIXMAR_EMULATOR
    GTEST_SKIP() << "strace would see the emulator's calls, not the tool's";
#endif
    PIXMAR_SKIP_WITHOUT_ACL();
    if (wait_status(spawn_shell("command -v strace >/dev/null")) != 0)
        GTEST_SKIP() << "needs strace";
    struct CommitCase {
        const char* name;
        bool older;  // an older header is there
        std::string trace;
        int status;
        const char* last_line;
        bool append_only = false;  // the folder's names may be added, not removed (root only)
        bool hide_proc = false;    // root only
    };
    const CommitCase cases[] = {
        {"an error reading the older header's status", true,
         "-P in.bmp.h -e trace=newfstatat -e inject=newfstatat:error=EIO:when=2", 6, "ERROR: error writing file: in.bmp.h\n"},
        {"killed at any rename", false, "-e trace=rename,renameat,renameat2 -e inject=rename,renameat,renameat2:signal=SIGKILL",
         0, "Done.\n"},
        {"killed at the link", false, "-e trace=link,linkat -e inject=link,linkat:signal=SIGKILL", 128 + SIGKILL,
         "Output File: in.bmp.h\n"},
        {"an append-only folder", true, "-e trace=none", 6, "ERROR: error opening file: in.bmp.h\n", true},
        {"no memory for the older header's attributes, /proc hidden", true,
         "-e trace=flistxattr,listxattr -e inject=flistxattr,listxattr:retval=1125899906842624", 5,
         "ERROR: not enough memory for the image\n", false, true},
        {"too many attributes to list", true, "-e trace=flistxattr,listxattr -e inject=flistxattr,listxattr:error=E2BIG", 0,
         "Done.\n"},
        {"no list of attributes", true, "-e trace=flistxattr,listxattr -e inject=flistxattr,listxattr:error=EOPNOTSUPP", 0,
         "Done.\n"},
#if defined(PIXMAR_NO_THROW_MEMORY) && !defined(PIXMAR_SANITIZED)
        {"memory that cannot be thrown, the new file named", false,
         "-E 'LD_LIBRARY_PATH=" PIXMAR_NO_THROW_MEMORY_FOLDER "' -E 'LD_PRELOAD=" PIXMAR_NO_THROW_MEMORY "' -e trace=none", 5,
         "ERROR: not enough memory for the image\n"},
#endif
        {"an ACL that cannot be read", true, "-e trace=fgetxattr -e inject=fgetxattr:error=EOPNOTSUPP:when=1", 6,
         "ERROR: error writing file: in.bmp.h\n"},
    };
    ScratchFolder reference;
    write_file(reference / "in.bmp", make_bitmap(6, 2, [](auto x, auto) { return x % 2 ? kRed : kBlue; }));
    ASSERT_EQ(reference.run({"in.bmp"}).status, 0);
    for (const CommitCase& c : cases) {
        SCOPED_TRACE(c.name);
        // The run's folder is one below the scratch folder, which holds what the harness writes.
        ScratchFolder folder;
        const fs::path run_folder = folder / "run";
        fs::create_directory(run_folder);
        fs::copy_file(reference / "in.bmp", run_folder / "in.bmp");
        const std::vector<std::uint8_t> acl = acl_denying_user_1003(0640, 4), art = {'a', 'r', 't'};
        if (c.older) {
            write_file(run_folder / "in.bmp.h", {'o', 'l', 'd'});
            if (setxattr((run_folder / "in.bmp.h").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0 ||
                setxattr((run_folder / "in.bmp.h").c_str(), "user.pixmar.test", "art", 3, 0) != 0)
                GTEST_SKIP() << "this file system keeps no ACLs or user attributes";
        }
        const ScopeGuard writable([&] { wait_status(spawn_shell("exec chattr -a \"$1\" 2>/dev/null", {run_folder.string()})); });
        if (c.append_only && (geteuid() != 0 || wait_status(spawn_shell("exec chattr +a \"$1\" 2>/dev/null", {run_folder.string()})) != 0)) {
            std::printf("an append-only folder needs root and a file system that keeps the flag: that row is not run\n");
            continue;
        }
        if (c.hide_proc && !can_hide_proc()) {
            std::printf("hiding /proc needs root and unshare: that row is not run\n");
            continue;
        }
        // LeakSanitizer cannot work under ptrace, and says so; the rest of a sanitizer build's checks stay.
        const RunResult run = folder.run_program(PIXMAR_EXE, {"in.bmp"},
                                                 "exec env ASAN_OPTIONS=detect_leaks=0 " + (c.hide_proc ? kHideProc : "") +
                                                     "strace -o /dev/null " + c.trace + " ", "run");
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1), c.last_line);
        if (!c.older && c.status != 0) {
            EXPECT_EQ(names_in(run_folder), std::vector<std::string>{"in.bmp"});
            continue;
        }
        EXPECT_EQ(names_in(run_folder), (std::vector<std::string>{"in.bmp", "in.bmp.h"}));
        EXPECT_EQ(read_file(run_folder / "in.bmp.h"), c.status == 0 ? read_file(reference / "in.bmp.h") : "old");
        if (c.older) {
            EXPECT_EQ(attribute(run_folder / "in.bmp.h", "system.posix_acl_access"), acl);
            EXPECT_EQ(attribute(run_folder / "in.bmp.h", "user.pixmar.test"), c.status == 0 ? std::vector<std::uint8_t>{} : art);
        }
    }
}

// A new header gets what any file created with mode 0666 gets in its folder:
// under a default ACL (user 1004 may write, the others nothing), that ACL cut
// to read and write, never 0666 less the umask over it.
TEST(ProcessEdges, ANewHeaderGetsWhatTheFolderGivesANewFile)
{
    PIXMAR_SKIP_WITHOUT_ACL();
    ScratchFolder folder;
    const std::vector<std::uint8_t> acl = acl_of({{0x01, 7, ~0u}, {0x02, 6, 1004}, {0x04, 4, ~0u}, {0x10, 7, ~0u}, {0x20, 0, ~0u}});
    if (setxattr(folder.path().c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "this file system keeps no ACLs";
    write_file(folder / "in.bmp", make_bitmap(4, 2, [](auto, auto) { return kRed; }));
    ASSERT_EQ(wait_status(spawn_shell("cd \"$1\" && umask 022 && : >reference && exec \"$2\" in.bmp >/dev/null",
                                      {folder.path().string(), PIXMAR_EXE})), 0);
    const std::vector<std::uint8_t> given = attribute(folder / "reference", "system.posix_acl_access");
    EXPECT_FALSE(given.empty());
    EXPECT_EQ(attribute(folder / "in.bmp.h", "system.posix_acl_access"), given);
    struct stat header, reference;
    ASSERT_EQ(stat((folder / "in.bmp.h").c_str(), &header), 0);
    ASSERT_EQ(stat((folder / "reference").c_str(), &reference), 0);
    EXPECT_EQ(header.st_mode & 0777, reference.st_mode & 0777) << std::oct << (header.st_mode & 0777);
}
#endif

// A run that cannot go on says why, with its documented status, and leaves
// nothing: a header name too long for its folder or for the system's path
// limit fails as an opening, before anything is written; a regular file
// whose reads would wait for data (a kernel trace pipe) fails as a read; and
// memory that runs out anywhere after the bitmap was checked (an
// address-space limit raised step by step until the run succeeds) ends in
// the memory message, never a crash or a partial file.
TEST(ProcessEdges, ARunThatCannotGoOnSaysWhyAndLeavesNothing)
{
    const std::vector<std::uint8_t> bitmap = make_bitmap(6, 4, [](auto x, auto) { return x % 2 ? kRed : kBlue; });
    const std::string opened_bitmap = info_lines(6, 4, 80);
    struct EndCase {
        std::string path;    // the bitmap, relative to the folder; made there unless it is absolute
        std::string prefix;  // put before the command, with a space
        std::string last_line;
        int status;
    };
    // 16 folders of 250 letters and a bitmap name make a path of 4,094 bytes, whose header's path of 4,096 no system call takes.
    std::string deep;
    for (int i = 0; i < 16; ++i)
        deep += std::string(250, 'd') + "/";
    deep += std::string(4094 - deep.size() - 4, 'x') + ".bmp";
    const std::string long_name = std::string(251, 'n') + ".bmp";
    std::vector<EndCase> cases = {
        {long_name, "", "ERROR: error opening file: " + long_name + ".h\n", 6},
        {deep, "", "ERROR: error opening file: " + deep + ".h\n", 6},
    };
    ScratchFolder traces;
    const bool traced = geteuid() == 0 && wait_status(spawn_shell("exec mount -t tracefs nodev \"$1\" 2>/dev/null",
                                                                  {traces.path().string()})) == 0;
    const ScopeGuard unmount([&] {
        if (traced)
            wait_status(spawn_shell("exec umount \"$1\"", {traces.path().string()}));
    });
    if (traced)
        cases.push_back({(traces / "trace_pipe").string(), "exec timeout -s KILL 20 ", "Image read failed\n", 5});
    else
        std::printf("mounting a trace pipe needs root: that row is not run\n");
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 40));
        ScratchFolder folder;
        // Too deep for the folder's own clean-up.
        const ScopeGuard remove_deep([&] { wait_status(spawn_shell("exec rm -rf \"$1\"/d*", {folder.path().string()})); });
        if (c.path[0] != '/') {
            ASSERT_TRUE(write_deep_file(folder.path(), c.path, bitmap));
        }
        const RunResult run = folder.run({c.path}, c.prefix);
        EXPECT_EQ(run.status, c.status);
        const std::string opened = kBanner + "Opening File: " + c.path + "\n" + (c.status == 6 ? opened_bitmap : "");
        EXPECT_EQ(run.out, opened + c.last_line);
        EXPECT_EQ(wait_status(spawn_shell("cd \"$1\" && test -z \"$(find . -name '*.h' -o -name 'pixmar-*')\"",
                                          {folder.path().string()})), 0) << "something was left";
    }
#if !defined(PIXMAR_SANITIZED) && !defined(PIXMAR_EMULATOR)
    // Sanitizers and emulators reserve far more address space than these limits allow.
    ScratchFolder folder;
    write_file(folder / "m.bmp", make_bitmap(1024, 1024, [](auto x, auto y) { return Rgb{std::uint8_t(x), std::uint8_t(y), 9}; }));
    // Fine steps while the system's loader cannot even start it (status 127),
    // so that the first limits the program itself meets are all tried.
    bool started = false, ran_out_while_writing = false;
    for (int kib = 2048; kib < 65536; kib += started ? 256 : 8) {
        SCOPED_TRACE(testing::Message() << "ulimit -v " << kib);
        const RunResult run = folder.run({"m.bmp"}, "ulimit -v " + std::to_string(kib) + "; ");
        started = started || run.status != 127;
        if (!started)
            continue;
        if (run.status == 0)
            break;
        EXPECT_EQ(run.status, 5);
        EXPECT_EQ(run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1), "ERROR: not enough memory for the image\n");
        EXPECT_EQ(folder.names(), std::vector<std::string>{"m.bmp"});
        ran_out_while_writing = ran_out_while_writing || run.out.find("Output File:") != std::string::npos;
    }
    EXPECT_TRUE(ran_out_while_writing) << "no limit let the image in but not its header";
#endif
}

}  // namespace
#endif
