// The checks every APFS block passes before it is trusted, and the APFS
// recogniser the volume analysis asks about a start sector.
#pragma once

#include <cstdint>
#include <cstring>

#include "ISearcher.h"

class IStorageDevice;

// The only block size the engine reads APFS with.
constexpr int kApfsBlockSize = 4096;
constexpr uint32_t kApfsMagicContainer = 0x4253584E;  // "NXSB"
constexpr uint32_t kApfsMagicVolume = 0x42535041;     // "APSB"
constexpr uint32_t kApfsPhysicalFlag = 0x4000;        // flags half of the type

// Little-endian reads from a block; the callers have checked the bounds.
inline uint16_t ApfsRead16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t ApfsRead32(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint64_t ApfsRead64(const unsigned char* p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The sanity test of an object header: subtype and type at most 31 and a
// non-zero object id. The stored checksum is not verified.
bool IsValidObject(unsigned long long block, const unsigned char* data, int size);

class APFSRecognize : public IVolumeAnalyze {
public:
    APFSRecognize(IStorageDevice* device, unsigned long long startSector, unsigned long long totalSectors);
    ~APFSRecognize() override = default;
    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return FS_APFS; }
    long long GetTotalSector() override { return static_cast<long long>(m_u64TotalSectors); }
    // Copies the first reachable volume's name, at most 32 bytes (fewer when
    // the caller's buffer is smaller); the buffer stays as it was when none
    // is found.
    int GetLabel(char* label, int size) override;

private:
    bool ReadBlock(unsigned long long block, unsigned char* buffer);
    bool ReadVolumeName(unsigned long long omapBlock, char* label, int labelSize);

    IStorageDevice* m_pDevice;
    unsigned long long m_u64StartSector;
    unsigned long long m_u64TotalSectors;
};

IVolumeAnalyze* CreateAPFSVolumeAnalyze(IStorageDevice* device, unsigned long long startSector);
