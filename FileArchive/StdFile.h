// A file over POSIX calls with one 1 MiB buffer for both directions.
//
// Writing a saved scan result means millions of writes of a few bytes each;
// they gather in the buffer and reach the file in large blocks, byte for byte
// as if each had been written on its own. Reads go through the same buffer.
// Once a write to the file fails the object stays failed: every further write
// and flush reports failure until the file is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

class CStdFile {
public:
    enum OpenMode : int {
        OPEN_READ = 0,              // read-only
        OPEN_READWRITE = 1,         // read-write, created when missing
        OPEN_READWRITE_2 = 2,       // the same as 1
        OPEN_CREATE_TRUNCATE = 3,   // read-write, created, emptied
        OPEN_READWRITE_KEEP = 4,    // the same as 1
    };

    static constexpr size_t kBufferSize = 1u << 20;

    CStdFile() = default;
    ~CStdFile();
    CStdFile(const CStdFile&) = delete;
    CStdFile& operator=(const CStdFile&) = delete;

    // Modes that write create a missing file with 0666 under the umask and
    // refuse a symbolic link at the path; no mode changes an existing file's
    // permissions. Returns 1 when the file is open.
    int Open(const char* path, int mode);
    // Creates a new file at path for reading and writing (0666 under the
    // umask); fails when anything, a symbolic link included, is there.
    int CreateNew(const char* path);
    // Writes what is buffered and closes; 1 when every written byte reached
    // the file. A file that is not open closes successfully.
    int Close();
    bool IsOpen() const { return m_iFd >= 0; }
    // Set once a write to the file failed.
    bool IsFailed() const { return m_bFailed; }
    const std::string& GetPath() const { return m_strPath; }

    // Bytes read at the current position (fewer at the end of the file or on
    // an error).
    unsigned int Read(void* buffer, unsigned int size)
    {
        // Loading reads millions of small fields: those the read-ahead holds
        // are copied here without a call.
        if (!m_bDirty && buffer && size > 0 && m_nBufLen > 0 && m_llPos >= m_llBufStart &&
            static_cast<unsigned long long>(m_llPos - m_llBufStart) + size <= m_nBufLen) {
            std::memcpy(buffer, m_pBuffer.get() + (m_llPos - m_llBufStart), size);
            m_llPos += size;
            return size;
        }
        return ReadBuffered(buffer, size);
    }
    // 1 when all size bytes were taken (and any block it pushed out reached
    // the file).
    int Write(const void* data, unsigned int size)
    {
        // Saving writes millions of small fields: those that continue the
        // buffered writes and fit are gathered here without a call.
        if (m_bDirty && !m_bFailed && data && size > 0 && m_llBufStart + static_cast<long long>(m_nBufLen) == m_llPos &&
            size <= kBufferSize - m_nBufLen) {
            std::memcpy(m_pBuffer.get() + m_nBufLen, data, size);
            m_nBufLen += size;
            m_llPos += size;
            return 1;
        }
        return WriteBuffered(data, size);
    }
    // Writes what is buffered; 0 when that or an earlier write failed.
    int Flush();
    // Flush, then waits until the file's data is on the storage device.
    int Sync();

    // The CRC-32 of the bytes written from offset on, in order, as they
    // reach the file (so that it runs over whole buffers); bytes rewritten
    // before the run's end are not counted again. TakeWriteCRC flushes and
    // ends the run.
    void StartWriteCRC(long long offset);
    uint32_t TakeWriteCRC();

    // Seeking writes what is buffered first; 0 when that fails or the offset
    // is negative.
    int Seek(long long offset);
    int SeekToBegin() { return Seek(0); }
    // The new position (the file's length), -1 on failure.
    long long SeekToEnd();
    long long GetPosition() const { return m_llPos; }
    // The file's length, -1 when it cannot be told.
    long long GetLength();

private:
    int Adopt(int fd, const char* path);
    unsigned int ReadBuffered(void* buffer, unsigned int size);
    int WriteBuffered(const void* data, unsigned int size);
    bool FlushPending();
    void AddWrittenToCRC(const unsigned char* data, size_t size, long long offset);
    void DropBuffer();

    int m_iFd = -1;
    std::string m_strPath;
    std::unique_ptr<unsigned char[]> m_pBuffer;  // kBufferSize bytes, made on first use
    long long m_llPos = 0;                       // the logical position
    long long m_llBufStart = 0;                  // file offset of m_pBuffer[0]
    size_t m_nBufLen = 0;                        // valid bytes in the buffer
    bool m_bDirty = false;                       // buffer holds writes not yet in the file
    bool m_bFailed = false;
    bool m_bCRCOn = false;
    long long m_llCRCNext = 0;                   // the next offset the CRC takes
    uint32_t m_dwCRC = 0;
};
