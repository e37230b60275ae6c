// The pixel-pair word: a known-answer table, checked against the arithmetic
// and against every word formatter this processor runs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "pixel_pair.h"
#include "test_support.h"
#include "word_line.h"

namespace {

struct PairCase {
    std::uint32_t r0, g0, b0, r1, g1, b1;
    std::uint32_t word;
};

// Worked by hand from the fixed-point formulas; the last rows check
// truncation where a floating-point evaluation would differ.
TEST(PixelPairWord, KnownAnswers)
{
    const PairCase cases[] = {
        {0, 0, 0, 0, 0, 0, 0x00800080},
        {255, 255, 255, 255, 255, 255, 0xFF80FF80},
        {255, 0, 255, 255, 0, 255, 0x69D469EA},
        {0, 0, 0, 255, 255, 255, 0x0080FF80},
        {255, 0, 0, 0, 0, 255, 0x4CA91DB5},
        {0, 0, 0, 255, 0, 255, 0x00AA69B5},
        {255, 0, 255, 255, 255, 255, 0x69AAFFB5},
        {10, 200, 30, 250, 128, 5, 0x7B3C967A},
        // Luma exactly 45: 587 x 72 + 114 x 24 = 45000.
        {0, 72, 24, 0, 72, 24, 0x2D742D5F},
        // Pure red: luma 76 (76.245 truncated), Cb 84, Cr 255.
        {255, 0, 0, 255, 0, 0, 0x4C544CFF},
        // Pure blue: luma 29, Cb 255, Cr 107.
        {0, 0, 255, 0, 0, 255, 0x1DFF1D6B},
        // Pure green: luma 149, Cb 43, Cr 21.
        {0, 255, 0, 0, 255, 0, 0x952B9515},
        // Chroma sums that are odd are halved down: (255 + 43) / 2 = 149, (107 + 21) / 2 = 64.
        {0, 0, 255, 0, 255, 0, 0x1D959540},
        // Only the low 8 bits of each component count.
        {0x1FF, 0x100, 0x2FF, 0x3FF, 0x1FF, 0x4FF, 0x69AAFFB5},
    };
    for (const PairCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.r0 << "," << c.g0 << "," << c.b0 << ") (" << c.r1 << ","
                                        << c.g1 << "," << c.b1 << ")");
        EXPECT_EQ(pixmar::encode_pixel_pair(c.r0, c.g0, c.b0, c.r1, c.g1, c.b1), c.word);
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X, \r\n", unsigned(c.word));
        for (const auto& [name, formatter] : pixmar_test::word_line_formatters()) {
            SCOPED_TRACE(name);
            std::uint8_t pixels[6] = {std::uint8_t(c.b0), std::uint8_t(c.g0), std::uint8_t(c.r0),
                                      std::uint8_t(c.b1), std::uint8_t(c.g1), std::uint8_t(c.r1)};
            char out[pixmar::kMaxWordLineBytes];
            EXPECT_EQ(std::string(out, formatter(pixels, 1, false, out)), text);
        }
    }
}

}  // namespace
