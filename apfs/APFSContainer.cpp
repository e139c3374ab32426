#include "APFSContainer.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <set>

#include "APFSObject.h"

namespace {

// Every read brings one 4096-byte block; offsets are checked against it.
constexpr size_t kAvail = kApfsBlockSize;
constexpr size_t kBufferBytes = 128 * 1024;
constexpr int kMaxEntries = 1024;
constexpr uint64_t kNoKey = static_cast<uint64_t>(-1);
constexpr uint64_t kEarliestTime = 500000000000000000ULL;
constexpr uint64_t kLatestTime = 1873497444986126336ULL;

bool HeaderSane(const unsigned char* block)
{
    return IsValidObject(0, block, kApfsBlockSize);
}

uint16_t Subtype(const unsigned char* block) { return ApfsRead32(block + 28) & 0xFFFF; }
uint16_t NodeFlags(const unsigned char* block) { return ApfsRead16(block + 32); }
uint32_t KeyCount(const unsigned char* block) { return ApfsRead32(block + 36); }
uint16_t TableSpaceLength(const unsigned char* block) { return ApfsRead16(block + 42); }

int64_t Distance32(uint64_t a, uint64_t b)
{
    return std::llabs(static_cast<int64_t>(a & 0xFFFFFFFF) - static_cast<int64_t>(b & 0xFFFFFFFF));
}

bool InDateRange(uint64_t t) { return t >= kEarliestTime && t <= kLatestTime; }

}  // namespace

APFSContainer::APFSContainer(APFSDelegate* owner, uint32_t index, uint64_t startSector)
    : m_pOwner(owner), m_dwIndex(index), m_vecBuffer(kBufferBytes, 0), m_u64StartSector(startSector)
{
    m_u64StartBlock = m_u64StartSector * static_cast<uint64_t>(m_iSectorSize) / static_cast<uint64_t>(m_iBlockSize);
}

APFSContainer::~APFSContainer()
{
    for (auto& [key, node] : m_mapFiles)
        delete node;
    for (auto& [key, node] : m_mapFolders)
        delete node;
}

void APFSContainer::SetSectorSize(int sectorSize)
{
    if (sectorSize < 512)
        return;
    m_iSectorSize = sectorSize;
    m_u64StartBlock = m_u64StartSector * static_cast<uint64_t>(m_iSectorSize) / static_cast<uint64_t>(m_iBlockSize);
}

bool APFSContainer::ReadInto(uint64_t block)
{
    return m_pOwner->ReadBlock(this, block, kApfsBlockSize, m_vecBuffer.data()) != 0;
}

void APFSContainer::SetNameFromVolume(const unsigned char* volume)
{
    if (!m_strName.empty())
        return;
    const char* name = reinterpret_cast<const char*>(volume + 704);
    if (m_pOwner) {
        const std::string plain(name, strnlen(name, 256));
        if (!plain.empty())
            m_pOwner->VolumeNamed(plain.c_str());
    }
    char text[300];
    std::snprintf(text, sizeof text, "%.*s_%d", static_cast<int>(strnlen(name, 256)), name, static_cast<int>(m_dwIndex));
    m_strName = text;
}

int APFSContainer::Parse()
{
    unsigned char* buffer = m_vecBuffer.data();
    if (!ReadInto(0))
        return -1;
    const uint32_t blockSize = ApfsRead32(buffer + 36);
    // Block sizes beyond 64 KiB do not exist and would carry offsets past
    // the read buffer.
    if (blockSize < static_cast<uint32_t>(kApfsBlockSize) || blockSize > 65536 || !HeaderSane(buffer))
        return -2;
    m_iBlockSize = static_cast<int>(blockSize);
    m_u64BlockCount = ApfsRead64(buffer + 40);
    m_u64StartBlock = m_u64StartSector * static_cast<uint64_t>(m_iSectorSize) / blockSize;
    m_u64SizeInSectors = blockSize * m_u64BlockCount / static_cast<uint64_t>(m_iSectorSize);
    std::memcpy(m_identifier.data(), buffer + 72, m_identifier.size());

    // The superblock names its object map; older superblocks named by the
    // checkpoint field name older object maps, whose trees hold older records.
    std::vector<uint64_t> omaps;
    std::set<uint64_t> tried{0};
    for (int i = 0; i < 32; ++i) {
        omaps.push_back(ApfsRead64(buffer + 160));
        const uint32_t next = ApfsRead32(buffer + 136);
        if (!tried.insert(next).second)
            break;
        ReadInto(next);
    }

    const uint64_t bs = blockSize;
    for (uint64_t omap : omaps) {
        // Whatever this object map yields, the ones after it are older.
        if (ReadInto(omap) && ReadInto(ApfsRead64(buffer + 48)) && Subtype(buffer) == 11) {
            std::vector<uint64_t> volumes;
            const uint32_t count = std::min<uint32_t>(KeyCount(buffer), kMaxEntries);
            for (uint32_t i = 0; i < count; ++i) {
                const size_t toc = 56 + 4 * static_cast<size_t>(i);
                if (toc + 4 > kAvail)
                    break;
                const uint64_t v = ApfsRead16(buffer + toc + 2);
                if (static_cast<uint64_t>(bs - 41 - v) > 4094)
                    break;
                const uint64_t at = bs - 40 - v + 8;
                if (at + 8 > kAvail)
                    break;
                volumes.push_back(ApfsRead64(buffer + at));
            }
            for (uint64_t volume : volumes) {
                if (volume == 0 || volume >= m_u64BlockCount || !ReadInto(volume) || !HeaderSane(buffer))
                    continue;
                SetNameFromVolume(buffer);
                if (ReadInto(ApfsRead64(buffer + 128)))
                    WalkVolume(ApfsRead64(buffer + 48));
            }
        }
        m_bParsed = true;
    }
    return 0;
}

