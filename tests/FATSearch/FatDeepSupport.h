// Helpers of the FAT deep-scan tests: driving the complete searcher block by
// block as the deep controller does, a volume window over part of an image
// for quick scans of one partition, and the found nodes of one partition
// by path, for comparing two scans.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FATCompleteSearcher.h"
#include "FatSearchTestSupport.h"
#include "TestSupport.h"

// Sectors [start, start + count) of a source device, seen as a volume whose
// record names fsType.
class CWindowDevice : public IStorageDevice {
public:
    CWindowDevice(IStorageDevice* source, long long start, long long count, enumFILE_SYSTEM_TYPE fsType);
    ~CWindowDevice() override;
    CWindowDevice(const CWindowDevice&) = delete;
    CWindowDevice& operator=(const CWindowDevice&) = delete;

    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, long long first, long long count) override;
    unsigned int GetSectorSize() override { return m_pSource->GetSectorSize(); }
    long long GetTotalSectors() override { return m_llCount; }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_pData; }
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return STORAGE_DEVICE_VOLUME; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

private:
    IStorageDevice* m_pSource;
    long long m_llStart;
    long long m_llCount;
    IStorageDeviceData* m_pData = nullptr;
};

// One deep scan by the FAT complete searcher alone.
struct DeepRun {
    CFATCompleteFSearcher searcher;
    CRecordingTreeBuilder builder;

    // The searcher's partitions, in list order.
    const CFATCompleteFSearcher::PartitionList& Partitions() const { return searcher.GetPartitions(); }
};
// Drives the searcher as the deep controller does: SetDevice, block size,
// builder, map, PreparetoSearch, then AnalyzeBlock block after block
// (blockSectors 0: 4 MiB blocks). The end of the search is left to the
// caller.
std::unique_ptr<DeepRun> ScanBlocks(IStorageDevice* device, std::map<long long, unsigned int>* fileSectors = nullptr,
                                    long long blockSectors = 0);
// ScanBlocks, then EndSearch(build).
std::unique_ptr<DeepRun> RunDeepScan(IStorageDevice* device, std::map<long long, unsigned int>* fileSectors = nullptr,
                                     long long blockSectors = 0, int build = 1);

// How a found node looks from outside: enough to tell two scans apart.
struct NodeFacts {
    long long size = 0;
    bool deleted = false;
    bool directory = false;
    unsigned long long created = 0;
    unsigned long long modified = 0;
    std::vector<std::pair<long long, long long>> runs;  // start and length, in clusters from the data area

    bool operator==(const NodeFacts& o) const = default;
};
using NodeSet = std::multimap<std::string, NodeFacts>;
inline const std::string kLostFolder = "Other lost files/";

// The nodes of one partition by path below the tree root; a node whose
// folder is not among them is put under kLostFolder, as the tree builder
// files it.
NodeSet PartitionNodes(const CRecordingTreeBuilder& builder, unsigned short partition);
CFATFileNode* FindNode(const CRecordingTreeBuilder& builder, unsigned short partition, const std::string& path);

// A quick scan of the volume at sectors [start, start + sectors) of image.
NodeSet QuickScanNodes(const std::string& image, long long start, long long sectors, enumFILE_SYSTEM_TYPE type,
                       unsigned int sectorSize = 512);

// Paths that one set has and the other not (with their facts), for
// readable failures; empty when both are equal.
std::string NodeSetDifference(const NodeSet& got, const NodeSet& want);

// A copy of a fixture image in dir, with zeroed sectors (count from first).
std::string ZeroedCopy(const TempDir& dir, const std::string& image, const std::string& name,
                       const std::vector<std::pair<long long, long long>>& zeroed);
