// Recogniser of HFS+/HFSX volumes and the quick searcher that scans one:
// the deleted files the journal remembers, then the live catalog.
#pragma once

#include <cstdint>

#include "ISearcher.h"

class CHFSPlusVolume;
class IProgress;

class CHFSPlusVolumeAnalyze : public IVolumeAnalyze {
public:
    CHFSPlusVolumeAnalyze(IStorageDevice* device, unsigned long long startSector);
    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return m_eType; }
    long long GetTotalSector() override { return static_cast<long long>(m_u64TotalSectors); }
    int GetLabel(char* buffer, int length) override;

private:
    enumFILE_SYSTEM_TYPE m_eType = FS_UNKNOWN;
    unsigned long long m_u64TotalSectors = 0;
    char m_szLabel[100] = {};
};

IVolumeAnalyze* CreateHFSPlusVolumeAnalyze(IStorageDevice* device, unsigned long long startSector);

// Keeps the quick scan's volume (and with it the nodes' access to
// attributes and extents) alive; the partition record's context value.
class CHFSPlusPrivateData {
public:
    explicit CHFSPlusPrivateData(CHFSPlusVolume* volume) : m_pVolume(volume) {}
    virtual ~CHFSPlusPrivateData();
    CHFSPlusPrivateData(const CHFSPlusPrivateData&) = delete;
    CHFSPlusPrivateData& operator=(const CHFSPlusPrivateData&) = delete;
    // Destroys the volume.
    void Release();
    CHFSPlusVolume* GetVolume() const { return m_pVolume; }

private:
    CHFSPlusVolume* m_pVolume;
};

class CHFSPlusQuickFileSystemSearchController : public IQuickFileSystemSearchController {
public:
    CHFSPlusQuickFileSystemSearchController() = default;
    // Gives up the private data: the tree builder, which holds the nodes,
    // and the copiers are released before their searcher.
    ~CHFSPlusQuickFileSystemSearchController() override;
    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int count) override;
    // The volume's open code: the walks' own errors end them early only.
    ResultCode QuickSearchFiles(IStorageDevice* device, IProgress* progress) override;

    CHFSPlusPrivateData* GetPrivateData() const { return m_pPrivateData; }

private:
    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
    CHFSPlusPrivateData* m_pPrivateData = nullptr;
    IStorageDevice* m_pDevice = nullptr;
    IProgress* m_pProgress = nullptr;
    uint32_t m_dwBlockSize = 0;
};

IQuickFileSystemSearchController* CreateHFSPlusQuickSearcher();
