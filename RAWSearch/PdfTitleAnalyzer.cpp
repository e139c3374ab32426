#include "PdfTitleAnalyzer.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace BruteForce {

namespace {

bool IsTextSample(unsigned char c)
{
    if ((c >= '1' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    switch (c) {
    case 0x00: case 0xFE: case 0xFF: case '\r': case ' ': case '(': case ')':
    case '-': case '.': case '/': case ':': case '<': case '>':
        return true;
    default:
        return false;
    }
}

void AppendUtf8(std::string& out, unsigned int cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The first count characters of a UTF-8 text, never splitting a sequence.
void CutValue(std::string& value, size_t count)
{
    if (value.size() <= count)
        return;
    size_t cut = count;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80)
        --cut;
    value.resize(cut);
}

// Characters that cannot stand in a name become "_".
void ReplaceBadCharacters(std::string& value)
{
    static const char kBad[] = {'\x01', '\\', '/', ':', '?', '"', '<', '>', '|', '*', '\r', '\n'};
    for (char& c : value)
        if (std::memchr(kBad, c, sizeof(kBad)))
            c = '_';
}

}  // namespace

std::string PdfUtf16BEToUtf8(const unsigned char* data, size_t length)
{
    std::string out;
    for (size_t i = 0; i + 1 < length; i += 2) {
        unsigned int unit = (static_cast<unsigned int>(data[i]) << 8) | data[i + 1];
        if (unit >= 0xD800 && unit < 0xDC00) {
            if (i + 3 < length) {
                unsigned int low = (static_cast<unsigned int>(data[i + 2]) << 8) | data[i + 3];
                if (low >= 0xDC00 && low < 0xE000) {
                    AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                    i += 2;
                }
            }
            continue;
        }
        if (unit >= 0xDC00 && unit < 0xE000)
            continue;
        if (unit == 0)
            break;
        AppendUtf8(out, unit);
    }
    return out;
}

bool PdfTitleAnalyzer::myStrstr(const char* hay, int length, const char* needle, int needleLength, int& position)
{
    position = -1;
    if (!hay || !needle || needleLength <= 0 || length < needleLength)
        return false;
    for (int pos = 0; pos + needleLength <= length; ++pos) {
        if (hay[pos] == needle[0] && std::memcmp(hay + pos, needle, static_cast<size_t>(needleLength)) == 0) {
            position = pos;
            return true;
        }
    }
    return false;
}

bool PdfTitleAnalyzer::RemoveNolessVec(const char* sector, int sectorSize)
{
    if (!sector || sectorSize < 4)
        return false;
    const int quarter = sectorSize / 4;
    const int samples[4] = {0, quarter - 1, 2 * quarter - 1, 3 * quarter - 1};
    for (int at : samples)
        if (at >= 0 && IsTextSample(static_cast<unsigned char>(sector[at])))
            return true;
    return false;
}

bool PdfTitleAnalyzer::ObtainPerSecPDFInformation(const unsigned char* sector, int sectorSize, bool twoSectors,
                                                  FileProperty& property)
{
    if (!sector || sectorSize <= 0)
        return false;
    const char* text = reinterpret_cast<const char*>(sector);
    if (!RemoveNolessVec(text, sectorSize))
        return false;
    const int available = twoSectors ? 2 * sectorSize : sectorSize;
    // The mark may start anywhere in the first sector and run into the
    // second.
    int position = -1;
    if (!myStrstr(text, std::min(available, sectorSize + 2), "obj", 3, position))
        return false;
    m_iLeftLength = available - position;
    if (m_iLeftLength < 0)
        return false;
    return SeparateInformation(text + position, m_iLeftLength, property);
}

std::string PdfTitleAnalyzer::ObtainPerInfo(const char* entry, int length)
{
    if (!entry || length <= 0)
        return std::string();
    const int copy = std::min(length, kMaxEntry);
    int open = -1;
    int close = -1;
    for (int i = 0; i < copy; ++i) {
        const char c = entry[i];
        if (c == '(' && open < 0)
            open = i + 1;
        else if (c == ')' && close < 0)
            close = i;
        if (c == '/')
            break;
    }
    if (open < 0 || close < open)
        return std::string();
    const auto* value = reinterpret_cast<const unsigned char*>(entry + open);
    const size_t valueLength = static_cast<size_t>(close - open);
    if (valueLength >= 2 && value[0] == 0xFE && value[1] == 0xFF)
        return PdfUtf16BEToUtf8(value + 2, valueLength - 2);
    // A byte string ends at its first NUL.
    const void* nul = std::memchr(value, 0, valueLength);
    const size_t end = nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - value) : valueLength;
    return std::string(reinterpret_cast<const char*>(value), end);
}

bool PdfTitleAnalyzer::SeparateInformation(const char* data, int length, FileProperty& property)
{
    if (!data || length <= 0)
        return false;
    enum { kAuthor, kCreator, kCreationDate, kModDate, kProducer, kTitle, kKeys };
    static const char* const kNames[kKeys] = {"Author", "Creator", "CreationDate", "ModDate", "Producer", "Title"};
    // Keys are PDF names: "/Author". The same words inside other text (an
    // XMP packet's "xmp:CreatorTool") are not entries of the dictionary.
    int found[kKeys];
    for (int k = 0; k < kKeys; ++k) {
        const std::string key = std::string("/") + kNames[k];
        if (myStrstr(data, length, key.data(), static_cast<int>(key.size()), found[k]))
            ++found[k];
    }
    auto has = [&](int k) { return found[k] >= 0; };
    if (!((has(kAuthor) && has(kCreator)) ||
          ((has(kAuthor) || has(kCreator) || has(kModDate)) && has(kCreationDate))))
        return false;

    for (int k = 0; k < kKeys; ++k) {
        if (!has(k))
            continue;
        std::string value = ObtainPerInfo(data + found[k], length - found[k]);
        CutValue(value, kMaxValue);
        if (k == kCreationDate || k == kModDate) {
            (k == kCreationDate ? property.strCreationDate : property.strModificationDate) = TimeChange(value);
            continue;
        }
        while (!value.empty() && value.back() == ' ')
            value.pop_back();
        ReplaceBadCharacters(value);
        if (!JudeLegalInfo(value))
            value.clear();
        switch (k) {
        case kAuthor: property.strAuthor = value; break;
        case kCreator: property.strCreator = value; break;
        case kProducer: property.strProducer = value; break;
        default: property.strTitle = RemoveIllegalTitle(value); break;
        }
    }
    return !property.strCreator.empty() || !property.strCreationDate.empty() || !property.strAuthor.empty() ||
           !property.strModificationDate.empty();
}

bool PdfTitleAnalyzer::JudeLegalInfo(std::string value)
{
    if (value.size() < 2)
        return false;
    for (char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        // Bytes of multi-byte UTF-8 characters count as letters.
        if (std::isalnum(c) || c >= 0x80 || c == '_' || c == ' ' || c == '(' || c == '-' || c == '.')
            continue;
        return false;
    }
    return true;
}

std::string PdfTitleAnalyzer::RemoveIllegalTitle(std::string value)
{
    for (char c : value)
        if (std::isdigit(static_cast<unsigned char>(c)))
            return std::string();
    return value;
}

std::string PdfTitleAnalyzer::TimeChange(std::string value)
{
    if (value.size() < 17)
        return std::string();
    for (size_t i = 2; i <= 15; ++i)
        if (!std::isdigit(static_cast<unsigned char>(value[i])))
            return std::string();
    return value.substr(2, 4) + "-" + value.substr(6, 2) + "-" + value.substr(8, 2) + " " + value.substr(10, 2) +
           "-" + value.substr(12, 2) + "-" + value.substr(14, 2);
}

}  // namespace BruteForce
