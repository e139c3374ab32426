// Text documents and early word-processor files: RTF and HTML pages (8-bit
// and UTF-16), ending in the first zero-padded sector or sized by their own
// end marks; OneNote sections, sized from their header lengths; early Word
// files, sized from their header at the probe.
#pragma once

#include "RawFileAnalyser.h"

// ---- whole-file sizers ------------------------------------------------------

class FileRTFAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 60;
    static constexpr long long kMaxWalk = 0xD000000;

    FileRTFAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // Counts braces to the close of the outermost group.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FileHTMAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 33;
    static constexpr unsigned long long kMaxSearch = 0x100000;

    FileHTMAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // Searches "</html>"; the size is rounded up to whole device sectors.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FileUnicodeHTMAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 33;
    static constexpr long long kMaxScan = 0x100000;

    FileUnicodeHTMAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // Scans UTF-16 characters for "</html>".
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FileONEAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 49;
    static constexpr long long kMaxSize = 0x1A000000;

    FileONEAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // Adds up the lengths of the sections that follow one another.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;

    // The file length a section header gives: offset 196, else offset 100.
    static long long SectionFileLength(const unsigned char* header);
    // Bytes 4-15 of the section identifier stand at p + 4.
    static bool HasSectionIdentifier(const unsigned char* p);
};

class FileLowDocAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 23;

    FileLowDocAnalyser() : IRawFileAnalyser(kType) {}
    // Accepts always; the size comes from the header.
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

// ---- streaming analysers --------------------------------------------------------

namespace RawSpeed {

// The zero-tail rule: the file ends in the first later sector with at least
// 8 zero bytes at its end.
class ZeroTailTextFileInfo : public CRawFileInfo {
public:
    ZeroTailTextFileInfo(IRawFileAnalyser* fallback, long long minimum, long long limit, int extra)
        : m_llMinimum(minimum), m_llLimit(limit), m_iExtra(extra), m_pFallback(fallback)
    {
    }

    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_pOwner = m_pFallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context) override;

    long long m_llMinimum;
    long long m_llSecond = 0;
    long long m_llLimit;
    // Bytes added to the data's end (1 for RTF).
    int m_iExtra;
    // UTF-16 text ends on a whole character.
    bool m_bWide = false;

    // How an 8-bit text of the kind closes: its outermost group's closing
    // brace (RTF), or its closing tag (HTML), then one end of line. A NUL
    // or another control byte is never part of such a text.
    enum TextEnd { kNoTextEnd, kBraceEnd, kTagEnd };
    TextEnd m_eTextEnd = kNoTextEnd;

protected:
    // Follows the text through the fed sector: 1 when it ended (the size
    // set), 2 when it goes on or the kind has no such end.
    int FollowText(const unsigned char* sector, long long sectorSize, long long sectorNumber,
                   const SearchContext& context);

    IRawFileAnalyser* m_pFallback;

private:
    // The end after a closing mark whose last byte is at file offset last.
    int CloseAfter(long long last, const SearchContext& context);

    int m_iDepth = 0;
    bool m_bEscape = false;
    size_t m_iTagMatch = 0;
    // A closing mark at the end of the memory: its last byte's offset.
    long long m_llPendingClose = -1;
};

class RTFAnalyser : public IRawFileAnalyser {
public:
    RTFAnalyser() : IRawFileAnalyser(FileRTFAnalyser::kType) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class RTFRawFileInfo : public ZeroTailTextFileInfo {
    public:
        explicit RTFRawFileInfo(IRawFileAnalyser* fallback) : ZeroTailTextFileInfo(fallback, 20, 314572800, 1)
        {
            m_eTextEnd = kBraceEnd;
        }
        // The length of the sector's content before its trailing zeros.
        static int Binary_Compare(const unsigned char* sector, int length);
    };

private:
    FileRTFAnalyser m_Fallback;
};

class HTMLAnalyser : public IRawFileAnalyser {
public:
    HTMLAnalyser() : IRawFileAnalyser(FileHTMAnalyser::kType) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class HTMLRawFileInfo : public ZeroTailTextFileInfo {
    public:
        HTMLRawFileInfo(IRawFileAnalyser* fallback, IRawFileAnalyser* wideFallback)
            : ZeroTailTextFileInfo(fallback, 20, 0x100000, 0), m_pWideFallback(wideFallback)
        {
            m_eTextEnd = kTagEnd;
        }
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;
        // A UTF-16 page goes to the UTF-16 sizer.
        void WillBeRemove(unsigned char*, long long) override { m_pOwner = m_bWide ? m_pWideFallback : m_pFallback; }

    private:
        IRawFileAnalyser* m_pWideFallback;
    };

private:
    FileHTMAnalyser m_Fallback;
    FileUnicodeHTMAnalyser m_WideFallback;
};

class OneAnalyser : public IRawFileAnalyser {
public:
    OneAnalyser() : IRawFileAnalyser(FileONEAnalyser::kType) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class ONERawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kLimit = 400000000;

        explicit ONERawFileInfo(IRawFileAnalyser* fallback) : m_pFallback(fallback) {}
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char*, long long) override { m_pOwner = m_pFallback; }
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llEnd = 20;
        long long m_llLimit = kLimit;
        bool m_bFirstCall = true;

    private:
        IRawFileAnalyser* m_pFallback;
    };

private:
    FileONEAnalyser m_Fallback;
};

}  // namespace RawSpeed

IRawFileAnalyser* CreateRTFAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateHTMLAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateUnicodeHTMAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateOneAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateLowDocAnalyser(unsigned int analyserId);
