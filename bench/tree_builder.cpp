// Filing a large scan: N nodes (N/1000 folders in a ten-way tree of up to
// three levels, the rest files spread evenly over them, 30 % of the files
// naming parent folders that never arrive) added in random order, then one
// FlashBuild. The sink discards its batches; there is no pause. Making the
// nodes and releasing them afterwards are not timed.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <vector>

#include "DirectoryTreeBuilder.h"
#include "FileNode.h"
#include "RecoveryFilter.h"

namespace {

class BenchNode : public CFileNode {
public:
    BenchNode(long long id, long long parentId, bool dir) : m_dir(dir)
    {
        m_llNodeID = id;
        m_llParentNodeID = parentId;
    }
    const char* GetFileName() override { return m_dir ? "folder" : "file.jpg"; }
    long long GetFileSize() override { return m_dir ? 0 : 4096; }
    unsigned int GetAttribute() override { return m_dir ? FILE_ATTRIBUTE_DIRECTORY_BIT : 0; }
    unsigned long long GetCreationTime() override { return 0; }
    unsigned long long GetModificationTime() override { return 0; }
    unsigned long long GetLastAccessTime() override { return 0; }
    int IsDirectory() override { return m_dir; }
    int IsDeleted() override { return m_deleted; }
    IFileNode* Clone() override { return new BenchNode(m_llNodeID, m_llParentNodeID, m_dir); }
    void MarkDeleted() override { m_deleted = 1; }
    void FilterFileNameByDot() override {}

private:
    int m_dir;
    int m_deleted = 0;
};

class DiscardingSink : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode**, unsigned int count, int) override { shown += count; }
    void ShowFilesystemNode(IFilesystemNode*) override {}
    unsigned long long shown = 0;
};

// The nodes in arrival order. They are allocated in that order, as a searcher
// makes each node right before handing it over.
std::vector<IFileNode*> MakeNodes(long long total)
{
    struct Plan {
        long long id;
        long long parent;
        bool dir;
    };
    const long long folders = std::max(1LL, total / 1000);
    const long long files = total - folders;
    std::vector<Plan> plans;
    plans.reserve(static_cast<size_t>(total));
    for (long long k = 0; k < folders; ++k)
        plans.push_back({1 + k, k < 10 ? 0 : 1 + (k - 10) / 10, true});
    std::mt19937_64 rng(12345);
    for (long long i = 0; i < files; ++i) {
        const bool orphan = rng() % 100 < 30;
        const long long parent = orphan ? 100000000LL + static_cast<long long>(rng() % 1000) : 1 + i % folders;
        plans.push_back({folders + 1 + i, parent, false});
    }
    std::shuffle(plans.begin(), plans.end(), rng);
    std::vector<IFileNode*> nodes;
    nodes.reserve(plans.size());
    for (const Plan& s : plans)
        nodes.push_back(new BenchNode(s.id, s.parent, s.dir));
    return nodes;
}

void AddAndFlash(benchmark::State& state)
{
    const long long total = state.range(0);
    CRecoveryFilter filter(std::map<int, std::string>{{1, "jpg"}});
    filter.SetScanType(SCAN_TYPE_DEEP);
    unsigned long long shown = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<IFileNode*> nodes = MakeNodes(total);
        DiscardingSink sink;
        auto* builder = new CDirectoryTreeBuilder(false);
        builder->SetFirstBatchPause(std::chrono::milliseconds(0));
        builder->Initialize("", &sink, &filter);
        builder->AddSearcherInfo(SEARCHER_FAT, 0);
        state.ResumeTiming();

        for (IFileNode* n : nodes)
            if (!builder->AddNode(n, SEARCHER_FAT))
                n->Release();
        builder->FlashBuild(SEARCHER_FAT);

        state.PauseTiming();
        shown = sink.shown;
        builder->Release();
        state.ResumeTiming();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["shown"] = static_cast<double>(shown);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["nodes_per_s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(AddAndFlash)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
