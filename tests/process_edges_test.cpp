// Where a run meets its operating system: standard output closed or without a
// reader, a file-size limit, and a header its user may not write. Each run is
// started with every signal at its default action, so a run that would be
// killed by one is seen killed. POSIX descriptors and users: not on Windows.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Root may write any file, so the tool runs as nobody, from a copy in a
// folder of /tmp that anyone may write and enter (the build folder may lie
// where nobody cannot), under the emulator where the tests run under one. A
// header nobody may not write is refused; one it may write is replaced, which
// shows the run could have replaced the first.
TEST(ProcessEdges, AHeaderTheUserMayNotWriteIsNotReplaced)
{
    const bool as_root = geteuid() == 0;
    if (as_root && access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "running as root without setpriv (util-linux), so the tool cannot run as an unprivileged user";
    char name[] = "/tmp/pixmar-permissions-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const fs::path folder = name;
    ASSERT_EQ(chmod(name, 0777), 0);
    fs::copy_file(PIXMAR_BINARY, folder / "pixmar");
#ifdef PIXMAR_EMULATOR
    const std::string tool = std::string("\"") + PIXMAR_EMULATOR + "\" ./pixmar";
#else
    const std::string tool = "./pixmar";
#endif
    write_file(folder / "in.bmp", make_bitmap(4, 2, [](auto, auto) { return kRed; }));
    ASSERT_EQ(chmod((folder / "in.bmp").c_str(), 0644), 0);
    const std::string runner = as_root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const std::string older = "older";
    struct ModeCase {
        mode_t mode;
        int status;
        std::string last_line;
    };
    const ModeCase cases[] = {{0444, 6, "ERROR: error opening file: in.bmp.h\n"}, {0666, 0, "Done.\n"}};
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.mode);
        write_file(folder / "in.bmp.h", std::vector<std::uint8_t>(older.begin(), older.end()));
        ASSERT_EQ(chmod((folder / "in.bmp.h").c_str(), c.mode), 0);
        const std::string command = "cd \"" + folder.string() + "\" && " + runner + tool + " in.bmp 2>&1";
        std::string out;
        int status = -1;
        if (std::FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[256];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
                out.append(buffer, n);
            status = pclose(pipe);
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << "status " << status << "\n" << out;
        ASSERT_GE(out.size(), c.last_line.size());
        EXPECT_EQ(out.substr(out.size() - c.last_line.size()), c.last_line);
        EXPECT_EQ(read_file(folder / "in.bmp.h") == older, c.status != 0);
        EXPECT_EQ(names_in(folder), (std::vector<std::string>{"in.bmp", "in.bmp.h", "pixmar"}));
    }
    fs::remove_all(folder);
}

}  // namespace
#endif
