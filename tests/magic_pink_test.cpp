#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "magic_pink.h"
#include "pixel_pair.h"
#include "test_support.h"

namespace {

using namespace pixmar_test;

constexpr Rgb kNearPink{254, 0, 255};

std::uint32_t encode(const std::uint8_t* left, const std::uint8_t* right)
{
    return pixmar::encode_pixel_pair(left[2], left[1], left[0], right[2], right[1], right[0]);
}

TEST(MagicPinkRule, PairsOfTheTable)
{
    struct RuleCase {
        Rgb left, right;
        std::uint32_t word_on, word_off;
    };
    const RuleCase cases[] = {
        {kMagicPink, kMagicPink, 0x69D469EA, 0x69D469EA}, {kBlack, kMagicPink, 0x00800080, 0x00AA69B5},
        {kMagicPink, kWhite, 0x0080FF80, 0x69AAFFB5},     {kNearPink, kMagicPink, 0x69AA00B5, 0x69D469EA},
        {kMagicPink, kNearPink, 0x00AA69B5, 0x69D469EA},  {kWhite, kBlack, 0xFF800080, 0xFF800080},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.word_on);
        std::uint8_t left[3] = {c.left.b, c.left.g, c.left.r};
        std::uint8_t right[3] = {c.right.b, c.right.g, c.right.r};
        EXPECT_EQ(encode(left, right), c.word_off);
        pixmar::apply_magic_pink_rule(left, right);
        EXPECT_EQ(encode(left, right), c.word_on);
    }
}

// Rows of 16 pixels, P magic pink, N near pink (red 254), W white, K black;
// the words are worked by hand.
TEST(MagicPinkRule, RegionsOfOddAndEvenExtentThroughTheTool)
{
    const std::vector<std::string> picture = {
        "PPPPWWWWWWWWWWWW",  // even extent on pair boundaries: kept whole
        "WPPPWWWWWWWWWWWW",  // odd extent: its first pixel is half of a pair
        "WWWPPPPPWWWWWWWW",  // starts at an odd column
        "NPWPPWWWWWWWWWPP",  // near pink is not the key; pink at odd then even column
    };
    const std::string PP = "0x69D469EA, ", WW = "0xFF80FF80, ", WK = "0xFF800080, ", KW = "0x0080FF80, ";
    const std::string WP = "0xFFAA69B5, ", PW = "0x69AAFFB5, ", NK = "0x69AA00B5, ", NP = PP;
    const std::string body_on = PP + PP + WW + WW + WW + WW + WW + WW + "\r\n" +
                                WK + PP + WW + WW + WW + WW + WW + WW + "\r\n" +
                                WW + WK + PP + PP + WW + WW + WW + WW + "\r\n" +
                                NK + WK + KW + WW + WW + WW + WW + PP + "\r\n";
    const std::string body_off = PP + PP + WW + WW + WW + WW + WW + WW + "\r\n" +
                                 WP + PP + WW + WW + WW + WW + WW + WW + "\r\n" +
                                 WW + WP + PP + PP + WW + WW + WW + WW + "\r\n" +
                                 NP + WP + PW + WW + WW + WW + WW + PP + "\r\n";

    ScratchFolder folder;
    const auto pixel = [&](std::uint32_t x, std::uint32_t y) {
        switch (picture[y][x]) {
        case 'P': return kMagicPink;
        case 'N': return kNearPink;
        case 'K': return kBlack;
        default: return kWhite;
        }
    };
    const auto bitmap = make_bitmap(16, 4, pixel);
    for (const bool top_down : {false, true}) {
        SCOPED_TRACE(top_down ? "top-down" : "bottom-up");
        write_file(folder / "pink.bmp", top_down ? make_top_down(bitmap) : bitmap);
        ASSERT_EQ(folder.run({"pink.bmp"}).status, 0);
        const std::string off = read_file(folder / "pink.bmp.h");
        EXPECT_EQ(off.substr(off.find("={\r\n") + 4, body_off.size()), body_off);

        const RunResult run = folder.run({"-MP", "pink.bmp"});
        ASSERT_EQ(run.status, 0);
        EXPECT_EQ(run.out.substr(kBanner.size(), 29), "Magic Pink conversion is on.\n");
        const std::string on = read_file(folder / "pink.bmp.h");
        EXPECT_EQ(on.substr(on.find("={\r\n") + 4, body_on.size()), body_on);
    }
}

}  // namespace
