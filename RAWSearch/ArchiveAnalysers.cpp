#include "ArchiveAnalysers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawUtility.h"
#include "ResultCode.h"

using BruteForce::RawUtility;

namespace {

// One past the last non-zero byte of the buffer, 0 when it is all zero.
long long DataEnd(const unsigned char* p, long long length)
{
    while (length > 0 && p[length - 1] == 0)
        --length;
    return length;
}

bool AllZero(const unsigned char* p, long long length)
{
    return DataEnd(p, length) == 0;
}

long long RoundUp(long long value, long long unit)
{
    return (value + unit - 1) / unit * unit;
}

// Bytes [offset, offset + length) of the file through the device window,
// copied; false when they cannot be read. At most 512 bytes.
bool ReadAt(RawFileBuffer& buffer, long long offset, unsigned char* out, unsigned int length)
{
    if (offset < 0 || length > 512)
        return false;
    const unsigned char* p = buffer.GetRawFileBuffer(static_cast<unsigned long long>(offset));
    if (!p)
        return false;
    std::memcpy(out, p, length);
    return true;
}

// The end of the gzip file at startSector by its members' deflate streams,
// 0 when they are damaged or run past limit.
long long InflatedEnd(IStorageDevice* device, long long startSector, long long limit)
{
    RawFileBuffer buffer(device, static_cast<unsigned long long>(startSector));
    const long long window = buffer.GetWindowBytes();
    const long long total = device->GetTotalSectors() * device->GetSectorSize();
    const long long available = total > 0 ? std::min(limit, total - startSector * device->GetSectorSize()) : limit;
    GzipMemberWalk walk;
    while (!walk.IsDone() && !walk.IsDamaged() && window > 0) {
        const long long at = walk.Fed();
        if (at >= available) {
            walk.Close();
            break;
        }
        const unsigned char* p = buffer.GetRawFileBuffer(static_cast<unsigned long long>(at));
        if (!p)
            return 0;
        walk.Feed(p, static_cast<size_t>(std::min(window - at % window, available - at)));
    }
    return walk.IsDone() ? walk.End() : 0;
}

// ---- LHA headers ----

enum class LzhKind { Unknown, Lh5, Lhd, Lh7 };

LzhKind LzhMethod(const unsigned char* h)
{
    if (h[2] != '-' || h[3] != 'l' || h[4] != 'h' || h[6] != '-')
        return LzhKind::Unknown;
    switch (h[5]) {
    case '5':
    case '0':
        return LzhKind::Lh5;
    case 'd':
        return LzhKind::Lhd;
    case '7':
        return LzhKind::Lh7;
    default:
        return LzhKind::Unknown;
    }
}

// The walk state over LHA member headers, shared by the streaming and the
// whole-file search.
struct LzhWalk {
    long long llPos = 0;
    bool bLevelTwo = false;
    bool bStepBack = false;
    bool bSteppedBack = false;

    // Applies the 11 header bytes at llPos. Returns true when the walk goes
    // on (at the new llPos); false when the archive ended at llPos (one
    // more byte, or three right after a step back, hold its end mark).
    bool Step(const unsigned char* h)
    {
        const LzhKind kind = LzhMethod(h);
        const long long size = h[0];
        const long long packed = RawReadLE32(h + 7);
        if (kind != LzhKind::Unknown && size > 0) {
            bSteppedBack = false;
            if (kind == LzhKind::Lh5) {
                llPos += size + packed;
                bStepBack = !bLevelTwo;
                if (!bLevelTwo)
                    llPos += 2;
            } else if (kind == LzhKind::Lhd) {
                llPos += size;
                bLevelTwo = true;
                bStepBack = false;
            } else {
                llPos += size + packed;
                bLevelTwo = true;
                bStepBack = false;
            }
            return true;
        }
        if (bStepBack) {
            bStepBack = false;
            bSteppedBack = true;
            llPos -= 2;
            return true;
        }
        return false;
    }
};

// ---- StuffIt X end records ----

// 02 d7 0a ?? 98 f6 42 88 at p: how far the file runs past p, else 0.
long long SitxEndAt(const unsigned char* p)
{
    if (p[0] != 0x02 || p[1] != 0xD7 || p[2] != 0x0A || p[4] != 0x98 || p[5] != 0xF6 || p[6] != 0x42 ||
        p[7] != 0x88)
        return 0;
    return 8 + (p[3] == 0x19 ? 4 : p[3] == 0x3B ? 5 : 6);
}

const unsigned char kSit16Header[16] = {0x57, 0x45, 0x42, 0x42, 0x41, 0x49, 0x4b, 0x45,
                                        0x66, 0x66, 0xeb, 0xb4, 0xa3, 0x74, 0xbd, 0x7b};

bool IsUstar(const unsigned char* header)
{
    return std::memcmp(header + 257, "ustar", 5) == 0;
}

constexpr long long kTarBlock = 512;
// GNU tar writes whole records of 20 blocks.
constexpr long long kTarRecord = 20 * kTarBlock;

bool IsZeroTarBlock(const unsigned char* p)
{
    return std::all_of(p, p + kTarBlock, [](unsigned char c) { return c == 0; });
}

}  // namespace

