// Reader and writer of NTFS compressed files (LZNT1 in 16-cluster units).
#pragma once

#include <list>

#include "FileReader.h"
#include "IProgress.h"

enum tagCompressUnitType : int {
    NONECOMPRESSED_UNIT = 0,  // the unit is stored as it is
    COMPRESSED_UNIT = 1,      // real pieces hold LZNT1 data, sparse pieces pad
    SPARSE_UNIT = 2,          // the whole unit is zeros
};

// One piece of a compression unit.
struct tagCompressDataRun {
    long long s64LCN = 0;  // first cluster, -1 for a sparse piece
    int iCount = 0;        // clusters
    tagCompressUnitType eType = NONECOMPRESSED_UNIT;
};

class CCompressFileReader : public CFileReader {
public:
    static constexpr int kUnitClusters = 16;
    static constexpr int kChunkSize = 4096;         // bytes one LZNT1 chunk decodes to
    static constexpr int kMaxUnitBytes = 0x10000;   // 16 clusters of at most 4 KiB

    CCompressFileReader() = default;
    ~CCompressFileReader() override;

    IFileReader* Clone() override;
    using CFileReader::ReadData;
    // The decoded bytes [offset, offset + size) of the file; only the units up
    // to the end of that range are decoded. Bytes copied, 0 on failure.
    virtual int ReadData(long long offset, char* buffer, unsigned int size);

    // Writes the whole decoded file to path. 0 when the file cannot be made,
    // a write fails or the cluster size is above 4 KiB; fallback is set (and
    // nothing written) for resident data, which the caller copies itself.
    // The sink's Continued() is asked between units.
    int Recovery(const char* path, IProgress* progress, bool& fallback);
    // After Recovery to a path: whether the extents ended before the file's
    // size (the file then ends with its last data).
    bool EndedShort() const { return m_bEndedShort; }
    // The first size decoded bytes into buffer; 1 on success.
    int Recovery(char* buffer, int size, IProgress* progress);

    // Splits the extents into the pieces of 16-cluster compression units.
    int ReGroupCompressDataRunList(IDataRunList* runs, std::list<tagCompressDataRun>& pieces);
    // Puts out at most size bytes of the file from its pieces; 1 on success.
    int RecoverCompressFile(const std::list<tagCompressDataRun>& pieces, long long size);
    // Each returns the bytes put out, or -1 on failure.
    long long RecoverCompressFileUnCompressUnit(const tagCompressDataRun& piece, long long size);
    long long RecoverCompressFileCompressUnit(std::list<tagCompressDataRun>::const_iterator first,
                                              std::list<tagCompressDataRun>::const_iterator last, long long size);
    long long RecoverCompressFileSparseUnit(const tagCompressDataRun& piece, long long size);

    // Decodes one LZNT1 chunk (header included, inSize bytes available) into
    // out, which has room for 4,096 bytes; returns the bytes produced, never
    // more than 4,096. Back-references before the chunk start give zeros.
    static int DecompressBlock(unsigned char* out, int inSize, const unsigned char* in);

private:
    CCompressFileReader(const CCompressFileReader& other);

    // Puts out n bytes (zeros when data is null) at the current position.
    bool PutOut(const unsigned char* data, long long n);
    long long ClusterBytes() const;

    int m_iOutFd = -1;
    IProgress* m_pProgress = nullptr;
    unsigned char* m_pMemBuffer = nullptr;
    int m_iMemCapacity = 0;
    bool m_bMemoryMode = false;
    int m_iMemFill = 0;

    long long m_llMemSkip = 0;  // decoded bytes before the buffer's first byte
    long long m_llOutPos = 0;   // decoded bytes put out so far
    bool m_bWriteFailed = false;
    bool m_bStopped = false;
    bool m_bEndedShort = false;
    std::vector<unsigned char> m_vecIn;
    std::vector<unsigned char> m_vecOut;
};
