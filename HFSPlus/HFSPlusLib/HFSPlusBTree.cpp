#include "HFSPlusBTree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_set>

#include "HFSPlusError.h"
#include "HFSPlusFileNode.h"
#include "HFSPlusProgress.h"
#include "HFSPlusVolume.h"
#include "ITreeBuilder.h"

namespace {

// No HFS+ tree is deeper than a handful of levels; a deeper descent means
// child pointers that lead back up.
constexpr int kMaxTreeDepth = 32;

template <typename T>
T* NewZeroed(size_t bytes)
{
    auto* p = new (std::nothrow) unsigned char[bytes];
    if (p)
        std::memset(p, 0, bytes);
    return reinterpret_cast<T*>(p);
}

BTKey* NewKey()
{
    auto* key = new (std::nothrow) BTKey;
    if (key)
        std::memset(key, 0, sizeof(BTKey));
    return key;
}

int CompareUnits(const uint16_t* a, unsigned int la, const uint16_t* b, unsigned int lb, bool slashes)
{
    const unsigned int n = std::min(la, lb);
    for (unsigned int i = 0; i < n; ++i) {
        uint16_t ca = a[i], cb = b[i];
        if (slashes) {
            ca = ca == 0x3A ? 0x2F : ca;
            cb = cb == 0x3A ? 0x2F : cb;
        }
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return la == lb ? 0 : (la < lb ? -1 : 1);
}

std::string Utf8Of(const uint16_t* units, unsigned int count, size_t limit)
{
    std::string out;
    std::u16string name(units, units + count);
    out = HfsUtf16ToUtf8(name.data(), name.size(), limit);
    return out;
}

}  // namespace

size_t CatalogRecordSize(int16_t type)
{
    switch (type) {
    case kHFSPlusFolderRecord:
        return sizeof(HFSPlusCatalogFolder);
    case kHFSPlusFileRecord:
        return sizeof(HFSPlusCatalogFile);
    case kHFSPlusFolderThreadRecord:
    case kHFSPlusFileThreadRecord:
        return sizeof(HFSPlusCatalogThread);
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------
// The generic tree

CHFSPlusBTree::CHFSPlusBTree(CHFSPlusVolume* volume, IHFSPlusBTreeOption* option)
    : m_pVolume(volume), m_pOption(option), m_llLastError(0)
{
}

ResultCode CHFSPlusBTree::Search(BTKey* key, HFSPlusSearchResult& result, unsigned char** record)
{
    result = HFSPlusSearchResult{};
    if (record)
        *record = nullptr;
    if (!key)
        return m_llLastError = HFS_FAIL(kHfsKindBadArgument);
    uint32_t number = m_pOption->GetRoot();
    if (number == 0)
        return m_llLastError = HFS_FAIL(kHfsKindMissing);
    for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
        std::unique_ptr<CHFSPlusBTNode> node(m_pOption->CreateNode(number));
        if (!node)
            return m_llLastError = m_pOption->GetLastError();
        const unsigned short count = node->GetRecordCount();
        if (node->IsIndex()) {
            int take = -1;
            bool stopped = false;
            for (unsigned short i = 0; i < count && !stopped; ++i) {
                std::unique_ptr<BTKey> recordKey(m_pOption->KeyRead(node.get(), i));
                if (!recordKey)
                    return m_llLastError = m_pOption->GetLastError();
                const int c = m_pOption->Compare(recordKey.get(), key);
                if (c < 0) {
                    take = i;
                    continue;
                }
                stopped = true;
                take = c == 0 ? i : i - 1;
            }
            if (!stopped)
                take = count - 1;
            const uint32_t child = take >= 0 ? m_pOption->GetChild(node.get(), static_cast<unsigned short>(take)) : 0;
            if (child == 0)
                return m_llLastError = HFS_FAIL_AT(0x86, kHfsKindBadData);
            number = child;
            continue;
        }
        if (!node->IsLeaf())
            return m_llLastError = HFS_FAIL_AT(0x39, kHfsKindBadData);
        for (unsigned short i = 0; i < count; ++i) {
            std::unique_ptr<BTKey> recordKey(m_pOption->KeyRead(node.get(), i));
            if (!recordKey)
                return m_llLastError = m_pOption->GetLastError();
            const int c = m_pOption->Compare(recordKey.get(), key);
            if (c < 0)
                continue;
            result.nodeNumber = number;
            result.recordIndex = i;
            if (c > 0)
                return m_llLastError = 0;
            if (record) {
                *record = m_pOption->DataRead(node.get(), i);
                if (!*record)
                    return m_llLastError = IsResultFailure(m_pOption->GetLastError()) ? m_pOption->GetLastError()
                                                                                       : HFS_FAIL(kHfsKindBadData);
            }
            result.found = 1;
            return m_llLastError = 0;
        }
        return m_llLastError = 0;
    }
    return m_llLastError = HFS_FAIL(kHfsKindBadData);
}

ResultCode CHFSPlusBTree::Traverse(IDirecotryTreeBuilder* builder, CHFSPlusQuickFileSystemSearchProgress* progress)
{
    m_llLastError = 0;
    if (!progress)
        return 0;
    const uint32_t root = m_pOption->GetRoot();
    if (root == 0)
        return m_llLastError = HFS_FAIL(kHfsKindMissing);

    // Depth first, records in order; a node is visited once however many
    // pointers lead to it, so loops in a damaged tree end.
    struct Pending {
        uint32_t number;
        int depth;
    };
    std::vector<Pending> stack{{root, 0}};
    std::unordered_set<uint32_t> visited;
    while (!stack.empty()) {
        const Pending at = stack.back();
        stack.pop_back();
        if (!progress->Continued())
            return m_llLastError = HFS_FAIL_AT(0xA3, kHfsKindStopped);
        if (at.depth >= kMaxTreeDepth || !visited.insert(at.number).second)
            continue;
        std::unique_ptr<CHFSPlusBTNode> node(m_pOption->CreateNode(at.number));
        if (!node) {
            // A node that cannot be read loses its own records only.
            m_llLastError = m_pOption->GetLastError();
            continue;
        }
        if (node->IsIndex()) {
            const unsigned short count = node->GetRecordCount();
            for (unsigned short i = count; i-- > 0;) {
                const uint32_t child = m_pOption->GetChild(node.get(), i);
                if (child == 0) {
                    m_llLastError = HFS_FAIL(kHfsKindBadData);
                    continue;
                }
                stack.push_back({child, at.depth + 1});
            }
        } else if (node->IsLeaf()) {
            const ResultCode rc = VisitLeaf(node.get(), builder, progress);
            if (ResultKind(rc) == kHfsKindStopped)
                return m_llLastError = rc;
        } else {
            m_llLastError = HFS_FAIL_AT(0xAD, kHfsKindBadData);
        }
    }
    return m_llLastError;
}

ResultCode CHFSPlusBTree::VisitLeaf(CHFSPlusBTNode* node, IDirecotryTreeBuilder* builder,
                                    CHFSPlusQuickFileSystemSearchProgress* progress)
{
    const unsigned short count = node->GetRecordCount();
    for (unsigned short i = 0; i < count; ++i) {
        if (!progress->Continued())
            return HFS_FAIL_AT(0xA3, kHfsKindStopped);
        std::unique_ptr<BTKey> key(m_pOption->KeyRead(node, i));
        std::unique_ptr<unsigned char[]> record(key ? m_pOption->DataRead(node, i) : nullptr);
        if (!key || !record)
            continue;
        if (!builder) {
            m_pOption->KeyPrint(key.get());
            m_pOption->DataPrint(record.get());
            continue;
        }
        auto* fileNode = new (std::nothrow)
            CHFSPlusFileNode(m_pVolume, key.get(), reinterpret_cast<HFSPlusCatalogRecord*>(record.get()), 0);
        if (!fileNode)
            continue;
        if (fileNode->GetCurrentNodeID() == -1) {
            fileNode->Release();
            continue;
        }
        progress->UpdateProgress();
        if (!builder->AddNode(fileNode, SEARCHER_HFSPLUS))
            fileNode->Release();
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Option base: the tree's file, node size and header record

CHFSPlusBTreeOptionBase::CHFSPlusBTreeOptionBase(CHFSPlusVolume* volume, CHFSPlusRawfile* file)
    : m_pVolume(volume), m_pFile(file), m_llLastError(HfsCode(__LINE__, kHfsKindMissing)), m_dwNodeSize(0)
{
    if (!file)
        return;
    m_dwNodeSize = PreGetNodeSize(file);
    if (m_dwNodeSize == 0)
        return;
    std::unique_ptr<CHFSPlusBTNode> header(CreateNode(0));
    if (!header)
        return;
    unsigned short length = 0;
    const unsigned char* record = header->GetRecord(0, &length);
    if (header->GetDescriptor()->kind != kBTHeaderNode || !record || length < sizeof(BTHeaderRec)) {
        m_llLastError = HFS_FAIL(kHfsKindBadData);
        return;
    }
    std::memcpy(&m_header, record, sizeof(BTHeaderRec));
    flipBTHeaderRec(&m_header);
    m_pHeaderNode = std::move(header);
    m_pTree = std::make_unique<CHFSPlusBTree>(volume, this);
    m_llLastError = 0;
}

CHFSPlusBTreeOptionBase::~CHFSPlusBTreeOptionBase() = default;

unsigned int CHFSPlusBTreeOptionBase::PreGetNodeSize(CHFSPlusRawfile* file)
{
    unsigned char first[512];
    if (!file || file->Read(0, first, sizeof first) != sizeof first) {
        m_llLastError = HFS_FAIL_AT(0x45, kHfsKindShortRead);
        return 0;
    }
    const unsigned int size = ReadBE16(first + sizeof(BTNodeDescriptor) + 18);
    // Node sizes are powers of two from 512 to 32 KiB.
    if (size < 512 || size > 32768 || (size & (size - 1)) != 0) {
        m_llLastError = HFS_FAIL(kHfsKindBadData);
        return 0;
    }
    return size;
}

CHFSPlusBTNode* CHFSPlusBTreeOptionBase::CreateNode(unsigned int number)
{
    if (m_dwNodeSize == 0 || !m_pFile) {
        m_llLastError = HFS_FAIL(kHfsKindMissing);
        return nullptr;
    }
    if (m_pHeaderNode && number >= m_header.totalNodes) {
        m_llLastError = HFS_FAIL(kHfsKindBadArgument);
        return nullptr;
    }
    auto* buffer = new (std::nothrow) unsigned char[m_dwNodeSize];
    if (!buffer) {
        m_llLastError = HFS_FAIL(kHfsKindNoMemory);
        return nullptr;
    }
    const unsigned long long offset = static_cast<unsigned long long>(number) * m_dwNodeSize;
    if (m_pFile->Read(offset, buffer, m_dwNodeSize) != m_dwNodeSize) {
        delete[] buffer;
        m_llLastError = HFS_FAIL_AT(0x60, kHfsKindShortRead);
        return nullptr;
    }
    auto* node = new (std::nothrow) CHFSPlusBTNode(buffer, static_cast<unsigned short>(m_dwNodeSize), 1);
    if (!node) {
        delete[] buffer;
        m_llLastError = HFS_FAIL(kHfsKindNoMemory);
        return nullptr;
    }
    if (!node->GetDescriptor()) {
        m_llLastError = node->GetLastError();
        delete node;
        return nullptr;
    }
    return node;
}

uint32_t CHFSPlusBTreeOptionBase::GetChild(CHFSPlusBTNode* node, unsigned short index)
{
    if (!node || !node->IsIndex()) {
        m_llLastError = HFS_FAIL(kHfsKindBadData);
        return 0;
    }
    unsigned short length = 0;
    const unsigned char* record = node->GetRecord(index, &length);
    if (!record || length < 2)
        return 0;
    const unsigned int keySize = GetRealKeyLength(record);
    if (keySize + 4u > length)
        return 0;
    return ReadBE32(record + keySize);
}

ResultCode CHFSPlusBTreeOptionBase::Search(BTKey* key, HFSPlusSearchResult& result, unsigned char** record)
{
    if (!m_pTree) {
        result = HFSPlusSearchResult{};
        return m_llLastError = HFS_FAIL(kHfsKindMissing);
    }
    return m_pTree->Search(key, result, record);
}

ResultCode CHFSPlusBTreeOptionBase::Traverse(IDirecotryTreeBuilder* builder,
                                             CHFSPlusQuickFileSystemSearchProgress* progress)
{
    if (!m_pTree)
        return m_llLastError = HFS_FAIL(kHfsKindMissing);
    return m_pTree->Traverse(builder, progress);
}

ResultCode CHFSPlusBTreeOptionBase::CopyKey(CHFSPlusBTNode* node, unsigned short index, size_t minLength,
                                            size_t keyBytes, ResultCode shortCode, bool printShort, BTKey*& key)
{
    key = nullptr;
    unsigned short length = 0;
    const unsigned char* record = RecordOf(node, index, &length);
    if (!record)
        return m_llLastError;
    if (length < minLength || length < 2 || GetRealKeyLength(record) > length) {
        m_llLastError = shortCode;
        if (printShort)
            FormatError(static_cast<long long>(shortCode), __FILE__, ResultLine(shortCode), __func__);
        return m_llLastError;
    }
    key = NewKey();
    if (!key)
        return m_llLastError = HFS_FAIL(kHfsKindNoMemory);
    std::memcpy(key->raw, record, std::min<size_t>(GetRealKeyLength(record), keyBytes));
    return m_llLastError = 0;
}

BTKey* CHFSPlusBTreeOptionBase::KeyRead(CHFSPlusBTNode* node, unsigned short index)
{
    BTKey* key = nullptr;
    ReadKey(node, index, key);
    return key;
}

unsigned char* CHFSPlusBTreeOptionBase::DataRead(CHFSPlusBTNode* node, unsigned short index)
{
    unsigned char* record = nullptr;
    ReadData(node, index, record);
    return record;
}

unsigned char* CHFSPlusBTreeOptionBase::RecordOf(CHFSPlusBTNode* node, unsigned short index, unsigned short* length)
{
    if (!node) {
        m_llLastError = HFS_FAIL(kHfsKindBadArgument);
        return nullptr;
    }
    unsigned char* record = node->GetRecord(index, length);
    if (!record)
        m_llLastError = node->GetLastError();
    return record;
}

// ---------------------------------------------------------------------------
// Catalog

int CHFSPlusCatalog::Compare(BTKey* a, BTKey* b)
{
    return CompareKey(a, b, m_pHeaderNode ? m_header.keyCompareType : kHFSCaseFolding);
}

int CHFSPlusCatalog::CompareKey(BTKey* a, BTKey* b, uint8_t compareType)
{
    const HFSPlusCatalogKey& ka = a->catalog;
    const HFSPlusCatalogKey& kb = b->catalog;
    if (ka.parentID != kb.parentID)
        return ka.parentID < kb.parentID ? -1 : 1;
    const unsigned short la = std::min<unsigned short>(ka.nodeName.length, 255);
    const unsigned short lb = std::min<unsigned short>(kb.nodeName.length, 255);
    uint16_t ua[255], ub[255];
    std::memcpy(ua, a->raw + offsetof(HFSPlusCatalogKey, nodeName) + 2, sizeof ua);
    std::memcpy(ub, b->raw + offsetof(HFSPlusCatalogKey, nodeName) + 2, sizeof ub);
    if (compareType == kHFSBinaryCompare)
        return CompareUnits(ua, la, ub, lb, true);
    return FastUnicodeCompare(ua, la, ub, lb);
}

ResultCode CHFSPlusCatalog::ReadKey(CHFSPlusBTNode* node, unsigned short index, BTKey*& key)
{
    // A key longer than its record is reported without a printed line.
    if (IsResultFailure(CopyKey(node, index, 2, sizeof(HFSPlusCatalogKey), HfsCode(0xF1, kHfsKindBadData), false, key)))
        return m_llLastError;
    filpCatalogKey(&key->catalog);
    return m_llLastError = 0;
}

ResultCode CHFSPlusCatalog::ReadData(CHFSPlusBTNode* node, unsigned short index, unsigned char*& out)
{
    out = nullptr;
    if (!node || !node->IsLeaf())
        return m_llLastError = HFS_FAIL_AT(0xEA, kHfsKindBadData);
    unsigned short length = 0;
    const unsigned char* record = RecordOf(node, index, &length);
    if (!record)
        return m_llLastError;
    const unsigned int keySize = length >= 2 ? GetRealKeyLength(record) : 0xFFFFu;
    if (keySize + 2u > length)
        return m_llLastError = HfsCode(0xF1, kHfsKindBadData);
    const unsigned char* data = record + keySize;
    const size_t available = length - keySize;
    const auto type = static_cast<int16_t>(ReadBE16(data));
    const size_t size = CatalogRecordSize(type);
    if (size == 0)
        return m_llLastError = HfsCode(0x11F, kHfsKindBadData);
    // Threads are as long as their names; folders and files are whole.
    if (type <= kHFSPlusFileRecord && available < size)
        return m_llLastError = HFS_FAIL(kHfsKindBadData);
    out = NewZeroed<unsigned char>(size);
    if (!out)
        return m_llLastError = HFS_FAIL(kHfsKindNoMemory);
    std::memcpy(out, data, std::min(size, available));
    auto* r = reinterpret_cast<HFSPlusCatalogRecord*>(out);
    if (type == kHFSPlusFolderRecord)
        flipCatalogFolder(&r->folder);
    else if (type == kHFSPlusFileRecord)
        flipCatalogFile(&r->file);
    else
        flipCatalogThread(&r->thread);
    return m_llLastError = 0;
}

unsigned char* CHFSPlusCatalog::CloneRecord(const unsigned char* record)
{
    if (!record)
        return nullptr;
    const size_t size = CatalogRecordSize(reinterpret_cast<const HFSPlusCatalogRecord*>(record)->recordType);
    if (size == 0)
        return nullptr;
    auto* copy = NewZeroed<unsigned char>(size);
    if (copy)
        std::memcpy(copy, record, size);
    return copy;
}

void CHFSPlusCatalog::PrintKey(const BTKey* key)
{
    if (!key)
        return;
    uint16_t units[255];
    std::memcpy(units, key->raw + offsetof(HFSPlusCatalogKey, nodeName) + 2, sizeof units);
    std::printf("ParentID:%u\tName:%s\n", key->catalog.parentID,
                Utf8Of(units, std::min<unsigned>(key->catalog.nodeName.length, 255), 255).c_str());
}

void CHFSPlusCatalog::PrintData(const unsigned char* record)
{
    if (!record)
        return;
    const auto* r = reinterpret_cast<const HFSPlusCatalogRecord*>(record);
    switch (r->recordType) {
    case kHFSPlusFolderThreadRecord:
    case kHFSPlusFileThreadRecord: {
        uint16_t units[255];
        std::memcpy(units, record + offsetof(HFSPlusCatalogThread, nodeName) + 2, sizeof units);
        std::printf("\tParentID:%u\tName:%s\n", r->thread.parentID,
                    Utf8Of(units, std::min<unsigned>(r->thread.nodeName.length, 255), 255).c_str());
        break;
    }
    case kHFSPlusFileRecord:
        std::printf("\tType:File\tFileID:%u\tFileSize:%llu\n", r->file.fileID,
                    static_cast<unsigned long long>(r->file.dataFork.logicalSize));
        break;
    case kHFSPlusFolderRecord:
        std::printf("\tType:Folder\tFolderID:%u\n", r->folder.folderID);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// Extents overflow

int CHFSPlusExtents::CompareKey(BTKey* a, BTKey* b)
{
    const HFSPlusExtentKey& ka = a->extent;
    const HFSPlusExtentKey& kb = b->extent;
    if (ka.fileID != kb.fileID)
        return ka.fileID < kb.fileID ? -1 : 1;
    if (ka.forkType != kb.forkType)
        return ka.forkType < kb.forkType ? -1 : 1;
    if (ka.startBlock != kb.startBlock)
        return ka.startBlock < kb.startBlock ? -1 : 1;
    if (ka.keyLength != kb.keyLength)
        return ka.keyLength < kb.keyLength ? -1 : 1;
    return 0;
}

ResultCode CHFSPlusExtents::ReadKey(CHFSPlusBTNode* node, unsigned short index, BTKey*& key)
{
    if (IsResultFailure(CopyKey(node, index, sizeof(HFSPlusExtentKey), sizeof(HFSPlusExtentKey),
                                HfsCode(__LINE__, kHfsKindBadData), true, key)))
        return m_llLastError;
    filpExtentKey(&key->extent);
    return m_llLastError = 0;
}

ResultCode CHFSPlusExtents::ReadData(CHFSPlusBTNode* node, unsigned short index, unsigned char*& out)
{
    out = nullptr;
    if (!node || !node->IsLeaf())
        return m_llLastError = HFS_FAIL_AT(0x92, kHfsKindUnusable);
    unsigned short length = 0;
    const unsigned char* record = RecordOf(node, index, &length);
    if (!record)
        return m_llLastError;
    constexpr size_t kRecord = 8 * sizeof(HFSPlusExtentDescriptor);
    if (length < sizeof(HFSPlusExtentKey) + kRecord)
        return m_llLastError = HFS_FAIL(kHfsKindBadData);
    out = NewZeroed<unsigned char>(kRecord);
    if (!out)
        return m_llLastError = HFS_FAIL(kHfsKindNoMemory);
    std::memcpy(out, record + sizeof(HFSPlusExtentKey), kRecord);
    flipExtentRecord(reinterpret_cast<HFSPlusExtentDescriptor*>(out));
    return m_llLastError = 0;
}

unsigned char* CHFSPlusExtents::CloneRecord(const unsigned char* record)
{
    if (!record)
        return nullptr;
    auto* copy = NewZeroed<unsigned char>(64);
    if (copy)
        std::memcpy(copy, record, 64);
    return copy;
}

void CHFSPlusExtents::KeyPrint(const BTKey* key)
{
    if (key)
        std::printf("fileID:%u\tforkType:%u\tstartBlock:%u\n", key->extent.fileID, key->extent.forkType,
                    key->extent.startBlock);
}

void CHFSPlusExtents::DataPrint(const unsigned char* record)
{
    if (!record)
        return;
    HFSPlusExtentDescriptor d[8];
    std::memcpy(d, record, sizeof d);
    for (const auto& e : d)
        std::printf("\t%u+%u", e.startBlock, e.blockCount);
    std::printf("\n");
}

// ---------------------------------------------------------------------------
// Attributes

int CHFSPlusAttribute::CompareKey(BTKey* a, BTKey* b)
{
    if (a->attr.fileID != b->attr.fileID)
        return a->attr.fileID < b->attr.fileID ? -1 : 1;
    uint16_t ua[127], ub[127];
    std::memcpy(ua, a->raw + offsetof(HFSPlusAttrKey, attrName), sizeof ua);
    std::memcpy(ub, b->raw + offsetof(HFSPlusAttrKey, attrName), sizeof ub);
    return CompareUnits(ua, std::min<unsigned>(a->attr.attrNameLen, 127), ub,
                        std::min<unsigned>(b->attr.attrNameLen, 127), false);
}

ResultCode CHFSPlusAttribute::ReadKey(CHFSPlusBTNode* node, unsigned short index, BTKey*& key)
{
    if (IsResultFailure(CopyKey(node, index, 14, sizeof(HFSPlusAttrKey), HfsCode(__LINE__, kHfsKindBadData), true, key)))
        return m_llLastError;
    filpAttributeKey(&key->attr);
    return m_llLastError = 0;
}

size_t CHFSPlusAttribute::RecordSize(const unsigned char* record)
{
    // Host order: the type and (inline data) the size are converted.
    uint32_t type = 0, size = 0;
    std::memcpy(&type, record, 4);
    switch (type) {
    case kHFSPlusAttrInlineData:
        std::memcpy(&size, record + 12, 4);
        return size_t{16} + size;
    case kHFSPlusAttrForkData:
        return sizeof(HFSPlusAttrForkData);
    case kHFSPlusAttrExtents:
        return sizeof(HFSPlusAttrExtents);
    default:
        return 0;
    }
}

ResultCode CHFSPlusAttribute::ReadData(CHFSPlusBTNode* node, unsigned short index, unsigned char*& out)
{
    out = nullptr;
    if (!node || !node->IsLeaf())
        return m_llLastError = HFS_FAIL_AT(0x8B, kHfsKindBadData);
    unsigned short length = 0;
    const unsigned char* record = RecordOf(node, index, &length);
    if (!record)
        return m_llLastError;
    const unsigned int keySize = length >= 2 ? GetRealKeyLength(record) : 0xFFFFu;
    if (keySize + 4u > length)
        return m_llLastError = HFS_FAIL(kHfsKindBadData);
    const unsigned char* data = record + keySize;
    const size_t available = length - keySize;
    const uint32_t type = ReadBE32(data);
    size_t size = 0;
    if (type == kHFSPlusAttrInlineData)
        size = available >= 16 ? size_t{16} + ReadBE32(data + 12) : SIZE_MAX;
    else if (type == kHFSPlusAttrForkData)
        size = sizeof(HFSPlusAttrForkData);
    else if (type == kHFSPlusAttrExtents)
        size = sizeof(HFSPlusAttrExtents);
    else
        return m_llLastError = 0;  // an unknown type is no record, and no error
    if (size > available)
        return m_llLastError = HFS_FAIL(kHfsKindBadData);
    out = NewZeroed<unsigned char>(std::max<size_t>(size, 16));
    if (!out)
        return m_llLastError = HFS_FAIL(kHfsKindNoMemory);
    std::memcpy(out, data, size);
    if (type == kHFSPlusAttrInlineData)
        flipAttrData(reinterpret_cast<HFSPlusAttrData*>(out));
    else if (type == kHFSPlusAttrForkData)
        flipAttrForkData(reinterpret_cast<HFSPlusAttrForkData*>(out));
    else
        flipAttrExtents(reinterpret_cast<HFSPlusAttrExtents*>(out));
    return m_llLastError = 0;
}

unsigned char* CHFSPlusAttribute::CloneRecord(const unsigned char* record)
{
    if (!record)
        return nullptr;
    const size_t size = RecordSize(record);
    if (size == 0)
        return nullptr;
    auto* copy = NewZeroed<unsigned char>(std::max<size_t>(size, 16));
    if (copy)
        std::memcpy(copy, record, size);
    return copy;
}

void CHFSPlusAttribute::PrintKey(const BTKey* key)
{
    if (!key)
        return;
    std::string name;
    uint16_t units[127];
    std::memcpy(units, key->raw + offsetof(HFSPlusAttrKey, attrName), sizeof units);
    for (unsigned i = 0; i < std::min<unsigned>(key->attr.attrNameLen, 127); ++i)
        if ((units[i] & 0xFF) != '\r')
            name.push_back(static_cast<char>(units[i] & 0xFF));
    std::printf("keyLength:%u\tfileID:%u\tstartBlock:%u\tName:%s\n", key->attr.keyLength, key->attr.fileID,
                key->attr.startBlock, name.c_str());
}

void CHFSPlusAttribute::DataPrint(const unsigned char* record)
{
    if (record)
        std::printf("\tType:0x%x\n", *reinterpret_cast<const uint32_t*>(record));
}
