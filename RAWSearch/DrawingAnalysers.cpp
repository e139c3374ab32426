#include "DrawingAnalysers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawUtility.h"
#include "ResultCode.h"
#include "ZeroEndRawFileInfo.h"

IRawFileAnalyser* CreateEPSAnalyser(unsigned int)
{
    return new BruteForce::CEPSAnalyser;
}

IRawFileAnalyser* CreateFH11Analyser(unsigned int)
{
    return new BruteForce::CFH11Analyser;
}

IRawFileAnalyser* CreateWpgAnalyser(unsigned int)
{
    return new RawSpeed::WpgAnalyser;
}

IRawFileAnalyser* CreateWPDAnalyser(unsigned int)
{
    return new FileWPDAnalyser;
}

IRawFileAnalyser* CreateCPTAnalyser(unsigned int)
{
    return new FileCPTAnalyser;
}

namespace BruteForce {

int CEPSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    if (std::memcmp(sector, "%!PS", 4) == 0) {
        if (std::memcmp(sector, "%!PS-Adobe-", 11) != 0)
            return 0;
        m_bBinaryHeader = false;
        info.m_dwType = kType;
        return 1;
    }
    static const unsigned char kDosEps[4] = {0xC5, 0xD0, 0xD3, 0xC6};
    if (std::memcmp(sector, kDosEps, 4) != 0)
        return 0;
    // The PostScript, metafile and TIFF sections: the file ends with the
    // last of them.
    long long size = 0;
    for (int at : {4, 12, 20})
        size = std::max(size, static_cast<long long>(RawReadLE32(sector + at)) + RawReadLE32(sector + at + 4));
    m_bBinaryHeader = true;
    info.m_dwType = kType;
    info.m_llSize = size;
    return 1;
}

CRawFileInfo* CEPSAnalyser::CreateRawFileInfo()
{
    if (m_bBinaryHeader)
        return new CRawFileInfo;
    return new CZeroEndRawFileInfo(kMaxSize, 1);
}

int CFH11Analyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    static const unsigned char kMark[12] = {0x02, 0x00, 0x04, 0x1C, 0x01, 0x14, 0x00, 0x02, 0x00, 0x14, 0x1C, 0x01};
    if (!sector || std::memcmp(sector + 4, kMark, sizeof(kMark)) != 0 || sector[34] != '1' || sector[35] != '1')
        return 0;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* CFH11Analyser::CreateRawFileInfo()
{
    return new CZeroEndRawFileInfo(kMaxSize, 4);
}

}  // namespace BruteForce

namespace RawSpeed {

int WpgAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector, "wpg\0", 4) != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* WpgAnalyser::CreateRawFileInfo()
{
    return new WPGRawFileInfo;
}

int WpgAnalyser::WPGRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    if (!sector || sectorSize <= 0 || sectorNumber < m_llStartSector)
        return 2;
    const long long offset = (sectorNumber - m_llStartSector) * sectorSize;
    if (offset > 5 * m_llMaxSize) {
        m_llSize = 0;
        return 1;
    }
    if (context.dwTrailingZero < kZeroTail)
        return 2;
    m_llSize = offset + BruteForce::RawUtility::Binary_Compare(sector, sectorSize);
    char name[64];
    std::snprintf(name, sizeof(name), "%lld-%lld.", m_llStartSector, sectorNumber);
    SetRawFileName(name);
    return 1;
}

}  // namespace RawSpeed

int FileWPDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector, "\xFFWPC", 4) != 0)
        return 0;
    static const struct {
        uint32_t at8;
        uint32_t at14;
        unsigned int type;
    } kKinds[] = {
        {0x01020A01, 0x00050200, kTypeWpd},
        {0x00021601, 0x00030000, kTypeWpg},
        {0x00010F0F, 0x00030000, kTypeShw},
    };
    const uint32_t at8 = RawReadLE32(sector + 8);
    const uint32_t at14 = RawReadLE32(sector + 14);
    for (const auto& kind : kKinds) {
        if (kind.at8 == at8 && kind.at14 == at14) {
            info.m_dwType = kind.type;
            info.m_llSize = RawReadLE32(sector + 20);
            return 1;
        }
    }
    return 0;
}

int FileCPTAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector + 4, "FILE", 4) != 0 || RawReadLE32(sector + 52) != 316)
        return 0;
    info.m_dwType = kType;
    info.m_llSize = 0;
    return 1;
}

int FileCPTAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    if (info.m_llStartSector < 0)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    // Every field is read through the window; offsets come from the file
    // and are checked before use.
    bool failed = false;
    auto u32 = [&](long long offset) -> long long {
        if (failed || offset < 0) {
            failed = true;
            return 0;
        }
        const unsigned char* p = buffer.GetRawFileBuffer(static_cast<unsigned long long>(offset));
        if (!p) {
            failed = true;
            return 0;
        }
        return RawReadLE32(p);
    };
    const long long table = u32(52);
    const long long count = u32(40);
    const long long entry = u32(table + 8 * count - 8);
    long long p = entry + 60;
    const long long atEntry32 = u32(entry + 32);
    const long long atP = u32(p);
    if (atP == atEntry32 && atEntry32 != 0)
        p += atP;
    const long long a = u32(p);
    const long long after = u32(p + 4);
    long long size = entry;
    if (a != 0 && after != 0)
        size = u32(a - 8) + u32(a - 4);
    if (failed || size <= 0)
        return 0;
    info.m_llSize = size;
    return 1;
}
