// The core-properties part ("docProps/core.xml") of open-XML office
// documents: inflated from the archive bytes in memory and read for title,
// authors and dates.
#pragma once

#include <string>

#include "FileProperty.h"
#include "RawFileInfo.h"

// The 30-byte local file header of a ZIP entry, as stored.
struct tagZipLocalFileHeader {
    unsigned char byRaw[30] = {};

    unsigned short Flags() const;
    unsigned short Method() const;
    unsigned int CompressedSize() const;
    unsigned int UncompressedSize() const;
    unsigned short NameLength() const;
    unsigned short ExtraLength() const;
};

namespace Brance {

class OfficeTagFromXML : public CRawFileInfo {
public:
    static constexpr unsigned int kBufferBytes = 10241;
    // Larger entries are not read.
    static constexpr unsigned int kMaxEntryBytes = 10239;

    // The one instance, used from the search thread only.
    static OfficeTagFromXML& Instance();

    // Reads the entry whose local header starts offset bytes into the
    // given sector (absolute number sector, sectorSize bytes) into property.
    // 1 when the properties were read; 0 otherwise, with needMore set when
    // the entry's data reaches past the bytes in memory.
    int GetOfficeTagFromXML(const unsigned char* buffer, int sectorSize, long long sector, long long offset,
                            const SearchContext& context, const tagZipLocalFileHeader& header,
                            FileProperty& property, int& needMore);
    // Inflates (or copies, for a stored entry) the entry's data into the
    // output buffer; false on a failure.
    bool bDepress(const unsigned char* data, const tagZipLocalFileHeader& header);
    // Parses the output buffer; 1 when it held core properties.
    int AnalyzeTag(FileProperty& property);
    // From the second character on, letters become spaces and ':' '-'.
    static std::string FilterFileTime(std::string text);

    long long m_llPendingSector = -1;
    long long m_llPendingOffset = -1;

private:
    OfficeTagFromXML() = default;
    unsigned char m_byOutput[kBufferBytes] = {};
};

}  // namespace Brance
