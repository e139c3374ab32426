// A carved-file candidate: one file from its first sector until it becomes a
// node of the "(RAW Files)" or "(Label RAW Files)" tree.
#pragma once

#include <string>

class IRawFileAnalyser;

// Index into the extension table g_s_strFileExtName.
using RAW_FILE_TYPE = unsigned int;

// The metadata label a candidate carries; other values may be stored and are
// treated as "no label folder".
enum RAW_FILE_TAG : int {
    RAW_TAG_NONE = -1,
    RAW_TAG_ARTIST = 0,
    RAW_TAG_CAMERA = 1,
    RAW_TAG_OFFICE = 2,
    RAW_TAG_MOVIE_CAMERA = 3,
    RAW_TAG_PDF = 4,
    RAW_TAG_AI = 5,
};

constexpr unsigned int RAW_ANALYSER_ID_PER_FILE = 0xFFFFFFFFu;

class CRawFileInfo {
public:
    // What the searcher tells a probe or a streaming candidate about the
    // sector in hand.
    struct SearchContext {
        // First sector whose bytes are in memory (the block before the
        // current one), and the exclusive end of the current block.
        long long llLookBackStart = 0;
        long long llBlockEnd = 0;
        // 4 when the sector's first four bytes are zero, else 0.
        unsigned int dwLeadingZero = 0;
        // Zero bytes at the sector's end in whole 4-byte words, 0 to 32.
        unsigned int dwTrailingZero = 0;
        // The candidate opened at this very sector, null when none was or
        // when it is the candidate being fed.
        CRawFileInfo* pNewCandidate = nullptr;

        // The searcher's block memory: pBlockBase holds sector llBaseSector
        // at byte 0. It moves with every block; never keep a pointer into it.
        const unsigned char* pBlockBase = nullptr;
        long long llBaseSector = 0;
        unsigned int dwSectorSize = 512;

        // The only way to read bytes around the sector in hand: length bytes
        // at offset (may be negative or cross sectors) from the start of
        // absolute sector absSector. Null unless the whole range lies in
        // [llLookBackStart, llBlockEnd).
        const unsigned char* bytes(long long absSector, long long offset, long long length) const;

        // Sets dwLeadingZero and dwTrailingZero for one sector's bytes.
        void SetZeroCounts(const unsigned char* sector, unsigned int sectorSize);
        static unsigned int CountLeadingZero(const unsigned char* sector, unsigned int sectorSize);
        static unsigned int CountTrailingZero(const unsigned char* sector, unsigned int sectorSize);
    };

    CRawFileInfo() = default;
    CRawFileInfo(const CRawFileInfo&) = default;
    CRawFileInfo& operator=(const CRawFileInfo&) = default;
    virtual ~CRawFileInfo() = default;

    // True for a candidate that finds its own end sector by sector.
    virtual bool WhetherImplementGuess() { return false; }
    // The searcher stops feeding this candidate: the sector in hand, or null
    // and -1 at the end of the search.
    virtual void WillBeRemove(unsigned char* /*sector*/, long long /*sectorNumber*/) {}
    // Feeds one more sector: 1 finished (size 0: the owner sizes it), 2 more.
    virtual int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context);
    // Another file's header starts at sectorNumber: true when this open
    // candidate's own structure places that sector inside it (an entry
    // stored in an archive, a picture inside a container). When false the
    // candidate ends before that sector.
    virtual bool HoldsSector(long long /*sectorNumber*/, const SearchContext& /*context*/) { return false; }
    // True when a header of this candidate's own format at sectorNumber is
    // one of this file's records (a tar member, a ZIP entry where the walk
    // expects it): it starts no file of its own.
    virtual bool OwnRecordAt(long long /*sectorNumber*/, const SearchContext& /*context*/) { return false; }

    void SetRawFileName(std::string name);
    std::string GetRawFileName();
    void SetRawFileTagAndValue(RAW_FILE_TAG tag, std::string value);
    void GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value);

    long long m_llStartSector = 0;
    long long m_llSize = 0;
    RAW_FILE_TYPE m_dwType = 0;
    unsigned int m_dwAnalyserID = 0xFFFF;
    std::string m_strName;
    std::string m_strTime;
    RAW_FILE_TAG m_eTag = RAW_TAG_NONE;
    std::string m_strTagValue;
    // Asked for the whole-file size when the candidate cannot finish by
    // itself; not owned.
    IRawFileAnalyser* m_pOwner = nullptr;
    // Bytes from the start at which another file's header ended this
    // candidate (0 none): no size given later reaches past it unless the
    // end came from the file's own structure (m_bExactEnd).
    long long m_llHeaderBound = 0;
    bool m_bExactEnd = false;
    // End-detection state of streaming candidates; the base never uses them.
    long long m_llWork1 = 0;
    long long m_llWork2 = 0;
};
