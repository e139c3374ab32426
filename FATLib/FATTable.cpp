#include "FATTable.h"

#include <memory>
#include <new>

#include "FATStructs.h"
#include "IStorageDevice.h"
#include "Log.h"

using fatle::Load16;
using fatle::Load32;

namespace {

// No copy is ever larger than the largest FAT32 copy of 512-byte sectors.
constexpr unsigned long long kMaxCopyBytes = 128000ULL * 512;
constexpr unsigned int kFat16ChainEnd = 0xFFF6;      // values above end a chain
constexpr unsigned int kFat32ChainEnd = 0x0FFFFFF6;

// Body check shared by FAT16 and FAT32: no entry points outside the table
// (short of the reserved and end-of-chain values), to cluster 1, or to itself.
template <typename Entry>
bool BodyIsValid(unsigned int n, unsigned int firstReserved, Entry entry)
{
    for (unsigned int i = 2; i < n; ++i) {
        unsigned int v = entry(i);
        if ((v >= n && v < firstReserved) || v == 1 || v == i)
            return false;
    }
    return true;
}

// Index check shared by FAT16 and FAT32: no two clusters lead to the same
// cluster and no chain loops. Each cluster's predecessor is recorded the first
// time a chain passes; a walk stops where it meets a cluster whose recorded
// predecessor is the cluster it comes from, since everything after it has
// been walked already. Every step therefore records a new predecessor, and
// the whole check is linear in the entry count (a chain stored in descending
// cluster order would otherwise be walked again from every cluster). The only
// cluster a walk can reach twice without meeting a different recorded
// predecessor is the cluster it started from, so returning there is a loop.
template <typename Entry>
bool IndexIsValid(unsigned int n, unsigned int chainEnd, Entry entry)
{
    if (n < 3)
        return true;
    std::unique_ptr<uint32_t[]> predecessor(new (std::nothrow) uint32_t[n]());
    if (!predecessor)
        return false;  // cannot be checked, so it is not trusted
    for (unsigned int start = 2; start < n; ++start) {
        if (predecessor[start] != 0)
            continue;
        unsigned int cur = start;
        for (;;) {
            unsigned int v = entry(cur);
            if (v < 2 || v > chainEnd)
                break;  // end of the chain (the body check keeps v below n)
            if (v >= n || v == start)
                return false;  // out of the table, or a loop back to the start
            if (predecessor[v] == 0)
                predecessor[v] = cur;
            else if (predecessor[v] == cur)
                break;  // this path was checked already
            else
                return false;  // two chains join
            cur = v;
        }
    }
    return true;
}

const char* TypeName(enumFILE_SYSTEM_TYPE type)
{
    switch (type) {
    case FS_FAT12: return "FAT12";
    case FS_FAT16: return "FAT16";
    case FS_FAT32: return "FAT32";
    default: return "unknown";
    }
}

}  // namespace

// ---- IRealFATTable ------------------------------------------------------------

IRealFATTable::IRealFATTable(IStorageDevice* device, long long fatStart, unsigned int sectorsPerFat,
                             unsigned int entryWidth, unsigned int minSectors, unsigned int maxSectors,
                             bool scaleLimits)
    : m_pDevice(device), m_llFATStartSector(fatStart), m_dwSectorsPerFAT(sectorsPerFat)
{
    if (m_pDevice)
        m_dwSectorSize = m_pDevice->GetSectorSize();
    // Smaller sectors make the size limits meaningless: such devices are refused.
    if (m_dwSectorSize < 512)
        return;
    unsigned int u = m_dwSectorSize / 512;
    unsigned int lo = scaleLimits ? minSectors / u : minSectors;
    unsigned int hi = scaleLimits ? maxSectors / u : maxSectors;
    if (sectorsPerFat == 0 || sectorsPerFat < lo || sectorsPerFat > hi)
        return;
    unsigned long long bytes = static_cast<unsigned long long>(m_dwSectorSize) * sectorsPerFat;
    if (bytes > kMaxCopyBytes)
        return;
    // A copy the device cannot hold would only fail to read: the boot
    // sector's sizes are not worth a buffer until the device holds them.
    const long long deviceSectors = m_pDevice->GetTotalSectors();
    if (fatStart < 0 || (deviceSectors > 0 && static_cast<long long>(sectorsPerFat) > deviceSectors - fatStart)) {
        m_eLoadState = kPastDeviceEnd;
        return;
    }
    m_pBuffer.reset(new (std::nothrow) uint8_t[bytes]);
    if (!m_pBuffer) {
        m_eLoadState = kReadFailed;
        return;
    }
    m_dwEntryCount = static_cast<unsigned int>(bytes / entryWidth);
    if (!ReadSector(0)) {
        m_pBuffer.reset();
        m_dwEntryCount = 0;
        m_eLoadState = kReadFailed;
        return;
    }
    m_eLoadState = kLoaded;
}

