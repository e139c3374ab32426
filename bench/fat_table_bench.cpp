// The consistency check of the largest FAT32 copy the size limits allow:
// 128,000 sectors of 512 bytes (16,384,000 entries) holding one chain of
// 1,000,000 clusters stored in descending order and ordinary ascending
// chains of 64 clusters everywhere else.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "FATTable.h"
#include "IStorageDevice.h"
#include "MemoryDevice.h"

namespace {


constexpr unsigned int kSectors = 128000;
constexpr unsigned int kEntries = kSectors * 512 / 4;
constexpr unsigned int kDescending = 1000000;
constexpr unsigned int kEnd = 0x0FFFFFFF;

std::vector<uint8_t> MakeFat()
{
    std::vector<uint32_t> e(kEntries, 0);
    e[0] = 0x0FFFFFF8;
    e[1] = kEnd;
    // Clusters kDescending + 1 down to 2.
    e[2] = kEnd;
    for (unsigned int c = 3; c <= kDescending + 1; ++c)
        e[c] = c - 1;
    for (unsigned int c = kDescending + 2; c < kEntries; ++c)
        e[c] = (c - kDescending) % 64 == 0 || c + 1 == kEntries ? kEnd : c + 1;
    std::vector<uint8_t> bytes(static_cast<size_t>(kEntries) * 4);
    for (size_t i = 0; i < e.size(); ++i)
        for (int k = 0; k < 4; ++k)
            bytes[4 * i + k] = static_cast<uint8_t>(e[i] >> (8 * k));
    return bytes;
}

void BM_IsValidFATTable_Fat32Largest(benchmark::State& state)
{
    MemoryDevice device(MakeFat());
    CFAT32Table table(&device, 0, kSectors);
    for (auto _ : state) {
        int valid = table.IsValidFATTable();
        if (!valid)
            state.SkipWithError("the table was refused");
        benchmark::DoNotOptimize(valid);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kEntries);
}
BENCHMARK(BM_IsValidFATTable_Fat32Largest)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
