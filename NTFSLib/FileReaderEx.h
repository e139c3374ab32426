// Reads the first bytes of any found file through the node's own extent
// list, without the data-recovery machinery: the renaming of recycled files
// reads the small information files of recycle-bin folders with it. Works
// for nodes of every file system that counts in clusters; data kept inside
// an NTFS file record is read from the record.
#pragma once

#include <cstdint>
#include <vector>

class CFileNode;
class IStorageDevice;

class CFileReaderEx {
public:
    CFileReaderEx() = default;
    ~CFileReaderEx() { Close(); }
    CFileReaderEx(const CFileReaderEx&) = delete;
    CFileReaderEx& operator=(const CFileReaderEx&) = delete;

    // 0 for a missing device or node, a cluster size of 0, an empty file or
    // a node without extents; otherwise 1.
    int Open(IStorageDevice* device, CFileNode* node, long long partitionStart, unsigned int sectorsPerCluster);
    // Bytes [offset, offset + count) of the file, cut to its size; 1 on
    // success (read may be short when the extents end early), 0 otherwise.
    // Sparse extents read as zeros.
    int Read(long long offset, uint8_t* buffer, long long count, long long& read);
    // For files whose data lies inside the file record.
    int ReadResidentData(long long offset, uint8_t* buffer, long long count, long long& read);
    void Close();

private:
    IStorageDevice* m_pDevice = nullptr;
    CFileNode* m_pNode = nullptr;
    uint32_t m_dwClusterSize = 0;
    uint32_t m_dwSectorsPerCluster = 0;
    long long m_s64FileSize = 0;
    long long m_s64PartitionStart = 0;
    std::vector<uint8_t> m_vecClusterBuffer;  // eight clusters
};
