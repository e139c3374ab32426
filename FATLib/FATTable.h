// Readers of the file allocation table. One copy of the FAT is read whole,
// with a single device read, and checked before it is trusted; lookups are
// then memory accesses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "EngineTypes.h"

class IStorageDevice;

// The reader that searchers use.
class IFATTable {
public:
    virtual ~IFATTable() = default;
    // The cluster after cluster; 0 when unknown (callers take it as the end
    // of the chain), 0x0FFFFFF8 and above for an end-of-chain mark.
    virtual unsigned int GetNextCluster(unsigned int cluster) = 0;
};

// One copy of the FAT, read whole into memory.
class IRealFATTable {
public:
    virtual ~IRealFATTable();
    IRealFATTable(const IRealFATTable&) = delete;
    IRealFATTable& operator=(const IRealFATTable&) = delete;

    virtual unsigned int GetNextCluster(unsigned int cluster) = 0;
    virtual int IsValidFATTable() = 0;

    // Reads sectors-per-FAT sectors from the FAT's first sector + first into
    // the buffer in one device read; 0 without buffer or device.
    int ReadSector(long long first);

    enum LoadState { kOutsideLimits, kPastDeviceEnd, kReadFailed, kLoaded };
    LoadState GetLoadState() const { return m_eLoadState; }
    bool HasBuffer() const { return m_pBuffer != nullptr; }
    unsigned int GetEntryCount() const { return m_dwEntryCount; }
    long long GetFATStartSector() const { return m_llFATStartSector; }
    unsigned int GetSectorsPerFAT() const { return m_dwSectorsPerFAT; }

protected:
    // Makes and fills the buffer when sectorsPerFat lies within
    // [minSectors512 / u, maxSectors512 / u], u = sector size / 512
    // (FAT12 passes unscaled limits) and the copy lies on the device.
    // entryWidth: bytes per entry for the count.
    IRealFATTable(IStorageDevice* device, long long fatStart, unsigned int sectorsPerFat, unsigned int entryWidth,
                  unsigned int minSectors, unsigned int maxSectors, bool scaleLimits);

    size_t BufferSize() const { return m_pBuffer ? static_cast<size_t>(m_dwSectorSize) * m_dwSectorsPerFAT : 0; }

    IStorageDevice* m_pDevice;
    long long m_llFATStartSector;
    unsigned int m_dwSectorsPerFAT;
    unsigned int m_dwEntryCount = 0;
    std::unique_ptr<uint8_t[]> m_pBuffer;
    unsigned int m_dwSectorSize = 512;
    LoadState m_eLoadState = kOutsideLimits;
};

class CFAT12Table : public IRealFATTable {
public:
    CFAT12Table(IStorageDevice* device, long long fatStart, unsigned int sectorsPerFat);
    unsigned int GetNextCluster(unsigned int cluster) override;
    int IsValidFATTable() override;
    bool CheckFATHeader() const;
};

class CFAT16Table : public IRealFATTable {
public:
    CFAT16Table(IStorageDevice* device, long long fatStart, unsigned int sectorsPerFat);
    unsigned int GetNextCluster(unsigned int cluster) override;
    int IsValidFATTable() override;
    bool CheckFATHeader() const;
    bool CheckFATBody() const;
    bool CheckFATIndex() const;
    // The FAT16 test on the first bytes of a FAT (at least 4).
    static bool IsHeader(const uint8_t* bytes, size_t length);
};

class CFAT32Table : public IRealFATTable {
public:
    CFAT32Table(IStorageDevice* device, long long fatStart, unsigned int sectorsPerFat);
    unsigned int GetNextCluster(unsigned int cluster) override;
    int IsValidFATTable() override;
    bool CheckFATHeader() const;
    bool CheckFATBody() const;
    bool CheckFATIndex() const;
    // The FAT32 test on the first bytes of a FAT (at least 8).
    static bool IsHeader(const uint8_t* bytes, size_t length);
};

// Up to two copies of the FAT; asks the first one it holds.
class CDoubleFATTable : public IFATTable {
public:
    CDoubleFATTable(IRealFATTable* first, IRealFATTable* second);
    ~CDoubleFATTable() override;
    CDoubleFATTable(const CDoubleFATTable&) = delete;
    CDoubleFATTable& operator=(const CDoubleFATTable&) = delete;

    unsigned int GetNextCluster(unsigned int cluster) override;

    IRealFATTable* GetFirstCopy() const { return m_pFirst; }
    IRealFATTable* GetSecondCopy() const { return m_pSecond; }

private:
    IRealFATTable* m_pFirst;
    IRealFATTable* m_pSecond;
};

class IFATTableFactory {
public:
    // Reads the first copy at fatStart when firstCopy is not 0 or secondCopy
    // is 0; reads the second copy (fatStart + sectorsPerFat) when secondCopy
    // is not 0 and no first copy was taken. Always a new CDoubleFATTable,
    // which answers 0 for every cluster when it holds no copy.
    static IFATTable* CreateFATTable(IStorageDevice* device, long long fatStart, enumFILE_SYSTEM_TYPE type,
                                     unsigned int sectorsPerFat, unsigned int firstCopy, unsigned int secondCopy);
    // One checked copy, or none when the type is not FAT12/16/32, the size
    // is outside the limits, the read fails or the checks refuse it.
    static IRealFATTable* CreateRealFATTable(IStorageDevice* device, enumFILE_SYSTEM_TYPE type, long long fatStart,
                                             unsigned int sectorsPerFat);
    static void DestroyFATTable(IFATTable* table);
};
