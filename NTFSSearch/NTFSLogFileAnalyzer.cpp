#include "NTFSLogFileAnalyzer.h"

#include <algorithm>
#include <cstring>

#include "NTFSBytes.h"
#include "NTFSSearchController.h"

using ntfsbytes::U16;

namespace {

constexpr unsigned int kUnit = 512;
constexpr unsigned int kPage = 4096;
constexpr long long kPageUnits = kPage / kUnit;

}  // namespace

// ---- seen-sector ranges ----

void CMetaFileAnalyzer::CombineSectorOfRange(unsigned long long sector)
{
    // Sectors arrive in ascending order: the last range is the one to grow.
    for (auto it = m_ranges.rbegin(); it != m_ranges.rend() && it - m_ranges.rbegin() < 4; ++it)
        if (it->first + it->count == sector) {
            ++it->count;
            return;
        }
    if (m_ranges.size() < kNtfsSearchListCap)
        m_ranges.push_back({sector, 1});
}

bool CMetaFileAnalyzer::CompareSectorBuffer(const uint8_t* a, const uint8_t* b)
{
    return std::memcmp(a, b, kUnit) == 0;
}

unsigned long long CMetaFileAnalyzer::GetSectorRangeCount(unsigned long long first, unsigned long long last) const
{
    unsigned long long n = 0;
    for (const Range& r : m_ranges) {
        if (r.count == 0)
            continue;
        const unsigned long long lo = std::max(first, r.first);
        const unsigned long long hi = std::min(last, r.first + r.count - 1);
        if (lo <= hi)
            n += hi - lo + 1;
    }
    return n;
}

unsigned long long CMetaFileAnalyzer::GetMatchCount(const CNTFSDataRunList& runs, long long start,
                                                    unsigned int spc) const
{
    unsigned long long n = 0;
    for (auto it = runs.GetBegin(); it != runs.GetEnd(); ++it) {
        const CDataRun& run = **it;
        long long first = 0, length = 0;
        if (run.m_s64LCN < 0 || run.m_s64Length <= 0 ||
            __builtin_mul_overflow(run.m_s64LCN, static_cast<long long>(spc), &first) ||
            __builtin_add_overflow(first, start, &first) ||
            __builtin_mul_overflow(run.m_s64Length, static_cast<long long>(spc), &length) ||
            __builtin_add_overflow(first, length, &length))
            continue;
        n += GetSectorRangeCount(static_cast<unsigned long long>(first), static_cast<unsigned long long>(length));
    }
    return n;
}

// ---- the log ----

CLogFileAnalyzer::CLogFileAnalyzer(NTFSPartitionSet& set, CNTFSPartitionInfoBuilder& builder, IStorageDevice* device)
    : m_set(set), m_builder(builder), m_pDevice(device)
{
}

bool CLogFileAnalyzer::IsValidRSTRRecord(const uint8_t* b, unsigned int available)
{
    if (!b || available < kPage || std::memcmp(b, "RSTR", 4) != 0 ||
        std::memcmp(b + 0x90, "N\0T\0F\0S\0", 8) != 0)
        return false;
    const uint16_t usn = U16(b + 30);
    for (unsigned int k = 0; k < kPageUnits; ++k)
        if (U16(b + 510 + kUnit * k) != usn)
            return false;
    return true;
}

bool CLogFileAnalyzer::IsaMetaFileRecordNotNeedtoCount(const uint8_t*) const
{
    return m_logFiles.size() >= kNtfsSearchListCap;
}

void CLogFileAnalyzer::Hypothesis(long long sector, const CLogFileInfo& info, unsigned int flags)
{
    CSearchedNTFSPartitionInfo* h = BuildPartitionInfoAccordingtoFileRecord(
        sector, info.GetFirstClusterNO(), info.GetSectorsPerCluster(), flags, m_s64DeviceSectors, kUnit);
    m_builder.MergeOrInsert(h, flags);
}

