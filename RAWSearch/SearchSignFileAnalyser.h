// Sizes a file by searching forward for its end signature (for example
// "</html>") in the first sector that ends in zero bytes.
#pragma once

#include "RawFileInfo.h"

class IStorageDevice;

struct SearchSignCodeInfo {
    // The end signature; not necessarily terminated.
    unsigned char szSignCode[64] = {};
    unsigned int dwSignCodeLength = 0;
    // The farthest offset searched; 0 means 0xD000000 bytes.
    unsigned long long u64MaxFileSize = 0;
};

// The first occurrence of the needle in the haystack; null when either is
// null, the haystack is shorter than 1 byte or than the needle, or the needle
// is empty.
unsigned char* Apimemstr(unsigned char* haystack, int haystackLength, unsigned char* needle, int needleLength);

class SearchSignFileAnalyser {
public:
    static constexpr unsigned long long kDefaultMaxFileSize = 0xD000000ULL;

    // Walks the file from its start sector and sets its size: the end of the
    // signature, the start of a zero-ended sector without it, or where the
    // walk had to stop. caseSensitive 0 accepts the signature in lower or in
    // upper case. Returns 1.
    int SearchEndSignCode(CRawFileInfo& info, IStorageDevice* pDevice, const SearchSignCodeInfo& sign,
                          int caseSensitive);
};
