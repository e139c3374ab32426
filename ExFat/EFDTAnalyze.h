// Parser of the directory clusters that the quick walk reads: it assembles
// entry sets (file, stream, names) into _tagFileBaseInfo records. The set
// being assembled lives across calls, so a set that crosses a cluster
// boundary completes in the next cluster.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>

#include "ExFatDirEntry.h"
#include "ExFatStructs.h"
#include "Utf16Name.h"

class CEFDTAnalyze {
public:
    CEFDTAnalyze();

    // Sets the limits the stream entries are judged against and drops the
    // set being assembled.
    void PrepareAnayze(unsigned int sectorShift, unsigned int clusterShift, unsigned long long deviceSectors);
    // Parses the length / 32 entries of one directory cluster that starts at
    // sector. False at the first entry that is implausible or of a type that
    // ends the cluster (0x00 included); true when every entry was taken.
    bool Analyze(const void* buffer, size_t length, long long sector);
    // Drops the set being assembled (a set never crosses into another
    // directory).
    void ClearEntrySet()
    {
        if (m_bWorkingClear)
            return;
        m_working = WorkingSet();
        m_bWorkingClear = true;
    }
    // Whether a name entry with characters a name cannot hold only drops
    // its own entry set (a known directory's walk) instead of ending the
    // parse (the default: bytes being judged as a directory).
    void SetDamagedNameCostsItsSet(bool on) { m_bDamagedNameCostsItsSet = on; }

    // The records completed so far, in the order their sets ended.
    std::list<_tagFileBaseInfo>& GetFileList() { return m_listFiles; }

private:
    struct WorkingSet {
        int iState = 0;              // 0 none, 1 file entry seen, 2 + k: stream and k names
        unsigned int dwSecondaryLeft = 0;
        unsigned int dwNameLength = 0;
        unsigned int dwEntriesSinceFile = 0;
        _tagFileBaseInfo info;
        CUtf16NameAssembler name{kExFatMaxNameChars};
    };

    bool StartSet(const _tagExFatDirEntry& entry, long long sector);
    bool AddStream(const _tagExFatDirEntry& entry);
    bool AddName(const _tagExFatDirEntry& entry);
    void FinishSet();

    WorkingSet m_working;
    bool m_bWorkingClear = true;  // m_working is as a new one: clearing it again changes nothing
    std::list<_tagFileBaseInfo> m_listFiles;
    ExFatEntryLimits m_limits;
    CUtf16NameConverter m_converter;
    bool m_bDamagedNameCostsItsSet = false;
};
