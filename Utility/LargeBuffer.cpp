#include "LargeBuffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace {

// The large page size of x86-64 and most 64-bit ARM systems; elsewhere
// the hint just does nothing.
constexpr size_t kLargePage = size_t{2} << 20;

}  // namespace

void LargeBufferFree::operator()(uint8_t* p) const
{
    std::free(p);
}

LargeBuffer NewLargeBuffer(size_t bytes)
{
    if (bytes == 0 || bytes > SIZE_MAX - kLargePage)
        return nullptr;
    // Small buffers gain nothing from alignment to a large page.
    if (bytes < kLargePage)
        return LargeBuffer(static_cast<uint8_t*>(std::malloc(bytes)));
    const size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    void* p = std::aligned_alloc(kLargePage, rounded);
    if (!p)
        return nullptr;
    // Only a hint: without large pages the buffer is as good.
    (void)madvise(p, rounded, MADV_HUGEPAGE);
    return LargeBuffer(static_cast<uint8_t*>(p));
}
