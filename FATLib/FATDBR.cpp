#include "FATDBR.h"

#include <strings.h>

using fatle::Load16;
using fatle::Load32;

CTempFATDBR::CTempFATDBR(const void* bytes, unsigned int sectorSize)
    : m_pDBR(static_cast<const tagFATPARTITIONDBR*>(bytes)), m_dwSectorSize(sectorSize)
{
    if (!m_pDBR)
        return;
    // The FAT16 test goes first: a FAT16 boot sector may carry any bytes at
    // offset 82, a FAT32 one has its own data at offset 54.
    if (IsFat16())
        m_eFileSystemType = FS_FAT16;
    else if (IsFat32())
        m_eFileSystemType = FS_FAT32;
}

bool CTempFATDBR::SimpleCheck(const void* bytes)
{
    if (!bytes)
        return false;
    auto* b = static_cast<const uint8_t*>(bytes);
    return b[0] != 0 && b[510] == 0x55 && b[511] == 0xAA;
}

bool CTempFATDBR::PassesCommonTests() const
{
    if (m_pDBR->ucNumberOfFATs != 2)
        return false;
    switch (m_pDBR->ucSectorsPerCluster) {
    case 1: case 2: case 4: case 8: case 16: case 32: case 64: case 128:
        break;
    default:
        return false;
    }
    if (m_dwSectorSize == 0 || Load16(m_pDBR->ucBytesPerSector) != m_dwSectorSize)
        return false;
    return m_pDBR->ucSignature[0] == 0x55 && m_pDBR->ucSignature[1] == 0xAA;
}

bool CTempFATDBR::IsFat16() const
{
    if (!PassesCommonTests())
        return false;
    if (strncasecmp(reinterpret_cast<const char*>(m_pDBR->ucFAT16FileSystemType), "FAT16   ", 8) != 0)
        return false;
    unsigned rootEntries = Load16(m_pDBR->ucRootEntries);
    if (rootEntries < 224 || (rootEntries * 32u) % m_dwSectorSize != 0)
        return false;
    return Load16(m_pDBR->ucSectorsPerFAT16) != 0;
}

bool CTempFATDBR::IsFat12() const
{
    if (!m_pDBR || m_eFileSystemType != FS_UNKNOWN || !PassesCommonTests())
        return false;
    if (strncasecmp(reinterpret_cast<const char*>(m_pDBR->ucFAT16FileSystemType), "FAT12   ", 8) != 0)
        return false;
    const unsigned rootEntries = Load16(m_pDBR->ucRootEntries);
    if (rootEntries == 0 || (rootEntries * 32u) % m_dwSectorSize != 0)
        return false;
    return Load16(m_pDBR->ucSectorsPerFAT16) != 0 && Load16(m_pDBR->ucReservedSectors) != 0;
}

bool CTempFATDBR::IsFat32() const
{
    if (!PassesCommonTests())
        return false;
    if (strncasecmp(reinterpret_cast<const char*>(m_pDBR->ucFAT32FileSystemType), "FAT32   ", 8) != 0)
        return false;
    return Load32(m_pDBR->ucSectorsPerFAT32) != 0;
}

unsigned int CTempFATDBR::GetReservedSector() const
{
    return IsFat16or32() ? Load16(m_pDBR->ucReservedSectors) : 0;
}

unsigned int CTempFATDBR::GetFatTableStartSector() const
{
    return m_pDBR ? Load16(m_pDBR->ucReservedSectors) : 0;
}

unsigned int CTempFATDBR::GetNumberOfFat() const { return IsFat16or32() ? m_pDBR->ucNumberOfFATs : 0; }

unsigned int CTempFATDBR::GetSectorsperCluster() const { return IsFat16or32() ? m_pDBR->ucSectorsPerCluster : 0; }

unsigned int CTempFATDBR::GetSectorsPerFat() const
{
    if (m_eFileSystemType == FS_FAT32)
        return Load32(m_pDBR->ucSectorsPerFAT32);
    if (m_eFileSystemType == FS_FAT16)
        return Load16(m_pDBR->ucSectorsPerFAT16);
    return 0;
}

unsigned int CTempFATDBR::GetRootEntries() const { return m_pDBR ? Load16(m_pDBR->ucRootEntries) : 0; }

unsigned int CTempFATDBR::GetRootDirStartCluster() const
{
    return m_eFileSystemType == FS_FAT32 ? Load32(m_pDBR->ucRootCluster) : 0;
}

unsigned long long CTempFATDBR::GetTotalSectors() const
{
    if (m_eFileSystemType == FS_FAT32)
        return Load32(m_pDBR->ucTotalSectors32);
    if (m_eFileSystemType == FS_FAT16) {
        unsigned total16 = Load16(m_pDBR->ucTotalSectors16);
        return total16 ? total16 : Load32(m_pDBR->ucTotalSectors32);
    }
    return 0;
}
