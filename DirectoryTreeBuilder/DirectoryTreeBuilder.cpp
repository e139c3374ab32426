#include "DirectoryTreeBuilder.h"
#include "InvokingUser.h"

#include <pwd.h>
#include <sys/types.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <thread>
#include <unordered_set>

#include "IRecovery.h"
#include "Log.h"
#include "RecyclerFilter.h"

namespace {

const char kPrivateDataName[] = "HFS+ Private Data";
const char kLostFilesName[] = "Other lost files";
const char kLostFilesVolume[] = "LostFiles";

// Linked ancestors looked at when asking whether a folder lies inside the
// trash; a trash folder nested deeper than this is not recognised.
constexpr int kMaxTrashDepth = 4096;

// Marks a node whose ownership AddNode is still deciding.
constexpr uint64_t kUnclaimed = ~0ULL;

const char* NameOf(IFileNode* node)
{
    const char* name = node ? node->GetFileName() : nullptr;
    return name ? name : "";
}

const char* SuffixOf(_tagSearcherType type)
{
    switch (type) {
    case SEARCHER_HFSPLUS: return "(HFS+)";
    case SEARCHER_FAT: return "(FAT/FAT32)";
    case SEARCHER_EXFAT: return "(ExFat)";
    case SEARCHER_RAW: return "(RAW Files)";
    case SEARCHER_NTFS: return "(NTFS)";
    case SEARCHER_LABEL_RAW: return "(Label RAW Files)";
    case SEARCHER_APFS: return "(APFS)";
    default: return "";
    }
}

bool ParseUid(const char* text, uid_t& uid)
{
    if (!text || !*text)
        return false;
    unsigned long value = 0;
    const char* end = text + std::strlen(text);
    auto [p, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || p != end)
        return false;
    uid = static_cast<uid_t>(value);
    return static_cast<unsigned long>(uid) == value;
}

std::string HomeOfUid(const char* uidText)
{
    uid_t uid;
    if (!ParseUid(uidText, uid))
        return {};
    return HomeOfUser(uid);
}

bool SamePartition(CFileNode* a, CFileNode* b)
{
    return a->GetBelongedPartition() == b->GetBelongedPartition();
}

_PARTITION_NODE_ID KeyOf(CFileNode* node)
{
    return {node->GetBelongedPartition(), node->GetCurrentNodeID()};
}

_PARTITION_NODE_ID ParentKeyOf(CFileNode* node)
{
    return {node->GetBelongedPartition(), node->GetParentNodeID()};
}

bool HasFileBelow(CFileNode* folder)
{
    std::vector<CFileNode*> work{folder};
    while (!work.empty()) {
        CFileNode* n = work.back();
        work.pop_back();
        for (CFileNode* c = n->GetFirstChild(); c; c = c->GetNextNode()) {
            if (!c->IsDirectory())
                return true;
            work.push_back(c);
        }
    }
    return false;
}

}  // namespace

std::atomic<long long> CDirectoryTreeBuilder::s_llDefaultPauseMs{1000};

IDirecotryTreeBuilder* CreateTreeBuilder(bool restoreMode)
{
    return new CDirectoryTreeBuilder(restoreMode);
}

CDirectoryTreeBuilder::CDirectoryTreeBuilder(bool restoreMode)
    : m_bRestoreMode(restoreMode), m_msFirstBatchPause(s_llDefaultPauseMs.load())
{
}

CDirectoryTreeBuilder::~CDirectoryTreeBuilder()
{
    for (auto& tree : m_lstTrees) {
        for (NodeState& rec : tree->vecOwned)
            if (rec.pNode)
                rec.pNode->Release();
        tree->vecOwned.clear();
    }
    m_lstTrees.clear();
}

void CDirectoryTreeBuilder::Release()
{
    delete this;
}

void CDirectoryTreeBuilder::SetDefaultFirstBatchPause(std::chrono::milliseconds pause)
{
    s_llDefaultPauseMs.store(pause.count());
}

