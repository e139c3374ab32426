// Deep-scan test of one sector: is it a FAT directory sector, and is it the
// first sector of a subdirectory (starting with its "." and ".." entries)?
#pragma once

#include <cstdint>

#include "FATDirEntry.h"

class CFATFolderAnalyser;

// Called for every entry that AnalyseSector takes (not for "." and "..").
class CFatFolderAnalyzeCB {
public:
    virtual ~CFatFolderAnalyzeCB() = default;
    // both: 1 when the sector started with "." and "..".
    virtual void OnFatFolderEntry(CFATFolderAnalyser* analyser, CTempFATDirEntry* entry, unsigned int reserved,
                                  unsigned int index, uint16_t both, void* context) = 0;
};

class CFATFolderAnalyser {
public:
    explicit CFATFolderAnalyser(unsigned int sectorSize) : m_dwSectorSize(sectorSize) {}

    // sector: sectorSize bytes. 1 for a directory sector, else 0.
    int AnalyseSector(const uint8_t* pSectorBuffer, CFatFolderAnalyzeCB* callback, void* context);

    // 0 not a directory sector, 1 a directory sector, 2 the first sector of a
    // subdirectory.
    unsigned int GetDirectoryEntryType() const { return m_dwDirectoryEntryType; }
    unsigned int GetEntryCount() const { return m_dwEntryCount; }
    unsigned int GetCurDirFirstClusterNum() const { return m_dwCurDirCluster; }
    unsigned int GetParentFirstClusterNum() const { return m_dwParentDirCluster; }
    unsigned int GetMaxClusterNum() const { return m_dwMaxCluster; }

    static bool IsCurDirFileName(const CTempFATDirEntry& entry);
    static bool IsParentDirFileName(const CTempFATDirEntry& entry);
    // All 32 bytes are 0.
    static bool IsBlankFATDirEntry(const uint8_t* pBuffer);

private:
    void Clear();

    unsigned int m_dwDirectoryEntryType = 0;
    unsigned int m_dwEntryCount = 0;
    unsigned int m_dwCurDirCluster = 0;
    unsigned int m_dwParentDirCluster = 0;
    unsigned int m_dwMaxCluster = 0;
    unsigned int m_dwSectorSize;
};
