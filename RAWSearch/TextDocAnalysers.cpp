#include "TextDocAnalysers.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawUtility.h"
#include "SearchSignFileAnalyser.h"

IRawFileAnalyser* CreateRTFAnalyser(unsigned int)
{
    return new RawSpeed::RTFAnalyser;
}

IRawFileAnalyser* CreateHTMLAnalyser(unsigned int)
{
    return new RawSpeed::HTMLAnalyser;
}

IRawFileAnalyser* CreateUnicodeHTMAnalyser(unsigned int)
{
    return new FileUnicodeHTMAnalyser;
}

IRawFileAnalyser* CreateOneAnalyser(unsigned int)
{
    return new RawSpeed::OneAnalyser;
}

IRawFileAnalyser* CreateLowDocAnalyser(unsigned int)
{
    return new FileLowDocAnalyser;
}

namespace {

constexpr unsigned char kOneIdentifier[16] = {0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D,
                                              0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};
// A OneNote section header reaches to its length field at 196.
constexpr long long kOneHeaderBytes = 204;

bool EqualsNoCase(const unsigned char* p, const char* text)
{
    for (size_t i = 0; text[i]; ++i)
        if (std::tolower(p[i]) != std::tolower(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// The UTF-16LE characters at p equal the ASCII text, letters in either case.
bool WideEqualsNoCase(const unsigned char* p, const char* text)
{
    for (size_t i = 0; text[i]; ++i) {
        const uint16_t c = RawReadLE16(p + 2 * i);
        if (c > 0x7F || std::tolower(static_cast<int>(c)) != std::tolower(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

bool IsWideHtmlStart(const unsigned char* s)
{
    return s[0] == 0xFF && s[1] == 0xFE && s[2] == 0x3C && s[3] == 0x00;
}

uint64_t ReadLE64(const unsigned char* p)
{
    return static_cast<uint64_t>(RawReadLE32(p)) | (static_cast<uint64_t>(RawReadLE32(p + 4)) << 32);
}

void SetPositionName(CRawFileInfo& info, long long endSector)
{
    char name[64];
    std::snprintf(name, sizeof(name), "%lld-%lld_", info.m_llStartSector, endSector);
    info.SetRawFileName(name);
}

}  // namespace

// ---- RTF ----------------------------------------------------------------------------

int FileRTFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || sector[4] != 'f')
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FileRTFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device || info.m_llStartSector < 0)
        return 0;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_llStartSector));
    long long depth = 1;
    bool closed = false;
    // The window holds at least 512 bytes from any offset.
    const unsigned char* chunk = nullptr;
    long long chunkStart = -1;
    for (long long offset = 6; offset < kMaxWalk; ++offset) {
        if (chunkStart < 0 || offset - chunkStart >= 512) {
            chunk = buffer.GetRawFileBuffer(static_cast<unsigned long long>(offset));
            if (!chunk)
                return 0;
            chunkStart = offset;
        }
        const unsigned char c = chunk[offset - chunkStart];
        if (closed) {
            // A group opening right after the close belongs to the file.
            if (c != '{') {
                info.m_llSize = offset;
                return 1;
            }
            closed = false;
        }
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth == 0)
                closed = true;
        } else if (c == 0) {
            info.m_llSize = offset;
            return 0;
        }
    }
    info.m_llSize = kMaxWalk + 1;
    return 1;
}

// ---- HTML ---------------------------------------------------------------------------

namespace {

bool IsHtmlStart(const unsigned char* s)
{
    return EqualsNoCase(s, "<HTML") || EqualsNoCase(s, "<!DOCTYPE HTML");
}

}  // namespace

int FileHTMAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !IsHtmlStart(sector))
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FileHTMAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device)
        return 0;
    SearchSignCodeInfo sign;
    std::memcpy(sign.szSignCode, "</html>", 7);
    sign.dwSignCodeLength = 7;
    sign.u64MaxFileSize = kMaxSearch;
    SearchSignFileAnalyser search;
    const int rc = search.SearchEndSignCode(info, device, sign, 0);
    const long long ss = device->GetSectorSize() ? device->GetSectorSize() : 512;
    info.m_llSize = (info.m_llSize + ss - 1) / ss * ss;
    return rc;
}

int FileUnicodeHTMAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !IsWideHtmlStart(sector))
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FileUnicodeHTMAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device || info.m_llStartSector < 0)
        return 0;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_llStartSector));
    const unsigned char* head = buffer.GetRawFileBuffer(0);
    if (!head)
        return 0;
    // "<html>" at once, or "<!" (a doctype) and "<html>" further on.
    if (!WideEqualsNoCase(head + 2, "<html>") && RawReadLE16(head + 4) != '!')
        return 0;
    bool found = false;
    for (int at = 2; at <= 498 && !found; at += 2)
        found = WideEqualsNoCase(head + at, "<html>");
    if (!found)
        return 0;
    // 14 bytes of look-ahead are read at each step: re-fetch the window
    // every 256 bytes so they always lie inside it.
    const unsigned char* chunk = nullptr;
    long long chunkStart = -1;
    for (long long offset = 14;; offset += 2) {
        if (offset > kMaxScan) {
            info.m_llSize = offset;
            return 1;
        }
        if (chunkStart < 0 || offset - chunkStart >= 256) {
            chunk = buffer.GetRawFileBuffer(static_cast<unsigned long long>(offset));
            if (!chunk)
                return 0;
            chunkStart = offset;
        }
        const unsigned char* p = chunk + (offset - chunkStart);
        const uint16_t c = RawReadLE16(p);
        if (c == 0x0000 || c == 0xFFFF || c == 0xFEFF) {
            info.m_llSize = offset;
            return 1;
        }
        if (WideEqualsNoCase(p, "</html>")) {
            info.m_llSize = offset + 16;
            return 1;
        }
    }
}

// ---- OneNote --------------------------------------------------------------------------

long long FileONEAnalyser::SectionFileLength(const unsigned char* header)
{
    const uint64_t length = ReadLE64(header + 196);
    return static_cast<long long>(length ? length : ReadLE64(header + 100));
}

bool FileONEAnalyser::HasSectionIdentifier(const unsigned char* p)
{
    return std::memcmp(p + 4, kOneIdentifier + 4, 12) == 0;
}

int FileONEAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !HasSectionIdentifier(sector))
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FileONEAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device || info.m_llStartSector < 0)
        return 0;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_llStartSector));
    long long offset = 0;
    while (offset < kMaxSize + 1) {
        const unsigned char* header = buffer.GetRawFileBuffer(static_cast<unsigned long long>(offset));
        // The window holds at least a sector from offset: the header's
        // length fields need 204 bytes.
        if (!header || !HasSectionIdentifier(header))
            break;
        const uint64_t at196 = ReadLE64(header + 196);
        uint64_t length = at196;
        if (at196 >= static_cast<uint64_t>(kMaxSize) + 1) {
            offset = kMaxSize;
            break;
        }
        if (at196 == 0) {
            length = ReadLE64(header + 100);
            if (length == 0 || length > static_cast<uint64_t>(kMaxSize)) {
                offset = kMaxSize;
                break;
            }
        }
        offset += static_cast<long long>(length);
    }
    info.m_llSize = offset;
    return 1;
}

// ---- early Word ------------------------------------------------------------------------

int FileLowDocAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    static const unsigned char kCompound[4] = {0xD0, 0xCF, 0x11, 0xE0};
    if (std::memcmp(sector, kCompound, 4) == 0) {
        info.m_llSize = static_cast<long long>(RawReadLE32(sector + 0x30)) * 512 + 2560;
    } else {
        const long long text = static_cast<long long>(RawReadLE32(sector + 0x124)) + RawReadLE16(sector + 0x128);
        info.m_llSize = (text + 511) / 512 * 512;
    }
    info.m_dwType = kType;
    return 1;
}

// ---- streaming ----------------------------------------------------------------------------

