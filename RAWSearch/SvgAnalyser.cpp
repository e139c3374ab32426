#include "SvgAnalyser.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <strings.h>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawUtility.h"
#include "ResultCode.h"

namespace {

constexpr unsigned char kBinaryHead[4] = {0xCD, 0x01, 0x00, 0x00};
constexpr std::string_view kDeclaration = "<?xml version=\"";
constexpr std::string_view kSvgTags[] = {"<svg ", "<svg\n ", "<svg\r ", "<svg> ", "<svg>\n", "<svg>\r"};

bool At(const unsigned char* p, size_t length, size_t at, std::string_view text)
{
    return at + text.size() <= length && std::memcmp(p + at, text.data(), text.size()) == 0;
}

bool AtNoCase(const unsigned char* p, size_t length, size_t at, std::string_view text)
{
    return at + text.size() <= length &&
           strncasecmp(reinterpret_cast<const char*>(p + at), text.data(), text.size()) == 0;
}

bool Contains(const unsigned char* p, size_t length, std::string_view text)
{
    return std::string_view(reinterpret_cast<const char*>(p), length).find(text) != std::string_view::npos;
}

bool HasSvgTag(const unsigned char* p, size_t length)
{
    for (std::string_view tag : kSvgTags)
        if (Contains(p, length, tag))
            return true;
    return false;
}

// GPX and property lists, told by their first tags.
unsigned int ProbeGpxOrPlist(const unsigned char* p, size_t length, bool plistAt40)
{
    if (AtNoCase(p, length, 0, "<?xml")) {
        if (At(p, length, 57, "<gpx") || At(p, length, 39, "<gpx"))
            return RAW_TYPE_GPX;
        if (At(p, length, 39, "<!DOCTYPE plist") || (plistAt40 && At(p, length, 40, "<!DOCTYPE plist")))
            return RAW_TYPE_PLIST;
        return 0;
    }
    return AtNoCase(p, length, 0, "BCFZ") ? static_cast<unsigned int>(RAW_TYPE_GPX) : 0u;
}

bool HasDeclaration(const unsigned char* p, size_t length)
{
    return At(p, length, 0, kDeclaration) || At(p, length, 3, kDeclaration);
}

}  // namespace

unsigned int ProbeSvgFamily(const unsigned char* sector, size_t length)
{
    if (!sector)
        return 0;
    if (unsigned int type = ProbeGpxOrPlist(sector, length, true))
        return type;
    if (HasDeclaration(sector, length)) {
        const size_t head = std::min<size_t>(length, 512);
        if (HasSvgTag(sector, head))
            return RAW_TYPE_SVG;
        if (Contains(sector, head, "=\"Evernote"))
            return RAW_TYPE_ENEX;
        if (Contains(sector, head, "csl"))
            return RAW_TYPE_CSL;
    }
    if (At(sector, length, 0, std::string_view(reinterpret_cast<const char*>(kBinaryHead), 4)) ||
        At(sector, length, 0, "<svg "))
        return RAW_TYPE_SVG;
    return 0;
}

IRawFileAnalyser* CreateSVGAnalyser(unsigned int)
{
    return new Brance::SVGAnalyser;
}

// ---- device sizing ---------------------------------------------------------------

int FileSVGAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    // Probes get at least a 2048-byte head.
    constexpr size_t kHead = 2048;
    if (unsigned int type = ProbeGpxOrPlist(pBuffer, kHead, false)) {
        info.m_dwType = type;
        return 1;
    }
    if (!At(pBuffer, kHead, 0, kDeclaration) || !HasSvgTag(pBuffer, kHead))
        return 0;
    info.m_dwType = RAW_TYPE_SVG;
    return 1;
}

int FileSVGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    if (info.m_llStartSector < 0)
        return 0;
    // Each device's own sector size: a kept value would be wrong for the
    // next device.
    const unsigned long long s = pDevice->GetSectorSize();
    if (s < 2 || s > RawFileBuffer::kMaxSectorSize)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    for (unsigned long long offset = 0; offset < kMaxScan; offset += s) {
        const unsigned char* p = buffer.GetRawFileBuffer(offset);
        if (!p)
            return 0;
        if (p[s - 2] == 0 && p[s - 1] == 0) {
            info.m_llSize = static_cast<long long>(offset + s);
            info.m_dwType = RAW_TYPE_SVG;
            return 1;
        }
    }
    return 0;
}

// ---- streaming -----------------------------------------------------------------------

namespace Brance {

int SVGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    // Sectors are at least 512 bytes.
    const unsigned int type = ProbeSvgFamily(sector, 512);
    if (!type)
        return 0;
    info.m_dwType = type;
    return 1;
}

CRawFileInfo* SVGAnalyser::CreateRawFileInfo()
{
    return new SVGRawFileInfo(&m_Fallback);
}

void SVGAnalyser::SVGRawFileInfo::WillBeRemove(unsigned char*, long long)
{
    m_pOwner = m_pFallback;
}

void SVGAnalyser::SVGRawFileInfo::NameBySectors(long long sectorNumber)
{
    char name[64];
    std::snprintf(name, sizeof(name), "%lld-%lld_", m_llStartSector, sectorNumber);
    SetRawFileName(name);
}

