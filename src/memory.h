// Large blocks of memory: the pixel buffer and the blocks of header text.
// Each program's system layer provides the blocks (the command line's asks
// for huge pages where the system offers them, so that a 48 MiB image costs
// a few dozen page faults instead of twelve thousand); the converter only
// asks for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace pixmar {

// A block of `size` bytes, or nullptr; free it with release_block. Provided
// by the system layer the program links.
std::uint8_t* allocate_block(std::size_t size);
void release_block(std::uint8_t* memory);

struct BlockRelease {
    void operator()(std::uint8_t* memory) const { release_block(memory); }
};
using MemoryBlock = std::unique_ptr<std::uint8_t[], BlockRelease>;

// A block of `size` bytes; std::bad_alloc when it cannot be had, so that a
// run out of memory ends where every other one does.
inline MemoryBlock allocate_memory_block(std::uint64_t size)
{
    MemoryBlock block(size <= SIZE_MAX ? allocate_block(std::size_t(size)) : nullptr);
    if (!block)
        throw std::bad_alloc();
    return block;
}

}  // namespace pixmar
