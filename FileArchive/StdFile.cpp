#include "StdFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "CRC.h"

namespace {

// Largest single transfer handed to the kernel.
constexpr size_t kMaxTransfer = 1u << 30;

// Writes every byte or fails; partial transfers and interruptions are retried.
bool WriteAll(int fd, const unsigned char* data, size_t size, long long offset)
{
    while (size > 0) {
        ssize_t n = pwrite(fd, data, std::min(size, kMaxTransfer), offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

// Reads until size bytes came, the file ended or an error occurred.
size_t ReadAll(int fd, unsigned char* buffer, size_t size, long long offset)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = pread(fd, buffer + done, std::min(size - done, kMaxTransfer), offset + static_cast<long long>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

}  // namespace

CStdFile::~CStdFile()
{
    Close();
}

int CStdFile::Open(const char* path, int mode)
{
    Close();
    if (!path || !*path)
        return 0;

    int flags = 0;
    switch (mode) {
    case OPEN_READ:
        // Non-blocking only so that a FIFO planted at the path cannot stall
        // the open; regular files ignore it.
        flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
        break;
    case OPEN_READWRITE:
    case OPEN_READWRITE_2:
    case OPEN_READWRITE_KEEP:
        flags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
        break;
    case OPEN_CREATE_TRUNCATE:
        flags = O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
        break;
    default:
        return 0;
    }

    int fd;
    do {
        fd = open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? 0 : Adopt(fd, path);
}

int CStdFile::CreateNew(const char* path)
{
    Close();
    if (!path || !*path)
        return 0;
    int fd;
    do {
        fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? 0 : Adopt(fd, path);
}

int CStdFile::Adopt(int fd, const char* path)
{
    m_iFd = fd;
    m_strPath = path;
    m_llPos = 0;
    DropBuffer();
    m_bFailed = false;
    return 1;
}

int CStdFile::Close()
{
    if (m_iFd < 0)
        return 1;
    bool ok = FlushPending();
    if (close(m_iFd) != 0 && errno != EINTR)
        ok = false;
    m_iFd = -1;
    m_strPath.clear();
    m_llPos = 0;
    DropBuffer();
    m_bFailed = false;
    return ok ? 1 : 0;
}

void CStdFile::DropBuffer()
{
    m_nBufLen = 0;
    m_llBufStart = 0;
    m_bDirty = false;
}

bool CStdFile::FlushPending()
{
    if (m_bDirty && m_nBufLen > 0 && !m_bFailed) {
        if (WriteAll(m_iFd, m_pBuffer.get(), m_nBufLen, m_llBufStart))
            AddWrittenToCRC(m_pBuffer.get(), m_nBufLen, m_llBufStart);
        else
            m_bFailed = true;
    }
    if (m_bDirty)
        DropBuffer();
    return !m_bFailed;
}

int CStdFile::Flush()
{
    if (m_iFd < 0)
        return m_bFailed ? 0 : 1;
    return FlushPending() ? 1 : 0;
}

int CStdFile::Sync()
{
    if (m_iFd < 0 || !FlushPending())
        return 0;
    int rc;
    do {
        rc = fsync(m_iFd);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        m_bFailed = true;
    return rc == 0 ? 1 : 0;
}

void CStdFile::StartWriteCRC(long long offset)
{
    m_bCRCOn = true;
    m_llCRCNext = offset;
    m_dwCRC = 0;
}

uint32_t CStdFile::TakeWriteCRC()
{
    FlushPending();
    m_bCRCOn = false;
    return m_dwCRC;
}

void CStdFile::AddWrittenToCRC(const unsigned char* data, size_t size, long long offset)
{
    if (!m_bCRCOn)
        return;
    const long long end = offset + static_cast<long long>(size);
    if (offset > m_llCRCNext || end <= m_llCRCNext)
        return;  // not the bytes that continue the checksummed run
    const auto skip = static_cast<size_t>(m_llCRCNext - offset);
    m_dwCRC = CCRC::RunCRC32(m_dwCRC, data + skip, size - skip);
    m_llCRCNext = end;
}

unsigned int CStdFile::ReadBuffered(void* buffer, unsigned int size)
{
    if (m_iFd < 0 || size == 0 || !buffer)
        return 0;
    FlushPending();
    if (!m_pBuffer)
        m_pBuffer = std::make_unique_for_overwrite<unsigned char[]>(kBufferSize);

    auto* out = static_cast<unsigned char*>(buffer);
    size_t want = size;
    size_t done = 0;
    while (done < want) {
        const long long bufEnd = m_llBufStart + static_cast<long long>(m_nBufLen);
        if (m_nBufLen > 0 && m_llPos >= m_llBufStart && m_llPos < bufEnd) {
            size_t offset = static_cast<size_t>(m_llPos - m_llBufStart);
            size_t n = std::min(want - done, m_nBufLen - offset);
            std::memcpy(out + done, m_pBuffer.get() + offset, n);
            done += n;
            m_llPos += static_cast<long long>(n);
            continue;
        }
        if (want - done >= kBufferSize) {
            // Large reads go straight into the caller's memory.
            size_t n = ReadAll(m_iFd, out + done, want - done, m_llPos);
            done += n;
            m_llPos += static_cast<long long>(n);
            break;
        }
        m_llBufStart = m_llPos;
        m_nBufLen = ReadAll(m_iFd, m_pBuffer.get(), kBufferSize, m_llPos);
        if (m_nBufLen == 0)
            break;
    }
    return static_cast<unsigned int>(done);
}

int CStdFile::WriteBuffered(const void* data, unsigned int size)
{
    if (m_iFd < 0 || m_bFailed)
        return 0;
    if (size == 0)
        return 1;
    if (!data)
        return 0;
    if (!m_pBuffer)
        m_pBuffer = std::make_unique_for_overwrite<unsigned char[]>(kBufferSize);

    // Read-ahead may hold bytes this write replaces; the buffer now gathers
    // writes that continue at the current position.
    if (!m_bDirty || m_llBufStart + static_cast<long long>(m_nBufLen) != m_llPos) {
        if (!FlushPending())
            return 0;
        m_nBufLen = 0;
        m_llBufStart = m_llPos;
        m_bDirty = true;
    }

    auto* in = static_cast<const unsigned char*>(data);
    size_t left = size;
    while (left > 0) {
        if (m_nBufLen == kBufferSize) {
            if (!FlushPending())
                return 0;
            m_llBufStart = m_llPos;
            m_bDirty = true;
        }
        if (m_nBufLen == 0 && left >= kBufferSize) {
            if (!WriteAll(m_iFd, in, left, m_llPos)) {
                m_bFailed = true;
                DropBuffer();
                return 0;
            }
            AddWrittenToCRC(in, left, m_llPos);
            m_llPos += static_cast<long long>(left);
            m_llBufStart = m_llPos;
            break;
        }
        size_t n = std::min(left, kBufferSize - m_nBufLen);
        std::memcpy(m_pBuffer.get() + m_nBufLen, in, n);
        m_nBufLen += n;
        m_llPos += static_cast<long long>(n);
        in += n;
        left -= n;
    }
    return 1;
}

int CStdFile::Seek(long long offset)
{
    if (m_iFd < 0 || offset < 0)
        return 0;
    bool ok = FlushPending();
    // Read-ahead stays: nothing but this object writes the file, and writes
    // drop it, so it still matches the file wherever the new position lies.
    m_llPos = offset;
    return ok ? 1 : 0;
}

long long CStdFile::SeekToEnd()
{
    if (m_iFd < 0)
        return -1;
    bool ok = FlushPending();
    off_t end = lseek(m_iFd, 0, SEEK_END);
    if (end < 0)
        return -1;
    m_llPos = end;
    return ok ? m_llPos : -1;
}

long long CStdFile::GetLength()
{
    if (m_iFd < 0)
        return -1;
    struct stat st;
    if (fstat(m_iFd, &st) != 0)
        return -1;
    long long length = st.st_size;
    if (m_bDirty)
        length = std::max(length, m_llBufStart + static_cast<long long>(m_nBufLen));
    return length;
}
