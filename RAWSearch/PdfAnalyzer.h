// PDF and Illustrator files: followed sector by sector to their last end
// mark, named, dated and labelled from their document information; a
// candidate the search has to drop is sized afterwards from the device.
#pragma once

#include "FileProperty.h"
#include "PdfTitleAnalyzer.h"
#include "RawFileAnalyser.h"

// Whole-file sizing of a PDF from the device.
class FilePDFAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kTypePdf = 50;
    static constexpr unsigned int kTypeAi = 5;
    // The end search gives up here.
    static constexpr unsigned long long kMaxScan = 0xD000001;

    FilePDFAnalyser() : IRawFileAnalyser(kTypePdf) {}

    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
    // 1 with the size rounded up to whole sectors, 0 when a window cannot be
    // read or no end is found.
    int GetRawFileSizeEx(CRawFileInfo& info, IStorageDevice* pDevice);
};

// The first sector of a PDF or of a PostScript-based Illustrator file;
// headLength bytes of the head are searched for the Illustrator marks.
bool IsPdfOrIllustratorHead(const unsigned char* head, size_t headLength);

namespace BruteForce {

class PdfAnalyzer : public IRawFileAnalyser {
public:
    PdfAnalyzer() : IRawFileAnalyser(FilePDFAnalyser::kTypePdf) {}
    ~PdfAnalyzer() override = default;

    // Sized only by streaming or by the owned fallback.
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class PdfRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMinSize = 20480;
        static constexpr long long kMaxSize = 200000000;

        explicit PdfRawFileInfo(FilePDFAnalyser* fallback) : m_pFallback(fallback) { m_dwType = FilePDFAnalyser::kTypePdf; }

        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        // Another file's header ends it: after a seen end its size is known.
        bool HoldsSector(long long, const SearchContext&) override { return false; }

        // Type 5 when data[0, length) holds an Illustrator PostScript head.
        void JudgeAI(const unsigned char* data, int length);
        // Names, dates and labels the candidate from the metadata.
        void PdfTagDealwith(FileProperty property, long long sectorNumber);

        long long m_llMinSize = kMinSize;
        bool m_bAICheckPending = true;
        bool m_bTwoSectors = false;
        long long m_llMaxSize = kMaxSize;
        bool m_bMetadataPending = true;
        // The end of the last update seen: past the "%%EOF" (and its end of
        // line) that follows a "startxref" pointing back inside the file; 0
        // none. The next "%%EOF" searched starts after m_llEofSearched.
        long long m_llUpdateEnd = 0;
        long long m_llEofSearched = -1;
        // A "%%EOF" whose end of line or following bytes were not in memory
        // yet: its offset (-1 none).
        long long m_llPendingEof = -1;
        FileProperty m_Property;
        PdfTitleAnalyzer m_TitleAnalyzer;

    private:
        // The update end of the "%%EOF" at file offset eof: 0 when no
        // "startxref" pointing back inside the file comes before it, -1
        // when the bytes after it are not in memory yet. more is set when
        // what follows may be a later update.
        long long UpdateEndAt(const SearchContext& context, long long eof, bool& more) const;
        // Follows the "%%EOF" marks up to the end of the fed sector: 1 when
        // the file ends, 2 when it goes on.
        int FollowUpdates(const SearchContext& context, long long sectorNumber, long long sectorSize);

        FilePDFAnalyser* m_pFallback;
    };

private:
    FilePDFAnalyser m_Fallback;
};

}  // namespace BruteForce

IRawFileAnalyser* CreatePdfAnalyzer(unsigned int analyserId);
