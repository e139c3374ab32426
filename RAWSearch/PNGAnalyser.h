// PNG: followed chunk by chunk while the search runs, to the IEND chunk; a
// candidate that loses its way is sized afterwards from the device.
#pragma once

#include "RawFileAnalyser.h"

// Whole-file sizing of a PNG from the device: walks the chunks from IHDR.
class FilePNGAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 51;
    // The walk gives up at this offset and on longer chunks.
    static constexpr long long kMaxWalk = 0x1400001;
    static constexpr long long kMaxChunkLength = 0x1400000;

    FilePNGAnalyser() : IRawFileAnalyser(kType) {}

    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    // 0 when the first window is unreadable or IHDR is implausible; else 1
    // with the size the walk reached.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

namespace RawSpeed {

class PNGAnalyser : public IRawFileAnalyser {
public:
    PNGAnalyser() : IRawFileAnalyser(FilePNGAnalyser::kType) {}
    ~PNGAnalyser() override = default;

    // Its candidates are sized by the fallback once they stop being fed.
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class PNGRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMaxSize = 100000000;

        explicit PNGRawFileInfo(FilePNGAnalyser* fallback) : m_pFallback(fallback) {}

        bool WhetherImplementGuess() override { return true; }
        // Hands the candidate to the whole-file analyser.
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        // File offset of the next chunk header: 8 bytes of signature and the
        // 12 bytes of the first chunk's overhead, plus its data length once
        // the first sector is seen.
        long long m_llNextChunk = 20;
        long long m_llMaxSize = kMaxSize;
        bool m_bFirstSector = true;

    private:
        FilePNGAnalyser* m_pFallback;
    };

private:
    FilePNGAnalyser m_Fallback;
};

}  // namespace RawSpeed

IRawFileAnalyser* CreatePNGAnalyser(unsigned int analyserId);
