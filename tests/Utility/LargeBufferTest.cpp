// Large scan buffers: zero-filled, usable to their last byte, aligned to a
// huge page from a huge page on, and given back by their deleter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "LargeBuffer.h"

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

bool AllZero(const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

TEST(LargeBuffer, ZeroFilledWritableAndAlignedFromAHugePageOn)
{
    const struct {
        size_t bytes;
        bool aligned;
    } rows[] = {
        {0, false},
        {1, false},
        {4096, false},
        {kHugePage - 1, false},
        {kHugePage, true},
        {kHugePage + 1, true},
        {(size_t{4} << 20) + 15 * 512, true},
        {size_t{80} << 20, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes);
        LargeBuffer buffer = AllocateLargeBuffer(row.bytes);
        ASSERT_NE(buffer, nullptr);
        const size_t usable = row.bytes ? row.bytes : 1;
        EXPECT_TRUE(AllZero(buffer.get(), usable));
        if (row.aligned) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.get()) % kHugePage, 0u);
        }
        std::memset(buffer.get(), 0xA5, usable);
        EXPECT_EQ(buffer[usable - 1], 0xA5);
        EXPECT_EQ(buffer[0], 0xA5);
    }
}

// The process's mapped bytes, from /proc/self/statm.
size_t MappedBytes()
{
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    statm >> pages;
    return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

TEST(LargeBuffer, BuffersAreGivenBackWhole)
{
    // Replaced and reset buffers leave nothing mapped behind, not even the
    // room cut off to align them.
    LargeBuffer buffer = AllocateLargeBuffer(size_t{3} << 20);
    buffer.reset();
    const size_t before = MappedBytes();
    for (int i = 0; i < 100; ++i) {
        buffer = AllocateLargeBuffer((size_t{64} << 20) + 512 * static_cast<size_t>(i));
        ASSERT_NE(buffer, nullptr) << "after " << i;
        buffer[0] = 1;
    }
    buffer.reset();
    EXPECT_EQ(buffer, nullptr);
    EXPECT_LT(MappedBytes(), before + (size_t{16} << 20));
    LargeBufferFree{}(nullptr);
    LargeBufferFree{kHugePage}(nullptr);
}

}  // namespace
