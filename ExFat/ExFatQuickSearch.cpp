#include "ExFatQuickSearch.h"
#include "ExFatTreeLabel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ExFatCompleteSearch.h"
#include "ExFatDBR.h"
#include "ExFatStructs.h"
#include "ExFatFileNode.h"
#include "ExFatVolumeAnalyze.h"
#include "IProgress.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "RegisterExFat.h"
#include "SearchedPartitionInfo.h"
#include "SearcherRegistry.h"

namespace {

constexpr unsigned int kBootBufferBytes = 4096;

void SendProgress(IProgress* progress, uint32_t state, uint64_t total, uint64_t done)
{
    _PROGRESS_INFO info;
    std::memset(&info, 0, sizeof info);
    info.dwState = state;
    info.u64Total = total;
    info.u64Done = done;
    progress->UpdateProgress(&info);
}

}  // namespace

int CExFatQuickSearch::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder)
{
    m_pTreeBuilder = builder;
    return 1;
}

int CExFatQuickSearch::GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity)
{
    if (capacity < 1 || !list)
        return 1;
    auto* info = new CSearchedPartitionInfo(m_partition.m_dwBytesPerSector);
    info->SetFileSystemType(FS_EXFAT);
    info->SetSectorsPerUnit(m_partition.m_dwSectorsPerCluster);
    // Runs count clusters from cluster 2, the first cluster of the heap.
    info->SetUnitBase(m_partition.m_s64HeapStart);
    info->SetPartitionStart(m_partition.m_s64PartitionStart);
    info->SetTotalSectors(static_cast<unsigned long long>(m_partition.m_s64TotalSectors));
    list[0] = info;
    return 1;
}

ResultCode CExFatQuickSearch::QuickSearchFiles(IStorageDevice* volume, IProgress* progress)
{
    m_bTreeAnnounced = false;
    if (PrepareSearch(volume) && progress)
        QuickSearch(volume, progress);
    EndWalk(volume, progress);
    return 0;
}

bool CExFatQuickSearch::PrepareSearch(IStorageDevice* device)
{
    if (!device || !m_pTreeBuilder)
        return false;
    const unsigned int sectorSize = device->GetSectorSize();
    if (sectorSize == 0 || sectorSize > kBootBufferBytes)
        return false;
    std::vector<uint8_t> boot(kBootBufferBytes, 0);
    if (!device->ReadSector(boot.data(), 0, 1))
        return false;
    CExFatDBR dbr(boot.data());
    if (!dbr.IsValid(sectorSize))
        return false;

    const unsigned int sectorShift = exfatle::Log2(sectorSize);
    const unsigned int clusterShift = sectorShift + dbr.SectorsPerClusterShift();
    m_analyze.PrepareAnayze(sectorShift, clusterShift, static_cast<unsigned long long>(device->GetTotalSectors()));
    m_analyze.GetFileList().clear();
    // The walk follows known directories: a damaged name costs its own file.
    m_analyze.SetDamagedNameCostsItsSet(true);
    m_setDirClusters.clear();

    m_partition.m_dwBytesPerSector = dbr.GetBytePerSector();
    m_partition.m_s64HeapStart = dbr.GetDataRegionStartSector();
    m_partition.m_dwSectorsPerCluster = dbr.GetSectorsperCluster();
    m_partition.m_dwRootCluster = dbr.GetRootDirStartCluster();
    m_partition.m_dwClusterLimit = dbr.GetTotalCluster();
    // Clusters the FAT has entries for count too, up to the largest 32-bit
    // value.
    const unsigned long long fatEntries =
        std::min<unsigned long long>(static_cast<unsigned long long>(dbr.GetSectorsPerFat()) *
                                         dbr.GetBytePerSector() / 4,
                                     0xFFFFFFFFULL);
    if (fatEntries > m_partition.m_dwClusterLimit) {
        m_partition.m_dwClusterLimit = static_cast<unsigned int>(fatEntries);
        // A diagnostic, on standard output like the engine's others.
        std::printf("chang totalClustur = %d\n", static_cast<int>(m_partition.m_dwClusterLimit));
    }
    m_partition.CreateFatTable(device, dbr.GetFatStartSector(), dbr.GetSectorsPerFat(), dbr.GetTotalCluster());

    m_partition.m_dwBytesPerCluster = sectorSize * dbr.GetSectorsperCluster();
    m_vecClusterBuffer.assign(m_partition.m_dwBytesPerCluster, 0);

    m_bTreeAnnounced = true;
    const long long rootSector = m_partition.ConvertClusterNumToSector(m_partition.m_dwRootCluster);
    if (!m_pTreeBuilder->AddSearcherInfo(SEARCHER_EXFAT, rootSector))
        return false;
    NameExFatTreeAfterLabel(m_pTreeBuilder, device, rootSector);
    return true;
}