bool IsValidGzHeader(const unsigned char* p)
{
    return p[0] == 0x1F && p[1] == 0x8B && p[2] == 0x08 && p[3] < 32 && p[9] < 14;
}

unsigned long long OctStringToint(const unsigned char* field)
{
    // Padding before the digits counts as leading zeros; the first
    // character after them (NUL or space) ends the number, so a terminator
    // does not shift it by another place.
    unsigned long long value = 0;
    bool digits = false;
    for (int i = 0; i < 12; ++i) {
        const bool digit = field[i] >= '0' && field[i] <= '9';
        if (!digit && digits)
            break;
        if (i == 11 && !digit)
            break;
        value = value * 8 + (digit ? static_cast<unsigned>(field[i] - '0') : 0);
        digits = digits || digit;
    }
    return value;
}

long long classRarSearch::GetBlockSize(const unsigned char* p, long long avail)
{
    if (!p || avail < 16)
        return -1;
    const unsigned int type = p[2];
    const long long head = RawReadLE16(p + 5);
    const long long value = RawReadLE32(p + 7);
    if (head < 7)
        return -1;
    switch (type) {
    case 0x73:
        return head >= 10 ? head : -1;
    case 0x74:
        return value <= static_cast<long long>(RawReadLE32(p + 11)) && p[15] < 5 ? value + head : -1;
    case 0x75:
        return static_cast<long long>(RawReadLE16(p + 7)) + head;
    case 0x76:
        return head;
    case 0x77:
        return p[13] == 0 ? value + head : -1;
    case 0x78:
    case 0x7A:
    case 0x7B:
        return head >= 10 ? value + head : -1;
    default:
        return -1;
    }
}

bool classRarSearch::IsEndBlock(const unsigned char* p)
{
    static const unsigned char kEnd[7] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
    return std::memcmp(p, kEnd, sizeof(kEnd)) == 0;
}

IRawFileAnalyser* CreateGZAnalyzer(unsigned int)
{
    return new RawSpeed::GZAnalyzer;
}

IRawFileAnalyser* CreateRARAnalyser(unsigned int)
{
    return new RawSpeed::RARAnalyser;
}

IRawFileAnalyser* CreateLZHAnalyser(unsigned int)
{
    return new Brance::LZHAnalyser;
}

IRawFileAnalyser* CreateSITAnalyser(unsigned int)
{
    return new RawSpeed::SITAnalyser;
}

IRawFileAnalyser* CreateTARAnalyser(unsigned int)
{
    return new RawSpeed::TARAnalyser;
}

IRawFileAnalyser* CreateCABAnalyser(unsigned int)
{
    return new FileCABAnalyser;
}

// ---- shared candidate -------------------------------------------------------------

int CArchiveRawFileInfo::Finish(long long sectorNumber, long long size, const std::string& name)
{
    if (name.empty()) {
        char stem[64];
        std::snprintf(stem, sizeof(stem), "%lld-%lld_", m_llStartSector, sectorNumber);
        SetRawFileName(stem);
    } else {
        SetRawFileName(name);
    }
    m_llSize = size;
    return 1;
}

