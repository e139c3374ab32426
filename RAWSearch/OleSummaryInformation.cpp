#include "OleSummaryInformation.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "DocCharset.h"
#include "RawRecordAccess.h"

namespace {

// F29F85E0-4FF9-1068-AB91-08002B27B3D9 as stored.
constexpr unsigned char kSummaryFormatID[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                                0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

constexpr uint32_t kTypeI4 = 2;
constexpr uint32_t kTypeString = 30;
constexpr uint32_t kTypeWideString = 31;
constexpr uint32_t kTypeFileTime = 64;
constexpr uint32_t kMaxValueBytes = 1024;
constexpr int kMaxEntryIndex = 30;

constexpr uint32_t kPidTitle = 2;
constexpr uint32_t kPidAuthor = 4;
constexpr uint32_t kPidLastAuthor = 8;
constexpr uint32_t kPidCreated = 12;
constexpr uint32_t kPidLastSaved = 13;

uint64_t ReadLE64(const unsigned char* p)
{
    return static_cast<uint64_t>(RawReadLE32(p)) | (static_cast<uint64_t>(RawReadLE32(p + 4)) << 32);
}

// Local date and time of a FILETIME, "Y-MM-DD-hh-mm-ss".
std::string FileTimeText(uint64_t fileTime)
{
    if (fileTime == 0)
        return std::string();
    constexpr uint64_t kUnitsPerSecond = 10000000ULL;
    constexpr long long kSecondsFrom1601To1970 = 11644473600LL;
    const long long seconds = static_cast<long long>(fileTime / kUnitsPerSecond) - kSecondsFrom1601To1970;
    const time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    if (!localtime_r(&t, &local))
        return std::string();
    char text[64];
    std::snprintf(text, sizeof(text), "%d-%02d-%02d-%02d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

}  // namespace

bool CSummaryInFormation::IsDocumentInformation(const unsigned char* sector, PropertySetStream& header) const
{
    if (!sector || m_iBufferLength < 48)
        return false;
    header.wByteOrder = RawReadLE16(sector);
    header.wFormat = RawReadLE16(sector + 2);
    header.dwSystemIdentifier = RawReadLE32(sector + 4);
    std::memcpy(header.byClassID, sector + 8, 16);
    header.dwPropertySets = RawReadLE32(sector + 24);
    std::memcpy(header.byFormatID, sector + 28, 16);
    header.dwSectionOffset = RawReadLE32(sector + 44);
    return header.wByteOrder == 0xFFFE && header.wFormat <= 1 &&
           (header.dwPropertySets == 1 || header.dwPropertySets == 2) &&
           std::memcmp(header.byFormatID, kSummaryFormatID, 16) == 0;
}

void CSummaryInFormation::GetDetailInformation(const unsigned char* sector, int offset, int& codePage,
                                               std::string& out) const
{
    out.clear();
    const long long length = m_iBufferLength;
    if (offset < 0 || static_cast<long long>(offset) + 8 > length)
        return;
    const unsigned char* value = sector + offset;
    const uint32_t type = RawReadLE32(value);
    if (type == kTypeI4) {
        codePage = static_cast<int>(RawReadLE32(value + 4));
    } else if (type == kTypeString) {
        const uint32_t bytes = RawReadLE32(value + 4);
        if (bytes > kMaxValueBytes || offset + 8LL + bytes > length)
            return;
        const std::string raw = DocCharset::UpToZero(value + 8, bytes);
        const auto* text = reinterpret_cast<const unsigned char*>(raw.data());
        if (DocCharset::LooksLikeUtf8(text, raw.size()))
            out = raw;
        else
            out = DocCharset::ConvertToUtf8("GBK", text, raw.size(), raw.size() * 2);
        OperateString(out);
    } else if (type == kTypeWideString) {
        const uint32_t count = RawReadLE32(value + 4);
        if (count > kMaxValueBytes / 2 || offset + 8LL + 2LL * count > length)
            return;
        // Stop at the terminating zero character.
        uint32_t used = 0;
        while (used < count && RawReadLE16(value + 8 + 2 * used) != 0)
            ++used;
        out = DocCharset::ConvertToUtf8("UTF-16LE", value + 8, 2 * used, 3 * static_cast<size_t>(used));
    } else if (type == kTypeFileTime) {
        if (offset + 12LL > length)
            return;
        out = FileTimeText(ReadLE64(value + 4));
    }
}

int CSummaryInFormation::GetFileInformation(const unsigned char* sector, FileProperty& property, int length)
{
    m_iBufferLength = length;
    PropertySetStream header;
    if (!IsDocumentInformation(sector, header))
        return 0;
    const long long s = header.dwSectionOffset;
    if (s + 8 > length)
        return 0;
    m_dwSectionSize = RawReadLE32(sector + s);
    m_iPropertyCount = static_cast<int32_t>(RawReadLE32(sector + s + 4));
    if (m_iPropertyCount < 1)
        return 0;
    bool found = false;
    int codePage = 0;
    for (int i = 0; i < m_iPropertyCount; ++i) {
        const long long entry = s + 8 + 8LL * i;
        if (i > kMaxEntryIndex || entry + 8 > length)
            return 0;
        const uint32_t id = RawReadLE32(sector + entry);
        const long long valueOffset = s + RawReadLE32(sector + entry + 4);
        std::string* field = nullptr;
        bool isDate = false;
        switch (id) {
        case kPidTitle: field = &property.strTitle; break;
        case kPidAuthor: field = &property.strCreator; break;
        case kPidLastAuthor: field = &property.strAuthor; break;
        case kPidCreated: field = &property.strCreationDate; isDate = true; break;
        case kPidLastSaved: field = &property.strModificationDate; isDate = true; break;
        default: break;
        }
        if (!field || valueOffset > length)
            continue;
        std::string text;
        GetDetailInformation(sector, static_cast<int>(valueOffset), codePage, text);
        if (isDate)
            text = FilterFileTime(text);
        if (!text.empty()) {
            *field = text;
            found = true;
        }
    }
    return found ? 1 : 0;
}

std::string CSummaryInFormation::FilterFileTime(std::string text)
{
    for (size_t i = 1; i < text.size(); ++i)
        if (text[i] == ':')
            text[i] = '-';
    return text;
}

void CSummaryInFormation::OperateString(std::string& text)
{
    const size_t first = text.find_first_not_of(' ');
    text.erase(0, first == std::string::npos ? text.size() : first);
    if (text.size() >= 25)
        DocCharset::CutUtf8(text, 24);
}
