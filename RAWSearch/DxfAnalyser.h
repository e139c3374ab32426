// DXF drawings (text CAD exchange files): recognised by their first section
// header, followed to the "EOF" group.
#pragma once

#include "RawFileAnalyser.h"

namespace BruteForce {

class CDXFAnalyser : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    static constexpr unsigned int kType = 25;

    CDXFAnalyser() : IRawFileAnalyser(RAW_ANALYSER_ID_PER_FILE) {}

    // The probe works on the sector alone.
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                        long long contextStart, long long contextEnd) override;
    CRawFileInfo* CreateRawFileInfo() override;
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
};

class CDXFRawFileInfo : public CRawFileInfo {
public:
    static constexpr long long kMaxSize = 0xD000000;

    // Followed sector by sector (it has no other sizing).
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context) override;

    unsigned char m_byEndPattern[10] = {};
    int m_iEndPatternLength = 0;
};

}  // namespace BruteForce

IRawFileAnalyser* CreateDXFAnalyser(unsigned int analyserId);