double CDirectoryTreeBuilder::Now() const
{
    if (m_fnClock)
        return m_fnClock();
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::string CDirectoryTreeBuilder::GetInvokingUserHome()
{
    std::string home = HomeOfUid(std::getenv("PKEXEC_UID"));
    if (home.empty())
        home = HomeOfUid(std::getenv("SUDO_UID"));
    if (home.empty()) {
        const char* env = std::getenv("HOME");
        if (!env)
            return {};
        home = env;
    }
    if (home.empty() || home.back() != '/')
        home += '/';
    return home;
}

int CDirectoryTreeBuilder::Initialize(const char* description, IDrirectoryTree* sink, IRecoveryFilter* filter)
{
    if (!description || !sink || !filter)
        return 0;
    m_bDescriptionGiven = *description != '\0';
    m_strDescription = m_bDescriptionGiven ? description : "Disk";
    m_pSink = sink;
    m_pFilter = filter;
    m_bFlash = false;
    return 1;
}

int CDirectoryTreeBuilder::SetPartitonDevice(CSearchedPartitionInfo* partition, IStorageDevice* device)
{
    m_pPartition = partition;
    m_pDevice = device;
    return 1;
}

CDirectoryTreeBuilder::Tree* CDirectoryTreeBuilder::FindTree(_tagSearcherType type)
{
    for (auto& tree : m_lstTrees)
        if (tree->pRoot->GetSearcheType() == type)
            return tree.get();
    return nullptr;
}

int CDirectoryTreeBuilder::AddSearcherInfo(_tagSearcherType type, long long rootId)
{
    if (Tree* tree = FindTree(type)) {
        if (tree->llRootId != rootId) {
            tree->llRootId = rootId;
            // Nodes that waited for this id now hang below the root.
            WakeWaiters(*tree, rootId);
        }
        return 1;
    }
    auto tree = std::make_unique<Tree>();
    tree->dwTreeIndex = static_cast<uint32_t>(m_lstTrees.size());
    std::string name = m_strDescription + SuffixOf(type);
    tree->pRoot = std::make_unique<CFilesystemNode>(name.c_str(), m_strDescription.c_str(), type, rootId);
    tree->llRootId = rootId;
    tree->dLastBuildTime = Now();
    m_lstTrees.push_back(std::move(tree));
    return 1;
}

int CDirectoryTreeBuilder::SetSearcherVolumeName(_tagSearcherType type, const char* name)
{
    Tree* tree = FindTree(type);
    if (!tree || m_bDescriptionGiven || !name || !*name)
        return 0;
    // Once shown, the root keeps its name: the windows already hold it. Of
    // several volumes of one type, the first named one names the tree.
    if (tree->bRootShown || std::strcmp(tree->pRoot->GetVolumeName(), m_strDescription.c_str()) != 0)
        return 0;
    const std::string rootName = std::string(name) + SuffixOf(type);
    tree->pRoot->SetNames(rootName.c_str(), name);
    return 1;
}

// ---- ownership and bookkeeping ----------------------------------------------

uint32_t CDirectoryTreeBuilder::IndexOf(Tree& tree, CFileNode* node)
{
    const uint64_t* where = m_mapOwned.find(node);
    if (!where || *where == kUnclaimed || (*where >> 32) != tree.dwTreeIndex)
        return kNoIndex;
    return static_cast<uint32_t>(*where);
}

CDirectoryTreeBuilder::NodeState* CDirectoryTreeBuilder::StateOf(Tree& tree, CFileNode* node)
{
    const uint32_t index = IndexOf(tree, node);
    return index == kNoIndex ? nullptr : &tree.vecOwned[index];
}

uint32_t CDirectoryTreeBuilder::Own(Tree& tree, CFileNode* node)
{
    auto [where, inserted] = m_mapOwned.try_emplace(node);
    if (!inserted && *where != kUnclaimed)
        return (*where >> 32) == tree.dwTreeIndex ? static_cast<uint32_t>(*where) : kNoIndex;
    const uint32_t index = static_cast<uint32_t>(tree.vecOwned.size());
    *where = (static_cast<uint64_t>(tree.dwTreeIndex) << 32) | index;
    NodeState rec;
    rec.pNode = node;
    if (node->IsDirectory() && node->GetFirstChild())
        rec.bHasFiles = HasFileBelow(node);
    tree.vecOwned.push_back(rec);
    return index;
}

// Forgets a node the builder no longer owns; its record stays, empty.
void CDirectoryTreeBuilder::Disown(Tree& tree, uint32_t index)
{
    NodeState& rec = tree.vecOwned[index];
    if (!rec.pNode)
        return;
    m_mapOwned.erase(rec.pNode);
    if (rec.bPending)
        --tree.nPendingLive;
    rec = NodeState();
}

void CDirectoryTreeBuilder::AppendPending(Tree& tree, uint32_t index)
{
    NodeState& rec = tree.vecOwned[index];
    rec.u64Seq = tree.u64NextSeq++;
    if (!rec.bPending)
        ++tree.nPendingLive;
    rec.bPending = true;
    tree.lstPending.emplace_back(rec.u64Seq, index);
}

void CDirectoryTreeBuilder::CompactPending(Tree& tree)
{
    auto& list = tree.lstPending;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const std::pair<uint64_t, uint32_t>& e) {
                                  const NodeState& rec = tree.vecOwned[e.second];
                                  return !rec.pNode || !rec.bPending || rec.u64Seq != e.first;
                              }),
               list.end());
}

