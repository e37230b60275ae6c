// Interrupted runs leave nothing behind, a replaced header keeps its
// permission bits, and an input that is not a regular file never makes a run
// wait. POSIX signals, file modes and FIFOs: not built on Windows.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "output_file.h"
#include "platform.h"
#include "test_support.h"

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

// Runs `script` (pixmar as $1, the bitmap as $2, inside `folder`) and sends
// `signal_number` once the run's temporary file exists. A run that ends before
// its temporary file was seen proves nothing and is tried again; five in a row
// fail the test. Returns the run's wait status, or -1 after those five.
int signal_while_writing(const ScratchFolder& folder, const std::string& script, int signal_number,
                         const std::vector<std::uint8_t>& older)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        write_file(folder / "big.bmp.h", older);
        const int pid = spawn_shell(script, {PIXMAR_EXE, (folder / "big.bmp").string()});
        if (pid <= 0)
            return -1;
        int status = 0;
        bool exited = false;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!has_temporary_file(folder) && !exited && std::chrono::steady_clock::now() < give_up) {
            exited = waitpid(pid, &status, WNOHANG) == pid;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (exited)
            continue;
        kill(pid, signal_number);
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

// For each signal: a conversion of a 48 MiB bitmap signalled while its
// temporary file exists ends by that signal and leaves the folder as it was.
// No core file: SIGQUIT's default action would write one.
TEST(Interruption, ASignalWhileWritingLeavesOnlyTheBitmapAndTheOlderHeader)
{
    ScratchFolder folder;
    write_file(folder / "big.bmp", big_bitmap());
    const std::vector<std::uint8_t> older = {'o', 'l', 'd', '\r', '\n'};
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(strsignal(signal_number));
        int status = 0;
        // A run that finished between the look and the signal proves nothing either.
        for (int attempt = 0; attempt < 5 && (attempt == 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
             ++attempt)
            status = signal_while_writing(folder, "ulimit -c 0; exec \"$1\" \"$2\" >/dev/null", signal_number, older);
        ASSERT_NE(status, -1) << "five runs finished before their temporary file was seen";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << "status " << status;
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"big.bmp", "big.bmp.h"}));
        EXPECT_EQ(read_file(folder / "big.bmp.h"), std::string(older.begin(), older.end()));
    }
}

// A signal the caller ignores, as nohup ignores SIGHUP, stays ignored: the
// run goes on and writes the whole header.
TEST(Interruption, AnIgnoredSignalStaysIgnored)
{
    ScratchFolder folder;
    write_file(folder / "big.bmp", big_bitmap());
    const int status = signal_while_writing(folder, "trap '' HUP; exec \"$1\" \"$2\" >/dev/null", SIGHUP, {'o'});
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"big.bmp", "big.bmp.h"}));
    const std::string header = read_file(folder / "big.bmp.h");
    // The same run, not signalled, makes the whole header.
    ASSERT_EQ(wait_status(spawn_shell("exec \"$1\" \"$2\" >/dev/null", {PIXMAR_EXE, (folder / "big.bmp").string()})), 0);
    EXPECT_TRUE(header == read_file(folder / "big.bmp.h")) << "the header was cut short at " << header.size();
}

// SIGKILL cannot be caught, so its temporary file stays; while a private
// header (0600) is rewritten, that file is private too, whatever the umask.
TEST(Interruption, AKilledRunLeavesOnlyAPrivateTemporaryFile)
{
    ScratchFolder folder;
    write_file(folder / "big.bmp", big_bitmap());
    write_file(folder / "big.bmp.h", {'o'});
    ASSERT_EQ(chmod((folder / "big.bmp.h").c_str(), 0600), 0);
    const int status = signal_while_writing(folder, "umask 022; exec \"$1\" \"$2\" >/dev/null", SIGKILL, {'o'});
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    const std::vector<std::string> names = folder.names();
    ASSERT_EQ(names.size(), 3u);
    ASSERT_EQ(names[2].rfind("pixmar-", 0), 0u) << names[2];
    struct stat info;
    ASSERT_EQ(stat((folder / names[2]).c_str(), &info), 0);
    EXPECT_EQ(int(info.st_mode & 0777), 0600) << std::oct << (info.st_mode & 0777);
}

TEST(Interruption, AReplacedHeaderKeepsItsPermissionBits)
{
    struct ModeCase {
        int older_mode;  // -1: no older header
        mode_t umask_bits;
        int expected;
    };
    const ModeCase cases[] = {
        {0640, 022, 0640}, {0600, 022, 0600}, {0604, 022, 0604}, {0664, 077, 0664}, {-1, 022, 0644}, {-1, 077, 0600},
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
