// Vector and page formats sized by a header field, a table walk on the
// device or the zero padding after their data: EPS, FreeHand 11, WPG,
// WordPerfect documents and CPT files.
#pragma once

#include "RawFileAnalyser.h"

namespace BruteForce {

// PostScript EPS ends where zero padding begins; the DOS binary form carries
// its section sizes in its header.
class CEPSAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 27;
    static constexpr unsigned long long kMaxSize = 0x514000000ULL;

    CEPSAnalyser() : IRawFileAnalyser(RAW_ANALYSER_ID_PER_FILE) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // The candidate kind follows the last accepted probe.
    CRawFileInfo* CreateRawFileInfo() override;

private:
    bool m_bBinaryHeader = false;
};

class CFH11Analyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 29;
    static constexpr unsigned long long kMaxSize = 0xD000000;

    CFH11Analyser() : IRawFileAnalyser(RAW_ANALYSER_ID_PER_FILE) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

}  // namespace BruteForce

namespace RawSpeed {

class WpgAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 69;

    WpgAnalyser() : IRawFileAnalyser(kType) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class WPGRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMaxSize = 100000000;
        static constexpr unsigned int kZeroTail = 16;

        bool WhetherImplementGuess() override { return true; }
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llMaxSize = kMaxSize;
    };
};

}  // namespace RawSpeed

// WordPerfect documents, graphics and slide shows: the header gives type and
// size.
class FileWPDAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kTypeWpd = 68;
    static constexpr unsigned int kTypeWpg = 69;
    static constexpr unsigned int kTypeShw = 61;

    FileWPDAnalyser() : IRawFileAnalyser(kTypeWpd) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

// CPT files: sized on the device from the last entry of their table.
class FileCPTAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 17;

    FileCPTAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

IRawFileAnalyser* CreateEPSAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateFH11Analyser(unsigned int analyserId);
IRawFileAnalyser* CreateWpgAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateWPDAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateCPTAnalyser(unsigned int analyserId);
