// The scan-result data stream over a buffered file.
#pragma once

#include "IRSData.h"
#include "StdFile.h"

class CRSData : public IRSData {
public:
    explicit CRSData(RSMode mode);
    ~CRSData() override = default;
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

    RSMode m_eMode;
    CStdFile m_file;
    FRAMEHEADER m_curFrame;
    bool m_bFrameOpen = false;
    unsigned long long m_u64FramePos = 0;    // file offset of the open frame's header
    unsigned int m_dwFrameRead = 0;          // payload bytes consumed (read mode)
    unsigned int m_dwFrameAvailable = 0;     // payload bytes the file really holds (read mode)
};
