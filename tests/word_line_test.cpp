// The vector word formatter, at each width this processor runs, against the
// scalar reference: the same words for every colour, and the same bytes for
// every line.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pixel_pair.h"
#include "test_support.h"
#include "word_line.h"

namespace {

// The vector formatters this processor runs (none where the scalar one serves
// alone: the other tests check its bytes).
std::vector<std::pair<const char*, pixmar::WordLineFormatter>> vector_formatters()
{
    auto formatters = pixmar_test::word_line_formatters();
    formatters.erase(formatters.begin());  // the scalar reference
    return formatters;
}

// All 2^24 colours through each formatter, a line of eight pairs at a time,
// each pair two pixels of one colour: a pair of equal pixels carries exactly
// its pixel's luma and chroma, so every colour's arithmetic is checked.
TEST(VectorWords, EveryColourGivesTheScalarWord)
{
    for (const auto& [name, formatter] : vector_formatters()) {
        SCOPED_TRACE(name);
        std::uint8_t pixels[48];
        char text[pixmar::kMaxWordLineBytes], expected[pixmar::kMaxWordLineBytes];
        std::uint64_t mismatches = 0;
        for (std::uint32_t first = 0; first < (1u << 24); first += 8) {
            for (std::uint32_t i = 0; i < 16; ++i) {
                const std::uint32_t colour = first + i / 2;  // 0xRRGGBB
                pixels[3 * i] = std::uint8_t(colour), pixels[3 * i + 1] = std::uint8_t(colour >> 8);
                pixels[3 * i + 2] = std::uint8_t(colour >> 16);
            }
            const char* const end = pixmar::format_word_line_scalar(pixels, 8, false, expected);
            formatter(pixels, 8, false, text);
            if (std::memcmp(text, expected, std::size_t(end - expected)) != 0 && mismatches++ < 10)
                ADD_FAILURE() << "colours from " << std::hex << first << ": " << std::string(text, 96) << " != "
                              << std::string(expected, 96);
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

std::string format_row(pixmar::WordLineFormatter formatter, std::vector<std::uint8_t>& row, bool magic_pink)
{
    const std::uint32_t width = std::uint32_t(row.size() / 3);
    std::string text(width / 16 * pixmar::kMaxWordLineBytes + 2 * pixmar::kMaxWordLineBytes, '\0');
    char* out = text.data();
    for (std::uint32_t column = 0; column < width; column += pixmar::kPixelsPerLine)
        out = formatter(row.data() + column * 3, std::min(width - column, pixmar::kPixelsPerLine) / 2, magic_pink, out);
    text.resize(std::size_t(out - text.data()));
    return text;
}

// Rows of every width from 2 to 40 (lines of 1 to 8 words), random pixels
// mixed with the edge colours, with the switch off and on.
TEST(VectorWords, EveryLineMatchesTheScalarFormatter)
{
    const std::array<std::uint8_t, 3> edges[] = {
        {0, 0, 0}, {255, 255, 255}, {255, 0, 255}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {254, 0, 255}, {255, 1, 255},
    };
    std::mt19937 random(20261207);
    for (int round = 0; round < 200; ++round) {
        for (std::uint32_t width = 2; width <= 40; width += 2) {
            std::vector<std::uint8_t> row(std::size_t(width) * 3);
            for (std::size_t pixel = 0; pixel < width; ++pixel) {
                const std::uint32_t pick = std::uint32_t(random());
                if (pick % 3 == 0) {
                    for (int c = 0; c < 3; ++c)
                        row[pixel * 3 + std::size_t(c)] = std::uint8_t(random());
                } else {
                    // Edge colours in blue, green, red order, so whole and half magic pink pairs occur.
                    const auto& edge = edges[pick % std::size(edges)];
                    row[pixel * 3] = edge[2], row[pixel * 3 + 1] = edge[1], row[pixel * 3 + 2] = edge[0];
                }
            }
            for (const bool magic_pink : {false, true}) {
                SCOPED_TRACE(testing::Message() << "round " << round << ", width " << width << ", switch " << magic_pink);
                std::vector<std::uint8_t> scalar_row = row;
                const std::string expected = format_row(pixmar::format_word_line_scalar, scalar_row, magic_pink);
                for (const auto& [name, formatter] : vector_formatters()) {
                    SCOPED_TRACE(name);
                    std::vector<std::uint8_t> vector_row = row;
                    ASSERT_EQ(format_row(formatter, vector_row, magic_pink), expected);
                    ASSERT_EQ(vector_row, scalar_row);
                }
            }
        }
    }
}

}  // namespace
