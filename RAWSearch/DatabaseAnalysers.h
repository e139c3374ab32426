// Database files and keystores: SQLite-based application files (told apart
// by their first table), Access and Money databases, Java keystores and
// password safes.
#pragma once

#include "ArchiveAnalysers.h"
#include "RawFileAnalyser.h"
#include "TextDocAnalysers.h"

namespace DatabaseTypes {
constexpr unsigned int kMDB = 39, kMNY = 40, kACCDB = 76, kFCPEVENT = 115, kABCDDB = 121, kMUSE = 128, kJKS = 135,
                       kPSAFE3 = 136, kSKETCH = 143, kSQLITE = 147;
}  // namespace DatabaseTypes

namespace BruteForce {

class CFCPEvtFileInfo : public CArchiveRawFileInfo {
public:
    static constexpr long long kMaxSize = 200000000;
    // Zero-filled or chained overflow pages in a row that end the file.
    static constexpr unsigned int kSuspiciousRun = 5;

    CFCPEvtFileInfo() : CArchiveRawFileInfo(nullptr, DatabaseTypes::kFCPEVENT) {}
    void WillBeRemove(unsigned char*, long long) override {}
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context) override;
    // Inside the pages the header counts.
    bool HoldsSector(long long sectorNumber, const SearchContext& context) override;

    // The first cell of the first page: its record names the first table.
    bool SchemaCheck(const SearchContext& context);
    // Two address-book record names among the cells of one page.
    static bool IsAddressBookPage(const unsigned char* page, unsigned int length, unsigned int cellCount);

    unsigned int m_dwPageSize = 0;
    long long m_llCurrentOffset = 0;
    unsigned int m_dwPageCount = 0;
    unsigned int m_dwRunStarted = 0;
    unsigned int m_dwSuspicious = 0;
    unsigned int m_dwLastChain = 0;
    unsigned int m_dwFreelistPages = 0;
    unsigned int m_dwCellContentStart = 0;
    unsigned int m_dwFirstCell = 0;
    bool m_bSchemaPending = true;
    // Page size times the header's page count when the count is valid (its
    // change counter matches), 0 when unknown.
    long long m_llStated = 0;

private:
    int End(long long sectorNumber);
    // Runs the first-table check once the first cell has been reached.
    void TrySchema(const SearchContext& context, int sectorSize);
};

class CFCPEvtAnalyser : public IRawFileAnalyser {
public:
    CFCPEvtAnalyser() : IRawFileAnalyser(RAW_ANALYSER_ID_PER_FILE) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new CFCPEvtFileInfo(); }
};

}  // namespace BruteForce

// Sizes an Access database from the device: pages of 4096 bytes until one
// that no database page starts like.
class FileMDBAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned long long kLimit = 0x6400000;

    FileMDBAnalyser() : IRawFileAnalyser(DatabaseTypes::kMDB) {}
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

// Money files state no size: a fixed megabyte is taken.
class FileMNYAnalyser : public IRawFileAnalyser {
public:
    FileMNYAnalyser() : IRawFileAnalyser(DatabaseTypes::kMNY) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
};

namespace RawSpeed {

class CMDBAnalyser : public IRawFileAnalyser {
public:
    CMDBAnalyser() : IRawFileAnalyser(DatabaseTypes::kMDB) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new CMDBRawFileInfo(&m_Fallback); }

    class CMDBRawFileInfo : public CArchiveRawFileInfo {
    public:
        static constexpr long long kPage = 4096;
        static constexpr long long kMaxSize = 2000000000;
        static constexpr unsigned int kEmptyRunEnd = 36;

        explicit CMDBRawFileInfo(IRawFileAnalyser* fallback) : CArchiveRawFileInfo(fallback, DatabaseTypes::kMDB) {}
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llMinSize = kPage;
        long long m_llMaxSize = kMaxSize;
        unsigned int m_dwPageSize = kPage;
        unsigned int m_dwEmptyRun = 0;
        unsigned int m_dwOddPage = 0;
        unsigned int m_dwPageTypeCheck = 1;
    };

private:
    FileMDBAnalyser m_Fallback;
};

// Keystores and password safes end where zero padding begins.
class JKSAnalyser : public IRawFileAnalyser {
public:
    JKSAnalyser() : IRawFileAnalyser(DatabaseTypes::kJKS) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new JKSRawFileInfo(); }

    class JKSRawFileInfo : public ZeroTailTextFileInfo {
    public:
        JKSRawFileInfo() : ZeroTailTextFileInfo(nullptr, 20, 0xA00000, 0) {}
        void WillBeRemove(unsigned char*, long long) override {}
    };
};

class PSAFE3Analyser : public IRawFileAnalyser {
public:
    PSAFE3Analyser() : IRawFileAnalyser(DatabaseTypes::kPSAFE3) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new PSAFE3RawFileInfo(); }

    class PSAFE3RawFileInfo : public ZeroTailTextFileInfo {
    public:
        PSAFE3RawFileInfo() : ZeroTailTextFileInfo(nullptr, 20, 52428800, 0) {}
        void WillBeRemove(unsigned char*, long long) override {}
    };
};

}  // namespace RawSpeed

IRawFileAnalyser* CreateFCPEvtAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateMDBAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateMNYAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateJKSAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreatePSAFE3Analyser(unsigned int analyserId);