long long CArchiveRawFileInfo::FedOffset(const unsigned char* sector, int sectorSize, long long sectorNumber,
                                         int minimumSectorSize) const
{
    if (!sector || sectorSize < minimumSectorSize || sectorNumber < m_llStartSector)
        return -1;
    return (sectorNumber - m_llStartSector) * sectorSize;
}

int CArchiveRawFileInfo::GiveUp()
{
    m_llSize = 0;
    return 1;
}

// ---- gzip --------------------------------------------------------------------------

int FileGZAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    if (!IsValidGzHeader(pBuffer) || (pBuffer[8] != 2 && pBuffer[8] != 4))
        return 0;
    info.m_dwType = ArchiveTypes::kGZ;
    return 1;
}

int FileGZAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    const long long ss = pDevice->GetSectorSize();
    if (info.m_llStartSector < 0 || ss < 16)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned char head[12];
    if (!ReadAt(buffer, 0, head, sizeof(head)) || !IsValidGzHeader(head))
        return 0;
    const unsigned int flags = head[3];
    long long p = 10;
    if (flags & 4)
        p += 2 + RawReadLE16(head + 10);
    // Walks a zero-terminated text; false when the limit ends the file.
    auto skipText = [&](std::string* keep) {
        for (;;) {
            if (p >= kNameLimit)
                return false;
            unsigned char c;
            if (!ReadAt(buffer, p, &c, 1))
                return false;
            ++p;
            if (c == 0)
                return true;
            if (keep && keep->size() < 1024)
                keep->push_back(static_cast<char>(c));
        }
    };
    if (flags & 8) {
        std::string name;
        if (!skipText(&name)) {
            info.m_llSize = p;
            return 1;
        }
        if (!name.empty())
            info.SetRawFileName(name);
    }
    if ((flags & 16) && !skipText(nullptr)) {
        info.m_llSize = p;
        return 1;
    }
    if (flags & 2)
        p += 2;
    // The members' deflate streams give the end; when they are damaged, the
    // first whole sector after the header that ends in 8 zero bytes holds
    // it.
    const long long inflated = InflatedEnd(pDevice, info.m_llStartSector, kLimit);
    if (inflated > 0) {
        info.m_llSize = inflated;
        return 1;
    }
    long long at = (p / ss + 1) * ss;
    for (; at < kLimit; at += ss) {
        unsigned char tail[8];
        if (!ReadAt(buffer, at + ss - 8, tail, sizeof(tail))) {
            info.m_llSize = at;
            return 1;
        }
        if (AllZero(tail, sizeof(tail))) {
            info.m_llSize = at + ss;
            return 1;
        }
    }
    info.m_llSize = kLimit;
    return 1;
}

namespace RawSpeed {

int GZAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !IsValidGzHeader(sector))
        return 0;
    info.m_dwType = ArchiveTypes::kGZ;
    return 1;
}

CRawFileInfo* GZAnalyzer::CreateRawFileInfo()
{
    return new GZRawFileInfo(&m_Partner);
}

int GZAnalyzer::GZRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                          SearchContext& context)
{
    const long long offset = FedOffset(sector, sectorSize, sectorNumber, 1);
    if (offset < 0)
        return 2;
    const long long ss = sectorSize;
    if (sectorNumber == m_llStartSector && (sector[3] & 8) && !(sector[3] & 4)) {
        // The stored file name, when the header holds it in this sector.
        const unsigned char* end = static_cast<const unsigned char*>(std::memchr(sector + 10, 0, ss - 10));
        if (end)
            m_strStoredName.assign(reinterpret_cast<const char*>(sector + 10), static_cast<size_t>(end - (sector + 10)));
    }
    if (offset > m_llMaxSize)
        return Finish(sectorNumber, offset, m_strStoredName);
    if (!m_Walk.IsDamaged() && m_Walk.Fed() == offset) {
        m_Walk.Feed(sector, static_cast<size_t>(ss));
        if (m_Walk.IsDone()) {
            m_bExactEnd = true;
            return Finish(m_llStartSector + (m_Walk.End() - 1) / ss, m_Walk.End(), m_strStoredName);
        }
        if (!m_Walk.IsDamaged())
            return 2;
    }
    const long long dataEnd = DataEnd(sector, ss);
    if (context.dwTrailingZero < 8 || offset + dataEnd < m_llMinEnd - 3)
        return 2;
    // The stream ends with the 32-bit length of its contents, whose high
    // bytes are zero for all but the largest files: they belong to the file
    // although the sector's zero tail swallows them.
    return Finish(sectorNumber, offset + std::min(dataEnd + 3, ss), m_strStoredName);
}

