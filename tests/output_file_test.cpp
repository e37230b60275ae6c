// The one way every program of the project writes a file: whole or not at
// all, never leaving a temporary file, with the permission bits a replaced
// file had.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output_file.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using namespace pixmar_test;

// An incomplete file never takes the target's name, whether it is finished
// as incomplete or never finished at all; a complete one replaces it.
TEST(OutputFile, OnlyACompleteFileReplacesTheTarget)
{
    ScratchFolder folder;
    const std::string target = utf8(folder / "out.bin");
    write_file(folder / "out.bin", {'o', 'l', 'd'});
    {
        pixmar::OutputFile output;
        ASSERT_TRUE(pixmar::open_output(target, output));
        ASSERT_TRUE(pixmar::write_output(output, "new", 3));
        EXPECT_FALSE(pixmar::finish_output(output, false));
    }
    EXPECT_EQ(read_file(folder / "out.bin"), "old");
    {
        pixmar::OutputFile output;
        ASSERT_TRUE(pixmar::open_output(target, output));
        ASSERT_TRUE(pixmar::write_output(output, "new", 3));
    }  // never finished: gone with its scope
    EXPECT_EQ(folder.names(), std::vector<std::string>{"out.bin"});
    EXPECT_EQ(read_file(folder / "out.bin"), "old");
    EXPECT_TRUE(pixmar::write_whole_file(target, {'n', 'e', 'w'}));
    EXPECT_EQ(read_file(folder / "out.bin"), "new");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"out.bin"});
}

#ifndef _WIN32
TEST(OutputFile, AReplacedFileKeepsItsPermissionBits)
{
    struct ModeCase {
        int older_mode;  // -1: no older file
        mode_t umask_bits;
        int expected;
    };
    const ModeCase cases[] = {
        {0640, 022, 0640}, {0600, 022, 0600}, {0604, 022, 0604}, {0664, 077, 0664}, {-1, 022, 0644}, {-1, 077, 0600},
    };
    ScratchFolder folder;
    const std::string target = (folder / "out.h").string();
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.older_mode << " umask " << c.umask_bits);
        std::filesystem::remove(target);
        if (c.older_mode >= 0) {
            write_file(target, {'x'});
            ASSERT_EQ(chmod(target.c_str(), mode_t(c.older_mode)), 0);
        }
        const mode_t saved = umask(c.umask_bits);
        const bool written = pixmar::write_whole_file(target, {'n', 'e', 'w'});
        umask(saved);
        ASSERT_TRUE(written);
        struct stat info;
        ASSERT_EQ(stat(target.c_str(), &info), 0);
        EXPECT_EQ(int(info.st_mode & 0777), c.expected) << std::oct << (info.st_mode & 0777);
        EXPECT_EQ(read_file(target), "new");
    }
}

// A link at the target's name is replaced, never written through: a symbolic
// link gives way to the new file, and a hard-linked target takes the new text
// under its own name; the other file keeps the older text either way, and the
// new file takes its permission bits. A FIFO there gives way to a regular file.
TEST(OutputFile, ALinkAtTheTargetIsReplacedNotWrittenThrough)
{
    namespace fs = std::filesystem;
    for (const bool symbolic : {true, false}) {
        SCOPED_TRACE(symbolic ? "symbolic link" : "hard link");
        ScratchFolder folder;
        write_file(folder / "other", {'o', 'l', 'd'});
        fs::permissions(folder / "other", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        if (symbolic)
            fs::create_symlink("other", folder / "out.h");
        else
            fs::create_hard_link(folder / "other", folder / "out.h");
        ASSERT_TRUE(pixmar::write_whole_file((folder / "out.h").string(), {'n', 'e', 'w'}));
        EXPECT_FALSE(fs::is_symlink(folder / "out.h"));
        EXPECT_EQ(read_file(folder / "out.h"), "new");
        EXPECT_EQ(read_file(folder / "other"), "old");
        EXPECT_EQ(fs::status(folder / "out.h").permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    ScratchFolder folder;
    ASSERT_EQ(mkfifo((folder / "pipe.h").c_str(), 0600), 0);
    ASSERT_TRUE(pixmar::write_whole_file((folder / "pipe.h").string(), {'n', 'e', 'w'}));
    EXPECT_TRUE(fs::is_regular_file(folder / "pipe.h"));
    EXPECT_EQ(read_file(folder / "pipe.h"), "new");
}
#endif

}  // namespace
