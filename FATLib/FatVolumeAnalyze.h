// Recogniser of FAT16 and FAT32 volumes, asked first by the volume-analyser
// controller. FAT12 volumes are not recognised (type 10).
#pragma once

#include "ISearcher.h"

class CFatVolumeAnalyze : public IVolumeAnalyze {
public:
    CFatVolumeAnalyze() = default;
    ~CFatVolumeAnalyze() override = default;

    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return m_eFileSystemType; }
    long long GetTotalSector() override { return static_cast<long long>(m_u64TotalSectors); }
    // Copies min(iLabelLength, 100) bytes of the label field; the copy is
    // always zero-terminated. Returns the label's length.
    int GetLabel(char* buffer, int iLabelLength) override;

    // Reads the boot sector at start and fills type, total and label.
    void Analyze(IStorageDevice* device, unsigned long long start);

private:
    enumFILE_SYSTEM_TYPE m_eFileSystemType = FS_UNKNOWN;
    char m_szLabel[100] = {};
    unsigned long long m_u64TotalSectors = 0;
};

// Always a new recogniser; its type is 10 unless the sectors at start hold a
// FAT16 or FAT32 boot sector.
IVolumeAnalyze* CreateFatVolumeAnalyze(IStorageDevice* device, unsigned long long start);
