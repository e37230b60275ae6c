// Damaged, crafted and unusual inputs, and runs that race each other: one
// message, the documented status, and no stray or partial files. The tables
// call the converter in this process; the rest run the tool itself.
#include <gtest/gtest.h>

#include <functional>
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
    for (std::size_t length = 0; length <= full.size(); ++length) {
        SCOPED_TRACE(length);
        const InProcessRun run = convert_in_memory({full.begin(), full.begin() + std::ptrdiff_t(length)});
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
        EXPECT_EQ(run.header.empty(), run.status != 0);
    }
}

struct FieldCase {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    std::string expected_tail;  // what follows "Opening File: in.bmp\n"
    int status;
};

// Each header field damaged, at ordinary and at hostile values (the most
// negative and largest 32-bit widths, heights and offsets), on a 2 x 3 bitmap:
// rows of 6 pixel bytes and 2 fill bytes, 78 bytes in all.
TEST(HostileInput, EachDamagedFieldGetsItsMessageAndStatus)
{
    const std::string info = info_lines(2, 3, 24);
    const int min32 = -2147483647 - 1;
    const FieldCase cases[] = {
        {"starts BA", [](auto& b) { b[1] = 'A'; }, "Header error: bad type (0x4142)\n", 3},
        {"starts GI", [](auto& b) { b[0] = 'G', b[1] = 'I'; }, "Header error: bad type (0x4947)\n", 3},
        {"108-byte info", [](auto& b) { put_u32(b, kInfoSize, 108); },
         info_lines(2, 3, 24, 108) + "ERROR: Info Header error: bad header size (0x108)\n", 4},
        {"info size all ones", [](auto& b) { put_u32(b, kInfoSize, 0xFFFFFFFF); },
         info_lines(2, 3, 24, -1) + "ERROR: Info Header error: bad header size (0x-1)\n", 4},
        {"width 3", [](auto& b) { put_u32(b, kWidth, 3); },
         info_lines(3, 3, 24) + "ERROR: Info Header error: width is not a multiple of 2 (0x3)\n", 4},
        {"width -3", [](auto& b) { put_u32(b, kWidth, std::uint32_t(-3)); },
         info_lines(-3, 3, 24) + "ERROR: Info Header error: width is not a multiple of 2 (0x-3)\n", 4},
        {"width 2^31 - 1", [](auto& b) { put_u32(b, kWidth, 0x7FFFFFFF); },
         info_lines(0x7FFFFFFF, 3, 24) + "ERROR: Info Header error: width is not a multiple of 2 (0x2147483647)\n", 4},
        {"width 0", [](auto& b) { put_u32(b, kWidth, 0); },
         info_lines(0, 3, 24) + "ERROR: Info Header error: bad width (0)\n", 4},
        {"width -4", [](auto& b) { put_u32(b, kWidth, std::uint32_t(-4)); },
         info_lines(-4, 3, 24) + "ERROR: Info Header error: bad width (-4)\n", 4},
        {"width -2^31", [](auto& b) { put_u32(b, kWidth, 0x80000000); },
         info_lines(min32, 3, 24) + "ERROR: Info Header error: bad width (-2147483648)\n", 4},
        {"compressed", [](auto& b) { put_u32(b, kCompression, 1); },
         info_lines(2, 3, 24, 40, 1, 24, 1) + "ERROR: Info Header error: compression not supported (0x1)\n", 4},
        {"compression all ones", [](auto& b) { put_u32(b, kCompression, 0xFFFFFFFF); },
         info_lines(2, 3, 24, 40, 1, 24, -1) + "ERROR: Info Header error: compression not supported (0x-1)\n", 4},
        {"indexed", [](auto& b) { put_u32(b, kClrUsed, 256); },
         info + "ERROR: Info Header error: indexed colors not supported (256)\n", 4},
        {"indexed all ones", [](auto& b) { put_u32(b, kClrUsed, 0xFFFFFFFF); },
         info + "ERROR: Info Header error: indexed colors not supported (-1)\n", 4},
        {"8-bit indexed", [](auto& b) { put_u16(b, kBitCount, 8), put_u32(b, kClrUsed, 256); },
         info_lines(2, 3, 24, 40, 1, 8) + "ERROR: Info Header error: indexed colors not supported (256)\n", 4},
        {"two planes", [](auto& b) { put_u16(b, kPlanes, 2); },
         info_lines(2, 3, 24, 40, 2) + "ERROR: Info Header error: only one plane supported (2)\n", 4},
        {"planes all ones", [](auto& b) { put_u16(b, kPlanes, 0xFFFF); },
         info_lines(2, 3, 24, 40, 65535) + "ERROR: Info Header error: only one plane supported (65535)\n", 4},
        {"8-bit", [](auto& b) { put_u16(b, kBitCount, 8); },
         info_lines(2, 3, 24, 40, 1, 8) + "ERROR: Info Header error: only 24 bit color depth supported (8)\n", 4},
        {"offset past the end", [](auto& b) { put_u32(b, kOffBits, 60); }, info + "Image read failed\n", 5},
        {"offset 2^31", [](auto& b) { put_u32(b, kOffBits, 0x80000000); }, info + "Image read failed\n", 5},
        {"offset 2^32 - 1", [](auto& b) { put_u32(b, kOffBits, 0xFFFFFFFF); }, info + "Image read failed\n", 5},
        {"30000 x 30000 claimed", [](auto& b) { b.resize(60), put_u32(b, kWidth, 30000), put_u32(b, kHeight, 30000); },
         info_lines(30000, 30000, 24) + "Image read failed\n", 5},
        {"width 2^31 - 2", [](auto& b) { put_u32(b, kWidth, 0x7FFFFFFE); },
         info_lines(0x7FFFFFFE, 3, 24) + "Image read failed\n", 5},
        {"height 2^31 - 1", [](auto& b) { put_u32(b, kHeight, 0x7FFFFFFF); },
         info_lines(2, 0x7FFFFFFF, 24) + "Image read failed\n", 5},
        {"largest sizes", [](auto& b) { put_u32(b, kWidth, 0x7FFFFFFE), put_u32(b, kHeight, 0x7FFFFFFF); },
         info_lines(0x7FFFFFFE, 0x7FFFFFFF, 24) + "Image read failed\n", 5},
        {"height -(2^31 - 1)", [](auto& b) { put_u32(b, kHeight, 0x80000001); },
         info_lines(2, -0x7FFFFFFF, 24) + "Image read failed\n", 5},
        {"most negative height", [](auto& b) { put_u32(b, kHeight, 0x80000000); },
         info_lines(2, min32, 24) + "Image read failed\n", 5},
        // The headers themselves read as pixels: 22 bytes are needed, 78 are there.
        {"offset 0", [](auto& b) { put_u32(b, kOffBits, 0); }, info + "Output File: in.bmp.h\nDone.\n", 0},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto bytes = make_bitmap(2, 3, [](auto x, auto y) { return (x + y) % 2 ? kRed : kWhite; });
        c.damage(bytes);
        const InProcessRun run = convert_in_memory(bytes);
        EXPECT_EQ(run.out, kOpened + c.expected_tail);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.header.empty(), c.status != 0);
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

// Anything but a regular file is refused at once: nothing is read from it.
TEST(HostileInput, InputsThatCannotBeOpened)
{
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "folder.bmp");
    std::vector<std::string> paths = {"missing.bmp", "folder.bmp", "."};
#ifndef _WIN32
    ASSERT_EQ(mkfifo((folder / "pipe.bmp").c_str(), 0600), 0);
    paths.insert(paths.end(), {"pipe.bmp", "/dev/null", "/dev/zero"});
#endif
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const RunResult run = folder.run({path});
        EXPECT_EQ(run.out, kBanner + "Opening File: " + path + "\nCan't open: " + path + "\n");
        EXPECT_EQ(run.status, 2);
    }
    write_file(folder / "empty.bmp", {});
    const RunResult run = folder.run({"empty.bmp"});
    EXPECT_EQ(run.out, kBanner + "Opening File: empty.bmp\nCan't read header: 0\n");
    EXPECT_EQ(run.status, 3);
}

#ifndef _WIN32
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
