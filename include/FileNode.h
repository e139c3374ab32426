// Common node base, the synthetic folder node and the extent list.
#pragma once

#include <list>
#include <string>

#include "IFileNode.h"

class CDataRunList : public IDataRunList {
public:
    CDataRunList() = default;
    ~CDataRunList() override = default;
    DataRun* GetFirst() override;
    DataRun* GetNext() override;
    int IsDone() override;
    int IsResident() override { return m_iResident; }
    IDataRunList* Clone() override;
    void AddDataRun(const DataRun* run) override;
    long long GetOffset() override { return 0; }
    int GetDataRunListType() override { return 5; }
    void Release() override { delete this; }

    size_t GetCount() const { return m_runs.size(); }
    // Set right after construction, for a list read back from a saved result.
    void SetResident(int resident) { m_iResident = resident; }

private:
    int m_iResident = 0;
    std::list<DataRun> m_runs;
    std::list<DataRun>::iterator m_cursor = m_runs.end();
};

class CFileNode : public IFilesystemNode {
public:
    CFileNode() = default;
    CFileNode(const CFileNode&) = delete;
    CFileNode& operator=(const CFileNode& other);  // copies every field, links included
    ~CFileNode() override;

    int IsNodeShow() const override;
    void ShowNode(int show) override;
    long long GetCurrentNodeID() const override { return m_llNodeID; }
    long long GetParentNodeID() const override { return m_llParentNodeID; }
    CFileNode* GetParent() const override { return m_pParent; }
    CFileNode* GetFirstChild() override { return m_pFirstChild; }
    CFileNode* GetNextNode() override { return m_pNextSibling; }
    _tagCheckedStatus GetCheckedStatus() override;
    void SetCheck(_tagCheckedStatus status) override;
    _tagSearcherType GetSearcheType() const override { return SEARCHER_NONE; }
    const char* GetVolumeName() const override { return nullptr; }
    int AddChild(IFileNode* node) override;
    int AddNext(IFileNode* node) override;
    void SetParentNodeID(long long id) override { m_llParentNodeID = id; }
    void Release() override { delete this; }
    IFileReader* CreateCompressFileReader(void*) override { return nullptr; }
    int IsCompressed() const override { return static_cast<int>(m_dwCompressed); }
    void SetMetaDataSector(long long sector) override;
    void UpdateFileSize(long long) override {}
    void UpdateNodeInfo() override {}
    void SetFileName(const char*) override {}
    using IFileNode::FilterFileNameByDot;

    void SetBelongedPartition(unsigned short index);
    unsigned short GetBelongedPartition() const;
    long long GetMetadataStartPosition() const;
    IDataRunList* GetDataRunList() const { return m_pDataRunList; }
    // Takes ownership of list; the previous list is released.
    void SetDataRunList(IDataRunList* list);
    void SetCurrentNodeID(long long id) { m_llNodeID = id; }
    void SetParent(CFileNode* parent);
    int RemoveChild(CFileNode* child);
    static bool IsLoopedToSelf(IFileNode* node, IFileNode* candidate);
    void MergeNode(CFileNode* other);
    bool operator==(CFileNode& other);

    unsigned int GetShownChildrenCount() const { return m_dwShownChildren; }
    unsigned int GetCheckedChildrenCounter() const { return m_dwCheckedChildren; }
    unsigned long long GetStatusWord() const { return m_u64Status; }

    // The name without its leading run of spaces and dots.
    static std::string FilterFileNameByDot(const std::string& name);

protected:
    // Runs from operator== when a FAT node meets a same-id directory of
    // another name that is not older; FAT nodes take over its properties.
    virtual void OnSameIdDirectoryRenamed(CFileNode& /*other*/) {}

    CFileNode* m_pFirstChild = nullptr;
    CFileNode* m_pNextSibling = nullptr;
    unsigned int m_dwShownChildren = 0;
    IDataRunList* m_pDataRunList = nullptr;
    long long m_llNodeID = -1;
    long long m_llParentNodeID = -1;
    unsigned long long m_u64Status = static_cast<unsigned long long>(-240LL);
    CFileNode* m_pParent = nullptr;
    unsigned int m_dwCheckedChildren = 0;
    unsigned int m_dwCompressed = 0;
    // Set once any node names this one as its parent: a node that never was a
    // parent cannot be anybody's ancestor, which spares AddChild the climb.
    bool m_bWasParent = false;

private:
    void SetCheckedBits(int status);
    void SetShownBits(int shown);
    void ShowParent(int change);
    void SetParentStatus(int change);
    static void SetChildStatus(CFileNode* first, _tagCheckedStatus status);
};

// Synthetic folder node: tree roots and lost-files folders.
class CFilesystemNode : public CFileNode {
public:
    CFilesystemNode(const char* name, const char* volumeName, _tagSearcherType type, long long nodeId);

    const char* GetFileName() override { return m_strName.c_str(); }
    long long GetFileSize() override { return 0; }
    unsigned int GetAttribute() override { return 0; }
    unsigned long long GetCreationTime() override { return 0; }
    unsigned long long GetModificationTime() override { return 0; }
    unsigned long long GetLastAccessTime() override { return 0; }
    int IsDirectory() override { return 1; }
    int IsDeleted() override { return 0; }
    _tagSearcherType GetSearcheType() const override { return m_eSearcherType; }
    const char* GetVolumeName() const override { return m_strVolumeName.c_str(); }
    IFileNode* Clone() override;
    void MarkDeleted() override {}
    void FilterFileNameByDot() override {}
    void SetNames(const char* name, const char* volumeName)
    {
        m_strName = name ? name : "";
        m_strVolumeName = volumeName ? volumeName : "";
    }

private:
    _tagSearcherType m_eSearcherType;
    std::string m_strName;
    std::string m_strVolumeName;
};
