#include "HFSPlusVolume.h"

#include "HFSPlusSectorTests.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "HFSPlusError.h"
#include "HFSPlusFileNode.h"
#include "Log.h"
#include "HFSPlusProgress.h"
#include "HFSPlusSectorTests.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"

namespace {

// Continuation records of one fork; each adds at least one block, so this
// only bounds forks of absurd fragmentation on a damaged tree.
constexpr unsigned int kMaxContinuations = 1u << 20;
// The largest B-tree node; journal blocks above it are not nodes.
constexpr unsigned int kMaxNodeSize = 32768;
// Journal header and block-list sizes beyond this are damage.
constexpr unsigned long long kMaxJournalUnit = 16ULL << 20;

std::unique_ptr<BTKey> ExtentKey(uint32_t fileId, uint8_t forkType, uint32_t startBlock)
{
    auto key = std::make_unique<BTKey>();
    std::memset(key.get(), 0, sizeof(BTKey));
    key->extent.keyLength = 10;
    key->extent.forkType = forkType;
    key->extent.fileID = fileId;
    key->extent.startBlock = startBlock;
    return key;
}

}  // namespace

// ---------------------------------------------------------------------------
// Special files

CHFSPlusRawfile::CHFSPlusRawfile(CHFSPlusVolume* volume, uint32_t fileId, const HFSPlusForkData& fork)
    : m_llLastError(0), m_pVolume(volume), m_dwFileId(fileId)
{
    if (volume)
        m_llLastError = volume->CollectForkExtents(fileId, 0, fork, false, m_extents);
}

unsigned long long CHFSPlusRawfile::Read(unsigned long long offset, unsigned char* buf, unsigned long long len)
{
    return ReadThroughExtents(offset, buf, len);
}

unsigned long long CHFSPlusRawfile::ReadThroughExtents(unsigned long long offset, unsigned char* buf,
                                                       unsigned long long len)
{
    if (!buf || len == 0)
        return 0;
    if (m_extents.empty()) {
        m_llLastError = HFS_FAIL_AT(0x6C, kHfsKindMissing);
        return 0;
    }
    const unsigned long long blockSize = m_pVolume->GetBlockSize();
    unsigned long long done = 0;
    unsigned long long extentStart = 0;  // file offset of the current extent
    bool located = false;
    for (const HFSPlusExtentDescriptor& e : m_extents) {
        const unsigned long long bytes = static_cast<unsigned long long>(e.blockCount) * blockSize;
        const unsigned long long at = offset + done;
        if (at >= extentStart && at < extentStart + bytes) {
            located = true;
            const unsigned long long within = at - extentStart;
            const unsigned long long take = std::min(bytes - within, len - done);
            const unsigned long long device = static_cast<unsigned long long>(e.startBlock) * blockSize + within;
            const unsigned long long got = m_pVolume->Read(device, buf + done, take);
            done += got;
            if (got != take) {
                m_llLastError = HFS_FAIL(kHfsKindShortRead);
                std::printf("Location %llu Size %llu\n", offset, len);
                return done;
            }
            if (done == len)
                return done;
        }
        extentStart += bytes;
    }
    m_llLastError = located ? HFS_FAIL_AT(0x89, kHfsKindBadData) : HFS_FAIL_AT(0x77, kHfsKindBadData);
    std::printf("Location %llu Size %llu\n", offset, len);
    return done;
}

CHFSPlusFileCache::CHFSPlusFileCache(CHFSPlusVolume* volume, uint32_t fileId, const HFSPlusForkData& fork)
    : CHFSPlusRawfile(volume, fileId, fork)
{
    if (!volume || IsResultFailure(m_llLastError))
        return;
    unsigned long long length = static_cast<unsigned long long>(volume->GetBlockSize()) * fork.totalBlocks;
    // A fork larger than the device is never read whole: it gets no copy
    // (and no buffer of the size it claims); the extents serve its reads.
    IStorageDevice* device = volume->GetDevice();
    const long long sectors = device ? device->GetTotalSectors() : 0;
    const unsigned int sectorSize = device ? device->GetSectorSize() : 0;
    if (sectors > 0 && sectorSize > 0 && length / sectorSize > static_cast<unsigned long long>(sectors))
        return;
    length = std::min(length, kMaxCached);
    if (length == 0)
        return;
    m_pData.reset(new (std::nothrow) unsigned char[length]);
    if (!m_pData)
        return;
    if (ReadThroughExtents(0, m_pData.get(), length) != length) {
        m_pData.reset();  // the extents serve every read then
        return;
    }
    m_u64Length = length;
}

