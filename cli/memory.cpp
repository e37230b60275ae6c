#include "memory.h"

#include <cstdint>

#include "platform.h"

namespace pixmar {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

}  // namespace

std::uint8_t* allocate_block(std::size_t size)
{
    // Below a quarter of a huge page, the few page faults of small pages cost less.
    const std::size_t alignment = size < kHugePage / 4 ? 64 : kHugePage;
    if (size > SIZE_MAX - alignment)
        return nullptr;
    const std::size_t rounded = size == 0 ? alignment : (size + alignment - 1) / alignment * alignment;
    void* memory = allocate_aligned(rounded, alignment);
    if (memory && alignment == kHugePage)
        advise_huge_pages(memory, rounded);
    return static_cast<std::uint8_t*>(memory);
}

void release_block(std::uint8_t* memory) { release_aligned(memory); }

}  // namespace pixmar