int SVGAnalyser::SVGRawFileInfo::CloseAfter(long long end, long long sectorNumber, const SearchContext& context)
{
    const unsigned char* eol = nullptr;
    if (LocateRawRecord(context, m_llStartSector, end, 2, &eol) == RawRecordPlace::NotYet) {
        m_llPendingClose = end;
        return 2;
    }
    if (eol && eol[0] == '\r' && eol[1] == '\n')
        end += 2;
    else if (eol && (eol[0] == '\n' || eol[0] == '\r'))
        end += 1;
    m_llEndFound = end;
    m_llSize = end;
    m_bExactEnd = true;
    NameBySectors(sectorNumber);
    return 1;
}

int SVGAnalyser::SVGRawFileInfo::FollowText(const unsigned char* sector, long long sectorSize, long long sectorNumber,
                                            const SearchContext& context)
{
    if (m_iDepth < 0)
        return 2;
    if (m_llPendingClose >= 0) {
        const long long end = m_llPendingClose;
        m_llPendingClose = -1;
        return CloseAfter(end, sectorNumber, context);
    }
    static constexpr std::string_view kOpen = "<svg";
    static constexpr std::string_view kClose = "</svg>";
    const long long b = (sectorNumber - m_llStartSector) * sectorSize;
    for (long long i = 0; i < sectorSize; ++i) {
        const unsigned char c = sector[i];
        if (c == 0 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f')) {
            // No text before the root element closed: the drawing is cut or
            // damaged, and the zero-run rule decides.
            m_iDepth = -1;
            return 2;
        }
        m_strRecent.push_back(static_cast<char>(c));
        if (m_strRecent.size() > kClose.size())
            m_strRecent.erase(0, 1);
        const std::string_view recent(m_strRecent);
        // "<svg" counts once the byte after it shows it is the element's
        // whole name.
        if (recent.size() >= kOpen.size() + 1 &&
            recent.substr(recent.size() - kOpen.size() - 1, kOpen.size()) == kOpen &&
            (c == '>' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '/'))
            ++m_iDepth;
        if (recent.size() >= kClose.size() && recent.substr(recent.size() - kClose.size()) == kClose &&
            --m_iDepth <= 0)
            return CloseAfter(b + i + 1, sectorNumber, context);
    }
    return 2;
}

int SVGAnalyser::SVGRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    if (!sector || sectorSize < 4 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    const long long offset = (sectorNumber - m_llStartSector) * ss;
    const int z = static_cast<int>(std::min<unsigned int>(context.dwTrailingZero, 32));

    if (m_dwType == RAW_TYPE_GPX || m_dwType == RAW_TYPE_PLIST) {
        if (offset > m_llMaxSize) {
            m_llSize = offset;
            NameBySectors(sectorNumber);
            return 1;
        }
        if (z < 8)
            return 2;
        auto closingTags = [z](const unsigned char* data, int length) {
            return BruteForce::RawUtility::FindMagicInBuffer(data, length, z,
                                                             reinterpret_cast<const unsigned char*>("</gpx>"), 6) +
                   BruteForce::RawUtility::FindMagicInBuffer(data, length, z,
                                                             reinterpret_cast<const unsigned char*>("</plist>"), 8);
        };
        long long end = closingTags(sector, sectorSize);
        if (end == 0) {
            // A file that fills its sector to the last bytes closes in the
            // previous sector, which is searched too when it is in memory.
            const long long half = ss / 2;
            if (const unsigned char* window = context.bytes(sectorNumber, -half, half + ss)) {
                const int found = closingTags(window, static_cast<int>(half + ss));
                if (found)
                    end = found - half;
            }
        }
        m_llSize = offset + (end ? end : sectorSize) + 3;
        NameBySectors(sectorNumber);
        return 1;
    }

    if (sectorNumber == m_llStartSector && std::memcmp(sector, kBinaryHead, 4) == 0)
        m_bBinary = true;
    if (m_bBinary) {
        // The compressed form's length field lies at a fixed place.
        if (offset > kBinaryLengthAt || offset + ss < kBinaryLengthAt + 4)
            return 2;
        const long long size = kBinaryHeader + RawReadLE32(sector + (kBinaryLengthAt - offset));
        if (size > m_llMaxSize)
            return 2;
        m_llSize = size;
        NameBySectors(sectorNumber);
        return 1;
    }

    if (FollowText(sector, ss, sectorNumber, context) == 1)
        return 1;
    if (offset >= m_llMaxSize) {
        m_llSize = m_llMaxSize;
        NameBySectors(sectorNumber);
        return 1;
    }
    if (sector[ss - 2] != 0 || sector[ss - 1] != 0)
        return 2;
    const unsigned char kClose[] = {'<', '/'};
    bool closed = BruteForce::RawUtility::FindMagicInBuffer(sector, sectorSize, 0, kClose, 2) != 0;
    if (!closed) {
        // A closing tag may end in the previous sector.
        const long long half = ss / 2;
        if (const unsigned char* window = context.bytes(sectorNumber, -half, half + ss))
            closed = BruteForce::RawUtility::FindMagicInBuffer(window, static_cast<int>(half + ss), 0, kClose, 2) != 0;
    }
    if (!closed)
        return 2;
    m_llEndFound = offset + BruteForce::RawUtility::Binary_Compare(sector, sectorSize) + 2;
    m_llSize = m_llEndFound;
    NameBySectors(sectorNumber);
    return 1;
}

}  // namespace Brance