bool GZAnalyzer::GZRawFileInfo::OwnRecordAt(long long sectorNumber, const SearchContext& context)
{
    return m_Walk.GetState() == GzipMemberWalk::State::NextHeader && m_Walk.Fed() == m_Walk.End() &&
           m_Walk.Fed() == (sectorNumber - m_llStartSector) * context.dwSectorSize;
}

}  // namespace RawSpeed

// ---- RAR ---------------------------------------------------------------------------

int FileRARAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    if (pBuffer[4] != 0x1A || pBuffer[5] != 0x07 || pBuffer[6] != 0x00)
        return 0;
    info.m_dwType = ArchiveTypes::kRAR;
    return 1;
}

int FileRARAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    if (info.m_llStartSector < 0)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned char block[32];
    if (!ReadAt(buffer, 7, block, sizeof(block)) || block[2] != 0x73)
        return 0;
    const long long main = classRarSearch::GetBlockSize(block, sizeof(block));
    if (main < 0)
        return 0;
    long long p = 7 + main;
    while (p <= kLimit) {
        if (!ReadAt(buffer, p, block, sizeof(block)))
            return 0;
        const long long size = classRarSearch::GetBlockSize(block, sizeof(block));
        if (size < 0) {
            info.m_llSize = classRarSearch::IsEndBlock(block) ? p + 7 : p;
            return 1;
        }
        p += size;
    }
    info.m_llSize = p;
    return 1;
}

namespace RawSpeed {

int RARAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || sector[4] != 0x1A || sector[5] != 0x07 || sector[6] != 0x00)
        return 0;
    info.m_dwType = ArchiveTypes::kRAR;
    return 1;
}

CRawFileInfo* RARAnalyser::CreateRawFileInfo()
{
    return new RARRawFileInfo(&m_Partner);
}

int RARAnalyser::RARRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                            SearchContext& context)
{
    const long long offset = FedOffset(sector, sectorSize, sectorNumber, 1);
    if (offset < 0)
        return 2;
    const long long ss = sectorSize;
    if (offset > m_llMaxSize)
        return Finish(sectorNumber, m_llNextBlock);
    // Blocks are read once the sector that holds their start (or the ten
    // bytes before it) is fed.
    if (m_llNextBlock > offset + ss + 10)
        return 2;
    const unsigned char* p = nullptr;
    for (int guard = 0; guard < 65536; ++guard) {
        const RawRecordPlace place = LocateRawRecord(context, m_llStartSector, m_llNextBlock, 32, &p);
        if (place == RawRecordPlace::NotYet)
            return 2;
        if (place == RawRecordPlace::Gone) {
            m_bChain = false;
            break;
        }
        const long long size = classRarSearch::GetBlockSize(p, 32);
        if (m_bFirstBlock) {
            m_bFirstBlock = false;
            if (p[2] != 0x73 || size < 0)
                return GiveUp();
        } else if (size < 0) {
            m_bChain = false;
            break;
        }
        m_llNextBlock += size;
        if (m_llNextBlock > offset + ss + 10)
            return 2;
    }
    if (p && classRarSearch::IsEndBlock(p))
        return Finish(sectorNumber, m_llNextBlock + 15);
    // The chain broke without an end block: only the device walk can say
    // more.
    return GiveUp();
}

}  // namespace RawSpeed

// ---- LHA ---------------------------------------------------------------------------

int FileLZHAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    const LzhKind kind = LzhMethod(pBuffer);
    if (kind != LzhKind::Lh5 && kind != LzhKind::Lhd)
        return 0;
    info.m_dwType = ArchiveTypes::kLZH;
    return 1;
}

int FileLZHAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    const long long ss = pDevice->GetSectorSize();
    if (info.m_llStartSector < 0 || ss <= 0)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    LzhWalk walk;
    unsigned char h[11];
    int headers = 0;
    for (; headers < kMaxHeaders && walk.llPos >= 0 && walk.llPos <= kLimit; ++headers) {
        if (!ReadAt(buffer, walk.llPos, h, sizeof(h)))
            break;
        if (!walk.Step(h)) {
            if (headers == 0)
                return 0;
            break;
        }
    }
    if (walk.llPos <= 0)
        return 0;
    info.m_llSize = RoundUp(std::min(walk.llPos, kLimit), ss);
    return 1;
}

namespace Brance {

int LZHAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || LzhMethod(sector) == LzhKind::Unknown)
        return 0;
    info.m_dwType = ArchiveTypes::kLZH;
    return 1;
}

CRawFileInfo* LZHAnalyser::CreateRawFileInfo()
{
    return new LZHRawFileInfo(&m_Partner);
}

bool LZHAnalyser::LZHRawFileInfo::bContinue(const SearchContext& context, long long sectorEnd)
{
    LzhWalk walk{m_llNextHeader, m_bLevelTwo, m_bStepBack, false};
    bool more = true;
    for (int n = 0; n < kMaxHeadersPerSector && walk.llPos < sectorEnd; ++n) {
        const unsigned char* h = nullptr;
        const RawRecordPlace place = LocateRawRecord(context, m_llStartSector, walk.llPos, 11, &h);
        if (place == RawRecordPlace::NotYet)
            break;
        if (place == RawRecordPlace::Gone) {
            m_bLost = true;
            more = false;
            break;
        }
        if (!walk.Step(h)) {
            m_llEnd = walk.llPos + (walk.bSteppedBack ? 3 : 1);
            more = false;
            break;
        }
        if (walk.llPos < 0) {
            m_bLost = true;
            more = false;
            break;
        }
    }
    m_llNextHeader = walk.llPos;
    m_bLevelTwo = walk.bLevelTwo;
    m_bStepBack = walk.bStepBack;
    return more;
}

int LZHAnalyser::LZHRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    const long long offset = FedOffset(sector, sectorSize, sectorNumber, 1);
    if (offset < 0)
        return 2;
    const long long ss = sectorSize;
    if (offset >= 10 * m_llMaxSize)
        return Finish(sectorNumber, m_llMaxSize);
    m_llSectorEnd = offset + ss;
    if (m_llSectorEnd <= m_llNextHeader)
        return 2;
    if (bContinue(context, m_llSectorEnd))
        return 2;
    if (m_bLost)
        return GiveUp();
    return Finish(sectorNumber, m_llEnd);
}

}  // namespace Brance

// ---- StuffIt -----------------------------------------------------------------------

int FileSITAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    if (std::memcmp(pBuffer + 4, "fIt", 3) != 0)
        return 0;
    info.m_dwType = ArchiveTypes::kSIT;
    return 1;
}

int FileSITAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    const long long ss = pDevice->GetSectorSize();
    if (info.m_llStartSector < 0 || ss < 16)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned char head[88];
    if (!ReadAt(buffer, 0, head, sizeof(head)))
        return 0;
    if (head[7] == ' ') {
        info.m_dwType = ArchiveTypes::kSIT;
        const int32_t size = static_cast<int32_t>(RawReadBE32(head + 84));
        info.m_llSize = size < 0 ? kLimit : size;
        return 1;
    }
    if (head[7] != '!')
        return 0;
    info.m_dwType = ArchiveTypes::kSITX;
    long long at = 0;
    for (; at < kLimit; at += ss) {
        const unsigned char* sector = buffer.GetRawFileBuffer(static_cast<unsigned long long>(at));
        if (!sector)
            break;
        if (sector[ss - 1] != 0 || sector[ss - 2] != 0)
            continue;
        // The window holds a sector more: a record may run into it.
        for (long long i = 0; i < ss; ++i) {
            if (const long long d = SitxEndAt(sector + i)) {
                info.m_llSize = at + i + d;
                return 1;
            }
        }
    }
    info.m_llSize = std::min(at, kLimit);
    return 1;
}

