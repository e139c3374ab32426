// The recovery filter: which found nodes a scan shows, by file-type group and
// by deleted state.
#pragma once

#include <map>
#include <set>
#include <string>

#include "FileTypeManager.h"
#include "IRecovery.h"

class CRecoveryFilter : public IRecoveryFilter {
public:
    // Extension table from the process-wide lists (CFileTypeManager::Initialze).
    CRecoveryFilter();
    // Extension table from the given lists, keyed by group bit 1..16.
    explicit CRecoveryFilter(const std::map<int, std::string>& lists);
    CRecoveryFilter(const CRecoveryFilter&) = delete;
    CRecoveryFilter& operator=(const CRecoveryFilter&) = delete;

    // 1 unless the scan is a quick scan of a mounted volume (type 0), where
    // only deleted files and their folders are shown.
    int ShowNormalFiles() const override;
    void SetScanType(_SCAN_TYPE type) override;
    // 0 for null; 1 for folders, and for every node when no group is chosen.
    int IsFileNodeValid(IFileNode* node) override;
    // Mask bits: 0x01 pictures, 0x02 music, 0x04 movies, 0x08 archives,
    // 0x10 documents, 0x20 other; 127 means everything.
    void SetFilterTypes(unsigned int mask) override;
    // The mask bit of the node's group: 1, 2, 4, 8, 16, or 32 for other.
    int GetNodeFileType(IFileNode* node) override;
    // The program's filter lives as long as the process: nothing to do.
    void Release() override {}

    // Group of a node's name: the text after its last '.', FILE_TYPE_OTHER
    // without a name or a '.'.
    FILE_TYPE_ID GetNodeGroup(IFileNode* node) const;

private:
    _SCAN_TYPE m_eScanType = SCAN_TYPE_QUICK_MOUNTED;
    unsigned int m_dwFilterMask = 127;
    CFileTypeManager m_FileTypeManager;
    std::set<FILE_TYPE_ID> m_setWanted;
};
