// Compound documents (old Word, Excel, PowerPoint and a dozen formats on the
// same container): sized from their FAT, their kind told from the first
// directory entries, named from a summary-information set that passes by.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FileProperty.h"
#include "OleSummaryInformation.h"
#include "RawFileAnalyser.h"

class FileOLEAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 48;
    static constexpr unsigned int kTypeUnknownKind = 41;
    // A file whose directory cannot be read is kept only below this size.
    static constexpr long long kMaxSizeWithoutDirectory = 0xA00000;
    // The DIFAT walk gives up after this many sectors (far beyond any file
    // the 32-bit sector numbers can describe with 512-byte sectors).
    static constexpr unsigned int kMaxDifatSectors = 0x10000;

    FileOLEAnalyser() : IRawFileAnalyser(kType) {}

    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;

    // Sets info's type from the directory entries in length bytes.
    static void CheckSectDirData(const unsigned char* entries, int length, CRawFileInfo* info, unsigned long long&);
    // Reads count 512-byte units of the file at OLE position unit (in units
    // of the OLE sector size, the header being 0) into buffer.
    int Simulate512ReadSector(unsigned char* buffer, unsigned long long startSector, unsigned long long unit,
                              unsigned int count, IStorageDevice* device);

    // The device sectors per OLE sector, set for each whole-file sizing.
    unsigned int m_dwSectorsPerOle = 1;

    class OleRawFileInfo : public CRawFileInfo {
    public:
        OleRawFileInfo() { m_dwType = kType; }

        bool WhetherImplementGuess() override { return true; }
        // The owner stays the whole-file analyser of this format.
        void WillBeRemove(unsigned char*, long long) override {}
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        void CheckStorageHeader(const unsigned char* sector, int sectorSize);
        // One DIFAT sector's bytes (length of them).
        void CheckSectDifStart(const unsigned char* slice, int length);
        void SetFileName(FileProperty& property);
        void SetFileTag(std::string value);

        FileProperty m_Property;
        CSummaryInFormation m_Summary;
        bool m_bFinished = false;
        bool m_bSummaryFound = false;
        bool m_bFatListComplete = false;
        bool m_bNoDifat = false;
        // Set when the stream passed a structure it could not read: the
        // whole-file sizing then sizes the candidate.
        bool m_bLost = false;
        bool m_bDirectoryExamined = false;
        unsigned int m_dwSectorsPerOle = 1;
        unsigned int m_dwOleSectorSize = 512;
        // File offsets of the FAT sectors in list order, of the next DIFAT
        // sector and of the first directory sector (-1: none or done).
        std::vector<long long> m_vFatSectors;
        long long m_llNextDifat = -1;
        long long m_llDirectory = -1;
        unsigned int m_dwDifatSeen = 0;
        // The size the FAT gives, kept apart until the directory is seen.
        long long m_llFatSize = 0;
    };
};

IRawFileAnalyser* CreateOLEAnalyser(unsigned int analyserId);