void CDirectoryTreeBuilder::Enqueue(Tree& tree, uint32_t index)
{
    if (index == kNoIndex)
        return;
    NodeState& rec = tree.vecOwned[index];
    if (!rec.pNode || rec.bQueued || !rec.bPending)
        return;
    rec.bQueued = true;
    tree.queWork.emplace(rec.u64Seq, index);
}

// Index arguments spare a lookup when the caller knows the node's record.
void CDirectoryTreeBuilder::Wait(Tree& tree, CFileNode* node, uint32_t index)
{
    if (index == kNoIndex)
        index = IndexOf(tree, node);
    if (index == kNoIndex || tree.vecOwned[index].bWaiting)
        return;
    tree.vecOwned[index].bWaiting = true;
    tree.mapWaiters[node->GetParentNodeID()].push_back(index);
}

void CDirectoryTreeBuilder::WakeWaiters(Tree& tree, long long id)
{
    std::vector<uint32_t>* listed = tree.mapWaiters.find(id);
    if (!listed)
        return;
    std::vector<uint32_t> waiters = std::move(*listed);
    tree.mapWaiters.erase(id);
    for (uint32_t index : waiters) {
        NodeState& rec = tree.vecOwned[index];
        if (!rec.pNode || !rec.bWaiting)
            continue;
        rec.bWaiting = false;
        if (rec.bPending && !rec.pNode->GetParent())
            Enqueue(tree, index);
    }
}

// ---- recording --------------------------------------------------------------

bool CDirectoryTreeBuilder::Record(CFlatHashMap<long long, _PARENT_INFO>& map, CFileNode* node)
{
    _PARENT_INFO& entry = map[node->GetCurrentNodeID()];
    if (!m_bRestoreMode) {
        for (size_t i = 0; i < entry.Count(); ++i) {
            CFileNode* existing = entry.At(i);
            // Node ids repeat from one volume to the next (the root folder
            // of every HFS+ volume is 2, of every NTFS volume 5): nodes of
            // two partitions are never one node.
            if (!SamePartition(existing, node) || !(*existing == *node))
                continue;
            // The same file seen twice: keep the first record, and let it take
            // the extents of a later sighting with data when it is older.
            if (node->GetFileSize() == 0 || !(existing->GetModificationTime() > node->GetModificationTime()))
                return false;
            existing->MergeNode(node);
            return false;
        }
    }
    entry.Append(node);
    return true;
}

// ---- AddNode ----------------------------------------------------------------

int CDirectoryTreeBuilder::AddNode(IFileNode* node, _tagSearcherType type)
{
    auto* fileNode = dynamic_cast<CFileNode*>(node);
    if (!fileNode)
        return 0;
    return AddNodeImpl(fileNode, type, false);
}

int CDirectoryTreeBuilder::AddNodeImpl(CFileNode* node, _tagSearcherType type, bool readd)
{
    if (!node || !m_pFilter || !m_pFilter->IsFileNodeValid(node))
        return 0;
    const long long id = node->GetCurrentNodeID();
    const long long parentId = node->GetParentNodeID();
    if (id == parentId)
        return 0;
    Tree* tree = FindTree(type);
    if (!tree)
        return 0;
    // A node handed in twice is ours already; taking it again would free it
    // twice. A new node is claimed here and the claim dropped if refused.
    bool claimed = false;
    if (!readd) {
        auto [where, inserted] = m_mapOwned.try_emplace(node);
        if (!inserted)
            return 1;
        *where = kUnclaimed;
        claimed = true;
    }
    auto refuse = [&] {
        if (claimed)
            m_mapOwned.erase(node);
        return 0;
    };

    if (!m_bFlash) {
        bool recycled = CRecyclerFilter::IsRecycleBin(node) || CRecyclerFilter::IsRecoverNode(node) ||
                        CRecyclerFilter::IsRecoverNodeEx(node) || tree->setRecycleBinIds.count(ParentKeyOf(node));
        if (recycled) {
            Own(*tree, node);
            if (node->GetAttribute() & FILE_ATTRIBUTE_DIRECTORY_BIT) {
                tree->vecRecycleFolders.push_back(node);
                tree->setRecycleBinIds.insert(KeyOf(node));
            } else if (std::strncmp(NameOf(node), "$I", 2) == 0) {
                tree->vecRecycleInfoFiles.push_back(node);
            } else {
                tree->vecRecycledFiles.push_back(node);
            }
            node->MarkDeleted();
            return 1;
        }
    }

    ++tree->llAddedCount;
    ++tree->dwPendingCount;

    // Each HFS+ volume of a disk has its own private-data folder.
    const auto privateOfPartition = [&] {
        return std::any_of(tree->vecPrivateDataIds.begin(), tree->vecPrivateDataIds.end(),
                           [&](const _PARTITION_NODE_ID& p) { return p.first == node->GetBelongedPartition(); });
    };
    if (!m_bRestoreMode && type == SEARCHER_HFSPLUS && parentId == tree->llRootId &&
        std::strcmp(NameOf(node), kPrivateDataName) == 0 && !privateOfPartition()) {
        tree->vecPrivateDataIds.push_back(KeyOf(node));
        RemovePrivateDataFolders(*tree, KeyOf(node));
        return refuse();
    }

    bool trashCandidate = false;
    if (!tree->bUserTrashFound) {
        const char* name = NameOf(node);
        if (std::strcmp(name, ".Trashes") == 0 || std::strcmp(name, ".Trash") == 0) {
            if (parentId == tree->llRootId || IsUserTrash(*tree, node)) {
                SetTrash(*tree, node);
                node->MarkDeleted();
            } else {
                trashCandidate = true;
            }
        }
    }

    const bool directory = node->IsDirectory() != 0;
    if (directory) {
        for (const _PARTITION_NODE_ID& privateId : tree->vecPrivateDataIds)
            if (ParentKeyOf(node) == privateId)
                return refuse();
        if (NameOf(node)[0] == '.')
            node->FilterFileNameByDot();
        if (!Record(tree->mapDirectory, node))
            return refuse();
        if (trashCandidate)
            tree->vecTrashCandidates.push_back(node);
    } else {
        if (NameOf(node)[0] == '.')
            return refuse();
        if (!Record(tree->mapFile, node))
            return refuse();
    }

    const uint32_t index = Own(*tree, node);
    AppendPending(*tree, index);
    Enqueue(*tree, index);
    // A new folder may be the parent some nodes wait for.
    if (directory)
        WakeWaiters(*tree, id);

    std::vector<uint32_t> batch = BuildTree(*tree, false);
    if (!batch.empty())
        ShowNodes(*tree, batch, 0);
    return 1;
}

