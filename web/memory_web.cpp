// The page's memory for the converter: plain blocks of the module's memory,
// which has no pages to advise on.
#include <cstdint>
#include <cstdlib>

#include "memory.h"

namespace pixmar {

std::uint8_t* allocate_block(std::size_t size)
{
    // aligned_alloc takes a whole number of alignments.
    constexpr std::size_t alignment = 64;
    if (size > SIZE_MAX - alignment)
        return nullptr;
    const std::size_t rounded = size == 0 ? alignment : (size + alignment - 1) / alignment * alignment;
    return static_cast<std::uint8_t*>(std::aligned_alloc(alignment, rounded));
}

void release_block(std::uint8_t* memory) { std::free(memory); }

}  // namespace pixmar
