// Mail stores and messages: Outlook Express folders, Outlook stores, mbox
// files and single messages saved by a mail client.
#pragma once

#include "ArchiveAnalysers.h"
#include "RawFileAnalyser.h"

namespace MailTypes {
constexpr unsigned int kDBX = 21, kPST = 56, kEMLX = 116, kMBOX = 126;
}  // namespace MailTypes

// Outlook stores keep their size in the header, at a place that depends on
// the format version.
class FilePSTAnalyser : public IRawFileAnalyser {
public:
    static constexpr long long kUnknownVersionSize = 0x100000;

    FilePSTAnalyser() : IRawFileAnalyser(MailTypes::kPST) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
};

// A message whose first line is its length in decimal.
class FileEMLXAnalyser : public IRawFileAnalyser {
public:
    FileEMLXAnalyser() : IRawFileAnalyser(MailTypes::kEMLX) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
};

// mbox files are sized from the device: the last message ends in a blank
// line after a closing mark, followed by zero padding.
class FileMboxAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned long long kLimit = 0xD000000;
    static constexpr unsigned int kStep = 512;

    FileMboxAnalyser() : IRawFileAnalyser(MailTypes::kMBOX) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

namespace RawSpeed {

class DbxAnalyser : public IRawFileAnalyser {
public:
    DbxAnalyser() : IRawFileAnalyser(MailTypes::kDBX) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // No whole-file partner: a candidate that cannot finish is dropped.
    CRawFileInfo* CreateRawFileInfo() override { return new DBXRawFileInfo(nullptr); }

    class DBXRawFileInfo : public CArchiveRawFileInfo {
    public:
        static constexpr long long kMaxSize = 500000000;

        explicit DBXRawFileInfo(IRawFileAnalyser* fallback) : CArchiveRawFileInfo(fallback, MailTypes::kDBX) {}
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llMaxSize = kMaxSize;
        bool m_bZeroTail = false;
        bool m_bFirstSector = true;
    };
};

}  // namespace RawSpeed

IRawFileAnalyser* CreateDbxAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreatePSTAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateMboxAnalyser(unsigned int analyserId);
