// SVG drawings and their XML relatives (GPX tracks, property lists, CSL
// styles, ENEX notebooks): followed to their closing tag or zero padding
// while the search runs; a dropped candidate is sized from the device.
#pragma once

#include <string>

#include "RawFileAnalyser.h"

// Type indexes of the XML family.
enum : unsigned int {
    RAW_TYPE_CSL = 19,
    RAW_TYPE_SVG = 91,
    RAW_TYPE_GPX = 130,
    RAW_TYPE_PLIST = 131,
    RAW_TYPE_ENEX = 139,
};

// The type the first sector of an XML-family file announces, 0 when it is
// none of them.
unsigned int ProbeSvgFamily(const unsigned char* sector, size_t length);

class FileSVGAnalyser : public IRawFileAnalyser {
public:
    // The device walk gives up here.
    static constexpr unsigned long long kMaxScan = 0x500001;

    FileSVGAnalyser() : IRawFileAnalyser(RAW_TYPE_SVG) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    // The file runs to the end of the first sector whose last two bytes are
    // zero.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

namespace Brance {

class SVGAnalyser : public IRawFileAnalyser {
public:
    SVGAnalyser() : IRawFileAnalyser(RAW_TYPE_SVG) {}

    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class SVGRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMaxSize = 0xA00000;
        // The compressed form's length field and the header before its data.
        static constexpr long long kBinaryLengthAt = 1100;
        static constexpr long long kBinaryHeader = 1152;

        explicit SVGRawFileInfo(FileSVGAnalyser* fallback) : m_pFallback(fallback) {}

        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llEndFound = 0;
        long long m_llMaxSize = kMaxSize;
        bool m_bBinary = false;

    private:
        void NameBySectors(long long sectorNumber);
        // Follows the drawing's text through the fed sector: 1 when the
        // root element closed (the size set after it and one end of line),
        // 2 when it goes on or a byte that is no text came first.
        int FollowText(const unsigned char* sector, long long sectorSize, long long sectorNumber,
                       const SearchContext& context);
        int CloseAfter(long long end, long long sectorNumber, const SearchContext& context);

        FileSVGAnalyser* m_pFallback;
        // Open svg elements, the last bytes seen (for tags across sectors),
        // and a close whose end of line lies past the memory.
        int m_iDepth = 0;
        std::string m_strRecent;
        long long m_llPendingClose = -1;
    };

private:
    FileSVGAnalyser m_Fallback;
};

}  // namespace Brance

IRawFileAnalyser* CreateSVGAnalyser(unsigned int analyserId);
