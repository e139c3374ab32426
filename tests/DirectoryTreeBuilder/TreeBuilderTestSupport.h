// Helpers of the tree-builder tests: counted nodes, a recording sink and a
// builder set up for tests.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "DirectoryTreeBuilder.h"
#include "RecoveryFilter.h"
#include "TestSupport.h"

// A test node that counts the living instances, so a test can tell that the
// builder released every node it took exactly once.
class CountedNode : public TestNode {
public:
    CountedNode(std::string name, long long id, long long parentId, bool directory)
        : TestNode(std::move(name), id, directory)
    {
        m_llParentNodeID = parentId;
        ++s_live;
    }
    ~CountedNode() override { --s_live; }
    static inline long long s_live = 0;
};

// Path of a node from its top ancestor down, "/"-separated.
std::string NodePath(IFileNode* node);

// Stores every root and every batch the builder hands over.
class RecordingSink : public IDrirectoryTree {
public:
    struct Batch {
        int flag = 0;
        std::vector<IFileNode*> nodes;
    };
    void ShowNodes(IFileNode** nodes, unsigned int count, int flag) override;
    void ShowFilesystemNode(IFilesystemNode* root) override { roots.push_back(root); }

    // One line per delivered node: its path, then " [deleted]" and " [lost]"
    // where they apply; sorted, so runs in other orders compare equal.
    std::vector<std::string> DeliveredLines() const;
    std::vector<std::string> RootNames() const;
    size_t NodeCount() const;

    std::vector<IFilesystemNode*> roots;
    std::vector<Batch> batches;
};

// A builder with a filter that lets everything through, no pause before the
// first batch and a clock that stands still unless the test moves it.
struct BuilderFixture {
    explicit BuilderFixture(bool restoreMode = false, _SCAN_TYPE scanType = SCAN_TYPE_QUICK_UNMOUNTED,
                            const char* description = "");
    ~BuilderFixture();
    BuilderFixture(const BuilderFixture&) = delete;
    BuilderFixture& operator=(const BuilderFixture&) = delete;

    // Adds a node; a refused node is released here, as a searcher would.
    int Add(CountedNode* node, _tagSearcherType type);
    // Releases the builder (and with it every node it owns).
    void ReleaseBuilder();

    CRecoveryFilter filter;
    RecordingSink sink;
    CDirectoryTreeBuilder* builder = nullptr;
    double now = 1.0e9;
};