void CExFatQuickSearch::QuickSearch(IStorageDevice* device, IProgress* progress)
{
    std::deque<WaitingDir> waiting;
    // The root has no stream entry and so no length: its FAT chain alone
    // ends it.
    const long long rootBytes =
        static_cast<long long>(m_partition.m_dwClusterLimit) * m_partition.m_dwBytesPerCluster;
    if (!BuildChildren(device, m_partition.m_dwRootCluster, rootBytes, false, false, waiting))
        return;

    unsigned long long done = 0;
    unsigned long long lastPercent = 0;
    while (!waiting.empty()) {
        if (!progress->Continued())
            return;
        const WaitingDir dir = waiting.front();
        waiting.pop_front();
        if (!BuildChildren(device, dir.dwFirstCluster, dir.s64Size, dir.bContiguous, dir.bDeleted, waiting))
            return;
        ++done;
        const unsigned long long total = done + waiting.size();
        const unsigned long long percent = done * 100 / total;
        if (percent > lastPercent) {
            SendProgress(progress, PROGRESS_STATE_RUNNING, total, done);
            lastPercent = percent;
        }
    }
}

void CExFatQuickSearch::EndWalk(IStorageDevice* device, IProgress* progress)
{
    if (m_bTreeAnnounced && m_pTreeBuilder) {
        m_pTreeBuilder->SetPartitonDevice(nullptr, device);
        m_pTreeBuilder->FlashBuild(SEARCHER_EXFAT);
    }
    m_bTreeAnnounced = false;
    if (progress)
        SendProgress(progress, PROGRESS_STATE_FINISHED, 1, 1);
}

bool CExFatQuickSearch::BuildChildren(IStorageDevice* device, uint32_t firstCluster, long long size,
                                      bool contiguous, bool parentDeleted, std::deque<WaitingDir>& waiting)
{
    const unsigned int sectorsPerCluster = m_partition.m_dwSectorsPerCluster;
    const unsigned int clusterBytes = m_partition.m_dwBytesPerCluster;
    bool readOk = true;
    m_analyze.ClearEntrySet();

    uint32_t cluster = firstCluster;
    do {
        if (cluster < 2 || cluster > kExFatLastValidCluster)
            break;
        if (!m_setDirClusters.insert(cluster).second)
            break;
        const long long sector = m_partition.ConvertClusterNumToSector(cluster);
        if (!device->ReadSector(m_vecClusterBuffer.data(), sector, sectorsPerCluster)) {
            readOk = false;
            break;
        }
        if (!m_analyze.Analyze(m_vecClusterBuffer.data(), clusterBytes, sector))
            break;
        size -= clusterBytes;
        if (contiguous)  // consecutive clusters, up to the cluster limit
            cluster = cluster + 1 < m_partition.m_dwClusterLimit ? cluster + 1 : kExFatNoCluster;
        else
            cluster = m_partition.GetNextCluster(cluster, 0);
    } while (size > 0);

    const long long parentId = m_partition.ConvertClusterNumToSector(firstCluster);
    std::list<_tagFileBaseInfo>& records = m_analyze.GetFileList();
    for (_tagFileBaseInfo& record : records) {
        if (parentDeleted)
            record.u8InUse = 0;
        CExFatFileNode* node = m_partition.BuildFile(record);
        node->SetID(m_partition.ConvertClusterNumToSector(record.dwFirstCluster));
        node->SetParentID(parentId);
        // Taken before AddNode: an accepted node belongs to the builder.
        const WaitingDir child{record.dwFirstCluster, static_cast<long long>(record.u64DataLength),
                               node->IsFatInvalid() != 0, node->IsDeleted() != 0};
        const bool isDirectory = node->IsDirectory() != 0;
        if (!m_pTreeBuilder->AddNode(node, SEARCHER_EXFAT))
            node->Release();
        else if (isDirectory)
            waiting.push_back(child);
    }
    records.clear();
    return readOk;
}

IQuickFileSystemSearchController* CreateEXFatQuickSearcher() { return new CExFatQuickSearch; }

void RegisterExFatSearchers()
{
    // The recogniser order (FAT before exFAT) is kept by the registry.
    RegisterVolumeAnalyze(FS_EXFAT, &CreateExfatVolumeAnalyze);
    RegisterQuickSearcher(FS_EXFAT, &CreateEXFatQuickSearcher);
    RegisterCompleteSearcher(SEARCHER_EXFAT, &CreateEXFatSearcher);
}
