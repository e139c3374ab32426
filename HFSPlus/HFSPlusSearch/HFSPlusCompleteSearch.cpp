#include "HFSPlusCompleteSearch.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include "HFSPlusBTree.h"
#include "HFSPlusError.h"
#include "HFSPlusFileNode.h"
#include "HFSPlusProgress.h"
#include "HFSPlusVolume.h"
#include "HFSPlusSectorTests.h"
#include "HFSPlusVolumeName.h"
#include "IBlockView.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevice.h"

namespace {

constexpr unsigned int kMaxNodeBytes = 32768;
// Both bits set: the volume's catalog ids wrapped, so nextCatalogID is no
// upper bound of the ids in use.
constexpr uint32_t kIdsWrappedMask = 0x0C;

void PrintErrorAt(int line) { std::printf("Error:%d\n", line); }

void PrintErrorLine(int line, const char* text) { std::printf("ErrorLine:%d%s\n", line, text); }

// A volume record keeps the first copy of a journal record that it is given.
template <class T>
void KeepFirst(std::unique_ptr<T>& copy, long long& copySector, const T& value, long long s)
{
    if (copy)
        return;
    copy = std::make_unique<T>(value);
    copySector = s;
}

}  // namespace

CompleteSearchPatition::~CompleteSearchPatition()
{
    // The volume reads through the window: it goes first.
    pVolume.reset();
    pWindow.reset();
}

CHFSPlusCompleteFileSystemSearchController::~CHFSPlusCompleteFileSystemSearchController() { ClearPartitions(); }

void CHFSPlusCompleteFileSystemSearchController::ClearPartitions() { m_listPartitions.clear(); }

int CHFSPlusCompleteFileSystemSearchController::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder)
{
    m_pTreeBuilder = builder;
    return 1;
}

int CHFSPlusCompleteFileSystemSearchController::SetDevice(IStorageDevice* device)
{
    m_pDevice = device;
    m_pView = dynamic_cast<IBlockView*>(device);
    m_dwSectorSize = 0;
    m_s64TotalSectors = 0;
    m_vecSector.clear();
    if (!device)
        return 0;
    const unsigned int ss = device->GetSectorSize();
    // Sector sizes the volume reads can serve; others leave the searcher idle.
    if (ss == 0 || ss > CHFSPlusVolume::kMaxSectorSize)
        return 0;
    m_dwSectorSize = ss;
    m_s64TotalSectors = std::max(device->GetTotalSectors(), 0LL);
    m_vecSector.assign(ss, 0);
    return 1;
}

int CHFSPlusCompleteFileSystemSearchController::SetBlockSize(int sectorsPerBlock)
{
    m_dwBlockSize = sectorsPerBlock > 0 ? static_cast<uint32_t>(sectorsPerBlock) : 0;
    return 1;
}

bool CHFSPlusCompleteFileSystemSearchController::ReadOneSector(long long s)
{
    if (!m_pDevice || m_vecSector.empty() || s < 0 || s >= m_s64TotalSectors)
        return false;
    return m_pDevice->ReadSector(m_vecSector.data(), s, 1) != 0;
}

int CHFSPlusCompleteFileSystemSearchController::PreparetoSearch()
{
    ClearPartitions();
    if (m_pTreeBuilder)
        m_pTreeBuilder->AddSearcherInfo(SEARCHER_HFSPLUS, 2);
    if (!ReadOneSector(0))
        return 1;
    const unsigned char* s0 = m_vecSector.data();
    long long start = 0;
    // A protective MBR: the first volume of a GPT disk usually begins at
    // 20 KiB (sector 40 of 512 bytes), rounded to 4 KiB.
    if (m_dwSectorSize >= 512 && s0[450] == 0xEE && s0[510] == 0x55 && s0[511] == 0xAA)
        start = ((2LL * m_dwSectorSize + 20479) / 4096 * 4096) / m_dwSectorSize;
    auto first = std::make_unique<CompleteSearchPatition>();
    first->s64StartSector = start;
    first->s64TotalSectors = std::max(0LL, std::min(m_s64TotalSectors, m_s64TotalSectors - start));
    first->wIndex = 0;
    m_listPartitions.push_back(std::move(first));
    return 1;
}