unsigned long long CHFSPlusFileCache::Read(unsigned long long offset, unsigned char* buf, unsigned long long len)
{
    if (m_pData && offset < m_u64Length) {
        const unsigned long long take = std::min(len, m_u64Length - offset);
        std::memcpy(buf, m_pData.get() + offset, take);
        return take;
    }
    return ReadThroughExtents(offset, buf, len);
}

// ---------------------------------------------------------------------------
// Volume

CHFSPlusVolume::CHFSPlusVolume(IStorageDevice* device, bool withoutCatalog)
    : m_pDevice(device), m_llLastError(HfsCode(__LINE__, kHfsKindMissing))
{
    m_llLastError = Open(withoutCatalog);
}

CHFSPlusVolume::~CHFSPlusVolume()
{
    // The trees read through the files: they go first.
    m_pCatalogTree.reset();
    m_pAttributesTree.reset();
    m_pExtentsTree.reset();
}

ResultCode CHFSPlusVolume::Open(bool withoutCatalog)
{
    if (!m_pDevice)
        return HFS_FAIL_AT(0x20, kHfsKindBadArgument);
    m_dwSectorSize = m_pDevice->GetSectorSize();
    if (m_dwSectorSize == 0 || m_dwSectorSize > kMaxSectorSize || m_dwSectorSize % 512 != 0)
        return HFS_FAIL_AT(0x23, kHfsKindBadData);
    m_vecScratch.assign(kMaxSectorSize, 0);
    const ResultCode header = ReadVolumeHeader();
    if (IsResultFailure(header))
        return header;
    // Every byte address is a block number times the block size.
    if (m_pHeader->blockSize == 0 || m_pHeader->blockSize % 512 != 0)
        return HFS_FAIL(kHfsKindBadData);
    m_pJournal = std::make_unique<CHFSPlusJournal>(this);

    m_pExtentsFile = std::make_unique<CHFSPlusRawfile>(this, 3, m_pHeader->extentsFile);
    m_pExtentsTree = std::make_unique<CHFSPlusExtents>(this, m_pExtentsFile.get());
    if (IsResultFailure(m_pExtentsTree->GetLastError()))
        return m_pExtentsTree->GetLastError();
    // The attributes file is optional: a volume without one has files all
    // the same, only no extended attributes.
    if (m_pHeader->attributesFile.totalBlocks != 0) {
        m_pAttributesFile = std::make_unique<CHFSPlusRawfile>(this, 8, m_pHeader->attributesFile);
        m_pAttributesTree = std::make_unique<CHFSPlusAttribute>(this, m_pAttributesFile.get());
        if (IsResultFailure(m_pAttributesTree->GetLastError()))
            return m_pAttributesTree->GetLastError();
    }
    if (!withoutCatalog)
        m_pCatalogFile = std::make_unique<CHFSPlusFileCache>(this, 4, m_pHeader->catalogFile);
    m_pCatalogTree = std::make_unique<CHFSPlusCatalog>(this, m_pCatalogFile.get());
    if (IsResultFailure(m_pCatalogTree->GetLastError())) {
        const ResultCode rc = m_pCatalogTree->GetLastError();
        m_pCatalogTree.reset();
        return rc;
    }
    const BTHeaderRec* rec = m_pCatalogTree->GetHeaderRec();
    if (!rec)
        return HFS_FAIL_AT(0x48, kHfsKindBadData);
    m_u8CompareType = rec->keyCompareType;
    return 0;
}

