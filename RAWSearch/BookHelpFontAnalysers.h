// E-books, help files, a music library file and TrueType fonts: most state
// their size in a header; e-books are followed to their end record.
#pragma once

#include "ArchiveAnalysers.h"
#include "RawFileAnalyser.h"

namespace BookTypes {
constexpr unsigned int kCHM = 14, kHLP = 32, kTTF = 65, kITL = 117, kMOBI = 133;
}  // namespace BookTypes

class FileCHMAnalyser : public IRawFileAnalyser {
public:
    FileCHMAnalyser() : IRawFileAnalyser(BookTypes::kCHM) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
};

class FileHLPAnalyser : public IRawFileAnalyser {
public:
    FileHLPAnalyser() : IRawFileAnalyser(BookTypes::kHLP) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
};

class FileITLAnalyser : public IRawFileAnalyser {
public:
    FileITLAnalyser() : IRawFileAnalyser(BookTypes::kITL) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
};

// A font is as long as its table directory and its tables, each padded to
// four bytes.
class FileTTFAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kMaxTables = 31;

    FileTTFAnalyser() : IRawFileAnalyser(BookTypes::kTTF) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
};

namespace RawSpeed {

// "BOOKMOBI" at byte 60 of the database header.
bool IsMobiStart(const unsigned char* sector);

class MOBIAnalyser : public IRawFileAnalyser {
public:
    MOBIAnalyser() : IRawFileAnalyser(BookTypes::kMOBI) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // No whole-file partner: a candidate that cannot finish is dropped.
    CRawFileInfo* CreateRawFileInfo() override { return new MOBIRawFileInfo(nullptr); }

    class MOBIRawFileInfo : public CArchiveRawFileInfo {
    public:
        static constexpr long long kMinSize = 20;
        static constexpr long long kMaxSize = 0x9600000;

        explicit MOBIRawFileInfo(IRawFileAnalyser* fallback) : CArchiveRawFileInfo(fallback, BookTypes::kMOBI) {}
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llMinSize = kMinSize;
        long long m_llMaxSize = kMaxSize;
        long long m_llVisited = 0;
        long long m_llNextPosition = 0;
        bool m_bZeroTail = false;
        bool m_bFirstSector = true;
        bool m_bEndFound = false;
    };
};

// Sizes an e-book from the device: the last record's offset + 4.
class FileMOBIAnalyser : public IRawFileAnalyser {
public:
    FileMOBIAnalyser() : IRawFileAnalyser(BookTypes::kMOBI) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

}  // namespace RawSpeed

IRawFileAnalyser* CreateCHMAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateHLPAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateITLAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateTTFAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateMOBIAnalyser(unsigned int analyserId);