void CDirectoryTreeBuilder::SetTrash(Tree& tree, CFileNode* folder)
{
    tree.llTrashId = folder->GetCurrentNodeID();
    tree.bTrashKnown = true;
    tree.mapTrashIds[folder->GetBelongedPartition()] = folder->GetCurrentNodeID();
}

void CDirectoryTreeBuilder::RemovePrivateDataFolders(Tree& tree, const _PARTITION_NODE_ID& privateId)
{
    std::vector<uint32_t> victims;
    for (auto& [seq, index] : tree.lstPending) {
        const NodeState& rec = tree.vecOwned[index];
        if (rec.pNode && rec.bPending && rec.u64Seq == seq && rec.pNode->IsDirectory() &&
            ParentKeyOf(rec.pNode) == privateId)
            victims.push_back(index);
    }
    if (victims.empty())
        return;
    std::unordered_set<CFileNode*> gone;
    for (uint32_t index : victims) {
        NodeState& rec = tree.vecOwned[index];
        CFileNode* v = rec.pNode;
        gone.insert(v);
        if (_PARENT_INFO* entry = tree.mapDirectory.find(v->GetCurrentNodeID())) {
            entry->Remove(v);
            if (!entry->Count())
                tree.mapDirectory.erase(v->GetCurrentNodeID());
        }
        rec.bPending = false;
        rec.bQueued = false;
        rec.bWaiting = false;
        --tree.nPendingLive;
    }
    auto& candidates = tree.vecTrashCandidates;
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(), [&](CFileNode* c) { return gone.count(c); }),
                     candidates.end());
    CompactPending(tree);
    for (uint32_t index : victims) {
        CFileNode* v = tree.vecOwned[index].pNode;
        // A folder that is linked to others stays owned until the tree ends,
        // so that nothing points at freed memory in between.
        if (v->GetParent() || v->GetFirstChild())
            continue;
        Disown(tree, index);
        v->Release();
    }
}

bool CDirectoryTreeBuilder::IsUserTrash(Tree& tree, CFileNode* node)
{
    std::string home = GetInvokingUserHome();
    if (home.empty())
        return false;
    std::vector<const char*> names;
    std::unordered_set<long long> seen;
    CFileNode* cur = node;
    // A damaged disk can make parent ids point round in a circle: stop at a
    // repeated id, and never take more steps than there are folders.
    const size_t maxSteps = tree.mapDirectory.size();
    while (cur->GetParentNodeID() != tree.llRootId) {
        const long long parentId = cur->GetParentNodeID();
        if (names.size() >= maxSteps || !seen.insert(parentId).second)
            return false;
        const _PARENT_INFO* entry = tree.mapDirectory.find(parentId);
        if (!entry)
            return false;
        CFileNode* parent = ChooseParent(tree, *entry, cur);
        if (!parent)
            return false;
        names.push_back(NameOf(parent));
        cur = parent;
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        path += '/';
        path += *it;
    }
    path += '/';
    return path == home;
}