namespace RawSpeed {

int SITAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    if (std::memcmp(sector + 4, "fIt", 3) != 0 && std::memcmp(sector, kSit16Header, sizeof(kSit16Header)) != 0)
        return 0;
    info.m_dwType = sector[7] == '!' ? ArchiveTypes::kSITX : ArchiveTypes::kSIT;
    return 1;
}

CRawFileInfo* SITAnalyser::CreateRawFileInfo()
{
    return new SITRawFileInfo(&m_Partner);
}

int SITAnalyser::SITRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                            SearchContext& context)
{
    const long long offset = FedOffset(sector, sectorSize, sectorNumber, 20);
    if (offset < 0)
        return 2;
    const long long ss = sectorSize;
    if (m_bJudgePending) {
        m_bJudgePending = false;
        m_b16ByteHeader = std::memcmp(sector, kSit16Header, sizeof(kSit16Header)) == 0;
        if (sector[7] == '!') {
            m_dwType = ArchiveTypes::kSITX;
            m_bClassic = false;
        } else if (sector[7] == ' ') {
            m_dwType = ArchiveTypes::kSIT;
        }
        if (!m_b16ByteHeader && m_bClassic) {
            const int32_t size = static_cast<int32_t>(RawReadBE32(sector + 84));
            return Finish(sectorNumber, size > 0 && size < m_llMaxSize ? size : m_llMaxSize);
        }
    }
    if (m_b16ByteHeader) {
        if (context.dwTrailingZero < 9)
            return 2;
        return Finish(sectorNumber, offset + RawUtility::Binary_Compare(sector, sectorSize));
    }
    if (context.dwTrailingZero < 4)
        return 2;
    if (offset > m_llMaxSize)
        return Finish(sectorNumber, m_llMaxSize);
    // The end record lies among the last 20 bytes before the zero tail.
    const long long dataEnd = RawUtility::Binary_Compare(sector, sectorSize);
    for (long long i = std::max(0LL, dataEnd - 20); i + 8 <= ss && i < dataEnd; ++i) {
        static const unsigned char kEnds[3] = {0x19, 0x3B, 0x10};
        const unsigned char* q = sector + i;
        if (SitxEndAt(q) && std::find(kEnds, kEnds + 3, q[3]) != kEnds + 3)
            return Finish(sectorNumber, offset + dataEnd);
    }
    return 2;
}

}  // namespace RawSpeed

// ---- tar ---------------------------------------------------------------------------

int FileTARAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    if (!IsUstar(pBuffer))
        return 0;
    info.m_dwType = ArchiveTypes::kTAR;
    return 1;
}

int FileTARAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    if (info.m_llStartSector < 0)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned char header[512];
    long long total = 0;
    while (total <= kLimit) {
        if (!ReadAt(buffer, total, header, sizeof(header)))
            break;
        if (!IsUstar(header)) {
            if (total == 0)
                return 0;
            // The two zero blocks that close the archive, then the zero
            // padding of its last record.
            if (!IsZeroTarBlock(header))
                break;
            total += kTarBlock;
            if (!ReadAt(buffer, total, header, sizeof(header)) || !IsZeroTarBlock(header))
                break;
            total += kTarBlock;
            const long long record = RoundUp(total, kTarRecord);
            long long padded = total;
            while (padded < record && ReadAt(buffer, padded, header, sizeof(header)) && IsZeroTarBlock(header))
                padded += kTarBlock;
            if (padded == record)
                total = record;
            break;
        }
        total += kTarBlock;
        const unsigned long long size = OctStringToint(header + 124) & 0xFFFFFFFFull;
        total += RoundUp(static_cast<long long>(size), kTarBlock);
    }
    if (total == 0)
        return 0;
    info.m_llSize = std::min(total, kLimit);
    return 1;
}

namespace RawSpeed {

int TARAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !IsUstar(sector))
        return 0;
    info.m_dwType = ArchiveTypes::kTAR;
    return 1;
}

