#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "preview.h"
#include "test_support.h"

namespace {

using namespace pixmar_test;

// Worked by hand: R = Y + 1.402 (Cr - 128), G = Y - 0.344136 (Cb - 128) -
// 0.714136 (Cr - 128), B = Y + 1.772 (Cb - 128), rounded and clamped.
TEST(Preview, KnownWordsDecodeToKnownPixels)
{
    struct DecodeCase {
        std::uint32_t word;
        Rgb left, right;
    };
    const DecodeCase cases[] = {
        {0x00800080, kBlack, kBlack},
        {0xFF80FF80, kWhite, kWhite},
        {0xFF800080, kWhite, kBlack},
        // Red: 76 + 178.054; 76 + 15.142 - 90.695 = 0.447; 76 - 77.968 clamps to 0.
        {0x4C544CFF, {254, 0, 0}, {254, 0, 0}},
        // Blue: 29 - 29.442 rounds to 0; 29 - 43.705 + 14.997 = 0.292; 29 + 225.044.
        {0x1DFF1D6B, {0, 0, 254}, {0, 0, 254}},
        {0x69D469EA, {254, 0, 254}, {254, 0, 254}},
        // Red beside blue share Cb 169, Cr 181: 150.306, 24.041, 148.652 and 103.306, -22.959, 101.652.
        {0x4CA91DB5, {150, 24, 149}, {103, 0, 102}},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.word);
        std::uint8_t left[3], right[3];
        pixmar::decode_pixel_pair(c.word, left, right);
        EXPECT_EQ((Rgb{left[2], left[1], left[0]}), c.left);
        EXPECT_EQ((Rgb{right[2], right[1], right[0]}), c.right);
    }
}

TEST(Preview, SmoothPicturesSurviveTheRoundTrip)
{
    ScratchFolder folder;
    const auto smooth = [](std::uint32_t x, std::uint32_t y) {
        return Rgb{std::uint8_t(40 + x * 2), std::uint8_t(30 + y * 3), std::uint8_t(200 - x - y)};
    };
    write_file(folder / "smooth.bmp", make_bitmap(96, 64, smooth));
    ASSERT_EQ(folder.run({"smooth.bmp"}).status, 0);
    const RunResult run = folder.run_program(PIXMAR_PREVIEW_EXE, {"smooth.bmp.h", "smooth.bmp"});
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_EQ(run.out.rfind("PSNR: ", 0), 0u) << run.out;
    EXPECT_GE(std::atof(run.out.c_str() + 6), 35.0) << run.out;
    EXPECT_NE(run.out.find("\nPreview: smooth.bmp.h.preview.bmp\n"), std::string::npos) << run.out;

    // Original on the left, decoded on the right, top row at the top.
    const std::string both = read_file(folder / "smooth.bmp.h.preview.bmp");
    EXPECT_EQ(pixel_of_bitmap(both, 0, 0), smooth(0, 0));
    EXPECT_EQ(pixel_of_bitmap(both, 95, 63), smooth(95, 63));
    const Rgb decoded = pixel_of_bitmap(both, 96 + 95, 63), original = smooth(95, 63);
    EXPECT_LE(std::abs(decoded.r - original.r) + std::abs(decoded.g - original.g) + std::abs(decoded.b - original.b), 6)
        << decoded;
}

TEST(Preview, HalfPinkPairsShowBlack)
{
    ScratchFolder folder;
    // Top row: white, pink | pink, pink; bottom row: pink, white | white, white.
    const auto pixel = [](std::uint32_t x, std::uint32_t y) {
        return (y == 0 ? x >= 1 : x == 0) ? kMagicPink : kWhite;
    };
    write_file(folder / "pink.bmp", make_bitmap(4, 2, pixel));
    ASSERT_EQ(folder.run({"-MP", "pink.bmp"}).status, 0);
    const RunResult run = folder.run_program(PIXMAR_PREVIEW_EXE, {"pink.bmp.h"});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "Preview: pink.bmp.h.preview.bmp\n");
    const std::string preview = read_file(folder / "pink.bmp.h.preview.bmp");
    const Rgb expected[2][4] = {{kWhite, kBlack, {254, 0, 254}, {254, 0, 254}}, {kBlack, kWhite, kWhite, kWhite}};
    for (std::uint32_t y = 0; y < 2; ++y)
        for (std::uint32_t x = 0; x < 4; ++x)
            EXPECT_EQ(pixel_of_bitmap(preview, x, y), expected[y][x]) << x << "," << y;
}

