// NTFS file properties, the node every NTFS searcher hands to the tree
// builder, the builder that fills properties from a file record, and the
// reads of data that lives inside a file record.
//
// Node id: the MFT record number; parent node id: the parent folder's MFT
// record number (5 is the root folder).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "FileNode.h"
#include "NTFSDataRunList.h"
#include "NTFSFileRecord.h"

class CCommonFileRecordInfo;
class IStorageDevice;

// Plain record the properties builder fills.
struct CNTFSFilePropertiesStruct {
    std::string strName;
    uint16_t u16NameLength = 0;
    long long s64FileSize = 0;
    uint16_t u16Attribute = 0;
    long long s64CreationTime = 0;
    long long s64ModificationTime = 0;
    long long s64LastAccessTime = 0;
    uint8_t u8State = 0;
    long long s64FileRecordStartSector = 0;
    std::unique_ptr<CCompressedDataRunList> pDataRuns;
    long long s64MFTNumber = -1;
};

enum : uint16_t {
    NTFS_FILE_READONLY = 0x01,
    NTFS_FILE_HIDDEN = 0x02,
    NTFS_FILE_SYSTEM = 0x04,
    NTFS_FILE_DIRECTORY = 0x10,
    NTFS_FILE_ARCHIVE = 0x20,
    NTFS_FILE_ENCRYPTED = 0x40,
    NTFS_FILE_COMPRESSED = 0x800,
};

class CNTFSFileProperties : public IFileProperties {
public:
    static CNTFSFileProperties* Create() { return new CNTFSFileProperties(); }
    static void Destory(CNTFSFileProperties* p) { delete p; }
    // Takes the name and the compact extents out of the structure.
    void Init(CNTFSFilePropertiesStruct& values);

    int GetFileNameLength() override { return m_u16NameLength; }
    void SetFileName(const char* name) override;
    const char* GetFileName() override { return m_bHasName ? m_strName.c_str() : nullptr; }
    long long GetFileSize() override { return m_s64FileSize; }
    unsigned int GetAttribute() override { return m_u16Attribute; }
    unsigned long long GetRawFileCreateTime() override { return 0; }
    unsigned long long GetCreationTime() override { return static_cast<unsigned long long>(m_s64CreationTime); }
    unsigned long long GetModificationTime() override { return static_cast<unsigned long long>(m_s64ModificationTime); }
    unsigned long long GetLastAccessTime() override { return static_cast<unsigned long long>(m_s64LastAccessTime); }
    unsigned short GetState() override { return m_u8State; }
    void SetState(unsigned short state) override { m_u8State = static_cast<uint8_t>(state); }
    // A new extent list expanded from the compact form (caller releases it),
    // or null when the file has none.
    IDataRunList* GetDataRunList() override;
    IFileProperties* Clone() override;

    void SetFileSize(long long size) { m_s64FileSize = size; }
    void SetAttribute(uint16_t attribute) { m_u16Attribute = attribute; }
    // Compresses a copy of list; null is ignored.
    void SetDataRunList(IDataRunList* list);
    void ClearDataRunList() { m_pDataRuns.reset(); }
    long long GetFileRecordStartSector() const { return m_s64FileRecordStartSector; }
    void SetFileRecordStartSector(long long sector) { m_s64FileRecordStartSector = sector; }
    ExtendFileRecordInfoList* GetExtendFileRecordInfoList() const { return m_pExtendList.get(); }
    void SetExtendFileRecordInfoList(std::unique_ptr<ExtendFileRecordInfoList> list) { m_pExtendList = std::move(list); }
    int GetFilePropertyiesType() const { return 0; }
    const CCompressedDataRunList* GetCompressedDataRunList() const { return m_pDataRuns.get(); }

private:
    std::string m_strName;
    bool m_bHasName = false;
    uint16_t m_u16NameLength = 0;
    long long m_s64FileSize = 0;
    uint16_t m_u16Attribute = 0;
    long long m_s64CreationTime = 0;
    long long m_s64ModificationTime = 0;
    long long m_s64LastAccessTime = 0;
    uint8_t m_u8State = 0;
    long long m_s64FileRecordStartSector = 0;
    std::unique_ptr<CCompressedDataRunList> m_pDataRuns;
    std::unique_ptr<ExtendFileRecordInfoList> m_pExtendList;
};

class CNTFSFileNode : public CFileNode {
public:
    CNTFSFileNode() = default;
    ~CNTFSFileNode() override;

    const char* GetFileName() override;
    long long GetFileSize() override;
    unsigned int GetAttribute() override;
    unsigned long long GetCreationTime() override;
    unsigned long long GetModificationTime() override;
    unsigned long long GetLastAccessTime() override;
    int IsDirectory() override { return (GetAttribute() & NTFS_FILE_DIRECTORY) ? 1 : 0; }
    int IsDeleted() override;
    _tagSearcherType GetSearcheType() const override { return SEARCHER_NTFS; }
    IFileNode* Clone() override;
    void MarkDeleted() override;
    IFileReader* CreateCompressFileReader(void*) override;
    int IsCompressed() const override;
    void FilterFileNameByDot() override;
    void SetFileName(const char* name) override;

    // The node owns the properties from now on; it takes node id 0, parent
    // id 5, the record's sector as metadata sector, and the expanded extents.
    void SetFileProperties(CNTFSFileProperties* properties);
    CNTFSFileProperties* GetFileProperties() const { return m_pProperties; }
    // The deep search's record information of this file (not owned).
    void SetPrivateDataofSpecifiedFileSystem(CCommonFileRecordInfo* info) { m_pPrivateData = info; }
    CCommonFileRecordInfo* GetPrivateDataofSpecifiedFileSystem() const { return m_pPrivateData; }

private:
    CNTFSFileProperties* m_pProperties = nullptr;
    CCommonFileRecordInfo* m_pPrivateData = nullptr;
};

class CNTFSFilePropertiesBuilder {
public:
    // New properties of the multi-record's file, or null; parent gets the
    // parent folder's MFT number when one is known (else it is left alone).
    static CNTFSFileProperties* BuildFileProperties(long long recordStartSector, CNTFSMultiFileRecord& record,
                                                    unsigned int clusterBytes, long long* parent);
    static void AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(CNTFSFileProperties* properties,
                                                                         unsigned int sectorsPerCluster,
                                                                         unsigned int sectorSize);
};

// 1 when the file's first unnamed $DATA is resident and fits into buffer
// (copied, length set), else 0.
int GetResidentDataRunsStream(CNTFSFileNode& node, IStorageDevice& device, unsigned int* length, uint8_t* buffer,
                              unsigned int bufferSize);
int GetResidentDataRunsStream(long long recordStartSector, IStorageDevice& device, unsigned int* length,
                              uint8_t* buffer, unsigned int bufferSize);
