// Compressed files and archives: gzip streams, RAR (version 4 blocks),
// LHA/LZH, StuffIt and StuffIt X, tar and cabinet files. The streaming
// analysers find the end while the search runs; each owns a whole-file
// partner that sizes a candidate from the device when it could not finish.
#pragma once

#include <string>

#include "GzipMemberWalk.h"
#include "RawFileAnalyser.h"

class RawFileBuffer;

namespace ArchiveTypes {
constexpr unsigned int kCAB = 12, kGZ = 31, kLZH = 36, kRAR = 58, kTAR = 63, kSIT = 92, kSITX = 93;
}  // namespace ArchiveTypes

// The gzip header test: 1f 8b 08, flags below 32, operating system below 14.
bool IsValidGzHeader(const unsigned char* p);

// A tar size field: up to 12 octal digits, most significant first; padding
// before them counts 0 and the first character after them ends the number.
unsigned long long OctStringToint(const unsigned char* field);

class classRarSearch {
public:
    // The size of the RAR block whose header is at p (avail bytes readable),
    // -1 when it is not a valid block.
    static long long GetBlockSize(const unsigned char* p, long long avail);
    static bool IsEndBlock(const unsigned char* p);
};

// ---- whole-file partners ---------------------------------------------------------

class FileGZAnalyser : public IRawFileAnalyser {
public:
    static constexpr long long kNameLimit = 0x1400001;
    static constexpr long long kLimit = 0xD000000;

    FileGZAnalyser() : IRawFileAnalyser(ArchiveTypes::kGZ) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

class FileRARAnalyser : public IRawFileAnalyser {
public:
    static constexpr long long kLimit = 0xD000000;

    FileRARAnalyser() : IRawFileAnalyser(ArchiveTypes::kRAR) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

class FileLZHAnalyser : public IRawFileAnalyser {
public:
    static constexpr long long kLimit = 0xD000000;
    static constexpr int kMaxHeaders = 2048;

    FileLZHAnalyser() : IRawFileAnalyser(ArchiveTypes::kLZH) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

class FileSITAnalyser : public IRawFileAnalyser {
public:
    static constexpr long long kLimit = 0x82000000LL;

    FileSITAnalyser() : IRawFileAnalyser(ArchiveTypes::kSIT) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

class FileTARAnalyser : public IRawFileAnalyser {
public:
    static constexpr long long kLimit = 0xD000000;

