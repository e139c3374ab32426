// On-disk layout of exFAT (all values little-endian) and the record that one
// complete directory-entry set yields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace exfatle {

inline uint16_t Load16(const void* p)
{
    const auto* b = static_cast<const uint8_t*>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t Load32(const void* p)
{
    const auto* b = static_cast<const uint8_t*>(p);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

inline uint64_t Load64(const void* p)
{
    const auto* b = static_cast<const uint8_t*>(p);
    return static_cast<uint64_t>(Load32(b)) | (static_cast<uint64_t>(Load32(b + 4)) << 32);
}

// Whole base-2 logarithm of a sector or cluster size; 0 for 0 and 1.
inline unsigned int Log2(unsigned long long value)
{
    unsigned int shift = 0;
    while (value > 1) {
        value >>= 1;
        ++shift;
    }
    return shift;
}

}  // namespace exfatle

// Entry types; bit 7 is the in-use bit, cleared when a set is deleted.
enum : uint8_t {
    EXFAT_ENTRY_END = 0x00,
    EXFAT_ENTRY_IN_USE = 0x80,
    EXFAT_ENTRY_FILE = 0x85,
    EXFAT_ENTRY_FILE_DELETED = 0x05,
    EXFAT_ENTRY_STREAM = 0xC0,
    EXFAT_ENTRY_STREAM_DELETED = 0x40,
    EXFAT_ENTRY_NAME = 0xC1,
    EXFAT_ENTRY_NAME_DELETED = 0x41,
    EXFAT_ENTRY_BITMAP = 0x81,
    EXFAT_ENTRY_UPCASE = 0x82,
    EXFAT_ENTRY_LABEL = 0x83,
    EXFAT_ENTRY_NO_LABEL = 0x03,
};

constexpr uint32_t kExFatEntrySize = 32;
constexpr uint16_t kExFatAttrDirectory = 0x10;
// Bit 1 of a stream entry's GeneralSecondaryFlags: the clusters are
// consecutive and the FAT holds nothing for them.
constexpr uint8_t kExFatNoFatChain = 0x02;
// Cluster numbers from here up are markers (bad, end of chain), not clusters.
constexpr uint32_t kExFatFirstInvalidCluster = 0xFFFFFFF6;
constexpr uint32_t kExFatLastValidCluster = 0xFFFFFFF5;
constexpr uint32_t kExFatNoCluster = 0xFFFFFFFF;
// Characters in one name entry, and in a whole name (NameLength is 8 bits).
constexpr size_t kExFatNameEntryChars = 15;
constexpr size_t kExFatMaxNameChars = 255;
// Longest UTF-8 name kept, not counting its terminator.
constexpr size_t kExFatMaxNameBytes = 259;

// One 32-byte directory entry, seen as raw bytes; the accessors below read
// the fields of the kinds of entry this engine handles.
struct _tagExFatDirEntry {
    uint8_t bytes[kExFatEntrySize];

    uint8_t Type() const { return bytes[0]; }
    bool InUse() const { return (bytes[0] & EXFAT_ENTRY_IN_USE) != 0; }

    // File entry (0x85 / 0x05).
    uint8_t SecondaryCount() const { return bytes[1]; }
    uint16_t SetChecksum() const { return exfatle::Load16(bytes + 2); }
    uint16_t FileAttributes() const { return exfatle::Load16(bytes + 4); }
    uint32_t CreateTimestamp() const { return exfatle::Load32(bytes + 8); }
    uint32_t LastModifiedTimestamp() const { return exfatle::Load32(bytes + 12); }
    uint32_t LastAccessedTimestamp() const { return exfatle::Load32(bytes + 16); }
    uint8_t Create10ms() const { return bytes[20]; }
    uint8_t LastModified10ms() const { return bytes[21]; }

    // Stream extension (0xC0 / 0x40); GeneralSecondaryFlags is shared with
    // the name entry.
    uint8_t GeneralSecondaryFlags() const { return bytes[1]; }
    uint8_t NameLength() const { return bytes[3]; }
    uint64_t ValidDataLength() const { return exfatle::Load64(bytes + 8); }
    uint32_t FirstCluster() const { return exfatle::Load32(bytes + 20); }
    uint64_t DataLength() const { return exfatle::Load64(bytes + 24); }

    // File name (0xC1 / 0x41): character i of 15.
    char16_t NameChar(size_t i) const { return static_cast<char16_t>(exfatle::Load16(bytes + 2 + 2 * i)); }

    // Volume label (0x83 / 0x03).
    uint8_t CharacterCount() const { return bytes[1]; }
    char16_t LabelChar(size_t i) const { return static_cast<char16_t>(exfatle::Load16(bytes + 2 + 2 * i)); }

    static const _tagExFatDirEntry* At(const void* p) { return static_cast<const _tagExFatDirEntry*>(p); }
};
static_assert(sizeof(_tagExFatDirEntry) == 32);

// A DOS time stamp as stored: the 16-bit time word, then the 16-bit date word.
struct _tagDOSTime {
    uint16_t wTime = 0;
    uint16_t wDate = 0;

    static _tagDOSTime FromStamp(uint32_t stamp)
    {
        _tagDOSTime t;
        t.wTime = static_cast<uint16_t>(stamp & 0xFFFF);
        t.wDate = static_cast<uint16_t>(stamp >> 16);
        return t;
    }
};

// What one complete entry set yields.
struct _tagFileBaseInfo {
    uint64_t u64DataLength = 0;
    uint32_t dwFirstCluster = 0;
    uint8_t u8NoFatChain = 0;
    uint8_t u8InUse = 0;
    uint16_t wAttributes = 0;
    uint32_t dwCreateTime = 0;
    uint32_t dwModifyTime = 0;
    uint32_t dwAccessTime = 0;
    int64_t s64MetadataSector = 0;
    char szName[kExFatMaxNameBytes + 1] = {};

    bool IsDirectory() const { return (wAttributes & kExFatAttrDirectory) != 0; }
};
