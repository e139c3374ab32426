// A file or folder found on an exFAT volume, live or deleted.
//
// Node id: the sector of the first cluster (0 for an empty file); parent
// node id: the sector of the parent folder's first cluster.
#pragma once

#include <cstdint>
#include <string>

#include "FileNode.h"

class CExFatFileNode : public CFileNode {
public:
    // Bits of the attribute word above the on-disk FileAttributes.
    static constexpr uint32_t kAttrFatInvalid = 0x40000000u;  // clusters are consecutive, no FAT chain
    static constexpr uint32_t kAttrDeleted = 0x80000000u;

    CExFatFileNode() = default;
    ~CExFatFileNode() override = default;

    const char* GetFileName() override { return m_strName.c_str(); }
    long long GetFileSize() override { return m_s64Size; }
    unsigned int GetAttribute() override { return m_dwAttributes & 0xFFFFu; }
    unsigned long long GetCreationTime() override { return FileTimeToU64(m_ftCreation); }
    unsigned long long GetModificationTime() override { return FileTimeToU64(m_ftModification); }
    unsigned long long GetLastAccessTime() override { return FileTimeToU64(m_ftLastAccess); }
    int IsDirectory() override { return (m_dwAttributes & FILE_ATTRIBUTE_DIRECTORY_BIT) ? 1 : 0; }
    int IsDeleted() override { return (m_dwAttributes & kAttrDeleted) ? 1 : 0; }
    IFileNode* Clone() override;
    void MarkDeleted() override { m_dwAttributes |= kAttrDeleted; }
    void FilterFileNameByDot() override;
    // No name given: nothing changes.
    void SetFileName(const char* name) override;

    void SetFileSize(long long size) { m_s64Size = size; }
    void SetFileTime(const _FILETIME& creation, const _FILETIME& modification, const _FILETIME& access);
    void SetID(long long id) { SetCurrentNodeID(id); }
    void SetParentID(long long id) { SetParentNodeID(id); }
    // Ors bits into the attribute word.
    void SetFileAttributes(uint32_t bits) { m_dwAttributes |= bits; }
    void SetFileDeleted() { m_dwAttributes |= kAttrDeleted; }
    int IsFatInvalid() const { return (m_dwAttributes & kAttrFatInvalid) ? 1 : 0; }
    uint32_t GetAttributeWord() const { return m_dwAttributes; }
    void SetFirstCluster(uint32_t cluster) { m_dwFirstCluster = cluster; }
    uint32_t GetFirstCluster() const { return m_dwFirstCluster; }

private:
    std::string m_strName;
    long long m_s64Size = 0;
    uint32_t m_dwAttributes = 0;
    _FILETIME m_ftCreation;
    _FILETIME m_ftModification;
    _FILETIME m_ftLastAccess;
    uint32_t m_dwFirstCluster = 0xFFFFFFFFu;
};
