// Evidence from the NTFS transaction log for the deep search: restart pages
// ("RSTR") and the $LogFile record place partition candidates, and log
// record pages ("RCRD") found where a candidate's $LogFile runs say they
// should be weigh it.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "NTFSSearchInfo.h"

class IStorageDevice;

// Sectors that showed an expected content, kept as ranges.
class CMetaFileAnalyzer {
public:
    struct Range {
        unsigned long long first;
        unsigned long long count;
    };
    void CombineSectorOfRange(unsigned long long sector);
    static bool CompareSectorBuffer(const uint8_t* a, const uint8_t* b);
    // Sectors of the ranges inside [first, last], both ends included.
    unsigned long long GetSectorRangeCount(unsigned long long first, unsigned long long last) const;
    unsigned long long GetMatchCount(const CNTFSDataRunList& runs, long long partitionStart,
                                     unsigned int sectorsPerCluster) const;
    const std::vector<Range>& GetRanges() const { return m_ranges; }

private:
    std::vector<Range> m_ranges;
};

// The attribute-definition table: its FILE records, and the sectors equal to
// one of the five sectors of the table a newly formatted volume holds.
class CAttrDefFileAnalyzer {
public:
    static constexpr unsigned int kTableBytes = 2560;
    // The table of a newly formatted NTFS 3.1 volume.
    static const uint8_t* GetReferenceTable();

    // buffer: the $AttrDef FILE record as read.
    void AnalyzeAttrDefFileRecord(long long sector, const uint8_t* buffer, unsigned int size);
    bool AnalyzeSectorBuffer(long long sector, const uint8_t* buffer);
    const CAttrDefFileInfo* FindAttrDefFile(const CSearchedNTFSPartitionInfo& candidate) const;
    long long CalcAttrDefMatch(CSearchedNTFSPartitionInfo& candidate) const;
    const CMetaFileAnalyzer& GetRanges() const { return m_ranges; }

private:
    std::list<std::unique_ptr<CAttrDefFileInfo>> m_infos;
    CMetaFileAnalyzer m_ranges;
};

class CLogFileAnalyzer {
public:
    CLogFileAnalyzer(NTFSPartitionSet& set, CNTFSPartitionInfoBuilder& builder, IStorageDevice* device);
    void SetDeviceTotalSectors(long long n) { m_s64DeviceSectors = n; }

    static bool IsValidRSTRRecord(const uint8_t* buffer, unsigned int available);
    void AnalyzeRSTRRecord(long long sector, const uint8_t* buffer, unsigned int size);
    // buffer: the $LogFile FILE record as read.
    void AnalyzeLogFileFileRecord(long long sector, const uint8_t* buffer, unsigned int size);
    // Once per block, after the per-sector tests.
    void AnalyzeRCRDRecord(const uint8_t* block, long long blockStart, long long sectors);
    long long CalcLogFileMatch(CSearchedNTFSPartitionInfo& candidate);
    bool IsaMetaFileRecordNotNeedtoCount(const uint8_t*) const;
    const CMetaFileAnalyzer& GetRCRDRanges() const { return m_rcrd; }

private:
    void Hypothesis(long long sector, const CLogFileInfo& info, unsigned int flags);
    void AnalyzePage(long long sector, const uint8_t* page);

    std::list<std::unique_ptr<CLogFileInfo>> m_logFiles;
    std::vector<long long> m_restarts;
    NTFSPartitionSet& m_set;
    CNTFSPartitionInfoBuilder& m_builder;
    long long m_s64DeviceSectors = 0;
    CMetaFileAnalyzer m_rcrd;
    IStorageDevice* m_pDevice;
    // A record page begun in the last sectors of the previous block.
    std::vector<uint8_t> m_vecCarried = std::vector<uint8_t>(4096, 0);
    long long m_s64CarriedHeld = 0;
    long long m_s64CarriedSector = -1;
};
