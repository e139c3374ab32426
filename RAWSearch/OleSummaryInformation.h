// The "SummaryInformation" property set of compound documents: title,
// authors and dates, read from one sector's bytes.
#pragma once

#include <cstdint>
#include <string>

#include "FileProperty.h"

// The first 48 bytes of a property set stream.
struct PropertySetStream {
    uint16_t wByteOrder = 0;
    uint16_t wFormat = 0;
    uint32_t dwSystemIdentifier = 0;
    unsigned char byClassID[16] = {};
    uint32_t dwPropertySets = 0;
    unsigned char byFormatID[16] = {};
    uint32_t dwSectionOffset = 0;
};

class CSummaryInFormation {
public:
    // Nonzero when at least one wanted property gave text. Reads no byte at
    // or past sector + length.
    int GetFileInformation(const unsigned char* sector, FileProperty& property, int length);
    // True for a summary-information set header; fills header.
    bool IsDocumentInformation(const unsigned char* sector, PropertySetStream& header) const;
    // The text of the value at offset (counted from the sector's start);
    // empty for types that carry none.
    void GetDetailInformation(const unsigned char* sector, int offset, int& codePage, std::string& out) const;
    // Every ':' after the first character becomes '-'.
    static std::string FilterFileTime(std::string text);
    // Drops leading spaces and keeps the first 24 bytes of a longer value.
    static void OperateString(std::string& text);

    int m_iPropertyCount = 0;
    uint32_t m_dwSectionSize = 0;
    int m_iBufferLength = 0;
};
