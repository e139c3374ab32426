#include "FATBuildWorker.h"

#include <vector>

#include "EmptyFileVirtualClusterNum.h"
#include "FATBuildChildren.h"
#include "FATDBR.h"
#include "FATFileNode.h"
#include "FATTableAnalyser.h"
#include "IProgress.h"
#include "IStorageDevice.h"

namespace {

// Bytes per sector is a 16-bit boot-sector field that must equal the
// device's sector size; no other size can hold a FAT boot sector.
constexpr unsigned int kMinSectorSize = 512;
constexpr unsigned int kMaxSectorSize = 32768;

void Report(IProgress* progress, uint32_t state, uint64_t total, uint64_t done)
{
    _PROGRESS_INFO info{};
    info.dwState = state;
    info.u64Total = total;
    info.u64Done = done;
    progress->UpdateProgress(&info);
}

}  // namespace

CFATBuildWorker::CFATBuildWorker(IDirecotryTreeBuilder* builder, IProgress* progress,
                                 CSearchedPartitionInfo* partition, IStorageDevice* device, enumFILE_SYSTEM_TYPE type,
                                 long long startSector, unsigned int sectorsPerCluster, long long rootStartSector,
                                 unsigned int rootSectors, unsigned int rootCluster, int fromBootSector,
                                 long long dataStartSector, long long totalSectors, IFATTable* fat)
    : m_pTreeBuilder(builder),
      m_pProgress(progress),
      m_pPartition(partition),
      m_pDevice(device),
      m_eFileSystemType(type),
      m_s64StartSector(startSector),
      m_dwSectorsPerCluster(sectorsPerCluster),
      m_s64RootStartSector(rootStartSector),
      m_dwRootSectors(rootSectors),
      m_dwRootCluster(rootCluster),
      m_iFromBootSector(fromBootSector),
      m_s64DataStartSector(dataStartSector),
      m_s64TotalSectors(totalSectors),
      m_pFATTable(fat)
{
    if (device)
        m_dwSectorSize = device->GetSectorSize();
}

long long CFATBuildWorker::ConvertClusterNumToSector(unsigned long long cluster) const
{
    if (cluster < 2)
        return 0;
    return m_s64DataStartSector + static_cast<long long>((cluster - 2) * m_dwSectorsPerCluster);
}

unsigned int CFATBuildWorker::ConvertSectorToClusterNum(long long sector) const
{
    if (m_dwSectorsPerCluster == 0)
        return 0;
    return static_cast<unsigned int>((sector - m_s64DataStartSector) / m_dwSectorsPerCluster + 2);
}

bool CFATBuildWorker::IsFirsectorInCluster(long long sector) const
{
    return m_dwSectorsPerCluster != 0 && (sector - m_s64DataStartSector) % m_dwSectorsPerCluster == 0;
}

unsigned long long CFATBuildWorker::GetClusterEnd() const
{
    const long long dataSectors = m_s64StartSector + m_s64TotalSectors - m_s64DataStartSector;
    if (m_dwSectorsPerCluster == 0 || dataSectors <= 0)
        return 2;
    return static_cast<unsigned long long>(dataSectors) / m_dwSectorsPerCluster + 2;
}

ResultCode CFATBuildWorker::QuickBuildDirectoryTree(int /*mode*/)
{
    GetEmptyFileVirtualClusterNumObject().ResetVirtualClusterNum();
    CFATBuildChildren children(*this);
    FATFolderList folders;
    if (!children.BuildRoot(folders, m_iFromBootSector))
        return kResultRootFailed;

    unsigned long long done = 0;
    unsigned long long lastFigure = 0;
    while (!folders.empty()) {
        if (m_pProgress && !m_pProgress->Continued())
            return kResultStopped;
        ++done;
        const unsigned long long figure = done * 100 / (done + folders.size());
        if (m_pProgress && figure > lastFigure) {
            Report(m_pProgress, PROGRESS_STATE_RUNNING, 100, figure);
            lastFigure = figure;
        }
        CFATFileNode* folder = folders.front();
        folders.pop_front();
        // Found twice (two entries of one cluster): its entries are there.
        if (folder->GetFirstChild())
            continue;
        CFATFileProperties* props = folder->GetFileProperties();
        if (!props)
            continue;
        children.BuildChildren(folder, static_cast<unsigned int>(props->GetFirstClusterNum()), folders, 0);
    }
    if (m_pProgress)
        Report(m_pProgress, PROGRESS_STATE_RUNNING, 100, 100);
    return 0;
}

bool CFATBuildWorker::IsFullValidDBR(const uint8_t* lpDBRBuffer, long long partitionStart, IStorageDevice* device)
{
    VANTREL_ASSERT(lpDBRBuffer != NULL);
    if (!device)
        return false;
    const unsigned int sectorSize = device->GetSectorSize();
    if (sectorSize < kMinSectorSize || sectorSize > kMaxSectorSize)
        return false;
    CTempFATDBR dbr(lpDBRBuffer, sectorSize);
    if (!dbr.IsValidDBR())
        return false;
    const unsigned long long sectorsPerFat = dbr.GetSectorsPerFat();
    if (sectorsPerFat * dbr.GetNumberOfFat() > dbr.GetTotalSectors())
        return false;
    const long long fat1 = partitionStart + dbr.GetReservedSector();
    const long long fat2 = fat1 + static_cast<long long>(sectorsPerFat);
    std::vector<uint8_t> sector(sectorSize);
    for (long long first : {fat1, fat2}) {
        enumFILE_SYSTEM_TYPE type = FS_UNKNOWN;
        if (device->ReadSector(sector.data(), first, 1) &&
            CFATTableAnalyser::IsValidFATTableFirstSector(sector.data(), sector.size(), &type))
            return true;
    }
    return false;
}
