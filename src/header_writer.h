// The header writer: turns the pixel buffer into a C header of pixel-pair
// words, top row first, eight words (sixteen pixels) a line.
//
//   /*
//    * File  : logo.bmp
//    * Width : 4
//    * Height: 2
//   */
//   #define LOGO_WIDTH   (4)
//   #define LOGO_HEIGHT  (2)
//   #define LOGO_SIZE   (8)
//
//   const unsigned long logo_Bitmap[2*4]={
//   0x........, 0x........, 
//   0x........, 0x........, 
//   };
//   /* END OF FILE */
//
// Every line ends with CR LF on every platform, so the file is byte-identical
// wherever it is made. The bound and _SIZE count pixels (H x W) while the
// array holds H x W / 2 words; programs that include these headers rely on
// that layout, so it stays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bitmap.h"
#include "source_and_sinks.h"

namespace pixmar {

struct DerivedNames {
    std::string output_file;   // the input path with ".h" appended
    std::string macro_prefix;  // upper-cased a-z, cut before the last "."
    std::string array_prefix;  // case kept, cut before the first "."
};

// The names come from the whole path, directories included, with nothing
// replaced: a path gives exactly the names its users have always seen.
DerivedNames derive_names(const std::string& input_path);

// The exact length of the header of a `width` x `height` picture converted
// under `input_path`.
std::uint64_t header_size(const std::string& input_path, std::uint32_t width, std::uint32_t height);

// Writes the header of `pixels` through `header` under the name derived from
// `input_path`, printing "Output File: %s" once it is created (and a warning
// when the derived names are no C identifiers), or why it cannot be (a path
// holding a line break is refused before anything is created). Returns 1 when
// the complete header has taken its name; 0 otherwise, when nothing of it is
// left. With `magic_pink`, the pair rule changes the pixels in place as they
// are encoded.
int write_header_file(const std::string& input_path, PixelBuffer& pixels, bool magic_pink, HeaderSink& header,
                      const MessageSink& messages);

}  // namespace pixmar
