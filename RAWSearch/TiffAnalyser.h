// TIFF pictures and the camera-raw formats built on TIFF directories: the
// directories are walked while the search runs to find how far the file
// reaches, the raw format is told from the camera make, and the file is
// named after make and model. A candidate that loses its way is sized
// afterwards from the device.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "RawFileAnalyser.h"

class RawFileBuffer;

// The type indexes this family gives its files.
namespace TiffTypes {
constexpr unsigned int kTIF = 64, kNEF = 77, kCR2 = 83, kSR2 = 84, kARW = 85, kRAW = 86, kRW2 = 87, kDNG = 88,
                       kRAF = 89, kDCR = 97, kKDC = 98, k3FR = 99, kERF = 100, kMEF = 101, kPEF = 104, kSRW = 106,
                       kORF = 107;
}  // namespace TiffTypes

// The raw type a camera make (upper-cased) and model give; current when no
// make matches. iiu: the file has the 49 49 55 00 header.
unsigned int TiffTypeFromCamera(const std::string& make, const std::string& model, bool iiu, unsigned int current);

// Whole-file sizing of a TIFF-structured file from the device.
class FileTIFAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = TiffTypes::kTIF;
    // Offsets beyond this end the directory chain.
    static constexpr long long kMaxOffset = 1308622848;
    // The size given when the walk's end is not believable.
    static constexpr long long kFallbackSize = 130862284;
    static constexpr long long kSmallEnd = 10240;
    // Below this the end is taken where a sector ends in zero bytes.
    static constexpr long long kZeroSearchBelow = 1048576;
    static constexpr long long kZeroSearchLimit = 43620762;
    static constexpr int kMaxSubDirectories = 14;
    static constexpr unsigned int kMaxEntries = 512;
    // Where the TIFF part of a RAF file begins.
    static constexpr long long kRafTiffBase = 160;

    FileTIFAnalyser() : IRawFileAnalyser(kType) {}

    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    std::string GetRawFileName() override { return m_strName; }
    std::string GetRawFileTime() override { return m_strTime; }
    void GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value);
    void GetThumbStartAndSize(unsigned long long& start, unsigned long long& size);

    // The walk: the file's size in bytes, 0 when a read it needs fails.
    long long GetTiffSize(CRawFileInfo& info, RawFileBuffer& buffer, unsigned int sectorSize);

private:
    struct Entry {
        uint16_t wTag = 0;
        uint16_t wType = 0;
        uint32_t dwCount = 0;
        uint32_t dwValue = 0;
        unsigned char byRaw[4] = {};
    };
    struct Walk;

    bool ReadAt(RawFileBuffer& buffer, long long offset, void* out, unsigned int length);
    bool ReadEntry(RawFileBuffer& buffer, long long offset, Entry& entry);
    // Element index of an entry's values (inline or at its offset).
    bool ReadElement(RawFileBuffer& buffer, const Entry& entry, uint32_t index, uint32_t& out);
    std::string ReadText(RawFileBuffer& buffer, const Entry& entry);
    // One directory at file offset dir; false when it is not a directory.
    // linkEnd receives the end of its next-directory link, next the link.
    bool WalkDirectory(Walk& walk, RawFileBuffer& buffer, long long dir, bool mainChain, int depth,
                       long long& next, long long& linkEnd);
    void WalkSubDirectory(Walk& walk, RawFileBuffer& buffer, long long dir, int depth);
    void ReadRafHeader(Walk& walk, RawFileBuffer& buffer, CRawFileInfo& info);
    long long ZeroEndedSize(RawFileBuffer& buffer, long long size, unsigned int sectorSize);

    bool m_bLittleEndian = true;
    unsigned long long m_u64ThumbStart = 0;
    unsigned long long m_u64ThumbSize = 0;
    bool m_bRAF = false;
    bool m_bDNG = false;
    bool m_bNikon = false;
    bool m_bEpson = false;
    bool m_bSonyA100 = false;
    std::string m_strMake;
    std::string m_strName;
    std::string m_strModel;
    std::string m_strTime;
    RAW_FILE_TAG m_eTag = RAW_TAG_NONE;
    std::string m_strTagValue;
};

