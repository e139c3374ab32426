// The scan-result data stream over a buffered file.
#pragma once

#include <string>
#include <vector>

#include "IRSData.h"
#include "StdFile.h"

class CRSData final : public IRSData {
public:
    explicit CRSData(RSMode mode);
    // A replacing stream that was never committed leaves the target as it was.
    ~CRSData() override;
    CRSData(const CRSData&) = delete;
    CRSData& operator=(const CRSData&) = delete;

    int CheckFile() override;
    int StartRS(const char* path, int truncate) override;
    int EndRS() override;
    int WriteFileHeader(const FILEHEADER& header) override;
    int ReadFileHeader(FILEHEADER& header) override;
    FileStatus GetStatus() override;
    int SetStatus(FileStatus status) override;
    int SetFileDescription(const char* text) override;
    int GetFileDescription(char* buffer, int size) override;
    int OpenFrame(const tagGUIDSIGN& id) override;
    int CloseFrame() override;
    unsigned int GetFrameSize() override;
    int ReadCurFrame(void* buffer, unsigned int size) override;
    int WriteCurFrame(const void* data, unsigned int size) override;
    int FlushBuffer() override;
    unsigned int GetFrameRemaining() override;
    int ReadCurFrameExact(void* buffer, unsigned int size) override;
    RSIntegrity CheckIntegrity(RSIntegrityReport& report) override;

    // Write mode: the file is written under a new name beside path and only
    // CommitRS puts it in place; until then a file at path stays untouched.
    // An existing path that is not a regular file (a device, say) is written
    // in place as StartRS(path, 1) does. Returns 1 when open.
    int StartRSReplacing(const char* path);
    // Write mode: appends the checksum frame (closing any open frame); once
    // per file, later frames are not covered. Returns 1 when it was written.
    int WriteChecksumFrame();
    // Write mode: the checksum frame, then every byte pushed to the storage
    // device, the file closed and, for a replacing stream, renamed over its
    // target. 1 on success; on failure the target is left as it was (a
    // replacing stream) and the stream is closed either way.
    int CommitRS();

private:
    struct FRAMEHEADER {
        tagGUIDSIGN guidSign = _frSignPub;
        tagGUIDSIGN guidId;
        uint32_t dwSize = 0;
    };

    // Reads the 132 header bytes at offset 0; returns how many came.
    unsigned int ReadHeaderBytes(unsigned char (&raw)[kRSFileHeaderSize]);
    // Writes the header at offset 0 with format and checksum filled in, and
    // pushes it to the file.
    int WriteHeader(const FILEHEADER& header);
    int FindFrame(const tagGUIDSIGN& id);
    void ClearFrame();
    // Where the next payload byte of the open frame is read or written.
    unsigned long long FrameCursor() const;
    bool MoveToFrameCursor();
    void CheckReadable();
    // CRC-32 of length file bytes from offset; false when they cannot be read.
    bool FileCRC(unsigned long long offset, unsigned long long length, uint32_t& crc);
    void DiscardReplacement();
    // Closes any file and forgets the frames and checksums of the last one.
    void Reset();

    struct FRAMESUM {
        tagGUIDSIGN guidId;
        uint64_t u64Offset = 0;
        uint32_t dwLength = 0;
        uint32_t dwCRC = 0;
    };

    RSMode m_eMode;
    CStdFile m_file;
    FRAMEHEADER m_curFrame;
    bool m_bFrameOpen = false;
    unsigned long long m_u64FramePos = 0;    // file offset of the open frame's header
    unsigned int m_dwFrameRead = 0;          // payload bytes consumed (read mode)
    unsigned int m_dwFrameAvailable = 0;     // payload bytes the file really holds (read mode)

    // Write mode: the checksums of the closed frames (the file keeps the
    // open frame's CRC as its payload reaches the disk).
    std::vector<FRAMESUM> m_vecSums;
    bool m_bChecksumWritten = false;
    // Write mode, replacing: the name the file gets on commit ("" otherwise).
    std::string m_strTarget;
};