namespace RawSpeed {

int ZeroTailTextFileInfo::CloseAfter(long long last, const SearchContext& context)
{
    const long long ss = context.dwSectorSize ? context.dwSectorSize : 512;
    const unsigned char* eol = nullptr;
    const RawRecordPlace place = LocateRawRecord(context, m_llStartSector, last + 1, 2, &eol);
    if (place == RawRecordPlace::NotYet) {
        m_llPendingClose = last;
        return 2;
    }
    long long end = last + 1;
    if (eol && eol[0] == '\r' && eol[1] == '\n')
        end += 2;
    else if (eol && (eol[0] == '\n' || eol[0] == '\r'))
        end += 1;
    SetPositionName(*this, m_llStartSector + (end - 1) / ss);
    m_llSize = end;
    m_bExactEnd = true;
    return 1;
}

int ZeroTailTextFileInfo::FollowText(const unsigned char* sector, long long sectorSize, long long sectorNumber,
                                     const SearchContext& context)
{
    if (m_eTextEnd == kNoTextEnd || m_bWide)
        return 2;
    if (m_llPendingClose >= 0) {
        const long long last = m_llPendingClose;
        m_llPendingClose = -1;
        return CloseAfter(last, context);
    }
    static constexpr char kTag[] = "</html>";
    const long long b = (sectorNumber - m_llStartSector) * sectorSize;
    for (long long i = 0; i < sectorSize; ++i) {
        const unsigned char c = sector[i];
        if (c == 0 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f')) {
            // Not text: the file ended before this byte.
            m_eTextEnd = kNoTextEnd;
            SetPositionName(*this, sectorNumber);
            m_llSize = b + i;
            return 1;
        }
        if (m_eTextEnd == kBraceEnd) {
            if (m_bEscape) {
                m_bEscape = false;
                continue;
            }
            if (c == '\\')
                m_bEscape = true;
            else if (c == '{')
                ++m_iDepth;
            else if (c == '}' && --m_iDepth <= 0)
                return CloseAfter(b + i, context);
            continue;
        }
        const unsigned char lower = c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
        if (lower == static_cast<unsigned char>(kTag[m_iTagMatch])) {
            if (++m_iTagMatch == sizeof(kTag) - 1)
                return CloseAfter(b + i, context);
        } else {
            m_iTagMatch = lower == '<' ? 1 : 0;
        }
    }
    return 2;
}

int ZeroTailTextFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                      SearchContext& context)
{
    if (!sector || sectorSize <= 0 || sectorNumber < m_llStartSector)
        return 2;
    if (FollowText(sector, sectorSize, sectorNumber, context) == 1)
        return 1;
    const long long b = (sectorNumber - m_llStartSector) * sectorSize;
    if (b > m_llLimit) {
        SetPositionName(*this, sectorNumber);
        m_llSize = b;
        return 1;
    }
    if (context.dwTrailingZero < 8 || b < m_llMinimum + m_llSecond)
        return 2;
    long long k = BruteForce::RawUtility::Binary_Compare(sector, sectorSize);
    if (m_bWide && (k & 1))
        ++k;  // the last character's high byte is zero
    SetPositionName(*this, sectorNumber);
    m_llSize = b + k + m_iExtra;
    return 1;
}

int RTFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    return m_Fallback.AnalyseBuffer(sector, info);
}

CRawFileInfo* RTFAnalyser::CreateRawFileInfo()
{
    return new RTFRawFileInfo(&m_Fallback);
}

int RTFAnalyser::RTFRawFileInfo::Binary_Compare(const unsigned char* sector, int length)
{
    return BruteForce::RawUtility::Binary_Compare(sector, length);
}

int HTMLAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    const bool wide = IsWideHtmlStart(sector) && (WideEqualsNoCase(sector + 2, "<html>") || RawReadLE16(sector + 4) == '!');
    if (!IsHtmlStart(sector) && !wide)
        return 0;
    info.m_dwType = FileHTMAnalyser::kType;
    return 1;
}

CRawFileInfo* HTMLAnalyser::CreateRawFileInfo()
{
    return new HTMLRawFileInfo(&m_Fallback, &m_WideFallback);
}

int HTMLAnalyser::HTMLRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                               SearchContext& context)
{
    if (sector && sectorNumber == m_llStartSector)
        m_bWide = IsWideHtmlStart(sector);
    return ZeroTailTextFileInfo::CalcRawSize(sector, sectorSize, sectorNumber, context);
}

int OneAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    return m_Fallback.AnalyseBuffer(sector, info);
}

CRawFileInfo* OneAnalyser::CreateRawFileInfo()
{
    return new ONERawFileInfo(&m_Fallback);
}

int OneAnalyser::ONERawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    if (!sector || sectorSize <= 0 || sectorNumber < m_llStartSector)
        return 2;
    if (m_bFirstCall) {
        m_bFirstCall = false;
        if (sectorNumber == m_llStartSector)
            m_llEnd = FileONEAnalyser::SectionFileLength(sector);
    }
    const long long ss = sectorSize;
    const long long b = (sectorNumber - m_llStartSector) * ss;
    if (b > m_llLimit)
        return 1;  // no size: the owner sizes it
    for (;;) {
        if (m_llEnd <= b || m_llEnd > b + ss)
            return 2;
        if (context.llBlockEnd - sectorNumber < 3)
            return 2;
        const unsigned char* next = nullptr;
        if (LocateRawRecord(context, m_llStartSector, m_llEnd, kOneHeaderBytes, &next) != RawRecordPlace::InMemory)
            return 2;
        const long long length = FileONEAnalyser::SectionFileLength(next);
        // Another section follows only where its header says it has a
        // length; one of zero length cannot be chained.
        if (!FileONEAnalyser::HasSectionIdentifier(next) || length == 0) {
            SetPositionName(*this, sectorNumber);
            m_llSize = m_llEnd;
            return 1;
        }
        if (length < 0 || length > m_llLimit || m_llEnd + length > m_llLimit)
            return 2;
        m_llEnd += length;
    }
}

}  // namespace RawSpeed
