// DWG drawings: the size comes from the file's own header, stored
// differently in each generation of the format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "RawFileAnalyser.h"

namespace BruteForce {

class CDWGAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 24;
    static constexpr long long kMaxSize = 0x514000000LL;

    CDWGAnalyser() : IRawFileAnalyser(RAW_ANALYSER_ID_PER_FILE) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class CDWGRawInfo : public CRawFileInfo {
public:
    enum : unsigned int { kUnknown = 0, kLocators = 1, kScrambled = 2, kInterleaved = 3 };
    static constexpr int kLocatorStart = 21;
    static constexpr int kLocatorRecord = 9;
    static constexpr long long kHeaderAt = 0x80;
    static constexpr int kScrambledLength = 108;
    static constexpr int kInterleavedLength = 984;

    // Followed sector by sector (it has no other sizing).
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context) override;

    unsigned int m_dwGeneration = kUnknown;
    // File offset of the next section-locator field to read.
    int m_iLocatorPos = kLocatorStart;
    int m_iRecordsRead = 0;
    int m_iRecordCount = 0;
    bool m_bCountRead = false;
    int m_iLeftToCollect = kInterleavedLength;
    int m_iCollected = 0;
    unsigned char m_byCollected[992] = {};

private:
    int Finish(long long size);
    int WalkLocators(SearchContext& context);
};

// The size field of a scrambled (2004-family) header of 108 bytes, 0 when
// the decoded header fails its checks.
long long DwgScrambledHeaderSize(const unsigned char* header);
// The size field of a 2007-family header from its 984 interleaved bytes, 0
// when none can be read.
long long DwgInterleavedHeaderSize(const unsigned char* collected, size_t length);
// Decompresses src with the 2007-family scheme into out (at most outLength
// bytes); returns the bytes produced.
size_t DwgDecompress2007(const unsigned char* src, size_t srcLength, unsigned char* out, size_t outLength);

}  // namespace BruteForce

IRawFileAnalyser* CreateDWGAnalyser(unsigned int analyserId);
