// Helpers of the camera-raw and archive analyser tests: byte writers and a
// feeder that hands a streaming candidate the sectors of a buffer as the
// searcher would, with the whole buffer in memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "RawFileInfo.h"

namespace rawtest {

using Bytes = std::vector<unsigned char>;

inline void Put16(Bytes& b, size_t at, uint32_t v, bool little)
{
    if (b.size() < at + 2)
        b.resize(at + 2);
    b[at + (little ? 0 : 1)] = static_cast<unsigned char>(v);
    b[at + (little ? 1 : 0)] = static_cast<unsigned char>(v >> 8);
}

inline void Put32(Bytes& b, size_t at, uint32_t v, bool little)
{
    if (b.size() < at + 4)
        b.resize(at + 4);
    for (int i = 0; i < 4; ++i)
        b[at + (little ? i : 3 - i)] = static_cast<unsigned char>(v >> (8 * i));
}

inline void PutText(Bytes& b, size_t at, const std::string& text)
{
    if (b.size() < at + text.size())
        b.resize(at + text.size());
    std::memcpy(b.data() + at, text.data(), text.size());
}

struct FeedResult {
    // The sector (counted from the file's first) at which the candidate
    // finished, -1 when it never did.
    long long llSector = -1;
    long long llSize = 0;
};

// Feeds the sectors of bytes (the file starts at its sector 0, sector size
// ss) to info until it finishes; bytes past the buffer's end are zero.
inline FeedResult Feed(CRawFileInfo& info, Bytes bytes, unsigned int ss, long long maxSectors = -1)
{
    const long long sectors = static_cast<long long>((bytes.size() + ss - 1) / ss) + 2;
    bytes.resize(static_cast<size_t>(sectors) * ss, 0);
    info.m_llStartSector = 0;
    CRawFileInfo::SearchContext context;
    context.pBlockBase = bytes.data();
    context.llBaseSector = 0;
    context.llLookBackStart = 0;
    context.llBlockEnd = sectors;
    context.dwSectorSize = ss;
    FeedResult result;
    const long long last = maxSectors < 0 ? sectors : std::min(sectors, maxSectors);
    for (long long s = 0; s < last; ++s) {
        unsigned char* sector = bytes.data() + s * ss;
        context.SetZeroCounts(sector, ss);
        if (info.CalcRawSize(sector, static_cast<int>(ss), s, context) == 1) {
            result.llSector = s;
            result.llSize = info.m_llSize;
            return result;
        }
    }
    return result;
}

}  // namespace rawtest
