// Gives deleted files whose file records were emptied their size and extents
// back from the NTFS transaction log ($LogFile, MFT record 2): full images of
// file records kept as redo data, and the bytes attributes held before a
// change kept as undo data.
//
// The log is read once per scan; everything in it comes from a damaged or
// foreign disk and is bounds-checked.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "NTFSFileRecord.h"

class CNTFSFileProperties;
class IStorageDevice;

// The first 88 bytes of a log record (header and operation header) and where
// its full copy lies in the record store.
struct RecordSegInfo {
    uint8_t head[88] = {};
    size_t offset = 0;
    uint32_t length = 0;
};

// A file-record image found in the log: its properties (owned by the finder)
// and the parent folder it named.
struct _FilePropertiesExt {
    CNTFSFileProperties* pProperties = nullptr;
    long long s64Parent = -1;
};

class CFindFileFromLogFile {
public:
    static constexpr unsigned int kPageSize = 4096;
    static constexpr unsigned int kRecordHeader = 48;
    static constexpr unsigned int kFirstRecordOffset = 64;
    static constexpr unsigned int kSlotSize = 1024;

    CFindFileFromLogFile() = default;
    ~CFindFileFromLogFile();
    CFindFileFromLogFile(const CFindFileFromLogFile&) = delete;
    CFindFileFromLogFile& operator=(const CFindFileFromLogFile&) = delete;

    // Looks for the $LogFile through the MFT's first sectors; false when
    // either pointer is null or those sectors cannot be read. Cluster
    // numbers count from partitionStart (0 when the device is the volume).
    bool Init(IStorageDevice* device, const CNTFSDataRunList* mftRuns, unsigned int sectorsPerCluster,
              long long partitionStart = 0);
    // Collects the images and the log records; frees the page store.
    bool Analyzer();
    // Repairs the properties of a deleted, emptied file record; false when
    // nothing could be done.
    bool ReplaceFileRecordInfo(const uint8_t* record, CNTFSFileProperties& properties, long long parent,
                               const ExtendFileRecordInfoList* extendList);
    void Reset();

    bool IsReady() const { return m_bReady; }
    bool IsAnalyzed() const { return m_bAnalyzed != 0; }
    unsigned long long GetLogPageCount() const;
    // The unprotected-as-read bytes of page n, loading the log on first use.
    bool GetLogPageBuffer(unsigned long long page, uint8_t** out);
    const std::vector<_FilePropertiesExt>& GetImages() const { return m_vecImages; }
    const std::vector<RecordSegInfo>& GetRecords() const { return m_vecRecords; }

    // MFT number of the file record a log record changes, or -1.
    static long long GetMFTNumberOfLogRecord(const uint8_t* head, unsigned int sectorsPerCluster,
                                             unsigned int sectorSize);
    // Properties of a logged file-record image when it describes a file with
    // a size; parent gets its parent folder.
    bool BuildFileProperties(const uint8_t* image, unsigned int size, CNTFSFileProperties** out, long long* parent);
    // Puts logged undo data back into every $DATA attribute of the
    // (unprotected) record.
    void RebuildFileRecord(uint8_t* record, unsigned int size);
    void BuildFileDataAttributeBuffer(uint32_t number, uint32_t attributeOffset, uint8_t* record, unsigned int size,
                                      uint32_t& end);

private:
    bool LoadPages();
    // Calls visit(record, length, page offset where it began) for every
    // complete record of pages 4 to the last.
    void WalkRecords(const std::function<void(const uint8_t*, uint32_t, uint32_t)>& visit);
    void AnalyzerFileRecord();
    void AnalyzerAllLogRecord();

    bool m_bReady = false;
    IStorageDevice* m_pDevice = nullptr;
    std::unique_ptr<IDataRunList, void (*)(IDataRunList*)> m_pRuns{nullptr, [](IDataRunList* l) { l->Release(); }};
    uint8_t m_u8SectorsPerCluster = 8;
    unsigned int m_dwSectorSize = 512;
    long long m_s64PartitionStart = 0;
    std::vector<uint8_t> m_vecPages;
    bool m_bPagesTried = false;
    std::vector<uint8_t> m_vecRecordStore;
    CNTFSFileProperties* m_pLogProperties = nullptr;
    std::vector<_FilePropertiesExt> m_vecImages;
    std::vector<RecordSegInfo> m_vecRecords;
    uint8_t m_u8Compressed = 0;
    uint8_t m_bAnalyzed = 0;
};