void CLogFileAnalyzer::AnalyzeRSTRRecord(long long sector, const uint8_t*, unsigned int)
{
    if (m_restarts.size() >= kNtfsSearchListCap)
        return;
    const bool paired = !m_restarts.empty() && m_restarts.back() == sector - kPageUnits;
    for (const auto& info : m_logFiles) {
        if (info->GetFirstClusterNO() == -1 || info->GetSectorsPerCluster() == 0)
            continue;
        if (!paired) {
            Hypothesis(sector, *info, NTFS_BUILD_FROM_RSTR1);
            if (sector - kPageUnits > 0)
                Hypothesis(sector - kPageUnits, *info, NTFS_BUILD_FROM_RSTR2);
            continue;
        }
        // The second page of a pair: the volume is the one the first page
        // placed, not one that starts here.
        std::unique_ptr<CSearchedNTFSPartitionInfo> second(BuildPartitionInfoAccordingtoFileRecord(
            sector - kPageUnits, info->GetFirstClusterNO(), info->GetSectorsPerCluster(), NTFS_BUILD_FROM_RSTR2,
            m_s64DeviceSectors, kUnit));
        if (second)
            m_builder.AdjustPartitionBuildFromFlag(*second, NTFS_BUILD_FROM_RSTR2, 0);
        std::unique_ptr<CSearchedNTFSPartitionInfo> first(BuildPartitionInfoAccordingtoFileRecord(
            sector, info->GetFirstClusterNO(), info->GetSectorsPerCluster(), NTFS_BUILD_FROM_RSTR1,
            m_s64DeviceSectors, kUnit));
        if (first)
            m_builder.AdjustPartitionBuildFromFlag(*first, 0, NTFS_BUILD_FROM_RSTR1);
        // The first page of the pair also guessed that it might be a second
        // page; that guess is withdrawn too.
        std::unique_ptr<CSearchedNTFSPartitionInfo> guess(BuildPartitionInfoAccordingtoFileRecord(
            sector - 2 * kPageUnits, info->GetFirstClusterNO(), info->GetSectorsPerCluster(), NTFS_BUILD_FROM_RSTR2,
            m_s64DeviceSectors, kUnit));
        if (guess)
            m_builder.AdjustPartitionBuildFromFlag(*guess, 0, NTFS_BUILD_FROM_RSTR2);
    }
    m_restarts.push_back(sector);
}

void CLogFileAnalyzer::AnalyzeLogFileFileRecord(long long sector, const uint8_t* buffer, unsigned int size)
{
    if (m_logFiles.size() >= kNtfsSearchListCap)
        return;
    auto info = std::make_unique<CLogFileInfo>();
    if (!info->InitFromBuffer(buffer, size, sector))
        return;
    if (info->GetSectorsPerCluster() != 0 && info->GetFirstClusterNO() != -1)
        for (size_t i = 0; i < m_restarts.size(); ++i) {
            const long long page = m_restarts[i];
            if (i + 1 < m_restarts.size() && m_restarts[i + 1] == page + kPageUnits) {
                Hypothesis(page, *info, NTFS_BUILD_FROM_RSTR1 | NTFS_BUILD_FROM_RSTR2);
                ++i;
                continue;
            }
            Hypothesis(page, *info, NTFS_BUILD_FROM_RSTR1);
            if (page - kPageUnits != 0)
                Hypothesis(page - kPageUnits, *info, NTFS_BUILD_FROM_RSTR2);
        }
    m_logFiles.push_back(std::move(info));
}

void CLogFileAnalyzer::AnalyzePage(long long sector, const uint8_t* page)
{
    if (!CRCRDRecord::IsValid(page, kPage))
        return;
    for (long long k = 0; k < kPageUnits; ++k)
        m_rcrd.CombineSectorOfRange(static_cast<unsigned long long>(sector + k));
}

