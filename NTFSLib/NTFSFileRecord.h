// NTFS file records ("FILE"): header checks, update-sequence protection, the
// attribute walk, the attributes the engine reads, the system files, the
// extension records named by $ATTRIBUTE_LIST, and the volume label.
//
// Every function here takes raw bytes from a scanned disk: nothing is
// trusted, a bad record answers false, null, -1 or 0xFFFFFFFF.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "NTFSDataRunList.h"

class IStorageDevice;

enum : uint32_t {
    NTFS_ATTR_STANDARD_INFORMATION = 0x10,
    NTFS_ATTR_ATTRIBUTE_LIST = 0x20,
    NTFS_ATTR_FILE_NAME = 0x30,
    NTFS_ATTR_VOLUME_NAME = 0x60,
    NTFS_ATTR_DATA = 0x80,
    NTFS_ATTR_INDEX_ROOT = 0x90,
    NTFS_ATTR_INDEX_ALLOCATION = 0xA0,
    NTFS_ATTR_END = 0xFFFFFFFFu,
};

constexpr unsigned int kNtfsRecordCheckSize = 1024;

class CNTFSFileRecordHeader {
public:
    // size must be a non-zero multiple of 512.
    static bool IsValid(const uint8_t* buffer, unsigned int size);
};

class CNTFSFileRecord {
public:
    // Keeps the buffer (a copy when copy is non-zero) when it is a valid
    // record and removes its protection; the destructor puts it back.
    CNTFSFileRecord(uint8_t* buffer, unsigned int size, int copy);
    ~CNTFSFileRecord();
    CNTFSFileRecord(const CNTFSFileRecord&) = delete;
    CNTFSFileRecord& operator=(const CNTFSFileRecord&) = delete;

    bool IsValid() const { return m_pRecord != nullptr; }
    uint8_t* GetRecord() const { return m_pRecord; }
    unsigned int GetSize() const { return m_dwSize; }

    // Size at least 1,024, header valid and every attribute valid (checked on
    // the unprotected bytes when the update sequence matches).
    static bool IsValid(const uint8_t* buffer, unsigned int size);
    static bool IsValidUpdateSequence(const uint8_t* buffer, unsigned int size);
    static int UnfixupFileRecord(uint8_t* buffer, unsigned int size);
    static int FixupFileRecord(uint8_t* buffer, unsigned int size);
    static bool CheckAttibutes(const uint8_t* buffer, unsigned int size);

    // The attribute walk looks at most at the first 1,016 bytes of a record;
    // size bounds it further and bounds what a returned attribute may span.
    static const uint8_t* FindAttibute(const uint8_t* buffer, uint32_t type, unsigned int n,
                                       unsigned int size = kNtfsRecordCheckSize);
    static uint32_t GetAttributeOffset(const uint8_t* buffer, uint32_t type, unsigned int n,
                                       unsigned int size = kNtfsRecordCheckSize);
    static unsigned int GetAttibuteCountofSpecifiedType(const uint8_t* buffer, uint32_t type,
                                                        unsigned int size = kNtfsRecordCheckSize);
    static bool HasAttributeList(const uint8_t* buffer, unsigned int size = kNtfsRecordCheckSize);

    static bool IsFolder(const uint8_t* b);
    static bool IsinUse(const uint8_t* b);
    static bool IsExtendFileRecord(const uint8_t* b);
    static unsigned long long GetBaseFileRecordNumber(const uint8_t* b);
    static unsigned long long GetLogFileSequenceNumber(const uint8_t* b);
    static bool HasXPNumberOfthisMFTRecord(const uint8_t* b);
    static uint32_t GetXPNumberOfthisMFTRecord(const uint8_t* b);
    static uint32_t GetLength(const uint8_t* b);
    static uint32_t GetAllocatedSize(const uint8_t* b);

private:
    uint8_t* m_pRecord = nullptr;
    unsigned int m_dwSize = 0;
    bool m_bOwned = false;
    bool m_bFixedUp = false;
    std::vector<uint8_t> m_vecCopy;
};

