// The FAT deep scan's per-sector tests: AnalyzeBlock over in-memory blocks
// of 8,192 sectors, for 64 MiB of seeded random data and for the first
// 64 MiB of a FAT disk image (boot sectors, FATs and directories), on one
// core (target: at least 1 GiB/s on both).
//
// Usage: fat_deep_bench IMAGE [benchmark options]
//        fat_deep_bench --end-search IMAGE
// The second form scans the whole image block by block and reports how long
// the end of the search (culling, scoring and rebuilding every partition's
// tree into the engine's tree builder) takes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "DirectoryTreeBuilder.h"
#include "FATCompleteSearcher.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "RecoveryFilter.h"

namespace {

constexpr long long kBlockSectors = 8192;
constexpr unsigned int kSectorSize = 512;

// Sectors from memory, or from a file when no bytes are given.
class BenchDevice : public IStorageDevice {
public:
    explicit BenchDevice(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    explicit BenchDevice(int fd) : m_fd(fd)
    {
        const off_t size = ::lseek(fd, 0, SEEK_END);
        m_llSectors = size > 0 ? size / kSectorSize : 0;
    }
    ~BenchDevice() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, long long first, long long count) override
    {
        if (first < 0 || count <= 0 || first + count > GetTotalSectors())
            return 0;
        const size_t bytes = static_cast<size_t>(count) * kSectorSize;
        if (m_fd < 0) {
            std::memcpy(buffer, m_bytes.data() + first * kSectorSize, bytes);
            return 1;
        }
        return ::pread(m_fd, buffer, bytes, static_cast<off_t>(first) * kSectorSize) == static_cast<ssize_t>(bytes);
    }
    unsigned int GetSectorSize() override { return kSectorSize; }
    long long GetTotalSectors() override
    {
        return m_fd >= 0 ? m_llSectors : static_cast<long long>(m_bytes.size() / kSectorSize);
    }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return STORAGE_DEVICE_DISK; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

private:
    std::vector<uint8_t> m_bytes;
    int m_fd = -1;
    long long m_llSectors = 0;
};

class NullSink : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode**, unsigned int, int) override {}
    void ShowFilesystemNode(IFilesystemNode*) override {}
};

std::string g_image;

std::vector<uint8_t> RandomBytes(size_t size)
{
    std::mt19937_64 random(12);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; i += 8) {
        const uint64_t v = random();
        std::memcpy(bytes.data() + i, &v, 8);
    }
    return bytes;
}

std::vector<uint8_t> ImageHead(const std::string& path, size_t size)
{
    std::vector<uint8_t> bytes(size, 0);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t got = ::pread(fd, bytes.data(), size, 0);
        bytes.resize(got > 0 ? static_cast<size_t>(got) / kSectorSize * kSectorSize : 0);
        ::close(fd);
    } else {
        bytes.clear();
    }
    return bytes;
}

void ScanBlocks(benchmark::State& state, BenchDevice& device)
{
    const long long total = device.GetTotalSectors();
    for (auto _ : state) {
        CFATCompleteFSearcher searcher;
        searcher.SetDevice(&device);
        searcher.SetBlockSize(static_cast<int>(kBlockSectors));
        searcher.PreparetoSearch();
        for (long long first = 0; first < total; first += kBlockSectors)
            searcher.AnalyzeBlock(first, std::min(kBlockSectors, total - first));
        benchmark::DoNotOptimize(searcher.GetCandidates().size());
    }
    state.SetBytesProcessed(state.iterations() * total * kSectorSize);
}

void BM_AnalyzeBlockRandom(benchmark::State& state)
{
    BenchDevice device(RandomBytes(64 << 20));
    ScanBlocks(state, device);
}
BENCHMARK(BM_AnalyzeBlockRandom)->Unit(benchmark::kMillisecond);

void BM_AnalyzeBlockFatDisk(benchmark::State& state)
{
    BenchDevice device(ImageHead(g_image, 64 << 20));
    if (device.GetTotalSectors() == 0) {
        state.SkipWithError("no image: pass the path of fat-disk.img");
        return;
    }
    ScanBlocks(state, device);
}
BENCHMARK(BM_AnalyzeBlockFatDisk)->Unit(benchmark::kMillisecond);

int EndSearchOnly(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    BenchDevice device(fd);
    CRecoveryFilter filter;
    filter.SetScanType(SCAN_TYPE_DEEP);
    NullSink sink;
    auto* builder = new CDirectoryTreeBuilder(false);
    // The pause before the first batch is for the windows' sake, not work.
    builder->SetFirstBatchPause(std::chrono::milliseconds(0));
    builder->Initialize("bench", &sink, &filter);
    CFATCompleteFSearcher searcher;
    searcher.SetDevice(&device);
    searcher.SetBlockSize(static_cast<int>(kBlockSectors));
    searcher.SetDirecotryTreeBuilder(builder);
    searcher.PreparetoSearch();
    const long long total = device.GetTotalSectors();
    const auto scanStart = std::chrono::steady_clock::now();
    for (long long first = 0; first < total; first += kBlockSectors)
        searcher.AnalyzeBlock(first, std::min(kBlockSectors, total - first));
    const auto endStart = std::chrono::steady_clock::now();
    searcher.EndSearch(1);
    const auto endDone = std::chrono::steady_clock::now();
    const double scan = std::chrono::duration<double>(endStart - scanStart).count();
    const double end = std::chrono::duration<double>(endDone - endStart).count();
    std::printf("sector loop: %.3f s for %lld sectors; EndSearch: %.3f s for %zu partitions (target < 2 s)\n", scan,
                total, end, searcher.GetPartitions().size());
    builder->Release();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--end-search") == 0)
        return EndSearchOnly(argv[2]);
    if (argc >= 2 && argv[1][0] != '-') {
        g_image = argv[1];
        argv[1] = argv[0];
        --argc;
        ++argv;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
