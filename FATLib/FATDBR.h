// View over a FAT boot sector: decides once whether it is a FAT16 or FAT32
// boot sector and hands out its geometry. It owns nothing.
#pragma once

#include <cstdint>

#include "EngineTypes.h"
#include "FATStructs.h"

class CTempFATDBR {
public:
    // bytes: at least 512 bytes of the boot sector; sectorSize: the device's.
    CTempFATDBR(const void* bytes, unsigned int sectorSize);

    // First byte not 0 and 0x55, 0xAA at 510.
    static bool SimpleCheck(const void* bytes);

    bool IsValidDBR() const { return m_eFileSystemType != FS_UNKNOWN; }
    // 1 FAT16, 2 FAT32, 10 anything else (FAT12 included).
    enumFILE_SYSTEM_TYPE GetFileSystemType() const { return m_eFileSystemType; }

    // These answer 0 unless the type is FAT16 or FAT32, except where noted.
    unsigned int GetReservedSector() const;
    unsigned int GetFatTableStartSector() const;  // any type
    unsigned int GetNumberOfFat() const;
    unsigned int GetSectorsperCluster() const;
    unsigned int GetSectorsPerFat() const;
    unsigned int GetRootEntries() const;  // any type
    unsigned int GetRootDirStartCluster() const;  // FAT32 only
    unsigned long long GetTotalSectors() const;

    const tagFATPARTITIONDBR* GetDBR() const { return m_pDBR; }

    // A FAT12 boot sector (type stays 10: only the deep scan reads FAT12
    // volumes, through the raw fields of GetDBR()).
    bool IsFat12() const;

private:
    bool IsFat16or32() const { return m_eFileSystemType == FS_FAT16 || m_eFileSystemType == FS_FAT32; }
    bool PassesCommonTests() const;
    bool IsFat16() const;
    bool IsFat32() const;

    const tagFATPARTITIONDBR* m_pDBR;
    enumFILE_SYSTEM_TYPE m_eFileSystemType = FS_UNKNOWN;
    unsigned int m_dwSectorSize;
};
