// GIF: followed block by block while the search runs, to the trailer byte.
// There is no whole-file sizer: a GIF that is pushed out or never ends is
// dropped.
#pragma once

#include "RawFileAnalyser.h"

namespace BruteForce {

class CGifAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 30;

    CGifAnalyser() : IRawFileAnalyser(RAW_ANALYSER_ID_PER_FILE) {}

    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class CGifFileInfo : public CRawFileInfo {
public:
    // Larger files are cut here.
    static constexpr long long kMaxSize = 0xD000000;

    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context) override;

    // File offset of the next byte the walk reads. The size stays 0 until
    // the trailer is found, so an unfinished GIF gets no node.
    long long m_llNextPos = 0;
    bool m_bFirstSector = true;
    // True while the walk steps over data sub-blocks (a length byte, then
    // that many bytes, until a zero length); false between blocks, where the
    // byte read introduces an extension, an image or the trailer.
    bool m_bInSubBlocks = false;
};

}  // namespace BruteForce

IRawFileAnalyser* CreateGifAnalyser(unsigned int analyserId);
