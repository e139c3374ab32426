// The framed data stream of saved scan results ("rsf" files): a 132-byte
// checksummed file header followed by frames, each a 36-byte frame header
// (signature, 16-byte identifier, u32 payload size) and its payload. All
// integers in the file are little-endian.
//
// Unlike the rest of the engine this stream reports its errors by throwing
// CRSException; every caller catches it.
#pragma once

#include <cstdint>
#include <cstring>
#include <exception>
#include <vector>

// A 16-byte identifier, kept in file byte order.
struct tagGUIDSIGN {
    uint8_t u8Bytes[16] = {};

    friend bool operator==(const tagGUIDSIGN& a, const tagGUIDSIGN& b)
    {
        return std::memcmp(a.u8Bytes, b.u8Bytes, sizeof(a.u8Bytes)) == 0;
    }
};
static_assert(sizeof(tagGUIDSIGN) == 16);

// Leads the file header and every frame header.
inline constexpr tagGUIDSIGN _frSignPub = {{0xea, 0xf4, 0xb3, 0x1c, 0x05, 0x43, 0xb6, 0x4a,
                                             0xb4, 0xb8, 0x24, 0x4a, 0x33, 0xd9, 0x13, 0xbb}};

// The checksum frame, written last: for every other frame of the file, in
// file order, its identifier (16 bytes), the u64 offset of its frame header,
// its u32 payload length and the u32 CRC-32 (as zlib's crc32) of its payload;
// then the u32 number of those entries and the u32 CRC-32 of everything
// before it in this payload. Readers that do not know it skip it as any
// unknown frame.
inline constexpr tagGUIDSIGN _frFrameChecksums = {{0x3b, 0x8e, 0x51, 0xc7, 0xd2, 0x49, 0x0f, 0x4a,
                                                   0x96, 0x1d, 0x7e, 0xa2, 0xc4, 0x58, 0xe0, 0x19}};
inline constexpr unsigned int kRSChecksumEntrySize = 32;
inline constexpr unsigned int kRSChecksumTrailerSize = 8;

// What the checksum frame says of a file's frames.
enum RSIntegrity : int {
    RS_INTEGRITY_UNVERIFIED = 0,  // no checksum frame (an older file); nothing found wrong
    RS_INTEGRITY_SOUND = 1,       // every frame matches its checksum
    RS_INTEGRITY_DAMAGED = 2,     // see the report
};

struct RSIntegrityReport {
    RSIntegrity eState = RS_INTEGRITY_UNVERIFIED;
    // Frames whose payload or frame header does not match the checksum
    // frame, or that run past the end of the file; _frFrameChecksums when
    // the checksum frame itself is damaged or the frames are not the ones
    // it lists.
    std::vector<tagGUIDSIGN> vecDamaged;
    // The file ends inside a frame.
    bool bTruncated = false;
};

// Sizes and fixed values of the stored layout.
inline constexpr unsigned int kRSFileHeaderSize = 132;
inline constexpr unsigned int kRSFrameHeaderSize = 36;
inline constexpr unsigned int kRSFormatNumber = 5800;
inline constexpr unsigned int kRSDescriptionMax = 100;
inline constexpr unsigned short kRSCrcPolynomial = 0x8005;

enum RSMode : int {
    RS_MODE_READ = 0,
    RS_MODE_WRITE = 1,
};

// Status word of the file header; a sound file holds 1 to 4.
enum FileStatus : uint32_t {
    RS_STATUS_NONE = 0,
    RS_STATUS_FIRST = 1,
    RS_STATUS_LAST = 4,
};

// The file header as the program handles it. It is stored field by field in
// little-endian order, never by copying this record.
struct FILEHEADER {
    tagGUIDSIGN guidSign = _frSignPub;
    uint32_t dwFormat = 0;
    uint32_t dwCRC = 0;  // CRC-16 in the low half
    FileStatus eStatus = RS_STATUS_NONE;
    uint32_t dwDescriptionLength = 0;
    char szDescription[kRSDescriptionMax] = {};
};

// Error numbers carried by CRSException.
enum : unsigned int {
    RS_ERROR_CORRUPT_HEADER = 2,
    RS_ERROR_WRONG_MODE = 3,
    RS_ERROR_SHORT_READ = 5,
    RS_ERROR_WRITE_FAILED = 6,
    RS_ERROR_NO_SUCH_FRAME = 7,
    RS_ERROR_NO_FRAME_OPEN = 8,
};

class CRSException : public std::exception {
public:
    explicit CRSException(unsigned int errorCode) : m_dwErrorCode(errorCode) {}
    unsigned int GetErrorcode() const { return m_dwErrorCode; }
    const char* what() const noexcept override { return "scan-result stream error"; }

private:
    unsigned int m_dwErrorCode;
};

class IRSData {
public:
    virtual ~IRSData() = default;

    // 1 when the 132 bytes at the current position carry the signature and a
    // status of 1 to 4.
    virtual int CheckFile() = 0;
    // Opens the file; in write mode a non-zero truncate empties an existing
    // file. Returns non-zero when the file is open.
    virtual int StartRS(const char* path, int truncate) = 0;
    // Closes the file; 0 when buffered bytes could not be written.
    virtual int EndRS() = 0;
    virtual int WriteFileHeader(const FILEHEADER& header) = 0;
    virtual int ReadFileHeader(FILEHEADER& header) = 0;
    virtual FileStatus GetStatus() = 0;
    virtual int SetStatus(FileStatus status) = 0;
    virtual int SetFileDescription(const char* text) = 0;
    virtual int GetFileDescription(char* buffer, int size) = 0;
    // Write mode: appends a new frame. Read mode: finds the first frame with
    // this identifier; 0 when there is none.
    virtual int OpenFrame(const tagGUIDSIGN& id) = 0;
    virtual int CloseFrame() = 0;
    virtual unsigned int GetFrameSize() = 0;
    // Reads at most what is left of the open frame; reading at its end reads
    // nothing. Kept lenient for older callers; loaders use ReadCurFrameExact.
    virtual int ReadCurFrame(void* buffer, unsigned int size) = 0;
    virtual int WriteCurFrame(const void* data, unsigned int size) = 0;
    virtual int FlushBuffer() = 0;

    // Bytes of the open frame not yet read, bounded by what the file really
    // holds: check counts and lengths against this before allocating.
    virtual unsigned int GetFrameRemaining() = 0;
    // Reads exactly size bytes of the open frame, or throws error 5 and
    // consumes nothing when fewer remain.
    virtual int ReadCurFrameExact(void* buffer, unsigned int size) = 0;

    // Read mode: checks every frame against the checksum frame and the file's
    // length (closing any open frame). A stream that keeps no checksums
    // reports every file as unverified.
    virtual RSIntegrity CheckIntegrity(RSIntegrityReport& report)
    {
        report = RSIntegrityReport();
        return report.eState;
    }
};
