// The process-wide recovery operation, which copies every checked, shown
// file of the current scan result into a destination folder, and the holder
// of the engine's recovery filter, through which the file-type choice
// reaches every scan.
#pragma once

#include <map>
#include <string>

#include "BridgeUtil.h"
#include "EngineTypes.h"
#include "ResultCode.h"
#include "ZRUIOperation.h"

class IDataRecovery;
class IFileNode;
class IRecoveryController;
class IRecoveryFilter;

class ZRUIFilter {
public:
    static ZRUIFilter& instance();
    virtual ~ZRUIFilter();
    IRecoveryFilter* GetFilter() { return m_pFilter; }
    void ResetFilter(unsigned int mask);

private:
    ZRUIFilter();
    IRecoveryFilter* m_pFilter = nullptr;
};

class ZRUIRecovery : public ZRUIOperation, public ICreateDirIndex {
public:
    static ZRUIRecovery& instance();
    ~ZRUIRecovery() override;

    ResultCode DoRecovery();
    void UpdateProgress(_PROGRESS_INFO* info) override;
    void ResetParam();
    void InitDataRecoveryController();
    void ReleaseDataRecovery();

    void SetRecoveryPath(const char* path);
    void SetRecoveryTotalSize(unsigned long long size);
    void SetRecoveryTotalFilesCnt(unsigned long long count);
    unsigned long long GetRecoveryTotalSize();
    unsigned long long GetRecoveryTotalFilesCnt();
    unsigned long long GetRecoveriedFileSize();
    unsigned long long GetRecoveriedFilesCnt();
    IFileNode* GetCurrentRecoveryNode();

    int GetCreateDirIndex(_tagSearcherType type) override;
    void SetCreateDirIndex(_tagSearcherType type, int index) override;
    void ClearCreateDirIndex();
    // Counts of the run about to start, so that nothing reads the last run's.
    void ResetRecoveredCounts();
    IDataRecovery* GetDataRecoveryByType(_tagSearcherType type);
    bool CheckWhetherNeedReset();
    bool RecoveryPathIsSameDevice(const char* path);

    // Low 32 bits of the engine's code for a write to the destination that
    // did not go through: the job pauses until the window resumes it.
    static constexpr unsigned kWriteIncompleteKind = 0xD03;

private:
    ZRUIRecovery() = default;
    IDataRecovery* ChooseDataRecovery(IFileNode* node);

    IRecoveryController* m_pController = nullptr;
    std::string m_strDestination;
    unsigned long long m_u64TotalSize = 0;
    unsigned long long m_u64TotalFiles = 0;
    unsigned long long m_u64RecoveredSize = 0;
    unsigned long long m_u64LastDone = 0;
    std::map<_tagSearcherType, IDataRecovery*> m_mapDataRecovery;
    std::map<_tagSearcherType, int> m_mapCreateDirIndex;
    IFileNode* m_pCurrentNode = nullptr;
    unsigned long long m_u64CurrentIndex = 0;
    int m_iDeepReady = 0;
};
