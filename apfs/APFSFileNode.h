// A file or folder found on an APFS container. The several records of one
// object (inode, directory record, extents) arrive in any order and from
// blocks of different ages; the node gathers them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "FileNode.h"

class APFSFileNode : public CFileNode {
public:
    enum : uint8_t {
        kFolder = 1,
        kDeleted = 2,
        kReported = 4,
        kExtentsCoverSize = 8,
        kKindFixed = 16,
        kMerged = 32,
        kParentIdSet = 64,
    };

    APFSFileNode() = default;
    ~APFSFileNode() override;
    APFSFileNode(const APFSFileNode&) = delete;
    APFSFileNode& operator=(const APFSFileNode&) = delete;

    const char* GetFileName() override { return m_strName.c_str(); }
    long long GetFileSize() override { return static_cast<long long>(m_u64Size); }
    unsigned int GetAttribute() override { return IsDirectory() ? 0x10 : 0x20; }
    unsigned long long GetCreationTime() override { return ToFileTime(m_u64CreationTime); }
    unsigned long long GetModificationTime() override { return ToFileTime(m_u64ModificationTime); }
    unsigned long long GetLastAccessTime() override { return ToFileTime(m_u64AccessTime); }
    int IsDirectory() override { return (m_byFlags & kFolder) ? static_cast<int>(0xFFFFFFFF) : 0; }
    int IsDeleted() override { return (m_byFlags & kDeleted) ? static_cast<int>(0xFFFFFFFF) : 0; }
    void SetParentNodeID(long long id) override;
    IFileNode* Clone() override;
    // The container owns its nodes and deletes them itself.
    void Release() override {}
    void MarkDeleted() override { m_byFlags |= kDeleted; }
    void FilterFileNameByDot() override {}
    virtual int GetApfsSearcherType() const { return 37; }

    void SetNodeID(uint64_t id) { m_llNodeID = static_cast<long long>(id); }
    void SetKind(bool folder);
    static bool AcceptName(const char* name, int length);
    static std::string MakeName(const char* raw, int length);
    void SetName(const char* raw, int length);
    // Takes a name already made by MakeName.
    void SetMadeName(std::string name);
    void SetSize(uint64_t size);
    bool AddExtent(uint64_t startSector, uint64_t sectorCount, int sectorSize, uint64_t logicalOffset);
    static void AttachToParent(APFSFileNode* parent, APFSFileNode* child);
    bool IsReportable(bool final);
    // Replaces the data runs with a copy of other's.
    void CopyRunsFrom(const APFSFileNode& other);

    // nanoseconds since 1970 -> whole seconds in 100-ns units since 1601.
    static unsigned long long ToFileTime(uint64_t ns)
    {
        return 116444736000000000ULL + (ns / 1000000000ULL) * 10000000ULL;
    }

    std::string m_strName;
    uint64_t m_u64Size = 0;
    uint64_t m_u64CreationTime = 0;
    uint64_t m_u64ModificationTime = 0;
    uint64_t m_u64AccessTime = 0;
    uint64_t m_u64FoundAt = 0;
    uint64_t m_u64Key = 0;
    uint64_t m_u64ParentKey = static_cast<uint64_t>(-1);
    APFSFileNode* m_pApfsParent = nullptr;
    APFSFileNode* m_pApfsFirstChild = nullptr;
    APFSFileNode* m_pApfsNextSibling = nullptr;
    APFSFileNode* m_pMergedInto = nullptr;
    uint8_t m_byFlags = 0;
    std::map<uint64_t, DataRun> m_mapExtents;

private:
    uint64_t ExtentTotal(int sectorSize) const;
    void UpdateCoverage(int sectorSize);
    void RebuildRuns();
};
