// Fuzz target: reading a header back and decoding it, in memory, as
// pixmar-preview does. Besides the sanitizers' checks it holds the reader to
// its promises: a problem always comes with a reason, and a header that is
// accepted has exactly the words its macros call for and decodes whole.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bitmap_encode.h"
#include "fuzz_target.h"
#include "header_reader.h"
#include "preview.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    pixmar::ParsedHeader header;
    std::string detail;
    if (pixmar::parse_header(text, header, detail) != pixmar::HeaderProblem::none) {
        if (detail.empty())
            std::abort();
        return 0;
    }
    if (header.width <= 0 || header.width % 2 != 0 || header.height < 0 ||
        header.words.size() != std::uint64_t(header.width) / 2 * std::uint64_t(header.height))
        std::abort();
    pixmar::PixelBuffer picture;
    if (!pixmar::decode_picture(header, picture))
        return 0;
    const auto bitmap = pixmar::encode_bitmap(picture.width, picture.height, picture.bytes.get());
    if (bitmap.size() < 54 + std::size_t(picture.width) * 3 * picture.height)
        std::abort();
    return 0;
}
