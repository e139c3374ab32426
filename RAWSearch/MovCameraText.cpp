// Camera names of a movie: the EXIF block some cameras put in the movie box,
// and the "iPhone"/"iPad" text phones leave near a movie's end.
#include <cstring>
#include <string>

#include "FileNameFilter.h"
#include "MovAnalyser.h"
#include "RawUtility.h"

std::string MovCameraText(const unsigned char* text, size_t maxLength)
{
    std::string out;
    for (size_t i = 0; i < maxLength && text[i]; ++i) {
        char c = static_cast<char>(text[i]);
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        out.push_back(c);
    }
    out = ApiStrFilterBadFileName(std::move(out));
    for (char c : out) {
        const bool fine = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
                          c == ',' || c == '-' || c == '.' || c == '@' || c == '_';
        if (!fine)
            return std::string();
    }
    return out;
}

namespace BruteForce {

namespace {

constexpr long long kMovExifWindow = 1024;
constexpr unsigned int kMaxIfdEntries = 512;
constexpr long long kTextField = 63;

const unsigned char* FindBytes(const unsigned char* haystack, long long length, const char* needle, long long size)
{
    for (long long i = 0; i + size <= length; ++i)
        if (std::memcmp(haystack + i, needle, static_cast<size_t>(size)) == 0)
            return haystack + i;
    return nullptr;
}

}  // namespace

void MovAnalyzer::MovRawFileInfo::SetMake(const std::string& make)
{
    m_strCameraMake = make;
    SetRawFileTagAndValue(RAW_TAG_MOVIE_CAMERA, make);
}

void MovAnalyzer::MovRawFileInfo::GetMovTagInfo(long long boxOffset, const SearchContext& context)
{
    const long long ss = context.dwSectorSize ? context.dwSectorSize : 512;
    if (boxOffset < 0 || m_llStartSector < 0)
        return;
    const long long boxSector = m_llStartSector + boxOffset / ss;
    const long long boxWithin = boxOffset % ss;
    const unsigned char* window = context.bytes(boxSector, boxWithin, kMovExifWindow);
    if (!window)
        return;
    const unsigned char* exif = FindBytes(window, kMovExifWindow, "Exif", 4);
    if (!exif || exif - window + 8 > kMovExifWindow)
        return;
    const unsigned char* tiff = exif + 6;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        m_bIntel = 1;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        m_bIntel = 0;
    else
        return;
    // The TIFF header's place in memory, counted from the box's sector.
    const long long tiffWithin = boxWithin + (tiff - window);
    const unsigned char* head = context.bytes(boxSector, tiffWithin, 8);
    if (!head)
        return;
    const auto ifd = static_cast<uint32_t>(RawUtility::EXIF_Get32s(head + 4, m_bIntel != 0));
    CheckIFD(boxSector, tiffWithin, ifd, context);
}

void MovAnalyzer::MovRawFileInfo::CheckIFD(long long tiffSector, long long tiffWithin, unsigned int ifdOffset,
                                           const SearchContext& context)
{
    const bool intel = m_bIntel != 0;
    // The directory must lie in memory with room after it.
    if (!context.bytes(tiffSector, tiffWithin + static_cast<long long>(ifdOffset), 100))
        return;
    const unsigned char* countBytes = context.bytes(tiffSector, tiffWithin + ifdOffset, 2);
    const unsigned int count = RawUtility::EXIF_Get16s(countBytes, intel);
    if (count < 1 || count > kMaxIfdEntries)
        return;
    const long long entriesAt = tiffWithin + static_cast<long long>(ifdOffset) + 2;
    const unsigned char* entries = context.bytes(tiffSector, entriesAt, 12LL * count);
    if (!entries)
        return;
    for (unsigned int i = 0; i < count; ++i) {
        const unsigned char* entry = entries + 12 * i;
        const unsigned int tag = RawUtility::EXIF_Get16s(entry, intel);
        if (tag != 271 && tag != 272 && tag != 306)
            continue;
        const auto valueOffset = static_cast<uint32_t>(RawUtility::EXIF_Get32s(entry + 8, intel));
        const unsigned char* value = context.bytes(tiffSector, tiffWithin + valueOffset, kTextField);
        if (!value)
            continue;
        if (tag == 306) {
            const size_t length = strnlen(reinterpret_cast<const char*>(value), kTextField);
            if (length >= 10 && length <= 40)
                m_strTime.assign(reinterpret_cast<const char*>(value), length);
            continue;
        }
        std::string text = MovCameraText(value, kTextField);
        if (text.empty())
            continue;
        if (tag == 271) {
            SetMake(text);
        } else if (m_strCameraMake.empty()) {
            SetMake(text);
            m_strCameraModel.clear();
        } else {
            m_strCameraModel = text;
        }
    }
}

void MovAnalyzer::MovRawFileInfo::getCameraMakeName(long long sectorNumber, const SearchContext& context)
{
    if (sectorNumber - 2 < context.llLookBackStart)
        return;
    const unsigned char* window = context.bytes(sectorNumber, -16, 512);
    long long length = 512;
    if (!window)
        return;
    if (FindBytes(window, length, "trex", 4) && sectorNumber - 3 >= context.llLookBackStart) {
        window = context.bytes(sectorNumber, -1298, 1024);
        length = 1024;
        if (!window)
            return;
    }
    for (long long i = 0; i < length; ++i) {
        const unsigned char* at = window + i;
        const bool phone = i + 7 <= length && std::memcmp(at, "iPhone ", 7) == 0;
        const bool pad = i + 5 <= length && std::memcmp(at, "iPad ", 5) == 0;
        if (!phone && !pad)
            continue;
        // The 20 bytes from the match, as far as memory holds them.
        unsigned char text[21] = {};
        const long long take = std::min<long long>(20, length - i);
        std::memcpy(text, at, static_cast<size_t>(take));
        std::string make = MovCameraText(text, 20);
        if (!make.empty())
            SetMake(make);
        return;
    }
}

}  // namespace BruteForce
