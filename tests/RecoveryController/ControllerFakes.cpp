#include "ControllerFakes.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "IStorageDevice.h"
#include "SearcherRegistry.h"
#include "StampedMemoryDevice.h"

void CallLog::Add(const std::string& event)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(event);
}

std::vector<std::string> CallLog::Events() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::vector<std::string> CallLog::With(const std::string& prefix) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> out;
    for (const std::string& e : m_events)
        if (e.compare(0, prefix.size(), prefix) == 0)
            out.push_back(e);
    return out;
}

bool CallLog::Has(const std::string& event) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::find(m_events.begin(), m_events.end(), event) != m_events.end();
}

void CallLog::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.clear();
}

void FakeScanContext::Reset()
{
    log.Clear();
    readBlocks = true;
    printCrc = false;
    out = nullptr;
    onAnalyze = nullptr;
    nodeOwningTypes.clear();
    nullTypes.clear();
    addNodes = true;
    badBlocks = 0;
}

FakeScanContext& FakeScan()
{
    static auto* context = new FakeScanContext;
    return *context;
}

namespace {

bool Contains(const std::vector<int>& v, int x)
{
    return std::find(v.begin(), v.end(), x) != v.end();
}

// A node whose Release does nothing: its searcher deletes it.
class CSearcherOwnedNode final : public TestNode {
public:
    using TestNode::TestNode;
    void Release() override {}
};

TestNode* NewFakeNode(bool owned, const char* name, long long id, bool directory)
{
    if (owned)
        return new CSearcherOwnedNode(name, id, directory);
    return new TestNode(name, id, directory);
}

template <int Type>
ICompleteFileSystemSearchController* CreateRecordingSearcher()
{
    if (Contains(FakeScan().nullTypes, Type))
        return nullptr;
    return new CRecordingSearcher(Type);
}

template <int FsType>
IQuickFileSystemSearchController* CreateFakeQuick()
{
    return new CFakeQuickSearcher(FsType);
}

}  // namespace

CRecordingSearcher::CRecordingSearcher(int type) : m_iType(type)
{
    FakeScan().searchers.push_back(this);
    FakeScan().log.Add(Tag() + "Create");
}

CRecordingSearcher::~CRecordingSearcher()
{
    FakeScan().log.Add(Tag() + "Destroy");
    for (IFileNode* node : m_vOwnedNodes)
        delete node;
    auto& list = FakeScan().searchers;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

int CRecordingSearcher::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder)
{
    m_pBuilder = builder;
    FakeScan().log.Add(Tag() + "SetDirecotryTreeBuilder");
    return 1;
}

int CRecordingSearcher::SetDevice(IStorageDevice* device)
{
    m_pDevice = device;
    FakeScan().log.Add(Tag() + "SetDevice");
    return 1;
}

int CRecordingSearcher::SetBlockSize(int sectors)
{
    FakeScan().log.Add(Tag() + "SetBlockSize " + std::to_string(sectors));
    return 1;
}

int CRecordingSearcher::PreparetoSearch()
{
    FakeScan().log.Add(Tag() + "PreparetoSearch");
    return 1;
}

void CRecordingSearcher::SetIProgressSink(IProgress* progress)
{
    m_pProgress = progress;
    FakeScan().log.Add(Tag() + "SetIProgressSink");
}

void CRecordingSearcher::SetBitmap(TBitmap* bitmap)
{
    m_pBitmap = bitmap;
    FakeScan().log.Add(Tag() + "SetBitmap");
}

void CRecordingSearcher::SetFileSectorMap(std::map<long long, unsigned int>* map)
{
    m_pSectorMap = map;
    FakeScan().log.Add(Tag() + "SetFileSectorMap");
}

void CRecordingSearcher::SetActivePartition(bool active)
{
    FakeScan().log.Add(Tag() + "SetActivePartition " + std::to_string(active ? 1 : 0));
}

