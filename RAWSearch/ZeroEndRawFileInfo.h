// A streaming candidate for formats whose file ends where zero padding
// begins in a sector.
#pragma once

#include "RawFileInfo.h"

class CZeroEndRawFileInfo : public CRawFileInfo {
public:
    // maxSize caps the file; zeroUnit (1 to 4) is the step of the search for
    // the data's end inside a sector.
    CZeroEndRawFileInfo(unsigned long long maxSize, unsigned int zeroUnit);

    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context) override;

    // Sets the text whose end is the file's end (at most 80 bytes); false
    // when it does not fit.
    bool SetEndPattern(const unsigned char* pattern, unsigned int length);

    // Where the data ends in a sector with z >= 32 trailing zero bytes:
    // one past its last non-zero byte.
    int extraZeroPos(const unsigned char* sector, int sectorSize, unsigned int z) const;
    // Looks for the end pattern around where the data ended in this sector.
    int foundEndByte(const unsigned char* sector, int sectorSize);

    unsigned long long m_u64MaxSize;
    unsigned int m_dwZeroUnit;
    // Below this size sectors are taken whole without looking for the end.
    unsigned long long m_u64CheckStart = 0;
    unsigned char m_byEndPattern[80] = {};
    unsigned short m_wEndPatternLength = 0;

private:
    // Cuts the size to the maximum; true when the candidate is finished.
    bool CapReached();
};
