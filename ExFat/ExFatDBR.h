// View over an exFAT boot sector. It owns nothing: the caller keeps the
// sector buffer (at least 512 bytes) alive while the view is used.
#pragma once

#include <cstdint>

#include "EngineTypes.h"

class CExFatDBR {
public:
    explicit CExFatDBR(const void* sector) : m_pSector(static_cast<const uint8_t*>(sector)) {}

    // True when the buffer holds an exFAT boot sector written for sectors of
    // sectorSize bytes and its geometry is self-consistent.
    bool IsValid(unsigned int sectorSize) const;

    unsigned int GetBytePerSector() const { return 1u << BytesPerSectorShift(); }
    unsigned int GetSectorsperCluster() const { return 1u << SectorsPerClusterShift(); }
    unsigned int GetFatStartSector() const { return FatOffset(); }
    unsigned int GetSectorsPerFat() const { return FatLength(); }
    unsigned int GetNumberOfFat() const { return m_pSector[110]; }
    unsigned long long GetTotalSectors() const { return VolumeLength(); }
    unsigned int GetDataRegionStartSector() const { return ClusterHeapOffset(); }
    unsigned int GetTotalCluster() const { return ClusterCount(); }
    unsigned int GetRootDirStartCluster() const { return FirstClusterOfRootDirectory(); }
    enumFILE_SYSTEM_TYPE GetFileSystemType() const { return FS_EXFAT; }
    unsigned int GetActiveFatNumber() const { return VolumeFlags() & 1u; }

    unsigned int BytesPerSectorShift() const { return m_pSector[108]; }
    unsigned int SectorsPerClusterShift() const { return m_pSector[109]; }

private:
    unsigned long long VolumeLength() const;
    unsigned int FatOffset() const;
    unsigned int FatLength() const;
    unsigned int ClusterHeapOffset() const;
    unsigned int ClusterCount() const;
    unsigned int FirstClusterOfRootDirectory() const;
    unsigned int VolumeFlags() const;

    const uint8_t* m_pSector;
};
