#include "CompressFileReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "InvokingUser.h"
#include "Log.h"

namespace {

// Stored pieces are copied in slices of this size.
constexpr long long kCopySlice = 1 << 20;

unsigned int Le16(const unsigned char* p) { return p[0] | (static_cast<unsigned int>(p[1]) << 8); }

}  // namespace

CCompressFileReader::CCompressFileReader(const CCompressFileReader& other)
    : CFileReader(other),
      m_pProgress(other.m_pProgress),
      m_pMemBuffer(other.m_pMemBuffer),
      m_iMemCapacity(other.m_iMemCapacity),
      m_bMemoryMode(other.m_bMemoryMode),
      m_iMemFill(other.m_iMemFill)
{
}

CCompressFileReader::~CCompressFileReader()
{
    if (m_iOutFd >= 0)
        close(m_iOutFd);
}

IFileReader* CCompressFileReader::Clone() { return new CCompressFileReader(*this); }

long long CCompressFileReader::ClusterBytes() const
{
    return static_cast<long long>(m_iSectorsPerUnit) * DeviceSectorSize();
}

int CCompressFileReader::ReGroupCompressDataRunList(IDataRunList* runs, std::list<tagCompressDataRun>& pieces)
{
    pieces.clear();
    if (!runs)
        return 0;
    // Units past the end of the file are never written: a damaged extent of
    // 2^50 clusters must not become 2^46 pieces.
    const long long cluster = ClusterBytes();
    long long limit = LLONG_MAX;
    if (m_llDataSize > 0 && cluster > 0)
        limit = m_llDataSize / cluster + (m_llDataSize % cluster ? 1 : 0);

    std::list<tagCompressDataRun> pending;
    int room = kUnitClusters;
    long long emitted = 0;
    for (DataRun* run = runs->GetFirst(); run && emitted < limit; run = runs->GetNext()) {
        if (run->llLength <= 0)
            continue;
        const bool sparse = run->llStart < 0;
        long long left = run->llLength;
        long long taken = 0;
        auto position = [&]() -> long long {
            long long p;
            if (sparse)
                return -1;
            return __builtin_add_overflow(run->llStart, taken, &p) ? LLONG_MAX : p;
        };
        while (left >= room && emitted < limit) {
            tagCompressUnitType kind = sparse ? (room == kUnitClusters ? SPARSE_UNIT : COMPRESSED_UNIT)
                                              : NONECOMPRESSED_UNIT;
            for (tagCompressDataRun& p : pending)
                p.eType = kind;
            pieces.splice(pieces.end(), pending);
            pieces.push_back({position(), room, kind});
            taken += room;
            left -= room;
            room = kUnitClusters;
            emitted += kUnitClusters;
        }
        if (left > 0 && emitted < limit) {
            pending.push_back({position(), static_cast<int>(left), NONECOMPRESSED_UNIT});
            room -= static_cast<int>(left);
        }
    }
    // A last unit that the extents leave short: with sparse clusters in it,
    // its real clusters hold LZNT1 data like any other compressed unit's.
    bool hasSparse = false;
    for (const tagCompressDataRun& p : pending)
        hasSparse = hasSparse || p.s64LCN == -1;
    for (tagCompressDataRun& p : pending)
        p.eType = hasSparse ? COMPRESSED_UNIT : NONECOMPRESSED_UNIT;
    pieces.splice(pieces.end(), pending);
    return 1;
}

bool CCompressFileReader::PutOut(const unsigned char* data, long long n)
{
    if (n <= 0)
        return true;
    if (m_bMemoryMode) {
        const long long from = std::max(m_llOutPos, m_llMemSkip);
        const long long to = std::min(m_llOutPos + n, m_llMemSkip + m_iMemCapacity);
        if (from < to) {
            unsigned char* dst = m_pMemBuffer + (from - m_llMemSkip);
            if (data)
                std::memcpy(dst, data + (from - m_llOutPos), static_cast<size_t>(to - from));
            else
                std::memset(dst, 0, static_cast<size_t>(to - from));
            m_iMemFill = std::max(m_iMemFill, static_cast<int>(to - m_llMemSkip));
        }
        m_llOutPos += n;
        return true;
    }
    // Zeros become a hole; the file gets its full length at the end.
    long long done = 0;
    while (data && done < n) {
        ssize_t w = pwrite(m_iOutFd, data + done, static_cast<size_t>(n - done), m_llOutPos + done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            m_bWriteFailed = true;
            return false;
        }
        done += w;
    }
    m_llOutPos += n;
    return true;
}

long long CCompressFileReader::RecoverCompressFileSparseUnit(const tagCompressDataRun& piece, long long size)
{
    long long n = std::min(static_cast<long long>(piece.iCount) * ClusterBytes(), size);
    return PutOut(nullptr, n) ? n : -1;
}

