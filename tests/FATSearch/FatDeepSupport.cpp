#include "FatDeepSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "DeviceInfo.h"
#include "TestSupport.h"

CWindowDevice::CWindowDevice(IStorageDevice* source, long long start, long long count, enumFILE_SYSTEM_TYPE fsType)
    : m_pSource(source), m_llStart(start), m_llCount(count)
{
    auto* record = new CCollectedVolumeDeviceInfoStruct;
    record->eFileSystemType = fsType;
    record->s64SectorSize = source->GetSectorSize();
    record->s64TotalSectors = count;
    m_pData = CreateVolumeDeviceData(record);
}

CWindowDevice::~CWindowDevice() { delete m_pData; }

void CWindowDevice::SetPrivateData(IStorageDeviceData* data)
{
    if (data != m_pData)
        delete m_pData;
    m_pData = data;
}

int CWindowDevice::ReadSector(void* buffer, long long first, long long count)
{
    if (first < 0 || count <= 0 || first + count > m_llCount)
        return 0;
    return m_pSource->ReadSector(buffer, m_llStart + first, count);
}

std::unique_ptr<DeepRun> ScanBlocks(IStorageDevice* device, std::map<long long, unsigned int>* fileSectors,
                                    long long blockSectors)
{
    auto run = std::make_unique<DeepRun>();
    if (blockSectors <= 0)
        blockSectors = 4 * 1024 * 1024 / device->GetSectorSize();
    run->searcher.SetDevice(device);
    run->searcher.SetBlockSize(static_cast<int>(blockSectors));
    run->searcher.SetDirecotryTreeBuilder(&run->builder);
    if (fileSectors)
        run->searcher.SetFileSectorMap(fileSectors);
    run->searcher.PreparetoSearch();
    const long long total = device->GetTotalSectors();
    for (long long first = 0; first < total; first += blockSectors)
        EXPECT_EQ(run->searcher.AnalyzeBlock(first, std::min(blockSectors, total - first)), 1);
    return run;
}

std::unique_ptr<DeepRun> RunDeepScan(IStorageDevice* device, std::map<long long, unsigned int>* fileSectors,
                                     long long blockSectors, int build)
{
    auto run = ScanBlocks(device, fileSectors, blockSectors);
    run->searcher.EndSearch(build);
    return run;
}

namespace {

NodeFacts FactsOf(CFATFileNode* node)
{
    NodeFacts f;
    f.size = node->GetFileSize();
    f.deleted = node->IsDeleted() != 0;
    f.directory = node->IsDirectory() != 0;
    f.created = node->GetCreationTime();
    f.modified = node->GetModificationTime();
    if (IDataRunList* runs = node->GetDataRunList())
        for (DataRun* r = runs->GetFirst(); r; r = runs->GetNext())
            f.runs.emplace_back(r->llStart, r->llLength);
    return f;
}

std::string Show(const NodeFacts& f)
{
    std::ostringstream out;
    out << "size " << f.size << (f.deleted ? " deleted" : "") << (f.directory ? " dir" : "") << " runs";
    for (const auto& [start, length] : f.runs)
        out << " " << start << "+" << length;
    return out.str();
}

}  // namespace

namespace {

// Every node of the partition with its path below the tree root.
std::vector<std::pair<std::string, CFATFileNode*>> PartitionPaths(const CRecordingTreeBuilder& builder,
                                                                  unsigned short partition)
{
    std::vector<CFATFileNode*> nodes;
    std::map<long long, CFATFileNode*> folders;
    for (CFATFileNode* n : builder.nodes) {
        if (n->GetBelongedPartition() != partition)
            continue;
        nodes.push_back(n);
        if (n->IsDirectory())
            folders.emplace(n->GetCurrentNodeID(), n);
    }
    std::vector<std::pair<std::string, CFATFileNode*>> out;
    for (CFATFileNode* node : nodes) {
        std::string path = node->GetFileName();
        long long parent = node->GetParentNodeID();
        for (size_t depth = 0; parent != 0; ++depth) {
            auto it = folders.find(parent);
            if (it == folders.end() || depth > folders.size()) {
                path = kLostFolder + path;
                break;
            }
            path = std::string(it->second->GetFileName()) + "/" + path;
            parent = it->second->GetParentNodeID();
        }
        out.emplace_back(path, node);
    }
    return out;
}

}  // namespace

NodeSet PartitionNodes(const CRecordingTreeBuilder& builder, unsigned short partition)
{
    NodeSet out;
    for (const auto& [path, node] : PartitionPaths(builder, partition))
        out.emplace(path, FactsOf(node));
    return out;
}

CFATFileNode* FindNode(const CRecordingTreeBuilder& builder, unsigned short partition, const std::string& path)
{
    for (const auto& [p, node] : PartitionPaths(builder, partition))
        if (p == path)
            return node;
    return nullptr;
}

NodeSet QuickScanNodes(const std::string& image, long long start, long long sectors, enumFILE_SYSTEM_TYPE type,
                       unsigned int sectorSize)
{
    auto disk = OpenFatImage(image, sectorSize);
    if (!disk)
        return {};
    CWindowDevice volume(disk.get(), start, sectors, type);
    CRecordingTreeBuilder builder;
    CRecordingProgress progress;
    CFATQuickSearcher searcher;
    searcher.SetDirecotryTreeBuilder(&builder);
    EXPECT_EQ(searcher.QuickSearchFiles(&volume, &progress), 0u) << image << " at " << start;
    return PartitionNodes(builder, 0);
}

std::string NodeSetDifference(const NodeSet& got, const NodeSet& want)
{
    std::multiset<std::pair<std::string, std::string>> a, b;
    for (const auto& [path, facts] : got)
        a.emplace(path, Show(facts));
    for (const auto& [path, facts] : want)
        b.emplace(path, Show(facts));
    std::ostringstream out;
    for (const auto& e : a)
        if (a.count(e) > b.count(e))
            out << "  extra:   " << e.first << " (" << e.second << ")\n";
    for (const auto& e : b)
        if (b.count(e) > a.count(e))
            out << "  missing: " << e.first << " (" << e.second << ")\n";
    return out.str();
}

std::string ZeroedCopy(const TempDir& dir, const std::string& image, const std::string& name,
                       const std::vector<std::pair<long long, long long>>& zeroed)
{
    const std::string path = dir / name;
    CopyImage(FatImagePath(image), path);
    for (const auto& [first, count] : zeroed)
        RunTool("dd if=/dev/zero of='" + path + "' bs=512 seek=" + std::to_string(first) +
                " count=" + std::to_string(count) + " conv=notrunc status=none");
    return path;
}