int APFSContainer::ParseVolume(uint64_t block)
{
    unsigned char* buffer = m_vecBuffer.data();
    if (!ReadInto(block))
        return -1;
    if (!HeaderSane(buffer))
        return -2;
    SetNameFromVolume(buffer);
    if (ReadInto(ApfsRead64(buffer + 128)))
        WalkVolume(ApfsRead64(buffer + 48));
    return 0;
}

void APFSContainer::WalkVolume(uint64_t treeBlock)
{
    unsigned char* buffer = m_vecBuffer.data();
    const uint64_t bs = static_cast<uint64_t>(m_iBlockSize);
    std::deque<uint64_t> work{treeBlock};
    while (!work.empty()) {
        if (!m_pOwner->Continued())
            return;
        const uint64_t block = work.front();
        work.pop_front();
        if (!m_mapVisited.emplace(block, 1).second)
            continue;
        if (!ReadInto(block) || !HeaderSane(buffer))
            continue;
        const uint16_t subtype = Subtype(buffer);
        const uint32_t keys = KeyCount(buffer);
        if (subtype == 14) {
            if (keys < kMaxEntries)
                WalkRecords(buffer, block);
            continue;
        }
        if (subtype != 11)
            continue;
        const uint32_t count = std::min<uint32_t>(keys, kMaxEntries);
        const uint64_t tableEnd = 56 + static_cast<uint64_t>(TableSpaceLength(buffer));
        const uint16_t flags = NodeFlags(buffer);
        if (flags == 4 || flags == 5) {
            for (uint32_t i = 0; i < count; ++i) {
                const size_t toc = 56 + 4 * static_cast<size_t>(i);
                if (toc + 4 > kAvail)
                    break;
                const uint64_t keyPos = ApfsRead16(buffer + toc) + tableEnd;
                const uint64_t valuePos = bs - ApfsRead16(buffer + toc + 2) - (flags == 5 ? 40 : 0);
                if (valuePos >= 1 && valuePos <= bs - 1 && keyPos < bs && valuePos + 8 <= kAvail)
                    work.push_back(ApfsRead64(buffer + valuePos));
            }
        } else if (flags == 6) {
            // A non-root leaf: scan every 16-byte value slot, so that values
            // no entry points to any more still lead to their blocks.
            const uint64_t floor = tableEnd + ApfsRead16(buffer + 56);
            for (uint64_t pos = std::min<uint64_t>(bs, kAvail) - 16; pos > floor && pos >= 16; pos -= 16) {
                if (ApfsRead64(buffer + pos) == 0x0000100000000000ULL)
                    work.push_back(ApfsRead64(buffer + pos + 8));
            }
        } else if (flags == 7) {
            for (uint32_t i = 0; i < count; ++i) {
                const size_t toc = 56 + 4 * static_cast<size_t>(i);
                if (toc + 4 > kAvail)
                    break;
                const uint64_t rest = bs - ApfsRead16(buffer + toc + 2);
                if (rest < 41 || rest > 4135)
                    break;
                const uint64_t at = rest - 40 + 8;
                if (at + 8 > kAvail)
                    break;
                work.push_back(ApfsRead64(buffer + at));
            }
        } else {
            std::printf("!!!!Please notify to Watch this%d.!!!!\n", 225);
        }
    }
}