long long CCompressFileReader::RecoverCompressFileUnCompressUnit(const tagCompressDataRun& piece, long long size)
{
    const long long n = std::min(static_cast<long long>(piece.iCount) * ClusterBytes(), size);
    // A piece with no place on the disk, or wholly before the bytes a
    // memory read wants, gives zeros.
    if (piece.s64LCN <= 0 || (m_bMemoryMode && m_llOutPos + n <= m_llMemSkip))
        return PutOut(nullptr, n) ? n : -1;
    for (long long done = 0; done < n;) {
        long long slice = std::min(kCopySlice, n - done);
        m_vecIn.resize(static_cast<size_t>(slice));
        // A failed read gives zeros, and the copy goes on.
        if (!ReadUnitBytes(piece.s64LCN, done, m_vecIn.data(), slice))
            std::fill(m_vecIn.begin(), m_vecIn.end(), 0);
        if (!PutOut(m_vecIn.data(), slice))
            return -1;
        done += slice;
    }
    return n;
}

long long CCompressFileReader::RecoverCompressFileCompressUnit(std::list<tagCompressDataRun>::const_iterator first,
                                                               std::list<tagCompressDataRun>::const_iterator last,
                                                               long long size)
{
    const long long cluster = ClusterBytes();
    if (cluster > kChunkSize) {
        // Compression is only defined for clusters of at most 4 KiB; a unit
        // would not fit the unit buffers.
        CatchExeception::WriteLog("%s %d\r\n", "RecoverCompressFileCompressUnit", __LINE__);
        return -1;
    }
    long long clusters = 0;
    for (auto it = first; it != last; ++it)
        clusters += it->iCount;
    const long long n = std::min({clusters * cluster, static_cast<long long>(kMaxUnitBytes), size});
    if (m_bMemoryMode && m_llOutPos + n <= m_llMemSkip)
        return PutOut(nullptr, n) ? n : -1;

    m_vecIn.assign(kMaxUnitBytes, 0);
    long long filled = 0;
    for (auto it = first; it != last && filled < kMaxUnitBytes; ++it) {
        if (it->s64LCN <= 0)
            continue;  // sparse padding of the unit
        long long bytes = std::min(static_cast<long long>(it->iCount) * cluster, kMaxUnitBytes - filled);
        // A failed read leaves zeros; the unit is decoded from what is there.
        if (!ReadUnitBytes(it->s64LCN, 0, m_vecIn.data() + filled, bytes))
            std::fill_n(m_vecIn.begin() + filled, bytes, 0);
        filled += bytes;
    }

    // Chunk k of a unit always decodes to bytes [4096 k, 4096 (k + 1)); a
    // short or damaged chunk leaves zeros, so later data keeps its place.
    m_vecOut.assign(kMaxUnitBytes, 0);
    const unsigned char* in = m_vecIn.data();
    if (filled >= 2 && Le16(in) == 0) {
        std::memcpy(m_vecOut.data(), in, static_cast<size_t>(filled));
    } else {
        long long pos = 0;
        for (int k = 0; k < kMaxUnitBytes / kChunkSize && pos + 2 <= filled; ++k) {
            unsigned int header = Le16(in + pos);
            if (header == 0)
                break;
            long long chunk = (header & 0xFFF) + 3;
            int available = static_cast<int>(std::min(chunk, filled - pos));
            DecompressBlock(m_vecOut.data() + static_cast<size_t>(k) * kChunkSize, available, in + pos);
            pos += chunk;
        }
    }
    return PutOut(m_vecOut.data(), n) ? n : -1;
}

int CCompressFileReader::RecoverCompressFile(const std::list<tagCompressDataRun>& pieces, long long size)
{
    m_bStopped = false;
    m_bWriteFailed = false;
    m_bEndedShort = false;
    _PROGRESS_INFO info{};
    info.u64Total = static_cast<uint64_t>(m_llDataSize);
    long long remaining = size;
    long long vcn = 0;
    auto it = pieces.begin();
    while (remaining > 0 && it != pieces.end()) {
        if (m_pProgress && !m_pProgress->Continued()) {
            m_bStopped = true;
            break;
        }
        long long put;
        if (it->eType == COMPRESSED_UNIT) {
            // The pieces of this compression unit: up to the next 16-cluster
            // boundary of the file.
            const long long unitEnd = (vcn / kUnitClusters + 1) * kUnitClusters;
            auto last = it;
            long long v = vcn;
            while (last != pieces.end() && last->eType == COMPRESSED_UNIT && v < unitEnd) {
                v += last->iCount;
                ++last;
            }
            put = RecoverCompressFileCompressUnit(it, last, remaining);
            vcn = v;
            it = last;
        } else {
            put = it->eType == SPARSE_UNIT ? RecoverCompressFileSparseUnit(*it, remaining)
                                           : RecoverCompressFileUnCompressUnit(*it, remaining);
            vcn += it->iCount;
            ++it;
        }
        if (put < 0)
            return 0;
        remaining -= put;
        info.u64Done += static_cast<uint64_t>(put);
        if (m_pProgress)
            m_pProgress->UpdateProgress(&info);
    }
    m_bEndedShort = remaining > 0 && !m_bStopped;
    return 1;
}

