// What the deep NTFS search learns while it reads a device sector by sector:
// partition candidates (where an NTFS volume may start and how large its
// clusters are) and the small evidence records they are derived from.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <set>
#include <vector>

#include "NTFSDataRunList.h"
#include "NTFSFileRecord.h"
#include "SearchedPartitionInfo.h"

class CFileNode;
class CFindFileFromLogFile;
class CNTFSFileProperties;
class IRSData;

// Evidence bits of a candidate.
enum : uint32_t {
    NTFS_BUILD_FROM_BOOT = 0x01,
    NTFS_BUILD_FROM_BACKUP_BOOT = 0x02,
    NTFS_BUILD_FROM_MFT_GROUP = 0x04,
    NTFS_BUILD_FROM_MFT = 0x08,
    NTFS_BUILD_FROM_MFTMIRR = 0x10,
    NTFS_BUILD_FROM_INDX = 0x20,
    NTFS_BUILD_FROM_RSTR1 = 0x40,
    NTFS_BUILD_FROM_RSTR2 = 0x80,
};

constexpr unsigned int NTFS_SUPPORTED_SECTORS_PER_CLUSTER[] = {1, 2, 4, 8, 16, 32, 64, 128};

// A hypothesis that an NTFS volume starts at a sector. The working start
// sector is the base's unit base; it becomes the partition start when the
// candidate survives the search. Counter 2 counts confirming index records.
class CSearchedNTFSPartitionInfo : public CSearchedPartitionInfo {
public:
    explicit CSearchedNTFSPartitionInfo(unsigned int sectorSize = 512) : CSearchedPartitionInfo(sectorSize) {}
    ~CSearchedNTFSPartitionInfo() override = default;

    int GetType() const override { return 0; }
    CSearchedPartitionInfo* Clone() const override { return new CSearchedNTFSPartitionInfo(*this); }
    virtual int Save(IRSData& data);
    virtual int Restore(IRSData& data);
    virtual int IsFileNodeBelongSelf(CFileNode*) { return 0; }
    virtual int UpdateFileNodeProperty(CFileNode*) { return 0; }

    long long GetStartSector() const { return GetUnitBase(); }
    void SetStartSector(long long sector) { SetUnitBase(sector); }
    long long GetFolderIndexMatchCount() const { return GetCounter2(); }
    void AddFolderIndexMatch() { SetCounter2(GetCounter2() + 1); }

    long long GetSerialNumber() const { return m_s64SerialNumber; }
    void SetSerialNumber(long long v) { m_s64SerialNumber = v; }
    unsigned int GetSectorsperFileRecord() const { return m_dwSectorsPerFileRecord; }
    void SetSectorsperFileRecord(unsigned int v) { m_dwSectorsPerFileRecord = v; }
    unsigned int GetPartitionBuildFromFlags() const { return m_dwBuildFrom; }
    void SetPartitionBuildFromFlag(unsigned int v) { m_dwBuildFrom = v; }
    void AddPartitionBuildFromFlag(unsigned int v) { m_dwBuildFrom |= v; }

    unsigned int m_dwMark = 0;
    unsigned int m_dwRestrict = 0;
    long long m_s64TotalClusters = -1;
    long long m_s64LogFileMatchCount = -1;
    long long m_s64AttrDefMatchCount = -1;
    long long m_s64UpCaseMatchCount = -1;
    long long m_s64MFTRecordSector = -1;
    long long m_s64LogFileRecordSector = -1;
    long long m_s64AttrDefRecordSector = -1;
    long long m_s64UpCaseRecordSector = -1;
    long long m_s64BitmapSectors = -1;

private:
    long long m_s64SerialNumber = 0;
    unsigned int m_dwSectorsPerFileRecord = 2;
    unsigned int m_dwBuildFrom = 0;
};

struct CSearchedNTFSPartitionInfoLessThan {
    bool operator()(const CSearchedNTFSPartitionInfo* a, const CSearchedNTFSPartitionInfo* b) const
    {
        if (a->GetStartSector() != b->GetStartSector())
            return a->GetStartSector() < b->GetStartSector();
        return a->GetSectorsPerUnit() < b->GetSectorsPerUnit();
    }
};
using NTFSPartitionSet = std::multiset<CSearchedNTFSPartitionInfo*, CSearchedNTFSPartitionInfoLessThan>;

// Places a volume from a record found at a known cluster: null when the
// volume would start before the device or less than 8 sectors before the
// record.
CSearchedNTFSPartitionInfo* BuildPartitionInfoAccordingtoFileRecord(long long recordSector, long long lcn,
                                                                   unsigned int sectorsPerCluster, unsigned int flags,
                                                                   long long deviceSectors, unsigned int sectorSize);