void APFSContainer::WalkRecords(const unsigned char* node, uint64_t foundAt)
{
    const uint64_t bs = static_cast<uint64_t>(m_iBlockSize);
    const uint16_t flags = NodeFlags(node);
    const uint64_t footer = (flags == 1 || flags == 3) ? 40 : 0;
    const uint64_t tableEnd = 56 + static_cast<uint64_t>(TableSpaceLength(node));
    const uint32_t count = std::min<uint32_t>(KeyCount(node), kMaxEntries);
    for (uint32_t i = 0; i < count; ++i) {
        if (!m_pOwner->Continued())
            return;
        const size_t toc = 56 + 8 * static_cast<size_t>(i);
        if (toc + 8 > kAvail)
            break;
        const uint64_t keyPos = ApfsRead16(node + toc) + tableEnd;
        const uint64_t valuePos = bs - ApfsRead16(node + toc + 4) - footer;
        const uint64_t valueLength = ApfsRead16(node + toc + 6);
        if (valuePos < 1 || valuePos > bs - 1 || keyPos >= bs || keyPos + 8 > kAvail)
            continue;
        const uint8_t type = node[keyPos + 7];
        if (type == 0x80 && valueLength >= 16 && keyPos + 16 <= kAvail && valuePos + 16 <= kAvail)
            HandleExtent(node + keyPos, node + valuePos, foundAt);
        else if (type == 0x30 && valueLength >= 100 && valuePos + 100 <= kAvail)
            HandleInode(node, valuePos, valueLength, foundAt);
        else if (type == 0x90 && valueLength >= 18 && valuePos + 18 <= kAvail)
            HandleDirRecord(node, keyPos, valuePos, foundAt);
    }
}

APFSContainer::Match APFSContainer::FindNode(std::multimap<uint64_t, APFSFileNode*>& map, const Record& record)
{
    Match match;
    int64_t limit = 4096;
    auto [first, last] = map.equal_range(record.key);
    for (auto it = first; it != last; ++it) {
        APFSFileNode* node = it->second;
        match.visitedAny = true;
        match.last = node;
        if (node->m_u64ParentKey == record.parentKey &&
            ((record.key & 0xFFFFFFFF) < 5 ||
             (!record.name.empty() && record.name.find(node->m_strName) != std::string::npos))) {
            node->m_u64FoundAt = record.block;
            match.exact = node;
            return match;
        }
        const int64_t sizeBlocks = static_cast<int64_t>(node->m_u64Size / 4096);
        if (limit > 256 && limit - 256 < sizeBlocks)
            limit = sizeBlocks + 256;
        const int64_t distance = Distance32(record.block, node->m_u64FoundAt);
        if (distance < limit || (record.time != 0 && node->m_u64CreationTime == record.time)) {
            match.best = node;
            limit = distance;
        }
    }
    return match;
}

APFSFileNode* APFSContainer::NewNode(const Match& match, const Record& record, bool folder)
{
    auto* node = new APFSFileNode;
    node->SetKind(folder);
    node->SetNodeID(match.visitedAny ? m_u64NextUniqueId++ : record.key);
    node->SetBelongedPartition(static_cast<unsigned short>(m_dwIndex));
    node->SetParentNodeID(static_cast<long long>(record.parentKey));
    node->m_u64FoundAt = record.block;
    node->m_u64Key = record.key;
    node->m_u64ParentKey = record.parentKey;
    std::string name = record.name;
    // Names of the form 0x<number>-dead take the name of the object they
    // most likely were, with the number after it.
    if (match.best && name.size() > 2 && name[0] == '0' && name[1] == 'x' && name[2] >= '0' && name[2] <= '9') {
        const long long number = std::strtoll(name.c_str() + 2, nullptr, 10);
        char text[2000];
        std::snprintf(text, sizeof text, "%s-%lld", match.best->m_strName.c_str(), number);
        name.assign(text, strnlen(text, 1999));
    }
    node->SetMadeName(std::move(name));
    if (DeletedRule())
        node->MarkDeleted();
    if (match.last)
        node->CopyRunsFrom(*match.last);
    (folder ? m_mapFolders : m_mapFiles).emplace(record.key, node);
    return node;
}

