#include "HFSPlusQuickSearch.h"

#include <cstring>
#include <new>
#include <vector>

#include "HFSPlusCompleteSearch.h"
#include "HFSPlusError.h"
#include "HFSPlusProgress.h"
#include "HFSPlusVolume.h"
#include "HFSPlusVolumeName.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "RegisterHfs.h"
#include "SearchedPartitionInfo.h"
#include "SearcherRegistry.h"

CHFSPlusVolumeAnalyze::CHFSPlusVolumeAnalyze(IStorageDevice* device, unsigned long long startSector)
{
    if (!device)
        return;
    const unsigned int ss = device->GetSectorSize();
    if (ss < 512 || ss > CHFSPlusVolume::kMaxSectorSize)
        return;
    std::vector<unsigned char> sector(ss, 0);
    if (!device->ReadSector(sector.data(), static_cast<long long>(startSector + 1024 / ss), 1))
        return;
    const unsigned char* header = sector.data() + 1024 % ss;
    if (!CHFSPlusVolume::IsValidVolumeHeader(header, static_cast<unsigned short>(ss - 1024 % ss)))
        return;
    HFSPlusVolumeHeader h;
    std::memcpy(&h, header, sizeof h);
    flipVolumeHeader(&h);
    m_eType = FS_HFSPLUS;
    m_u64TotalSectors = static_cast<unsigned long long>(h.totalBlocks) * h.blockSize / ss;
}

int CHFSPlusVolumeAnalyze::GetLabel(char* buffer, int length)
{
    if (!buffer || length < 1)
        return 0;
    const size_t n = std::min<size_t>(static_cast<size_t>(length), sizeof m_szLabel);
    std::memcpy(buffer, m_szLabel, n);
    return static_cast<int>(n);
}

IVolumeAnalyze* CreateHFSPlusVolumeAnalyze(IStorageDevice* device, unsigned long long startSector)
{
    return new (std::nothrow) CHFSPlusVolumeAnalyze(device, startSector);
}

CHFSPlusPrivateData::~CHFSPlusPrivateData() { Release(); }

void CHFSPlusPrivateData::Release()
{
    delete m_pVolume;
    m_pVolume = nullptr;
}

CHFSPlusQuickFileSystemSearchController::~CHFSPlusQuickFileSystemSearchController() { delete m_pPrivateData; }

int CHFSPlusQuickFileSystemSearchController::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder)
{
    m_pTreeBuilder = builder;
    return 1;
}

ResultCode CHFSPlusQuickFileSystemSearchController::QuickSearchFiles(IStorageDevice* device, IProgress* progress)
{
    m_pDevice = device;
    m_pProgress = progress;
    CHFSPlusQuickFileSystemSearchProgress adapter(progress, false);
    if (!device)
        return HFS_FAIL_AT(0x1A, kHfsKindBadArgument);
    if (!m_pTreeBuilder)
        return HFS_FAIL_AT(0x1B, kHfsKindMissing);
    auto* volume = new (std::nothrow) CHFSPlusVolume(device, false);
    if (!volume)
        return HFS_FAIL(kHfsKindNoMemory);
    const ResultCode opened = volume->GetLastError();
    if (IsResultFailure(opened)) {
        delete volume;
        return FormatError(static_cast<long long>(opened), __FILE__, __LINE__, __func__);
    }
    delete m_pPrivateData;
    m_pPrivateData = new (std::nothrow) CHFSPlusPrivateData(volume);
    if (!m_pPrivateData) {
        delete volume;
        return HFS_FAIL(kHfsKindNoMemory);
    }
    m_dwBlockSize = volume->GetBlockSize();
    m_pTreeBuilder->AddSearcherInfo(SEARCHER_HFSPLUS, 2);
    const std::string name = GetHFSPlusVolumeName(volume);
    if (!name.empty())
        m_pTreeBuilder->SetSearcherVolumeName(SEARCHER_HFSPLUS, name.c_str());
    volume->QuickSearchFiles(m_pTreeBuilder, &adapter);
    m_pTreeBuilder->FlashBuild(SEARCHER_HFSPLUS);
    return opened;
}

int CHFSPlusQuickFileSystemSearchController::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int count)
{
    if (count < 1 || !out)
        return 1;
    const unsigned int ss = m_pDevice ? m_pDevice->GetSectorSize() : 512;
    auto* info = new (std::nothrow) CSearchedPartitionInfo(ss);
    if (!info)
        return 0;
    info->SetVolumeContext(m_pPrivateData);
    info->SetPartitionIndex(0);
    info->SetFileSystemType(FS_HFSPLUS);
    info->SetSectorsPerUnit(ss ? m_dwBlockSize / ss : 0);
    info->SetUnitBase(0);
    info->SetPartitionStart(0);
    info->SetTotalSectors(m_pDevice ? static_cast<unsigned long long>(m_pDevice->GetTotalSectors()) : 0);
    out[0] = info;
    return 1;
}

IQuickFileSystemSearchController* CreateHFSPlusQuickSearcher()
{
    return new (std::nothrow) CHFSPlusQuickFileSystemSearchController;
}

void RegisterHfsSearchers()
{
    RegisterVolumeAnalyze(FS_HFSPLUS, &CreateHFSPlusVolumeAnalyze);
    RegisterQuickSearcher(FS_HFSPLUS, &CreateHFSPlusQuickSearcher);
    RegisterCompleteSearcher(SEARCHER_HFSPLUS, &CreateHFSPlusSearcher);
}