void CLogFileAnalyzer::AnalyzeRCRDRecord(const uint8_t* block, long long blockStart, long long n)
{
    long long i = 0;
    if (m_s64CarriedSector >= 0 && m_s64CarriedSector + m_s64CarriedHeld == blockStart &&
        m_s64CarriedHeld + n >= kPageUnits) {
        const long long missing = kPageUnits - m_s64CarriedHeld;
        std::memcpy(m_vecCarried.data() + m_s64CarriedHeld * kUnit, block, static_cast<size_t>(missing) * kUnit);
        const long long first = m_s64CarriedSector;
        m_s64CarriedSector = -1;
        m_s64CarriedHeld = 0;
        AnalyzePage(first, m_vecCarried.data());
        i = missing;
    }
    while (i < n) {
        const uint8_t* sector = block + static_cast<size_t>(i) * kUnit;
        if (!CRCRDRecord::IsValidRCRDRecordFirstSector(sector, kUnit)) {
            ++i;
            continue;
        }
        if (n - i < kPageUnits) {
            // Carried to the next block.
            std::memcpy(m_vecCarried.data(), sector, static_cast<size_t>(n - i) * kUnit);
            m_s64CarriedHeld = n - i;
            m_s64CarriedSector = blockStart + i;
            return;
        }
        AnalyzePage(blockStart + i, sector);
        i += kPageUnits;
    }
}

long long CLogFileAnalyzer::CalcLogFileMatch(CSearchedNTFSPartitionInfo& c)
{
    const CLogFileInfo* found = nullptr;
    if (c.m_s64MFTRecordSector >= 0)
        for (const auto& info : m_logFiles) {
            if (info->GetSectorAddress() > c.m_s64MFTRecordSector + 4)
                break;
            if (info->GetSectorAddress() == c.m_s64MFTRecordSector + 4) {
                found = info.get();
                break;
            }
        }
    if (!found) {
        const long long start = c.GetStartSector();
        const long long end = start + static_cast<long long>(std::min<unsigned long long>(c.GetTotalSectors(), INT64_MAX / 2));
        for (const auto& info : m_logFiles) {
            if (info->GetSectorAddress() >= end)
                break;
            if (info->GetSectorAddress() >= start) {
                found = info.get();
                break;
            }
        }
    }
    if (!found) {
        c.m_s64LogFileMatchCount = 0;
        return 0;
    }
    c.m_s64LogFileRecordSector = found->GetSectorAddress();
    const unsigned long long n =
        m_rcrd.GetMatchCount(found->GetDataRunList(), c.GetStartSector(), c.GetSectorsPerUnit());
    c.m_s64LogFileMatchCount = static_cast<long long>(std::min<unsigned long long>(n, INT64_MAX));
    return c.m_s64LogFileMatchCount;
}

// ---- the attribute-definition table ----

namespace {

struct AttrDefEntry {
    const char* name;
    uint32_t type;
    uint32_t flags;
    uint64_t minSize;
    uint64_t maxSize;
};

// Name (UTF-16, 128 bytes), type, display rule, collation rule, flags,
// smallest and largest size: 160 bytes an entry, closed by an empty one.
std::vector<uint8_t> MakeReferenceTable()
{
    constexpr uint64_t kAny = ~0ULL;
    static const AttrDefEntry entries[] = {
        {"$STANDARD_INFORMATION", 0x10, 0x40, 0x30, 0x48},
        {"$ATTRIBUTE_LIST", 0x20, 0x80, 0, kAny},
        {"$FILE_NAME", 0x30, 0x42, 0x44, 0x242},
        {"$OBJECT_ID", 0x40, 0x40, 0, 0x100},
        {"$SECURITY_DESCRIPTOR", 0x50, 0x80, 0, kAny},
        {"$VOLUME_NAME", 0x60, 0x40, 2, 0x100},
        {"$VOLUME_INFORMATION", 0x70, 0x40, 0xC, 0xC},
        {"$DATA", 0x80, 0x00, 0, kAny},
        {"$INDEX_ROOT", 0x90, 0x40, 0, kAny},
        {"$INDEX_ALLOCATION", 0xA0, 0x80, 0, kAny},
        {"$BITMAP", 0xB0, 0x80, 0, kAny},
        {"$REPARSE_POINT", 0xC0, 0x80, 0, 0x4000},
        {"$EA_INFORMATION", 0xD0, 0x40, 8, 8},
        {"$EA", 0xE0, 0x00, 0, 0x10000},
        {"$LOGGED_UTILITY_STREAM", 0x100, 0x80, 0, 0x10000},
    };
    std::vector<uint8_t> table(CAttrDefFileAnalyzer::kTableBytes, 0);
    size_t at = 0;
    for (const AttrDefEntry& e : entries) {
        uint8_t* entry = table.data() + at;
        for (size_t i = 0; e.name[i]; ++i)
            entry[2 * i] = static_cast<uint8_t>(e.name[i]);
        std::memcpy(entry + 0x80, &e.type, 4);
        std::memcpy(entry + 0x8C, &e.flags, 4);
        std::memcpy(entry + 0x90, &e.minSize, 8);
        std::memcpy(entry + 0x98, &e.maxSize, 8);
        at += 160;
    }
    return table;
}

}  // namespace

