#include "PNGAnalyser.h"

#include <cstdio>
#include <cstring>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "ResultCode.h"

namespace {

// The four bytes after "\x89PNG" (the registry has matched those).
bool HasPngSignatureTail(const unsigned char* p)
{
    return p[4] == 0x0D && p[5] == 0x0A && p[6] == 0x1A && p[7] == 0x0A;
}

bool IsIend(const unsigned char* type)
{
    return std::memcmp(type, "IEND", 4) == 0;
}

}  // namespace

IRawFileAnalyser* CreatePNGAnalyser(unsigned int)
{
    return new RawSpeed::PNGAnalyser;
}

// ---- whole-file sizing -------------------------------------------------------

int FilePNGAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    if (!HasPngSignatureTail(pBuffer))
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FilePNGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    if (info.m_llStartSector < 0)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    const unsigned char* head = buffer.GetRawFileBuffer(0);
    if (!head || std::memcmp(head + 12, "IHDR", 4) != 0)
        return 0;
    if (static_cast<int32_t>(RawReadBE32(head + 16)) < 1 || static_cast<int32_t>(RawReadBE32(head + 20)) < 1)
        return 0;

    long long pos = 20 + static_cast<long long>(RawReadBE32(head + 8));
    while (pos < kMaxWalk) {
        // The window gives at least one sector past pos: a chunk header
        // reads whole.
        const unsigned char* chunk = buffer.GetRawFileBuffer(static_cast<unsigned long long>(pos));
        if (!chunk)
            break;
        const long long length = static_cast<int32_t>(RawReadBE32(chunk));
        if (length < 0 || length > kMaxChunkLength)
            break;
        const bool end = IsIend(chunk + 4);
        pos += length + 12;
        if (end)
            break;
    }
    info.m_llSize = pos;
    return 1;
}

// ---- streaming ------------------------------------------------------------------

namespace RawSpeed {

int PNGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !HasPngSignatureTail(sector))
        return 0;
    info.m_dwType = FilePNGAnalyser::kType;
    return 1;
}

CRawFileInfo* PNGAnalyser::CreateRawFileInfo()
{
    return new PNGRawFileInfo(&m_Fallback);
}

void PNGAnalyser::PNGRawFileInfo::WillBeRemove(unsigned char*, long long)
{
    m_pOwner = m_pFallback;
}

int PNGAnalyser::PNGRawFileInfo::CalcRawSize(unsigned char*, int sectorSize, long long sectorNumber,
                                               SearchContext& context)
{
    if (sectorSize <= 0 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    const long long offset = (sectorNumber - m_llStartSector) * ss;
    // Past the cap, or a chunk chain that can no longer end below it: the
    // fallback gets the candidate.
    if (offset > m_llMaxSize || m_llNextChunk > m_llMaxSize + ss)
        return 1;

    const unsigned char* bytes = nullptr;
    if (m_bFirstSector) {
        if (LocateRawRecord(context, m_llStartSector, 8, 4, &bytes) != RawRecordPlace::InMemory)
            return 1;
        m_llNextChunk += RawReadBE32(bytes);
        m_bFirstSector = false;
    }
    // A chunk header is read once all of its 8 bytes have been scanned; one
    // that runs into the next sector waits for it, when the sector it starts
    // in is still in the look-back memory.
    while (m_llNextChunk + 8 <= offset + ss) {
        if (LocateRawRecord(context, m_llStartSector, m_llNextChunk, 8, &bytes) != RawRecordPlace::InMemory)
            return 1;
        m_llNextChunk += static_cast<long long>(RawReadBE32(bytes)) + 12;
        if (IsIend(bytes + 4)) {
            char name[64];
            std::snprintf(name, sizeof(name), "%lld-%lld_", m_llStartSector, sectorNumber);
            SetRawFileName(name);
            m_llSize = m_llNextChunk;
            return 1;
        }
    }
    return 2;
}

}  // namespace RawSpeed