// Rows from the top: P P | P W | W P | P n      (n: 239, 16, 239, near the key)
//                    W P | P P | r g | b m      (r, g, b one step outside; m: 254, 0, 255)
// The pink at column 1 and the pink pair at columns 2 and 3 of the second
// row touch, but belong to different pairs.
TEST(Preview, TheKeyIsCountedMappedAndListed)
{
    const Rgb n{239, 16, 239}, r{238, 0, 255}, g{255, 17, 255}, b{255, 0, 238}, m{254, 0, 255};
    const Rgb rows[2][8] = {{kMagicPink, kMagicPink, kMagicPink, kWhite, kWhite, kMagicPink, kMagicPink, n},
                            {kWhite, kMagicPink, kMagicPink, kMagicPink, r, g, b, m}};
    ScratchFolder folder;
    write_file(folder / "on.bmp", make_bitmap(8, 2, [&](auto x, auto y) { return rows[y][x]; }));
    write_file(folder / "off.bmp", make_bitmap(8, 2, [&](auto x, auto y) { return rows[y][x]; }));
    write_file(folder / "white.bmp", make_bitmap(8, 2, [](auto, auto) { return kWhite; }));
    ASSERT_EQ(folder.run({"-MP", "on.bmp"}).status, 0);
    ASSERT_EQ(folder.run({"off.bmp"}).status, 0);
    ASSERT_EQ(folder.run({"-MP", "white.bmp"}).status, 0);
    const std::string counts = "Magic Pink: 2 pairs wholly magic pink (the key colour on the target), 4 half-pink pairs "
                               "(their pink pixel shows black with -MP, a pinkish blend without), 2 near-pink pixels "
                               "(not the key colour, within 16 of it on every channel); ";
    const struct {
        std::vector<std::string> arguments;
        std::string key_line;
    } cases[] = {
        {{"on.bmp.h", "on.bmp"}, counts + "the header was made with -MP\n"},
        {{"off.bmp.h", "off.bmp"}, counts + "the header was made without -MP\n"},
        {{"white.bmp.h", "on.bmp"}, counts + "the half-pink pairs' words match neither -MP nor its absence\n"},
        {{"white.bmp.h", "white.bmp"},
         "Magic Pink: 0 pairs wholly magic pink (the key colour on the target), 0 half-pink pairs (their pink pixel "
         "shows black with -MP, a pinkish blend without), 0 near-pink pixels (not the key colour, within 16 of it on "
         "every channel); with no half-pink pairs, whether the header was made with -MP cannot be told\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1]);
        const RunResult run = folder.run_program(PIXMAR_PREVIEW_EXE, c.arguments);
        ASSERT_EQ(run.status, 0) << run.out;
        const std::size_t second = run.out.find('\n') + 1;
        EXPECT_EQ(run.out.substr(second), c.key_line + "Preview: " + c.arguments[0] + ".preview.bmp\n");
    }

    // Lightened grey where nothing is near the key (64 + luma / 2, luma =
    // (77 R + 150 G + 29 B) / 256: 114 for r, 121 for g, 115 for b), a light
    // checkerboard cell, red for both pixels of a half-pink pair, blue for a
    // near-pink pixel.
    const std::string map = read_file(folder / "on.bmp.h.key.bmp");
    const Rgb grey_r{114, 114, 114}, grey_g{121, 121, 121}, grey_b{115, 115, 115};
    const Rgb light{255, 255, 255}, red{255, 0, 0}, blue{0, 0, 255};
    const Rgb expected[2][8] = {{light, light, red, red, red, red, red, blue},
                                {red, red, light, light, grey_r, grey_g, grey_b, blue}};
    for (std::uint32_t y = 0; y < 2; ++y)
        for (std::uint32_t x = 0; x < 8; ++x)
            EXPECT_EQ(pixel_of_bitmap(map, x, y), expected[y][x]) << x << "," << y;

    ASSERT_EQ(folder.run_program(PIXMAR_PREVIEW_EXE, {"--key-list", "key list.txt", "on.bmp.h", "on.bmp"}).status, 0);
    EXPECT_EQ(read_file(folder / "key list.txt"),
              "0,2,half-pink\n0,5,half-pink\n0,6,half-pink\n0,7,near-pink\n1,1,half-pink\n1,7,near-pink\n");
    std::filesystem::create_directory(folder / "blocked");
    const struct {
        std::vector<std::string> arguments;
        std::string expected;
        int status;
    } refusals[] = {
        {{"--key-list", "blocked", "on.bmp.h", "on.bmp"}, "pixmar-preview: cannot write blocked\n", 10},
        {{"white.bmp.h", "white.bmp"}, "pixmar-preview: cannot write white.bmp.h.key.bmp\n", 10},
    };
    std::filesystem::remove(folder / "white.bmp.h.key.bmp");
    std::filesystem::create_directory(folder / "white.bmp.h.key.bmp");
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.arguments[0]);
        const RunResult run = folder.run_program(PIXMAR_PREVIEW_EXE, c.arguments);
        // The preview itself was written, and said so, before the key's files.
        EXPECT_NE(run.out.find("Preview: "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(c.expected), std::string::npos) << run.out;
        EXPECT_EQ(run.status, c.status);
    }
    const RunResult no_original = folder.run_program(PIXMAR_PREVIEW_EXE, {"--key-list", "k.txt", "on.bmp.h"});
    EXPECT_EQ(no_original.status, 1);
    EXPECT_FALSE(std::filesystem::exists(folder / "k.txt"));
}

