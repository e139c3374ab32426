// 3DS files: 3D-model files (a walk over their 88-byte records) and
// cartridge images (a size field in units of 512 bytes), which share the
// extension.
#pragma once

#include <cstdint>

#include "RawFileAnalyser.h"

class File3DSAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 1;
    static constexpr long long kMaxWalk = 1000000000;

    File3DSAnalyser() : IRawFileAnalyser(kType) {}
    // Model files only: cartridge images are refused.
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

// One step of the model walk at a record (at least 90 bytes readable): the
// next position, or -1 where the file ends.
long long Next3DSRecord(const unsigned char* record, long long position);

namespace RawSpeed {

class New3DSAnalyser : public IRawFileAnalyser {
public:
    static constexpr long long kCartridgeLimit = 1000000000;
    static constexpr long long kCartridgeFallback = 200000000;

    New3DSAnalyser() : IRawFileAnalyser(File3DSAnalyser::kType) {}

    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class New3DSRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMaxSize = 200000000;
        static constexpr long long kRecord = 88;

        explicit New3DSRawFileInfo(File3DSAnalyser* fallback) : m_pFallback(fallback) {}

        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llNextPos = 0;
        long long m_llMaxSize = kMaxSize;
        uint16_t m_wRecordId = 0;
        uint16_t m_wIdAfter = 0;
        uint16_t m_wRecordLength = 0;
        bool m_bModelMode = true;
        bool m_bFirstSector = true;
        bool m_bReload = true;

    private:
        int End(long long size, long long sectorNumber);
        File3DSAnalyser* m_pFallback;
    };

private:
    File3DSAnalyser m_Fallback;
};

}  // namespace RawSpeed

IRawFileAnalyser* Create3DSAnalyser(unsigned int analyserId);