int CHFSPlusVolume::IsValidVolumeHeader(const unsigned char* buf, unsigned short len)
{
    if (!buf || len < 512 || !HasHfsVolumeSignature(buf))
        return 0;
    HFSPlusVolumeHeader h;
    std::memcpy(&h, buf, sizeof h);
    flipVolumeHeader(&h);
    if (h.signature != kHFSPlusSigWord && h.signature != kHFSXSigWord)
        return 0;
    if (h.blockSize % 512 != 0 || h.version > 16 || h.freeBlocks > h.totalBlocks ||
        h.journalInfoBlock > h.totalBlocks)
        return 0;
    return h.catalogFile.logicalSize ==
                   static_cast<unsigned long long>(h.blockSize) * h.catalogFile.totalBlocks
               ? 1
               : 0;
}

ResultCode CHFSPlusVolume::ReadVolumeHeader()
{
    auto header = std::make_unique<HFSPlusVolumeHeader>();
    if (Read(1024, header.get(), sizeof(HFSPlusVolumeHeader)) != sizeof(HFSPlusVolumeHeader))
        return HFS_FAIL_AT(0xEA, kHfsKindShortRead);
    flipVolumeHeader(header.get());
    m_pHeader = std::move(header);
    return 0;
}

unsigned long long CHFSPlusVolume::Read(unsigned long long offset, void* buf, unsigned long long len)
{
    auto* out = static_cast<unsigned char*>(buf);
    const unsigned int ss = m_dwSectorSize;
    if (!m_pDevice || !out || ss == 0 || ss > kMaxSectorSize)
        return 0;
    if (m_vecScratch.size() < ss)
        m_vecScratch.assign(kMaxSectorSize, 0);
    unsigned long long done = 0;
    while (done < len) {
        const unsigned long long at = offset + done;
        const long long sector = static_cast<long long>(at / ss);
        const unsigned long long within = at % ss;
        if (within == 0 && len - done >= ss) {
            // Whole sectors straight into the caller's buffer, 4 MiB at most
            // per device read.
            const unsigned long long count = std::min<unsigned long long>((len - done) / ss, (4u << 20) / ss);
            if (!m_pDevice->ReadSector(out + done, sector, static_cast<long long>(count))) {
                m_llLastError = HFS_FAIL(kHfsKindUnusable);
                std::printf("Location%llu Size:%llu\n", at, len - done);
                return done;
            }
            done += count * ss;
            continue;
        }
        if (!m_pDevice->ReadSector(m_vecScratch.data(), sector, 1)) {
            m_llLastError = HFS_FAIL(kHfsKindUnusable);
            std::printf("Location%llu Size:%llu\n", at, len - done);
            return done;
        }
        const unsigned long long take = std::min<unsigned long long>(ss - within, len - done);
        std::memcpy(out + done, m_vecScratch.data() + within, take);
        done += take;
    }
    return done;
}

ResultCode CHFSPlusVolume::CollectForkExtents(uint32_t fileId, uint8_t forkType, const HFSPlusForkData& fork,
                                              bool withDeleted, std::vector<HFSPlusExtentDescriptor>& out)
{
    out.clear();
    unsigned long long remaining = fork.totalBlocks;
    uint32_t taken = 0;
    HFSPlusExtentDescriptor eight[8];
    std::memcpy(eight, fork.extents, sizeof eight);
    for (unsigned int round = 0; remaining > 0 && round < kMaxContinuations; ++round) {
        for (const HFSPlusExtentDescriptor& e : eight) {
            if (remaining == 0)
                return 0;
            if (e.blockCount == 0)
                return HFS_FAIL(kHfsKindBadData);  // the fork is shorter than it claims
            out.push_back(e);
            remaining -= std::min<unsigned long long>(remaining, e.blockCount);
            taken += e.blockCount;
        }
        if (remaining == 0)
            return 0;
        if (fileId == 3)
            return HFS_FAIL_AT(0x20, kHfsKindBadData);
        std::unique_ptr<BTKey> key = ExtentKey(fileId, forkType, taken);
        HFSPlusSearchResult result;
        unsigned char* record = nullptr;
        if (m_pExtentsTree)
            m_pExtentsTree->Search(key.get(), result, &record);
        if (!result.found && withDeleted)
            FindDeleteExtent(key.get(), result, &record);
        std::unique_ptr<unsigned char[]> owned(record);
        if (!result.found || !record)
            return HFS_FAIL_AT(0x2D, kHfsKindBadData);
        std::memcpy(eight, record, sizeof eight);
    }
    return 0;
}