APFSFileNode* APFSContainer::FindOrAdopt(const Record& record, bool folder)
{
    Match match = FindNode(folder ? m_mapFolders : m_mapFiles, record);
    if (match.exact)
        return match.exact;
    if (!match.best || folder || match.best->m_u64ParentKey != kNoKey)
        return NewNode(match, record, folder);
    APFSFileNode* node = match.best;
    node->m_u64ParentKey = record.parentKey;
    node->SetParentNodeID(static_cast<long long>(record.parentKey));
    node->m_u64FoundAt = record.block;
    return node;
}

void APFSContainer::ResolveParent(APFSFileNode* node, uint64_t parentKey, uint64_t block, bool lowest)
{
    if ((node->m_byFlags & APFSFileNode::kReported) || node->m_pApfsParent || parentKey == kNoKey)
        return;
    // Of several folders with that key, the one met nearest to this block
    // (in the final pass: the one met first on the device).
    APFSFileNode* folder = nullptr;
    int64_t nearest = 0;
    auto [first, last] = m_mapFolders.equal_range(parentKey);
    for (auto it = first; it != last; ++it) {
        if (it->second == node)
            continue;
        const int64_t distance = lowest ? static_cast<int64_t>(it->second->m_u64FoundAt & 0xFFFFFFFF)
                                        : Distance32(block, it->second->m_u64FoundAt);
        if (!folder || distance < nearest) {
            folder = it->second;
            nearest = distance;
        }
    }
    node->m_u64ParentKey = parentKey;
    if (folder)
        APFSFileNode::AttachToParent(folder, node);
    else
        node->SetParentNodeID(static_cast<long long>(parentKey));
}

void APFSContainer::ReportOrPend(APFSFileNode* node)
{
    if (!node || (node->m_byFlags & APFSFileNode::kReported))
        return;
    if (node->IsReportable(false)) {
        m_pOwner->AddNode(node);
        m_mapPending.erase(node);
    } else {
        m_mapPending[node] = 1;
    }
}

void APFSContainer::HandleExtent(const unsigned char* key, const unsigned char* value, uint64_t foundAt)
{
    Record record;
    record.key = (ApfsRead64(key) & 0x00FFFFFFFFFFFFFFULL) | (static_cast<uint64_t>(m_dwIndex) << 32);
    record.block = foundAt;
    const uint64_t logical = ApfsRead64(key + 8);
    const uint64_t length = ApfsRead64(value);
    const uint64_t physical = ApfsRead64(value + 8);
    Match match = FindNode(m_mapFiles, record);
    APFSFileNode* node = match.exact ? match.exact : match.best;
    if (!node) {
        node = NewNode(match, record, false);
    } else {
        node->m_u64FoundAt = foundAt;
    }
    const uint64_t ss = static_cast<uint64_t>(m_iSectorSize);
    node->AddExtent(physical * static_cast<uint64_t>(m_iBlockSize) / ss, (length + ss - 1) / ss, m_iSectorSize,
                    logical);
    ReportOrPend(node);
}

void APFSContainer::HandleInode(const unsigned char* node, size_t valuePos, size_t /*valueLength*/, uint64_t foundAt)
{
    const unsigned char* value = node + valuePos;
    uint64_t streamSize = 0;
    const unsigned char* rawName = nullptr;
    int rawLength = 0;
    const size_t fieldCount = ApfsRead16(value + 92);
    if (fieldCount != 0) {
        size_t data = valuePos + 96 + 4 * fieldCount;
        if (data > kAvail)
            return;
        for (size_t i = 0; i < fieldCount && i < kMaxEntries; ++i) {
            const size_t descriptorPos = valuePos + 96 + 4 * i;
            if (descriptorPos + 4 > kAvail || data > kAvail)
                break;
            const uint16_t descriptor = ApfsRead16(node + descriptorPos);
            const uint16_t size = ApfsRead16(node + descriptorPos + 2);
            if (descriptor == 0x2008 && data + 8 <= kAvail) {
                streamSize = ApfsRead64(node + data);
            } else if (descriptor == 0x0204 && data + (size & 0x1FF) <= kAvail) {
                rawName = node + data;
                rawLength = size & 0x1FF;
            }
            data += (static_cast<size_t>(size) + 7) & 0xFFF8;
        }
    }
    const char* raw = reinterpret_cast<const char*>(rawName);
    if (!rawName || rawLength == 0 || !APFSFileNode::AcceptName(raw, rawLength))
        return;
    Record record;
    const uint64_t high = static_cast<uint64_t>(m_dwIndex) << 32;
    record.key = ApfsRead64(value + 8) | high;
    record.parentKey = ApfsRead64(value) | high;
    record.name = APFSFileNode::MakeName(raw, rawLength);
    record.block = foundAt;
    record.time = ApfsRead64(value + 16);
    const bool folder = (ApfsRead16(value + 80) & 0x4000) != 0;

    APFSFileNode* file = FindOrAdopt(record, folder);
    if (folder || !m_bParsed)
        ResolveParent(file, record.parentKey, foundAt);
    if (streamSize != 0 &&
        (file->m_u64Size == 0 || (file->m_strName == record.name && file->m_u64CreationTime == record.time &&
                                  file->m_u64Size < streamSize)))
        file->SetSize(streamSize);
    if (file->m_strName.empty() && !record.name.empty())
        file->SetName(raw, rawLength);
    if (file->m_u64CreationTime == 0) {
        const uint64_t changed = ApfsRead64(value + 32);
        for (uint64_t t : {record.time, ApfsRead64(value + 24), changed}) {
            if (InDateRange(t)) {
                file->m_u64CreationTime = t;
                break;
            }
        }
        file->m_u64ModificationTime = changed;
        file->m_u64AccessTime = ApfsRead64(value + 40);
    }
    ReportOrPend(file);
}

