#include "MovAnalyser.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "RawRecordAccess.h"

IRawFileAnalyser* CreateMovAnalyzer(unsigned int)
{
    return new BruteForce::MovAnalyzer;
}

IRawFileAnalyser* CreateMp4Analyzer(unsigned int)
{
    return new BruteForce::Mp4Analyzer;
}

IRawFileAnalyser* CreateC3GPAnalyser(unsigned int)
{
    return new BruteForce::C3GPAnalyser;
}

namespace {

// The brand lists: sector bytes 4 and on, compared without regard to case.
const char* const kMovExcluded[] = {"ftypisom", "ftyp3gp4", "ftyp3g2a", "ftypmmp4", "ftypM4A ",
                                    "ftypM4V ", "ftypmp41", "ftypmp42", ""};
const char* const kMp4Brands[] = {"ftypisom", "ftypmmp4", "ftypM4A", "ftypM4V", "ftypmp4", ""};
const char* const k3gpBrands[] = {"ftyp3g2a", "ftyp3gp", "ftypmmp4", ""};
const char* const kFileMp4Brands[] = {"ftypisom", "ftypmp41", "ftypmp42", "ftypM4A ", "ftypM4V ", ""};

bool SameNoCase(const unsigned char* bytes, std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i)
        if (std::tolower(bytes[i]) != std::tolower(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// The first entry of list that bytes begin with, or null.
const char* MatchBrand(const unsigned char* bytes, const char* const* list)
{
    for (; **list; ++list)
        if (SameNoCase(bytes, *list))
            return *list;
    return nullptr;
}

bool IsFtyp(const unsigned char* sector)
{
    return std::memcmp(sector + 4, "ftyp", 4) == 0;
}

bool ContainsNoCase(std::string_view text, std::string_view what)
{
    if (what.size() > text.size())
        return false;
    for (size_t i = 0; i + what.size() <= text.size(); ++i)
        if (SameNoCase(reinterpret_cast<const unsigned char*>(text.data()) + i, what))
            return true;
    return false;
}

unsigned int ResolveMp4(const unsigned char* sector)
{
    return SameNoCase(sector + 28, "free") ? BruteForce::MovAnalyzer::kTypeTrec : BruteForce::MovAnalyzer::kTypeMp4;
}

// The box types the walk steps over.
bool IsWalkedBox(const unsigned char* type)
{
    static const char kTypes[][5] = {"wide", "uuid", "udta", "trak", "skip", "pnot", "pdin", "free", "ftyp", "meoc",
                                     "meta", "mfra", "mvhd", "moof", "moov", "mvex", "mdat", "TSCM", "TSCR"};
    for (const char* known : kTypes)
        if (std::memcmp(type, known, 4) == 0)
            return true;
    return false;
}

}  // namespace

// ---- device sizer -------------------------------------------------------------

int FileMP4Analyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    return m_boxWalker.GetFileSize(info, device) ? 1 : 0;
}

int FileMP4Analyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    const char* brand = MatchBrand(sector + 4, kFileMp4Brands);
    if (!brand)
        return 0;
    if (SameNoCase(sector + 4, "ftypM4A "))
        info.m_dwType = BruteForce::MovAnalyzer::kTypeM4a;
    else if (SameNoCase(sector + 4, "ftypM4V "))
        info.m_dwType = BruteForce::MovAnalyzer::kTypeM4v;
    else
        info.m_dwType = BruteForce::MovAnalyzer::kTypeMp4;
    return 1;
}

