#include "APFSDeepScan.h"

#include <cstring>

#include "APFSObject.h"
#include "IProgress.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "RegisterApfs.h"
#include "SearchedPartitionInfo.h"
#include "SearcherRegistry.h"

namespace {

constexpr int kBlocksPerRead = 16;
constexpr int kReadBytes = kBlocksPerRead * kApfsBlockSize;

}  // namespace

APFSDeepScan::APFSDeepScan() : m_vecBuffer(kReadBytes, 0) {}

APFSDeepScan::~APFSDeepScan()
{
    for (auto& [sector, container] : m_mapContainers)
        delete container;
}

int APFSDeepScan::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder)
{
    m_pTreeBuilder = builder;
    return 1;
}

int APFSDeepScan::SetDevice(IStorageDevice* device)
{
    m_pDevice = device;
    const int size = device ? static_cast<int>(device->GetSectorSize()) : 0;
    m_iSectorSize = size < 1 ? 512 : size;
    return 1;
}

int APFSDeepScan::GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity)
{
    if (!list || capacity < 1 || m_mapContainers.empty())
        return 0;
    const unsigned int sectorSize = m_pDevice ? m_pDevice->GetSectorSize() : 512;
    int written = 0;
    for (auto& [sector, container] : m_mapContainers) {
        if (written >= capacity)
            break;
        auto* info = new CSearchedPartitionInfo(sectorSize);
        info->SetPartitionIndex(static_cast<unsigned short>(written));
        info->SetFileSystemType(FS_APFS);
        info->SetSectorsPerUnit(1);
        info->SetUnitBase(static_cast<long long>(container->GetStartSector()));
        info->SetPartitionStart(static_cast<long long>(container->GetStartSector()));
        info->SetTotalSectors(container->GetSizeInSectors());
        list[written++] = info;
    }
    return written;
}

bool APFSDeepScan::Continued()
{
    return !m_pProgress || m_pProgress->Continued() != 0;
}

int APFSDeepScan::AddNode(APFSFileNode* node)
{
    if (!node || (node->m_byFlags & APFSFileNode::kReported))
        return 0;
    node->m_byFlags |= APFSFileNode::kReported;
    return m_pTreeBuilder ? m_pTreeBuilder->AddNode(node, SEARCHER_APFS) : 0;
}

int APFSDeepScan::ReadBlock(APFSContainer* container, uint64_t block, int byteCount, void* buffer)
{
    if (!m_pDevice || !buffer || byteCount < m_iSectorSize)
        return 0;
    const uint64_t base = container ? container->GetStartSector() : 0;
    const uint64_t sector = base + block * kApfsBlockSize / static_cast<uint64_t>(m_iSectorSize);
    // Block numbers come from the disk: one beyond the device is a failed read.
    const long long total = m_pDevice->GetTotalSectors();
    if (block >= (1ULL << 40) || sector >= static_cast<uint64_t>(total > 0 ? total : 0))
        return 0;
    return static_cast<int>(m_pDevice->ReadSector(buffer, static_cast<long long>(sector), byteCount / m_iSectorSize));
}

bool APFSDeepScan::ReadGroup(uint64_t block)
{
    if (ReadBlock(nullptr, block, kReadBytes, m_vecBuffer.data()))
        return true;
    // The last group of a device whose size is not a multiple of 64 KiB: read
    // what the device holds and leave the rest zero, so its blocks are still
    // examined.
    const uint64_t sector = block * kApfsBlockSize / static_cast<uint64_t>(m_iSectorSize);
    const long long total = m_pDevice->GetTotalSectors();
    if (total <= 0 || sector >= static_cast<uint64_t>(total))
        return false;
    const uint64_t left = static_cast<uint64_t>(total) - sector;
    const uint64_t wanted = static_cast<uint64_t>(kReadBytes) / static_cast<uint64_t>(m_iSectorSize);
    if (left >= wanted)
        return false;
    std::memset(m_vecBuffer.data(), 0, kReadBytes);
    return m_pDevice->ReadSector(m_vecBuffer.data(), static_cast<long long>(sector), static_cast<long long>(left)) != 0;
}