IRealFATTable::~IRealFATTable() = default;

int IRealFATTable::ReadSector(long long first)
{
    if (!m_pBuffer || !m_pDevice)
        return 0;
    return m_pDevice->ReadSector(m_pBuffer.get(), m_llFATStartSector + first, m_dwSectorsPerFAT);
}

// ---- FAT12 ------------------------------------------------------------------

CFAT12Table::CFAT12Table(IStorageDevice* device, long long fatStart, unsigned int sectorsPerFat)
    : IRealFATTable(device, fatStart, sectorsPerFat, 4, 1, 12, false)
{
}

unsigned int CFAT12Table::GetNextCluster(unsigned int cluster)
{
    unsigned long long offset = static_cast<unsigned long long>(cluster) * 3 / 2;
    if (!m_pBuffer || offset + 1 >= BufferSize())
        return 0;
    unsigned int word = Load16(m_pBuffer.get() + offset);
    unsigned int v = (cluster & 1) ? (word >> 4) : (word & 0xFFF);
    if (v == 0xFFF)
        return 0xFFFFFFFF;
    if (v >= 0xFF8)
        return 0x0FFFFFF8;
    return v;
}

bool CFAT12Table::CheckFATHeader() const
{
    return BufferSize() >= 4 && (Load32(m_pBuffer.get()) & 0xFFFFF0u) == 0xFFFFF0u;
}

int CFAT12Table::IsValidFATTable() { return m_pBuffer && CheckFATHeader() ? 1 : 0; }

// ---- FAT16 ------------------------------------------------------------------

CFAT16Table::CFAT16Table(IStorageDevice* device, long long fatStart, unsigned int sectorsPerFat)
    : IRealFATTable(device, fatStart, sectorsPerFat, 2, 12, 256, true)
{
}

unsigned int CFAT16Table::GetNextCluster(unsigned int cluster)
{
    if (!m_pBuffer || cluster >= m_dwEntryCount)
        return 0;
    unsigned int v = Load16(m_pBuffer.get() + 2ULL * cluster);
    if (v == 0xFFF7)
        return 0x0FFFFFF7;
    if (v > 0xFFF7)
        return 0x0FFFFFF8;
    return v;
}

bool CFAT16Table::IsHeader(const uint8_t* bytes, size_t length)
{
    return bytes && length >= 4 && (Load32(bytes) & 0x7FFFFFF8u) == 0x7FFFFFF8u;
}

bool CFAT16Table::CheckFATHeader() const { return IsHeader(m_pBuffer.get(), BufferSize()); }

bool CFAT16Table::CheckFATBody() const
{
    const uint8_t* b = m_pBuffer.get();
    return BodyIsValid(m_dwEntryCount, 0xFFF7, [b](unsigned int i) { return Load16(b + 2ULL * i); });
}

bool CFAT16Table::CheckFATIndex() const
{
    const uint8_t* b = m_pBuffer.get();
    return IndexIsValid(m_dwEntryCount, kFat16ChainEnd, [b](unsigned int i) { return Load16(b + 2ULL * i); });
}

int CFAT16Table::IsValidFATTable()
{
    return m_pBuffer && CheckFATHeader() && CheckFATBody() && CheckFATIndex() ? 1 : 0;
}

// ---- FAT32 ------------------------------------------------------------------

CFAT32Table::CFAT32Table(IStorageDevice* device, long long fatStart, unsigned int sectorsPerFat)
    : IRealFATTable(device, fatStart, sectorsPerFat, 4, 256, 128000, true)
{
}

unsigned int CFAT32Table::GetNextCluster(unsigned int cluster)
{
    if (!m_pBuffer || cluster >= m_dwEntryCount)
        return 0;
    return Load32(m_pBuffer.get() + 4ULL * cluster);
}

