#include "FATDirEntry.h"

#include <cstring>
#include <string>

#include "ResultCode.h"
#include "Utf16Name.h"

namespace {

bool IsValidDate(const tagFATDATE& d) { return d.Value() == 0 || (d.Month() >= 1 && d.Month() <= 12 && d.Day() != 0); }

// Two-second counts 30 and 31 (bits 1-4 all set) would be a minute or more.
bool IsValidTime(const tagFATTIME& t)
{
    return t.Value() == 0 || ((t.TwoSeconds() & 0x1E) != 0x1E && t.Minutes() <= 59 && t.Hours() <= 23);
}

// Space-padded field without its trailing spaces, bytes of 0x80 and more as "_".
size_t CopyNamePart(char* out, const uint8_t* in, size_t width, bool lowerCase)
{
    size_t len = width;
    while (len > 0 && in[len - 1] == ' ')
        --len;
    for (size_t i = 0; i < len; ++i) {
        char c = in[i] >= 0x80 ? '_' : static_cast<char>(in[i]);
        if (lowerCase && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        out[i] = c;
    }
    return len;
}

// Byte 12 of a short entry: Windows, Linux and mtools store a name that fits
// 8.3 in lower case as upper case with these flags instead of a long name.
constexpr uint8_t kLowerCaseBase = 0x08;
constexpr uint8_t kLowerCaseExtension = 0x10;

}  // namespace

CTempFATDirEntry::CTempFATDirEntry(const void* bytes)
    : m_pDirEntry(static_cast<tagFATDIRENTRY*>(const_cast<void*>(bytes)))
{
    VANTREL_ASSERT(m_pDirEntry != NULL);
}

int CTempFATDirEntry::InitFromBuffer(const void* bytes)
{
    m_pDirEntry = static_cast<tagFATDIRENTRY*>(const_cast<void*>(bytes));
    VANTREL_ASSERT(m_pDirEntry != NULL);
    return IsValidFATDirEntry(0);
}

unsigned int CTempFATDirEntry::GetFirstClusterNO() const
{
    const tagSHORTFATDIRENTRY& e = Short();
    return (static_cast<unsigned int>(fatle::Load16(e.ucFirstClusterHigh)) << 16) | fatle::Load16(e.ucFirstClusterLow);
}

void CTempFATDirEntry::SetFirstClusterNO(unsigned int cluster)
{
    tagSHORTFATDIRENTRY& e = m_pDirEntry->shortNameFATDirEntry;
    fatle::Store16(e.ucFirstClusterHigh, static_cast<uint16_t>(cluster >> 16));
    fatle::Store16(e.ucFirstClusterLow, static_cast<uint16_t>(cluster & 0xFFFF));
}

int CTempFATDirEntry::IsValidFATDirEntry(int skipClusterCheck) const
{
    const tagSHORTFATDIRENTRY& e = Short();
    unsigned int attr = e.ucAttribute;
    if (attr == FAT_ATTR_LONG_NAME)
        return 1;
    if (attr > 0x3F)
        return 0;
    if (!skipClusterCheck) {
        if (!(attr & FAT_ATTR_DIRECTORY)) {
            if ((GetFirstClusterNO() == 0) != (GetSize() == 0))
                return 0;
        } else if (GetSize() != 0 && fatle::Load16(e.ucFirstClusterHigh) != 0) {
            return 0;
        }
    }
    if (!IsValidDate(e.createDate) || !IsValidDate(e.lastAccessDate) || !IsValidDate(e.modifyDate))
        return 0;
    if (!IsValidTime(e.createTime) || !IsValidTime(e.modifyTime))
        return 0;
    if (attr & FAT_ATTR_INVALID_40)
        return 0;
    if (attr & FAT_ATTR_VOLUME_LABEL)
        return 1;
    return IsValidFileName(e.ucName) ? 1 : 0;
}

bool CTempFATDirEntry::IsValidFileName(const uint8_t* name11)
{
    if (!name11 || name11[0] == ' ')
        return false;
    for (size_t i = 0; i < 11; ++i) {
        uint8_t b = name11[i];
        if (b >= 0x80) {
            ++i;  // lead byte of a double-byte character: its second byte is not checked
            continue;
        }
        if (b < 0x1A || std::strchr("\"*/:<>?\\|", b) != nullptr)
            return false;
    }
    return true;
}

void CTempFATDirEntry::GetShortName(char* pszFileName, int noDot) const
{
    VANTREL_ASSERT(pszFileName != NULL);
    if (!noDot)
        VANTREL_ASSERT(IsValidFileName(m_pDirEntry->shortNameFATDirEntry.ucName));
    const uint8_t* name = Short().ucName;
    char base[9];
    char ext[4];
    // A volume label (noDot) carries no case flags.
    const uint8_t flags = noDot ? 0 : Short().ucNTCaseFlags;
    size_t baseLen = CopyNamePart(base, name, 8, (flags & kLowerCaseBase) != 0);
    if (baseLen > 0 && name[0] == kFATErasedMark)
        base[0] = '#';
    size_t extLen = CopyNamePart(ext, name + 8, 3, (flags & kLowerCaseExtension) != 0);
    std::memcpy(pszFileName, base, baseLen);
    size_t at = baseLen;
    if (extLen > 0) {
        if (!noDot)
            pszFileName[at++] = '.';
        std::memcpy(pszFileName + at, ext, extLen);
        at += extLen;
    }
    pszFileName[at] = '\0';
}

size_t CTempFATDirEntry::GetLongFileNameUnits(char16_t* units) const
{
    const tagLONGFATDIRENTRY& e = m_pDirEntry->longNameFATDirEntry;
    const uint8_t* groups[3] = {e.ucName1, e.ucName2, e.ucName3};
    const size_t sizes[3] = {5, 6, 2};
    size_t n = 0;
    for (size_t g = 0; g < 3; ++g) {
        for (size_t k = 0; k < sizes[g]; ++k) {
            char16_t u = fatle::Load16(groups[g] + 2 * k);
            if (u == 0)
                return n;
            units[n++] = u;
        }
    }
    return n;
}

int CTempFATDirEntry::GetLongFileName(char* pszFileName, size_t length) const
{
    VANTREL_ASSERT(pszFileName != NULL);
    if (length == 0)
        return 1;
    pszFileName[0] = '\0';
    char16_t units[kFATLongNameUnits];
    size_t n = GetLongFileNameUnits(units);
    std::string text;
    CUtf16NameConverter converter;
    const char* src = "_";
    size_t srcLen = 1;
    if (n != 0 && converter.Convert(units, n, text) && !text.empty()) {
        src = text.data();
        srcLen = text.size();
    }
    // Cut to the buffer at a character boundary.
    size_t cut = srcLen < length ? srcLen : length - 1;
    while (cut > 0 && cut < srcLen && (static_cast<unsigned char>(src[cut]) & 0xC0) == 0x80)
        --cut;
    std::memcpy(pszFileName, src, cut);
    pszFileName[cut] = '\0';
    return 1;
}

bool CTempFATDirEntry::IsValidLongFileName(const char* text)
{
    if (!text || !*text)
        return false;
    return std::strpbrk(text, "?*|\\/:\"<>") == nullptr;
}

bool CTempFATDirEntry::IsFilenameEqual(const char* name8, const char* ext3) const
{
    if (!name8 || !ext3)
        return false;
    return std::memcmp(Short().ucName, name8, 8) == 0 && std::memcmp(Short().ucName + 8, ext3, 3) == 0;
}
