// Checking and unchecking a whole result tree: 1 root, F folders, 1,000 files
// each.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "FileNode.h"

namespace {

class BenchNode : public CFileNode {
public:
    explicit BenchNode(bool dir) : m_dir(dir) {}
    const char* GetFileName() override { return "f"; }
    long long GetFileSize() override { return 0; }
    unsigned int GetAttribute() override { return m_dir ? FILE_ATTRIBUTE_DIRECTORY_BIT : 0; }
    unsigned long long GetCreationTime() override { return 0; }
    unsigned long long GetModificationTime() override { return 0; }
    unsigned long long GetLastAccessTime() override { return 0; }
    int IsDirectory() override { return m_dir; }
    int IsDeleted() override { return 0; }
    IFileNode* Clone() override { return new BenchNode(m_dir); }
    void MarkDeleted() override {}
    void FilterFileNameByDot() override {}

private:
    bool m_dir;
};

void CheckWholeTree(benchmark::State& state)
{
    const int folders = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<BenchNode>> nodes;
    nodes.reserve(static_cast<size_t>(folders) * 1001 + 1);
    nodes.push_back(std::make_unique<BenchNode>(true));
    BenchNode* root = nodes.front().get();
    for (int f = 0; f < folders; ++f) {
        nodes.push_back(std::make_unique<BenchNode>(true));
        BenchNode* folder = nodes.back().get();
        root->AddChild(folder);
        for (int i = 0; i < 1000; ++i) {
            nodes.push_back(std::make_unique<BenchNode>(false));
            folder->AddChild(nodes.back().get());
        }
    }
    for (auto _ : state) {
        root->SetCheck(CHECKED_ALL);
        root->SetCheck(CHECKED_NONE);
        benchmark::DoNotOptimize(root->GetCheckedStatus());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(nodes.size()));
}
BENCHMARK(CheckWholeTree)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
