// A partition or volume that a searcher found or used.
#pragma once

#include "EngineTypes.h"

class CSearchedPartitionInfo {
public:
    explicit CSearchedPartitionInfo(unsigned int sectorSize = 512);
    CSearchedPartitionInfo(const CSearchedPartitionInfo&) = default;
    CSearchedPartitionInfo& operator=(const CSearchedPartitionInfo&) = default;
    virtual ~CSearchedPartitionInfo() = default;

    // Kind of record: 4 for the base; subclasses return their own.
    virtual int GetType() const { return 4; }
    // A new copy of the same class, owned by the caller.
    virtual CSearchedPartitionInfo* Clone() const { return new CSearchedPartitionInfo(*this); }

    void* GetVolumeContext() const { return m_pVolumeContext; }
    void SetVolumeContext(void* p) { m_pVolumeContext = p; }
    unsigned short GetPartitionIndex() const { return m_wPartitionIndex; }
    void SetPartitionIndex(unsigned short i) { m_wPartitionIndex = i; }
    enumFILE_SYSTEM_TYPE GetFileSystemType() const { return m_eFileSystemType; }
    void SetFileSystemType(enumFILE_SYSTEM_TYPE t) { m_eFileSystemType = t; }
    unsigned int GetSectorsPerUnit() const { return m_dwSectorsPerUnit; }
    void SetSectorsPerUnit(unsigned int n) { m_dwSectorsPerUnit = n; }
    // Device sector of allocation unit 0; added to every extent.
    long long GetUnitBase() const { return m_llUnitBase; }
    void SetUnitBase(long long s) { m_llUnitBase = s; }
    // Start of the partition on the scanned device (0 for a scanned volume).
    long long GetPartitionStart() const { return m_llPartitionStart; }
    void SetPartitionStart(long long s) { m_llPartitionStart = s; }
    long long GetCounter1() const { return m_llCounter1; }
    void SetCounter1(long long v) { m_llCounter1 = v; }
    long long GetCounter2() const { return m_llCounter2; }
    void SetCounter2(long long v) { m_llCounter2 = v; }
    unsigned int GetSectorSize() const { return m_dwSectorSize; }
    unsigned int GetFlags() const { return m_dwFlags; }
    void SetFlags(unsigned int v) { m_dwFlags = v; }
    unsigned long long GetTotalSectors() const { return m_u64TotalSectors; }
    void SetTotalSectors(unsigned long long n) { m_u64TotalSectors = n; }
    long long GetReliability() const { return m_llReliability; }
    void SetReliability(long long v) { m_llReliability = v; }
    double GetScore() const { return m_dScore; }
    void SetScore(double s) { m_dScore = s; }
    unsigned int GetExtra() const { return m_dwExtra; }
    void SetExtra(unsigned int v) { m_dwExtra = v; }

    // 512 unless the value is a non-zero multiple of 512.
    static unsigned int NormaliseSectorSize(unsigned int sectorSize);

protected:
    void* m_pVolumeContext = nullptr;
    unsigned short m_wPartitionIndex = 0xFFFF;
    enumFILE_SYSTEM_TYPE m_eFileSystemType = FS_UNKNOWN;
    unsigned int m_dwSectorsPerUnit = 0;
    long long m_llUnitBase = 0;
    long long m_llPartitionStart = 0;
    long long m_llCounter1 = 0;
    long long m_llCounter2 = 0;
    unsigned int m_dwSectorSize = 512;
    unsigned int m_dwFlags = 0;
    unsigned long long m_u64TotalSectors = 0;
    long long m_llReliability = 1;
    double m_dScore = 0.0;
    unsigned int m_dwExtra = 0;
};
