// Photoshop images: the colour-mode, image-resources and layer sections are
// walked while the search runs, and the file ends in the first zero-padded
// sector after the image data starts; a dropped candidate is sized from the
// device by its section lengths and image data.
#pragma once

#include "RawFileAnalyser.h"

class FilePSDAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 54;
    // The row-length walk gives up here.
    static constexpr long long kMaxWalk = 0xD000001;

    FilePSDAnalyser() : IRawFileAnalyser(kType) {}
    // Any buffer: this analyser only sizes candidates handed to it.
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

namespace RawSpeed {

class PSDAnalyser : public IRawFileAnalyser {
public:
    PSDAnalyser() : IRawFileAnalyser(FilePSDAnalyser::kType) {}

    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class PSDRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMaxSize = 200000000;
        static constexpr unsigned int kZeroTail = 8;

        explicit PSDRawFileInfo(FilePSDAnalyser* fallback) : m_pFallback(fallback) {}

        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        // File offset of the next section length field.
        long long m_llNextPos = 30;
        long long m_llMaxSize = kMaxSize;
        unsigned int m_dwImageResourcesLength = 0;
        unsigned int m_dwLayerSectionLength = 0;
        bool m_bColorModePending = true;
        // The image-resources length follows the colour-mode data, possibly
        // in a later sector.
        bool m_bResourcesPending = true;
        bool m_bLayerPending = true;
        // From the header: rows of image data (channels times height) and
        // the bytes of one uncompressed row.
        long long m_llRows = 0;
        long long m_llRowBytes = 0;
        // The image data's compression, -1 until read; for run-length data
        // the row counts summed so far.
        int m_iCompression = -1;
        long long m_llRowsSummed = 0;
        long long m_llPackedBytes = 0;
        // The file's end by its sections and image data, 0 until known;
        // -1 when the structure cannot give it.
        long long m_llStructEnd = 0;

        // A sector inside the sections before the image data (a thumbnail
        // among the image resources).
        bool HoldsSector(long long sectorNumber, const SearchContext& context) override;

    private:
        // Reads the compression and the run-length table as far as they are
        // in memory; 1 or 2 when the searcher is to be answered at once.
        int WalkImageData(const SearchContext& context);

        FilePSDAnalyser* m_pFallback;
    };

private:
    FilePSDAnalyser m_Fallback;
};

}  // namespace RawSpeed

IRawFileAnalyser* CreatePSDAnalyser(unsigned int analyserId);