void CDirectoryTreeBuilder::RestoreRecycledName(Tree& /*tree*/, CFileNode* /*node*/)
{
    // The original name lies in the node's recycle information file, read
    // through m_pDevice and m_pPartition. Until that reader exists, recycled
    // nodes keep the names they were found with.
}

// ---- parents ----------------------------------------------------------------

bool CDirectoryTreeBuilder::IsInsideTrash(Tree& tree, CFileNode* node)
{
    if (!tree.bTrashKnown)
        return false;
    const auto trash = tree.mapTrashIds.find(node->GetBelongedPartition());
    if (trash == tree.mapTrashIds.end())
        return false;
    int steps = 0;
    for (CFileNode* n = node; n && steps < kMaxTrashDepth; n = n->GetParent(), ++steps)
        if (n->GetCurrentNodeID() == trash->second)
            return true;
    return false;
}

CFileNode* CDirectoryTreeBuilder::ChooseParent(Tree& tree, const _PARENT_INFO& candidates, CFileNode* child)
{
    if (!candidates.Count() || !child)
        return nullptr;
    // Node ids repeat across the partitions of one tree (FAT cluster
    // numbers, HFS+ catalog ids, NTFS record numbers): only a folder of the
    // child's own partition is its parent. With none, the child waits, and
    // ends among the lost files.
    if (candidates.Count() == 1) {
        CFileNode* only = candidates.pFirst;
        return only && SamePartition(only, child) ? only : nullptr;
    }
    CFileNode* first = nullptr;
    CFileNode* nearest = nullptr;
    unsigned long long nearestDistance = 0;
    const unsigned long long accessed = child->GetLastAccessTime();
    for (size_t i = 0; i < candidates.Count(); ++i) {
        CFileNode* c = candidates.At(i);
        if (!c || !SamePartition(c, child))
            continue;
        if (!first)
            first = c;
        if (!c->IsDirectory())
            continue;
        if (c->GetFirstChild())
            return c;
        if (IsInsideTrash(tree, c)) {
            if (!c->IsDeleted())
                return c;
            continue;
        }
        const unsigned long long created = c->GetCreationTime();
        const unsigned long long distance = created > accessed ? created - accessed : accessed - created;
        if (!nearest || distance < nearestDistance) {
            nearest = c;
            nearestDistance = distance;
        }
    }
    return nearest ? nearest : first;
}

CFileNode* CDirectoryTreeBuilder::FindParent(Tree& tree, CFileNode* child)
{
    const long long parentId = child->GetParentNodeID();
    if (parentId == tree.llRootId)
        return tree.pRoot.get();
    const _PARENT_INFO* entry = tree.mapDirectory.find(parentId);
    return entry ? ChooseParent(tree, *entry, child) : nullptr;
}

bool CDirectoryTreeBuilder::IsFolderWithoutFiles(Tree& tree, CFileNode* node, uint32_t index)
{
    if (!node->IsDirectory())
        return false;
    if (index == kNoIndex)
        index = IndexOf(tree, node);
    return index != kNoIndex ? !tree.vecOwned[index].bHasFiles : !HasFileBelow(node);
}

int CDirectoryTreeBuilder::ShowNormalFiles() const
{
    return m_pFilter ? m_pFilter->ShowNormalFiles() : 1;
}

// ---- deleted marks ----------------------------------------------------------

void CDirectoryTreeBuilder::OnMarkedDeleted(Tree& tree, CFileNode* node)
{
    // Nodes waiting below a folder that is now deleted become deleted when
    // they are climbed again; a live file held back is now a deleted one.
    if (node->IsDirectory())
        WakeWaiters(tree, node->GetCurrentNodeID());
    // An unlinked pending node that is not waiting is queued or being
    // climbed right now; one that waits is climbed again.
    const uint32_t index = IndexOf(tree, node);
    if (index == kNoIndex)
        return;
    NodeState& rec = tree.vecOwned[index];
    if (rec.bWaiting && rec.bPending && !node->GetParent()) {
        rec.bWaiting = false;  // its waiter entry is skipped from now on
        Enqueue(tree, index);
    }
}

// Marks the node deleted, and with it every live node already linked below it
// that the sink has not seen: what lies in a deleted folder is deleted, no
// matter in which order the folder and its contents arrived.
void CDirectoryTreeBuilder::MarkDeletedSpread(Tree& tree, CFileNode* node, std::vector<CFileNode*>* marked)
{
    if (node->IsDeleted())
        return;
    node->MarkDeleted();
    if (marked)
        marked->push_back(node);
    OnMarkedDeleted(tree, node);
    std::vector<CFileNode*>& work = m_vecWalk;
    work.clear();
    for (CFileNode* c = node->GetFirstChild(); c; c = c->GetNextNode())
        work.push_back(c);
    while (!work.empty()) {
        CFileNode* n = work.back();
        work.pop_back();
        NodeState* s = StateOf(tree, n);
        if (!s || s->bShown || n->IsDeleted())
            continue;
        n->MarkDeleted();
        if (marked)
            marked->push_back(n);
        OnMarkedDeleted(tree, n);
        for (CFileNode* c = n->GetFirstChild(); c; c = c->GetNextNode())
            work.push_back(c);
    }
}