bool APFSDeepScan::TryContainerSuperblock(uint64_t sector, const unsigned char* data)
{
    if (ApfsRead64(data + 8) != 1 || (ApfsRead32(data + 24) & 0xFFFF) != 1 ||
        ApfsRead32(data + 32) != kApfsMagicContainer || ApfsRead32(data + 36) != static_cast<uint32_t>(kApfsBlockSize))
        return false;
    for (auto& [start, container] : m_mapContainers) {
        if (sector - container->GetStartSector() < container->GetSizeInSectors() &&
            std::memcmp(container->GetIdentifier().data(), data + 72, 16) == 0)
            return true;
    }
    auto* container = new APFSContainer(this, static_cast<uint32_t>(m_mapContainers.size()), sector);
    container->SetSectorSize(m_iSectorSize);
    if (m_mapContainers.empty() && m_pTreeBuilder)
        m_pTreeBuilder->AddSearcherInfo(SEARCHER_APFS, 2);
    // A superblock copy at a sector already holding a container is one
    // container: the map keeps the first.
    auto [it, inserted] = m_mapContainers.emplace(sector, container);
    if (!inserted) {
        delete container;
        return true;
    }
    container->Parse();
    return true;
}

void APFSDeepScan::VolumeNamed(const char* name)
{
    if (m_pTreeBuilder)
        m_pTreeBuilder->SetSearcherVolumeName(SEARCHER_APFS, name);
}

bool APFSDeepScan::TryVolumeSuperblock(uint64_t sector, const unsigned char* data)
{
    if (!m_mapContainers.empty() || ApfsRead32(data + 32) != kApfsMagicVolume)
        return false;
    auto* container = new APFSContainer(this, 0, 0);
    container->SetSectorSize(m_iSectorSize);
    container->SetSizeInSectors(static_cast<uint64_t>(m_pDevice->GetTotalSectors()));
    if (m_pTreeBuilder)
        m_pTreeBuilder->AddSearcherInfo(SEARCHER_APFS, 2);
    m_mapContainers.emplace(sector, container);
    container->ParseVolume(sector * static_cast<uint64_t>(m_iSectorSize) / kApfsBlockSize);
    container->SetParsed();
    return true;
}

int APFSDeepScan::AnalyzeBlock(long long firstSector, long long sectorCount)
{
    if (!m_pDevice || firstSector < 0 || sectorCount < 0)
        return 1;
    const uint64_t ss = static_cast<uint64_t>(m_iSectorSize);
    const uint64_t first = static_cast<uint64_t>(firstSector) * ss / kApfsBlockSize;
    const uint64_t end = static_cast<uint64_t>(firstSector + sectorCount) * ss / kApfsBlockSize;
    if (Continued()) {
        for (uint64_t b = first; b < end; b += kBlocksPerRead) {
            std::memset(m_vecBuffer.data(), 0, kReadBytes);
            if (ReadGroup(b) && Continued()) {
                for (int i = 0; i < kBlocksPerRead && Continued(); ++i) {
                    const unsigned char* data = m_vecBuffer.data() + static_cast<size_t>(i) * kApfsBlockSize;
                    const uint64_t block = b + static_cast<uint64_t>(i);
                    if (!IsValidObject(block, data, kApfsBlockSize))
                        continue;
                    const uint64_t sector = block * kApfsBlockSize / ss;
                    if (TryContainerSuperblock(sector, data) || TryVolumeSuperblock(sector, data))
                        continue;
                    for (auto& [start, container] : m_mapContainers) {
                        if (!Continued())
                            break;
                        container->AnalyzeLeafBlock(sector, block, data);
                    }
                }
            }
            if (!Continued())
                break;
        }
    }
    for (auto& [start, container] : m_mapContainers) {
        if (!Continued())
            break;
        container->FlushPendingNodes(static_cast<int64_t>(end));
    }
    return 1;
}

void APFSDeepScan::EndSearch(int build)
{
    if (build == 0 || m_mapContainers.empty())
        return;
    for (auto& [start, container] : m_mapContainers)
        container->FlushPendingNodes(-1);
    if (m_pTreeBuilder) {
        m_pTreeBuilder->SetPartitonDevice(nullptr, m_pDevice);
        m_pTreeBuilder->FlashBuild(SEARCHER_APFS);
    }
}

ICompleteFileSystemSearchController* CreateAPFSDeepSearcher()
{
    return new APFSDeepScan;
}

IQuickFileSystemSearchController* CreateAPFSQuickSearcher()
{
    return nullptr;
}

void RegisterApfsSearchers()
{
    RegisterVolumeAnalyze(FS_APFS, &CreateAPFSVolumeAnalyze);
    RegisterCompleteSearcher(SEARCHER_APFS, &CreateAPFSDeepSearcher);
}
