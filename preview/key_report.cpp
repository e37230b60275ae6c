#include "key_report.h"

#include <algorithm>
#include <cstdio>

#include "pixel_pair.h"

namespace pixmar {

namespace {

// Pixels are 3 bytes of blue, green, red.
bool is_magic_pink(const std::uint8_t* p) { return p[0] == 0xFF && p[1] == 0x00 && p[2] == 0xFF; }

// Within 16 of the key on every channel; magic pink itself passes too, so
// callers test for it first.
bool is_pinkish(const std::uint8_t* p)
{
    // One test of all three, not three branches: in a photograph or noise a
    // blue of 239 or more is common enough for the branches to be guessed
    // wrong often.
    return (p[0] >= 239) & (p[1] <= 16) & (p[2] >= 239);
}

std::uint32_t word_of(const std::uint8_t* left, const std::uint8_t* right)
{
    return encode_pixel_pair(left[2], left[1], left[0], right[2], right[1], right[0]);
}

// Palette: 128 greys lightened into 64..191, so that the marks' strong
// colours and the checkerboard's light cells stand out from any picture;
// then the checkerboard's two cells and the two marks.
constexpr std::uint8_t kLightCell = 128, kGreyCell = 129, kHalfPink = 130, kNearPink = 131;
constexpr int kPaletteSize = 132;

void palette_colour(int index, std::uint8_t* bgr)
{
    const std::uint8_t grey = index == kLightCell ? 0xFF : index == kGreyCell ? 0xCC : std::uint8_t(64 + index);
    bgr[0] = bgr[1] = bgr[2] = grey;
    if (index == kHalfPink)
        bgr[0] = 0, bgr[1] = 0, bgr[2] = 0xFF;
    if (index == kNearPink)
        bgr[0] = 0xFF, bgr[1] = 0, bgr[2] = 0;
}

// A pixel's grey, (77 R + 150 G + 29 B) / 512: one of the 128 greys. The
// products come from tables, which cost less than three multiplications a
// pixel on a large picture.
struct GreyWeights {
    std::uint16_t blue[256], green[256], red[256];
};
constexpr GreyWeights grey_weights()
{
    GreyWeights weights{};
    for (unsigned value = 0; value < 256; ++value) {
        weights.blue[value] = std::uint16_t(29 * value);
        weights.green[value] = std::uint16_t(150 * value);
        weights.red[value] = std::uint16_t(77 * value);
    }
    return weights;
}
constexpr GreyWeights kGreyWeights = grey_weights();

std::uint8_t grey_index(const std::uint8_t* p)
{
    return std::uint8_t((kGreyWeights.blue[p[0]] + kGreyWeights.green[p[1]] + kGreyWeights.red[p[2]]) >> 9);
}

// The usual picture of transparency: cells of 4 x 4 pixels, counted from the
// top left as the picture is seen.
std::uint8_t checker_of(std::uint32_t row_from_top, std::uint32_t column)
{
    return ((row_from_top / 4 + column / 4) & 1) != 0 ? kGreyCell : kLightCell;
}

void store_u32(std::uint8_t* p, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(value >> (8 * i));
}

// A bottom-up 8-bit bitmap: 14-byte file header, 40-byte info header, the
// palette (blue, green, red, 0 each), rows padded to 4 bytes.
constexpr std::uint32_t kKeyMapOffset = 14 + 40 + kPaletteSize * 4;
std::size_t stored_row_of(std::uint32_t width) { return (std::size_t(width) + 3) / 4 * 4; }

void start_key_map(KeyMap& map, std::uint32_t width, std::uint32_t height)
{
    map.width = width, map.height = height;
    const std::size_t stored_row = stored_row_of(width);
    map.file_size = kKeyMapOffset + stored_row * height;
    map.file = allocate_memory_block(map.file_size);
    std::uint8_t* p = map.file.get();
    std::fill(p, p + kKeyMapOffset, std::uint8_t(0));  // the rows are written whole, padding too
    p[0] = 'B', p[1] = 'M';
    store_u32(p + 2, std::uint32_t(map.file_size));  // wraps past 4 GiB, as every 32-bit field would
    store_u32(p + 10, kKeyMapOffset);
    store_u32(p + 14, 40);
    store_u32(p + 18, width);
    store_u32(p + 22, height);
    p[26] = 1, p[28] = 8;
    store_u32(p + 34, std::uint32_t(stored_row * height));
    store_u32(p + 46, kPaletteSize);
    for (int index = 0; index < kPaletteSize; ++index)
        palette_colour(index, p + 54 + index * 4);
}

}  // namespace

bool report_key(const PixelBuffer& original, const std::vector<std::uint32_t>& words, KeyCounts& counts,
                KeyMap* map)
{
    counts = KeyCounts{};
    const std::size_t pairs_per_row = original.width / 2;
    if (!words.empty() && words.size() != pairs_per_row * original.height)
        return false;
    if (map != nullptr) {
        start_key_map(*map, original.width, original.height);
    }
    const std::size_t row_bytes = std::size_t(original.width) * 3;
    for (std::uint32_t row = 0; row < original.height; ++row) {
        // The buffer keeps the bottom row first; the words run top row first.
        const std::uint32_t row_from_top = original.height - 1 - row;
        const std::uint8_t* pixel = original.bytes.get() + row * row_bytes;
        const std::uint32_t* word = words.empty() ? nullptr : words.data() + std::size_t(row_from_top) * pairs_per_row;
        std::uint8_t* out = map != nullptr ? map->file.get() + kKeyMapOffset + row * stored_row_of(original.width) : nullptr;
        if (out != nullptr)
            std::fill(out + original.width, out + stored_row_of(original.width), std::uint8_t(0));
        for (std::size_t pair = 0; pair < pairs_per_row; ++pair, pixel += 6, word += word != nullptr ? 1 : 0) {
            const std::uint8_t* left = pixel;
            const std::uint8_t* right = pixel + 3;
            if (out != nullptr) {
                out[pair * 2] = grey_index(left);
                out[pair * 2 + 1] = grey_index(right);
            }
            if (!is_pinkish(left) && !is_pinkish(right))
                continue;  // the common case: nothing near the key
            const bool left_pink = is_magic_pink(left), right_pink = is_magic_pink(right);
            const std::uint32_t column = std::uint32_t(pair * 2);
            if (left_pink && right_pink) {
                ++counts.whole_pairs;
                if (out != nullptr)
                    out[pair * 2] = out[pair * 2 + 1] = checker_of(row_from_top, column);
                continue;
            }
            if (left_pink || right_pink) {
                ++counts.half_pairs;
                const std::uint8_t black[3] = {0, 0, 0};
                if (word != nullptr && *word == (left_pink ? word_of(black, right) : word_of(left, black)))
                    ++counts.half_pairs_as_black;
                else if (word != nullptr && *word == word_of(left, right))
                    ++counts.half_pairs_as_pink;
                if (out != nullptr)
                    out[pair * 2] = out[pair * 2 + 1] = kHalfPink;
            }
            for (int side = 0; side < 2; ++side) {
                const std::uint8_t* p = side == 0 ? left : right;
                if (is_pinkish(p) && !is_magic_pink(p)) {
                    ++counts.near_pixels;
                    if (out != nullptr)
                        out[pair * 2 + std::size_t(side)] = kNearPink;
                }
            }
        }
    }
    return true;
}

std::vector<std::uint8_t> key_map_rgba(const KeyMap& map)
{
    std::uint8_t palette[kPaletteSize][3];
    for (int index = 0; index < kPaletteSize; ++index)
        palette_colour(index, palette[index]);
    std::vector<std::uint8_t> rgba(std::size_t(map.width) * map.height * 4);
    std::uint8_t* out = rgba.data();
    for (std::uint32_t row = map.height; row-- > 0;) {
        const std::uint8_t* in = map.file.get() + kKeyMapOffset + row * stored_row_of(map.width);
        for (std::uint32_t column = 0; column < map.width; ++column, out += 4) {
            const std::uint8_t* bgr = palette[in[column]];
            out[0] = bgr[2], out[1] = bgr[1], out[2] = bgr[0], out[3] = 255;
        }
    }
    return rgba;
}

KeyRule rule_seen(const KeyCounts& counts)
{
    if (counts.half_pairs == 0)
        return KeyRule::no_half_pairs;
    if (counts.half_pairs_as_black == counts.half_pairs)
        return KeyRule::on;
    if (counts.half_pairs_as_pink == counts.half_pairs)
        return KeyRule::off;
    return KeyRule::neither;
}

std::string key_line(const KeyCounts& counts)
{
    const char* rule = "";
    switch (rule_seen(counts)) {
    case KeyRule::on: rule = "the header was made with -MP"; break;
    case KeyRule::off: rule = "the header was made without -MP"; break;
    case KeyRule::no_half_pairs:
        rule = "with no half-pink pairs, whether the header was made with -MP cannot be told";
        break;
    case KeyRule::neither: rule = "the half-pink pairs' words match neither -MP nor its absence"; break;
    }
    char line[512];
    const int length = std::snprintf(
        line, sizeof line,
        "Magic Pink: %llu pairs wholly magic pink (the key colour on the target), %llu half-pink pairs (their pink "
        "pixel shows black with -MP, a pinkish blend without), %llu near-pink pixels (not the key colour, within 16 "
        "of it on every channel); %s\n",
        static_cast<unsigned long long>(counts.whole_pairs), static_cast<unsigned long long>(counts.half_pairs),
        static_cast<unsigned long long>(counts.near_pixels), rule);
    return std::string(line, std::size_t(length));
}

std::string key_list(const PixelBuffer& original)
{
    std::string list;
    const std::size_t row_bytes = std::size_t(original.width) * 3;
    char line[48];
    const auto add = [&](std::uint32_t row, std::size_t column, const char* kind) {
        const int length = std::snprintf(line, sizeof line, "%lu,%lu,%s\n", static_cast<unsigned long>(row),
                                         static_cast<unsigned long>(column), kind);
        list.append(line, std::size_t(length));
    };
    for (std::uint32_t row_from_top = 0; row_from_top < original.height; ++row_from_top) {
        const std::uint8_t* pixels = original.bytes.get() + std::size_t(original.height - 1 - row_from_top) * row_bytes;
        for (std::size_t column = 0; column + 1 < std::size_t(original.width); column += 2) {
            const std::uint8_t* left = pixels + column * 3;
            const std::uint8_t* right = left + 3;
            const bool left_pink = is_magic_pink(left), right_pink = is_magic_pink(right);
            for (std::size_t side = 0; side < 2; ++side) {
                const std::uint8_t* p = side == 0 ? left : right;
                if (left_pink != right_pink && (side == 0 ? left_pink : right_pink))
                    add(row_from_top, column + side, "half-pink");
                else if (is_pinkish(p) && !is_magic_pink(p))
                    add(row_from_top, column + side, "near-pink");
            }
        }
    }
    return list;
}

}  // namespace pixmar
