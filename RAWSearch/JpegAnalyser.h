// JPEG pictures: followed marker by marker while the search runs, ended at
// their end marker, named after the camera; a candidate that does not find
// its end is sized afterwards from the device.
#pragma once

#include <memory>
#include <string>

#include "RawFileAnalyser.h"

class RawFileBuffer;

// Whole-file sizing of a JPEG from the device: reads its EXIF block for a
// name and a time, walks its markers to the scan data and searches the end
// marker sector by sector from there.
class FileJPGAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 35;
    // How far a picture may reach, by the kind of its header.
    static constexpr long long kJfifLimit = 436207616;
    static constexpr long long kOtherLimit = 218103808;

    FileJPGAnalyser() : IRawFileAnalyser(kType) {}

    // 1 with the size set; 0 when the structure is broken or a read fails.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    std::string GetRawFileName() override { return m_strName; }
    std::string GetRawFileTime() override { return m_strTime; }
    // The label of the last sized picture: 1 and the camera name, or -1.
    void GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value);

    // The end search from the file offset position: the offset just past
    // the end marker, or where the search stopped (bound, read failure).
    long long AddFileSizeByPerSecSize(RawFileBuffer& buffer, long long position, long long bound);

private:
    // Reads the EXIF block at offset of the first window; fills the stored
    // name, time and tag and the candidate's name and time.
    void ReadExif(unsigned char* head, unsigned int offset, unsigned int length, CRawFileInfo& info);

    unsigned int m_dwSectorSize = 512;
    std::string m_strName;
    std::string m_strTime;
    RAW_FILE_TAG m_eTag = RAW_TAG_NONE;
    std::string m_strTagValue;
};

namespace BruteForce {

class JpegAnalyzer : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    static constexpr unsigned int kType = FileJPGAnalyser::kType;
    // The structure check gives up after this many markers.
    static constexpr int kMaxProbeMarkers = 20480;

    JpegAnalyzer();
    ~JpegAnalyzer() override;

    // Its candidates are sized by the whole-file analyser once they stop
    // being fed.
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                        long long contextStart, long long contextEnd) override;

    FileJPGAnalyser* GetFileAnalyser() { return m_pFileAnalyser.get(); }

    class JpegRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMaxExif = 52428800;
        static constexpr long long kMaxOther = 20971520;
        // EXIF directories read per candidate.
        static constexpr int kMaxExifDirectories = 7;

        explicit JpegRawFileInfo(FileJPGAnalyser* fileAnalyser) : m_pFileAnalyser(fileAnalyser) {}

        bool WhetherImplementGuess() override { return true; }
        // Hands the candidate to the whole-file analyser.
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;
        // Inside a header segment the walk skips (an EXIF block with its
        // thumbnail) or a segment between scans.
        bool HoldsSector(long long sectorNumber, const SearchContext& context) override;

        // Reads camera, time and picture size from an EXIF block in memory
        // (beginning with "Exif" 00 00, length bytes).
        void FindExifCameraInfo(const unsigned char* block, unsigned int length);

        // Without a marker walk that reached the scan data, no end marker is
        // taken in an Exif picture before the candidate covers more than
        // this: an embedded thumbnail has one of its own.
        long long m_llMinSize = 1024;
        // Width x height of the main picture, 0 when unknown.
        unsigned long long m_u64PixelEstimate = 0;
        long long m_llMaxSize = kMaxExif;
        // File offset of the next marker to read; 0 once the walk is over.
        long long m_llMarkerPos = 0;
        int m_iExif = 0;
        int m_iExifDepth = 0;
        long long m_llLastFed = -1;
        // File offset of the scan data's start, once the walk got there.
        long long m_llScanStart = 0;
        // An end marker that closed the last fed sector with fewer than four
        // zero bytes after it: file offset past it, and how many leading
        // bytes of the next sector must be zero to confirm it.
        long long m_llPendingEnd = 0;
        int m_iPendingZeros = 0;
        bool m_bExifRead = false;
        bool m_bMakeKnown = false;
        // The entropy-coded data followed byte by byte from the scan start:
        // the next file offset to look at (0 before the scan data), the end
        // of the last marker segment skipped, and whether the data broke
        // the rules (then the end is guessed as before).
        long long m_llScanPos = 0;
        long long m_llSegmentEnd = 0;
        bool m_bScanBroken = false;

    private:
        // Follows the markers that begin in the sectors fed so far.
        void WalkMarkers(const SearchContext& context, long long covered, long long sectorSize);
        // Whether an end marker whose end lies at file offset end may end
        // the picture; covered counts the bytes before its sector.
        bool EndAccepted(long long end, long long covered) const;
        // Follows the scan data and the segments between scans up to file
        // offset limit: the offset past the end marker, 0 when it lies
        // further on, -1 when the data is not a JPEG scan.
        long long ScanEntropy(const SearchContext& context, long long limit);
        // Sets name, tag and size; end sector is where the picture ends.
        int Finish(long long endSector, long long size);

        FileJPGAnalyser* m_pFileAnalyser;
        long long m_llWidth = 0;
    };

private:
    std::unique_ptr<FileJPGAnalyser> m_pFileAnalyser;
};

}  // namespace BruteForce

IRawFileAnalyser* CreateJpegAnalyzer(unsigned int analyserId);
