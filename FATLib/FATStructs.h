// On-disk layouts of FAT12/16/32: the boot sector (DBR), the 32-byte
// directory entry and its date and time words.
//
// Every layout is made of bytes only, so a view may sit on any address of a
// sector buffer; multi-byte fields are decoded little-endian by the helpers
// below, never by casting to wider integers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fatle {

inline uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Load32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline void Store16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace fatle

// Boot sector of a FAT12/16/32 volume (the fields this engine reads).
struct tagFATPARTITIONDBR {
    uint8_t ucJump[3];
    uint8_t ucOEMName[8];
    uint8_t ucBytesPerSector[2];     // 11
    uint8_t ucSectorsPerCluster;     // 13
    uint8_t ucReservedSectors[2];    // 14
    uint8_t ucNumberOfFATs;          // 16
    uint8_t ucRootEntries[2];        // 17
    uint8_t ucTotalSectors16[2];     // 19
    uint8_t ucMedia;                 // 21
    uint8_t ucSectorsPerFAT16[2];    // 22
    uint8_t ucSectorsPerTrack[2];    // 24
    uint8_t ucHeads[2];              // 26
    uint8_t ucHiddenSectors[4];      // 28
    uint8_t ucTotalSectors32[4];     // 32
    uint8_t ucSectorsPerFAT32[4];    // 36 (FAT32)
    uint8_t ucExtFlags[2];           // 40
    uint8_t ucFSVersion[2];          // 42
    uint8_t ucRootCluster[4];        // 44 (FAT32)
    uint8_t ucFSInfoSector[2];       // 48
    uint8_t ucBackupBootSector[2];   // 50
    uint8_t ucReserved52[2];         // 52
    uint8_t ucFAT16FileSystemType[8];// 54: "FAT16   " on FAT12/16 (overlaps the FAT32 reserved area)
    uint8_t ucReserved62[20];        // 62
    uint8_t ucFAT32FileSystemType[8];// 82: "FAT32   " on FAT32
    uint8_t ucBootCode[420];         // 90
    uint8_t ucSignature[2];          // 510: 0x55, 0xAA
};
static_assert(sizeof(tagFATPARTITIONDBR) == 512);
static_assert(offsetof(tagFATPARTITIONDBR, ucFAT16FileSystemType) == 54);
static_assert(offsetof(tagFATPARTITIONDBR, ucFAT32FileSystemType) == 82);
static_assert(offsetof(tagFATPARTITIONDBR, ucSignature) == 510);

// Time word: bits 0-4 two-second count, 5-10 minutes, 11-15 hours.
struct tagFATTIME {
    uint8_t ucValue[2];
    uint16_t Value() const { return fatle::Load16(ucValue); }
    unsigned TwoSeconds() const { return Value() & 0x1Fu; }
    unsigned Minutes() const { return (Value() >> 5) & 0x3Fu; }
    unsigned Hours() const { return Value() >> 11; }
};

// Date word: bits 0-4 day, 5-8 month, 9-15 years since 1980.
struct tagFATDATE {
    uint8_t ucValue[2];
    uint16_t Value() const { return fatle::Load16(ucValue); }
    unsigned Day() const { return Value() & 0x1Fu; }
    unsigned Month() const { return (Value() >> 5) & 0x0Fu; }
    unsigned YearsSince1980() const { return Value() >> 9; }
};

// Short (8.3) directory entry.
struct tagSHORTFATDIRENTRY {
    uint8_t ucName[11];              // 0: base name (8) and extension (3), space-padded
    uint8_t ucAttribute;             // 11
    uint8_t ucNTCaseFlags;           // 12: 0x08 base and 0x10 extension shown in lower case
    uint8_t ucCreateTimeTenth;       // 13
    tagFATTIME createTime;           // 14
    tagFATDATE createDate;           // 16
    tagFATDATE lastAccessDate;       // 18
    uint8_t ucFirstClusterHigh[2];   // 20
    tagFATTIME modifyTime;           // 22
    tagFATDATE modifyDate;           // 24
    uint8_t ucFirstClusterLow[2];    // 26
    uint8_t ucFileSize[4];           // 28
};

// Long-name entry: 13 UTF-16 units in three groups.
struct tagLONGFATDIRENTRY {
    uint8_t ucOrder;                 // 0
    uint8_t ucName1[10];             // 1: units 0-4
    uint8_t ucAttribute;             // 11: always 0x0F
    uint8_t ucType;                  // 12
    uint8_t ucChecksum;              // 13
    uint8_t ucName2[12];             // 14: units 5-10
    uint8_t ucFirstClusterLow[2];    // 26
    uint8_t ucName3[4];              // 28: units 11-12
};

union tagFATDIRENTRY {
    tagSHORTFATDIRENTRY shortNameFATDirEntry;
    tagLONGFATDIRENTRY longNameFATDirEntry;
    uint8_t ucBytes[32];
};
static_assert(sizeof(tagFATDIRENTRY) == 32);
static_assert(offsetof(tagSHORTFATDIRENTRY, ucFirstClusterLow) == 26);
static_assert(offsetof(tagLONGFATDIRENTRY, ucName3) == 28);

constexpr size_t kFATDirEntrySize = 32;
constexpr unsigned kFATLongNameUnits = 13;

enum : uint8_t {
    FAT_ATTR_READONLY = 0x01,
    FAT_ATTR_VOLUME_LABEL = 0x08,
    FAT_ATTR_DIRECTORY = 0x10,
    FAT_ATTR_LONG_NAME = 0x0F,
    FAT_ATTR_INVALID_40 = 0x40,
};

constexpr uint8_t kFATErasedMark = 0xE5;
