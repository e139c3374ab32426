// Page-layout documents (INDD), motion-graphics projects (AEP), music
// scores (SIB) and NGRR files: each followed while the search runs by its
// own structure or by the zero padding after its data.
#pragma once

#include "RawFileAnalyser.h"

namespace RawSpeed {

// Shared by the candidates below: name "%lld-%lld_" and the size.
class DesignRawFileInfo : public CRawFileInfo {
public:
    bool WhetherImplementGuess() override { return true; }

protected:
    int End(long long size, long long sectorNumber);
    // Where sector lies in the file, -1 when it cannot be fed.
    long long FileOffset(const unsigned char* sector, int sectorSize, long long sectorNumber) const;
};

class InddAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 127;
    InddAnalyser() : IRawFileAnalyser(kType) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class InddRawFileInfo : public DesignRawFileInfo {
    public:
        static constexpr long long kMaxSize = 200000000;
        static constexpr long long kPage = 4096;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llNextPos = 0;
        long long m_llMaxSize = kMaxSize;
        bool m_bEndFound = false;
        bool m_bFirstSector = true;
    };
};

class AEPAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 144;
    AEPAnalyser() : IRawFileAnalyser(kType) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class AEPRawFileInfo : public DesignRawFileInfo {
    public:
        static constexpr long long kMaxSize = 100000000;
        static constexpr unsigned int kTrailerZeroTail = 12;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llChunkLength = 20;
        long long m_llMaxSize = kMaxSize;
        bool m_bFirstSector = true;
        bool m_bTrailerMode = false;
    };
};

class SIBAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 134;
    SIBAnalyser() : IRawFileAnalyser(kType) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class SIBRawFileInfo : public DesignRawFileInfo {
    public:
        static constexpr long long kMinSize = 512;
        static constexpr long long kMaxSize = 0xA00000;
        static constexpr unsigned int kZeroTail = 8;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llMinSize = kMinSize;
        long long m_llMaxSize = kMaxSize;
    };
};

class NGRRAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 137;
    NGRRAnalyser() : IRawFileAnalyser(kType) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class NGRRRawFileInfo : public DesignRawFileInfo {
    public:
        static constexpr long long kMinSize = 20;
        static constexpr long long kMaxSize = 52428800;
        static constexpr long long kFirstBlock = 60;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llMinSize = kMinSize;
        long long m_llMaxSize = kMaxSize;
        long long m_llNextBlock = kFirstBlock;
    };
};

}  // namespace RawSpeed

IRawFileAnalyser* CreateInddAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateAEPAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateSIBAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateNGRRAnalyser(unsigned int analyserId);