namespace BruteForce {

class TiffAnalyzer : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = TiffTypes::kTIF;

    TiffAnalyzer() : IRawFileAnalyser(kType) {}
    ~TiffAnalyzer() override = default;

    // Its candidates are sized by the whole-file analyser when they cannot
    // finish by themselves.
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    FileTIFAnalyser* GetFileAnalyser() { return &m_FileAnalyser; }

    class TiffRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kNoArea = -2147483648LL;
        static constexpr int kMaxDirectories = 11;
        static constexpr int kMaxChainInSector = 1024;
        static constexpr unsigned int kMaxEntries = 512;
        static constexpr long long kFarFirstDirectory = 4194305;
        static constexpr long long kMaxArea = 209715199;
        static constexpr long long kBigEnd = 10485761;
        static constexpr long long kExactBelow = 1048576;

        explicit TiffRawFileInfo(FileTIFAnalyser* fileAnalyser);

        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llThumbOffset = 0;
        long long m_llThumbLength = 0;
        bool m_bLittleEndian = true;
        long long m_llArea = kNoArea;
        int m_iDirectories = 0;
        bool m_bStop = false;
        long long m_llNextDirectory = 0;
        long long m_llCurrentDirectory = 0;
        long long m_llLargestEnd = 8192;
        long long m_llStripOffset = 0;
        long long m_llStripCount = 0;
        bool m_bStripJpeg = false;
        bool m_bStripPending = false;
        long long m_llThumbCandidate = 0;
        bool m_bThumbJpeg = false;
        bool m_bThumbPending = false;
        // File offset to length of JPEGs whose bytes were not in memory yet.
        std::map<long long, long long> m_mapPendingThumbs;
        // File offset of directories not in memory yet, to their sector.
        std::map<long long, long long> m_mapPendingDirectories;
        bool m_bIIU = false;
        bool m_bDNG = false;
        std::string m_strMake;
        std::string m_strModel;
        bool m_bMakeRead = false;
        bool m_bModelRead = false;
        long long m_llMakerNoteBase = 0;
        long long m_llWidth = 0;
        long long m_llHeight = 0;
        bool m_bStripCountsSeen = false;
        unsigned int m_dwSectorSize = 512;
        // The largest end over the header, directories, their values, strips
        // and tiles; and whether the picture data's entries were seen.
        long long m_llStructEnd = 8;
        bool m_bDataSeen = false;

    private:
        struct Entry {
            uint16_t wTag;
            uint16_t wType;
            uint32_t dwCount;
            uint32_t dwValue;
            const unsigned char* pValueField;
            unsigned long long u64Bytes;
        };
        // Bytes of the file in memory now, null when not.
        const unsigned char* At(const SearchContext& context, long long offset, long long length) const;
        // Examines the directory at file offset dir; chain: it belongs to
        // the main chain and its link becomes the next directory.
        void ExamineDirectory(const SearchContext& context, long long dir, long long sector, bool chain, int depth);
        void InterpretEntry(const SearchContext& context, const Entry& entry, long long sector, int depth,
                            uint32_t& tileOffsetsCount, unsigned long long& tileOffsetsBytes,
                            uint32_t& tileOffsetsValue, uint16_t& tileOffsetsType);
        // A directory named by an entry: examined now when its bytes have
        // been fed, else remembered for its sector.
        void LinkedDirectory(const SearchContext& context, long long offset, long long sector, int depth);
        bool Element(const SearchContext& context, const Entry& entry, uint32_t index, uint32_t& out);
        std::string Text(const SearchContext& context, const Entry& entry);
        void Raise(long long end);
        bool IsJpegAt(const SearchContext& context, long long offset, bool& pending);
        int FinishWithoutSize();
        // The chain has ended and every directory and picture named in it
        // was read: the structure gives the file's end.
        bool StructureComplete() const;
        int Finish(long long sectorNumber, long long size);

        FileTIFAnalyser* m_pFileAnalyser;
    };

private:
    FileTIFAnalyser m_FileAnalyser;
};

}  // namespace BruteForce

IRawFileAnalyser* CreateTiffAnalyzer(unsigned int analyserId);
