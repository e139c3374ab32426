// ZIP archives and the formats built on them (open-XML office documents,
// OpenDocument files, EPUB books, iWork documents, application packages...):
// followed header by header while the search runs, or sized afterwards from
// the device; the kind told from the entry names.
#pragma once

#include <string>

#include "FileProperty.h"
#include "OfficeCoreProperties.h"
#include "RawFileAnalyser.h"

// What the walkers learn from one ZIP record.
struct ZipBlockInfo {
    // The record's counted length.
    unsigned int dwLength = 0;
    std::string strName;
    // Local headers only: the general-purpose flags.
    unsigned short wFlags = 0;
    bool bLocal = false;
    bool bEndRecord = false;
    bool bCoreXml = false;
    tagZipLocalFileHeader header;
};

// What entry names tell of an archive's kind: an open-XML package's parts,
// an application package's or a Java archive's entries.
struct ZipEntryNames {
    bool bContentTypes = false;
    unsigned int dwOffice = 0;
    bool bManifest = false;
    bool bAndroid = false;
    bool bPayloadApp = false;

    void Add(const std::string& name);
    // The package kind of a plain archive (or an application-package guess)
    // by the names seen; complete: every name of the archive was seen, so a
    // guess the names do not bear out falls back to a plain archive.
    unsigned int PackageKind(unsigned int type, bool complete) const;
};

class classZipSearch {
public:
    // Record results of GetBlockSize.
    static constexpr int kBlockFailed = 0;
    static constexpr int kBlockKnown = 1;
    // The record (its name, or the bytes the type rules look at) reaches
    // past the bytes given; streaming only.
    static constexpr int kBlockNeedMore = 2;

    // One of the five record signatures; a local header also needs method
    // at most 10 and a name of at most 4,096 bytes. available bytes at p.
    static bool IsValidHeader(const unsigned char* p, size_t available);
    // Length, entry name and type of the record at p, of which available
    // bytes are readable. streaming selects the rules of the streaming walk.
    static int GetBlockSize(const unsigned char* p, size_t available, bool streaming, bool office, unsigned int& type,
                            ZipBlockInfo& block);
};

class FileZIPAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 72;
    static constexpr unsigned int kTypeIpa = 118;
    static constexpr unsigned int kTypeCdr = 13;
    static constexpr long long kMaxWalk = 0x104000000LL;
    static constexpr long long kMaxTail = 0xC800000LL;
    static constexpr long long kMaxEndSearch = 0xD000000LL;
    // How far past a guessed end (an end record whose directory does not
    // agree with the start) the search for an agreeing one goes on.
    static constexpr long long kMaxPastGuess = 0x1000000LL;

    FileZIPAnalyser() : IRawFileAnalyser(kType) {}

    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    // The end of an archive whose sizes are in data descriptors: the end
    // record from offset on whose directory agrees with the archive's start
    // (else the first one in a zero-tailed 512-byte window). Sets
    // m_llEndRecord to the record's offset (-1 none).
    long long GetProbablySize(long long offset, CRawFileInfo& info, IStorageDevice* device);

    // The first entry's name (at offset 30 of a local header in a sector of
    // at least 512 bytes) starts an application package.
    static bool ZipIpaFileType(const unsigned char* sector);
    // Whole-file form: sets the two flags below from the first entry.
    void JudgeMaybeOfficeType(const unsigned char* sector);
    // Streaming form.
    static void JudgeMaybeOfficeType(const unsigned char* sector, int length, bool& office, bool& cdr);

    bool m_bMaybeOffice = false;
    bool m_bCdr = false;
    long long m_llEndRecord = -1;

    class ZIPRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kLimit = 200000000;
        static constexpr long long kOfficeLimit = 20000000;

        ZIPRawFileInfo() { m_dwType = kType; }

        bool WhetherImplementGuess() override { return true; }
        // Names the candidate; its owner, the whole-file analyser, sizes it.
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;
        // Inside an entry whose size the walk knows.
        bool HoldsSector(long long sectorNumber, const SearchContext& context) override;
        // The local header the walk expects next.
        bool OwnRecordAt(long long sectorNumber, const SearchContext& context) override;

        // 0 when the record at p is valid (the walk moves past it), 1 when
        // not, 2 when it reaches past the available bytes.
        int CheckZIPBlock(const unsigned char* p, size_t available, unsigned int& length, int& isCoreXml,
                          tagZipLocalFileHeader& header);
        void FillFileInfo(long long sector, int sectorSize, int zeroTail);
        // The kind from the first "word/", "ppt/" or "xl/" after a zero byte.
        void JudeOleType(const unsigned char* buffer, int length);
        void SetFileModifiTime(const unsigned char*) { m_strTime.clear(); }

        bool m_bOffice = false;
        bool m_bNameTaken = false;
        bool m_bWalking = true;
        long long m_llNextHeader = 0;
        // The core-properties entry whose data was not yet in memory: its
        // header's offset in the file (-1 none).
        long long m_llDeferSector = -1;
        long long m_llDeferOffset = -1;
        long long m_llLimit = kLimit;
        tagZipLocalFileHeader m_CoreHeader;
        FileProperty m_Property;
        int m_iTagDone = 0;
        unsigned int m_dwSubType = kType;
        // The end the walk reached so far; set as the size on finishing.
        long long m_llWalkSize = 0;
        bool m_bDone = false;
        // Ended by its end record (walked to it, or one whose directory
        // agrees with the start).
        bool m_bEndSeen = false;
        // The names of the records walked; complete once the walk reached
        // the end record.
        ZipEntryNames m_Names;
        bool m_bNamesComplete = false;

    private:
        void ReadCoreProperties(long long headerOffset, SearchContext& context);
        // The kind from the central directory's names, where it is in memory.
        bool ReadCentralNames(long long endRecord, unsigned int directoryOffset, unsigned int directorySize,
                              SearchContext& context);
    };
};

IRawFileAnalyser* CreateZIPAnalyser(unsigned int analyserId);