namespace BruteForce {

// ---- probes ---------------------------------------------------------------------

unsigned int MovAnalyzer::getTypeByMajorBrand(const unsigned char* sector)
{
    const unsigned char* brand = sector + 8;
    if (std::memcmp(brand, "qt  ", 4) == 0)
        return kTypeMov;
    if (brand[0] == '3' && brand[1] == 'g' && std::strchr("2eps", brand[2]) && brand[2])
        return kType3gp;
    if (std::memcmp(brand, "KDDI", 4) == 0)
        return kType3gp;
    if (SameNoCase(brand, "M4A"))
        return kTypeM4a;
    if (SameNoCase(brand, "M4V"))
        return kTypeM4v;
    // Still pictures in the same boxes.
    for (const char* heic : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"})
        if (std::memcmp(brand, heic, 4) == 0)
            return kTypeHeic;
    if (std::memcmp(brand, "avif", 4) == 0 || std::memcmp(brand, "avis", 4) == 0)
        return kTypeAvif;

    bool iso = SameNoCase(brand, "iso2") || SameNoCase(brand, "isom");
    bool mp4 = SameNoCase(brand, "mp4");
    if (iso || mp4) {
        const unsigned int fallback = iso ? kTypeMov : 0;
        const uint32_t boxSize = RawReadBE32(sector);
        // Only a short brand list is read (the box lies in the sector).
        if (boxSize < 16 || boxSize - 16 >= 320)
            return iso ? kTypeMov : kTypeMp4;
        const size_t count = (boxSize - 16) / 4;
        std::string_view all(reinterpret_cast<const char*>(sector + 16), count * 4);
        std::string_view text = all.substr(0, std::min(all.find('\0'), all.size()));
        if (ContainsNoCase(text, "M4A"))
            return kTypeM4a;
        if (ContainsNoCase(text, "M4V"))
            return kTypeM4v;
        if (ContainsNoCase(text, "avc1"))
            return ResolveMp4(sector);
        if (ContainsNoCase(text, "mp41"))
            return text.size() == 4 ? kTypeM4a : ResolveMp4(sector);
        return fallback ? fallback : ResolveMp4(sector);
    }

    const bool f4 = brand[0] == 'F' && brand[1] == '4' && std::strchr("ABNV", brand[2]) && brand[2];
    const bool nds = brand[0] == 'N' && brand[1] == 'D' &&
                     (brand[2] == 'A' || ((brand[2] == 'S' || brand[2] == 'X') && brand[3] && std::strchr("CHMPS", brand[3])));
    if (f4 || nds || std::memcmp(brand, "MSNV", 4) == 0 || std::memcmp(brand, "msnv", 4) == 0 ||
        std::memcmp(brand, "mmp4", 4) == 0 || std::memcmp(brand, "avc1", 4) == 0)
        return ResolveMp4(sector);
    return 0;
}

int MovAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    // Every sector comes here: the cheap test first.
    if (!sector || !IsFtyp(sector))
        return 0;
    const uint32_t boxSize = RawReadBE32(sector);
    if (boxSize < 16 || boxSize > 83)
        return 0;
    if (unsigned int type = getTypeByMajorBrand(sector)) {
        info.m_dwType = type;
        return 1;
    }
    if (MatchBrand(sector + 4, kMovExcluded))
        return 0;
    info.m_dwType = kTypeMov;
    return 1;
}

CRawFileInfo* MovAnalyzer::CreateRawFileInfo()
{
    return new MovRawFileInfo(kTypeMov, nullptr);
}

Mp4Analyzer::Mp4Analyzer() : IRawFileAnalyser(MovAnalyzer::kTypeMp4), m_pFileAnalyser(std::make_unique<FileMP4Analyser>())
{
}

Mp4Analyzer::~Mp4Analyzer() = default;

int Mp4Analyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !IsFtyp(sector))
        return 0;
    const char* brand = MatchBrand(sector + 4, kMp4Brands);
    if (!brand)
        return 0;
    std::string_view entry(brand);
    if (ContainsNoCase(entry, "M4A"))
        info.m_dwType = MovAnalyzer::kTypeM4a;
    else if (ContainsNoCase(entry, "M4V"))
        info.m_dwType = MovAnalyzer::kTypeM4v;
    else
        info.m_dwType = ResolveMp4(sector);
    return 1;
}

CRawFileInfo* Mp4Analyzer::CreateRawFileInfo()
{
    return new MovAnalyzer::MovRawFileInfo(MovAnalyzer::kTypeMp4, m_pFileAnalyser.get());
}

int C3GPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !IsFtyp(sector) || !MatchBrand(sector + 4, k3gpBrands))
        return 0;
    info.m_dwType = kType3gp;
    info.m_llSize = 0;
    return 1;
}

