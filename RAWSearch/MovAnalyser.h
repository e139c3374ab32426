// QuickTime movies and ISO media files (MOV, MP4, M4A, M4V, 3GP, TREC):
// recognised by their leading "ftyp" box and followed box by box while the
// search runs; named after the camera text found in the movie.
#pragma once

#include <memory>
#include <string>

#include "RawBoxFileAnalyser.h"
#include "RawFileAnalyser.h"

// Whole-file sizing of an MP4 from the device by its top-level boxes.
class FileMP4Analyser : public IRawFileAnalyser {
public:
    FileMP4Analyser() : IRawFileAnalyser(44) {}

    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;

private:
    CRawBoxFileAnalyser m_boxWalker;
};

namespace BruteForce {

class MovAnalyzer : public IRawFileAnalyser {
public:
    static constexpr unsigned int kTypeMov = 42;
    static constexpr unsigned int kTypeHeic = 149;
    static constexpr unsigned int kTypeAvif = 150;
    static constexpr unsigned int kType3gp = 2;
    static constexpr unsigned int kTypeMp4 = 44;
    static constexpr unsigned int kTypeM4a = 45;
    static constexpr unsigned int kTypeM4v = 46;
    static constexpr unsigned int kTypeTrec = 138;

    MovAnalyzer() : IRawFileAnalyser(kTypeMov) {}

    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    // The type index the major brand (and, for some, the compatible brands)
    // of the ftyp box at sector names, or 0. Reads at most 512 bytes.
    static unsigned int getTypeByMajorBrand(const unsigned char* sector);

    class MovRawFileInfo : public CRawFileInfo {
    public:
        // sizer: the device sizer that takes over a candidate the walk could
        // not finish; may be null.
        MovRawFileInfo(RAW_FILE_TYPE type, IRawFileAnalyser* sizer) : m_pSizer(sizer) { m_dwType = type; }

        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        // Sets type, name, label and size from what the walk saw; the camera
        // text search needs the context and is skipped without it.
        void endSearch(long long sectorNumber, const SearchContext* context);
        // EXIF block in the first 1024 bytes of the movie box at file offset
        // boxOffset.
        void GetMovTagInfo(long long boxOffset, const SearchContext& context);
        // Camera text ("iPhone ", "iPad ") in the bytes around sectorNumber.
        void getCameraMakeName(long long sectorNumber, const SearchContext& context);

        long long m_llBoxOffset = 0;
        unsigned int m_dwMoovCount = 0;
        unsigned int m_dwIso = 0;
        unsigned int m_dwBoxCount = 0;
        unsigned char m_bIntel = 0;
        std::string m_strCameraMake;
        std::string m_strCameraModel;
        unsigned long long m_u64SectorSize = 512;

    private:
        // Reads the IFD at TIFF-header offset ifdOffset; tiffSector and
        // tiffWithin locate the TIFF header in the search's memory.
        void CheckIFD(long long tiffSector, long long tiffWithin, unsigned int ifdOffset,
                      const SearchContext& context);
        void SetMake(const std::string& make);

        IRawFileAnalyser* m_pSizer;
    };

protected:
    explicit MovAnalyzer(unsigned int id) : IRawFileAnalyser(id) {}
};

class Mp4Analyzer : public IRawFileAnalyser {
public:
    Mp4Analyzer();
    ~Mp4Analyzer() override;

    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    FileMP4Analyser* GetFileAnalyser() { return m_pFileAnalyser.get(); }

private:
    std::unique_ptr<FileMP4Analyser> m_pFileAnalyser;
};

class C3GPAnalyser : public MovAnalyzer {
public:
    C3GPAnalyser() : MovAnalyzer(kType3gp) {}

    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

}  // namespace BruteForce

// Camera text as names and labels keep it: upper-cased (a-z only), through
// the file-name filter, and empty when any character is outside letters,
// digits, space and , - . @ _.
std::string MovCameraText(const unsigned char* text, size_t maxLength);

IRawFileAnalyser* CreateMovAnalyzer(unsigned int analyserId);
IRawFileAnalyser* CreateMp4Analyzer(unsigned int analyserId);
IRawFileAnalyser* CreateC3GPAnalyser(unsigned int analyserId);