const uint8_t* CAttrDefFileAnalyzer::GetReferenceTable()
{
    static const std::vector<uint8_t> table = MakeReferenceTable();
    return table.data();
}

void CAttrDefFileAnalyzer::AnalyzeAttrDefFileRecord(long long sector, const uint8_t* buffer, unsigned int size)
{
    if (m_infos.size() >= kNtfsSearchListCap)
        return;
    auto info = std::make_unique<CAttrDefFileInfo>();
    if (info->InitFromBuffer(buffer, size, sector))
        m_infos.push_back(std::move(info));
}

bool CAttrDefFileAnalyzer::AnalyzeSectorBuffer(long long sector, const uint8_t* buffer)
{
    const uint8_t* reference = GetReferenceTable();
    for (unsigned int k = 0; k < kTableBytes / kUnit; ++k) {
        const uint8_t* ref = reference + k * kUnit;
        // Cheap rejection first: every sector of the device comes here.
        if (std::memcmp(buffer, ref, 8) != 0 || !CMetaFileAnalyzer::CompareSectorBuffer(buffer, ref))
            continue;
        if (sector >= 0)
            m_ranges.CombineSectorOfRange(static_cast<unsigned long long>(sector));
        return true;
    }
    return false;
}

const CAttrDefFileInfo* CAttrDefFileAnalyzer::FindAttrDefFile(const CSearchedNTFSPartitionInfo& c) const
{
    if (c.m_s64MFTRecordSector >= 0) {
        // MFT record 4 at two sectors a record.
        const long long target = c.m_s64MFTRecordSector + 8;
        for (const auto& info : m_infos) {
            if (info->GetSectorAddress() > target)
                break;
            if (info->GetSectorAddress() == target)
                return info.get();
        }
    }
    const long long start = c.GetStartSector();
    const long long end = start + static_cast<long long>(std::min<unsigned long long>(c.GetTotalSectors(), INT64_MAX / 2));
    for (const auto& info : m_infos) {
        if (info->GetSectorAddress() >= end)
            break;
        if (info->GetSectorAddress() >= start)
            return info.get();
    }
    return nullptr;
}

long long CAttrDefFileAnalyzer::CalcAttrDefMatch(CSearchedNTFSPartitionInfo& c) const
{
    const CAttrDefFileInfo* info = FindAttrDefFile(c);
    if (!info) {
        c.m_s64AttrDefMatchCount = 0;
        return 0;
    }
    c.m_s64AttrDefRecordSector = info->GetSectorAddress();
    const unsigned long long n = m_ranges.GetMatchCount(info->GetDataRunList(), c.GetStartSector(), c.GetSectorsPerUnit());
    c.m_s64AttrDefMatchCount = static_cast<long long>(std::min<unsigned long long>(n, INT64_MAX));
    return c.m_s64AttrDefMatchCount;
}
