// However a run ends part-way, it leaves the folder as it found it, and a
// signal the caller ignores stays ignored; a folder replaced while a header is
// written keeps its own header's identity. POSIX signals: not built on Windows.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#include <thread>
#include <unistd.h>

#include "test_support.h"

namespace {

using namespace pixmar_test;
namespace fs = std::filesystem;

// Runs `script` ($1 pixmar, $2 the bitmap in `folder`, $3 the file for its
// messages) and calls `act` with its process number once it has made its
// header's new file (it printed "Output File:"). A run that ends before that
// proves nothing and is tried again; five in a row fail. Returns the run's
// wait status, or -1 after those five.
int act_while_writing(const ScratchFolder& folder, const std::string& script, const std::vector<std::uint8_t>& older,
                      const std::function<void(int)>& act)
{
    ScratchFolder capture;
    const std::string messages = (capture / "out.txt").string();
    for (int attempt = 0; attempt < 5; ++attempt) {
        write_file(folder / "big.bmp.h", older);
        write_file(messages, {});
        const int pid = spawn_shell(script, {PIXMAR_EXE, (folder / "big.bmp").string(), messages});
        if (pid <= 0)
            return -1;
        int status = 0;
        bool exited = false;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (read_file(messages).find("Output File:") == std::string::npos && !exited &&
               std::chrono::steady_clock::now() < give_up) {
            exited = waitpid(pid, &status, WNOHANG) == pid;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (exited)
            continue;
        act(pid);
        return wait_status(pid);
    }
    return -1;
}

std::vector<std::uint8_t> big_bitmap()
{
    return make_bitmap(4096, 4096, [](auto x, auto y) {
        return Rgb{std::uint8_t(x * 7 + y), std::uint8_t(x ^ y), std::uint8_t(y * 3)};
    });
}

// For each way a run can be ended while it writes a 48 MiB bitmap's header:
// it ends that way, and the folder holds exactly the bitmap and the untouched
// older header, even when the folder was renamed meanwhile. Run once as it
// comes (on Linux the new file has no name until the end, so even SIGKILL
// leaves nothing) and, where this process may, once with /proc hidden, so
// that the new file has a name that the guards must remove; SIGKILL cannot
// be guarded, and then leaves that file, private to its owner. No core
// files: the default action of some of these signals writes one.
TEST(Interruption, ARunEndedWhileWritingLeavesTheFolderAsItWas)
{
    struct EndCase {
        int signal_number;
        bool rename_folder;
    };
    const EndCase cases[] = {{SIGINT, false},  {SIGTERM, false}, {SIGHUP, false},    {SIGQUIT, false},
                             {SIGUSR1, false}, {SIGUSR2, false}, {SIGALRM, false},   {SIGVTALRM, false},
                             {SIGPROF, false}, {SIGXCPU, false}, {SIGKILL, false},   {SIGTERM, true}};
    const std::vector<std::uint8_t> older = {'o', 'l', 'd', '\r', '\n'};
    ScratchFolder folder;
    write_file(folder / "big.bmp", big_bitmap());
    const fs::path moved = folder.path().string() + "-moved";
    for (const bool hidden_proc : {false, true}) {
        if (hidden_proc && !can_hide_proc()) {
            std::printf("the runs with /proc hidden need root and unshare: not run\n");
            break;
        }
        const std::string script = "ulimit -c 0; umask 022; exec " + (hidden_proc ? kHideProc : "") + "\"$1\" \"$2\" >\"$3\"";
        for (const EndCase& c : cases) {
            SCOPED_TRACE(testing::Message() << strsignal(c.signal_number) << (c.rename_folder ? ", folder renamed" : "")
                                            << (hidden_proc ? ", /proc hidden" : ""));
            int status = 0;
            // A run that finished its header just before the signal proves nothing either.
            for (int attempt = 0; attempt < 5 && (attempt == 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
                 ++attempt) {
                status = act_while_writing(folder, script, older, [&](int pid) {
                    if (c.rename_folder)
                        fs::rename(folder.path(), moved);
                    kill(pid, c.signal_number);
                });
                if (c.rename_folder && fs::exists(moved))
                    fs::rename(moved, folder.path());
            }
            ASSERT_NE(status, -1) << "five runs ended before the signal";
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal_number) << "status " << status;
            std::vector<std::string> names = folder.names();
            if (hidden_proc && c.signal_number == SIGKILL && names.size() == 3 && names[2].rfind("pixmar-", 0) == 0) {
                struct stat info;
                ASSERT_EQ(stat((folder / names[2]).c_str(), &info), 0);
                EXPECT_EQ(int(info.st_mode & 0777), 0600) << std::oct << (info.st_mode & 0777);
                fs::remove(folder / names[2]);
                names.pop_back();
            }
            EXPECT_EQ(names, (std::vector<std::string>{"big.bmp", "big.bmp.h"}));
            EXPECT_EQ(read_file(folder / "big.bmp.h"), std::string(older.begin(), older.end()));
        }
    }
}

#ifdef __linux__
// A folder renamed while a header is written, with another put in its place,
// does not mix the two: the header is made in the renamed folder with the
// attributes of the older header there, although the path the run was given
// now leads to the other, and the new file has a name from the start (/proc
// hidden).
TEST(Interruption, AFolderReplacedWhileWritingKeepsItsOwnHeadersIdentity)
{
    PIXMAR_SKIP_WITHOUT_ACL();
    if (!can_hide_proc())
        GTEST_SKIP() << "hiding /proc needs root and unshare";
    ScratchFolder folder;
    write_file(folder / "big.bmp", big_bitmap());
    write_file(folder / "big.bmp.h", {});
    const fs::path moved = folder.path().string() + "-moved";
    const ScopeGuard remove_moved([&] { fs::remove_all(moved); });
    if (setxattr((folder / "big.bmp.h").c_str(), "user.pixmar.test", "own", 3, 0) != 0)
        GTEST_SKIP() << "this file system keeps no user attributes";
    const std::string script = "exec " + kHideProc + "\"$1\" \"$2\" >\"$3\"";
    const int status = act_while_writing(folder, script, {'o'}, [&](int) {
        fs::rename(folder.path(), moved);
        fs::create_directory(folder.path());
        write_file(folder / "big.bmp.h", {'x'});
        setxattr((folder / "big.bmp.h").c_str(), "user.pixmar.test", "other", 5, 0);
    });
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    const auto own = std::vector<std::uint8_t>{'o', 'w', 'n'}, other = std::vector<std::uint8_t>{'o', 't', 'h', 'e', 'r'};
    EXPECT_EQ(attribute(moved / "big.bmp.h", "user.pixmar.test"), own);
    EXPECT_EQ(read_file(folder / "big.bmp.h"), "x");
    EXPECT_EQ(attribute(folder / "big.bmp.h", "user.pixmar.test"), other);
}
#endif

// A signal the caller ignores, as nohup ignores SIGHUP, stays ignored: the
// run goes on and writes the whole header.
TEST(Interruption, AnIgnoredSignalStaysIgnored)
{
    ScratchFolder folder;
    write_file(folder / "big.bmp", big_bitmap());
    const std::string script = "trap '' HUP; exec \"$1\" \"$2\" >\"$3\"";
    const int status = act_while_writing(folder, script, {'o'}, [](int pid) { kill(pid, SIGHUP); });
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"big.bmp", "big.bmp.h"}));
    const std::string header = read_file(folder / "big.bmp.h");
    // The same run, not signalled, makes the whole header.
    ASSERT_EQ(wait_status(spawn_shell("exec \"$1\" \"$2\" >/dev/null", {PIXMAR_EXE, (folder / "big.bmp").string()})), 0);
    EXPECT_TRUE(header == read_file(folder / "big.bmp.h")) << "the header was cut short at " << header.size();
}

