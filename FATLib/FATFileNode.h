// A file or folder found on a FAT volume.
//
// Node id: the entry's first cluster (files of size 0 get made-up ids from
// 0x100000000 up); parent node id: the parent folder's first cluster; bits
// 24-63 of the packed word: the sector of the directory entry.
#pragma once

#include "FATFileProperties.h"
#include "FileNode.h"

class CFATFileNode : public CFileNode {
public:
    CFATFileNode() = default;
    ~CFATFileNode() override;

    const char* GetFileName() override;
    long long GetFileSize() override;
    unsigned int GetAttribute() override;
    unsigned long long GetCreationTime() override;
    unsigned long long GetModificationTime() override;
    unsigned long long GetLastAccessTime() override;
    int IsDirectory() override;
    int IsDeleted() override;
    _tagSearcherType GetSearcheType() const override { return SEARCHER_FAT; }
    // Also moves the properties' parent cluster, so that both stay in step.
    void SetParentNodeID(long long id) override;
    IFileNode* Clone() override;
    void MarkDeleted() override;
    void FilterFileNameByDot() override;
    void SetFileName(const char* name) override;

    // Takes ownership of props (a CFATFileProperties; anything else is
    // destroyed) and takes the ids and the metadata sector from it.
    void SetFileProperties(IFileProperties* props);
    CFATFileProperties* GetFileProperties() const { return m_pFileProperties; }

protected:
    void OnSameIdDirectoryRenamed(CFileNode& other) override;

private:
    CFATFileProperties* m_pFileProperties = nullptr;
};
