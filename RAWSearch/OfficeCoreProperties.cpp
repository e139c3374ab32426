#include "OfficeCoreProperties.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include <tinyxml.h>

#include "RawRecordAccess.h"
#include "ZrUtf8.h"

unsigned short tagZipLocalFileHeader::Flags() const
{
    return RawReadLE16(byRaw + 6);
}

unsigned short tagZipLocalFileHeader::Method() const
{
    return RawReadLE16(byRaw + 8);
}

unsigned int tagZipLocalFileHeader::CompressedSize() const
{
    return RawReadLE32(byRaw + 18);
}

unsigned int tagZipLocalFileHeader::UncompressedSize() const
{
    return RawReadLE32(byRaw + 22);
}

unsigned short tagZipLocalFileHeader::NameLength() const
{
    return RawReadLE16(byRaw + 26);
}

unsigned short tagZipLocalFileHeader::ExtraLength() const
{
    return RawReadLE16(byRaw + 28);
}

namespace Brance {

namespace {

constexpr unsigned short kMaxMethod = 10;
constexpr unsigned short kMethodStored = 0;
constexpr size_t kTextBytes = 1024;

// The element's text as the system's multibyte text; empty when too long
// or not UTF-8.
std::string ElementText(const TiXmlElement* element)
{
    const char* text = element->GetText();
    if (!text)
        return std::string();
    const size_t length = std::strlen(text);
    if (length == 0 || length >= kTextBytes)
        return std::string();
    char converted[kTextBytes + 1] = {};
    const unsigned long written =
        zrutf8::UTF8ToANSI(reinterpret_cast<const unsigned char*>(text), length, converted, kTextBytes);
    return std::string(converted, written);
}

}  // namespace

OfficeTagFromXML& OfficeTagFromXML::Instance()
{
    static OfficeTagFromXML instance;
    return instance;
}

int OfficeTagFromXML::GetOfficeTagFromXML(const unsigned char* buffer, int sectorSize, long long sector,
                                          long long offset, const SearchContext& context,
                                          const tagZipLocalFileHeader& header, FileProperty& property,
                                          int& needMore)
{
    const unsigned int compressed = header.CompressedSize();
    const unsigned int uncompressed = header.UncompressedSize();
    if (!buffer || sectorSize <= 0 || compressed == 0 || uncompressed == 0 || compressed > kMaxEntryBytes ||
        uncompressed > kMaxEntryBytes || header.Method() > kMaxMethod)
        return 0;
    const long long dataOffset = offset + 30 + header.NameLength() + header.ExtraLength();
    const unsigned char* data = context.bytes(sector, dataOffset, compressed);
    if (!data) {
        // The data reaches past the block in memory.
        needMore = 1;
        m_llPendingSector = sector;
        m_llPendingOffset = offset;
        return 0;
    }
    m_llPendingSector = -1;
    m_llPendingOffset = -1;
    needMore = 0;
    if (!bDepress(data, header))
        return 0;
    return AnalyzeTag(property);
}

bool OfficeTagFromXML::bDepress(const unsigned char* data, const tagZipLocalFileHeader& header)
{
    std::memset(m_byOutput, 0, sizeof(m_byOutput));
    const unsigned int compressed = header.CompressedSize();
    const unsigned int uncompressed = header.UncompressedSize();
    if (!data || compressed > kMaxEntryBytes || uncompressed > kMaxEntryBytes)
        return false;
    if (header.Method() == kMethodStored) {
        std::memcpy(m_byOutput, data, std::min(compressed, uncompressed));
        return true;
    }
    z_stream stream {};
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = compressed;
    stream.next_out = m_byOutput;
    stream.avail_out = uncompressed;
    if (inflateInit2(&stream, -15) != Z_OK)
        return false;
    const int rc = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    // The buffer stays terminated: at most kMaxEntryBytes were written.
    return rc >= 0;
}

int OfficeTagFromXML::AnalyzeTag(FileProperty& property)
{
    if (m_byOutput[0] != '<' || m_byOutput[1] != '?')
        return 0;
    TiXmlDocument document;
    document.Parse(reinterpret_cast<const char*>(m_byOutput));
    if (document.Error())
        return 0;
    const TiXmlElement* root = document.FirstChildElement("cp:coreProperties");
    if (!root)
        return 0;
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string name = e->ValueStr();
        std::string* field = nullptr;
        if (name == "dc:title")
            field = &property.strTitle;
        else if (name == "dc:creator")
            field = &property.strCreator;
        else if (name == "cp:lastModifiedBy")
            field = &property.strAuthor;
        if (field) {
            std::string text = ElementText(e);
            if (!text.empty())
                *field = text;
            continue;
        }
        if (name == "dcterms:created" || name == "dcterms:modified") {
            const char* text = e->GetText();
            std::string date = FilterFileTime(text ? text : "");
            (name == "dcterms:created" ? property.strCreationDate : property.strModificationDate) = date;
        }
    }
    return 1;
}

std::string OfficeTagFromXML::FilterFileTime(std::string text)
{
    for (size_t i = 1; i < text.size(); ++i) {
        if (std::isalpha(static_cast<unsigned char>(text[i])))
            text[i] = ' ';
        else if (text[i] == ':')
            text[i] = '-';
    }
    return text;
}

}  // namespace Brance
