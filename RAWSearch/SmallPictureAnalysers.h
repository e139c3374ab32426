// Picture formats whose header carries the file's length: the probe sets the
// size, and the default sizing keeps it.
#pragma once

#include "RawFileAnalyser.h"

// Icons (type 1) and cursors (type 2): the directory's entries add up to the
// file's size.
class FileICOAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kTypeIco = 34;
    static constexpr unsigned int kTypeCur = 20;
    static constexpr unsigned int kMaxEntries = 16;
    static constexpr unsigned long long kMaxEntryValue = 0xA00000;
    static constexpr unsigned long long kMaxSize = 0x100000;

    FileICOAnalyser() : IRawFileAnalyser(kTypeIco) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // True when a 16-byte directory entry is acceptable.
    bool IsInvalidIconDirEntry(unsigned char* entry);
};

// Windows bitmaps with a 40-, 108- or 124-byte information header.
class FileBMPAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 11;
    FileBMPAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

// Enhanced metafiles: " EMF" at byte 40, probed on every sector.
class FileEMFAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 26;
    FileEMFAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

// Windows metafiles, plain or behind the 22-byte placeable header.
class FileWMFAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 70;
    FileWMFAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

// Apple icon files.
class FileICNSAnalyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 122;
    static constexpr unsigned long long kMaxSize = 0xA66666;
    FileICNSAnalyser() : IRawFileAnalyser(kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

IRawFileAnalyser* CreateICOAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateBMPAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateEMFAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateWMFAnalyser(unsigned int analyserId);
IRawFileAnalyser* CreateICNSAnalyser(unsigned int analyserId);
