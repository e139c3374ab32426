#include "OtherCameraRawAnalysers.h"

#include <cstdio>
#include <cstring>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "ResultCode.h"

namespace {

// The three records that close a CRW heap, and how far the file runs past
// the first byte of each.
struct CrwEnd {
    unsigned char byKind;
    long long llDistance;
};
constexpr CrwEnd kCrwEnds[] = {{0xA8, 70}, {0xB2, 60}, {0xE4, 50}};

// The end record at p, compared over length bytes (5 or 6): its distance,
// or 0.
long long CrwEndAt(const unsigned char* p, int length)
{
    if (p[0] != 0x07 || p[1] != 0x28 || p[3] != 0 || p[4] != 0 || (length > 5 && p[5] != 0))
        return 0;
    for (const CrwEnd& e : kCrwEnds)
        if (p[2] == e.byKind)
            return e.llDistance;
    return 0;
}

// The first end record that lies wholly in [p, p + length): its offset and
// distance; false when there is none.
bool FindCrwEnd(const unsigned char* p, long long length, int compared, long long& at, long long& distance)
{
    for (long long i = 0; i + compared <= length; ++i) {
        if (const long long d = CrwEndAt(p + i, compared)) {
            at = i;
            distance = d;
            return true;
        }
    }
    return false;
}

bool CrwHeader(const unsigned char* p)
{
    if (p[4] != 0 || p[5] != 0 || std::memcmp(p + 6, "HEAP", 4) != 0 || p[14] != 2)
        return false;
    return std::memcmp(p + 10, "CCDR", 4) == 0 || std::memcmp(p + 10, "TIFP", 4) == 0 ||
           std::memcmp(p + 10, "ARCH", 4) == 0;
}

// The first "SECd" wholly in [p, p + length), or -1.
long long FindSecd(const unsigned char* p, long long length)
{
    for (long long i = 0; i + 4 <= length; ++i)
        if (std::memcmp(p + i, "SECd", 4) == 0)
            return i;
    return -1;
}

bool EndsInZeroWord(const unsigned char* sector, long long sectorSize)
{
    const unsigned char* w = sector + sectorSize - 4;
    return (w[0] | w[1] | w[2] | w[3]) == 0;
}

void SetRangeName(CRawFileInfo& info, long long sectorNumber)
{
    char name[64];
    std::snprintf(name, sizeof(name), "%lld-%lld_", info.m_llStartSector, sectorNumber);
    info.SetRawFileName(name);
}

}  // namespace

IRawFileAnalyser* CreateCRWAnalyser(unsigned int)
{
    return new Brance::CRWAnalyser;
}

IRawFileAnalyser* CreateX3FAnalyser(unsigned int)
{
    return new Brance::X3FAnalyser;
}

IRawFileAnalyser* CreateMRWAnalyser(unsigned int)
{
    return new FileMRWAnalyser;
}

// ---- CRW -----------------------------------------------------------------------

int FileCRWAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    if (!CrwHeader(pBuffer))
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FileCRWAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    info.m_llSize = kLimit;
    const unsigned int ss = pDevice->GetSectorSize();
    if (info.m_llStartSector < 0 || ss < 128)
        return 1;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    info.m_llSize = GetRawFileSizeEX(buffer, ss);
    return 1;
}

long long FileCRWAnalyser::GetRawFileSizeEX(RawFileBuffer& buffer, unsigned int sectorSize)
{
    const long long ss = sectorSize;
    for (long long at = 0; at < kLimit; at += ss) {
        const unsigned char* sector = buffer.GetRawFileBuffer(static_cast<unsigned long long>(at));
        if (!sector)
            return kLimit;
        if (!EndsInZeroWord(sector, ss))
            continue;
        long long pos = 0, distance = 0;
        if (FindCrwEnd(sector, ss, 6, pos, distance))
            return at + pos + distance;
        // A record that straddles the sector's start: 80 bytes of the
        // previous sector and 11 of this one.
        const long long from = at >= ss ? at - 80 : at;
        const unsigned char* window = buffer.GetRawFileBuffer(static_cast<unsigned long long>(from));
        if (!window)
            return kLimit;
        if (FindCrwEnd(window, 91, 6, pos, distance))
            return from + pos + distance;
    }
    return kLimit;
}

namespace Brance {

int CRWAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !CrwHeader(sector))
        return 0;
    info.m_dwType = FileCRWAnalyser::kType;
    return 1;
}

CRawFileInfo* CRWAnalyser::CreateRawFileInfo()
{
    return new CRWRawFileInfo(&m_FileAnalyser);
}

