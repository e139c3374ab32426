#include "FATQuickSearcher.h"

#include <algorithm>
#include <new>

#include "DeviceInfo.h"
#include "FATBuildWorker.h"
#include "FATDBR.h"
#include "FATTable.h"
#include "FATTreeLabel.h"
#include "IProgress.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"

namespace {

constexpr long long kBackupBootSector = 6;
constexpr unsigned int kFlagFat32BootSectors = 0x8;
constexpr unsigned int kFlagFirstFATCopy = 0x80;
constexpr unsigned int kFlagSecondFATCopy = 0x200;
constexpr unsigned int kMinSectorSize = 512;
constexpr unsigned int kMaxSectorSize = 32768;

struct DestroyFATTable {
    void operator()(IFATTable* table) const { IFATTableFactory::DestroyFATTable(table); }
};

}  // namespace

CFATQuickSearcher::~CFATQuickSearcher()
{
    m_vecPartitions.clear();
    m_pTreeBuilder = nullptr;
    m_pDevice = nullptr;
    m_pProgress = nullptr;
}

int CFATQuickSearcher::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder)
{
    m_pTreeBuilder = builder;
    return 1;
}

int CFATQuickSearcher::GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity)
{
    if (m_vecPartitions.empty())
        return 0;
    if (list && capacity >= 1)
        list[0] = m_vecPartitions.front()->Clone();
    return 1;
}

ResultCode CFATQuickSearcher::QuickSearchFiles(IStorageDevice* device, IProgress* progress)
{
    if (!device || !progress)
        return kResultNoDeviceOrProgress;
    if (!m_pTreeBuilder)
        return kResultNoTreeBuilder;
    m_pDevice = device;
    m_pProgress = progress;

    ResultCode result = 0;
    if (device->GetType() != STORAGE_DEVICE_VOLUME) {
        result = kResultNotAVolume;
    } else if (auto* holder = dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData()); !holder) {
        result = kResultNoVolumeHolder;
    } else if (const CCollectedVolumeDeviceInfoStruct* record = holder->GetVolumeInfo(); !record) {
        result = kResultNoVolumeRecord;
    } else if (record->eFileSystemType != FS_FAT16 && record->eFileSystemType != FS_FAT32) {
        result = kResultUnsupported;
    } else {
        result = FatQuickSearchFiles(record->eFileSystemType, progress);
    }

    _PROGRESS_INFO info{};
    info.dwState = PROGRESS_STATE_FINISHED;
    info.u64Total = 100;
    info.u64Done = 100;
    m_pProgress->UpdateProgress(&info);
    return result;
}

ResultCode CFATQuickSearcher::FatQuickSearchFiles(enumFILE_SYSTEM_TYPE type, IProgress* progress)
{
    IStorageDevice* device = m_pDevice;
    m_vecPartitions.clear();
    const unsigned int flags = type == FS_FAT32 ? kFlagsFat32 : kFlagsFat16;

    ResultCode result = 0;
    CFATSearchedPartitionInfo* partition = nullptr;
    std::unique_ptr<IFATTable, DestroyFATTable> fat;
    const unsigned int sectorSize = device->GetSectorSize();
    std::unique_ptr<uint8_t[]> sector(new (std::nothrow) uint8_t[std::max(sectorSize, 1u)]);
    if (!sector) {
        result = kResultNoBuffer;
    } else {
        // The boot sector; FAT32 keeps a copy at sector 6.
        auto bootSectorAt = [&](long long at) {
            std::fill(sector.get(), sector.get() + sectorSize, 0);
            return sectorSize >= kMinSectorSize && sectorSize <= kMaxSectorSize &&
                   device->ReadSector(sector.get(), at, 1) && CFATBuildWorker::IsFullValidDBR(sector.get(), 0, device);
        };
        bool valid = bootSectorAt(0);
        if (!valid && (flags & kFlagFat32BootSectors))
            valid = bootSectorAt(kBackupBootSector);
        if (!valid)
            result = kResultNoBootSector;
    }

    if (!result) {
        const CTempFATDBR dbr(sector.get(), sectorSize);
        const enumFILE_SYSTEM_TYPE dbrType = dbr.GetFileSystemType();
        const long long reserved = dbr.GetReservedSector();
        const long long sectorsPerFat = dbr.GetSectorsPerFat();
        const unsigned int spc = dbr.GetSectorsperCluster();
        // The first copy; the second only when the first is refused.
        fat.reset(IFATTableFactory::CreateFATTable(device, reserved, dbrType, static_cast<unsigned int>(sectorsPerFat),
                                                   flags & kFlagFirstFATCopy, flags & kFlagSecondFATCopy));
        if (!fat)
            result = kResultNoFATReader;

        long long rootStart = 0, dataStart = 0;
        unsigned int rootSectors = 0, rootCluster = 0, rootInfo = 0;
        const long long fatsEnd = reserved + static_cast<long long>(dbr.GetNumberOfFat()) * sectorsPerFat;
        if (dbrType == FS_FAT32) {
            dataStart = fatsEnd;
            rootCluster = dbr.GetRootDirStartCluster();
            rootStart = dataStart + (static_cast<long long>(rootCluster) - 2) * spc;
            rootInfo = rootCluster;
        } else {
            rootStart = fatsEnd;
            rootSectors = static_cast<unsigned int>(dbr.GetRootEntries() * 32ULL / sectorSize);
            dataStart = rootStart + rootSectors;
            rootInfo = rootSectors;
        }
        long long total = static_cast<long long>(dbr.GetTotalSectors());
        total = std::min(total, device->GetTotalSectors());
        const long long clusters = total > dataStart && spc ? (total - dataStart) / spc : 0;

        if (!result) {
            partition = CFATSearchedPartitionInfo::CreateFATSearchedPartitionInfo(sectorSize);
            if (!partition) {
                result = kResultNoRecord;
            } else {
                partition->SetPartitionIndex(0);
                partition->SetUnitBase(dataStart);
                partition->SetSectorsPerUnit(spc & 0xFF);
                partition->SetCounter1(0);
                partition->SetCounter2(0);
                partition->SetFileSystemType(dbrType);
                partition->SetTotalSectors(static_cast<unsigned long long>(total));
                partition->SetSectorPerFAT(static_cast<unsigned int>(sectorsPerFat));
                partition->SetTotalCluster(static_cast<unsigned int>(clusters));
                partition->SetStartSector(0);
                partition->SetReservedSector(static_cast<unsigned short>(reserved));
                partition->SetRootInfo(rootInfo);
                partition->MergeFlag(flags);
                m_vecPartitions.emplace_back(partition);
            }
        }

        if (!result) {
            m_pTreeBuilder->AddSearcherInfo(SEARCHER_FAT, 0);
            NameTreeAfterLabel(m_pTreeBuilder, device, 0);
            CFATBuildWorker worker(m_pTreeBuilder, progress, partition, device, dbrType, 0, spc, rootStart,
                                   rootSectors, rootCluster, 1, dataStart, total, fat.get());
            result = worker.QuickBuildDirectoryTree(1);
        }
    }

    m_pTreeBuilder->SetPartitonDevice(partition, device);
    m_pTreeBuilder->FlashBuild(SEARCHER_FAT);
    return result;
}

IQuickFileSystemSearchController* CreateFATQuickSearcher() { return new (std::nothrow) CFATQuickSearcher; }
