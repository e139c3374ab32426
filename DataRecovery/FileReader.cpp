#include "FileReader.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

#include "IStorageDevice.h"
#include "Log.h"
#include "SearchedPartitionInfo.h"

namespace {

// Largest allocation unit any supported file system uses is 32 MiB (exFAT).
constexpr long long kMaxClusterSize = 64LL << 20;
// Runs up to this size that do not start and end on sector boundaries are
// read with one request through the sector buffer.
constexpr long long kMaxJoinedReadBytes = 64LL << 10;
// Room for a resident value: eight clusters, kept within sane bounds (a file
// record holds a few KiB at most).
constexpr long long kMinResidentRoom = 4096;
constexpr long long kMaxResidentRoom = 1 << 20;

std::atomic<ResidentDataByNode> g_residentByNode{nullptr};
std::atomic<ResidentDataBySector> g_residentBySector{nullptr};

}  // namespace

void SetResidentDataProvider(ResidentDataByNode byNode, ResidentDataBySector bySector)
{
    g_residentByNode.store(byNode);
    g_residentBySector.store(bySector);
}

CFileReader::CFileReader(const CFileReader& other)
    : IFileReader(),
      m_pDataRunList(other.m_pDataRunList),
      m_pDevice(other.m_pDevice),
      m_pNode(other.m_pNode),
      m_iClusterSize(other.m_iClusterSize),
      m_iSectorsPerUnit(other.m_iSectorsPerUnit),
      m_llDataSize(other.m_llDataSize),
      m_llUnitBase(other.m_llUnitBase),
      m_vecExtents(other.m_vecExtents),
      m_bResident(other.m_bResident),
      m_llResidentSector(other.m_llResidentSector)
{
}

IFileReader* CFileReader::Clone() { return new CFileReader(*this); }

long long CFileReader::GetDataSize() const { return m_pNode ? m_pNode->GetFileSize() : 0; }

int CFileReader::IsCompressFile() { return m_pNode ? m_pNode->IsCompressed() : 0; }

int CFileReader::Open(IStorageDevice* device, CFileNode* node, CSearchedPartitionInfo* partition)
{
    if (!device || !node || !partition) {
        CatchExeception::WriteLog("%s %d\r\n", "Open", __LINE__);
        return 0;
    }
    const long long spu = partition->GetSectorsPerUnit();
    const long long cluster = spu * static_cast<long long>(partition->GetSectorSize());
    const long long size = node->GetFileSize();
    IDataRunList* runs = node->GetDataRunList();
    if (spu <= 0 || cluster <= 0 || cluster > kMaxClusterSize || size <= 0 || !runs) {
        CatchExeception::WriteLog("%s %d\r\n", "Open", __LINE__);
        return 0;
    }
    m_llUnitBase = partition->GetUnitBase();
    m_iSectorsPerUnit = static_cast<int>(spu);
    m_iClusterSize = static_cast<int>(cluster);
    m_llDataSize = size;
    m_pDataRunList = runs;
    m_bResident = runs->IsResident() != 0;
    m_llResidentSector = -1;
    m_vecExtents.clear();

    DataRun* run = runs->GetFirst();
    if (m_bResident) {
        if (run)
            m_llResidentSector = run->llStart;
    } else {
        // Only the extents that hold the file's bytes matter; a damaged list
        // may claim far more.
        long long offset = 0;
        for (; run && offset < size; run = runs->GetNext()) {
            if (run->llLength <= 0)
                continue;
            long long bytes;
            if (__builtin_mul_overflow(run->llLength, cluster, &bytes) || bytes > size - offset)
                bytes = size - offset;
            m_vecExtents.push_back({run->llStart, offset, bytes});
            offset += bytes;
        }
    }
    m_pNode = node;
    m_pDevice = device;
    return 1;
}

void CFileReader::Close()
{
    m_pDevice = nullptr;
    m_pNode = nullptr;
}

unsigned int CFileReader::DeviceSectorSize() const
{
    unsigned int size = m_pDevice ? m_pDevice->GetSectorSize() : 0;
    return size ? size : 512;
}

long long CFileReader::UnitToSector(long long unit) const
{
    long long sector;
    if (unit < 0 || __builtin_mul_overflow(unit, static_cast<long long>(m_iSectorsPerUnit), &sector) ||
        __builtin_add_overflow(sector, m_llUnitBase, &sector) || sector < 0)
        return -1;
    return sector;
}

bool CFileReader::ReadUnitBytes(long long unit, long long within, unsigned char* out, long long count)
{
    if (count <= 0)
        return true;
    const long long ss = DeviceSectorSize();
    long long first = UnitToSector(unit);
    if (first < 0 || within < 0 || __builtin_add_overflow(first, within / ss, &first))
        return false;
    long long head = within % ss;
    long long sectors = (head + count + ss - 1) / ss;
    long long end;
    const long long total = m_pDevice->GetTotalSectors();
    if (__builtin_add_overflow(first, sectors, &end) || (total > 0 && end > total))
        return false;

    // A short run that starts or ends inside a sector is read with one
    // request and cut out here: each partial sector would cost one more.
    if ((head != 0 || count % ss != 0) && sectors > 1 && sectors * ss <= kMaxJoinedReadBytes) {
        m_vecSector.resize(static_cast<size_t>(sectors * ss));
        if (!m_pDevice->ReadSector(m_vecSector.data(), first, sectors))
            return false;
        std::memcpy(out, m_vecSector.data() + head, static_cast<size_t>(count));
        return true;
    }
    if (head != 0 || count < ss) {
        m_vecSector.resize(static_cast<size_t>(ss));
        if (!m_pDevice->ReadSector(m_vecSector.data(), first, 1))
            return false;
        long long n = std::min(ss - head, count);
        std::memcpy(out, m_vecSector.data() + head, static_cast<size_t>(n));
        out += n;
        count -= n;
        ++first;
    }
    long long whole = count / ss;
    if (whole > 0) {
        if (!m_pDevice->ReadSector(out, first, whole))
            return false;
        out += whole * ss;
        count -= whole * ss;
        first += whole;
    }
    if (count > 0) {
        m_vecSector.resize(static_cast<size_t>(ss));
        if (!m_pDevice->ReadSector(m_vecSector.data(), first, 1))
            return false;
        std::memcpy(out, m_vecSector.data(), static_cast<size_t>(count));
    }
    return true;
}

