// Recogniser of exFAT volumes, asked after the FAT recogniser.
#pragma once

#include <cstdint>

#include "ISearcher.h"

class IStorageDevice;

class CExFatVolumeAnalyer : public IVolumeAnalyze {
public:
    explicit CExFatVolumeAnalyer(long long totalSectors) : m_s64TotalSectors(totalSectors) {}
    ~CExFatVolumeAnalyer() override = default;

    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return FS_EXFAT; }
    long long GetTotalSector() override { return m_s64TotalSectors; }
    // The label is kept as 32-bit characters and copied as such, terminator
    // included: buffer needs (characters + 1) x 4 bytes, and nothing is
    // written when size is smaller. Returns the label's character count.
    int GetLabel(char* buffer, int size) override;

private:
    static constexpr int kLabelChars = 1024;

    long long m_s64TotalSectors;
    // Stays empty: the label entry is not read.
    uint32_t m_wszLabel[kLabelChars] = {};
};

// A recogniser for the exFAT volume at startSector of device, or null when
// that sector cannot be read or is no exFAT boot sector for the device's
// sector size.
IVolumeAnalyze* CreateExfatVolumeAnalyze(IStorageDevice* device, unsigned long long startSector);
