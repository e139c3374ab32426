// Video and audio containers sized by a walk over their own structure:
// Matroska, Flash video, MPEG program streams, MPEG transport streams, MXF,
// ASF (WMA, WMV), RealMedia and MLV raw video.
#pragma once

#include "RawFileAnalyser.h"

// Matroska: the Segment's size, read at the probe.
class FileMKVAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 96;
    static constexpr unsigned int kMaxSegmentOffset = 512;
    FileMKVAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

// Decodes the EBML variable-size integer at p (at most available bytes):
// its length in bytes, 0 when the marker is missing or lies past the end.
unsigned int DecodeEbmlSize(const unsigned char* p, unsigned int available, unsigned long long& value);

class FileFLVAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 90;
    static constexpr unsigned long long kMaxSize = 0x82000000;
    FileFLVAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

// MPEG program streams. Every pack of a stream begins like the stream's
// first: a start closer than kMinStartGap sectors after the last pack header
// seen is the same stream's.
class FileMPGAnalyser : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    static constexpr unsigned int kType = 109;
    static constexpr unsigned long long kMaxSize = 0x82000000;
    static constexpr long long kMinStartGap = 21;
    static constexpr unsigned int kMaxZeroRun = 100;
    FileMPGAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                        long long contextStart, long long contextEnd) override;
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;

private:
    long long m_llLastPackSector = -1;
};

// MPEG transport streams of 188-byte packets or 192-byte (timestamped)
// packets, probed on every sector; one stream is followed at a time.
class CM2TSAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 129;
    static constexpr long long kMinSize = 20480;
    static constexpr long long kMaxSize = 10000000000LL;
    CM2TSAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    // Set while a stream's candidate is open; its packet size.
    static bool s_bNewFile;
    static unsigned int s_dwPacketSize;
};

class CM2TSFileInfo : public CRawFileInfo {
public:
    CM2TSFileInfo() = default;
    CM2TSFileInfo(const CM2TSFileInfo&) = delete;
    CM2TSFileInfo& operator=(const CM2TSFileInfo&) = delete;
    // A candidate destroyed while open (a stopped search) lets the next
    // stream start.
    ~CM2TSFileInfo() override;
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context) override;
    void WillBeRemove(unsigned char* sector, long long sectorNumber) override;

    int m_iPositionInSector = 0;
    unsigned int m_dwPacketSize = 0;
    long long m_llPackets = 0;
    bool m_bFinished = false;

private:
    void Finish(bool keepSize);
};

class MxfAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 142;
    static constexpr unsigned long long kMaxSize = 2000000000;
    MxfAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

// ASF files: typed WMV, WMA or ASF by their streams.
class CAsfAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kTypeAsf = 6;
    static constexpr unsigned int kTypeWma = 7;
    static constexpr unsigned int kTypeWmv = 8;
    static constexpr unsigned long long kMaxSize = 0x1964000000ULL;
    static constexpr unsigned int kMaxHeaderObjects = 1024;
    // The type differs from file to file.
    CAsfAnalyser() : IRawFileAnalyser(RAW_ANALYSER_ID_PER_FILE) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

// RealMedia: RM, or RMVB when a stream is described as video.
class RM_RMVBAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kTypeRm = 94;
    static constexpr unsigned int kTypeRmvb = 95;
    static constexpr unsigned long long kMaxSize = 0x104000000ULL;
    RM_RMVBAnalyser() : IRawFileAnalyser(kTypeRm) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    // 1 (RM) or 0 (RMVB: "Video Stream" within 160 bytes of an "MDPR" in the
    // first 1024 bytes); head holds at least length bytes.
    static int RMFlag(const unsigned char* head, unsigned int length);
};

class MLvAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 146;
    static constexpr unsigned long long kMaxSize = 0x7D000000;
    MLvAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

IRawFileAnalyser* CreateMKVAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateFLVAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateMPGAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateM2TSAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateMxfAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateAsfAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateRMAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateMLvAnalyser(unsigned int analyserId);
