// Paint Shop Pro images: a chain of "~BK" blocks after the signature,
// followed while the search runs; a dropped candidate is sized from the
// device by the same walk.
#pragma once

#include "RawFileAnalyser.h"

class FilePSPAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 55;
    static constexpr long long kFirstBlock = 36;
    static constexpr long long kMaxWalk = 0xD000000;

    FilePSPAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    // Refuses files that end before byte 512.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

// True when p holds a block header (marker "~BK" and a zero byte).
bool IsPspBlock(const unsigned char* p);

namespace RawSpeed {

class PSPAnalyser : public IRawFileAnalyser {
public:
    PSPAnalyser() : IRawFileAnalyser(FilePSPAnalyser::kType) {}

    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class PSPRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMaxSize = 20000000;

        explicit PSPRawFileInfo(FilePSPAnalyser* fallback) : m_pFallback(fallback) {}

        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llNextBlock = FilePSPAnalyser::kFirstBlock;
        long long m_llMaxSize = kMaxSize;
        bool m_bFirstSector = true;

    private:
        int End(long long size, long long sectorNumber);
        FilePSPAnalyser* m_pFallback;
    };

private:
    FilePSPAnalyser m_Fallback;
};

}  // namespace RawSpeed

IRawFileAnalyser* CreatePSPAnalyser(unsigned int analyserId);