// Common attribute header; the getters read an attribute that passed IsValid.
class CNTFSFileRecordAttribute {
public:
    static uint32_t GetType(const uint8_t* a);
    static uint32_t GetLength(const uint8_t* a);
    static bool IsResident(const uint8_t* a) { return a[8] == 0; }
    static bool IsNamed(const uint8_t* a) { return a[9] != 0; }
    static uint16_t GetOffsetToName(const uint8_t* a);
    static uint16_t GetFlags(const uint8_t* a);
    static bool IsCompressed(const uint8_t* a) { return (GetFlags(a) & 0x0001) != 0; }
    static bool IsEncrypted(const uint8_t* a) { return (GetFlags(a) & 0x4000) != 0; }
    static uint16_t GetID(const uint8_t* a);
    static uint16_t GetOffsetToAttribute(const uint8_t* a);
    static uint32_t GetLengthOfAttribute(const uint8_t* a);
    static unsigned long long GetRealSizeOfAttribute(const uint8_t* a);
    static unsigned long long GetAllocSizeofAttribute(const uint8_t* a);
    static unsigned long long GetInitializedDataSize(const uint8_t* a);
    static uint16_t GetCompressionUnitSize(const uint8_t* a);
    static bool IsValid(const uint8_t* a, long long available);
    static bool IsValidResidentAttribute(const uint8_t* a, long long available);
    static bool IsValidNonResidentAttribute(const uint8_t* a, long long available);
};

// A non-resident attribute's mapping pairs.
class CNTFSFileRecordDataRunsAttribute : public CNTFSFileRecordAttribute {
public:
    static const uint8_t* GetDataRunsBuffer(const uint8_t* a);
    static long long GetDataRunsLength(const uint8_t* a);
    static long long GetStartVCN(const uint8_t* a);
    static long long GetLastVCN(const uint8_t* a);
    static unsigned int GetTotalClusters(const uint8_t* a);
    // Appends the runs shifted by the first VCN; false when they are not
    // well formed.
    static bool GetDataRunList(const uint8_t* a, CNTFSDataRunList& list);
    // Sectors per cluster guessed from the initialized size and the clusters
    // of the runs: 1 to 128, or 0 when it cannot be told (or the attribute is
    // not a valid non-resident one within length bytes).
    static unsigned int GetSectorsPerCluster(const uint8_t* a, long long length);
};

// The sector size the sectors-per-cluster guesses divide by; the deep search
// sets it. 0 or a size that is not a multiple of 512 counts as 512.
void SetNtfsGuessSectorSize(unsigned int sectorSize);
unsigned int GetNtfsGuessSectorSize();
// Rounds bytes per cluster / sector size up to the next power of two up to
// 128; 0 when there is no size, no cluster, or the answer is above 128.
unsigned int GuessSectorsPerCluster(unsigned long long bytes, unsigned long long clusters);

class CNTFSFileRecordFileNameAttribute {
public:
    static unsigned long long GetParentFileRecordNumber(const uint8_t* a);
    static unsigned long long GetCreationTime(const uint8_t* a);
    static unsigned long long GetModificationTime(const uint8_t* a);
    static unsigned long long GetLastAccessTime(const uint8_t* a);
    static unsigned long long GetRealSize(const uint8_t* a);
    static uint32_t GetFlags(const uint8_t* a);
    static bool IsDirectory(const uint8_t* a) { return (GetFlags(a) & 0x10000000u) != 0; }
    static unsigned int GetNameLength(const uint8_t* a) { return a[24 + 64]; }
    // Values above 3 read as 4; 1 is the Win32 namespace.
    static unsigned int GetNameSpace(const uint8_t* a) { return a[24 + 65] > 3 ? 4 : a[24 + 65]; }
    static std::u16string GetName(const uint8_t* a);
    static bool IsValid(const uint8_t* a, long long length);
    static bool IsFileNameEqual(const uint8_t* a, const wchar_t* name);
};