bool CFAT32Table::IsHeader(const uint8_t* bytes, size_t length)
{
    return bytes && length >= 8 && (Load32(bytes) & 0x0FFFFFF0u) == 0x0FFFFFF0u &&
           (Load32(bytes + 4) & 0x07FFFFF8u) == 0x07FFFFF8u;
}

bool CFAT32Table::CheckFATHeader() const { return IsHeader(m_pBuffer.get(), BufferSize()); }

bool CFAT32Table::CheckFATBody() const
{
    const uint8_t* b = m_pBuffer.get();
    return BodyIsValid(m_dwEntryCount, 0x0FFFFFF7, [b](unsigned int i) { return Load32(b + 4ULL * i); });
}

bool CFAT32Table::CheckFATIndex() const
{
    const uint8_t* b = m_pBuffer.get();
    return IndexIsValid(m_dwEntryCount, kFat32ChainEnd, [b](unsigned int i) { return Load32(b + 4ULL * i); });
}

int CFAT32Table::IsValidFATTable()
{
    return m_pBuffer && CheckFATHeader() && CheckFATBody() && CheckFATIndex() ? 1 : 0;
}

// ---- CDoubleFATTable ----------------------------------------------------------

CDoubleFATTable::CDoubleFATTable(IRealFATTable* first, IRealFATTable* second) : m_pFirst(first), m_pSecond(second) {}

CDoubleFATTable::~CDoubleFATTable()
{
    delete m_pFirst;
    delete m_pSecond;
}

unsigned int CDoubleFATTable::GetNextCluster(unsigned int cluster)
{
    if (m_pFirst)
        return m_pFirst->GetNextCluster(cluster);
    if (m_pSecond)
        return m_pSecond->GetNextCluster(cluster);
    return 0;
}

// ---- IFATTableFactory ---------------------------------------------------------

IRealFATTable* IFATTableFactory::CreateRealFATTable(IStorageDevice* device, enumFILE_SYSTEM_TYPE type,
                                                    long long fatStart, unsigned int sectorsPerFat)
{
    std::unique_ptr<IRealFATTable> table;
    switch (type) {
    case FS_FAT12: table.reset(new (std::nothrow) CFAT12Table(device, fatStart, sectorsPerFat)); break;
    case FS_FAT16: table.reset(new (std::nothrow) CFAT16Table(device, fatStart, sectorsPerFat)); break;
    case FS_FAT32: table.reset(new (std::nothrow) CFAT32Table(device, fatStart, sectorsPerFat)); break;
    default: return nullptr;
    }
    if (!table)
        return nullptr;
    // A refused copy makes the walk take every chain as contiguous, so a
    // fragmented file then comes back wrong: say why in the log.
    const char* reason = nullptr;
    if (table->GetLoadState() == IRealFATTable::kOutsideLimits)
        reason = "its size is outside the limits";
    else if (table->GetLoadState() == IRealFATTable::kPastDeviceEnd)
        reason = "it runs past the end of the device";
    else if (table->GetLoadState() == IRealFATTable::kReadFailed)
        reason = "it could not be read";
    else if (!table->IsValidFATTable())
        reason = "it failed the consistency checks";
    if (reason) {
        CatchExeception::WriteLog("%s FAT copy at sector %lld (%u sectors) refused: %s\n", TypeName(type), fatStart,
                                  sectorsPerFat, reason);
        return nullptr;
    }
    return table.release();
}

IFATTable* IFATTableFactory::CreateFATTable(IStorageDevice* device, long long fatStart, enumFILE_SYSTEM_TYPE type,
                                            unsigned int sectorsPerFat, unsigned int firstCopy,
                                            unsigned int secondCopy)
{
    IRealFATTable* first = nullptr;
    IRealFATTable* second = nullptr;
    if (firstCopy != 0 || secondCopy == 0)
        first = CreateRealFATTable(device, type, fatStart, sectorsPerFat);
    if (secondCopy != 0 && !first)
        second = CreateRealFATTable(device, type, fatStart + sectorsPerFat, sectorsPerFat);
    auto* table = new (std::nothrow) CDoubleFATTable(first, second);
    if (!table) {
        delete first;
        delete second;
    }
    return table;
}

void IFATTableFactory::DestroyFATTable(IFATTable* table) { delete table; }