TEST(Preview, WhatIsNotAHeaderGetsItsMessageAndStatus)
{
    const std::string good = "/*\r\n * File  : a.bmp\r\n*/\r\n#define A_WIDTH   (4)\r\n#define A_HEIGHT  (1)\r\n"
                             "#define A_SIZE   (4)\r\n\r\nconst unsigned long a_Bitmap[1*4]={\r\n";
    struct BadCase {
        std::string name, header, expected;
        int status;
    };
    const BadCase cases[] = {
        {"empty", "", "pixmar-preview: in.h: the file is empty\n", 3},
        {"no height", "#define A_WIDTH   (4)\n#define A_SIZE   (4)\nconst unsigned long a_Bitmap[1*4]={\n};\n",
         "pixmar-preview: in.h: no _HEIGHT macro\n", 4},
        {"sizes disagree", "#define A_WIDTH   (4)\n#define A_HEIGHT  (1)\n#define A_SIZE   (8)\n",
         "pixmar-preview: in.h: the macros disagree: width 4, height 1, size 8\n", 4},
        {"odd width", "#define A_WIDTH   (3)\n#define A_HEIGHT  (1)\n#define A_SIZE   (3)\n",
         "pixmar-preview: in.h: the macros disagree: width 3, height 1, size 3\n", 4},
        {"no array", "#define A_WIDTH   (4)\n#define A_HEIGHT  (1)\n#define A_SIZE   (4)\n",
         "pixmar-preview: in.h: no array line (const unsigned long ..._Bitmap[...]={) in its 3 lines\n", 5},
        {"bad digit", good + "0x00800080, 0x0080G080, \r\n};\r\n",
         "pixmar-preview: in.h: line 9: malformed word \"0x0080G080,\"\n", 6},
        // A huge junk token is shown as its start and its length.
        {"junk token", good + "0x" + std::string(1000, '7') + ",\r\n};\r\n",
         "pixmar-preview: in.h: line 9: malformed word \"0x" + std::string(38, '7') + "... (1003 bytes)\"\n", 6},
        {"not closed", good + "0x00800080, 0x00800080, \r\n", "pixmar-preview: in.h: line 8: the array is not closed with \"};\"\n", 6},
        {"too few words", good + "0x00800080, \r\n};\r\n",
         "pixmar-preview: in.h: line 10: 1 words, but 4 x 1 pixels need 2\n", 7},
    };
    ScratchFolder folder;
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(folder / "in.h", std::vector<std::uint8_t>(c.header.begin(), c.header.end()));
        const RunResult run = folder.run_program(PIXMAR_PREVIEW_EXE, {"in.h"});
        EXPECT_EQ(run.out, c.expected);
        EXPECT_EQ(run.status, c.status);
    }

    write_file(folder / "in.h", std::vector<std::uint8_t>(good.begin(), good.end()));
    const std::string words = good + "0x00800080, 0x00800080, \n};\n";
    write_file(folder / "in.h", std::vector<std::uint8_t>(words.begin(), words.end()));
    write_file(folder / "other.bmp", make_bitmap(2, 2, [](auto, auto) { return kWhite; }));
    write_file(folder / "junk.bmp", {'B', 'M', 1, 2, 3});
    std::vector<std::uint8_t> deep = make_bitmap(4, 1, [](auto, auto) { return kWhite; });
    put_u16(deep, kBitCount, 32);
    write_file(folder / "deep.bmp", deep);
    // 2147483646 x 0 fits a bitmap; twice that, side by side, does not.
    const std::string wide = "#define W_WIDTH   (2147483646)\n#define W_HEIGHT  (0)\n#define W_SIZE   (0)\n"
                             "const unsigned long w_Bitmap[0*2147483646]={\n};\n";
    write_file(folder / "wide.h", std::vector<std::uint8_t>(wide.begin(), wide.end()));
    std::vector<std::uint8_t> wide_bitmap = make_bitmap(2, 0, [](auto, auto) { return kWhite; });
    put_u32(wide_bitmap, kWidth, 2147483646);
    write_file(folder / "wide.bmp", wide_bitmap);
    const struct {
        std::vector<std::string> arguments;
        std::string expected;
        int status;
    } runs[] = {
        {{"missing.h"}, "pixmar-preview: cannot open missing.h\n", 2},
        {{"in.h", "junk.bmp"}, "pixmar-preview: cannot read junk.bmp as a 24-bit bitmap that pixmar converts\n", 8},
        {{"in.h", "deep.bmp"}, "pixmar-preview: cannot read deep.bmp as a 24-bit bitmap that pixmar converts\n", 8},
        {{"in.h", "other.bmp"}, "pixmar-preview: other.bmp is 2 x 2, the header 4 x 1\n", 9},
        {{"wide.h", "wide.bmp"},
         "pixmar-preview: side by side, the pictures are 4294967292 pixels wide, more than a bitmap holds\n", 12},
        {{"in.h"}, "Preview: in.h.preview.bmp\n", 0},
        {{"--version"}, "Pixmar Preview, Version " PIXMAR_VERSION ", (c) the Pixmar authors\n", 0},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.arguments.back());
        const RunResult run = folder.run_program(PIXMAR_PREVIEW_EXE, r.arguments);
        EXPECT_EQ(run.out, r.expected);
        EXPECT_EQ(run.status, r.status);
    }
    std::filesystem::remove(folder / "in.h.preview.bmp");
    std::filesystem::create_directory(folder / "in.h.preview.bmp");
    const RunResult blocked = folder.run_program(PIXMAR_PREVIEW_EXE, {"in.h"});
    EXPECT_EQ(blocked.out, "pixmar-preview: cannot write in.h.preview.bmp\n");
    EXPECT_EQ(blocked.status, 10);
// Sanitizers and emulators reserve more address space than such a limit allows.
#if !defined(_WIN32) && !defined(PIXMAR_SANITIZED) && !defined(PIXMAR_EMULATOR)
    // 64 MiB of text under a 32 MiB address-space limit (a sparse file: no disk used).
    std::filesystem::resize_file(folder / "in.h", std::uintmax_t(64) << 20);
    const RunResult huge = folder.run_program(PIXMAR_PREVIEW_EXE, {"in.h"}, "ulimit -v 32768; ");
    EXPECT_EQ(huge.out, "pixmar-preview: not enough memory\n");
    EXPECT_EQ(huge.status, 11);
#endif
    const RunResult usage = folder.run_program(PIXMAR_PREVIEW_EXE, {});
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.out.rfind("Usage: pixmar-preview HEADER [ORIGINAL.bmp]\n", 0), 0u);
}

}  // namespace