int CHFSPlusCompleteFileSystemSearchController::AnalyzeBlock(long long firstSector, long long sectorCount)
{
    if (!m_pDevice || m_vecSector.empty()) {
        m_llLastError = HFS_FAIL_AT(0x77, kHfsKindMissing);
        return 1;
    }
    if (firstSector < 0 || sectorCount <= 0)
        return 1;
    const long long end = std::min(firstSector + sectorCount, m_s64TotalSectors);
    if (end <= firstSector)
        return 1;
    // The cached block is looked at in place; without one, sector by sector.
    const unsigned char* view = m_pView ? m_pView->ViewSectors(firstSector, end - firstSector) : nullptr;
    long long s = firstSector;
    while (s < end) {
        if (view) {
            m_pSector = view + static_cast<size_t>(s - firstSector) * m_dwSectorSize;
        } else if (ReadOneSector(s)) {
            m_pSector = m_vecSector.data();
        } else {
            ++s;
            continue;
        }
        if (TestVolumeHeader(s) || TestJournalInfoBlock(s) || TestJournalHeader(s)) {
            ++s;
            continue;
        }
        const long long covered = TestBTreeNode(s, end - s);
        s += covered > 0 ? covered : 1;
    }
    return 1;
}

bool CHFSPlusCompleteFileSystemSearchController::TestVolumeHeader(long long s)
{
    if (m_dwSectorSize < 512)
        return false;
    static const unsigned char kZero[512] = {};
    const unsigned int slices = m_dwSectorSize / 512;
    unsigned int headers = 0;
    unsigned int looked = 0;
    unsigned int foundSlice = 0;
    HFSPlusVolumeHeader found{};
    for (; looked < slices; ++looked) {
        const unsigned char* slice = m_pSector + 512u * looked;
        if (std::memcmp(slice, kZero, 512) == 0)
            continue;
        if (!CHFSPlusVolume::IsValidVolumeHeader(slice, 512))
            break;
        ++headers;
        foundSlice = looked;
        std::memcpy(&found, slice, sizeof found);
        flipVolumeHeader(&found);
        const unsigned long long id =
            (static_cast<unsigned long long>(found.finderInfo[6]) << 32) | found.finderInfo[7];
        std::printf("Find VolumeHeader SectorNumber[%llx],VolumeID[%llx]\n", static_cast<unsigned long long>(s), id);
    }
    if (headers == 0)
        return false;
    // A sector holding two headers, or a header and other data, is not
    // the start of one volume.
    if (looked == slices && headers == 1)
        RecordVolumeHeader(found, s, foundSlice);
    return true;
}

void CHFSPlusCompleteFileSystemSearchController::MoveFirstStartToHeader(CompleteSearchPatition& p,
                                                                         const HFSPlusVolumeHeader& header,
                                                                         long long s, unsigned int slice)
{
    // The first record's start is only a guess (the device's start, or
    // where a GPT disk's first partition usually lies). A journaled volume
    // gets its start from its journal info block at the end of the search;
    // one without a journal has nothing but its header to tell, and without
    // this its files would be read from the guessed place.
    if (p.wIndex != 0 || m_dwSectorSize < 512 || s < 0)
        return;
    if ((header.attributes & kHFSVolumeJournaledMask) != 0 || header.journalInfoBlock != 0)
        return;
    const unsigned long long ss = m_dwSectorSize;
    const unsigned long long volumeBytes = static_cast<unsigned long long>(header.totalBlocks) * header.blockSize;
    const unsigned long long headerByte = static_cast<unsigned long long>(s) * ss + 512ULL * slice;
    // The header lies 1024 bytes into its volume; a volume that would not
    // begin on a sector boundary is no partition this device can show.
    if (volumeBytes < ss || headerByte < 1024 || (headerByte - 1024) % ss != 0)
        return;
    const long long start = static_cast<long long>((headerByte - 1024) / ss);
    const long long size = static_cast<long long>(volumeBytes / ss);
    const unsigned long long guessByte = static_cast<unsigned long long>(p.s64StartSector) * ss;
    if (start == p.s64StartSector)
        return;
    // The alternate header, 1024 bytes before the end of a volume that does
    // begin at the guess (its own header lost): the guess holds.
    if (guessByte + volumeBytes == headerByte + 1024)
        return;
    // A volume reaching past the device's end is more likely an alternate
    // header of some other volume than a volume starting here.
    if (start > m_s64TotalSectors - size)
        return;
    p.s64StartSector = start;
    p.s64TotalSectors = size;
}

