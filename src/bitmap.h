// Bitmap input: the two header records, their checks, and the pixel buffer.
//
// File header record (14 bytes, little-endian, no gaps):
//   offset  0  u16  bfType       0x4D42, the letters "BM"
//   offset  2  u32  bfSize       not used
//   offset  6  u16  bfReserved1  not used
//   offset  8  u16  bfReserved2  not used
//   offset 10  u32  bfOffBits    where the pixel data starts, from the file's start
//
// Info header record (40 bytes, little-endian):
//   offset  0  u32  biSize           must be 40
//   offset  4  s32  biWidth          even and above 0
//   offset  8  s32  biHeight         negative for a top-down bitmap
//   offset 12  u16  biPlanes         must be 1
//   offset 14  u16  biBitCount       must be 24
//   offset 16  u32  biCompression    must be 0
//   offset 20  u32  biSizeImage      not used
//   offset 24  s32  biXPelsPerMeter  not used
//   offset 28  s32  biYPelsPerMeter  not used
//   offset 32  u32  biClrUsed        must be 0
//   offset 36  u32  biClrImportant   not used
//
// Stored rows hold width pixels of blue, green, red, then (width mod 4) fill
// bytes that bring the row to a multiple of 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "memory.h"

namespace pixmar {

inline constexpr std::size_t kFileHeaderSize = 14;
inline constexpr std::size_t kInfoHeaderSize = 40;
inline constexpr std::uint16_t kBitmapType = 0x4D42;

struct FileHeader {
    std::uint16_t bfType;
    std::uint32_t bfSize;
    std::uint16_t bfReserved1;
    std::uint16_t bfReserved2;
    std::uint32_t bfOffBits;
};

struct InfoHeader {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};

// Every pixel of the image, 3 bytes each (blue, green, red), rows of `width`
// pixels. Row 0 is the bottom row of the picture whatever the file's row order,
// so the header writer always walks from the last row to the first.
struct PixelBuffer {
    MemoryBlock bytes;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Returns 1 when bfType is "BM"; otherwise prints "Header error: ..." and returns 0.
int check_file_header(const FileHeader& header);

// Prints the two information lines, then returns 1 when the record describes an
// uncompressed 24-bit bitmap of positive even width; otherwise prints the
// message of the first failed check and returns 0.
int check_info_header(const InfoHeader& info);

// Bytes a stored row of `width` pixels occupies in a file, fill included.
std::uint64_t stored_row_bytes(std::uint32_t width);

// How far reading a bitmap got: each stage names the first thing that failed.
enum class BitmapStage {
    cannot_open,        // missing, unreadable, or not a regular file
    read_blocked,       // a read would have waited for data (a pipe-like file)
    no_file_header,     // shorter than the file header record
    bad_file_header,    // the file header record is not "BM"
    no_info_header,     // the info header record is cut short
    bad_info_header,    // the info header record fails a check
    pixels_ended_early, // the pixel data is shorter than the records say
    no_memory,          // no memory for the pixel buffer
    loaded,             // every pixel is in the buffer
};

// What reading found. The file header record is valid from bad_file_header
// on, the info header record from bad_info_header on.
struct BitmapRead {
    BitmapStage stage = BitmapStage::cannot_open;
    FileHeader file_header{};
    InfoHeader info{};
};

// Opens, checks and loads a bitmap that the converter takes, printing
// nothing: the records are read one at a time, each checked as
// check_file_header and check_info_header check it, and the pixel buffer is
// obtained only once the file is known to hold every pixel, so a record that
// claims a huge image costs no memory. The file is closed before it returns.
BitmapRead read_bitmap(const std::string& path, PixelBuffer& pixels);

}  // namespace pixmar
