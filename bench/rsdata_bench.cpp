// Saving and loading a scan result of a million found files: one frame of
// 1,000,000 node-shaped records, each written as 18 small fields (116 bytes)
// and read back field by field with exact reads. Saving includes the
// frames' checksums and loading their check, as a real save and load do;
// SaveMillionNodesDurably adds what a save does to reach the storage device
// (a file beside the target, fsync, rename).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "RSData.h"

namespace {

constexpr int kRecords = 1000000;
const tagGUIDSIGN kNodesFrame = {{0x6c, 0xf2, 0x08, 0xd2, 0x8c, 0x07, 0x34, 0x4e,
                                  0x9d, 0x71, 0xd9, 0x1f, 0x53, 0x5f, 0x7b, 0x57}};

struct Record {
    int64_t id, parent;
    uint64_t size;
    uint16_t attributes;
    uint64_t created, modified, accessed;
    uint32_t directory, deleted, runCount, resident;
    uint64_t run[2];
    uint32_t nameLength;
    char name[12];
    uint32_t shown;
    uint16_t partition;
    int64_t metadataSector;
    uint32_t compressed;
};

// Applies op(pointer, size) to each of the record's 18 fields in stored order.
template <class Op>
void EachField(Record& r, Op&& op)
{
    op(&r.id, 8);
    op(&r.parent, 8);
    op(&r.size, 8);
    op(&r.attributes, 2);
    op(&r.created, 8);
    op(&r.modified, 8);
    op(&r.accessed, 8);
    op(&r.directory, 4);
    op(&r.deleted, 4);
    op(&r.runCount, 4);
    op(&r.resident, 4);
    op(r.run, 16);
    op(&r.nameLength, 4);
    op(r.name, 12);
    op(&r.shown, 4);
    op(&r.partition, 2);
    op(&r.metadataSector, 8);
    op(&r.compressed, 4);
}

std::string TempPath()
{
    std::string dir = (std::filesystem::temp_directory_path() / "vantrel-bench-XXXXXX").string();
    if (!mkdtemp(dir.data()))
        std::abort();
    return dir + "/nodes.rsf";
}

void RemoveTemp(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(path).parent_path(), ec);
}

bool WriteResult(const std::string& path, bool durably = false)
{
    CRSData w(RS_MODE_WRITE);
    if (!(durably ? w.StartRSReplacing(path.c_str()) : w.StartRS(path.c_str(), 1)))
        return false;
    FILEHEADER header;
    header.eStatus = RS_STATUS_FIRST;
    w.WriteFileHeader(header);
    w.OpenFrame(kNodesFrame);
    Record r{};
    r.nameLength = sizeof(r.name);
    for (int i = 0; i < kRecords; ++i) {
        r.id = i + 100;
        r.parent = i / 64;
        r.size = static_cast<uint64_t>(i) * 4096;
        r.run[0] = static_cast<uint64_t>(i) * 8;
        r.run[1] = 8;
        r.name[0] = static_cast<char>('a' + i % 26);
        EachField(r, [&](const void* p, unsigned n) { w.WriteCurFrame(p, n); });
    }
    w.CloseFrame();
    if (durably)
        return w.CommitRS() == 1;
    return w.WriteChecksumFrame() == 1 && w.EndRS() == 1;
}

void SaveMillionNodes(benchmark::State& state)
{
    const std::string path = TempPath();
    for (auto _ : state) {
        if (!WriteResult(path))
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRecords * 116);
    RemoveTemp(path);
}

void SaveMillionNodesDurably(benchmark::State& state)
{
    const std::string path = TempPath();
    for (auto _ : state) {
        if (!WriteResult(path, true))
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRecords * 116);
    RemoveTemp(path);
}

void LoadMillionNodes(benchmark::State& state)
{
    const std::string path = TempPath();
    if (!WriteResult(path))
        state.SkipWithError("write failed");
    for (auto _ : state) {
        CRSData r(RS_MODE_READ);
        r.StartRS(path.c_str(), 0);
        RSIntegrityReport report;
        if (r.CheckIntegrity(report) != RS_INTEGRITY_SOUND) {
            state.SkipWithError("checksums do not match");
            break;
        }
        if (!r.OpenFrame(kNodesFrame)) {
            state.SkipWithError("frame missing");
            break;
        }
        Record rec{};
        uint64_t sum = 0;
        try {
            for (int i = 0; i < kRecords; ++i) {
                EachField(rec, [&](void* p, unsigned n) { r.ReadCurFrameExact(p, n); });
                sum += static_cast<uint64_t>(rec.id);
            }
        } catch (const CRSException&) {
            state.SkipWithError("short frame");
        }
        benchmark::DoNotOptimize(sum);
        r.EndRS();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRecords * 116);
    RemoveTemp(path);
}

}  // namespace

BENCHMARK(SaveMillionNodes)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(SaveMillionNodesDurably)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(LoadMillionNodes)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
