// Recogniser of NTFS volumes: a full boot sector at the start sector.
#pragma once

#include "ISearcher.h"

class CNTFSVolumeAnalyer : public IVolumeAnalyze {
public:
    explicit CNTFSVolumeAnalyer(unsigned long long totalSectors) : m_u64TotalSectors(totalSectors) {}
    ~CNTFSVolumeAnalyer() override = default;

    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return FS_NTFS; }
    long long GetTotalSector() override { return static_cast<long long>(m_u64TotalSectors); }
    // The label stays empty: the empty string when there is room for it.
    int GetLabel(char* buffer, int size) override;

private:
    unsigned long long m_u64TotalSectors;
    char m_szLabel[4] = {};
};

IVolumeAnalyze* CreateNTFSVolumeAnalyze(IStorageDevice* device, unsigned long long startSector);