// ---- linking ----------------------------------------------------------------

void CDirectoryTreeBuilder::SetHasFilesUpward(Tree& tree, CFileNode* folder)
{
    for (CFileNode* n = folder; n; n = n->GetParent()) {
        NodeState* s = StateOf(tree, n);
        if (!s || s->bHasFiles)
            return;
        s->bHasFiles = true;
    }
}

void CDirectoryTreeBuilder::RootSubtree(Tree& tree, CFileNode* top, uint32_t topIndex)
{
    std::vector<CFileNode*>& work = m_vecWalk;
    work.assign(1, top);
    while (!work.empty()) {
        CFileNode* n = work.back();
        work.pop_back();
        const uint32_t index = n == top && topIndex != kNoIndex ? topIndex : IndexOf(tree, n);
        if (index != kNoIndex) {
            NodeState& rec = tree.vecOwned[index];
            if (rec.bRooted)
                continue;
            rec.bRooted = true;
            if (!rec.bShown)
                tree.vecNewlyRooted.push_back(index);
        }
        for (CFileNode* c = n->GetFirstChild(); c; c = c->GetNextNode())
            work.push_back(c);
    }
}

bool CDirectoryTreeBuilder::Link(Tree& tree, CFileNode* parent, CFileNode* child, uint32_t childIndex)
{
    const bool hadChild = parent->GetFirstChild() != nullptr;
    if (!parent->AddChild(child))
        return false;
    if (childIndex == kNoIndex)
        childIndex = IndexOf(tree, child);
    if (childIndex != kNoIndex)
        tree.vecOwned[childIndex].bWaiting = false;
    if (!IsFolderWithoutFiles(tree, child, childIndex))
        SetHasFilesUpward(tree, parent);
    // Among several folders of one id, one with children is preferred: the
    // nodes waiting for that id may now choose differently.
    if (!hadChild && parent != tree.pRoot.get()) {
        const _PARENT_INFO* entry = tree.mapDirectory.find(parent->GetCurrentNodeID());
        if (entry && entry->Count() > 1)
            WakeWaiters(tree, parent->GetCurrentNodeID());
    }
    NodeState* ps = StateOf(tree, parent);
    if (parent == tree.pRoot.get() || (ps && ps->bRooted))
        RootSubtree(tree, child, childIndex);
    return true;
}

// Climbs from an unlinked pending node towards the root, linking each node
// under its parent, until a node cannot be linked yet or the chain meets a
// node that is linked already.
void CDirectoryTreeBuilder::Climb(Tree& tree, uint32_t index)
{
    const NodeState& rec = tree.vecOwned[index];
    CFileNode* node = rec.pNode;
    if (!node || !rec.bPending || node->GetParent())
        return;
    const bool anyFolder = tree.pRoot->GetSearcheType() == SEARCHER_APFS;
    CFileNode* cur = node;
    uint32_t curIndex = index;
    // Each pass links one more node, so the owned nodes bound the walk.
    for (size_t steps = 0; steps <= tree.vecOwned.size(); ++steps) {
        CFileNode* parent = FindParent(tree, cur);
        if (!parent) {
            Wait(tree, cur, curIndex);
            return;
        }
        if (parent->IsDeleted() && !cur->IsDeleted())
            MarkDeletedSpread(tree, cur);
        if (!anyFolder && IsFolderWithoutFiles(tree, cur, curIndex)) {
            Wait(tree, cur, curIndex);
            return;
        }
        if (!ShowNormalFiles() && !cur->IsDirectory() && !cur->IsDeleted()) {
            Wait(tree, cur, curIndex);
            return;
        }
        if (!Link(tree, parent, cur, curIndex)) {
            Wait(tree, cur, curIndex);
            return;
        }
        if (parent == tree.pRoot.get() || parent->GetParent())
            return;
        cur = parent;
        curIndex = kNoIndex;
    }
}