// A signal that arrives while the new header takes its name is held back
// until the header is in place; the run then ends by it, with the new header
// whole. strace sends SIGTERM as the rename begins.
TEST(Interruption, ASignalAtTheRenameEndsTheRunWithTheNewHeaderInPlace)
{
#ifdef PIXMAR_EMULATOR
    GTEST_SKIP() << "strace would see the emulator's calls, not the tool's";
#endif
    if (wait_status(spawn_shell("command -v strace >/dev/null")) != 0)
        GTEST_SKIP() << "needs strace";
    ScratchFolder folder, reference;
    for (const ScratchFolder* f : {&folder, &reference})
        write_file(*f / "in.bmp", make_bitmap(34, 3, [](auto x, auto y) { return Rgb{std::uint8_t(x), 7, std::uint8_t(y)}; }));
    write_file(folder / "in.bmp.h", {'o'});
    const std::string renames = "rename,renameat,renameat2";
    const int status = wait_status(spawn_shell(
        "cd \"$1\" && exec strace -o /dev/null -e trace=" + renames + " -e inject=" + renames +
            ":signal=SIGTERM \"$2\" in.bmp >/dev/null",
        {folder.path().string(), PIXMAR_EXE}));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
    ASSERT_EQ(reference.run({"in.bmp"}).status, 0);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"in.bmp", "in.bmp.h"}));
    EXPECT_EQ(read_file(folder / "in.bmp.h"), read_file(reference / "in.bmp.h"));
}

}  // namespace
#endif
