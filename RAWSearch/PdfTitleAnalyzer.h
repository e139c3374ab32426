// Reads the document information of a PDF (title, authors, dates) out of the
// sectors a carved PDF passes through, to name, date and label it.
#pragma once

#include <string>

#include "FileProperty.h"

namespace BruteForce {

class PdfTitleAnalyzer {
public:
    // Values longer than this are cut before they are checked.
    static constexpr size_t kMaxValue = 25;
    // At most this much text after a key is looked at for its value.
    static constexpr int kMaxEntry = 512;

    // One sector (two when twoSectors is set and the bytes follow in
    // memory): true when it held an information dictionary with usable
    // entries, which are stored in property.
    bool ObtainPerSecPDFInformation(const unsigned char* sector, int sectorSize, bool twoSectors,
                                    FileProperty& property);

    // The keys of an information dictionary in data[0, length).
    bool SeparateInformation(const char* data, int length, FileProperty& property);
    // The value of the entry at entry (length bytes readable): the text
    // between its parentheses, converted from UTF-16 when it starts with a
    // byte-order mark.
    std::string ObtainPerInfo(const char* entry, int length);
    // Bounded search: the first match of needle that starts inside
    // [0, length) of hay and ends inside it; its position in position.
    static bool myStrstr(const char* hay, int length, const char* needle, int needleLength, int& position);
    // True when the sector looks like text at its four sample bytes.
    static bool RemoveNolessVec(const char* sector, int sectorSize);
    static bool JudeLegalInfo(std::string value);
    static std::string RemoveIllegalTitle(std::string value);
    // "D:YYYYMMDDHHmmSS..." to "YYYY-MM-DD HH-mm-SS"; empty when not a date.
    static std::string TimeChange(std::string value);

    // Bytes from the object being read to the end of the examined data.
    int m_iLeftLength = 0;
};

// Text of a UTF-16 big-endian value (without its byte-order mark) as UTF-8;
// unpaired surrogates are dropped.
std::string PdfUtf16BEToUtf8(const unsigned char* data, size_t length);

}  // namespace BruteForce
