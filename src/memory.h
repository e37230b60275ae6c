// Large blocks of memory: the pixel buffer and the blocks of header text.
// From a quarter of a huge page (2 MiB) up, a block is rounded up to whole
// huge pages and asked to be backed by them where the system offers them: a
// 48 MiB image then costs a few dozen page faults instead of twelve thousand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pixmar {

// A block of `size` bytes, or nullptr; free it with release_block.
std::uint8_t* allocate_block(std::size_t size);
void release_block(std::uint8_t* memory);

struct BlockRelease {
    void operator()(std::uint8_t* memory) const { release_block(memory); }
};
using MemoryBlock = std::unique_ptr<std::uint8_t[], BlockRelease>;

}  // namespace pixmar