int CRecordingSearcher::AnalyzeBlock(long long first, long long count)
{
    FakeScanContext& ctx = FakeScan();
    ctx.log.Add(Tag() + "AnalyzeBlock " + std::to_string(first) + " " + std::to_string(count));
    if (ctx.onAnalyze)
        ctx.onAnalyze(m_iType, first, count);
    if (!ctx.readBlocks || !m_pDevice || count <= 0)
        return 1;
    const unsigned int sectorSize = m_pDevice->GetSectorSize();
    m_buffer.assign(static_cast<size_t>(count) * sectorSize, 0);
    if (!m_pDevice->ReadSector(m_buffer.data(), first, count) ||
        FirstBadStamp(m_buffer.data(), first, count, sectorSize) >= 0)
        ++ctx.badBlocks;
    if (ctx.printCrc) {
        uLong crc = crc32(0L, Z_NULL, 0);
        crc = crc32_z(crc, m_buffer.data(), m_buffer.size());
        std::fprintf(ctx.out ? ctx.out() : stdout, "%d %lld %lld %lu\n", m_iType, first, count,
                     static_cast<unsigned long>(crc));
    }
    return 1;
}

void CRecordingSearcher::EndSearch(int build)
{
    FakeScanContext& ctx = FakeScan();
    ctx.log.Add(Tag() + "EndSearch " + std::to_string(build));
    if (!build || !ctx.addNodes || !m_pBuilder)
        return;
    const auto type = static_cast<_tagSearcherType>(m_iType);
    const bool owned = Contains(ctx.nodeOwningTypes, m_iType);
    constexpr long long kRootId = 2;
    m_pBuilder->AddSearcherInfo(type, kRootId);

    TestNode* dir = NewFakeNode(owned, "dir", 1000, true);
    dir->SetParentNodeID(kRootId);
    TestNode* file = NewFakeNode(owned, "b.txt", 1001, false);
    file->SetParentNodeID(1000);
    file->m_size = 5;
    file->m_deleted = true;
    file->m_created = kFakeFileTime;
    file->m_modified = kFakeFileTime;
    for (TestNode* node : {dir, file}) {
        node->m_type = type;
        if (owned)
            m_vOwnedNodes.push_back(node);
        if (!m_pBuilder->AddNode(node, type))
            node->Release();
    }
    m_pBuilder->FlashBuild(type);
}

void RegisterFakeCompleteSearchers()
{
    RegisterCompleteSearcher(SEARCHER_HFSPLUS, CreateRecordingSearcher<SEARCHER_HFSPLUS>);
    RegisterCompleteSearcher(SEARCHER_EXFAT, CreateRecordingSearcher<SEARCHER_EXFAT>);
    RegisterCompleteSearcher(SEARCHER_FAT, CreateRecordingSearcher<SEARCHER_FAT>);
    RegisterCompleteSearcher(SEARCHER_RAW, CreateRecordingSearcher<SEARCHER_RAW>);
    RegisterCompleteSearcher(SEARCHER_NTFS, CreateRecordingSearcher<SEARCHER_NTFS>);
    RegisterCompleteSearcher(SEARCHER_APFS, CreateRecordingSearcher<SEARCHER_APFS>);
}

CFakeQuickSearcher::~CFakeQuickSearcher()
{
    FakeScan().log.Add("Q:Destroy");
}

int CFakeQuickSearcher::SetDirecotryTreeBuilder(IDirecotryTreeBuilder*)
{
    FakeScan().log.Add("Q:SetDirecotryTreeBuilder");
    return 1;
}

ResultCode CFakeQuickSearcher::QuickSearchFiles(IStorageDevice*, IProgress*)
{
    FakeScan().log.Add("Q:QuickSearchFiles " + std::to_string(m_iFsType));
    return MakeResultCode(kModuleFATSearch, 1, 1);
}

void RegisterFakeQuickSearchers()
{
    RegisterQuickSearcher(FS_FAT12, CreateFakeQuick<FS_FAT12>);
    RegisterQuickSearcher(FS_FAT16, CreateFakeQuick<FS_FAT16>);
    RegisterQuickSearcher(FS_FAT32, CreateFakeQuick<FS_FAT32>);
    RegisterQuickSearcher(FS_NTFS, CreateFakeQuick<FS_NTFS>);
    RegisterQuickSearcher(FS_EXFAT, CreateFakeQuick<FS_EXFAT>);
    RegisterQuickSearcher(FS_HFSPLUS, CreateFakeQuick<FS_HFSPLUS>);
}

