// The directory-tree builder: files the nodes every searcher finds, in any
// order, under their folders into one tree per searcher type, and hands the
// nodes that reach a tree's root to the found-node sink in batches.
//
// Threading: the builder takes no lock. Its calls, and the calls it makes
// into the sink, come one at a time: from the scan's worker thread, or from
// the searchers' workers of a parallel deep scan, whose controller lets one
// call in at a time. Nodes the builder owns
// must not be changed from another thread while a scan runs; the user
// interface makes its check and show changes under the same lock it holds
// inside its ShowNodes.
//
// Ownership: AddNode returning 1 hands the node to the builder. The builder
// keeps one record of every node it owns and releases each exactly once: the
// nodes a tree never showed when that tree's FlashBuild ends (outside restore
// mode), everything else when the builder is released.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <queue>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "FileNode.h"
#include "FlatHashMap.h"
#include "ITreeBuilder.h"

// The nodes that carry one node id. Several can; most ids have one, kept
// without an allocation of its own.
struct _PARENT_INFO {
    CFileNode* pFirst = nullptr;
    std::unique_ptr<std::vector<CFileNode*>> pMore;

    size_t Count() const { return pFirst ? 1 + (pMore ? pMore->size() : 0) : 0; }
    CFileNode* At(size_t i) const { return i == 0 ? pFirst : (*pMore)[i - 1]; }
    void Append(CFileNode* node)
    {
        if (!pFirst) {
            pFirst = node;
            return;
        }
        if (!pMore)
            pMore = std::make_unique<std::vector<CFileNode*>>();
        pMore->push_back(node);
    }
    void Remove(CFileNode* node)
    {
        std::vector<CFileNode*> kept;
        for (size_t i = 0; i < Count(); ++i)
            if (At(i) != node)
                kept.push_back(At(i));
        pFirst = nullptr;
        pMore.reset();
        for (CFileNode* n : kept)
            Append(n);
    }
};

// A node id within its partition. Ids repeat from one volume to the next,
// so ids kept to recognise later nodes by are kept with their partition.
using _PARTITION_NODE_ID = std::pair<unsigned short, long long>;

// What the builder knows about one node it owns.
struct _OWNED_NODE_STATE {
    CFileNode* pNode = nullptr;  // null once released
    uint64_t u64Seq = 0;         // place in the pending order
    bool bPending = false;       // accepted, not yet handed to the sink
    bool bShown = false;         // handed to the sink
    bool bRooted = false;        // reaches the tree's root through parent links
    bool bHasFiles = false;      // a file is linked somewhere below this folder
    bool bQueued = false;        // waits in the work queue for its next climb
    bool bWaiting = false;       // listed among the waiters of its parent id
};

// One tree per searcher type.
struct _DIRECTORY_TREE_INFO {
    // Accepted nodes not yet linked to the root (indexes into vecOwned), in
    // arrival order. Entries of nodes that left are dropped lazily: an entry
    // counts while its sequence number is the node's and the node is pending.
    std::vector<std::pair<uint64_t, uint32_t>> lstPending;
    // ".Trash"/".Trashes" folders not (yet) recognised as the user's trash.
    std::vector<CFileNode*> vecTrashCandidates;
    CFlatHashMap<long long, _PARENT_INFO> mapDirectory;
    CFlatHashMap<long long, _PARENT_INFO> mapFile;
    // The HFS+ private-data folder of each partition, at most one each.
    std::vector<_PARTITION_NODE_ID> vecPrivateDataIds;
    std::unique_ptr<CFilesystemNode> pRoot;
    long long llRootId = 0;
    long long llTrashId = 0;
    bool bTrashKnown = false;
    // The trash folder's id of each partition that has one: each volume of
    // a disk can have its own, and their ids can be equal.
    std::map<unsigned short, long long> mapTrashIds;
    unsigned int dwPendingCount = 0;
    long long llShownCount = 0;
    long long llAddedCount = 0;
    double dLastBuildTime = 0;
    int bUserTrashFound = 0;
    int bRootShown = 0;

    // Recycle-bin nodes set aside until this tree's FlashBuild.
    std::vector<CFileNode*> vecRecycledFiles;
    std::vector<CFileNode*> vecRecycleFolders;
    std::vector<CFileNode*> vecRecycleInfoFiles;
    std::set<_PARTITION_NODE_ID> setRecycleBinIds;

    // Every node this tree owns, in the order it was taken. Records of nodes
    // taken one after the other lie side by side, which is what the build
    // steps mostly visit.
    std::vector<_OWNED_NODE_STATE> vecOwned;
    uint32_t dwTreeIndex = 0;  // place in the builder's tree list
    // Unlinked pending nodes by the parent id they wait for: they are climbed
    // again only when something about that id changes.
    CFlatHashMap<long long, std::vector<uint32_t>> mapWaiters;
    // Nodes to climb at the next build step, smallest sequence number first.
    std::priority_queue<std::pair<uint64_t, uint32_t>, std::vector<std::pair<uint64_t, uint32_t>>, std::greater<>>
        queWork;
    // Nodes that reached the root since the last batch was taken.
    std::vector<uint32_t> vecNewlyRooted;
    uint64_t u64NextSeq = 0;
    size_t nPendingLive = 0;
};

class CDirectoryTreeBuilder : public IDirecotryTreeBuilder {
public:
    explicit CDirectoryTreeBuilder(bool restoreMode);
    ~CDirectoryTreeBuilder() override;
    CDirectoryTreeBuilder(const CDirectoryTreeBuilder&) = delete;
    CDirectoryTreeBuilder& operator=(const CDirectoryTreeBuilder&) = delete;

