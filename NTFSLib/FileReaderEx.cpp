#include "FileReaderEx.h"

#include <algorithm>
#include <cstring>

#include "IStorageDevice.h"
#include "NTFSFileNode.h"

namespace {

// Eight clusters of the largest NTFS cluster (128 sectors of 4 KiB) is the
// most the buffer ever takes.
constexpr unsigned long long kMaxClusterBytes = 128ULL * 4096;

}  // namespace

int CFileReaderEx::Open(IStorageDevice* device, CFileNode* node, long long partitionStart,
                        unsigned int sectorsPerCluster)
{
    Close();
    if (!device || !node)
        return 0;
    const unsigned long long cluster = static_cast<unsigned long long>(device->GetSectorSize()) * sectorsPerCluster;
    if (cluster == 0 || cluster > kMaxClusterBytes || node->GetFileSize() <= 0 || !node->GetDataRunList())
        return 0;
    m_pDevice = device;
    m_pNode = node;
    m_dwClusterSize = static_cast<uint32_t>(cluster);
    m_dwSectorsPerCluster = sectorsPerCluster;
    m_s64FileSize = node->GetFileSize();
    m_s64PartitionStart = partitionStart;
    m_vecClusterBuffer.assign(static_cast<size_t>(cluster) * 8, 0);
    return 1;
}

void CFileReaderEx::Close()
{
    m_pDevice = nullptr;
    m_pNode = nullptr;
    m_vecClusterBuffer.clear();
    m_vecClusterBuffer.shrink_to_fit();
    m_dwClusterSize = 0;
    m_dwSectorsPerCluster = 0;
    m_s64FileSize = 0;
    m_s64PartitionStart = 0;
}

int CFileReaderEx::Read(long long offset, uint8_t* buffer, long long count, long long& read)
{
    read = 0;
    if (!m_pNode || !buffer || offset < 0 || count < 0 || offset >= m_s64FileSize)
        return 0;
    count = std::min(count, m_s64FileSize - offset);
    IDataRunList* runs = m_pNode->GetDataRunList();
    if (!runs)
        return 0;
    if (runs->IsResident())
        return ReadResidentData(offset, buffer, count, read);

    const long long C = m_dwClusterSize;
    long long position = offset;
    long long current = offset / C;
    const long long last = (offset + count) / C;
    long long runFirst = 0;  // file cluster where the run begins
    for (DataRun* run = runs->GetFirst(); run && read < count; run = runs->GetNext()) {
        if (run->llLength <= 0)
            continue;
        if (runFirst > last)
            break;
        const long long runEnd = runFirst + run->llLength;
        for (; current >= runFirst && current < runEnd && read < count; ++current) {
            uint8_t* cluster = m_vecClusterBuffer.data();
            if (run->llStart < 0) {
                // A sparse extent holds no clusters on the disk: zeros.
                std::memset(cluster, 0, static_cast<size_t>(C));
            } else {
                long long sector;
                if (__builtin_mul_overflow(current - runFirst + run->llStart, static_cast<long long>(m_dwSectorsPerCluster),
                                           &sector) ||
                    __builtin_add_overflow(sector, m_s64PartitionStart, &sector) ||
                    !m_pDevice->ReadSector(cluster, sector, m_dwSectorsPerCluster))
                    return 0;
            }
            const long long within = position % C;
            const long long n = std::min(C - within, count - read);
            std::memcpy(buffer + read, cluster + within, static_cast<size_t>(n));
            position += n;
            read += n;
        }
        runFirst = runEnd;
    }
    return 1;
}

int CFileReaderEx::ReadResidentData(long long offset, uint8_t* buffer, long long count, long long& read)
{
    read = 0;
    auto* ntfs = dynamic_cast<CNTFSFileNode*>(m_pNode);
    if (!ntfs || !m_pDevice || !buffer || offset < 0 || count < 0)
        return 0;
    unsigned int length = 0;
    if (!GetResidentDataRunsStream(*ntfs, *m_pDevice, &length, m_vecClusterBuffer.data(),
                                   static_cast<unsigned int>(m_vecClusterBuffer.size())) ||
        static_cast<long long>(length) <= offset)
        return 0;
    read = std::min(static_cast<long long>(length) - offset, count);
    std::memcpy(buffer, m_vecClusterBuffer.data() + offset, static_cast<size_t>(read));
    return 1;
}