int CCompressFileReader::Recovery(const char* path, IProgress* progress, bool& fallback)
{
    fallback = false;
    if (!path || !m_pDataRunList)
        return 0;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        CatchExeception::WriteLog("%s %d\r\n", "Recovery", __LINE__);
        return 0;
    }
    GiveToInvokingUser(fd);
    if (m_iOutFd >= 0)
        close(m_iOutFd);
    m_iOutFd = fd;
    m_pProgress = progress;
    m_llOutPos = 0;
    m_llMemSkip = 0;
    m_bMemoryMode = false;

    int ok = 1;
    if (m_bResident) {
        fallback = true;
    } else {
        std::list<tagCompressDataRun> pieces;
        ReGroupCompressDataRunList(m_pDataRunList, pieces);
        ok = RecoverCompressFile(pieces, m_llDataSize);
        // Trailing zeros are a hole until the file gets its length; a stopped
        // copy keeps what was put out.
        if (ok && ftruncate(fd, m_bStopped || m_bEndedShort ? m_llOutPos : m_llDataSize) != 0)
            ok = 0;
    }
    m_iOutFd = -1;
    if (close(fd) != 0 || m_bWriteFailed)
        ok = 0;
    if (!ok)
        CatchExeception::WriteLog("%s %d\r\n", "Recovery", __LINE__);
    return ok;
}

int CCompressFileReader::Recovery(char* buffer, int size, IProgress* progress)
{
    if (!buffer || size <= 0 || !m_pDataRunList || m_bResident)
        return 0;
    m_pProgress = progress;
    m_pMemBuffer = reinterpret_cast<unsigned char*>(buffer);
    m_iMemCapacity = size;
    m_iMemFill = 0;
    m_llMemSkip = 0;
    m_llOutPos = 0;
    m_bMemoryMode = true;
    std::list<tagCompressDataRun> pieces;
    ReGroupCompressDataRunList(m_pDataRunList, pieces);
    int ok = RecoverCompressFile(pieces, std::min<long long>(size, m_llDataSize));
    m_bMemoryMode = false;
    return ok;
}

int CCompressFileReader::ReadData(long long offset, char* buffer, unsigned int size)
{
    if (!buffer || offset < 0 || offset >= m_llDataSize)
        return 0;
    const long long want = std::min({static_cast<long long>(size), m_llDataSize - offset,
                                     static_cast<long long>(INT_MAX)});
    if (m_pDataRunList && !m_bResident) {
        // Decode only as far as the end of the range, into the caller's buffer.
        IProgress* keptSink = m_pProgress;
        m_pProgress = nullptr;
        m_pMemBuffer = reinterpret_cast<unsigned char*>(buffer);
        m_iMemCapacity = static_cast<int>(want);
        m_iMemFill = 0;
        m_llMemSkip = offset;
        m_llOutPos = 0;
        m_bMemoryMode = true;
        std::list<tagCompressDataRun> pieces;
        ReGroupCompressDataRunList(m_pDataRunList, pieces);
        int ok = RecoverCompressFile(pieces, offset + want);
        m_bMemoryMode = false;
        m_llMemSkip = 0;
        m_pProgress = keptSink;
        if (ok) {
            if (m_iMemFill < want)
                std::memset(buffer + m_iMemFill, 0, static_cast<size_t>(want - m_iMemFill));
            return static_cast<int>(want);
        }
    }
    int got = 0;
    if (!Read(offset, reinterpret_cast<unsigned char*>(buffer), static_cast<int>(want), got, nullptr))
        return 0;
    return got;
}

int CCompressFileReader::DecompressBlock(unsigned char* out, int inSize, const unsigned char* in)
{
    if (!out || !in || inSize < 2)
        return 0;
    const unsigned int header = Le16(in);
    const int end = std::min(static_cast<int>(header & 0xFFF) + 3, inSize);
    if (!(header & 0x8000)) {
        int n = std::min({static_cast<int>(header & 0xFFF) + 1, end - 2, kChunkSize});
        std::memcpy(out, in + 2, static_cast<size_t>(n));
        return n;
    }
    int pos = 2;
    int p = 0;
    while (pos < end && p < kChunkSize) {
        unsigned int flags = in[pos++];
        for (int bit = 0; bit < 8 && pos < end && p < kChunkSize; ++bit, flags >>= 1) {
            if (!(flags & 1)) {
                out[p++] = in[pos++];
                continue;
            }
            if (pos + 1 >= end) {
                pos = end;
                break;
            }
            const unsigned int token = Le16(in + pos);
            pos += 2;
            // The split between length and displacement bits widens as the
            // chunk's output grows.
            int k = 0;
            for (int x = p - 1; x > 15; x >>= 1)
                ++k;
            const int length = static_cast<int>(token & (0xFFFu >> k)) + 3;
            const int displacement = static_cast<int>(token >> (12 - k)) + 1;
            const int n = std::min(length, kChunkSize - p);
            if (displacement <= p && displacement >= n) {
                std::memcpy(out + p, out + p - displacement, static_cast<size_t>(n));
                p += n;
            } else {
                for (int i = 0; i < n; ++i, ++p)
                    out[p] = p - displacement >= 0 ? out[p - displacement] : 0;
            }
        }
    }
    return p;
}
