// Shared helpers of the engine tests.
#pragma once

#include <string>

#include "FileNode.h"

// A fresh temporary folder, removed recursively when it goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Runs a fixture command through /bin/sh; the test fails with its output when
// it exits non-zero. Returns the command's output.
std::string RunTool(const std::string& command);

// sha256 of a file, for the checks that an image is unchanged.
std::string FileDigest(const std::string& path);

// Reads a whole file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// A concrete node whose name, size, times and flags the test sets.
class TestNode : public CFileNode {
public:
    explicit TestNode(std::string name = "", long long id = -1, bool directory = false)
        : m_name(std::move(name)), m_directory(directory)
    {
        m_llNodeID = id;
    }

    const char* GetFileName() override { return m_name.c_str(); }
    long long GetFileSize() override { return m_size; }
    unsigned int GetAttribute() override { return m_directory ? FILE_ATTRIBUTE_DIRECTORY_BIT : 0; }
    unsigned long long GetCreationTime() override { return m_created; }
    unsigned long long GetModificationTime() override { return m_modified; }
    unsigned long long GetLastAccessTime() override { return m_accessed; }
    int IsDirectory() override { return m_directory ? 1 : 0; }
    int IsDeleted() override { return m_deleted ? 1 : 0; }
    _tagSearcherType GetSearcheType() const override { return m_type; }
    IFileNode* Clone() override
    {
        auto* n = new TestNode(m_name, m_llNodeID, m_directory);
        n->m_size = m_size;
        n->m_created = m_created;
        n->m_modified = m_modified;
        n->m_accessed = m_accessed;
        n->m_deleted = m_deleted;
        n->m_type = m_type;
        n->m_llParentNodeID = m_llParentNodeID;
        return n;
    }
    void MarkDeleted() override { m_deleted = true; }
    void FilterFileNameByDot() override { m_name = CFileNode::FilterFileNameByDot(m_name); }
    void UpdateFileSize(long long size) override { m_size = size; }
    void SetFileName(const char* name) override { m_name = name ? name : ""; }

    std::string m_name;
    bool m_directory = false;
    bool m_deleted = false;
    long long m_size = 0;
    unsigned long long m_created = 0;
    unsigned long long m_modified = 0;
    unsigned long long m_accessed = 0;
    _tagSearcherType m_type = SEARCHER_NONE;
};
