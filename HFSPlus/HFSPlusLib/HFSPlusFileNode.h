// File nodes of HFS+ catalog records, and the reader of files that the file
// system keeps compressed (zlib or LZVN, inline in the "com.apple.decmpfs"
// attribute or in the resource fork).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FileNode.h"
#include "HFSPlusStructs.h"
#include "IRecovery.h"

class CHFSPlusVolume;
union BTKey;
union HFSPlusCatalogRecord;

// UTF-16 units (host order) as UTF-8, at most limit bytes; stops at a unit
// that cannot be converted (a lone surrogate).
std::string HfsUtf16ToUtf8(const char16_t* units, size_t count, size_t limit);

// 100-ns units since 1601 of an HFS+ date (seconds since 1904); 0 stays 0.
unsigned long long HfsDateToFileTime(uint32_t seconds);

class CHFSPlusFileNode : public CFileNode {
public:
    // kByteRead: the volume's allocation blocks are smaller than its device
    // sectors, so the data cannot be read in whole sectors per block; the
    // node's reader then reads it through the volume by bytes.
    enum : uint8_t { kDeleted = 1, kFolder = 2, kCompressed = 4, kByteRead = 8 };

    // Quick scan: metadata sector 0, partition index 0.
    CHFSPlusFileNode(CHFSPlusVolume* volume, BTKey* key, HFSPlusCatalogRecord* record, int deleted);
    // Deep scan: the sector of the catalog node the record came from.
    CHFSPlusFileNode(CHFSPlusVolume* volume, long long metadataSector, unsigned short partitionIndex, BTKey* key,
                     HFSPlusCatalogRecord* record);
    ~CHFSPlusFileNode() override = default;

    const char* GetFileName() override { return m_strName.c_str(); }
    long long GetFileSize() override { return static_cast<long long>(m_u64Size); }
    unsigned int GetAttribute() override { return 0; }
    unsigned long long GetCreationTime() override { return HfsDateToFileTime(m_dwCreateDate); }
    unsigned long long GetModificationTime() override { return HfsDateToFileTime(m_dwModifyDate); }
    unsigned long long GetLastAccessTime() override { return HfsDateToFileTime(m_dwAccessDate); }
    int IsDirectory() override { return (m_u8Flags & kFolder) ? 1 : 0; }
    int IsDeleted() override { return (m_u8Flags & kDeleted) ? 1 : 0; }
    IFileNode* Clone() override { return this; }
    void MarkDeleted() override { m_u8Flags |= kDeleted; }
    IFileReader* CreateCompressFileReader(void* context) override;
    // Also 1 for data read through the volume by bytes: the recovery then
    // asks the node for its own reader.
    int IsCompressed() const override { return (m_u8Flags & (kCompressed | kByteRead)) ? 1 : 0; }
    void FilterFileNameByDot() override { m_strName = CFileNode::FilterFileNameByDot(m_strName); }
    void UpdateFileSize(long long size) override { m_u64Size = static_cast<unsigned long long>(size); }
    // The uncompressed size of a compressed file, from its decmpfs header.
    void UpdateNodeInfo() override;

    CHFSPlusVolume* GetVolume() const { return m_pVolume; }
    uint8_t GetFlags() const { return m_u8Flags; }

    static IDataRunList* BuildFileDataRun(CHFSPlusVolume* volume, uint32_t fileId, uint8_t forkType,
                                          const HFSPlusForkData& fork);

private:
    void CreateFileNode(CHFSPlusVolume* volume, long long metadataSector, unsigned short partitionIndex, BTKey* key,
                        HFSPlusCatalogRecord* record, int deleted);
    void SetPacked(long long metadataSector, unsigned short partitionIndex);

    uint32_t m_dwCreateDate = 0;
    CHFSPlusVolume* m_pVolume = nullptr;
    std::string m_strName;
    unsigned long long m_u64Size = 0;
    uint32_t m_dwModifyDate = 0;
    uint32_t m_dwAccessDate = 0;
    uint16_t m_wAttributes = 0;
    uint8_t m_u8Flags = 0;
};

// Reads a compressed file's data, decompressed; or, with plain set, a
// file's data as stored, through the volume's byte reads.
class CHFSPlusCompressFileReader : public IFileReader {
public:
    CHFSPlusCompressFileReader(CHFSPlusVolume* volume, CFileNode* node, bool plain = false);
    CHFSPlusCompressFileReader(const CHFSPlusCompressFileReader& other);
    ~CHFSPlusCompressFileReader() override = default;

    // The bytes placed in buffer.
    int ReadData(long long offset, char* buffer, unsigned int size, int* unused) override;
    IFileReader* Clone() override { return nullptr; }
    long long GetDataSize() const override;
    int IsCompressFile() override;
    void Release() override { delete this; }

private:
    // Decompresses the whole file once; false when it cannot be read.
    bool Decode();
    bool ReadResourceFork(std::vector<unsigned char>& fork);
    // Bytes the volume holds by its header (the most any file can decode to).
    unsigned long long VolumeBytes() const;
    // The stored bytes at offset, through the node's runs: the count read.
    int ReadPlain(long long offset, char* buffer, unsigned int size);

    CHFSPlusVolume* m_pVolume;
    CFileNode* m_pNode;
    bool m_bDecoded = false;
    bool m_bPlain = false;
    std::vector<unsigned char> m_vecData;
};

// LZVN: the bytes decoded into dst (0 on a malformed stream or an output
// under 16 bytes).
size_t lzvn_decode(void* dst, unsigned long dstSize, const void* src, unsigned long srcSize);