void CHFSPlusCompleteFileSystemSearchController::RecordVolumeHeader(const HFSPlusVolumeHeader& header, long long s,
                                                                    unsigned int slice)
{
    if (m_listPartitions.empty()) {
        PrintErrorAt(379);
        return;
    }
    CompleteSearchPatition& last = *m_listPartitions.back();
    if (!last.pHeader) {
        MoveFirstStartToHeader(last, header, s, slice);
        last.pHeader = std::make_unique<HFSPlusVolumeHeader>(header);
        last.s64HeaderSector = s;
        return;
    }
    // A volume identifier of zero is no identifier: volumes made without one
    // are told apart by their creation dates alone.
    const bool hasId = header.finderInfo[6] != 0 || header.finderInfo[7] != 0;
    bool duplicate = false;
    for (const auto& p : m_listPartitions) {
        if (!p->pHeader)
            continue;
        if ((hasId && p->pHeader->finderInfo[6] == header.finderInfo[6] &&
             p->pHeader->finderInfo[7] == header.finderInfo[7]) ||
            p->pHeader->createDate == header.createDate) {
            duplicate = true;
            break;
        }
    }
    const unsigned long long size =
        static_cast<unsigned long long>(header.totalBlocks) * header.blockSize / m_dwSectorSize;
    const long long start = s - 1024 / m_dwSectorSize;
    if (!duplicate && size < static_cast<unsigned long long>(m_s64TotalSectors) && start >= 0 &&
        m_listPartitions.size() < 0xFFFF) {
        auto p = std::make_unique<CompleteSearchPatition>();
        p->s64StartSector = start;
        p->s64TotalSectors = std::min(m_s64TotalSectors - start, static_cast<long long>(size));
        p->s64HeaderSector = s;
        p->pHeader = std::make_unique<HFSPlusVolumeHeader>(header);
        p->wIndex = static_cast<uint16_t>(m_listPartitions.size());
        m_listPartitions.push_back(std::move(p));
        return;
    }
    if (last.pHeader && header.totalBlocks > last.pHeader->totalBlocks)
        last.pHeader->totalBlocks = header.totalBlocks;
}

bool CHFSPlusCompleteFileSystemSearchController::TestJournalInfoBlock(long long s)
{
    if (m_dwSectorSize < sizeof(JournalInfoBlock))
        return false;
    if (!IsHfsJournalInfoBlockSector(m_pSector, m_dwSectorSize))
        return false;
    JournalInfoBlock info;
    std::memcpy(&info, m_pSector, sizeof info);
    flipJournalInfoBlock(&info);
    std::printf("Find JournalInfoBlock:0x%llx\n", static_cast<unsigned long long>(s));
    if (m_listPartitions.empty())
        PrintErrorAt(442);
    else
        KeepFirst(m_listPartitions.back()->pJournalInfo, m_listPartitions.back()->s64JournalInfoSector, info, s);
    return true;
}

bool CHFSPlusCompleteFileSystemSearchController::TestJournalHeader(long long s)
{
    if (m_dwSectorSize < sizeof(JournalHeader))
        return false;
    // The journal header is kept in the byte order it was written in.
    if (ReadLE32(m_pSector) != kJournalMagic || ReadLE32(m_pSector + 4) != kJournalEndian)
        return false;
    std::printf("Find JournalHeader:0x%llx\n", static_cast<unsigned long long>(s));
    JournalHeader header;
    std::memcpy(&header, m_pSector, sizeof header);
    if (m_listPartitions.empty())
        PrintErrorAt(478);
    else
        KeepFirst(m_listPartitions.back()->pJournalHeader, m_listPartitions.back()->s64JournalHeaderSector, header, s);
    return true;
}