ResultCode CHFSPlusVolume::Search(int tree, BTKey* key, HFSPlusSearchResult& result, unsigned char** record)
{
    result = HFSPlusSearchResult{};
    if (record)
        *record = nullptr;
    if (!m_pHeader)
        return HFS_FAIL_AT(0x78, kHfsKindBadArgument);
    CHFSPlusBTreeOptionBase* option = nullptr;
    switch (tree) {
    case 3:
        option = m_pExtentsTree.get();
        break;
    case 4:
        option = m_pCatalogTree.get();
        break;
    case 8:
        option = m_pAttributesTree.get();
        break;
    default:
        return HFS_FAIL_AT(0x8A, kHfsKindBadTree);
    }
    if (!option)
        return HfsCode(__LINE__, kHfsKindMissing);
    return option->Search(key, result, record);
}

ResultCode CHFSPlusVolume::FindDeleted(HFSPlusDeletedList& list, int tree, BTKey* key, HFSPlusSearchResult& result,
                                       unsigned char** record)
{
    result = HFSPlusSearchResult{};
    if (record)
        *record = nullptr;
    for (HFSPlusDeletedRecord& entry : list) {
        const int c = tree == 3 ? CHFSPlusExtents::CompareKey(entry.key.get(), key)
                                : CHFSPlusAttribute::CompareKey(entry.key.get(), key);
        if (c != 0)
            continue;
        if (record) {
            *record = tree == 3 ? CHFSPlusExtents::CloneRecord(entry.record.get())
                                : CHFSPlusAttribute::CloneRecord(entry.record.get());
            if (!*record)
                return HFS_FAIL(kHfsKindNoMemory);
        }
        result.found = 1;
        return 0;
    }
    return 0;
}

ResultCode CHFSPlusVolume::FindDeleteExtent(BTKey* key, HFSPlusSearchResult& result, unsigned char** record)
{
    return FindDeleted(m_deletedExtents, 3, key, result, record);
}

ResultCode CHFSPlusVolume::FindDeleteAttribute(BTKey* key, HFSPlusSearchResult& result, unsigned char** record)
{
    return FindDeleted(m_deletedAttributes, 8, key, result, record);
}

int CHFSPlusVolume::IsBelongToFile(uint32_t fileId, const HFSPlusForkData& fork, unsigned long long byteOffset)
{
    std::vector<HFSPlusExtentDescriptor> extents;
    CollectForkExtents(fileId, 0, fork, false, extents);
    const unsigned long long blockSize = GetBlockSize();
    for (const HFSPlusExtentDescriptor& e : extents) {
        const unsigned long long first = static_cast<unsigned long long>(e.startBlock) * blockSize;
        const unsigned long long end = (static_cast<unsigned long long>(e.startBlock) + e.blockCount) * blockSize;
        if (byteOffset >= first && byteOffset < end)
            return 1;
    }
    return 0;
}

int CHFSPlusVolume::GetNodeBelongToFile(unsigned long long byteOffset)
{
    if (!m_pHeader)
        return 0;
    const struct {
        int id;
        const HFSPlusForkData& fork;
    } files[] = {{4, m_pHeader->catalogFile},
                 {3, m_pHeader->extentsFile},
                 {8, m_pHeader->attributesFile},
                 {6, m_pHeader->allocationFile},
                 {7, m_pHeader->startupFile}};
    for (const auto& f : files)
        if (IsBelongToFile(static_cast<uint32_t>(f.id), f.fork, byteOffset))
            return f.id;
    return 0;
}

