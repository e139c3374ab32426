#include "HFSPlusFileNode.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "HFSPlusVolume.h"
#include "Log.h"

namespace {

constexpr unsigned long long kEpochDelta1601To1904 = 95616288000000000ULL;
constexpr size_t kNameLimit = 1024;
constexpr uint32_t kFolderAliasType = 0x66647270;  // "fdrp"
constexpr const char* kDecmpfsName = "com.apple.decmpfs";
// The largest file this reader decompresses or resource fork it loads.
constexpr unsigned long long kMaxDecoded = 1ULL << 32;
constexpr unsigned long long kMaxFork = 1ULL << 30;
// Decoded data grows by at least this much at a time.
constexpr size_t kDecodeStep = 64 * 1024;
// Room for one decoded chunk of a resource fork (the format makes 64 KiB).
constexpr size_t kChunkRoom = 1024 * 1024;

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string HfsUtf16ToUtf8(const char16_t* units, size_t count, size_t limit)
{
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= count || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
                break;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00u);
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            break;
        }
        std::string one;
        AppendUtf8(one, cp);
        if (out.size() + one.size() > limit)
            break;
        out += one;
    }
    return out;
}

unsigned long long HfsDateToFileTime(uint32_t seconds)
{
    return seconds == 0 ? 0 : static_cast<unsigned long long>(seconds) * 10000000ULL + kEpochDelta1601To1904;
}

// ---------------------------------------------------------------------------
// Nodes

CHFSPlusFileNode::CHFSPlusFileNode(CHFSPlusVolume* volume, BTKey* key, HFSPlusCatalogRecord* record, int deleted)
{
    CreateFileNode(volume, 0, 0, key, record, deleted);
}

CHFSPlusFileNode::CHFSPlusFileNode(CHFSPlusVolume* volume, long long metadataSector, unsigned short partitionIndex,
                                   BTKey* key, HFSPlusCatalogRecord* record)
{
    CreateFileNode(volume, metadataSector, partitionIndex, key, record, 0);
}

void CHFSPlusFileNode::SetPacked(long long metadataSector, unsigned short partitionIndex)
{
    SetBelongedPartition(partitionIndex);
    SetMetaDataSector(metadataSector);
}

void CHFSPlusFileNode::CreateFileNode(CHFSPlusVolume* volume, long long metadataSector,
                                      unsigned short partitionIndex, BTKey* key, HFSPlusCatalogRecord* record,
                                      int deleted)
{
    m_pVolume = volume;
    if (!key || !record)
        return;
    if (deleted)
        m_u8Flags |= kDeleted;
    m_llParentNodeID = key->catalog.parentID;

    // Names stored with leading NULs (the private-data folder) keep their
    // visible part.
    char16_t units[255];
    std::memcpy(units, key->raw + offsetof(HFSPlusCatalogKey, nodeName) + 2, sizeof units);
    const size_t length = std::min<size_t>(key->catalog.nodeName.length, 255);
    size_t first = 0;
    while (first < length && units[first] == 0)
        ++first;
    m_strName = HfsUtf16ToUtf8(units + first, length - first, kNameLimit);

    if (record->recordType == kHFSPlusFileRecord) {
        const HFSPlusCatalogFile& file = record->file;
        m_llNodeID = file.fileID;
        if (file.permissions.ownerFlags & UF_COMPRESSED_FLAG) {
            m_u8Flags |= kCompressed;
            m_dwCompressed = 1;
            if (file.resourceFork.logicalSize != 0) {
                m_u64Size = file.resourceFork.logicalSize;
                SetDataRunList(BuildFileDataRun(volume, file.fileID, 0xFF, file.resourceFork));
            }
        } else {
            m_u64Size = file.dataFork.logicalSize != 0 ? file.dataFork.logicalSize
                                                       : static_cast<unsigned long long>(file.dataFork.totalBlocks) * 4096;
            SetDataRunList(BuildFileDataRun(volume, file.fileID, 0, file.dataFork));
            if (volume && volume->GetBlockSize() != 0 && volume->GetBlockSize() < volume->GetSectorSize())
                m_u8Flags |= kByteRead;
        }
        m_dwCreateDate = file.createDate;
        m_dwModifyDate = file.contentModDate;
        m_dwAccessDate = file.accessDate;
        SetPacked(metadataSector, partitionIndex);
        if (file.userInfo.fileType == kFolderAliasType)
            m_u8Flags |= kFolder;
        // Nothing downstream asks for the uncompressed size later, so it is
        // taken now: a copy sized by the resource fork would cut the file.
        if (m_u8Flags & kCompressed)
            UpdateNodeInfo();
        return;
    }
    if (record->recordType == kHFSPlusFolderRecord) {
        m_u8Flags |= kFolder;
        const HFSPlusCatalogFolder& folder = record->folder;
        if (folder.folderID == 1)
            return;
        m_llNodeID = folder.folderID;
        m_u64Size = 0;
        m_dwCreateDate = folder.createDate;
        m_dwModifyDate = folder.contentModDate;
        m_dwAccessDate = folder.accessDate;
        SetPacked(metadataSector, partitionIndex);
    }
}