    int Initialize(const char* description, IDrirectoryTree* sink, IRecoveryFilter* filter) override;
    int SetSearcherVolumeName(_tagSearcherType type, const char* name) override;
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override;
    int FlashBuild(_tagSearcherType type) override;
    // Releases every node and root the builder owns and destroys the builder.
    void Release() override;
    int SetPartitonDevice(CSearchedPartitionInfo* partition, IStorageDevice* device) override;

    // Settings. The pause follows the first ShowFilesystemNode of a tree, so
    // a window can lay out the new root before nodes pour in.
    void SetFirstBatchPause(std::chrono::milliseconds pause) { m_msFirstBatchPause = pause; }
    // The pause that builders made from now on start with (1 s by default).
    static void SetDefaultFirstBatchPause(std::chrono::milliseconds pause);
    // A build step runs once this many nodes were added since the last one
    // (1024 by default; 1 builds after every node) ...
    void SetBuildThreshold(unsigned int pendingNodes) { m_dwBuildThreshold = pendingNodes ? pendingNodes : 1; }
    // ... or once more than this many seconds passed (2 by default).
    void SetBuildInterval(double seconds) { m_dBuildInterval = seconds; }
    // Seconds since 1970 (fractions allowed); the wall clock by default.
    void SetClock(std::function<double()> clock) { m_fnClock = std::move(clock); }

    // The invoking user's home folder with a final "/": PKEXEC_UID, else
    // SUDO_UID (through the password database), else HOME; empty when none.
    static std::string GetInvokingUserHome();

private:
    using Tree = _DIRECTORY_TREE_INFO;
    using NodeState = _OWNED_NODE_STATE;

    static constexpr uint32_t kNoIndex = 0xFFFFFFFFu;

    int AddNodeImpl(CFileNode* node, _tagSearcherType type, bool readd);
    Tree* FindTree(_tagSearcherType type);
    // Index of an owned node's record, kNoIndex for others.
    uint32_t IndexOf(Tree& tree, CFileNode* node);
    // The record of an owned node, null for others. Own() may move records:
    // hold no record pointer across it.
    NodeState* StateOf(Tree& tree, CFileNode* node);
    uint32_t Own(Tree& tree, CFileNode* node);
    void AppendPending(Tree& tree, uint32_t index);
    void CompactPending(Tree& tree);
    void Disown(Tree& tree, uint32_t index);
    bool Record(CFlatHashMap<long long, _PARENT_INFO>& map, CFileNode* node);
    bool IsUserTrash(Tree& tree, CFileNode* node);
    void RemovePrivateDataFolders(Tree& tree, const _PARTITION_NODE_ID& privateId);
    void SetTrash(Tree& tree, CFileNode* folder);
    void RestoreRecycledName(Tree& tree, CFileNode* node);

    CFileNode* FindParent(Tree& tree, CFileNode* child);
    CFileNode* ChooseParent(Tree& tree, const _PARENT_INFO& candidates, CFileNode* child);
    bool IsInsideTrash(Tree& tree, CFileNode* node);
    bool IsFolderWithoutFiles(Tree& tree, CFileNode* node, uint32_t index = kNoIndex);
    int ShowNormalFiles() const;

    void Enqueue(Tree& tree, uint32_t index);
    void Wait(Tree& tree, CFileNode* node, uint32_t index = kNoIndex);
    void WakeWaiters(Tree& tree, long long id);
    void OnMarkedDeleted(Tree& tree, CFileNode* node);
    void MarkDeletedSpread(Tree& tree, CFileNode* node, std::vector<CFileNode*>* marked = nullptr);
    bool Link(Tree& tree, CFileNode* parent, CFileNode* child, uint32_t childIndex = kNoIndex);
    void SetHasFilesUpward(Tree& tree, CFileNode* folder);
    void RootSubtree(Tree& tree, CFileNode* top, uint32_t topIndex = kNoIndex);
    void Climb(Tree& tree, uint32_t index);
    std::vector<uint32_t> TakeRootedBatch(Tree& tree);
    std::vector<uint32_t> BuildTree(Tree& tree, bool force);
    void ShowNodes(Tree& tree, const std::vector<uint32_t>& batch, int flag);
    void MarkPendingUnderDeleted(Tree& tree);
    void HangLostFiles(Tree& tree);
    void ReleaseUnshown(Tree& tree);
    double Now() const;

    bool m_bRestoreMode;
    std::vector<std::unique_ptr<Tree>> m_lstTrees;
    IDrirectoryTree* m_pSink = nullptr;
    IRecoveryFilter* m_pFilter = nullptr;
    std::string m_strDescription = "Disk";
    bool m_bDescriptionGiven = false;  // the device had a name of its own
    // Kept for reading recycle information files; not owned.
    CSearchedPartitionInfo* m_pPartition = nullptr;
    IStorageDevice* m_pDevice = nullptr;
    bool m_bFlash = false;

    std::chrono::milliseconds m_msFirstBatchPause;
    unsigned int m_dwBuildThreshold = 1024;
    double m_dBuildInterval = 2.0;
    std::function<double()> m_fnClock;
    // Where every owned node's record is: tree index << 32 | record index.
    CFlatHashMap<CFileNode*, uint64_t> m_mapOwned;
    // Scratch space of the walks over linked subtrees.
    std::vector<CFileNode*> m_vecWalk;

    static std::atomic<long long> s_llDefaultPauseMs;
};