void APFSContainer::HandleDirRecord(const unsigned char* node, size_t keyPos, size_t valuePos, uint64_t foundAt)
{
    if (keyPos + 12 > kAvail)
        return;
    const int rawLength = static_cast<int>(ApfsRead32(node + keyPos + 8) & 0x1FF);
    if (keyPos + 12 + static_cast<size_t>(rawLength) > kAvail)
        return;
    const char* raw = reinterpret_cast<const char*>(node + keyPos + 12);
    if (!APFSFileNode::AcceptName(raw, rawLength))
        return;
    const unsigned char* value = node + valuePos;
    const uint64_t high = static_cast<uint64_t>(m_dwIndex) << 32;
    const uint64_t fileId = ApfsRead64(value);
    Record record;
    record.key = fileId | high;
    record.parentKey = (ApfsRead64(node + keyPos) & 0xFFFFFFFF) | high;
    record.name = APFSFileNode::MakeName(raw, rawLength);
    record.block = foundAt;
    record.time = ApfsRead64(value + 8);
    const bool folder = ApfsRead16(value + 16) == 4;

    APFSFileNode* file = FindOrAdopt(record, folder);
    if (folder)
        ResolveParent(file, record.parentKey, foundAt);
    if (m_dwIndex != 0 && fileId == 2) {
        file->SetParentNodeID(2);
        if (!m_strName.empty())
            file->m_strName = m_strName;
    } else if (file->m_strName.empty()) {
        file->SetKind(folder);
        file->SetName(raw, rawLength);
        file->m_u64CreationTime = record.time;
        file->m_u64ModificationTime = record.time;
    }
    ReportOrPend(file);
}

void APFSContainer::AnalyzeLeafBlock(uint64_t sector, uint64_t block, const unsigned char* data)
{
    const uint64_t oid = ApfsRead64(data + 8);
    const uint32_t type = ApfsRead32(data + 24);
    const uint64_t relative = block - m_u64StartBlock;
    if (m_dwIndex != 0 && !(sector - m_u64StartSector <= m_u64SizeInSectors && oid <= m_u64BlockCount))
        return;
    if ((type >> 16) == kApfsPhysicalFlag && oid != relative)
        return;
    if (oid == 0 || oid >= m_u64BlockCount)
        return;
    if ((type & 0xFFFF) != 3 || Subtype(data) != 14)
        return;
    if (m_mapVisited.count(relative) || KeyCount(data) >= kMaxEntries)
        return;
    WalkRecords(data, block);
}

void APFSContainer::FlushPendingNodes(int64_t end)
{
    const bool final = end == -1;
    for (auto it = m_mapPending.begin(); it != m_mapPending.end();) {
        APFSFileNode* node = it->first;
        ResolveParent(node, static_cast<uint64_t>(node->GetParentNodeID()), static_cast<uint64_t>(end), final);
        if (!node->IsReportable(final)) {
            ++it;
            continue;
        }
        if (!node->IsDirectory() && !node->GetDataRunList()) {
            auto [first, last] = m_mapFiles.equal_range(node->m_u64Key);
            for (auto f = first; f != last; ++f) {
                APFSFileNode* other = f->second;
                if (other != node && other->m_u64CreationTime == node->m_u64CreationTime && other->GetDataRunList()) {
                    node->CopyRunsFrom(*other);
                    break;
                }
            }
        }
        m_pOwner->AddNode(node);
        it = m_mapPending.erase(it);
    }
}