unsigned int CHFSPlusVolume::getAttribute(unsigned int fileId, const char* name, std::vector<unsigned char>& data)
{
    data.clear();
    if (!m_pHeader || !m_pAttributesTree || !name)
        return 0;
    auto key = std::make_unique<BTKey>();
    std::memset(key.get(), 0, sizeof(BTKey));
    const size_t length = std::min<size_t>(std::strlen(name), 127);
    key->attr.fileID = fileId;
    key->attr.attrNameLen = static_cast<uint16_t>(length);
    key->attr.keyLength = static_cast<uint16_t>(12 + 2 * length);
    for (size_t i = 0; i < length; ++i) {
        const uint16_t unit = static_cast<unsigned char>(name[i]);
        std::memcpy(key->raw + offsetof(HFSPlusAttrKey, attrName) + 2 * i, &unit, 2);
    }
    HFSPlusSearchResult result;
    unsigned char* record = nullptr;
    Search(8, key.get(), result, &record);
    if (!result.found) {
        delete[] record;
        record = nullptr;
        FindDeleteAttribute(key.get(), result, &record);
    }
    std::unique_ptr<unsigned char[]> owned(record);
    if (!result.found || !record)
        return 0;
    uint32_t type = 0, size = 0;
    std::memcpy(&type, record, 4);
    if (type != kHFSPlusAttrInlineData) {
        CatchExeception::WriteLog("unsupported attribute node format\n");
        return 0;
    }
    std::memcpy(&size, record + 12, 4);
    data.assign(record + 16, record + 16 + size);
    return size;
}

ResultCode CHFSPlusVolume::QuickSearchFiles(IDirecotryTreeBuilder* builder,
                                            CHFSPlusQuickFileSystemSearchProgress* progress)
{
    if (!m_pJournal)
        return HFS_FAIL_AT(0x183, kHfsKindMissing);
    const auto setTotal = [&] {
        if (progress && m_pHeader)
            progress->SetTotal(m_deletedCatalog.size() + static_cast<unsigned long long>(m_pHeader->fileCount) +
                               m_pHeader->folderCount + 1);
    };
    setTotal();
    m_pJournal->GetDeleteRecord(progress, m_deletedCatalog, m_deletedExtents, m_deletedAttributes);
    setTotal();

    bool goOn = progress ? progress->Continued() != 0 : true;
    for (auto it = m_deletedCatalog.begin(); it != m_deletedCatalog.end() && goOn; ++it) {
        if (progress)
            goOn = progress->Continued() != 0;
        auto* node = new (std::nothrow) CHFSPlusFileNode(
            this, it->key.get(), reinterpret_cast<HFSPlusCatalogRecord*>(it->record.get()), 1);
        it->key.reset();
        it->record.reset();
        if (!node)
            continue;
        if (node->GetCurrentNodeID() == -1 || !builder) {
            node->Release();
            continue;
        }
        if (builder->AddNode(node, SEARCHER_HFSPLUS)) {
            if (progress)
                progress->UpdateProgress();
        } else {
            node->Release();
        }
    }
    m_deletedCatalog.clear();
    if (!m_pCatalogTree)
        return m_llLastError;
    return m_pCatalogTree->Traverse(builder, progress);
}

// ---------------------------------------------------------------------------
// Journal

CHFSPlusJournal::CHFSPlusJournal(CHFSPlusVolume* volume) : m_pVolume(volume), m_llLastError(0)
{
    const HFSPlusVolumeHeader* h = volume ? volume->GetVolumeHeader() : nullptr;
    if (!h) {
        m_llLastError = volume ? volume->GetLastError() : HFS_FAIL(kHfsKindBadArgument);
        return;
    }
    if (!(h->attributes & kHFSVolumeJournaledMask)) {
        m_llLastError = HFS_FAIL_AT(0x1F, kHfsKindUnusable);
        return;
    }
    const unsigned int ss = volume->GetSectorSize();
    std::vector<unsigned char> sector(ss, 0);
    const unsigned long long infoAt = static_cast<unsigned long long>(h->journalInfoBlock) * h->blockSize;
    if (volume->Read(infoAt, sector.data(), ss) != ss) {
        m_llLastError = HFS_FAIL_AT(0x25, kHfsKindShortRead);
        return;
    }
    std::memcpy(&m_info, sector.data(), sizeof m_info);
    flipJournalInfoBlock(&m_info);
    if (!(m_info.flags & kJIJournalInFSMask)) {
        m_llLastError = HFS_FAIL_AT(0x31, kHfsKindUnusable);
        return;
    }
    if (volume->Read(m_info.offset, sector.data(), ss) != ss) {
        m_llLastError = HFS_FAIL_AT(0x38, kHfsKindUnusable);
        return;
    }
    std::memcpy(&m_header, sector.data(), sizeof m_header);
    if (m_header.magic != kJournalMagic) {
        m_llLastError = HFS_FAIL_AT(0x40, kHfsKindUnusable);
        return;
    }
    if (m_header.endian != kJournalEndian) {
        m_llLastError = HFS_FAIL_AT(0x41, kHfsKindUnusable);
        return;
    }
    if (m_header.size != m_info.size) {
        m_llLastError = HFS_FAIL_AT(0x42, kHfsKindUnusable);
        return;
    }
    m_bHasHeader = true;
}