void CHFSPlusFileNode::UpdateNodeInfo()
{
    if (!(m_u8Flags & kCompressed) || !m_pVolume || !m_pVolume->GetAttributesTree())
        return;
    std::vector<unsigned char> data;
    m_pVolume->getAttribute(static_cast<unsigned int>(m_llNodeID), kDecmpfsName, data);
    if (data.size() < sizeof(HFSPlusDecmpfs)) {
        std::printf("Warn:Can't find file 0x%llx Attribute\n", static_cast<unsigned long long>(m_llNodeID));
        return;
    }
    m_u64Size = ReadLE64(data.data() + 8);
}

IFileReader* CHFSPlusFileNode::CreateCompressFileReader(void*)
{
    const bool plain = (m_u8Flags & kByteRead) && !(m_u8Flags & kCompressed);
    return new (std::nothrow) CHFSPlusCompressFileReader(m_pVolume, this, plain);
}

IDataRunList* CHFSPlusFileNode::BuildFileDataRun(CHFSPlusVolume* volume, uint32_t fileId, uint8_t forkType,
                                                 const HFSPlusForkData& fork)
{
    IDataRunList* list = CreateDataRunList();
    if (!list)
        return nullptr;
    std::vector<HFSPlusExtentDescriptor> extents;
    if (volume) {
        volume->CollectForkExtents(fileId, forkType, fork, true, extents);
    } else {
        // Without a volume only the fork's own eight extents are known.
        unsigned long long remaining = fork.totalBlocks;
        for (const HFSPlusExtentDescriptor& e : fork.extents) {
            if (remaining == 0 || e.blockCount == 0)
                break;
            extents.push_back(e);
            remaining -= std::min<unsigned long long>(remaining, e.blockCount);
        }
    }
    for (const HFSPlusExtentDescriptor& e : extents) {
        DataRun run;
        run.llStart = e.startBlock;
        run.llLength = e.blockCount;
        list->AddDataRun(&run);
    }
    return list;
}

// ---------------------------------------------------------------------------
// Compressed files

CHFSPlusCompressFileReader::CHFSPlusCompressFileReader(CHFSPlusVolume* volume, CFileNode* node, bool plain)
    : m_pVolume(volume), m_pNode(node), m_bPlain(plain)
{
}

CHFSPlusCompressFileReader::CHFSPlusCompressFileReader(const CHFSPlusCompressFileReader& other)
    : IFileReader(), m_pVolume(other.m_pVolume), m_pNode(other.m_pNode), m_bPlain(other.m_bPlain)
{
}

long long CHFSPlusCompressFileReader::GetDataSize() const { return m_pNode ? m_pNode->GetFileSize() : 0; }

int CHFSPlusCompressFileReader::IsCompressFile() { return m_pNode ? m_pNode->IsCompressed() : 0; }

int CHFSPlusCompressFileReader::ReadData(long long offset, char* buffer, unsigned int size, int*)
{
    if (!buffer || offset < 0)
        return 0;
    if (m_bPlain)
        return ReadPlain(offset, buffer, size);
    if (!Decode())
        return 0;
    if (static_cast<unsigned long long>(offset) >= m_vecData.size())
        return 0;
    const size_t take = std::min<size_t>(size, m_vecData.size() - static_cast<size_t>(offset));
    std::memcpy(buffer, m_vecData.data() + offset, take);
    return static_cast<int>(take);
}