long long CHFSPlusCompleteFileSystemSearchController::TestBTreeNode(long long s, long long left)
{
    if (!IsHfsScanNodeDescriptor(m_pSector))
        return 0;
    if (m_dwSectorSize < 512 || m_dwSectorSize > kMaxNodeBytes)
        return 0;
    // Near the device's end fewer sectors are there to read.
    const long long want = kMaxNodeBytes / m_dwSectorSize;
    const long long count = std::min(want, m_s64TotalSectors - s);
    if (count <= 0)
        return 0;
    m_vecNode.assign(kMaxNodeBytes, 0);
    if (!m_pDevice->ReadSector(m_vecNode.data(), s, count))
        return 0;
    const unsigned long long available = static_cast<unsigned long long>(count) * m_dwSectorSize;
    for (unsigned long long size = m_dwSectorSize, sectors = 1; size <= kMaxNodeBytes && size <= available;
         size *= 2, sectors *= 2) {
        if (!CHFSPlusBTNode::IsValidNode(m_vecNode.data(), static_cast<unsigned short>(size)))
            continue;
        CHFSPlusBTNode node(m_vecNode.data(), static_cast<unsigned short>(size), 0);
        if (node.GetDescriptor())
            AnalyzeNode(node, s);
        return std::min(static_cast<long long>(sectors), left);
    }
    return 0;
}

void CHFSPlusCompleteFileSystemSearchController::AnalyzeNode(CHFSPlusBTNode& node, long long s)
{
    if (!node.IsLeaf())
        return;
    // Extents and attributes leaves give no files; only catalog leaves do.
    if (node.TestNodeBelongToFile() == 4)
        AnalyzeCatalogLeaf(node, s);
}

void CHFSPlusCompleteFileSystemSearchController::AnalyzeCatalogLeaf(CHFSPlusBTNode& node, long long s)
{
    // The codec needs no volume to read keys and records out of a node.
    CHFSPlusCatalog reader(nullptr, nullptr);
    const unsigned short count = node.GetRecordCount();
    for (unsigned short i = 0; i < count; ++i) {
        BTKey* rawKey = nullptr;
        unsigned char* rawRecord = nullptr;
        if (IsResultFailure(reader.ReadKey(&node, i, rawKey)) || !rawKey) {
            delete rawKey;
            continue;
        }
        std::unique_ptr<BTKey> key(rawKey);
        if (IsResultFailure(reader.ReadData(&node, i, rawRecord)) || !rawRecord) {
            delete[] rawRecord;
            continue;
        }
        std::unique_ptr<unsigned char[]> data(rawRecord);
        auto* record = reinterpret_cast<HFSPlusCatalogRecord*>(data.get());
        if (record->recordType != kHFSPlusFolderRecord && record->recordType != kHFSPlusFileRecord)
            continue;
        // The root folder's record is keyed by its parent (1) and the
        // volume's name: the tree is named after the first volume seen.
        if (m_pTreeBuilder && record->recordType == kHFSPlusFolderRecord && key->catalog.parentID == 1 &&
            record->folder.folderID == 2) {
            const std::string name = HfsNameToUtf8(key->catalog.nodeName);
            if (!name.empty())
                m_pTreeBuilder->SetSearcherVolumeName(SEARCHER_HFSPLUS, name.c_str());
        }
        CHFSPlusVolume* volume = nullptr;
        CompleteSearchPatition* owner = AdjustNodeBelongsPartitionIndex(*record, s, &volume);
        if (!owner)
            continue;
        auto* fileNode = new (std::nothrow) CHFSPlusFileNode(volume, s, owner->wIndex, key.get(), record);
        if (!fileNode)
            continue;
        if (fileNode->GetCurrentNodeID() == -1 || fileNode->GetCurrentNodeID() == -2 ||
            fileNode->GetCreationTime() == 0 || !m_pTreeBuilder) {
            fileNode->Release();
            continue;
        }
        const bool folder = fileNode->IsDirectory() != 0;
        if (!m_pTreeBuilder->AddNode(fileNode, SEARCHER_HFSPLUS)) {
            fileNode->Release();
            continue;
        }
        if (folder)
            ++owner->dwFolderCount;
        else
            ++owner->dwFileCount;
    }
}

