// Installer packages (xar archives and signed flat packages), sized from
// their own table of contents, and compressed disk images, sized by their
// 512-byte trailer.
#pragma once

#include <cstdint>
#include <string>

#include "ArchiveAnalysers.h"
#include "RawFileAnalyser.h"

class TiXmlElement;

namespace PackageTypes {
constexpr unsigned int kDMG = 113, kPKG = 119;
}  // namespace PackageTypes

class FilePKGAnalyser : public IRawFileAnalyser {
public:
    static constexpr uint64_t kMaxSize = 0x280000000ULL;
    static constexpr uint64_t kMaxToc = 0x300000;
    static constexpr unsigned int kMaxPieces = 48;
    static constexpr unsigned int kHeaderSize = 28;
    // Deeper element nesting than this is not a table of contents.
    static constexpr int kMaxXmlDepth = 64;

    FilePKGAnalyser() : IRawFileAnalyser(PackageTypes::kPKG) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;

    // The size of a signed flat package, 0 when the header is not one.
    long long PkgSignFileSize(const unsigned char* header) const;
    // The heap end that a table of contents (uncompressed XML) states, or
    // -1 when it is not one.
    long long HeapEndOfToc(const char* xml);

    uint64_t m_u64HeapEnd = 0;
    uint64_t m_u64MaxSize = kMaxSize;
    long long m_llHighestId = 0;

private:
    // Walks a "file" element, its siblings and their "file" children.
    void RecursionSearch(TiXmlElement* first);
    void SearchXmlNodeData(TiXmlElement* file);
};

class FileDMGAnalyser : public IRawFileAnalyser {
public:
    static constexpr long long kLimit = 0x82000001LL;

    FileDMGAnalyser() : IRawFileAnalyser(PackageTypes::kDMG) {}
    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

namespace Brance {

class DMGAnalyser : public IRawFileAnalyser {
public:
    DMGAnalyser() : IRawFileAnalyser(PackageTypes::kDMG) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new DMGRawFileInfo(&m_Partner); }

    class DMGRawFileInfo : public CArchiveRawFileInfo {
    public:
        static constexpr long long kMaxSize = 0xC800000;

        explicit DMGRawFileInfo(IRawFileAnalyser* partner) : CArchiveRawFileInfo(partner, PackageTypes::kDMG) {}
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;
        // Whether the trailer has not been met in this sector.
        bool bContinue(const unsigned char* sector, int sectorSize, long long sectorNumber,
                       const SearchContext& context);

        long long m_llEnd = 0;
        long long m_llMaxSize = kMaxSize;
    };

private:
    FileDMGAnalyser m_Partner;
};

}  // namespace Brance

// "BZh11AY&SY" at the sector's start.
bool IsDmgStart(const unsigned char* sector);

IRawFileAnalyser* CreatePKGAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateDMGAnalyser(unsigned int analyserId);