int CFileReader::Read(long long offset, unsigned char* buffer, int size, int& bytesRead, int* error)
{
    bytesRead = 0;
    if (!m_pNode || !m_pDevice || !buffer || size < 0 || offset < 0 || offset >= m_llDataSize) {
        CatchExeception::WriteLog("%s %d\r\n", "Read", __LINE__);
        return 0;
    }
    long long want = std::min<long long>(size, m_llDataSize - offset);
    if (!m_pDataRunList) {
        CatchExeception::WriteLog("%s %d\r\n", "Read", __LINE__);
        return 0;
    }
    if (m_bResident)
        return ReadResidentData(offset, buffer, static_cast<int>(want), bytesRead);

    // The extent holding offset, then on through the following ones.
    auto it = std::upper_bound(m_vecExtents.begin(), m_vecExtents.end(), offset,
                               [](long long off, const Extent& e) { return off < e.llFileOffset; });
    if (it == m_vecExtents.begin())
        return 1;
    --it;
    long long pos = offset;
    const long long end = offset + want;
    for (; it != m_vecExtents.end() && pos < end; ++it) {
        long long within = pos - it->llFileOffset;
        if (within >= it->llBytes)
            break;  // the extents end before the file does
        long long n = std::min(it->llBytes - within, end - pos);
        unsigned char* out = buffer + (pos - offset);
        if (it->llStart < 0) {
            std::memset(out, 0, static_cast<size_t>(n));
        } else if (!ReadUnitBytes(it->llStart, within, out, n)) {
            CatchExeception::WriteLog("%s %d\r\n", "Read", __LINE__);
            bytesRead = 0;
            if (error)
                *error = -1;
            return 0;
        }
        pos += n;
        bytesRead = static_cast<int>(pos - offset);
    }
    return 1;
}

long long CFileReader::BytesOnDevice(bool* deviceEnd) const
{
    if (deviceEnd)
        *deviceEnd = false;
    if (!m_pDevice || !m_pNode || m_bResident)
        return m_llDataSize;
    const long long total = m_pDevice->GetTotalSectors();
    const long long ss = DeviceSectorSize();
    long long deviceBytes = 0;
    if (total <= 0 || __builtin_mul_overflow(total, ss, &deviceBytes))
        return m_llDataSize;  // a device of unknown size
    long long held = 0;
    for (const Extent& e : m_vecExtents) {
        if (e.llFileOffset != held)
            break;
        long long bytes = e.llBytes;
        if (e.llStart >= 0) {
            const long long sector = UnitToSector(e.llStart);
            long long first = 0;
            if (sector < 0 || __builtin_mul_overflow(sector, ss, &first))
                break;
            bytes = first >= deviceBytes ? 0 : std::min(bytes, deviceBytes - first);
        }
        held += bytes;
        if (bytes < e.llBytes) {
            if (deviceEnd)
                *deviceEnd = true;
            break;
        }
    }
    return std::min(held, m_llDataSize);
}

int CFileReader::ReadResidentData(long long offset, unsigned char* buffer, int size, int& bytesRead)
{
    bytesRead = 0;
    if (!m_pNode || !m_pDevice || !buffer || size < 0 || offset < 0)
        return 0;
    long long room = std::clamp(8LL * m_iClusterSize, kMinResidentRoom, kMaxResidentRoom);
    m_vecResident.assign(static_cast<size_t>(room), 0);
    unsigned int length = 0;
    int got = 0;
    auto byNode = g_residentByNode.load();
    auto bySector = g_residentBySector.load();
    if (byNode)
        got = byNode(m_pNode, m_pDevice, &length, m_vecResident.data(), static_cast<unsigned int>(room));
    if ((got < 0 || !byNode) && bySector && m_llResidentSector >= 0)
        got = bySector(m_llResidentSector, m_pDevice, &length, m_vecResident.data(), static_cast<unsigned int>(room));
    if (got != 1 || length > room || static_cast<long long>(length) <= offset)
        return 0;
    long long n = std::min<long long>(static_cast<long long>(length) - offset, size);
    std::memcpy(buffer, m_vecResident.data() + offset, static_cast<size_t>(n));
    bytesRead = static_cast<int>(n);
    return 1;
}

int CFileReader::ReadData(long long offset, char* buffer, unsigned int size, int* error)
{
    int bytesRead = 0;
    int clipped = static_cast<int>(std::min<unsigned int>(size, INT_MAX));
    if (!Read(offset, reinterpret_cast<unsigned char*>(buffer), clipped, bytesRead, error))
        return 0;
    return bytesRead;
}
