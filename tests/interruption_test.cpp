// Interrupted runs leave nothing behind, and a signal the caller ignores stays
// ignored. POSIX signals: not built on Windows.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

}  // namespace
#endif
