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
#include <string>

#include "memory.h"
#include "source_and_sinks.h"

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

struct BitmapRecords {
    FileHeader file;
    InfoHeader info;
};

// Every pixel of the image, 3 bytes each (blue, green, red), rows of `width`
// pixels. Row 0 is the bottom row of the picture whatever the file's row order,
// so the header writer always walks from the last row to the first.
struct PixelBuffer {
    MemoryBlock bytes;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The records as they lie in a file's first bytes (at least kFileHeaderSize,
// or kFileHeaderSize + kInfoHeaderSize for the info header).
FileHeader decode_file_header(const std::uint8_t* bytes);
InfoHeader decode_info_header(const std::uint8_t* bytes);

// The records of a 24-bit bitmap of `width` x `height` pixels, bottom-up,
// its pixel data right after them, as this project writes one.
BitmapRecords records_of_bitmap(std::uint32_t width, std::uint32_t height);

// Returns 1 when bfType is "BM"; otherwise prints "Header error: ..." and returns 0.
int check_file_header(const FileHeader& header, const MessageSink& messages);

// Prints the two information lines, then returns 1 when the record describes an
// uncompressed 24-bit bitmap of positive even width; otherwise prints the
// message of the first failed check and returns 0.
int check_info_header(const InfoHeader& info, const MessageSink& messages);

// Bytes a stored row of `width` pixels occupies in a file, fill included.
std::uint64_t stored_row_bytes(std::uint32_t width);

// Opens `path` through `source`, reads and checks its records, printing each
// check's lines and the one refusal, and loads every pixel; closes the source
// before it returns. Returns the run's status (kExitDone when every pixel is
// in `pixels`). The pixel buffer is obtained only once the source is known to
// hold every pixel, so a record that claims a huge image costs no memory;
// std::bad_alloc when the memory for a real one cannot be had.
int read_bitmap(const std::string& path, BitmapSource& source, const MessageSink& messages, PixelBuffer& pixels);

// Checks records that describe pixels already in memory, the 24-bit
// bitmap an image was made into, as read_bitmap checks a file's: the same
// lines, the same status.
int check_records(const BitmapRecords& records, const MessageSink& messages);

}  // namespace pixmar
