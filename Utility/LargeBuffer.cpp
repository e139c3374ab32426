#include "LargeBuffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

void LargeBufferFree::operator()(uint8_t* buffer) const
{
    if (!buffer)
        return;
    if (nMapped)
        munmap(buffer, nMapped);
    else
        std::free(buffer);
}

LargeBuffer AllocateLargeBuffer(size_t bytes)
{
    if (bytes == 0)
        bytes = 1;
    if (bytes < kHugePage || bytes > SIZE_MAX - 2 * kHugePage)
        return LargeBuffer(static_cast<uint8_t*>(std::calloc(bytes, 1)), LargeBufferFree{});

    // Whole huge pages from a huge-page boundary: one more is mapped, and
    // what lies before and after the aligned run is given back.
    const size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return LargeBuffer(static_cast<uint8_t*>(std::calloc(bytes, 1)), LargeBufferFree{});
    const auto base = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t start = (base + kHugePage - 1) / kHugePage * kHugePage;
    const size_t head = start - base;
    if (head)
        munmap(mapped, head);
    if (kHugePage - head)
        munmap(reinterpret_cast<void*>(start + length), kHugePage - head);
    // Only a wish: without huge pages the buffer is made of small ones.
    madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
    return LargeBuffer(reinterpret_cast<uint8_t*>(start), LargeBufferFree{length});
}
