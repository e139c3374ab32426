#include "Model3DSAnalyser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawWalkRecord.h"
#include "ResultCode.h"

namespace {

constexpr uint16_t kModelId = 0x4D4D;
// A record step reads the id, the length and the id 88 bytes on.
constexpr long long kStepBytes = 90;

bool IsCartridge(const unsigned char* p)
{
    return std::memcmp(p + 256, "NCSD", 4) == 0;
}

bool IsModel(const unsigned char* p)
{
    return p[0] == 0x4D && p[1] == 0x4D && p[16] == 0x3D && p[17] == 0x3D;
}

}  // namespace

long long Next3DSRecord(const unsigned char* record, long long position)
{
    const long long record88 = RawSpeed::New3DSAnalyser::New3DSRawFileInfo::kRecord;
    if (RawReadLE16(record + record88) == kModelId)
        return position + record88;
    if (RawReadLE16(record) == kModelId && RawReadLE16(record + record88) != 0) {
        const uint16_t length = RawReadLE16(record + 2);
        return length == 0 ? -1 : position + length;
    }
    return -1;
}

IRawFileAnalyser* Create3DSAnalyser(unsigned int)
{
    return new RawSpeed::New3DSAnalyser;
}

int File3DSAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    if (IsCartridge(pBuffer) || !IsModel(pBuffer))
        return 0;
    info.m_dwType = kType;
    return 1;
}

int File3DSAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    if (info.m_llStartSector < 0)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    const unsigned char* head = buffer.GetRawFileBuffer(0);
    if (!head || IsCartridge(head))
        return 0;
    long long pos = 0;
    // Every step moves forward by at least one byte, and the walk stops at
    // its limit.
    while (pos <= kMaxWalk) {
        const unsigned char* p = buffer.GetRawFileBuffer(static_cast<unsigned long long>(pos));
        if (!p)
            return 0;
        const long long next = Next3DSRecord(p, pos);
        if (next < 0)
            break;
        pos = next;
    }
    info.m_llSize = pos;
    return 1;
}

namespace RawSpeed {

int New3DSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !(IsModel(sector) || IsCartridge(sector)))
        return 0;
    info.m_dwType = File3DSAnalyser::kType;
    return 1;
}

CRawFileInfo* New3DSAnalyser::CreateRawFileInfo()
{
    return new New3DSRawFileInfo(&m_Fallback);
}

void New3DSAnalyser::New3DSRawFileInfo::WillBeRemove(unsigned char*, long long)
{
    m_pOwner = m_pFallback;
}

int New3DSAnalyser::New3DSRawFileInfo::End(long long size, long long sectorNumber)
{
    m_llSize = size;
    char name[64];
    std::snprintf(name, sizeof(name), "%lld-%lld_", m_llStartSector, sectorNumber);
    SetRawFileName(name);
    return 1;
}

int New3DSAnalyser::New3DSRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                                   SearchContext& context)
{
    if (!sector || sectorSize < 512 || sectorNumber < m_llStartSector)
        return 2;
    if (m_bFirstSector) {
        m_bFirstSector = false;
        m_bModelMode = sector[0] == 0x4D && sector[1] == 0x4D;
        if (!m_bModelMode) {
            // A cartridge image: its size in 512-byte units.
            const long long units = RawReadLE32(sector + 260);
            const long long size = units * 512;
            return End(units > kCartridgeLimit ? kCartridgeFallback : std::min(size, kCartridgeLimit),
                       sectorNumber);
        }
    }
    const long long offset = (sectorNumber - m_llStartSector) * sectorSize;
    if (offset > 5 * m_llMaxSize)
        return End(m_llNextPos, sectorNumber);
    // Records are stepped over as soon as the bytes a step reads are in
    // memory.
    while (m_llNextPos < offset + sectorSize) {
        const unsigned char* p = nullptr;
        if (const int answer = NeedRawRecord(*this, context, m_llNextPos, kStepBytes, &p))
            return answer;
        m_wRecordId = RawReadLE16(p);
        m_wRecordLength = RawReadLE16(p + 2);
        m_wIdAfter = RawReadLE16(p + kRecord);
        const long long next = Next3DSRecord(p, m_llNextPos);
        if (next < 0)
            return End(m_llNextPos, sectorNumber);
        m_llNextPos = next;
    }
    return 2;
}

}  // namespace RawSpeed