unsigned long long CHFSPlusJournal::Read(unsigned long long position, unsigned char* buf, unsigned long long len)
{
    const unsigned long long size = m_info.size;
    if (!m_bHasHeader || size == 0)
        return 0;
    unsigned long long done = 0;
    position %= size;
    while (done < len) {
        const unsigned long long take = std::min(len - done, size - position);
        const unsigned long long got = m_pVolume->Read(m_info.offset + position, buf + done, take);
        done += got;
        if (got != take) {
            m_llLastError = HFS_FAIL_AT(0x72, kHfsKindUnusable);
            return done;
        }
        position = (position + take) % size;
    }
    return done;
}

ResultCode CHFSPlusJournal::GetDeleteRecord(CHFSPlusQuickFileSystemSearchProgress* progress,
                                            HFSPlusDeletedList& catalog, HFSPlusDeletedList& extents,
                                            HFSPlusDeletedList& attributes)
{
    // A journal of size 0 has no positions to walk.
    if (!m_bHasHeader || m_header.size == 0)
        return m_llLastError;
    const unsigned long long size = m_header.size;
    const unsigned long long headerSize = m_header.jhdr_size;
    const unsigned long long listSize = m_header.blhdr_size;
    if (headerSize < 16 || listSize < 32 || headerSize > kMaxJournalUnit || listSize > kMaxJournalUnit)
        return m_llLastError = HFS_FAIL(kHfsKindUnusable);
    std::vector<unsigned char> scratch(std::max(headerSize, listSize), 0);
    std::vector<unsigned char> block(kMaxNodeSize, 0);
    std::printf("Journal Start Offset:0x%llx\n", static_cast<unsigned long long>(m_header.end));
    std::fflush(stdout);

    const unsigned long long end = m_header.end % size;
    unsigned long long position = end;
    // One pass around the circle at most, even when the steps jump over the
    // end offset of a damaged journal.
    unsigned long long travelled = 0;
    const auto advance = [&](unsigned long long by) {
        position = (position + by % size) % size;
        travelled += by;
    };
    bool stopped = false;
    do {
        if (Read(position, scratch.data(), headerSize) != headerSize) {
            m_llLastError = HFS_FAIL_AT(0x91, kHfsKindUnusable);
            break;
        }
        if (ReadLE16(scratch.data()) != listSize / 16 - 1) {
            advance(headerSize);
            continue;
        }
        if (Read(position, scratch.data(), listSize) != listSize) {
            m_llLastError = HFS_FAIL_AT(0x9C, kHfsKindUnusable);
            break;
        }
        advance(listSize);
        const unsigned int count = std::min<unsigned int>(ReadLE16(scratch.data() + 2),
                                                          static_cast<unsigned int>(listSize / 16));
        for (unsigned int i = 1; i < count; ++i) {
            if (progress && !progress->Continued()) {
                stopped = true;
                break;
            }
            const unsigned char* entry = scratch.data() + 16 * i;
            const unsigned long long number = ReadLE64(entry);
            const uint32_t bytes = ReadLE32(entry + 8);
            if (bytes > kMaxNodeSize || bytes < 512) {
                advance(bytes);
                continue;
            }
            if (Read(position, block.data(), bytes) != bytes) {
                m_llLastError = HFS_FAIL_AT(0xBA, kHfsKindUnusable);
                stopped = true;
                break;
            }
            advance(bytes);
            if (!CHFSPlusBTNode::IsValidNode(block.data(), static_cast<unsigned short>(bytes)))
                continue;
            CHFSPlusBTNode node(block.data(), static_cast<unsigned short>(bytes), 0);
            if (!node.IsLeaf())
                continue;
            TakeNode(node, number * headerSize, progress, catalog, extents, attributes);
        }
    } while (!stopped && position != end && travelled < size);
    return m_llLastError;
}

