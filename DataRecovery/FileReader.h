// Reads a found file's bytes from the scanned device through its extents.
#pragma once

#include <vector>

#include "FileNode.h"
#include "IRecovery.h"

class CSearchedPartitionInfo;
class IStorageDevice;

// Fetches the value of a file whose data lives inside its file record (NTFS
// resident data). The file system that knows such files registers these.
//   by node:   1 copied, 0 failed, -1 the node is not one of its own nodes;
//   by sector: 1 copied, 0 failed; recordSector is the device sector of the
//              file record (the first extent's start of a resident list).
// At most capacity bytes are copied into buffer; length gets the value's size.
using ResidentDataByNode = int (*)(CFileNode* node, IStorageDevice* device, unsigned int* length,
                                   unsigned char* buffer, unsigned int capacity);
using ResidentDataBySector = int (*)(long long recordSector, IStorageDevice* device, unsigned int* length,
                                     unsigned char* buffer, unsigned int capacity);
// Either may be null; without a provider a resident read fails.
void SetResidentDataProvider(ResidentDataByNode byNode, ResidentDataBySector bySector);

// Reader of a node's data: allocation unit u of the node's extents lies at
// device sector u * sectors-per-unit + unit base. Sparse extents (negative
// start) read as zeros. Never writes past the caller's size, takes any
// offset, and treats an extent outside the device as a failed read.
class CFileReader : public IFileReader {
public:
    CFileReader() = default;
    ~CFileReader() override = default;

    // Bytes read, 0 on failure (*error then -1 when given).
    int ReadData(long long offset, char* buffer, unsigned int size, int* error) override;
    IFileReader* Clone() override;
    long long GetDataSize() const override;
    int IsCompressFile() override;
    void Release() override { delete this; }

    // 1 when the node can be read through this partition record, else 0.
    int Open(IStorageDevice* device, CFileNode* node, CSearchedPartitionInfo* partition);
    void Close();
    // 1 on success (also when fewer bytes were there), 0 on failure.
    int Read(long long offset, unsigned char* buffer, int size, int& bytesRead, int* error);
    int ReadResidentData(long long offset, unsigned char* buffer, int size, int& bytesRead);
    // How many of the file's bytes, from its start, its extents hold on the
    // device; less than the data size when the file claims more than the
    // device (or its extents) can hold. deviceEnd tells which stopped it.
    long long BytesOnDevice(bool* deviceEnd = nullptr) const;

protected:
    CFileReader(const CFileReader& other);
    CFileReader& operator=(const CFileReader&) = delete;

    // One extent of the node as laid out in the file.
    struct Extent {
        long long llStart;       // first unit, negative when sparse
        long long llFileOffset;  // where the extent begins in the file
        long long llBytes;
    };

    unsigned int DeviceSectorSize() const;
    // count bytes from byte `within` of the extent starting at unit `unit`,
    // read through whole device sectors; false when the range is not on the
    // device or a read fails.
    bool ReadUnitBytes(long long unit, long long within, unsigned char* out, long long count);
    // Device sector of unit, or -1 when it cannot be computed.
    long long UnitToSector(long long unit) const;

    IDataRunList* m_pDataRunList = nullptr;
    IStorageDevice* m_pDevice = nullptr;
    CFileNode* m_pNode = nullptr;
    int m_iClusterSize = 0;
    int m_iSectorsPerUnit = 0;
    long long m_llDataSize = 0;
    long long m_llUnitBase = 0;

    // The node's extents up to its data size, taken at Open so that reads
    // neither walk nor move the node's list cursor.
    std::vector<Extent> m_vecExtents;
    bool m_bResident = false;
    long long m_llResidentSector = -1;
    std::vector<unsigned char> m_vecSector;    // partial sectors, short runs
    std::vector<unsigned char> m_vecResident;  // resident value
};