// The nodes that reached the root since the last batch, in pending order;
// they leave the pending list.
std::vector<uint32_t> CDirectoryTreeBuilder::TakeRootedBatch(Tree& tree)
{
    std::vector<uint32_t> rooted = std::move(tree.vecNewlyRooted);
    tree.vecNewlyRooted.clear();
    std::vector<std::pair<uint64_t, uint32_t>> ordered;
    ordered.reserve(rooted.size());
    for (uint32_t index : rooted) {
        NodeState& rec = tree.vecOwned[index];
        if (!rec.pNode || rec.bShown)
            continue;
        if (rec.bPending) {
            rec.bPending = false;
            --tree.nPendingLive;
        }
        ordered.emplace_back(rec.u64Seq, index);
    }
    std::sort(ordered.begin(), ordered.end());
    std::vector<uint32_t> batch;
    batch.reserve(ordered.size());
    for (auto& e : ordered)
        batch.push_back(e.second);
    if (tree.lstPending.size() > 1024 && tree.lstPending.size() > 2 * tree.nPendingLive)
        CompactPending(tree);
    return batch;
}

std::vector<uint32_t> CDirectoryTreeBuilder::BuildTree(Tree& tree, bool force)
{
    if (!force) {
        if (tree.pRoot->GetSearcheType() == SEARCHER_HFSPLUS && tree.vecPrivateDataIds.empty())
            return {};
        if (tree.dwPendingCount < m_dwBuildThreshold && !(Now() - tree.dLastBuildTime > m_dBuildInterval))
            return {};
    }
    tree.dwPendingCount = 0;
    tree.dLastBuildTime = Now();
    while (!tree.queWork.empty()) {
        const uint32_t index = tree.queWork.top().second;
        tree.queWork.pop();
        NodeState& rec = tree.vecOwned[index];
        if (!rec.bQueued)
            continue;
        rec.bQueued = false;
        Climb(tree, index);
    }
    return TakeRootedBatch(tree);
}

void CDirectoryTreeBuilder::ShowNodes(Tree& tree, const std::vector<uint32_t>& batch, int flag)
{
    if (!m_pSink || batch.empty())
        return;
    if (!tree.bRootShown) {
        tree.bRootShown = 1;
        m_pSink->ShowFilesystemNode(tree.pRoot.get());
        if (m_msFirstBatchPause.count() > 0)
            std::this_thread::sleep_for(m_msFirstBatchPause);
    }
    std::vector<IFileNode*> nodes;
    nodes.reserve(batch.size());
    for (uint32_t index : batch) {
        NodeState& rec = tree.vecOwned[index];
        rec.bShown = true;
        nodes.push_back(rec.pNode);
    }
    tree.llShownCount += static_cast<long long>(nodes.size());
    m_pSink->ShowNodes(nodes.data(), static_cast<unsigned int>(nodes.size()), flag);
}

// ---- FlashBuild -------------------------------------------------------------

// Marks pending nodes whose parent is deleted, until nothing changes. Each
// mark looks again only at the pending nodes below the marked one.
void CDirectoryTreeBuilder::MarkPendingUnderDeleted(Tree& tree)
{
    CFlatHashMap<long long, std::vector<CFileNode*>> byParent;
    std::deque<CFileNode*> work;
    std::vector<CFileNode*> marked;
    // Marks n when its parent is deleted; the pending nodes below each newly
    // marked node are looked at again.
    auto visit = [&](CFileNode* n) {
        if (n->IsDeleted())
            return;
        CFileNode* parent = FindParent(tree, n);
        if (!parent || !parent->IsDeleted())
            return;
        marked.clear();
        MarkDeletedSpread(tree, n, &marked);
        for (CFileNode* m : marked)
            if (std::vector<CFileNode*>* below = byParent.find(m->GetCurrentNodeID()))
                work.insert(work.end(), below->begin(), below->end());
    };
    std::vector<CFileNode*> pending;
    for (auto& [seq, index] : tree.lstPending) {
        const NodeState& rec = tree.vecOwned[index];
        if (!rec.pNode || !rec.bPending || rec.u64Seq != seq)
            continue;
        byParent[rec.pNode->GetParentNodeID()].push_back(rec.pNode);
        pending.push_back(rec.pNode);
    }
    for (CFileNode* n : pending)
        visit(n);
    while (!work.empty()) {
        CFileNode* n = work.front();
        work.pop_front();
        visit(n);
    }
}

void CDirectoryTreeBuilder::HangLostFiles(Tree& tree)
{
    auto lost = std::make_unique<CFilesystemNode>(kLostFilesName, kLostFilesVolume, tree.pRoot->GetSearcheType(), -1);
    const int showNormal = ShowNormalFiles();
    for (auto& [seq, index] : tree.lstPending) {
        const NodeState& rec = tree.vecOwned[index];
        CFileNode* n = rec.pNode;
        if (!n || !rec.bPending || rec.u64Seq != seq || n->GetParent())
            continue;
        if (IsFolderWithoutFiles(tree, n))
            continue;
        if (!n->IsDirectory() && (n->GetFileSize() == 0 || (!showNormal && !n->IsDeleted())))
            continue;
        if (lost->AddChild(n))
            RootSubtree(tree, n);
    }
    std::vector<uint32_t> batch = TakeRootedBatch(tree);
    if (batch.empty())
        return;
    CFilesystemNode* folder = lost.release();
    const uint32_t folderIndex = Own(tree, folder);
    tree.vecOwned[folderIndex].bRooted = true;
    batch.push_back(folderIndex);
    tree.pRoot->AddChild(folder);
    ShowNodes(tree, batch, 1);
}

