// Where a streaming candidate finds the bytes of one record of its file
// while the search runs: only what the searcher's block memory holds counts.
#pragma once

#include <cstdint>

#include "RawFileInfo.h"

enum class RawRecordPlace {
    InMemory,  // the whole record is readable now
    NotYet,    // it reaches past the block in memory: ask again next sector
    Gone,      // it begins before the look-back block: the walk lost its place
};

// length bytes at fileOffset of the file that starts at startSector.
inline RawRecordPlace LocateRawRecord(const CRawFileInfo::SearchContext& context, long long startSector,
                                      long long fileOffset, long long length, const unsigned char** bytes)
{
    *bytes = nullptr;
    const long long ss = context.dwSectorSize ? context.dwSectorSize : 512;
    if (startSector < 0 || fileOffset < 0 || length <= 0)
        return RawRecordPlace::Gone;
    const long long sector = startSector + fileOffset / ss;
    const long long within = fileOffset % ss;
    if (const unsigned char* p = context.bytes(sector, within, length)) {
        *bytes = p;
        return RawRecordPlace::InMemory;
    }
    if (sector < context.llLookBackStart)
        return RawRecordPlace::Gone;
    // Bytes counted from the block end's first byte: a positive end lies in
    // sectors the searcher has not read yet.
    const __int128 end = (static_cast<__int128>(sector) - context.llBlockEnd) * ss + within + length;
    return end > 0 ? RawRecordPlace::NotYet : RawRecordPlace::Gone;
}

inline uint32_t RawReadBE32(const unsigned char* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

inline uint32_t RawReadLE32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline uint16_t RawReadLE16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
