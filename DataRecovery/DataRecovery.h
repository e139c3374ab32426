// Copies found files out of the scanned device.
#pragma once

#include <memory>
#include <vector>

#include "BridgeLocks.h"
#include "FileNode.h"
#include "IRecovery.h"
#include "LargeBuffer.h"
#include "SearchedPartitionInfo.h"

class IProgress;
class IRestoreSource;

// Sort order of partition records: descending score, null entries last.
bool PartitionInfoCompare(CSearchedPartitionInfo* a, CSearchedPartitionInfo* b);

class CDataRecovery : public IDataRecovery {
public:
    // Result codes (module 0x0d).
    static constexpr ResultCode kErrSearcherArgument = MakeResultCode(kModuleDataRecovery, 0x45, 5);
    static constexpr ResultCode kErrNoPartition = MakeResultCode(kModuleDataRecovery, 0x4b, 0xd01);
    static constexpr ResultCode kErrNoPartitionOnRetry = MakeResultCode(kModuleDataRecovery, 0x52, 0xd01);
    static constexpr ResultCode kErrListArgument = MakeResultCode(kModuleDataRecovery, 0x6e, 5);
    static constexpr ResultCode kErrNoPath = MakeResultCode(kModuleDataRecovery, 0x102, 5);
    static constexpr ResultCode kErrCannotCreateEmpty = MakeResultCode(kModuleDataRecovery, 0x10b, 0xf);
    static constexpr ResultCode kErrNoReader = MakeResultCode(kModuleDataRecovery, 0x10f, 0xd02);
    static constexpr ResultCode kErrSizeForCompressed = MakeResultCode(kModuleDataRecovery, 0x115, 0xf);
    static constexpr ResultCode kErrCompressedCopy = MakeResultCode(kModuleDataRecovery, 0x121, 1);
    static constexpr ResultCode kErrCannotOpenDestination = MakeResultCode(kModuleDataRecovery, 0x131, 0xf);
    static constexpr ResultCode kErrNoData = MakeResultCode(kModuleDataRecovery, 0x136, 0xd02);
    static constexpr ResultCode kErrWriteIncomplete = MakeResultCode(kModuleDataRecovery, 0x15f, 0xd03);
    // Partly recovered (kind 0xd04): what could be had is in the file.
    static constexpr unsigned kKindPartlyRecovered = 0xd04;
    static constexpr ResultCode kErrPartDeviceEnd = MakeResultCode(kModuleDataRecovery, 0x170, kKindPartlyRecovered);
    static constexpr ResultCode kErrPartExtentsEnd = MakeResultCode(kModuleDataRecovery, 0x173, kKindPartlyRecovered);
    static constexpr ResultCode kErrPartUnreadable = MakeResultCode(kModuleDataRecovery, 0x171, kKindPartlyRecovered);
    static constexpr ResultCode kErrPartReadsStopped =
        MakeResultCode(kModuleDataRecovery, 0x172, kKindPartlyRecovered);

    static constexpr int kChunkSize = 0x400000;
    static constexpr int kThumbnailWindow = 0x10000;

    CDataRecovery() = default;
    ~CDataRecovery() override;
    CDataRecovery(const CDataRecovery&) = delete;
    CDataRecovery& operator=(const CDataRecovery&) = delete;

    ResultCode Initialize(IFileSystemSearchController* searcher, IStorageDevice* device) override;
    // Chooses the node to copy; returns a copy of its reader (the caller
    // releases it) or null when the node cannot be read.
    IFileReader* SetRecoverNode(IFileNode* node) override;
    // Writes the chosen node (size bytes when non-zero, else all of it) to
    // path and gives the file and its folders the node's creation time.
    // 0 when written; kErrWriteIncomplete when a write did not complete; a
    // code of kind kKindPartlyRecovered when only part of the data could be
    // had: the file ends where the device does, or reads failed (holes of
    // zeros; the copy gives up after a run of failed reads).
    ResultCode RecoverTo(const char* path, IProgress* progress, int size) override;
    // Length of the first JPEG embedded in the node's first 64 KiB, copied
    // to buffer; 0 when there is none.
    int ReadSmallJPG(char* buffer, unsigned int size) override;
    void Release() override { delete this; }

    // From the partitions of a loaded scan result; the records are copied.
    ResultCode Initialize(std::vector<CSearchedPartitionInfo*>& partitions, IStorageDevice* device);
    std::vector<CSearchedPartitionInfo*>& GetSearchedPartition() { return m_vecPartitions; }
    unsigned int GetSearchedPartitionCount() const { return m_dwCount; }

    CSearchedPartitionInfo* GetNodePartition(CFileNode* node);
    bool IsMetaDataInRange(CSearchedPartitionInfo* partition, CFileNode* node);
    bool IsDataRunListInRange(CSearchedPartitionInfo* partition, CFileNode* node);
    bool IsDataRunInRange(const DataRun& run, CSearchedPartitionInfo* partition);
    bool IsClusterSuit(unsigned int sectorsPerUnit, CFileNode* node);

private:
    void DropPartitions();
    // The copy buffer, made on the first copy: listing and reading
    // through the readers never need it.
    bool MakeBuffer();
    char* Buffer() const { return reinterpret_cast<char*>(m_pBuffer.get()); }
    // Sets the modification time of the file and of the folder of each
    // ancestor node to the nodes' creation times.
    void SetRecoveredTimes(const char* path);

    int m_iChunkSize = kChunkSize;
    LargeBuffer m_pBuffer;
    IFileReader* m_pReader = nullptr;
    std::vector<CSearchedPartitionInfo*> m_vecPartitions;
    unsigned int m_dwCount = 0;
    IStorageDevice* m_pDevice = nullptr;
    unsigned int m_dwCompressedNtfs = 0;
    long long m_llCreationTime = 0;
    IFileNode* m_pNode = nullptr;
    mutex_locker m_lock;
};

// The outcome of RecoverTo in words, for the user.
const char* DescribeRecoveryResult(ResultCode rc);

// A new writer for one searcher type, bound to the device and to the
// partitions of the loaded scan result when restore is given, else to those
// the searcher found. Null when it cannot be initialised.
IDataRecovery* CreateDataRecoveryFor(IFileSystemSearchController* searcher, IRestoreSource* restore,
                                     _tagSearcherType type, IStorageDevice* device);