    FileTARAnalyser() : IRawFileAnalyser(ArchiveTypes::kTAR) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

// Cabinet files state their size in their header.
class FileCABAnalyser : public IRawFileAnalyser {
public:
    FileCABAnalyser() : IRawFileAnalyser(ArchiveTypes::kCAB) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
};

// ---- streaming analysers ------------------------------------------------------------

// What the streaming archive candidates share: the partner that sizes them
// when they cannot finish, and how they finish.
class CArchiveRawFileInfo : public CRawFileInfo {
public:
    CArchiveRawFileInfo(IRawFileAnalyser* partner, unsigned int type) : m_pPartner(partner) { m_dwType = type; }

    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_pOwner = m_pPartner; }

protected:
    // Stores the "start-sector_" stem (or the name the file carries) and the
    // size; returns 1.
    int Finish(long long sectorNumber, long long size, const std::string& name = {});
    // Finished without a size: the partner sizes it.
    int GiveUp();
    // The fed sector's offset in the file, -1 for a sector it cannot use.
    long long FedOffset(const unsigned char* sector, int sectorSize, long long sectorNumber,
                        int minimumSectorSize) const;

private:
    IRawFileAnalyser* m_pPartner;
};

namespace RawSpeed {

class GZAnalyzer : public IRawFileAnalyser {
public:
    GZAnalyzer() : IRawFileAnalyser(ArchiveTypes::kGZ) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class GZRawFileInfo : public CArchiveRawFileInfo {
    public:
        static constexpr long long kMinEnd = 20;
        static constexpr long long kMaxSize = 400000000;

        explicit GZRawFileInfo(IRawFileAnalyser* partner) : CArchiveRawFileInfo(partner, ArchiveTypes::kGZ) {}
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;
        // The next member's header right after a member's trailer.
        bool OwnRecordAt(long long sectorNumber, const SearchContext& context) override;

        long long m_llMinEnd = kMinEnd;
        long long m_llMaxSize = kMaxSize;
        // The file name of the header, when it has one.
        std::string m_strStoredName;
        // The members' deflate streams; once damaged, the end is the first
        // sector that ends in zeros.
        GzipMemberWalk m_Walk;
    };

private:
    FileGZAnalyser m_Partner;
};

class RARAnalyser : public IRawFileAnalyser {
public:
    RARAnalyser() : IRawFileAnalyser(ArchiveTypes::kRAR) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class RARRawFileInfo : public CArchiveRawFileInfo {
    public:
        static constexpr long long kMaxSize = 0x40000000;

        explicit RARRawFileInfo(IRawFileAnalyser* partner) : CArchiveRawFileInfo(partner, ArchiveTypes::kRAR) {}
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llNextBlock = 7;
        long long m_llMaxSize = kMaxSize;
        bool m_bFirstBlock = true;
        bool m_bChain = true;
    };

private:
    FileRARAnalyser m_Partner;
};

class SITAnalyser : public IRawFileAnalyser {
public:
    SITAnalyser() : IRawFileAnalyser(ArchiveTypes::kSIT) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class SITRawFileInfo : public CArchiveRawFileInfo {
    public:
        static constexpr long long kMaxSize = 2000000000;

        explicit SITRawFileInfo(IRawFileAnalyser* partner) : CArchiveRawFileInfo(partner, ArchiveTypes::kSIT) {}
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        bool m_bClassic = true;
        bool m_bJudgePending = true;
        bool m_b16ByteHeader = false;
        long long m_llMaxSize = kMaxSize;
    };

private:
    FileSITAnalyser m_Partner;
};

class TARAnalyser : public IRawFileAnalyser {
public:
    TARAnalyser() : IRawFileAnalyser(ArchiveTypes::kTAR) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class TARRawFileInfo : public CArchiveRawFileInfo {
    public:
        explicit TARRawFileInfo(IRawFileAnalyser* partner) : CArchiveRawFileInfo(partner, ArchiveTypes::kTAR) {}
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;
        // Ended by another file's header: an archive whose end blocks were
        // seen keeps them.
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        // Inside a member's data or at the next member header, or in the
        // end blocks and record padding.
        bool HoldsSector(long long sectorNumber, const SearchContext& context) override;
        // The member header the walk expects next.
        bool OwnRecordAt(long long sectorNumber, const SearchContext& context) override;

        // The next member header's offset.
        long long m_llNextHeader = 0;
        // Past the two zero blocks that end the archive (-1 not seen yet),
        // and the end of the record they lie in: zero bytes up to it are
        // the archive's record padding.
        long long m_llArchiveEnd = -1;
        long long m_llRecordEnd = -1;
    };

private:
    FileTARAnalyser m_Partner;
};

}  // namespace RawSpeed

namespace Brance {

class LZHAnalyser : public IRawFileAnalyser {
public:
    LZHAnalyser() : IRawFileAnalyser(ArchiveTypes::kLZH) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class LZHRawFileInfo : public CArchiveRawFileInfo {
    public:
        static constexpr long long kMaxSize = 0xC800000;
        static constexpr int kMaxHeadersPerSector = 1024;

        explicit LZHRawFileInfo(IRawFileAnalyser* partner) : CArchiveRawFileInfo(partner, ArchiveTypes::kLZH) {}
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;
        // Walks the headers that lie in memory up to the end of this sector;
        // true while the archive goes on.
        bool bContinue(const SearchContext& context, long long sectorEnd);

        long long m_llNextHeader = 0;
        bool m_bLevelTwo = false;
        bool m_bStepBack = false;
        long long m_llSectorEnd = 0;
        long long m_llMaxSize = kMaxSize;
        long long m_llEnd = 0;
        bool m_bLost = false;
    };

private:
    FileLZHAnalyser m_Partner;
};

}  // namespace Brance

IRawFileAnalyser* CreateGZAnalyzer(unsigned int analyserId);
IRawFileAnalyser* CreateRARAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateLZHAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateSITAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateTARAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateCABAnalyser(unsigned int analyserId);
