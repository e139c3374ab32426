#include "RSData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "CRC.h"
#include "ResultCode.h"

namespace {

// Offsets inside the stored file header.
constexpr unsigned kHdrSign = 0;
constexpr unsigned kHdrFormat = 16;
constexpr unsigned kHdrCRC = 20;
constexpr unsigned kHdrStatus = 24;
constexpr unsigned kHdrDescLength = 28;
constexpr unsigned kHdrDesc = 32;
static_assert(kHdrDesc + kRSDescriptionMax == kRSFileHeaderSize);

// Offsets inside a stored frame header.
constexpr unsigned kFrmSign = 0;
constexpr unsigned kFrmId = 16;
constexpr unsigned kFrmSize = 32;
static_assert(kFrmSize + 4 == kRSFrameHeaderSize);

void StoreU32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

uint32_t LoadU32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void StoreHeader(const FILEHEADER& h, unsigned char (&raw)[kRSFileHeaderSize])
{
    std::memcpy(raw + kHdrSign, h.guidSign.u8Bytes, 16);
    StoreU32(raw + kHdrFormat, h.dwFormat);
    StoreU32(raw + kHdrCRC, h.dwCRC);
    StoreU32(raw + kHdrStatus, h.eStatus);
    StoreU32(raw + kHdrDescLength, h.dwDescriptionLength);
    std::memcpy(raw + kHdrDesc, h.szDescription, kRSDescriptionMax);
}

void LoadHeader(const unsigned char (&raw)[kRSFileHeaderSize], FILEHEADER& h)
{
    std::memcpy(h.guidSign.u8Bytes, raw + kHdrSign, 16);
    h.dwFormat = LoadU32(raw + kHdrFormat);
    h.dwCRC = LoadU32(raw + kHdrCRC);
    h.eStatus = static_cast<FileStatus>(LoadU32(raw + kHdrStatus));
    h.dwDescriptionLength = LoadU32(raw + kHdrDescLength);
    std::memcpy(h.szDescription, raw + kHdrDesc, kRSDescriptionMax);
}

// CRC of the stored header with its checksum field taken as zero.
uint32_t HeaderCRC(const unsigned char (&raw)[kRSFileHeaderSize])
{
    unsigned char copy[kRSFileHeaderSize];
    std::memcpy(copy, raw, sizeof(copy));
    StoreU32(copy + kHdrCRC, 0);
    return CCRC::RunCRC16(copy, sizeof(copy), kRSCrcPolynomial);
}

// Parses the stored header into h (its checksum replaced by the computed
// one); true when the stored checksum word and the format number are right.
bool CheckHeader(const unsigned char (&raw)[kRSFileHeaderSize], FILEHEADER& h)
{
    LoadHeader(raw, h);
    const uint32_t stored = h.dwCRC;
    h.dwCRC = HeaderCRC(raw);
    return stored == h.dwCRC && h.dwFormat == kRSFormatNumber;
}

void StoreFrameHeader(const tagGUIDSIGN& sign, const tagGUIDSIGN& id, uint32_t size,
                      unsigned char (&raw)[kRSFrameHeaderSize])
{
    std::memcpy(raw + kFrmSign, sign.u8Bytes, 16);
    std::memcpy(raw + kFrmId, id.u8Bytes, 16);
    StoreU32(raw + kFrmSize, size);
}

[[noreturn]] void Throw(unsigned int error)
{
    throw CRSException(error);
}

void StoreU64(unsigned char* p, uint64_t v)
{
    StoreU32(p, static_cast<uint32_t>(v));
    StoreU32(p + 4, static_cast<uint32_t>(v >> 32));
}

uint64_t LoadU64(const unsigned char* p)
{
    return static_cast<uint64_t>(LoadU32(p)) | (static_cast<uint64_t>(LoadU32(p + 4)) << 32);
}

// No writer lists more frames than this; a larger count is damage.
constexpr uint32_t kMaxChecksumEntries = 65536;

// Where a file being written under another name lives until it is committed:
// beside the target, so that the rename stays on one file system.
std::string ReplacementName(const std::string& target, unsigned int attempt)
{
    static std::atomic<unsigned int> s_counter{0};
    const size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    return dir + "." + base + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(s_counter++) + "-" +
           std::to_string(attempt);
}

// Pushes a rename in dir to the storage device; failure changes nothing the
// caller can act on.
void SyncFolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/")
                                                                                       : path.substr(0, slash);
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

}  // namespace

