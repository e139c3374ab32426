// The NTFS boot sector: the full plausibility check and the fields the
// searchers read from it.
#pragma once

#include <cstdint>

class CNTFSDBR {
public:
    CNTFSDBR();

    // Every check of a usable boot sector; false for a null buffer.
    static bool IsFullValidDBR(const uint8_t* buffer);
    // Keeps a copy of the sector when it passes IsFullValidDBR; otherwise
    // false and the old copy stays.
    bool InitFromBuffer(const uint8_t* buffer);

    unsigned int GetBytesPerSector() const;
    unsigned int GetSectorsperCluster() const { return m_u8Sector[13]; }
    unsigned long long GetTotalSectors() const;
    unsigned long long GetMFTStartCluster() const;
    unsigned long long GetMFTMirrorStartCluster() const;
    unsigned long long GetSerialNumber() const;
    // Size of one file record in bytes; 0 when the field names a size that
    // cannot be represented.
    unsigned long long GetFileRecordSizeByByte() const;
    const uint8_t* GetBuffer() const { return m_u8Sector; }

private:
    uint8_t m_u8Sector[512];
};