CRawFileInfo* TARAnalyser::CreateRawFileInfo()
{
    return new TARRawFileInfo(&m_Partner);
}

int TARAnalyser::TARRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                            SearchContext& context)
{
    const long long offset = FedOffset(sector, sectorSize, sectorNumber, 1);
    if (offset < 0)
        return 2;
    const long long ss = sectorSize;
    // Several headers may share a sector larger than a tar block.
    for (int guard = 0; guard < 4096 && m_llArchiveEnd < 0 && m_llNextHeader < offset + ss; ++guard) {
        const unsigned char* p = nullptr;
        RawRecordPlace place = LocateRawRecord(context, m_llStartSector, m_llNextHeader, kTarBlock, &p);
        if (place == RawRecordPlace::NotYet)
            return 2;
        if (place == RawRecordPlace::Gone)
            return GiveUp();
        if (IsUstar(p)) {
            const unsigned long long size = OctStringToint(p + 124);
            if (size > static_cast<unsigned long long>(FileTARAnalyser::kLimit) * 16)
                return GiveUp();
            m_llNextHeader += kTarBlock + RoundUp(static_cast<long long>(size), kTarBlock);
            continue;
        }
        // Not a header: the archive ends with its last member, or after the
        // two zero blocks that close it.
        if (!IsZeroTarBlock(p))
            return Finish(sectorNumber, m_llNextHeader);
        place = LocateRawRecord(context, m_llStartSector, m_llNextHeader + kTarBlock, kTarBlock, &p);
        if (place == RawRecordPlace::NotYet)
            return 2;
        if (place == RawRecordPlace::Gone || !IsZeroTarBlock(p))
            return Finish(sectorNumber, m_llNextHeader + kTarBlock);
        m_llArchiveEnd = m_llNextHeader + 2 * kTarBlock;
        m_llRecordEnd = RoundUp(m_llArchiveEnd, kTarRecord);
    }
    if (m_llArchiveEnd < 0)
        return 2;
    // The record padding: zero bytes up to the record's end.
    const long long from = std::max(offset, m_llArchiveEnd);
    const long long to = std::min(offset + ss, m_llRecordEnd);
    for (long long at = from; at < to; ++at)
        if (sector[at - offset] != 0)
            return Finish(sectorNumber, m_llArchiveEnd);
    if (offset + ss >= m_llRecordEnd)
        return Finish(sectorNumber, m_llRecordEnd);
    return 2;
}

void TARAnalyser::TARRawFileInfo::WillBeRemove(unsigned char* sector, long long sectorNumber)
{
    CArchiveRawFileInfo::WillBeRemove(sector, sectorNumber);
    if (m_llArchiveEnd > 0 && m_llSize == 0)
        Finish(sectorNumber, m_llArchiveEnd);
}

bool TARAnalyser::TARRawFileInfo::HoldsSector(long long sectorNumber, const SearchContext& context)
{
    const long long at = (sectorNumber - m_llStartSector) * static_cast<long long>(context.dwSectorSize);
    return m_llArchiveEnd < 0 ? at <= m_llNextHeader : at < m_llArchiveEnd;
}

bool TARAnalyser::TARRawFileInfo::OwnRecordAt(long long sectorNumber, const SearchContext& context)
{
    const long long at = (sectorNumber - m_llStartSector) * static_cast<long long>(context.dwSectorSize);
    return m_llArchiveEnd < 0 && at == m_llNextHeader;
}

}  // namespace RawSpeed

// ---- cabinet ------------------------------------------------------------------------

int FileCABAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    info.m_llSize = 0;
    if (!pBuffer)
        return 0;
    const uint32_t size = RawReadLE32(pBuffer + 8);
    if (RawReadLE32(pBuffer + 4) != 0 || RawReadLE32(pBuffer + 12) != 0 || RawReadLE32(pBuffer + 20) != 0 ||
        RawReadLE16(pBuffer + 24) != 0x0103 || size == 0)
        return 0;
    info.m_dwType = ArchiveTypes::kCAB;
    info.m_llSize = size;
    return 1;
}