class CNTFSFileRecordStandardInformationAttribute {
public:
    static unsigned long long GetCreationTime(const uint8_t* a);
    static unsigned long long GetModificationTime(const uint8_t* a);
    static unsigned long long GetLastAccessTime(const uint8_t* a);
    static uint32_t GetDosFilePermission(const uint8_t* a);
    static bool IsValid(const uint8_t* a, long long length);
};

class CNTFSFileRecordIndexRootAttribute {
public:
    static bool IsValid(const uint8_t* a, long long length);
    // The parent number common to every entry of the root, or -1.
    static long long GetMFTFileRecordNumberfrom0x90(const uint8_t* a, long long length);
};

class CMetaFileRecordTypeAnalyzer {
public:
    // Table number of the system file the record names, or 0xFFFFFFFF.
    // size: the record's bytes (its first 1,024 when not given).
    static uint32_t GetMetaFileRecordIndex(const uint8_t* record, unsigned int size = kNtfsRecordCheckSize);
    static bool IsValidMetaFileRecord(const uint8_t* record, unsigned int size = kNtfsRecordCheckSize);
    static bool IsValidMetaFileRecord(const uint8_t* record, const wchar_t* name,
                                      unsigned int size = kNtfsRecordCheckSize);
    static bool IsValidMFTFileRecord(const uint8_t* r) { return IsValidMetaFileRecord(r, L"$MFT"); }
    static bool IsValidMFTMirrFileRecord(const uint8_t* r) { return IsValidMetaFileRecord(r, L"$MFTMirr"); }
    static bool IsValidLogFileRecord(const uint8_t* r) { return IsValidMetaFileRecord(r, L"$LogFile"); }
    static bool IsValidVolumeFileRecord(const uint8_t* r) { return IsValidMetaFileRecord(r, L"$Volume"); }
    static bool IsValidAttrDefFileRecord(const uint8_t* r) { return IsValidMetaFileRecord(r, L"$AttrDef"); }
    static bool IsValidUpCaseFileRecord(const uint8_t* r) { return IsValidMetaFileRecord(r, L"$UpCase"); }
    static bool IsValidBitmapFileRecord(const uint8_t* r) { return IsValidMetaFileRecord(r, L"$Bitmap"); }
};

class CIsMetaFileRecord {
public:
    static bool IsMetaFileRecord(const uint8_t* buffer, unsigned int size);
    static bool IsMetaFileRecord(unsigned long long number) { return number < 25; }
};

class CFolderFileRecordAnalyzer {
public:
    static bool IsValidFolderFileRecordHavingIndexAllocation(const uint8_t* record);
};

class CNTFSFileRecordAnalyzer {
public:
    static uint32_t GetMetaFileRecordIndex(const uint8_t* r) { return CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(r); }
    static bool IsValidMetaFileRecord(const uint8_t* r) { return CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(r); }
    // Appends the runs of every unnamed non-resident $DATA attribute; false
    // for a resident unnamed one, a zero length, or (with check) runs that do
    // not cover the attribute's VCN range. realSize gets the first extent's
    // real size.
    // The guess above from a record: the first extent's real size over the
    // clusters of every unnamed non-resident $DATA.
    static unsigned int GetSectorsPerClusterfrom0x80(const uint8_t* record, unsigned int size = kNtfsRecordCheckSize);
    static bool AddDataRunListfromFileRecordBuffer(const uint8_t* record, CNTFSDataRunList& list, bool check,
                                                   unsigned long long& realSize,
                                                   unsigned int size = kNtfsRecordCheckSize);
};

// One extension record named by an $ATTRIBUTE_LIST.
class CAttributeListExtendFileRecordInfo {
public:
    long long m_s64StartSector = -1;
    long long m_s64MFTNumber = 0;
};
using ExtendFileRecordInfoList = std::list<std::unique_ptr<CAttributeListExtendFileRecordInfo>>;