int CHFSPlusCompressFileReader::ReadPlain(long long offset, char* buffer, unsigned int size)
{
    if (!m_pVolume || !m_pNode || !m_pVolume->GetVolumeHeader())
        return 0;
    IDataRunList* runs = m_pNode->GetDataRunList();
    const unsigned long long blockSize = m_pVolume->GetBlockSize();
    const long long fileSize = m_pNode->GetFileSize();
    if (!runs || blockSize == 0 || offset >= fileSize)
        return 0;
    const unsigned long long want =
        std::min<unsigned long long>({size, static_cast<unsigned long long>(fileSize - offset), 0x7FFFFFFFULL});
    const unsigned long long from = static_cast<unsigned long long>(offset);
    unsigned long long runAt = 0;  // file offset of the current run
    unsigned long long done = 0;
    for (DataRun* r = runs->GetFirst(); r && done < want; r = runs->GetNext()) {
        if (r->llStart < 0 || r->llLength <= 0)
            break;
        unsigned long long runBytes;
        if (__builtin_mul_overflow(static_cast<unsigned long long>(r->llLength), blockSize, &runBytes))
            break;
        const unsigned long long pos = from + done;
        if (pos >= runAt + runBytes) {
            runAt += runBytes;
            continue;
        }
        const unsigned long long within = pos - runAt;
        const unsigned long long n = std::min(runBytes - within, want - done);
        const unsigned long long got =
            m_pVolume->Read(static_cast<unsigned long long>(r->llStart) * blockSize + within, buffer + done, n);
        done += got;
        if (got != n)
            break;
        runAt += runBytes;
    }
    return static_cast<int>(done);
}

unsigned long long CHFSPlusCompressFileReader::VolumeBytes() const
{
    const HFSPlusVolumeHeader* header = m_pVolume->GetVolumeHeader();
    unsigned long long bytes = 0;
    if (!header || __builtin_mul_overflow(static_cast<unsigned long long>(header->totalBlocks),
                                          static_cast<unsigned long long>(header->blockSize), &bytes))
        return ULLONG_MAX;
    return bytes;
}

bool CHFSPlusCompressFileReader::ReadResourceFork(std::vector<unsigned char>& fork)
{
    IDataRunList* runs = m_pNode->GetDataRunList();
    const unsigned long long blockSize = m_pVolume->GetBlockSize();
    // The fork lies on the volume: it cannot be larger.
    const unsigned long long limit = std::min(kMaxFork, VolumeBytes());
    fork.clear();
    for (DataRun* r = runs->GetFirst(); r; r = runs->GetNext()) {
        if (r->llStart < 0 || r->llLength <= 0)
            break;
        unsigned long long bytes = 0;
        if (__builtin_mul_overflow(static_cast<unsigned long long>(r->llLength), blockSize, &bytes) ||
            bytes > limit - fork.size())
            return false;
        const size_t at = fork.size();
        fork.resize(at + bytes);
        const unsigned long long got =
            m_pVolume->Read(static_cast<unsigned long long>(r->llStart) * blockSize, fork.data() + at, bytes);
        if (got != bytes) {
            fork.resize(at + got);
            return false;
        }
    }
    return true;
}

namespace {

// Inflates one zlib stream onto the end of out. The buffer grows with what
// the stream gives, never past limit bytes, so a size claimed in a header
// costs no memory the data does not fill. False for a damaged stream.
bool InflateAppend(std::vector<unsigned char>& out, const unsigned char* in, size_t inSize, size_t limit)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = const_cast<unsigned char*>(in);
    z.avail_in = static_cast<uInt>(std::min<size_t>(inSize, UINT_MAX));
    int rc = Z_OK;
    while (rc == Z_OK && out.size() < limit) {
        const size_t at = out.size();
        const size_t grow = std::min({limit - at, std::max<size_t>(at, kDecodeStep), size_t{UINT_MAX}});
        out.resize(at + grow);
        z.next_out = out.data() + at;
        z.avail_out = static_cast<uInt>(grow);
        rc = inflate(&z, Z_NO_FLUSH);
        out.resize(at + (grow - z.avail_out));
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END || rc == Z_OK;
}

}  // namespace

