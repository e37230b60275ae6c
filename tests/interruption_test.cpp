// Interrupted runs leave nothing behind, a replaced header keeps its
// permission bits, and an input that is not a regular file never makes a run
// wait. POSIX signals, file modes and FIFOs: not built on Windows.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "output_file.h"
#include "platform.h"
#include "test_support.h"

extern char** environ;

namespace {

using namespace pixmar_test;
namespace fs = std::filesystem;

bool has_temporary_file(const ScratchFolder& folder)
{
    for (const std::string& name : folder.names())
        if (name.rfind("pixmar-", 0) == 0)
            return true;
    return false;
}

// Starts pixmar on `input` inside `folder` with the interruptions at their
// default action, whatever the test runner set, and its output discarded.
pid_t start_pixmar(const ScratchFolder& folder, const std::string& input)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const std::string path = (folder.path() / input).string();
    char* const argv[] = {const_cast<char*>(PIXMAR_EXE), const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, PIXMAR_EXE, &actions, &attributes, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// For each signal: start a conversion of a 48 MiB bitmap, wait until its
// temporary file exists, then send the signal. A run that finishes before its
// temporary file was seen is tried again; five in a row fail the test.
TEST(Interruption, ASignalWhileWritingLeavesOnlyTheBitmapAndTheOlderHeader)
{
    ScratchFolder folder;
    write_file(folder / "big.bmp", make_bitmap(4096, 4096, [](auto x, auto y) {
                   return Rgb{std::uint8_t(x * 7 + y), std::uint8_t(x ^ y), std::uint8_t(y * 3)};
               }));
    const std::vector<std::uint8_t> older = {'o', 'l', 'd', '\r', '\n'};
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal_number));
        write_file(folder / "big.bmp.h", older);
        bool interrupted = false;
        for (int attempt = 0; attempt < 5 && !interrupted; ++attempt) {
            const pid_t pid = start_pixmar(folder, "big.bmp");
            ASSERT_GT(pid, 0);
            int status = 0;
            bool exited = false;
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!has_temporary_file(folder) && !exited && std::chrono::steady_clock::now() < give_up) {
                exited = waitpid(pid, &status, WNOHANG) == pid;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            if (!exited) {
                kill(pid, signal_number);
                ASSERT_EQ(waitpid(pid, &status, 0), pid);
            }
            // A run that ended before it was signalled proves nothing: try again.
            if (exited || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
                write_file(folder / "big.bmp.h", older);
                continue;
            }
            interrupted = true;
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << "status " << status;
        }
        ASSERT_TRUE(interrupted) << "five runs finished before their temporary file was seen";
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"big.bmp", "big.bmp.h"}));
        EXPECT_EQ(read_file(folder / "big.bmp.h"), std::string(older.begin(), older.end()));
    }
}

TEST(Interruption, AReplacedHeaderKeepsItsPermissionBits)
{
    struct ModeCase {
        int older_mode;  // -1: no older header
        mode_t umask_bits;
        int expected;
    };
    const ModeCase cases[] = {
        {0640, 022, 0640}, {0600, 022, 0600}, {0444, 022, 0444}, {0664, 077, 0664}, {-1, 022, 0644}, {-1, 077, 0600},
    };
    ScratchFolder folder;
    write_file(folder / "in.bmp", make_bitmap(4, 2, [](auto, auto) { return kRed; }));
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.older_mode << " umask " << c.umask_bits);
        fs::remove(folder / "in.bmp.h");
        if (c.older_mode >= 0) {
            write_file(folder / "in.bmp.h", {'x'});
            ASSERT_EQ(chmod((folder / "in.bmp.h").c_str(), mode_t(c.older_mode)), 0);
        }
        const mode_t saved = umask(c.umask_bits);
        const RunResult run = folder.run({"in.bmp"});
        umask(saved);
        ASSERT_EQ(run.status, 0) << run.out;
        struct stat info;
        ASSERT_EQ(stat((folder / "in.bmp.h").c_str(), &info), 0);
        EXPECT_EQ(int(info.st_mode & 0777), c.expected) << std::oct << (info.st_mode & 0777);
        EXPECT_NE(read_file(folder / "in.bmp.h"), "x");
    }
}

// Opened and examined in another thread: a FIFO that made the open wait
// would fail this test after five seconds instead of hanging it.
TEST(Interruption, OnlyRegularFilesAreOpenedAndNothingWaits)
{
    ScratchFolder folder;
    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);
    write_file(folder / "file", {'B', 'M'});
    struct OpenCase {
        std::string path;
        bool opens;
    };
    const OpenCase cases[] = {{(folder / "pipe").string(), false}, {"/dev/null", false}, {folder.path().string(), false},
                              {(folder / "missing").string(), false}, {(folder / "file").string(), true}};
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.path);
        auto opened = std::make_shared<std::promise<bool>>();
        std::future<bool> result = opened->get_future();
        std::thread([opened, path = c.path] {
            std::FILE* file = pixmar::open_regular_file(path);
            opened->set_value(file != nullptr);
            if (file)
                std::fclose(file);
        }).detach();
        ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the open waited";
        EXPECT_EQ(result.get(), c.opens);
    }
}

// The one way of writing files: an incomplete file never takes the target's
// name, and nothing is left beside it.
TEST(Interruption, AnIncompleteOutputLeavesTheTargetAsItWas)
{
    ScratchFolder folder;
    const std::string target = (folder / "out.bin").string();
    write_file(target, {'o', 'l', 'd'});
    pixmar::OutputFile output;
    ASSERT_TRUE(pixmar::open_output(target, output));
    std::fputs("new", output.stream);
    EXPECT_FALSE(pixmar::finish_output(output, false));
    EXPECT_EQ(read_file(target), "old");
    ASSERT_TRUE(pixmar::open_output(target, output));
    std::fputs("new", output.stream);
    EXPECT_TRUE(pixmar::finish_output(output, true));
    EXPECT_EQ(read_file(target), "new");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"out.bin"});
}

}  // namespace
#endif