// The same for every supported cluster size; the candidates are appended.
void BuildPartitionInfoAccordingtoFileRecord(std::list<CSearchedNTFSPartitionInfo*>& out, long long recordSector,
                                             long long lcn, unsigned int flags, long long deviceSectors,
                                             unsigned int sectorSize);

class CNTFSPartitionInfoBuilder {
public:
    CNTFSPartitionInfoBuilder(NTFSPartitionSet& set, long long deviceSectors)
        : m_set(set), m_s64DeviceSectors(deviceSectors)
    {
    }
    // Every candidate equal to the given one (same start and cluster size)
    // gets (flags & ~remove) | add; one left without flags leaves the set and
    // is freed. True when an equal candidate existed.
    bool AdjustPartitionBuildFromFlag(const CSearchedNTFSPartitionInfo& candidate, unsigned int add,
                                      unsigned int remove);
    // Merges the candidate into equal ones (freeing it) or inserts it.
    void MergeOrInsert(CSearchedNTFSPartitionInfo* candidate, unsigned int flag);
    long long GetDeviceSectors() const { return m_s64DeviceSectors; }
    void SetDeviceSectors(long long n) { m_s64DeviceSectors = n; }

private:
    NTFSPartitionSet& m_set;
    long long m_s64DeviceSectors;
};

// A meta file's FILE record: its sector, its data runs and its LSN.
class CMetaFileInfo {
public:
    virtual ~CMetaFileInfo() = default;
    bool InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector);
    long long GetFirstClusterNO() const { return m_runs.GetLCN(0); }
    long long GetSectorAddress() const { return m_s64Sector; }
    const CNTFSDataRunList& GetDataRunList() const { return m_runs; }
    const CNTFSDataRunList& GetNTFSDataRunList() const { return m_runs; }
    unsigned long long GetLSN() const { return m_u64LSN; }

protected:
    long long m_s64Sector = -1;
    CNTFSDataRunList m_runs;
    unsigned long long m_u64LSN = 0;
};
using CAttrDefFileInfo = CMetaFileInfo;
using CUpCaseFileInfo = CMetaFileInfo;

class CLogFileInfo : public CMetaFileInfo {
public:
    bool InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector);
    unsigned int GetSectorsPerCluster() const { return m_u8SectorsPerCluster; }

protected:
    uint8_t m_u8SectorsPerCluster = 0;
};

class CMFTMirrInfo : public CLogFileInfo {
public:
    static std::unique_ptr<CMFTMirrInfo> Build(const uint8_t* buffer, unsigned int size, long long sector);
};

class CMFTInfo {
public:
    bool InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector);
    static std::unique_ptr<CMFTInfo> Build(const uint8_t* buffer, unsigned int size, long long sector);
    unsigned int GetSectorsPerFileRecord() const { return m_u8SectorsPerFileRecord; }
    unsigned int GetSectorsPerCluster() const { return m_u8SectorsPerCluster; }
    long long GetSectorAddress() const { return m_s64Sector; }
    long long GetFirstClusterNO() const { return m_runs.GetLCN(0); }
    const CNTFSDataRunList& GetDataRunList() const { return m_runs; }
    void GetDataRunList(CNTFSDataRunList& out) const;

private:
    long long m_s64Sector = -1;
    CNTFSDataRunList m_runs;
    uint8_t m_u8SectorsPerFileRecord = 2;
    uint8_t m_u8SectorsPerCluster = 0;
};

class CBitmapFileInfo {
public:
    bool InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector);
    long long GetFileSize() const { return m_s64FileSize; }
    long long GetSectorAddress() const { return m_s64Sector; }

private:
    long long m_s64FileSize = -1;
    long long m_s64Sector = -1;
};

// A folder FILE record that owns a non-resident $INDEX_ALLOCATION.
class CFolderIndexAllocationInfo {
public:
    bool InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector);
    // Cluster of an index VCN, or -1.
    long long GetLCN(long long vcn) const;
    unsigned int GetSectorsPerCluster() const { return m_dwSectorsPerCluster; }
    long long GetMFTFileRecordNumber() const { return m_s64MFTNumber; }
    void SetMFTFileRecordNumber(long long n) { m_s64MFTNumber = n; }
    long long GetSectorAddress() const { return m_s64Sector; }
    const CNTFSDataRunList& GetDataRunList() const { return m_runs; }

private:
    long long m_s64Sector = -1;
    CNTFSDataRunList m_runs;
    unsigned long long m_u64LSN = 0;
    long long m_s64MFTNumber = -1;
    uint32_t m_dwOwnNumber = 0;
    uint32_t m_dwHasOwnNumber = 0;
    unsigned int m_dwSectorsPerCluster = 0;
};

