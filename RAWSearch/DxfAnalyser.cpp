#include "DxfAnalyser.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "RawUtility.h"

namespace {

constexpr std::string_view kSectionCrLf = "  0\r\nSECTION\r\n  ";
constexpr std::string_view kSectionLf = "  0\nSECTION\n  ";
constexpr std::string_view kEofCrLf = "  0\r\nEOF\r\n";
constexpr std::string_view kEofLf = "  0\nEOF\n";

}  // namespace

IRawFileAnalyser* CreateDXFAnalyser(unsigned int)
{
    return new BruteForce::CDXFAnalyser;
}

namespace BruteForce {

int CDXFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    return AnalyseBufferEx(sector, info, 512, 0, 0, 0);
}

int CDXFAnalyser::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long,
                                  long long, long long)
{
    if (!sector || sectorSize < static_cast<long long>(kSectionCrLf.size()))
        return 0;
    const std::string_view all(reinterpret_cast<const char*>(sector), static_cast<size_t>(sectorSize));
    bool accepted = all.substr(0, kSectionCrLf.size()) == kSectionCrLf;
    if (!accepted && all.substr(0, 3) == "999") {
        // A comment group first: the section header must follow before the
        // text ends.
        std::string_view header;
        if (all[3] == '\n')
            header = kSectionLf;
        else if (all[3] == '\r' && all[4] == '\n')
            header = kSectionCrLf;
        if (!header.empty()) {
            const std::string_view text = all.substr(0, all.find('\0'));
            accepted = text.find(header) != std::string_view::npos;
        }
    }
    if (!accepted)
        return 0;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* CDXFAnalyser::CreateRawFileInfo()
{
    return new CDXFRawFileInfo;
}

int CDXFRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                 SearchContext& context)
{
    if (!sector || sectorSize < 8 || sectorNumber < m_llStartSector)
        return 2;
    if (m_iEndPatternLength == 0) {
        const std::string_view end = sector[3] == '\n' ? kEofLf : kEofCrLf;
        std::memcpy(m_byEndPattern, end.data(), end.size());
        m_iEndPatternLength = static_cast<int>(end.size());
    }
    // Counted from the sector's place, so sectors the search skips cost
    // nothing.
    const long long offset = (sectorNumber - m_llStartSector) * sectorSize;
    const int z = static_cast<int>(std::min<unsigned int>(context.dwTrailingZero, 32));
    const int past = RawUtility::FindMagicInBuffer(sector, sectorSize, z, m_byEndPattern, m_iEndPatternLength);
    if (past) {
        m_llSize = std::min(offset + past, kMaxSize);
        return 1;
    }
    if (offset + sectorSize >= kMaxSize) {
        m_llSize = kMaxSize;
        return 1;
    }
    return 2;
}

}  // namespace BruteForce
