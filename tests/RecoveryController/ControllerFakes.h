// Fakes for the scan controllers: recording complete and quick searchers,
// recognisers, a tree builder, progress and node sinks and a restore source.
// The complete searchers also serve vantrel-cli-fakes.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "IProgress.h"
#include "IRecovery.h"
#include "IRestoreSource.h"
#include "ISearcher.h"
#include "ITreeBuilder.h"
#include "TestSupport.h"

class IStorageDevice;

// Calls of every fake in the order they happened, as "who:what" texts.
class CallLog {
public:
    void Add(const std::string& event);
    std::vector<std::string> Events() const;
    // Events that start with prefix, in order.
    std::vector<std::string> With(const std::string& prefix) const;
    bool Has(const std::string& event) const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
};

class CRecordingSearcher;

// What the factories of the fake searchers share; the factories are plain
// functions, so the settings live here. Reset() before each test.
struct FakeScanContext {
    CallLog log;
    // Read each block through the scan's device and check its stamps.
    bool readBlocks = true;
    // Print "type first count crc32" per block on standard output (or on
    // what `out` gives, when set).
    bool printCrc = false;
    FILE* (*out)() = nullptr;
    // Runs at the start of every AnalyzeBlock (delays, latches, checks).
    std::function<void(int type, long long first, long long count)> onAnalyze;
    // Types whose nodes have a no-op Release and die with their searcher.
    std::vector<int> nodeOwningTypes;
    // Types whose factory gives no searcher.
    std::vector<int> nullTypes;
    // EndSearch(build != 0) adds "dir" and "dir/b.txt" to the builder.
    bool addNodes = true;
    std::atomic<int> badBlocks{0};
    // Searchers alive now, in creation order.
    std::vector<CRecordingSearcher*> searchers;

    void Reset();
};
FakeScanContext& FakeScan();

// 2024-01-02T03:04:05Z, the times of the fake file.
constexpr unsigned long long kFakeFileTime = (1704164645ULL + 11644473600ULL) * 10000000ULL;

class CRecordingSearcher final : public ICompleteFileSystemSearchController {
public:
    explicit CRecordingSearcher(int type);
    ~CRecordingSearcher() override;

    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    int GetSearchedPartitionInfo(CSearchedPartitionInfo**, int) override { return 0; }
    int SetDevice(IStorageDevice* device) override;
    int SetBlockSize(int sectors) override;
    int PreparetoSearch() override;
    void EndSearch(int build) override;
    int AnalyzeBlock(long long first, long long count) override;
    void SetIProgressSink(IProgress* progress) override;
    void SetBitmap(TBitmap* bitmap) override;
    void SetFileSectorMap(std::map<long long, unsigned int>* map) override;
    void SetActivePartition(bool active) override;

    int m_iType;
    IStorageDevice* m_pDevice = nullptr;
    IDirecotryTreeBuilder* m_pBuilder = nullptr;
    IProgress* m_pProgress = nullptr;
    TBitmap* m_pBitmap = nullptr;
    std::map<long long, unsigned int>* m_pSectorMap = nullptr;

private:
    std::string Tag() const { return std::to_string(m_iType) + ":"; }
    std::vector<unsigned char> m_buffer;
    std::vector<IFileNode*> m_vOwnedNodes;
};

// Registers the fake complete searchers of the six deep-scan types.
void RegisterFakeCompleteSearchers();

// A quick searcher that logs its calls and answers a failure code, which
// the controller must ignore.
class CFakeQuickSearcher final : public IQuickFileSystemSearchController {
public:
    explicit CFakeQuickSearcher(int fsType) : m_iFsType(fsType) {}
    ~CFakeQuickSearcher() override;
    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    int GetSearchedPartitionInfo(CSearchedPartitionInfo**, int) override { return 0; }
    ResultCode QuickSearchFiles(IStorageDevice* volume, IProgress* progress) override;

    int m_iFsType;
};
// Registers fake quick searchers for FAT12/16/32, NTFS, exFAT and HFS+; the
// APFS slot stays empty as in the real system.
void RegisterFakeQuickSearchers();

// A recogniser that answers a fixed file-system type.
class CFakeVolumeAnalyze final : public IVolumeAnalyze {
public:
    explicit CFakeVolumeAnalyze(enumFILE_SYSTEM_TYPE type) : m_eType(type) { ++s_live; }
    ~CFakeVolumeAnalyze() override { --s_live; }
    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return m_eType; }
    long long GetTotalSector() override { return 0; }
    int GetLabel(char* buffer, int size) override;

    enumFILE_SYSTEM_TYPE m_eType;
    static std::atomic<int> s_live;
};

// Tree builder that logs its calls, takes every node and releases them in
// Release, like the real one.
class CFakeTreeBuilder final : public IDirecotryTreeBuilder {
public:
    explicit CFakeTreeBuilder(bool restoreMode);
    int Initialize(const char* description, IDrirectoryTree* sink, IRecoveryFilter* filter) override;
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override;
    int FlashBuild(_tagSearcherType type) override;
    void Release() override;
    int SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override { return 1; }

    std::vector<IFileNode*> m_vNodes;
};
IDirecotryTreeBuilder* CreateFakeTreeBuilder(bool restoreMode);
IDirecotryTreeBuilder* CreateNoTreeBuilder(bool restoreMode);

struct ProgressRecord {
    uint32_t state;
    uint64_t total;
    uint64_t done;
    uint64_t result;
    bool operator==(const ProgressRecord&) const = default;
};

class CFakeProgress final : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override;
    int Continued() override;
    int shouldBuild() override { return m_iBuild; }

    std::vector<ProgressRecord> Records() const;
    // Block reports seen so far (state 2 after the loop's first report).
    int BlockReports() const;

    // Continued() answers 0 once this many block reports arrived (-1: never).
    int m_iStopAfterBlocks = -1;
    int m_iBuild = 1;
    // Every byte of every record beyond the four fields was zero.
    bool m_bClean = true;

private:
    mutable std::mutex m_mutex;
    std::vector<ProgressRecord> m_records;
    bool m_bLoopStarted = false;
    int m_iBlockReports = 0;
};

class CFakeSink final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned int count, int flag) override;
    void ShowFilesystemNode(IFilesystemNode* root) override;
    int m_iCalls = 0;
};

class CFakeFilter final : public IRecoveryFilter {
public:
    int ShowNormalFiles() const override { return 1; }
    void SetScanType(_SCAN_TYPE) override {}
    int IsFileNodeValid(IFileNode*) override { return 1; }
    void SetFilterTypes(unsigned int) override {}
    int GetNodeFileType(IFileNode*) override { return 7; }
    void Release() override {}
};

// Replays one node of type 31 into the builder it is given.
class CFakeRestoreSource final : public IRestoreSource {
public:
    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress, IStorageDevice* device) override;
    const std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int) override { return m_vEmpty; }

    IDirecotryTreeBuilder* m_pBuilder = nullptr;
    IProgress* m_pProgress = nullptr;
    IStorageDevice* m_pDevice = nullptr;

private:
    std::vector<CSearchedPartitionInfo*> m_vEmpty;
};
