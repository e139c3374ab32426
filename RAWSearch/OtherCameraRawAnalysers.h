// Camera raw formats that are not TIFF directories: CRW (a heap-structured
// file that ends a fixed distance after one of three end records), X3F
// (which ends a fixed distance after its "SECd" directory section) and MRW
// (whose header states its size). CRW and X3F are followed while the search
// runs and sized afterwards from the device when that fails.
#pragma once

#include "RawFileAnalyser.h"

class RawFileBuffer;

// Whole-file end search of a CRW on the device.
class FileCRWAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 18;
    static constexpr long long kLimit = 52428800;

    FileCRWAnalyser() : IRawFileAnalyser(kType) {}

    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    // Always 1: the size is where the end was found, or the limit.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
    long long GetRawFileSizeEX(RawFileBuffer& buffer, unsigned int sectorSize);
};

// Whole-file end search of an X3F on the device.
class FileX3FAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 108;
    static constexpr long long kLimit = 109051904;

    FileX3FAnalyser() : IRawFileAnalyser(kType) {}

    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice) override;
};

// MRW: sized by its header at the probe.
class FileMRWAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 102;

    FileMRWAnalyser() : IRawFileAnalyser(kType) {}

    int AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info) override;
};

namespace Brance {

class CRWAnalyser : public IRawFileAnalyser {
public:
    CRWAnalyser() : IRawFileAnalyser(FileCRWAnalyser::kType) {}

    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class CRWRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMinScanned = 204800;
        static constexpr long long kSecondAddend = 204800;
        static constexpr long long kMaxSize = 104857600;

        explicit CRWRawFileInfo(FileCRWAnalyser* fileAnalyser) : m_pFileAnalyser(fileAnalyser)
        {
            m_dwType = FileCRWAnalyser::kType;
        }

        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char*, long long) override { m_pOwner = m_pFileAnalyser; }
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long m_llEnd = 0;

    private:
        FileCRWAnalyser* m_pFileAnalyser;
    };

private:
    FileCRWAnalyser m_FileAnalyser;
};

class X3FAnalyser : public IRawFileAnalyser {
public:
    X3FAnalyser() : IRawFileAnalyser(FileX3FAnalyser::kType) {}

    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class X3FRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMaxSize = 104857600;

        explicit X3FRawFileInfo(FileX3FAnalyser* fileAnalyser) : m_pFileAnalyser(fileAnalyser)
        {
            m_dwType = FileX3FAnalyser::kType;
        }

        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char*, long long) override { m_pOwner = m_pFileAnalyser; }
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;
        // Whether the search goes on after this sector; sets m_llEnd when
        // the end was found.
        bool bContinue(const unsigned char* sector, long long sectorSize, long long sectorNumber,
                       const SearchContext& context);

        long long m_llEnd = 0;

    private:
        FileX3FAnalyser* m_pFileAnalyser;
    };

private:
    FileX3FAnalyser m_FileAnalyser;
};

}  // namespace Brance

IRawFileAnalyser* CreateCRWAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateX3FAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateMRWAnalyser(unsigned int analyserId);