bool CHFSPlusCompressFileReader::Decode()
{
    if (m_bDecoded)
        return true;
    if (!m_pVolume || !m_pVolume->GetVolumeHeader() || !m_pNode)
        return false;
    std::vector<unsigned char> attribute;
    m_pVolume->getAttribute(static_cast<unsigned int>(m_pNode->GetCurrentNodeID()), kDecmpfsName, attribute);
    if (attribute.size() < sizeof(HFSPlusDecmpfs))
        return false;
    const uint32_t type = ReadLE32(attribute.data() + 4);
    const unsigned long long total = ReadLE64(attribute.data() + 8);
    if (total > kMaxDecoded)
        return false;
    // The header's size is a claim: what is decoded stays within it and
    // within the volume, and memory is taken as the data comes.
    const size_t limit = static_cast<size_t>(std::min(total, VolumeBytes()));
    std::vector<unsigned char> out;
    const unsigned char* inlineData = attribute.data() + sizeof(HFSPlusDecmpfs);
    const size_t inlineSize = attribute.size() - sizeof(HFSPlusDecmpfs);

    if (type == 3) {
        // A first byte of 0xFF marks data stored without compression.
        if (inlineSize > 0 && (inlineData[0] & 0x0F) == 0x0F)
            out.assign(inlineData + 1, inlineData + 1 + std::min(inlineSize - 1, limit));
        else
            InflateAppend(out, inlineData, inlineSize, limit);
        if (out.size() != total)
            CatchExeception::WriteLog("decmpfs: size mismatch\n");
    } else if (type == 7) {
        if (inlineSize > 0 && inlineData[0] == 0x06) {
            out.assign(inlineData + 1, inlineData + 1 + std::min(inlineSize - 1, limit));
        } else {
            // The decoder wants 16 bytes of room even for a shorter file.
            std::vector<unsigned char> room(std::max<size_t>(limit, 16), 0);
            const size_t got = lzvn_decode(room.data(), room.size(), inlineData, inlineSize);
            room.resize(std::min(got, limit));
            out = std::move(room);
        }
    } else {
        if (!m_pNode->GetDataRunList()) {
            CatchExeception::WriteLog("%s decompress flag %d,got empty IDataRunList\n", "ReadData",
                                      static_cast<int>(type));
            return false;
        }
        std::vector<unsigned char> fork;
        ReadResourceFork(fork);
        if (type == 8) {
            if (fork.size() < 4)
                return false;
            const uint32_t tableBytes = ReadLE32(fork.data());
            const size_t entries = tableBytes / 4;
            if (tableBytes > fork.size() || entries < 2)
                return false;
            // Chunks decode to 64 KiB each; the room allows for more.
            std::vector<unsigned char> scratch(std::max<size_t>(std::min(limit, kChunkRoom), 16), 0);
            for (size_t i = 0; i + 1 < entries && out.size() < limit; ++i) {
                const uint32_t from = ReadLE32(fork.data() + 4 * i);
                const uint32_t to = ReadLE32(fork.data() + 4 * (i + 1));
                if (from > to || to > fork.size())
                    break;
                const size_t room = limit - out.size();
                const unsigned char* chunk = fork.data() + from;
                size_t got = 0;
                if (to > from && fork[from] == 0x06) {  // a chunk stored as it is
                    got = std::min<size_t>(to - from - 1, room);
                    ++chunk;
                } else {
                    got = std::min(lzvn_decode(scratch.data(), scratch.size(), chunk, to - from), room);
                    chunk = scratch.data();
                }
                if (got == 0)
                    break;
                out.insert(out.end(), chunk, chunk + got);
            }
        } else {
            if (fork.size() < sizeof(HFSPlusCmpfRsrcHead))
                return false;
            HFSPlusCmpfRsrcHead head;
            std::memcpy(&head, fork.data(), sizeof head);
            flipRsrcHead(&head);
            const unsigned long long tableAt = static_cast<unsigned long long>(head.dataOffset) + 4;
            if (tableAt + 4 > fork.size())
                return false;
            const uint32_t blocks = ReadLE32(fork.data() + tableAt);
            if (blocks > (fork.size() - tableAt - 4) / 8)
                return false;
            for (uint32_t i = 0; i < blocks && out.size() < limit; ++i) {
                const unsigned char* entry = fork.data() + tableAt + 4 + 8ull * i;
                const unsigned long long from = tableAt + ReadLE32(entry);
                const unsigned long long length = ReadLE32(entry + 4);
                if (from + length > fork.size() || length == 0)
                    break;
                const unsigned char* in = fork.data() + from;
                if ((in[0] & 0x0F) == 0x0F)
                    out.insert(out.end(), in + 1, in + 1 + std::min<size_t>(length - 1, limit - out.size()));
                else if (!InflateAppend(out, in, length, limit))
                    break;
            }
        }
    }
    m_vecData = std::move(out);
    m_bDecoded = true;
    return true;
}

// ---------------------------------------------------------------------------
// LZVN

