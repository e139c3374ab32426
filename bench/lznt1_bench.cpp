// LZNT1 decoding speed: the compressed units of text.txt from the committed
// NTFS image (warm in the page cache), decoded into memory through the
// compressed-file reader.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CompressFileReader.h"
#include "IStorageDevice.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevice.h"

namespace {

class BenchNode : public CFileNode {
public:
    const char* GetFileName() override { return "text.txt"; }
    long long GetFileSize() override { return size; }
    unsigned int GetAttribute() override { return 0; }
    unsigned long long GetCreationTime() override { return 0; }
    unsigned long long GetModificationTime() override { return 0; }
    unsigned long long GetLastAccessTime() override { return 0; }
    int IsDirectory() override { return 0; }
    int IsDeleted() override { return 0; }
    IFileNode* Clone() override { return nullptr; }
    void MarkDeleted() override {}
    void FilterFileNameByDot() override {}
    long long size = 0;
};

std::string Run(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

void BM_Lznt1DecodeText(benchmark::State& state)
{
    const std::string root = VANTREL_SOURCE_DIR;
    char tmpl[] = "/tmp/vantrel-lznt1-XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string dir = tmpl, img = dir + "/ntfs.img";
    Run("xz -dc '" + root + "/tests/data/ntfs_lznt1.img.xz' > '" + img + "'");
    std::istringstream manifest(Run("python3 '" + root + "/tests/tools/tsk2manifest.py' '" + img + "'"));
    std::unique_ptr<IStorageDevice> device(CreateImageDiskDevice(img.c_str(), 512));
    Run("rm -rf '" + dir + "'");  // the open device keeps the data
    if (!device) {
        state.SkipWithError("cannot open the image");
        return;
    }

    BenchNode node;
    auto* list = new CDataRunList();
    std::string line;
    while (std::getline(manifest, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, '\t'))
            f.push_back(field);
        if (f.size() < 11 || f[9] != "text.txt")
            continue;
        node.size = std::atoll(f[4].c_str());
        std::stringstream runs(f[10]);
        std::string run;
        while (std::getline(runs, run, ',')) {
            DataRun r;
            r.llStart = std::atoll(run.c_str());
            r.llLength = std::atoll(run.c_str() + run.find(':') + 1);
            list->AddDataRun(&r);
        }
    }
    node.SetDataRunList(list);
    if (node.size == 0) {
        state.SkipWithError("text.txt not found in the image");
        return;
    }
    CSearchedPartitionInfo part(512);
    part.SetSectorsPerUnit(8);
    part.SetFileSystemType(FS_NTFS);
    CCompressFileReader reader;
    if (!reader.Open(device.get(), &node, &part)) {
        state.SkipWithError("cannot open the reader");
        return;
    }
    std::vector<char> out(static_cast<size_t>(node.size));
    for (auto _ : state) {
        if (!reader.Recovery(out.data(), static_cast<int>(out.size()), nullptr))
            state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * node.size);
}
BENCHMARK(BM_Lznt1DecodeText)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