bool CHFSPlusCompleteFileSystemSearchController::OpenPartitionVolume(CompleteSearchPatition& p)
{
    IStorageDevice* device = m_pDevice;
    // The first record sits on the device itself when the device begins
    // with it; elsewhere (or for any later record) a window shows the volume
    // from its own start.
    if (p.wIndex != 0 || p.s64StartSector != 0) {
        p.pWindow.reset(new (std::nothrow) CPartitionVirtualVolumeDevice(m_pDevice, p.s64StartSector,
                                                                          p.s64TotalSectors, m_dwSectorSize));
        if (!p.pWindow)
            return false;
        device = p.pWindow.get();
    }
    p.pVolume.reset(new (std::nothrow) CHFSPlusVolume(device, false));
    if (!p.pVolume || IsResultFailure(p.pVolume->GetLastError())) {
        p.pVolume.reset();
        return false;
    }
    return true;
}

CompleteSearchPatition* CHFSPlusCompleteFileSystemSearchController::AdjustNodeBelongsPartitionIndex(
    const HFSPlusCatalogRecord& record, long long s, CHFSPlusVolume** volume)
{
    *volume = nullptr;
    uint32_t id = 0, created = 0;
    if (record.recordType == kHFSPlusFolderRecord) {
        id = record.folder.folderID;
        created = record.folder.createDate;
    } else if (record.recordType == kHFSPlusFileRecord) {
        id = record.file.fileID;
        created = record.file.createDate;
    } else {
        return nullptr;
    }
    if (id == 0 && created == 0)
        return nullptr;
    if (m_listPartitions.empty())
        return nullptr;
    for (auto it = m_listPartitions.rbegin(); it != m_listPartitions.rend(); ++it) {
        CompleteSearchPatition& p = **it;
        if (!p.pHeader)
            continue;
        if (p.pHeader->nextCatalogID < id && (p.pHeader->attributes & kIdsWrappedMask) != kIdsWrappedMask)
            continue;
        if (p.wIndex != 0 && p.pHeader->modifyDate < created)
            continue;
        if (p.s64StartSector + p.s64TotalSectors < s)
            continue;
        if (p.pVolume) {
            *volume = p.pVolume.get();
            return &p;
        }
        if (p.bOpenFailed)
            continue;
        if (p.wIndex != 0) {
            if (p.s64StartSector < 1 || p.s64TotalSectors < 2)
                continue;
            if (!OpenPartitionVolume(p)) {
                p.bOpenFailed = true;
                continue;
            }
            *volume = p.pVolume.get();
            return &p;
        }
        // The first record: its volume is tried once; a volume that does
        // not open leaves its nodes without one, but they stay its nodes.
        OpenFirstPartition(p);
        *volume = p.pVolume.get();
        return &p;
    }
    return m_listPartitions.front().get();
}

bool CHFSPlusCompleteFileSystemSearchController::DeviceBeginsWithVolume(CompleteSearchPatition& p)
{
    if (p.wIndex != 0 || p.s64StartSector != 0 || m_dwSectorSize < 512)
        return false;
    // The header 1024 bytes into the device: sector 2 of 512 bytes.
    if (p.pHeader && p.s64HeaderSector == 1024 / m_dwSectorSize)
        return true;
    // On larger sectors, when blocks are smaller than sectors, the header
    // shares sector 0 with other data and the block scan passes it over
    // (the alternate header near the end may be all it recorded): the
    // device's own header is read here, and must be the recorded one's.
    if (m_dwSectorSize <= 1024 || !ReadOneSector(0))
        return false;
    const unsigned char* own = m_vecSector.data() + 1024;
    if (!CHFSPlusVolume::IsValidVolumeHeader(own, 512))
        return false;
    HFSPlusVolumeHeader h;
    std::memcpy(&h, own, sizeof h);
    flipVolumeHeader(&h);
    if (p.pHeader)
        return h.createDate == p.pHeader->createDate;
    p.pHeader = std::make_unique<HFSPlusVolumeHeader>(h);
    p.s64HeaderSector = 0;
    return true;
}

