#include "PdfAnalyzer.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "RawRecordAccess.h"
#include "RawUtility.h"

namespace {

constexpr std::string_view kPsHead = "%!PS-Adobe";
constexpr std::string_view kIllustrator = "Adobe Illustrator";
constexpr unsigned char kEof[] = {'%', '%', 'E', 'O', 'F'};

bool Contains(std::string_view hay, std::string_view needle)
{
    return hay.find(needle) != std::string_view::npos;
}

}  // namespace

bool IsPdfOrIllustratorHead(const unsigned char* head, size_t headLength)
{
    if (!head || headLength < kPsHead.size())
        return false;
    if (std::memcmp(head, "%PDF-", 5) == 0)
        return true;
    if (std::memcmp(head, kPsHead.data(), kPsHead.size()) != 0)
        return false;
    // Encapsulated PostScript belongs to the EPS analyser, even when an
    // Illustrator wrote it.
    const std::string_view text(reinterpret_cast<const char*>(head), headLength);
    return !Contains(text, " EPSF-") && Contains(text, kIllustrator);
}

IRawFileAnalyser* CreatePdfAnalyzer(unsigned int)
{
    return new BruteForce::PdfAnalyzer;
}

namespace BruteForce {

int PdfAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    // The head is read as a string: it ends at the first NUL of 512 bytes.
    const auto* nul = static_cast<const unsigned char*>(std::memchr(sector, 0, 512));
    const size_t length = nul ? static_cast<size_t>(nul - sector) : 512;
    if (std::memcmp(sector, "%PDF-", 5) != 0 && !IsPdfOrIllustratorHead(sector, length))
        return 0;
    info.m_dwType = FilePDFAnalyser::kTypePdf;
    return 1;
}

CRawFileInfo* PdfAnalyzer::CreateRawFileInfo()
{
    return new PdfRawFileInfo(&m_Fallback);
}

void PdfAnalyzer::PdfRawFileInfo::WillBeRemove(unsigned char*, long long sectorNumber)
{
    if (m_llUpdateEnd > 0 && m_llSize == 0) {
        // Its last update's end is where it ends.
        PdfTagDealwith(m_Property, sectorNumber);
        m_llSize = m_llUpdateEnd;
        m_bExactEnd = true;
        return;
    }
    m_pOwner = m_pFallback;
}

long long PdfAnalyzer::PdfRawFileInfo::UpdateEndAt(const SearchContext& context, long long eof, bool& more) const
{
    more = false;
    // "startxref", the offset, then "%%EOF": within a few bytes before it.
    constexpr long long kBack = 48;
    const long long from = std::max(0LL, eof - kBack);
    const unsigned char* before = nullptr;
    if (LocateRawRecord(context, m_llStartSector, from, eof - from, &before) != RawRecordPlace::InMemory)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(before), static_cast<size_t>(eof - from));
    const size_t mark = text.rfind("startxref");
    if (mark == std::string_view::npos)
        return 0;
    size_t i = mark + 9;
    while (i < text.size() && (text[i] == '\r' || text[i] == '\n' || text[i] == ' '))
        ++i;
    long long xref = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 15) {
        xref = xref * 10 + (text[i] - '0');
        ++i;
        ++digits;
    }
    while (i < text.size() && (text[i] == '\r' || text[i] == '\n' || text[i] == ' '))
        ++i;
    if (digits == 0 || i != text.size() || xref <= 0 || xref >= eof)
        return 0;
    // The end of line after the mark, then a look at what follows.
    constexpr long long kAfter = 5 + 2 + 16;
    const unsigned char* after = nullptr;
    const RawRecordPlace place = LocateRawRecord(context, m_llStartSector, eof, kAfter, &after);
    if (place == RawRecordPlace::NotYet)
        return -1;
    if (place != RawRecordPlace::InMemory)
        return 0;
    long long end = eof + 5;
    if (after[5] == '\r' && after[6] == '\n')
        end += 2;
    else if (after[5] == '\r' || after[5] == '\n')
        end += 1;
    // An incremental update goes on with objects, a cross-reference
    // section or a comment.
    const unsigned char* next = after + (end - eof);
    const size_t left = static_cast<size_t>(kAfter - (end - eof));
    size_t k = 0;
    while (k < left && (next[k] == ' ' || next[k] == '\r' || next[k] == '\n'))
        ++k;
    const std::string_view rest(reinterpret_cast<const char*>(next + k), left - k);
    more = (k < left && next[k] >= '1' && next[k] <= '9' && rest.find(" 0 obj") != std::string_view::npos) ||
           rest.rfind("xref", 0) == 0 || (k < left && next[k] == '%' && rest.rfind("%%EOF", 0) != 0);
    return end;
}