void CHFSPlusJournal::TakeNode(CHFSPlusBTNode& node, unsigned long long home,
                               CHFSPlusQuickFileSystemSearchProgress* progress, HFSPlusDeletedList& catalog,
                               HFSPlusDeletedList& extents, HFSPlusDeletedList& attributes)
{
    const int file = m_pVolume->GetNodeBelongToFile(home);
    const unsigned short count = node.GetRecordCount();
    if (file == 3 || file == 8) {
        CHFSPlusBTreeOptionBase* tree = file == 3 ? static_cast<CHFSPlusBTreeOptionBase*>(m_pVolume->GetExtentsTree())
                                                  : m_pVolume->GetAttributesTree();
        if (!tree)
            return;
        HFSPlusDeletedList& list = file == 3 ? extents : attributes;
        for (unsigned short i = 0; i < count; ++i) {
            std::unique_ptr<BTKey> key(tree->KeyRead(&node, i));
            std::unique_ptr<unsigned char[]> record(key ? tree->DataRead(&node, i) : nullptr);
            if (!key || !record)
                continue;
            HFSPlusSearchResult live;
            unsigned char* liveRecord = nullptr;
            m_pVolume->Search(file, key.get(), live, &liveRecord);
            delete[] liveRecord;
            if (live.found)
                continue;
            auto same = std::find_if(list.begin(), list.end(), [&](const HFSPlusDeletedRecord& e) {
                return tree->Compare(e.key.get(), key.get()) == 0;
            });
            if (same != list.end())
                same->record = std::move(record);
            else
                list.push_front(HFSPlusDeletedRecord{std::move(key), std::move(record)});
        }
        return;
    }
    if (file != 4 || !m_pVolume->GetCatalogTree())
        return;
    CHFSPlusCatalog* tree = m_pVolume->GetCatalogTree();
    for (unsigned short i = 0; i < count; ++i) {
        std::unique_ptr<BTKey> key(tree->KeyRead(&node, i));
        std::unique_ptr<unsigned char[]> record(key ? tree->DataRead(&node, i) : nullptr);
        if (!key || !record)
            continue;
        const auto* r = reinterpret_cast<const HFSPlusCatalogRecord*>(record.get());
        if (r->recordType != kHFSPlusFolderRecord && r->recordType != kHFSPlusFileRecord)
            continue;
        uint32_t id = 0;
        std::memcpy(&id, record.get() + 8, 4);
        HFSPlusSearchResult live;
        unsigned char* liveRecord = nullptr;
        m_pVolume->Search(4, key.get(), live, &liveRecord);
        std::unique_ptr<unsigned char[]> ownedLive(liveRecord);
        if (live.found && liveRecord) {
            uint32_t liveId = 0;
            std::memcpy(&liveId, liveRecord + 8, 4);
            if (liveId == id)
                continue;
        }
        auto same = std::find_if(catalog.begin(), catalog.end(), [&](const HFSPlusDeletedRecord& e) {
            uint32_t otherId = 0;
            std::memcpy(&otherId, e.record.get() + 8, 4);
            return otherId == id &&
                   CHFSPlusCatalog::CompareKey(e.key.get(), key.get(), m_pVolume->GetCompareType()) == 0;
        });
        if (same != catalog.end()) {
            same->record = std::move(record);
            continue;
        }
        catalog.push_front(HFSPlusDeletedRecord{std::move(key), std::move(record)});
        if (progress)
            progress->UpdateProgress();
    }
}
