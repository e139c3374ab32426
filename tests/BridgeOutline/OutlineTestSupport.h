// Hand-made scan results for the outline tests: nodes made by the test and
// fed to the scan operation's found-node sink the way the tree builder
// feeds it, so the outline, the trees and the search read them as a scan's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FileNode.h"
#include "TestSupport.h"

// Seconds since 1970 as a file time (100-ns units since 1601).
unsigned long long FileTimeOf(long long unixSeconds);
// A UTC calendar time as a file time.
unsigned long long FileTimeOfDate(int year, int month, int day);

// A node whose next sibling the test sets freely, so a damaged chain that
// loops back can be made.
class ChainNode : public TestNode {
public:
    using TestNode::TestNode;
    CFileNode* GetFirstChild() override { return m_pFirst ? m_pFirst : TestNode::GetFirstChild(); }
    CFileNode* GetNextNode() override { return m_pNext; }
    CFileNode* m_pFirst = nullptr;
    CFileNode* m_pNext = nullptr;
};

class FakeResult {
public:
    // Empties the scan's result and both trees; the shipped type lists and
    // a filter that lets everything through.
    FakeResult();
    // Empties them again and frees the nodes.
    ~FakeResult();
    FakeResult(const FakeResult&) = delete;
    FakeResult& operator=(const FakeResult&) = delete;

    CFilesystemNode* Root(const std::string& volumeName);
    TestNode* Folder(CFileNode* parent, const std::string& name);
    // Times are file times; 0 for none.
    TestNode* File(CFileNode* parent, const std::string& name, unsigned long long created = 0,
                   unsigned long long modified = 0, long long size = 100);
    // Hands every node made since the last call to the sink: the roots,
    // then the rest in one batch.
    void Deliver();
    // Hands node to the sink once more.
    void Redeliver(IFileNode* node);

private:
    std::vector<std::unique_ptr<CFileNode>> m_nodes;
    size_t m_iDelivered = 0;
};
