// Audio files and chunked containers: RIFF (WAVE, AVI, animated cursors and
// the drawing formats built on it), AIFF, Sun/NeXT audio, Flash, Standard
// MIDI and Ogg.
#pragma once

#include "RawFileAnalyser.h"

// RIFF files: typed by their form, sized by the RIFF chunk's length.
class FileRIFFAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kTypeRiff = 59;
    static constexpr unsigned int kTypeWebp = 148;
    static constexpr unsigned int kTypeWav = 67;
    static constexpr unsigned int kTypeAvi = 10;
    static constexpr unsigned int kTypeAni = 4;
    static constexpr unsigned int kTypeCmx = 16;
    static constexpr unsigned int kTypeClk = 15;
    static constexpr unsigned int kTypeCsl = 19;
    static constexpr unsigned int kTypeCdr = 13;
    FileRIFFAnalyser() : IRawFileAnalyser(kTypeRiff) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class CFileAIFAnalyzer : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 80;
    CFileAIFAnalyzer() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileAUAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 9;
    FileAUAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileSWFAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 62;
    FileSWFAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

// Standard MIDI files: the header, then "MTrk" chunks.
class FileMIDAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 38;
    static constexpr unsigned long long kMaxSize = 0xD000001;
    FileMIDAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

// Ogg streams: page after page from the stream's first page.
class CFileOggAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 82;
    static constexpr unsigned long long kMaxSize = 0x82000000;
    CFileOggAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

// ADTS (AAC) streams: frame after frame, recognised by a run of frames.
class CADTSAnalyser : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    static constexpr unsigned int kType = 45;
    static constexpr int kFramesToAccept = 5;
    CADTSAnalyser() : IRawFileAnalyser(RAW_ANALYSER_ID_PER_FILE) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                        long long contextStart, long long contextEnd) override;
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    CRawFileInfo* CreateRawFileInfo() override;

    // The frame length of the 9 header bytes at p, 0 when they are no frame
    // header.
    static unsigned int FrameLength(const unsigned char* p);

    // Set when a probe accepted a stream whose frames ran past the bytes in
    // memory before five were seen.
    static bool s_bOverflow;
};

class CADTSRawFileInfo : public CRawFileInfo {
public:
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context) override;

    long long m_llBytesSeen = 0;
    long long m_llFrames = 0;
    // Where the next frame begins, from the file's first byte.
    long long m_llPosition = 0;
};

// APE lossless audio of format version 3.98 and later: the
// descriptor adds up the file's parts; an APE tag (and an ID3v1 tag) may
// follow them.
class CAPEAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 81;
    static constexpr unsigned long long kMaxSize = 0x82000000;
    static constexpr unsigned int kMaxTagSize = 0x1000020;
    CAPEAnalyser() : IRawFileAnalyser(RAW_ANALYSER_ID_PER_FILE) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

IRawFileAnalyser* CreateADTSAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateAPEAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateRIFFAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateAIFAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateAUAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateSWFAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateMIDAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateOggAnalyser(unsigned int analyserId);
