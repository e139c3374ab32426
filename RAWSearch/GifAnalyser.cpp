#include "GifAnalyser.h"

#include "RawRecordAccess.h"

IRawFileAnalyser* CreateGifAnalyser(unsigned int)
{
    return new BruteForce::CGifAnalyser;
}

namespace BruteForce {

namespace {

constexpr unsigned char kExtension = 0x21;
constexpr unsigned char kImage = 0x2C;
constexpr unsigned char kTrailer = 0x3B;

// Bytes of a colour table announced by a flags byte (bit 7 set: present,
// bits 0-2: 2^(n+1) entries of 3 bytes).
long long ColourTableBytes(unsigned char flags)
{
    return (flags & 0x80) ? 3LL << ((flags & 7) + 1) : 0;
}

}  // namespace

int CGifAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    // "GIF8" is matched by the registry; "7a" or "9a" follow.
    if (!sector || (sector[4] != '7' && sector[4] != '9') || sector[5] != 'a')
        return 0;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* CGifAnalyser::CreateRawFileInfo()
{
    return new CGifFileInfo;
}

int CGifFileInfo::CalcRawSize(unsigned char*, int sectorSize, long long sectorNumber, SearchContext& context)
{
    if (sectorSize <= 0 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    const long long offset = (sectorNumber - m_llStartSector) * ss;
    const unsigned char* bytes = nullptr;
    if (m_bFirstSector) {
        // Header (6), logical screen descriptor (7), global colour table.
        if (LocateRawRecord(context, m_llStartSector, 10, 1, &bytes) != RawRecordPlace::InMemory)
            return 1;
        m_llNextPos = 13 + ColourTableBytes(bytes[0]);
        m_bFirstSector = false;
    }

    while (m_llNextPos < offset + ss) {
        // The byte at the walk's position lies in a sector already scanned.
        if (LocateRawRecord(context, m_llStartSector, m_llNextPos, 1, &bytes) != RawRecordPlace::InMemory)
            return 1;  // lost its place: no size, no node
        const unsigned char b = bytes[0];
        if (m_bInSubBlocks) {
            m_llNextPos += b + 1;
            m_bInSubBlocks = b != 0;
            continue;
        }
        if (b == kTrailer) {
            m_llSize = m_llNextPos + 1 < kMaxSize ? m_llNextPos + 1 : kMaxSize;
            return 1;
        }
        if (b == kExtension) {
            // Introducer and label; the extension's data sub-blocks follow.
            m_llNextPos += 2;
            m_bInSubBlocks = true;
        } else if (b == kImage) {
            // The 10-byte descriptor is read whole: one that runs past the
            // block in memory waits for the next sector.
            const RawRecordPlace place = LocateRawRecord(context, m_llStartSector, m_llNextPos, 10, &bytes);
            if (place == RawRecordPlace::NotYet)
                break;
            if (place == RawRecordPlace::Gone)
                return 1;
            // Descriptor, local colour table, LZW code size; then the
            // image's data sub-blocks.
            m_llNextPos += 10 + ColourTableBytes(bytes[9]) + 1;
            m_bInSubBlocks = true;
        } else {
            // Not a block introducer: stepped over as a length byte.
            m_llNextPos += b + 1;
        }
    }
    if (offset + ss > kMaxSize) {
        m_llSize = kMaxSize;
        return 1;
    }
    return 2;
}

}  // namespace BruteForce