namespace {

enum LzvnClass : uint8_t {
    kSmallDistance,
    kPreviousDistance,
    kLargeDistance,
    kMediumDistance,
    kSmallLiteral,
    kLargeLiteral,
    kSmallMatch,
    kLargeMatch,
    kEndOfStream,
    kNop,
    kUndefined,
};

struct LzvnTable {
    LzvnClass c[256];
    constexpr LzvnTable() : c()
    {
        for (int op = 0; op < 256; ++op) {
            LzvnClass k = kSmallDistance;
            if ((op & 7) == 6)
                k = (op >> 6) != 0 ? kPreviousDistance : kSmallDistance;
            if ((op & 7) == 7)
                k = kLargeDistance;
            if (op >= 0xA0 && op <= 0xBF)
                k = kMediumDistance;
            if (op >= 0xE1 && op <= 0xEF)
                k = kSmallLiteral;
            if (op == 0xE0)
                k = kLargeLiteral;
            if (op >= 0xF1)
                k = kSmallMatch;
            if (op == 0xF0)
                k = kLargeMatch;
            if (op == 0x06)
                k = kEndOfStream;
            if (op == 0x0E || op == 0x16)
                k = kNop;
            if (op == 0x1E || op == 0x26 || op == 0x2E || op == 0x36 || op == 0x3E || (op >= 0x70 && op <= 0x7F) ||
                (op >= 0xD0 && op <= 0xDF))
                k = kUndefined;
            c[op] = k;
        }
    }
};

constexpr LzvnTable lzvn_decode_caseTable;

}  // namespace

size_t lzvn_decode(void* dstVoid, unsigned long dstSize, const void* srcVoid, unsigned long srcSize)
{
    auto* dst = static_cast<unsigned char*>(dstVoid);
    const auto* src = static_cast<const unsigned char*>(srcVoid);
    if (!dst || !src || dstSize < 16)
        return 0;
    size_t out = 0, in = 0;
    size_t distance = 0;
    // The last 8 bytes of the input are padding no opcode may reach into.
    const size_t usable = srcSize >= 8 ? srcSize - 8 : 0;
    for (;;) {
        if (in >= srcSize)
            return 0;
        const unsigned char op = src[in];
        size_t opBytes = 1, literal = 0, match = 0;
        bool newDistance = false;
        size_t d = distance;
        const size_t available = srcSize - in;
        switch (lzvn_decode_caseTable.c[op]) {
        case kEndOfStream:
            return out;
        case kNop:
            ++in;
            continue;
        case kUndefined:
            return 0;
        case kSmallDistance:
            if (available < 2)
                return 0;
            opBytes = 2;
            literal = op >> 6;
            match = ((op >> 3) & 7) + 3;
            d = (static_cast<size_t>(op & 7) << 8) | src[in + 1];
            newDistance = true;
            break;
        case kPreviousDistance:
            literal = op >> 6;
            match = ((op >> 3) & 7) + 3;
            break;
        case kLargeDistance:
            if (available < 3)
                return 0;
            opBytes = 3;
            literal = op >> 6;
            match = ((op >> 3) & 7) + 3;
            d = ReadLE16(src + in + 1);
            newDistance = true;
            break;
        case kMediumDistance: {
            if (available < 3)
                return 0;
            opBytes = 3;
            const uint16_t word = ReadLE16(src + in + 1);
            literal = (op >> 3) & 3;
            match = ((static_cast<size_t>(op & 7) << 2) | (word & 3)) + 3;
            d = word >> 2;
            newDistance = true;
            break;
        }
        case kSmallLiteral:
            literal = op & 0x0F;
            break;
        case kLargeLiteral:
            if (available < 2)
                return 0;
            opBytes = 2;
            literal = static_cast<size_t>(src[in + 1]) + 16;
            break;
        case kSmallMatch:
            match = op & 0x0F;
            break;
        case kLargeMatch:
            if (available < 2)
                return 0;
            opBytes = 2;
            match = static_cast<size_t>(src[in + 1]) + 16;
            break;
        }
        if (in + opBytes + literal > usable)
            return 0;
        in += opBytes;
        for (size_t i = 0; i < literal; ++i) {
            if (out == dstSize)
                return dstSize;
            dst[out++] = src[in++];
        }
        if (match == 0)
            continue;
        if (newDistance)
            distance = d;
        if (distance == 0 || distance > out)
            return 0;
        for (size_t i = 0; i < match; ++i) {
            if (out == dstSize)
                return dstSize;
            dst[out] = dst[out - distance];
            ++out;
        }
    }
}