int PdfAnalyzer::PdfRawFileInfo::FollowUpdates(const SearchContext& context, long long sectorNumber,
                                               long long sectorSize)
{
    const long long offset = (sectorNumber - m_llStartSector) * sectorSize;
    const long long limit = offset + sectorSize;
    long long at = m_llPendingEof >= 0 ? m_llPendingEof : std::max(m_llEofSearched + 1, offset - 4);
    m_llPendingEof = -1;
    for (int guard = 0; guard < 4096 && at + 5 <= limit; ++guard) {
        const long long span = limit - at;
        const unsigned char* p = nullptr;
        if (span < 5 || LocateRawRecord(context, m_llStartSector, at, span, &p) != RawRecordPlace::InMemory)
            break;
        const std::string_view bytes(reinterpret_cast<const char*>(p), static_cast<size_t>(span));
        const size_t found = bytes.find("%%EOF");
        if (found == std::string_view::npos)
            break;
        const long long eof = at + static_cast<long long>(found);
        bool more = false;
        const long long end = UpdateEndAt(context, eof, more);
        if (end < 0) {
            m_llPendingEof = eof;
            return 2;
        }
        m_llEofSearched = eof;
        at = eof + 1;
        if (end == 0)
            continue;
        m_llUpdateEnd = end;
        if (!more) {
            PdfTagDealwith(m_Property, sectorNumber);
            m_llSize = end;
            m_bExactEnd = true;
            return 1;
        }
    }
    m_llEofSearched = std::max(m_llEofSearched, limit - 5);
    return 2;
}

void PdfAnalyzer::PdfRawFileInfo::JudgeAI(const unsigned char* data, int length)
{
    if (!data || length <= 0)
        return;
    const size_t copied = std::min<size_t>(static_cast<size_t>(length), 4095);
    if (copied < kPsHead.size())
        return;
    // The copy is read as a string: nothing after its first NUL counts.
    const std::string_view all(reinterpret_cast<const char*>(data), copied);
    for (size_t pos = 0; pos + kPsHead.size() <= copied; ++pos) {
        if (all.compare(pos, kPsHead.size(), kPsHead) != 0)
            continue;
        std::string_view rest = all.substr(pos);
        rest = rest.substr(0, rest.find('\0'));
        if (Contains(rest, kIllustrator))
            m_dwType = FilePDFAnalyser::kTypeAi;
        return;
    }
}

void PdfAnalyzer::PdfRawFileInfo::PdfTagDealwith(FileProperty property, long long)
{
    std::string tagValue;
    if (!m_bMetadataPending) {
        if (!property.strAuthor.empty())
            tagValue = property.strAuthor;
        else if (!property.strCreator.empty())
            tagValue = property.strCreator;
        else if (!property.strProducer.empty())
            tagValue = property.strProducer;
        else
            tagValue = "unknown";
    } else {
        tagValue = m_strName;
    }

    std::string name;
    for (const std::string* field : {&property.strTitle, &property.strAuthor, &property.strCreator,
                                     &property.strProducer}) {
        if (!field->empty()) {
            name = *field + property.strModificationDate;
            break;
        }
    }
    if (name.empty())
        name = property.strCreationDate;
    SetRawFileName(name);

    if (!m_bMetadataPending && (!name.empty() || !property.strCreationDate.empty()))
        SetRawFileTagAndValue(m_dwType == FilePDFAnalyser::kTypePdf ? RAW_TAG_PDF : RAW_TAG_AI, tagValue);
    if (!property.strCreationDate.empty())
        m_strTime = property.strCreationDate;
}

int PdfAnalyzer::PdfRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    if (!sector || sectorSize <= 0 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    // Two sectors are examined when the next one is in memory right after
    // this one.
    const unsigned char* pair = context.bytes(sectorNumber, 0, 2 * ss);
    m_bTwoSectors = context.llBlockEnd > sectorNumber + 1 && pair == sector;

    if (m_bMetadataPending) {
        if (m_TitleAnalyzer.ObtainPerSecPDFInformation(sector, sectorSize, m_bTwoSectors, m_Property)) {
            if (m_Property.strCreator.find("Illustrator") != std::string::npos)
                m_dwType = FilePDFAnalyser::kTypeAi;
            m_bMetadataPending = false;
        }
    }
    if (m_bAICheckPending) {
        JudgeAI(sector, m_bTwoSectors ? 2 * sectorSize : sectorSize);
        m_bAICheckPending = false;
    }

    const long long offset = (sectorNumber - m_llStartSector) * ss;
    // The cross-reference offsets before each "%%EOF" tell where the file
    // ends, whatever follows it.
    if (FollowUpdates(context, sectorNumber, ss) == 1)
        return 1;
    if (offset > m_llMaxSize) {
        m_llSize = 0;
        return 1;
    }
    const int z = static_cast<int>(std::min<unsigned int>(context.dwTrailingZero, 32));
    // An end is only looked for in a sector whose tail is zero-filled.
    if (z < 4 || offset < m_llMinSize)
        return 2;

    long long end = 0;
    if (z != 32) {
        const int past = RawUtility::FindMagicInBuffer(sector, sectorSize, z - 4, kEof, sizeof(kEof));
        if (past == 0)
            return 2;
        end = past + 2;
    } else {
        // The mark may sit in the last bytes of the previous sector; the
        // backward search starts where a mark would end just before the
        // 32-byte zero tail.
        constexpr int kLookBack = 16;
        constexpr int kBack = 32 + static_cast<int>(sizeof(kEof));
        const unsigned char* window = context.bytes(sectorNumber, -kLookBack, ss + kLookBack);
        int base = kLookBack;
        if (!window) {
            // Without the previous sector in memory only this one is searched.
            window = sector;
            base = 0;
        }
        const int length = sectorSize + base;
        const int past = RawUtility::FindMagicInBuffer(window, length, kBack, kEof, sizeof(kEof));
        if (past == 0)
            return 2;
        end = past - base;
    }
    PdfTagDealwith(m_Property, sectorNumber);
    m_llSize = offset + end + 2;
    return 1;
}

}  // namespace BruteForce
