// The deep scan's first look at a sector: each test reads only the bytes it
// needs, in place and in the volume's byte order, so a sector that is no
// structure of its kind costs a few loads and no copy or byte swapping.
#pragma once

#include <cstddef>
#include <cstdint>

#include "HFSPlusStructs.h"

inline uint16_t HfsLoadBE16(const unsigned char* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// The volume header's signature word ("H+" or "HX") at its start.
inline bool HasHfsVolumeSignature(const unsigned char* header)
{
    const uint16_t signature = HfsLoadBE16(header);
    return signature == kHFSPlusSigWord || signature == kHFSXSigWord;
}

// A journal info block fills its sector: offset and size in whole 512-byte
// units, the reserved words zero and 0xDB bytes up to the sector's end.
inline bool IsHfsJournalInfoBlockSector(const unsigned char* sector, unsigned int sectorSize)
{
    constexpr size_t kBytes = sizeof(JournalInfoBlock);
    if (sectorSize < kBytes)
        return false;
    if (sectorSize > kBytes && sector[sectorSize - 1] != 0xDB)
        return false;
    // Big-endian 64-bit values at 36 (offset) and 44 (size): a multiple of
    // 512 has its last byte and the low bit of the byte before it clear.
    constexpr size_t kOffset = offsetof(JournalInfoBlock, offset);
    constexpr size_t kSize = offsetof(JournalInfoBlock, size);
    if (sector[kOffset + 7] != 0 || (sector[kOffset + 6] & 1) != 0 || sector[kSize + 7] != 0 ||
        (sector[kSize + 6] & 1) != 0)
        return false;
    for (size_t i = offsetof(JournalInfoBlock, reserved); i < kBytes; ++i)
        if (sector[i] != 0)
            return false;
    for (size_t i = kBytes; i < sectorSize; ++i)
        if (sector[i] != 0xDB)
            return false;
    return true;
}

// The node descriptors the scan follows: a leaf at height 1 or a header
// node at height 0, the reserved word zero.
inline bool IsHfsScanNodeDescriptor(const unsigned char* node)
{
    if (node[offsetof(BTNodeDescriptor, reserved)] != 0 || node[offsetof(BTNodeDescriptor, reserved) + 1] != 0)
        return false;
    const auto kind = static_cast<int8_t>(node[offsetof(BTNodeDescriptor, kind)]);
    const uint8_t height = node[offsetof(BTNodeDescriptor, height)];
    return (kind == kBTLeafNode && height == 1) || (kind == kBTHeaderNode && height == 0);
}
