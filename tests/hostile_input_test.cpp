// Damaged, crafted and unusual inputs, and runs that race each other: one
// message, the documented status, and no stray or partial files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using namespace pixmar_test;

const std::string kOpened = kBanner + "Opening File: in.bmp\n";

// 6 x 2: rows of 18 pixel bytes and 2 fill bytes, 94 bytes in all.
std::vector<std::uint8_t> small_bitmap()
{
    return make_bitmap(6, 2, [](auto x, auto y) { return x == y ? kMagicPink : kWhite; });
}

TEST(HostileInput, EveryTruncationLength)
{
    const auto full = small_bitmap();
    ASSERT_EQ(full.size(), 94u);
    const std::string info = info_lines(6, 2, 40);
    ScratchFolder folder;
    for (std::size_t length = 0; length <= full.size(); ++length) {
        SCOPED_TRACE(length);
        write_file(folder / "in.bmp", std::vector<std::uint8_t>(full.begin(), full.begin() + std::ptrdiff_t(length)));
        const RunResult run = folder.run({"in.bmp"});
        if (length < 14) {
            EXPECT_EQ(run.out, kOpened + "Can't read header: 0\n");
            EXPECT_EQ(run.status, 3);
        } else if (length < 54) {
            EXPECT_EQ(run.out, kOpened + "Can't read info header: 0\n");
            EXPECT_EQ(run.status, 4);
        } else if (length < 54 + 20 + 18) {
            EXPECT_EQ(run.out, kOpened + info + "Image read failed\n");
            EXPECT_EQ(run.status, 5);
        } else {
            // Only the last row's fill bytes may be missing.
            EXPECT_EQ(run.out, kOpened + info + "Output File: in.bmp.h\nDone.\n");
            EXPECT_EQ(run.status, 0);
        }
        EXPECT_EQ(folder.names().size(), run.status == 0 ? 2u : 1u);
        std::filesystem::remove(folder / "in.bmp.h");
    }
}

TEST(HostileInput, ExtremeFieldValues)
{
    struct FieldCase {
        std::size_t offset;
        std::uint32_t value;
        std::string tail;
        int status;
    };
    const int min32 = -2147483647 - 1;
    const FieldCase cases[] = {
        {kWidth, 0x80000000, info_lines(min32, 2, 40) + "ERROR: Info Header error: bad width (-2147483648)\n", 4},
        {kWidth, 0x7FFFFFFF,
         info_lines(0x7FFFFFFF, 2, 40) + "ERROR: Info Header error: width is not a multiple of 2 (0x2147483647)\n", 4},
        {kWidth, 0x7FFFFFFE, info_lines(0x7FFFFFFE, 2, 40) + "Image read failed\n", 5},
        {kHeight, 0x7FFFFFFF, info_lines(6, 0x7FFFFFFF, 40) + "Image read failed\n", 5},
        {kHeight, 0x80000001, info_lines(6, -0x7FFFFFFF, 40) + "Image read failed\n", 5},
        {kOffBits, 0x80000000, info_lines(6, 2, 40) + "Image read failed\n", 5},
        {kOffBits, 0, info_lines(6, 2, 40) + "Output File: in.bmp.h\nDone.\n", 0},
        {kInfoSize, 0xFFFFFFFF, info_lines(6, 2, 40, -1) + "ERROR: Info Header error: bad header size (0x-1)\n", 4},
        {kPlanes, 0xFFFF, info_lines(6, 2, 40, 40, 65535) + "ERROR: Info Header error: only one plane supported (65535)\n",
         4},
    };
    ScratchFolder folder;
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.tail);
        auto bytes = small_bitmap();
        (c.offset == kPlanes ? put_u16 : put_u32)(bytes, c.offset, c.value);
        write_file(folder / "in.bmp", bytes);
        const RunResult run = folder.run({"in.bmp"});
        EXPECT_EQ(run.out, kOpened + c.tail);
        EXPECT_EQ(run.status, c.status);
        std::filesystem::remove(folder / "in.bmp.h");
    }
}

#if !defined(_WIN32) && !defined(PIXMAR_SANITIZED)
// Under a 256 MiB address-space limit, a tool that reserved memory for the
// claimed size before reading would report no memory instead.
TEST(HostileInput, ClaimedSizesCostNoMemory)
{
#ifdef PIXMAR_EMULATOR
    GTEST_SKIP() << "under emulation the emulator's own reservations exceed an address-space limit";
#endif
    ScratchFolder folder;
    auto bytes = small_bitmap();
    put_u32(bytes, kWidth, 30000);
    put_u32(bytes, kHeight, 30000);
    bytes.resize(60);
    write_file(folder / "in.bmp", bytes);
    const RunResult run = folder.run({"in.bmp"}, "ulimit -v 262144; ");
    EXPECT_EQ(run.out, kOpened + info_lines(30000, 30000, 40) + "Image read failed\n");
    EXPECT_EQ(run.status, 5);
}
#endif

#ifndef _WIN32
TEST(HostileInput, InputsThatAreNotRegularFiles)
{
    ScratchFolder folder;
    ASSERT_EQ(mkfifo((folder / "pipe.bmp").c_str(), 0600), 0);
    write_file(folder / "empty.bmp", {});
    for (const std::string path : {"pipe.bmp", "/dev/zero", "."}) {
        SCOPED_TRACE(path);
        const RunResult run = folder.run({path});
        EXPECT_EQ(run.out, kBanner + "Opening File: " + path + "\nCan't open: " + path + "\n");
        EXPECT_EQ(run.status, 2);
    }
    const RunResult run = folder.run({"empty.bmp"});
    EXPECT_EQ(run.out, kBanner + "Opening File: empty.bmp\nCan't read header: 0\n");
    EXPECT_EQ(run.status, 3);
}

// Both runs finish, and whichever renames last leaves a complete header.
TEST(HostileInput, SimultaneousRunsOnOneBitmap)
{
    ScratchFolder folder;
    write_file(folder / "in.bmp", make_bitmap(512, 256, [](auto x, auto y) { return Rgb{std::uint8_t(x), std::uint8_t(y), 7}; }));
    ASSERT_EQ(folder.run({"in.bmp"}).status, 0);
    const std::string expected = read_file(folder / "in.bmp.h");
    for (int round = 0; round < 3; ++round) {
        const std::string command = "cd \"" + folder.path().string() + "\" && (\"" PIXMAR_EXE "\" in.bmp >/dev/null; echo $? >a) & (cd \"" +
                                    folder.path().string() + "\" && \"" PIXMAR_EXE "\" in.bmp >/dev/null; echo $? >b); wait";
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(read_file(folder / "a"), "0\n");
        EXPECT_EQ(read_file(folder / "b"), "0\n");
        EXPECT_EQ(read_file(folder / "in.bmp.h"), expected);
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"a", "b", "in.bmp", "in.bmp.h"}));
    }
}
#endif

}  // namespace