int CRWAnalyser::CRWRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    if (!sector)
        return 1;
    if (sectorSize <= 0 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    const long long covered = ss * (sectorNumber - m_llStartSector);
    if (covered < kMinScanned + kSecondAddend)
        return 2;
    if (covered >= kMaxSize) {
        m_llSize = kMaxSize;
        SetRangeName(*this, sectorNumber);
        return 1;
    }
    const long long zeros = context.dwTrailingZero;
    if (zeros < 9)
        return 2;
    long long pos = 0, distance = 0;
    // A record may run into the zero tail (it ends in zero bytes), but it
    // must begin before it.
    bool found = FindCrwEnd(sector, ss, 5, pos, distance) && pos < ss - zeros;
    if (found) {
        m_llEnd = covered + pos + distance;
        // The 178 record is followed by four more bytes in some files.
        if (distance == 60 && pos + 64 <= ss) {
            const unsigned char* w = sector + pos + 60;
            if (w[0] | w[1] | w[2] | w[3])
                m_llEnd += 10;
        }
    } else if (sectorNumber >= 2 && context.llLookBackStart < sectorNumber) {
        if (const unsigned char* window = context.bytes(sectorNumber, -86, 172)) {
            if (FindCrwEnd(window, 172, 5, pos, distance)) {
                found = true;
                m_llEnd = covered + pos - 86 + distance;
            }
        }
    }
    if (!found)
        return 2;
    m_llSize = m_llEnd;
    SetRangeName(*this, sectorNumber);
    return 1;
}

}  // namespace Brance

// ---- X3F -----------------------------------------------------------------------

int FileX3FAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    if (!pBuffer)
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FileX3FAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    info.m_dwType = kType;
    // The sector size of the device in hand: searches of several devices
    // in one process each use their own.
    const long long ss = pDevice->GetSectorSize();
    long long at = 0;
    if (info.m_llStartSector >= 0 && ss >= 64) {
        RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
        for (; at < kLimit; at += ss) {
            const unsigned char* sector = buffer.GetRawFileBuffer(static_cast<unsigned long long>(at));
            if (!sector)
                break;
            if (!EndsInZeroWord(sector, ss)) {
                if (std::memcmp(sector + ss - 4, "SECd", 4) == 0) {
                    info.m_llSize = at + ss - 4 + 76;
                    return 1;
                }
                continue;
            }
            long long pos = FindSecd(sector, ss);
            if (pos >= 0) {
                info.m_llSize = at + pos + 76;
                return 1;
            }
            if (at >= ss) {
                const unsigned char* window = buffer.GetRawFileBuffer(static_cast<unsigned long long>(at - ss));
                if (!window)
                    break;
                pos = FindSecd(window, ss + 50);
                if (pos >= 0) {
                    info.m_llSize = at - ss + pos + 76;
                    return 1;
                }
            }
        }
    }
    info.m_llSize = at;
    return 1;
}

namespace Brance {

int X3FAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    info.m_dwType = FileX3FAnalyser::kType;
    return 1;
}

CRawFileInfo* X3FAnalyser::CreateRawFileInfo()
{
    return new X3FRawFileInfo(&m_FileAnalyser);
}

bool X3FAnalyser::X3FRawFileInfo::bContinue(const unsigned char* sector, long long ss, long long sectorNumber,
                                            const SearchContext& context)
{
    const long long covered = ss * (sectorNumber - m_llStartSector);
    if (!EndsInZeroWord(sector, ss)) {
        if (std::memcmp(sector + ss - 4, "SECd", 4) != 0)
            return true;
        m_llEnd = covered + ss - 4 + 76;
        return false;
    }
    long long pos = FindSecd(sector, ss);
    if (pos >= 0) {
        m_llEnd = covered + pos + 76;
        return false;
    }
    if (context.llLookBackStart + 1 < sectorNumber) {
        if (const unsigned char* window = context.bytes(sectorNumber, -(ss / 2), ss + ss / 2)) {
            pos = FindSecd(window, ss + ss / 2);
            if (pos >= 0) {
                m_llEnd = covered - ss / 2 + pos + 76;
                return false;
            }
        }
    }
    return true;
}

int X3FAnalyser::X3FRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    if (!sector)
        return 1;
    if (sectorSize < 8 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    const long long covered = ss * (sectorNumber - m_llStartSector);
    if (covered < kMaxSize && bContinue(sector, ss, sectorNumber, context))
        return 2;
    // At the cap without an end: no size, the device search takes over.
    m_llSize = m_llEnd;
    if (m_llEnd != 0)
        SetRangeName(*this, sectorNumber);
    return 1;
}

}  // namespace Brance

// ---- MRW -----------------------------------------------------------------------

int FileMRWAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    if (!pBuffer)
        return 0;
    const unsigned long long dataOffset = RawReadBE32(pBuffer + 4);
    const unsigned long long rows = (static_cast<unsigned int>(pBuffer[24]) << 8) | pBuffer[25];
    const unsigned long long columns = (static_cast<unsigned int>(pBuffer[26]) << 8) | pBuffer[27];
    const unsigned long long bits = pBuffer[32];
    info.m_dwType = kType;
    info.m_llSize = static_cast<long long>(dataOffset + bits * rows * columns / 8 + 8);
    return 1;
}