void CDirectoryTreeBuilder::ReleaseUnshown(Tree& tree)
{
    int released = 0;
    for (uint32_t index = 0; index < tree.vecOwned.size(); ++index) {
        CFileNode* node = tree.vecOwned[index].pNode;
        if (!node || tree.vecOwned[index].bShown)
            continue;
        Disown(tree, index);
        node->Release();
        ++released;
    }
    tree.mapFile.clear();
    tree.mapDirectory.clear();
    tree.vecRecycleInfoFiles.clear();
    auto& candidates = tree.vecTrashCandidates;
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                    [&](CFileNode* c) { return IndexOf(tree, c) == kNoIndex; }),
                     candidates.end());
    CatchExeception::WriteLog("CDirectoryTreeBuilder::ReleaseNodeByFilter --- nReleasedCount = %d\n", released);
}

int CDirectoryTreeBuilder::FlashBuild(_tagSearcherType type)
{
    Tree* tree = FindTree(type);
    if (!tree)
        return 0;
    m_bFlash = true;

    // 1. Recycle-bin folders, then recycled files, join the tree now.
    std::vector<CFileNode*> folders = std::move(tree->vecRecycleFolders);
    std::vector<CFileNode*> files = std::move(tree->vecRecycledFiles);
    tree->vecRecycleFolders.clear();
    tree->vecRecycledFiles.clear();
    tree->setRecycleBinIds.clear();
    for (auto* list : {&folders, &files}) {
        for (CFileNode* n : *list) {
            RestoreRecycledName(*tree, n);
            // Refused here, the node stays ours and is released below.
            AddNodeImpl(n, type, true);
        }
    }

    // 2. Everything that can reach the root now.
    for (;;) {
        std::vector<uint32_t> batch = BuildTree(*tree, true);
        if (batch.empty())
            break;
        ShowNodes(*tree, batch, 0);
    }

    // 3. The user's trash, now that all folders are known.
    if (!tree->bUserTrashFound) {
        for (CFileNode* c : tree->vecTrashCandidates) {
            if (IsUserTrash(*tree, c)) {
                MarkDeletedSpread(*tree, c);
                SetTrash(*tree, c);
                tree->bUserTrashFound = 1;
                break;
            }
        }
    }

    // 4. Files left from an earlier round rejoin the pending list; then deleted
    //    marks spread through what is still pending. Outside restore mode the
    //    file map holds only this round's files, each linked or pending, so
    //    there is nothing to rejoin.
    if (m_bRestoreMode) {
        std::vector<std::pair<long long, CFileNode*>> parentless;
        tree->mapFile.for_each([&](long long id, _PARENT_INFO& entry) {
            if (entry.pFirst && !entry.pFirst->GetParent())
                parentless.emplace_back(id, entry.pFirst);
        });
        std::sort(parentless.begin(), parentless.end());
        for (auto& [id, first] : parentless) {
            const uint32_t index = IndexOf(*tree, first);
            if (index == kNoIndex || tree->vecOwned[index].bPending)
                break;
            AppendPending(*tree, index);
            Enqueue(*tree, index);
        }
    }
    MarkPendingUnderDeleted(*tree);

    // 5.
    for (;;) {
        std::vector<uint32_t> batch = BuildTree(*tree, true);
        if (batch.empty())
            break;
        ShowNodes(*tree, batch, 0);
    }

    // 6.
    HangLostFiles(*tree);

    // 7.
    for (NodeState& rec : tree->vecOwned) {
        rec.bPending = false;
        rec.bQueued = false;
        rec.bWaiting = false;
    }
    tree->lstPending.clear();
    tree->nPendingLive = 0;
    tree->mapWaiters.clear();
    tree->queWork = {};
    tree->vecNewlyRooted.clear();
    if (!m_bRestoreMode)
        ReleaseUnshown(*tree);

    // 8.
    std::printf("CDirectoryTreeBuilder::FlashBuild  searcherType : %d, total files: %lld\n", static_cast<int>(type),
                tree->llShownCount);
    std::printf("CDirectoryTreeBuilder::FlashBuild  searcherType : %d, total added files: %lld\n",
                static_cast<int>(type), tree->llAddedCount);
    std::fflush(stdout);
    m_bFlash = false;
    return 1;
}