void CHFSPlusCompleteFileSystemSearchController::OpenFirstPartition(CompleteSearchPatition& p)
{
    if (p.pVolume || p.bOpenFailed)
        return;
    if (!OpenPartitionVolume(p)) {
        p.bOpenFailed = true;
        return;
    }
    if (DeviceBeginsWithVolume(p) && m_pTreeBuilder) {
        // The device begins with this volume: its own scan finds the live
        // files and what the journal remembers.
        CHFSPlusQuickFileSystemSearchProgress silent(m_pProgress, true);
        p.pVolume->QuickSearchFiles(m_pTreeBuilder, &silent);
        if (const HFSPlusVolumeHeader* h = p.pVolume->GetVolumeHeader()) {
            p.dwFileCount += h->fileCount;
            p.dwFolderCount += h->folderCount;
        }
    }
}

void CHFSPlusCompleteFileSystemSearchController::EndSearch(int flush)
{
    if (!flush)
        return;
    // A device that begins with a volume whose catalog nodes lie off the
    // sector starts (blocks smaller than sectors) gave no catalog record to
    // open it on the way: its own scan runs now.
    if (!m_listPartitions.empty() && DeviceBeginsWithVolume(*m_listPartitions.front()))
        OpenFirstPartition(*m_listPartitions.front());
    if (m_pTreeBuilder)
        m_pTreeBuilder->FlashBuild(SEARCHER_HFSPLUS);
    if (m_dwSectorSize == 0)
        return;
    for (auto& ptr : m_listPartitions) {
        CompleteSearchPatition& p = *ptr;
        if (p.dwFileCount == 0)
            continue;
        long long start = p.s64StartSector;
        long long total = p.s64TotalSectors;
        uint32_t blockSize = p.dwBlockSize;
        if (p.pHeader && p.pHeader->blockSize != 0) {
            blockSize = p.pHeader->blockSize;
            total = static_cast<long long>(static_cast<unsigned long long>(p.pHeader->totalBlocks) * blockSize /
                                           m_dwSectorSize);
            const long long infoOffset = static_cast<long long>(
                static_cast<unsigned long long>(p.pHeader->journalInfoBlock) * blockSize / m_dwSectorSize);
            if (p.pJournalInfo && p.s64JournalInfoSector >= infoOffset)
                start = p.s64JournalInfoSector - infoOffset;
            else
                PrintErrorLine(236, " Can't Find Volume Start Sector!");
        } else {
            PrintErrorLine(241, " Can't Find Volume Head!");
        }
        p.s64StartSector = start;
        p.s64TotalSectors = std::max(0LL, std::min(total, m_s64TotalSectors - start));
        p.dwBlockSize = blockSize;
    }
}

int CHFSPlusCompleteFileSystemSearchController::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int count)
{
    const int found = static_cast<int>(m_listPartitions.size());
    if (count < found || !out)
        return found;
    const unsigned int ss = m_dwSectorSize ? m_dwSectorSize : 512;
    int made = 0;
    for (const auto& p : m_listPartitions) {
        auto* info = new (std::nothrow) CSearchedPartitionInfo(ss);
        if (!info)
            break;
        info->SetPartitionIndex(p->wIndex);
        info->SetUnitBase(p->s64StartSector);
        info->SetPartitionStart(p->s64StartSector);
        info->SetTotalSectors(static_cast<unsigned long long>(std::max(p->s64TotalSectors, 0LL)));
        info->SetFileSystemType(FS_HFSPLUS);
        unsigned int spu = p->dwBlockSize / ss;
        if (spu == 0) {
            std::printf("Warn:SectorsperCluster calc Error!\n");
            spu = std::max(4096u / ss, 1u);
        }
        info->SetSectorsPerUnit(spu);
        out[made++] = info;
    }
    return made;
}

ICompleteFileSystemSearchController* CreateHFSPlusSearcher()
{
    return new (std::nothrow) CHFSPlusCompleteFileSystemSearchController;
}