// An "INDX" record seen at a sector.
class CIndexRecordInfo {
public:
    // False when the buffer is no valid index record.
    bool InitFromBuffer(uint8_t* buffer, unsigned int size, long long sector);
    long long m_s64Sector = -1;
    unsigned long long m_u64VCN = 0;
    unsigned long long m_u64LSN = 0;
    long long m_s64MFTNumber = -1;
};

class CRestartRecordInfo {
public:
    long long m_s64Sector = -1;
};

// A $MFT group and the $MFTMirr record found in it (both owned by the
// search's lists).
class CMFTFilesPair {
public:
    CMFTInfo* m_pMFT = nullptr;
    CMFTMirrInfo* m_pMFTMirr = nullptr;
};

// A $MFT found by the search (owned by its list) and the log finder made for
// it.
class FindFileMFTAndLogx {
public:
    FindFileMFTAndLogx();
    ~FindFileMFTAndLogx();
    CMFTInfo* m_pMFT = nullptr;
    std::unique_ptr<CFindFileFromLogFile> m_pLogFile;
};

using MFTInfoList = std::list<std::unique_ptr<CMFTInfo>>;
using MFTMirrInfoList = std::list<std::unique_ptr<CMFTMirrInfo>>;
using MFTFilesPairList = std::list<std::unique_ptr<CMFTFilesPair>>;
using FindFileList = std::list<std::unique_ptr<FindFileMFTAndLogx>>;

// A run of FILE records two sectors apart.
class CCommonFileRecordPositionInfo {
public:
    CCommonFileRecordPositionInfo() = default;
    explicit CCommonFileRecordPositionInfo(long long sector) : m_s64Start(sector), m_s64Count(1) {}
    bool Merge(long long sector);
    long long GetFileRecordStartSector() const { return m_s64Start; }
    long long GetFileRecordCount() const { return m_s64Count; }

private:
    long long m_s64Start = -1;
    long long m_s64Count = 0;
};

// One FILE record kept for the tree rebuild.
class CCommonFileRecordInfo {
public:
    CCommonFileRecordInfo() = default;
    ~CCommonFileRecordInfo();
    CCommonFileRecordInfo(const CCommonFileRecordInfo&) = delete;
    CCommonFileRecordInfo& operator=(const CCommonFileRecordInfo&) = delete;

    bool InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector);
    bool IsDirectory() const { return m_dwDirectory != 0; }
    long long GetSectorAddress() const { return m_s64Sector; }
    long long GetFileRecordNumberofParentDirectory() const { return m_s64Parent; }
    void SetFileRecordNumberofParentDirectory(long long n) { m_s64Parent = n; }
    long long GetMFTFileRecordNumber() const { return m_s64MFTNumber; }
    void SetMFTFileRecordNumber(long long n) { m_s64MFTNumber = n; }
    CNTFSFileProperties* GetNTFSFileProperties() const { return m_pProperties; }
    // Takes ownership; the previous properties are freed.
    void SetNTFSFileProperties(CNTFSFileProperties* p);
    // Hands the properties over (to a node).
    CNTFSFileProperties* TakeNTFSFileProperties();

private:
    uint32_t m_dwDirectory = 0;
    long long m_s64Sector = 0;
    long long m_s64Parent = -1;
    CNTFSFileProperties* m_pProperties = nullptr;
    long long m_s64MFTNumber = -1;
};

struct CLessThanbyParentMFTNumber {
    bool operator()(const CCommonFileRecordInfo* a, const CCommonFileRecordInfo* b) const
    {
        return a->GetFileRecordNumberofParentDirectory() < b->GetFileRecordNumberofParentDirectory();
    }
};

using FileRecordPositionList = std::list<CCommonFileRecordPositionInfo>;

// Non-owning bundle handed from the search to the tree rebuild.
class CNTFSIntelligentSearchInfo {
public:
    void Init(MFTInfoList* mft, FileRecordPositionList* positions, FindFileList* finders)
    {
        m_pMFT = mft;
        m_pPositions = positions;
        m_pFinders = finders;
    }
    MFTInfoList* GetMFTInfoContainer() const { return m_pMFT; }
    FileRecordPositionList* GetCommonFileRecordPositionInfoList() const { return m_pPositions; }
    FindFileList* GetFindFileContainer() const { return m_pFinders; }

private:
    MFTInfoList* m_pMFT = nullptr;
    FileRecordPositionList* m_pPositions = nullptr;
    FindFileList* m_pFinders = nullptr;
};