CRawFileInfo* C3GPAnalyser::CreateRawFileInfo()
{
    return new MovRawFileInfo(kType3gp, nullptr);
}

// ---- box walk -------------------------------------------------------------------

void MovAnalyzer::MovRawFileInfo::WillBeRemove(unsigned char*, long long sectorNumber)
{
    endSearch(sectorNumber, nullptr);
    m_pOwner = m_pSizer;
}

int MovAnalyzer::MovRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    if (!sector || sectorSize <= 0)
        return 2;
    m_u64SectorSize = static_cast<unsigned long long>(sectorSize);
    const long long ss = sectorSize;
    if (m_llStartSector > sectorNumber && m_llBoxOffset > 0) {
        endSearch(sectorNumber, &context);
        return 1;
    }
    const long long relative = sectorNumber - m_llStartSector;
    if (relative < m_llBoxOffset / ss)
        return 2;
    if (m_llBoxOffset == 0 && std::memcmp(sector + 8, "iso", 3) == 0)
        m_dwIso = 1;

    // Boxes whose headers begin in this sector; each step moves at least 8
    // bytes, so the loop ends with the sector.
    const long long sectorEnd = (relative + 1) * ss;
    while (m_llBoxOffset < sectorEnd) {
        const unsigned char* box = nullptr;
        const RawRecordPlace place = LocateRawRecord(context, m_llStartSector, m_llBoxOffset, 8, &box);
        if (place == RawRecordPlace::NotYet)
            return 2;
        if (place == RawRecordPlace::Gone)
            break;
        const uint32_t size32 = RawReadBE32(box);
        if (size32 < 8 && size32 != 1)
            break;
        const unsigned char* type = box + 4;
        if (!IsWalkedBox(type))
            break;
        long long size = size32;
        const bool large = std::memcmp(type, "mdat", 4) == 0 || std::memcmp(type, "TSCM", 4) == 0 ||
                           std::memcmp(type, "TSCR", 4) == 0;
        // A 64-bit size only counts for the media boxes; elsewhere a size of
        // 1 cannot be a box and ends the file.
        if (!large && size32 == 1)
            break;
        if (large && size32 == 1) {
            const unsigned char* wide = nullptr;
            const RawRecordPlace widePlace = LocateRawRecord(context, m_llStartSector, m_llBoxOffset, 16, &wide);
            if (widePlace == RawRecordPlace::NotYet)
                return 2;
            if (widePlace == RawRecordPlace::Gone)
                break;
            const uint64_t size64 = (static_cast<uint64_t>(RawReadBE32(wide + 8)) << 32) | RawReadBE32(wide + 12);
            if (size64 < 1 || size64 > static_cast<uint64_t>(std::numeric_limits<long long>::max()))
                break;
            size = static_cast<long long>(size64);
        }
        // A sum past the offset range ends the file.
        if (size > std::numeric_limits<long long>::max() - m_llBoxOffset)
            break;
        if (std::memcmp(type, "ftyp", 4) == 0 && m_dwBoxCount > 1)
            break;
        if (std::memcmp(type, "moov", 4) == 0) {
            ++m_dwMoovCount;
            GetMovTagInfo(m_llBoxOffset, context);
        }
        ++m_dwBoxCount;
        m_llBoxOffset += size;
    }
    if (m_llBoxOffset >= sectorEnd)
        return 2;
    endSearch(sectorNumber, &context);
    return 1;
}

void MovAnalyzer::MovRawFileInfo::endSearch(long long sectorNumber, const SearchContext* context)
{
    if (m_dwBoxCount <= 1) {
        m_llSize = 0;
        return;
    }
    if (m_dwType == kTypeMov && m_dwMoovCount == 1 && m_dwIso)
        m_dwType = kTypeMp4;
    else if (m_strCameraMake.empty() && context)
        getCameraMakeName(sectorNumber, *context);
    if (!m_strCameraModel.empty())
        SetRawFileName(m_strCameraModel);
    if (m_strCameraModel.empty() && m_strCameraMake.empty())
        SetRawFileTagAndValue(RAW_TAG_NONE, std::string());
    m_llSize = m_llBoxOffset;
}

}  // namespace BruteForce