CRSData::CRSData(RSMode mode) : m_eMode(mode) {}

CRSData::~CRSData()
{
    DiscardReplacement();
}

void CRSData::DiscardReplacement()
{
    if (m_strTarget.empty())
        return;
    const std::string temp = m_file.GetPath();
    m_file.Close();
    if (!temp.empty())
        unlink(temp.c_str());
    m_strTarget.clear();
}

void CRSData::ClearFrame()
{
    m_bFrameOpen = false;
    m_curFrame = FRAMEHEADER();
    m_u64FramePos = 0;
    m_dwFrameRead = 0;
    m_dwFrameAvailable = 0;
}

void CRSData::Reset()
{
    if (m_file.IsOpen())
        EndRS();
    ClearFrame();
    m_vecSums.clear();
    m_bChecksumWritten = false;
}

int CRSData::StartRS(const char* path, int truncate)
{
    Reset();
    if (!path || !*path)
        return 0;
    int mode = CStdFile::OPEN_READ;
    if (m_eMode == RS_MODE_WRITE)
        mode = truncate ? CStdFile::OPEN_CREATE_TRUNCATE : CStdFile::OPEN_READWRITE_KEEP;
    m_file.Open(path, mode);
    return m_file.IsOpen() ? 1 : 0;
}

int CRSData::StartRSReplacing(const char* path)
{
    if (m_eMode != RS_MODE_WRITE || !path || !*path)
        return 0;
    struct stat st;
    const bool exists = lstat(path, &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        return StartRS(path, 1);
    Reset();
    for (unsigned int attempt = 0; attempt < 64; ++attempt) {
        const std::string name = ReplacementName(path, attempt);
        if (m_file.CreateNew(name.c_str())) {
            // The result that replaces a file keeps that file's permissions.
            if (exists)
                chmod(name.c_str(), st.st_mode & 07777);
            m_strTarget = path;
            return 1;
        }
        if (errno != EEXIST)
            return 0;
    }
    return 0;
}

int CRSData::EndRS()
{
    ClearFrame();
    if (!m_strTarget.empty()) {
        // Never committed: the half-made file goes, the target stays.
        DiscardReplacement();
        return 1;
    }
    return m_file.Close();
}

int CRSData::WriteChecksumFrame()
{
    if (m_eMode != RS_MODE_WRITE || !m_file.IsOpen() || m_bChecksumWritten)
        return 0;
    if (m_bFrameOpen)
        CloseFrame();
    std::vector<unsigned char> payload(m_vecSums.size() * kRSChecksumEntrySize + kRSChecksumTrailerSize);
    unsigned char* p = payload.data();
    for (const FRAMESUM& sum : m_vecSums) {
        std::memcpy(p, sum.guidId.u8Bytes, 16);
        StoreU64(p + 16, sum.u64Offset);
        StoreU32(p + 24, sum.dwLength);
        StoreU32(p + 28, sum.dwCRC);
        p += kRSChecksumEntrySize;
    }
    StoreU32(p, static_cast<uint32_t>(m_vecSums.size()));
    StoreU32(p + 4, CCRC::RunCRC32(0, payload.data(), payload.size() - 4));

    unsigned char raw[kRSFrameHeaderSize];
    StoreFrameHeader(_frSignPub, _frFrameChecksums, static_cast<uint32_t>(payload.size()), raw);
    const bool ok = m_file.SeekToEnd() >= 0 && m_file.Write(raw, sizeof(raw)) &&
                    m_file.Write(payload.data(), static_cast<unsigned int>(payload.size())) && m_file.Flush();
    m_bChecksumWritten = ok;
    return ok ? 1 : 0;
}

int CRSData::CommitRS()
{
    if (m_eMode != RS_MODE_WRITE || !m_file.IsOpen())
        return 0;
    bool ok = true;
    try {
        ok = m_bChecksumWritten || WriteChecksumFrame() == 1;
    } catch (const CRSException&) {
        ok = false;
    }
    ok = m_file.Sync() == 1 && ok;
    const std::string written = m_file.GetPath();
    ClearFrame();
    ok = m_file.Close() == 1 && ok;
    if (m_strTarget.empty())
        return ok ? 1 : 0;
    const std::string target = std::move(m_strTarget);
    m_strTarget.clear();
    if (ok && rename(written.c_str(), target.c_str()) == 0) {
        SyncFolderOf(target);
        return 1;
    }
    unlink(written.c_str());
    return 0;
}

int CRSData::CheckFile()
{
    unsigned char raw[kRSFileHeaderSize];
    if (m_file.Read(raw, sizeof(raw)) != sizeof(raw))
        return 0;
    FILEHEADER h;
    LoadHeader(raw, h);
    return h.guidSign == _frSignPub && h.eStatus >= RS_STATUS_FIRST && h.eStatus <= RS_STATUS_LAST;
}

unsigned int CRSData::ReadHeaderBytes(unsigned char (&raw)[kRSFileHeaderSize])
{
    if (!m_file.Seek(0))
        return 0;
    return m_file.Read(raw, kRSFileHeaderSize);
}

int CRSData::WriteHeader(const FILEHEADER& header)
{
    FILEHEADER h = header;
    h.dwFormat = kRSFormatNumber;
    h.dwCRC = 0;
    unsigned char raw[kRSFileHeaderSize];
    StoreHeader(h, raw);
    StoreU32(raw + kHdrCRC, HeaderCRC(raw));
    // Pushed to the file at once so that a failure is this call's result.
    return m_file.Seek(0) && m_file.Write(raw, sizeof(raw)) && m_file.Flush() ? 1 : 0;
}

int CRSData::WriteFileHeader(const FILEHEADER& header)
{
    if (m_eMode != RS_MODE_WRITE)
        return 0;
    return WriteHeader(header);
}

int CRSData::ReadFileHeader(FILEHEADER& header)
{
    unsigned char raw[kRSFileHeaderSize];
    if (ReadHeaderBytes(raw) != sizeof(raw))
        return 0;
    return CheckHeader(raw, header) ? 1 : 0;
}

FileStatus CRSData::GetStatus()
{
    if (m_eMode == RS_MODE_WRITE)
        Throw(RS_ERROR_WRONG_MODE);
    unsigned char raw[kRSFileHeaderSize];
    const unsigned int got = ReadHeaderBytes(raw);
    FILEHEADER h;
    if (got == sizeof(raw) && CheckHeader(raw, h)) {
        if (h.eStatus > RS_STATUS_LAST)
            Throw(RS_ERROR_CORRUPT_HEADER);
        return h.eStatus;
    }
    // A header that fails its check still tells its status word, when present.
    if (got >= kHdrStatus + 4)
        return static_cast<FileStatus>(LoadU32(raw + kHdrStatus));
    return RS_STATUS_NONE;
}

int CRSData::SetStatus(FileStatus status)
{
    if (m_eMode != RS_MODE_WRITE)
        Throw(RS_ERROR_WRONG_MODE);
    FILEHEADER h;
    if (!ReadFileHeader(h))
        h = FILEHEADER();
    h.eStatus = status;
    return WriteHeader(h);
}

int CRSData::SetFileDescription(const char* text)
{
    if (m_eMode != RS_MODE_WRITE)
        Throw(RS_ERROR_WRONG_MODE);
    FILEHEADER h;
    if (!text || !ReadFileHeader(h))
        return 0;
    const size_t length = strnlen(text, kRSDescriptionMax);
    std::memset(h.szDescription, 0, sizeof(h.szDescription));
    std::memcpy(h.szDescription, text, length);
    h.dwDescriptionLength = static_cast<uint32_t>(length);
    return WriteHeader(h);
}

int CRSData::GetFileDescription(char* buffer, int size)
{
    if (!buffer || size < 1)
        return 0;
    if (m_eMode != RS_MODE_READ)
        Throw(RS_ERROR_WRONG_MODE);
    FILEHEADER h;
    if (!ReadFileHeader(h))
        return 0;
    if (h.dwDescriptionLength > kRSDescriptionMax)
        Throw(RS_ERROR_CORRUPT_HEADER);
    const size_t n = std::min<size_t>(h.dwDescriptionLength, static_cast<size_t>(size) - 1);
    std::memcpy(buffer, h.szDescription, n);
    buffer[n] = '\0';
    return 1;
}

int CRSData::OpenFrame(const tagGUIDSIGN& id)
{
    if (m_bFrameOpen)
        CloseFrame();
    if (m_eMode != RS_MODE_WRITE)
        return FindFrame(id);

    const long long end = m_file.SeekToEnd();
    unsigned char raw[kRSFrameHeaderSize];
    StoreFrameHeader(_frSignPub, id, 0, raw);
    if (end < 0 || !m_file.Write(raw, sizeof(raw)))
        Throw(RS_ERROR_WRITE_FAILED);
    m_curFrame.guidSign = _frSignPub;
    m_curFrame.guidId = id;
    m_curFrame.dwSize = 0;
    m_u64FramePos = static_cast<unsigned long long>(end);
    m_dwFrameRead = 0;
    m_file.StartWriteCRC(end + kRSFrameHeaderSize);
    m_bFrameOpen = true;
    return 1;
}

int CRSData::FindFrame(const tagGUIDSIGN& id)
{
    ClearFrame();
    const long long length = m_file.GetLength();
    if (length < 0)
        return 0;
    const auto fileLength = static_cast<unsigned long long>(length);

    // Sizes in the file are untrusted: each step moves at least one frame
    // header forward and the walk ends where no whole frame header is left.
    unsigned long long pos = kRSFileHeaderSize;
    while (fileLength >= pos && fileLength - pos >= kRSFrameHeaderSize) {
        unsigned char raw[kRSFrameHeaderSize];
        if (!m_file.Seek(static_cast<long long>(pos)) || m_file.Read(raw, sizeof(raw)) != sizeof(raw))
            break;
        FRAMEHEADER frame;
        std::memcpy(frame.guidSign.u8Bytes, raw + kFrmSign, 16);
        std::memcpy(frame.guidId.u8Bytes, raw + kFrmId, 16);
        frame.dwSize = LoadU32(raw + kFrmSize);
        const unsigned long long payloadStart = pos + kRSFrameHeaderSize;
        if (frame.guidSign == _frSignPub && frame.guidId == id) {
            m_curFrame = frame;
            m_u64FramePos = pos;
            m_dwFrameRead = 0;
            m_dwFrameAvailable = static_cast<unsigned int>(
                std::min<unsigned long long>(frame.dwSize, fileLength - payloadStart));
            m_bFrameOpen = true;
            return 1;
        }
        pos = payloadStart + frame.dwSize;
    }
    return 0;
}

int CRSData::CloseFrame()
{
    if (!m_bFrameOpen)
        return 1;
    if (m_eMode != RS_MODE_WRITE) {
        ClearFrame();
        return 1;
    }
    m_vecSums.push_back({m_curFrame.guidId, m_u64FramePos, m_curFrame.dwSize, m_file.TakeWriteCRC()});
    unsigned char raw[kRSFrameHeaderSize];
    StoreFrameHeader(m_curFrame.guidSign, m_curFrame.guidId, m_curFrame.dwSize, raw);
    bool ok = m_file.Flush() && m_file.Seek(static_cast<long long>(m_u64FramePos)) &&
              m_file.Write(raw, sizeof(raw)) && m_file.Flush();
    ok = m_file.SeekToEnd() >= 0 && ok;
    ClearFrame();
    if (!ok)
        Throw(RS_ERROR_WRITE_FAILED);
    return 1;
}

unsigned int CRSData::GetFrameSize()
{
    if (!m_bFrameOpen)
        Throw(RS_ERROR_NO_FRAME_OPEN);
    return m_curFrame.dwSize;
}

unsigned long long CRSData::FrameCursor() const
{
    const unsigned int done = m_eMode == RS_MODE_WRITE ? m_curFrame.dwSize : m_dwFrameRead;
    return m_u64FramePos + kRSFrameHeaderSize + done;
}

// Header operations move the file position; frame data always continues where
// the open frame left off.
bool CRSData::MoveToFrameCursor()
{
    const auto cursor = static_cast<long long>(FrameCursor());
    return m_file.GetPosition() == cursor || m_file.Seek(cursor);
}

void CRSData::CheckReadable()
{
    if (m_eMode == RS_MODE_WRITE)
        Throw(RS_ERROR_WRONG_MODE);
    if (!m_bFrameOpen)
        Throw(RS_ERROR_NO_FRAME_OPEN);
}

int CRSData::ReadCurFrame(void* buffer, unsigned int size)
{
    CheckReadable();
    const unsigned int want = std::min(size, m_curFrame.dwSize - m_dwFrameRead);
    if (want == 0)
        return 1;
    VANTREL_ASSERT(buffer != nullptr);
    unsigned int got = 0;
    if (MoveToFrameCursor())
        got = m_file.Read(buffer, want);
    m_dwFrameRead += want;
    if (got < want)
        Throw(RS_ERROR_SHORT_READ);
    return 1;
}

unsigned int CRSData::GetFrameRemaining()
{
    CheckReadable();
    return m_dwFrameAvailable > m_dwFrameRead ? m_dwFrameAvailable - m_dwFrameRead : 0;
}

int CRSData::ReadCurFrameExact(void* buffer, unsigned int size)
{
    if (size > GetFrameRemaining())
        Throw(RS_ERROR_SHORT_READ);
    if (size == 0)
        return 1;
    VANTREL_ASSERT(buffer != nullptr);
    if (!MoveToFrameCursor() || m_file.Read(buffer, size) != size)
        Throw(RS_ERROR_SHORT_READ);
    m_dwFrameRead += size;
    return 1;
}

int CRSData::WriteCurFrame(const void* data, unsigned int size)
{
    // A failed write leaves the stream failed; the payload's writer sees 0.
    if (m_file.IsFailed())
        return 0;
    if (m_eMode != RS_MODE_WRITE)
        Throw(RS_ERROR_WRONG_MODE);
    if (!m_bFrameOpen)
        Throw(RS_ERROR_NO_FRAME_OPEN);
    // The stored size is 32 bits wide; a payload that would pass it is
    // refused rather than recorded with a wrapped size.
    if (size > std::numeric_limits<uint32_t>::max() - m_curFrame.dwSize)
        Throw(RS_ERROR_WRITE_FAILED);
    if (size == 0)
        return 1;
    VANTREL_ASSERT(data != nullptr);
    if (!MoveToFrameCursor() || !m_file.Write(data, size))
        return 0;
    m_curFrame.dwSize += size;
    return 1;
}

bool CRSData::FileCRC(unsigned long long offset, unsigned long long length, uint32_t& crc)
{
    // Whole buffers go straight from the file into this one.
    std::vector<unsigned char> block(static_cast<size_t>(std::min<unsigned long long>(length, CStdFile::kBufferSize)));
    crc = 0;
    if (!m_file.Seek(static_cast<long long>(offset)))
        return false;
    while (length > 0) {
        const auto n = static_cast<unsigned int>(std::min<unsigned long long>(length, block.size()));
        if (m_file.Read(block.data(), n) != n)
            return false;
        crc = CCRC::RunCRC32(crc, block.data(), n);
        length -= n;
    }
    return true;
}

RSIntegrity CRSData::CheckIntegrity(RSIntegrityReport& report)
{
    report = RSIntegrityReport();
    if (m_eMode != RS_MODE_READ)
        Throw(RS_ERROR_WRONG_MODE);
    ClearFrame();
    auto damaged = [&report](const tagGUIDSIGN& id) {
        report.eState = RS_INTEGRITY_DAMAGED;
        if (std::find(report.vecDamaged.begin(), report.vecDamaged.end(), id) == report.vecDamaged.end())
            report.vecDamaged.push_back(id);
        return report.eState;
    };
    const long long length = m_file.GetLength();
    if (length < static_cast<long long>(kRSFileHeaderSize)) {
        report.bTruncated = true;
        report.eState = RS_INTEGRITY_DAMAGED;
        return report.eState;
    }
    const auto fileLength = static_cast<unsigned long long>(length);

    // The frames as a reader walks them: each must end inside the file.
    bool walkedChecksums = false;
    for (unsigned long long pos = kRSFileHeaderSize; pos < fileLength;) {
        unsigned char raw[kRSFrameHeaderSize];
        if (fileLength - pos < kRSFrameHeaderSize || !m_file.Seek(static_cast<long long>(pos)) ||
            m_file.Read(raw, sizeof(raw)) != sizeof(raw)) {
            report.bTruncated = true;
            report.eState = RS_INTEGRITY_DAMAGED;
            break;
        }
        tagGUIDSIGN id;
        std::memcpy(id.u8Bytes, raw + kFrmId, 16);
        const uint32_t size = LoadU32(raw + kFrmSize);
        walkedChecksums = walkedChecksums || id == _frFrameChecksums;
        if (size > fileLength - pos - kRSFrameHeaderSize) {
            report.bTruncated = true;
            damaged(id);
            break;
        }
        pos += kRSFrameHeaderSize + size;
    }

    // The checksum frame ends the file: found from the end, so that a damaged
    // frame size earlier cannot hide it, and known by its own CRC, so that a
    // damaged header of it cannot make the file pass for an older one.
    unsigned char trailer[kRSChecksumTrailerSize];
    const unsigned long long minimum = kRSFileHeaderSize + kRSFrameHeaderSize + kRSChecksumTrailerSize;
    uint32_t entries = 0;
    unsigned long long sumsPos = 0;
    std::vector<unsigned char> sums;
    bool found = false;
    if (fileLength >= minimum && m_file.Seek(static_cast<long long>(fileLength - sizeof(trailer))) &&
        m_file.Read(trailer, sizeof(trailer)) == sizeof(trailer)) {
        entries = LoadU32(trailer);
        const unsigned long long payload =
            static_cast<unsigned long long>(entries) * kRSChecksumEntrySize + kRSChecksumTrailerSize;
        if (entries <= kMaxChecksumEntries && payload <= fileLength - kRSFileHeaderSize - kRSFrameHeaderSize) {
            sumsPos = fileLength - payload - kRSFrameHeaderSize;
            sums.resize(static_cast<size_t>(payload));
            found = m_file.Seek(static_cast<long long>(sumsPos + kRSFrameHeaderSize)) &&
                    m_file.Read(sums.data(), static_cast<unsigned int>(sums.size())) == sums.size() &&
                    LoadU32(sums.data() + sums.size() - 4) == CCRC::RunCRC32(0, sums.data(), sums.size() - 4);
        }
    }
    if (!found) {
        if (walkedChecksums)
            damaged(_frFrameChecksums);
        return report.eState;
    }
    unsigned char sumsHeader[kRSFrameHeaderSize];
    if (!m_file.Seek(static_cast<long long>(sumsPos)) || m_file.Read(sumsHeader, sizeof(sumsHeader)) != sizeof(sumsHeader) ||
        std::memcmp(sumsHeader + kFrmSign, _frSignPub.u8Bytes, 16) != 0 ||
        std::memcmp(sumsHeader + kFrmId, _frFrameChecksums.u8Bytes, 16) != 0 ||
        LoadU32(sumsHeader + kFrmSize) != sums.size())
        return damaged(_frFrameChecksums);
    // The file ends where it was written to end; a frame that seemed to run
    // past it has a damaged header, found below.
    report.bTruncated = false;

    // The listed frames must follow one another from the file header to the
    // checksum frame, each with the header and payload it was written with.
    unsigned long long expected = kRSFileHeaderSize;
    for (uint32_t i = 0; i < entries; ++i) {
        const unsigned char* e = sums.data() + static_cast<size_t>(i) * kRSChecksumEntrySize;
        tagGUIDSIGN id;
        std::memcpy(id.u8Bytes, e, 16);
        const uint64_t offset = LoadU64(e + 16);
        const uint32_t size = LoadU32(e + 24);
        if (offset != expected || sumsPos - offset < kRSFrameHeaderSize || size > sumsPos - offset - kRSFrameHeaderSize)
            return damaged(_frFrameChecksums);
        unsigned char raw[kRSFrameHeaderSize];
        uint32_t crc = 0;
        if (!m_file.Seek(static_cast<long long>(offset)) || m_file.Read(raw, sizeof(raw)) != sizeof(raw) ||
            std::memcmp(raw + kFrmSign, _frSignPub.u8Bytes, 16) != 0 || std::memcmp(raw + kFrmId, id.u8Bytes, 16) != 0 ||
            LoadU32(raw + kFrmSize) != size || !FileCRC(offset + kRSFrameHeaderSize, size, crc) ||
            crc != LoadU32(e + 28))
            damaged(id);
        expected = offset + kRSFrameHeaderSize + size;
    }
    if (expected != sumsPos)
        return damaged(_frFrameChecksums);
    if (report.eState != RS_INTEGRITY_DAMAGED)
        report.eState = RS_INTEGRITY_SOUND;
    return report.eState;
}

int CRSData::FlushBuffer()
{
    if (!m_file.Flush())
        Throw(RS_ERROR_WRITE_FAILED);
    return 1;
}