std::atomic<int> CFakeVolumeAnalyze::s_live{0};

int CFakeVolumeAnalyze::GetLabel(char* buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    std::snprintf(buffer, static_cast<size_t>(size), "FAKE%d", static_cast<int>(m_eType));
    return 1;
}

CFakeTreeBuilder::CFakeTreeBuilder(bool restoreMode)
{
    FakeScan().log.Add(std::string("B:Create ") + (restoreMode ? "1" : "0"));
}

int CFakeTreeBuilder::Initialize(const char* description, IDrirectoryTree* sink, IRecoveryFilter* filter)
{
    FakeScan().log.Add(std::string("B:Initialize ") + (description ? description : "(null)"));
    return description && sink && filter ? 1 : 0;
}

int CFakeTreeBuilder::AddNode(IFileNode* node, _tagSearcherType type)
{
    FakeScan().log.Add("B:AddNode " + std::to_string(type) + " " + node->GetFileName());
    m_vNodes.push_back(node);
    return 1;
}

int CFakeTreeBuilder::AddSearcherInfo(_tagSearcherType type, long long rootId)
{
    FakeScan().log.Add("B:AddSearcherInfo " + std::to_string(type) + " " + std::to_string(rootId));
    return 1;
}

int CFakeTreeBuilder::FlashBuild(_tagSearcherType type)
{
    FakeScan().log.Add("B:FlashBuild " + std::to_string(type));
    return 1;
}

void CFakeTreeBuilder::Release()
{
    FakeScan().log.Add("B:Release");
    // Like the real builder: every node it holds is released, which reads
    // the node (its vtable) even when the release itself does nothing.
    for (IFileNode* node : m_vNodes)
        node->Release();
    delete this;
}

IDirecotryTreeBuilder* CreateFakeTreeBuilder(bool restoreMode)
{
    return new CFakeTreeBuilder(restoreMode);
}

IDirecotryTreeBuilder* CreateNoTreeBuilder(bool restoreMode)
{
    FakeScan().log.Add(std::string("B:CreateFailed ") + (restoreMode ? "1" : "0"));
    return nullptr;
}

void CFakeProgress::UpdateProgress(_PROGRESS_INFO* info)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.push_back({info->dwState, info->u64Total, info->u64Done, info->u64Result});
    if (info->dwPad != 0 ||
        std::any_of(std::begin(info->reserved), std::end(info->reserved), [](uint8_t b) { return b != 0; }))
        m_bClean = false;
    if (info->dwState == 0)
        m_bLoopStarted = true;
    else if (m_bLoopStarted && info->dwState == PROGRESS_STATE_RUNNING)
        ++m_iBlockReports;
}

int CFakeProgress::Continued()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_iStopAfterBlocks < 0 || m_iBlockReports < m_iStopAfterBlocks ? 1 : 0;
}

std::vector<ProgressRecord> CFakeProgress::Records() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

int CFakeProgress::BlockReports() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_iBlockReports;
}

void CFakeSink::ShowNodes(IFileNode**, unsigned int, int)
{
    ++m_iCalls;
}

void CFakeSink::ShowFilesystemNode(IFilesystemNode*)
{
    ++m_iCalls;
}

int CFakeRestoreSource::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress,
                                                IStorageDevice* device)
{
    FakeScan().log.Add("R:Replay");
    m_pBuilder = builder;
    m_pProgress = progress;
    m_pDevice = device;
    builder->AddSearcherInfo(SEARCHER_HFSPLUS, 2);
    auto* node = new TestNode("saved.txt", 50);
    node->SetParentNodeID(2);
    if (!builder->AddNode(node, SEARCHER_HFSPLUS))
        node->Release();
    builder->FlashBuild(SEARCHER_HFSPLUS);
    return 0;
}
