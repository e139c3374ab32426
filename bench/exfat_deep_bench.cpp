// The exFAT deep scan's per-sector classification: AnalyzeBlock over
// in-memory blocks of 8,192 sectors, for 64 MiB of random data and for the
// committed two-volume disk image (target: at least 500 MiB/s on one core).
//
// With "--end-search IMAGE" it instead scans the image file block by block
// and reports how long the rebuild at the end (EndSearch, with the engine's
// tree builder) takes and the peak memory of the process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "DirectoryTreeBuilder.h"
#include "ExFatCompleteSearch.h"
#include "IStorageDevice.h"
#include "MemoryDevice.h"
#include "IRecovery.h"
#include "ITreeBuilder.h"

namespace {

constexpr long long kBlockSectors = 8192;


// Takes nothing: the benchmark stops before the trees are built.
class NullBuilder : public IDirecotryTreeBuilder {
public:
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode*, _tagSearcherType) override { return 0; }
    int AddSearcherInfo(_tagSearcherType, long long) override { return 1; }
    int FlashBuild(_tagSearcherType) override { return 1; }
    void Release() override {}
    int SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override { return 1; }
};

std::vector<uint8_t> RandomBytes(size_t size)
{
    std::mt19937_64 rng(0x5eed);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t v = rng();
        std::memcpy(bytes.data() + i, &v, 8);
    }
    return bytes;
}

std::vector<uint8_t> DiskImage()
{
    const std::string command = "xz -dc '" + std::string(VANTREL_SOURCE_DIR) + "/tests/data/exfat/ex-disk.img.xz'";
    std::vector<uint8_t> bytes;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::vector<uint8_t> chunk(1 << 20);
        size_t got;
        while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
            bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<long>(got));
        pclose(pipe);
    }
    return bytes;
}

void Scan(benchmark::State& state, MemoryDevice& device)
{
    const long long total = device.GetTotalSectors();
    if (total == 0) {
        state.SkipWithError("no image");
        return;
    }
    NullBuilder builder;
    for (auto _ : state) {
        CExFatCompleteSearch searcher;
        searcher.SetDevice(&device);
        searcher.SetBlockSize(static_cast<int>(kBlockSectors));
        searcher.SetDirecotryTreeBuilder(&builder);
        for (long long start = 0; start < total; start += kBlockSectors)
            benchmark::DoNotOptimize(searcher.AnalyzeBlock(start, std::min(kBlockSectors, total - start)));
    }
    state.SetBytesProcessed(state.iterations() * total * 512);
}

void BM_RandomData(benchmark::State& state)
{
    static MemoryDevice device(RandomBytes(64 << 20));
    Scan(state, device);
}

void BM_DiskImage(benchmark::State& state)
{
    static MemoryDevice device(DiskImage());
    Scan(state, device);
}

// A read-only image file of 512-byte sectors.
class FileDevice : public MemoryDevice {
public:
    explicit FileDevice(const char* path) : MemoryDevice({}), m_fd(::open(path, O_RDONLY | O_CLOEXEC))
    {
        if (m_fd >= 0)
            m_sectors = ::lseek(m_fd, 0, SEEK_END) / 512;
    }
    ~FileDevice() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int ReadSector(void* buffer, long long first, long long count) override
    {
        if (first < 0 || count < 0 || first + count > m_sectors)
            return 0;
        const size_t bytes = static_cast<size_t>(count) * 512;
        return ::pread(m_fd, buffer, bytes, first * 512) == static_cast<ssize_t>(bytes) ? 1 : 0;
    }
    long long GetTotalSectors() override { return m_sectors; }

private:
    int m_fd;
    long long m_sectors = 0;
};

class CountingSink : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode**, unsigned int count, int) override { shown += count; }
    void ShowFilesystemNode(IFilesystemNode*) override {}
    unsigned long long shown = 0;
};

int TimeEndSearch(const char* path)
{
    FileDevice device(path);
    const long long total = device.GetTotalSectors();
    if (total == 0) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return 1;
    }
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_TYPE_DEEP);
    CountingSink sink;
    // Without the pause that lets a window lay out a new tree's root.
    auto* builder = new CDirectoryTreeBuilder(false);
    builder->SetFirstBatchPause(std::chrono::milliseconds(0));
    builder->Initialize("", &sink, filter);
    {
        CExFatCompleteSearch searcher;
        searcher.SetDevice(&device);
        searcher.SetBlockSize(static_cast<int>(kBlockSectors));
        searcher.SetDirecotryTreeBuilder(builder);
        const auto t0 = std::chrono::steady_clock::now();
        for (long long start = 0; start < total; start += kBlockSectors)
            searcher.AnalyzeBlock(start, std::min(kBlockSectors, total - start));
        const auto t1 = std::chrono::steady_clock::now();
        searcher.EndSearch(1);
        const auto t2 = std::chrono::steady_clock::now();
        struct rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("blocks: %.3f s; EndSearch: %.3f s; nodes shown: %llu; partitions: %zu; peak RSS: %.1f MiB\n",
                    std::chrono::duration<double>(t1 - t0).count(), std::chrono::duration<double>(t2 - t1).count(),
                    sink.shown, searcher.GetPartitions().size(), usage.ru_maxrss / 1024.0);
    }
    builder->Release();
    return 0;
}

}  // namespace

BENCHMARK(BM_RandomData)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiskImage)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--end-search")
        return TimeEndSearch(argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