// An extension record to be read on first use.
class CAttributeListExtendFileRecordBufferInfo {
public:
    CAttributeListExtendFileRecordBufferInfo(IStorageDevice* device, long long startSector, long long number)
        : m_pDevice(device), m_s64StartSector(startSector), m_s64MFTNumber(number)
    {
    }
    // The record's bytes (protection removed when valid), or null when it
    // cannot be read; size gets the buffer size.
    uint8_t* GetExtendFileRecordBuffer(unsigned int& size);
    long long GetStartSector() const { return m_s64StartSector; }
    long long GetMFTNumber() const { return m_s64MFTNumber; }

private:
    IStorageDevice* m_pDevice;
    long long m_s64StartSector;
    long long m_s64MFTNumber;
    bool m_bRead = false;
    std::vector<uint8_t> m_vecBuffer;
};

// A base record with its extension records.
class CNTFSMultiFileRecord {
public:
    CNTFSMultiFileRecord(const uint8_t* record, unsigned int size, long long recordStartSector,
                         IStorageDevice* device, const ExtendFileRecordInfoList* extendList);

    // The extension records an $ATTRIBUTE_LIST names, with start sector -1;
    // null when there are none.
    static std::unique_ptr<ExtendFileRecordInfoList> GetExtendFileRecordInfoList(
        uint8_t* record, unsigned int size, long long partitionStart, unsigned int sectorsPerCluster,
        IStorageDevice* device);
    // The list above with each entry placed through the $MFT runs; entries
    // that cannot be placed or that name the base record are dropped.
    static std::unique_ptr<ExtendFileRecordInfoList> InitExtendFileRecord(
        uint8_t* record, unsigned int size, long long recordStartSector, unsigned int sectorsPerCluster,
        long long partitionStart, IStorageDevice* device, const CNTFSDataRunList& mftRuns,
        unsigned int sectorsPerRecord);
    static long long GetFileRecordStartSectorfromMFTNumber(long long number, unsigned int sectorsPerCluster,
                                                          long long partitionStart,
                                                          const CNTFSDataRunList& mftRuns,
                                                          unsigned int sectorsPerRecord);

    bool IsValid() const { return m_bValid; }
    bool IsinUse() const;
    uint32_t GetMainFileRecordIndex() const;
    const uint8_t* GetBaseRecord() const { return m_vecBase.data(); }
    unsigned int GetBaseSize() const { return static_cast<unsigned int>(m_vecBase.size()); }
    long long GetStartSector() const { return m_s64StartSector; }
    // The n-th attribute of type across base and extension records; offset
    // and sector tell where it lies. Null when there is none.
    const uint8_t* FindAttibute(uint32_t type, unsigned int n, unsigned int* offset, long long* sector,
                                unsigned int* available = nullptr);

private:
    bool m_bValid = false;
    std::vector<uint8_t> m_vecBase;
    long long m_s64StartSector;
    IStorageDevice* m_pDevice;
    std::list<std::unique_ptr<CAttributeListExtendFileRecordBufferInfo>> m_lstExtend;
};

class CVolumeFileAnalyzer {
public:
    // UTF-8 label of a $Volume record into label (at least 100 bytes, zeroed
    // by the caller); empty on any failure.
    static void GetLabel(const uint8_t* record, char* label, unsigned int recordSize);
    // The UTF-8 name of the volume whose MFT begins at mftSector of device:
    // its $Volume record (number 3) read and parsed. Empty on any failure.
    static std::string ReadVolumeName(IStorageDevice* device, long long mftSector, unsigned int recordSize);
};

namespace NTFSPublicFunction {
bool IsClusterNOMatch(long long sector, long long cluster, long long partitionStart, unsigned int sectorsPerCluster);
}

// UTF-8 of UTF-16LE units; a lone surrogate becomes U+FFFD.
std::string NtfsUtf16ToUtf8(const std::u16string& units);
