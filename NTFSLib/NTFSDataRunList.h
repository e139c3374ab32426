// NTFS mapping pairs decoded into cluster runs, the compact extent form every
// NTFS file keeps, the two extent lists it expands into, and the checks of
// index records ("INDX") and log record pages ("RCRD").
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "FileNode.h"

class IRSData;

// One decoded run: LCN -1 marks a sparse run.
class CDataRun {
public:
    long long m_s64LCN = 0;
    long long m_s64VCN = 0;
    long long m_s64Length = 0;
};

class CNTFSDataRunList {
public:
    using RunList = std::list<std::unique_ptr<CDataRun>>;

    CNTFSDataRunList() = default;
    CNTFSDataRunList(const CNTFSDataRunList&) = delete;
    CNTFSDataRunList& operator=(const CNTFSDataRunList&) = delete;

    // Mapping pairs well formed within length bytes, final 0 included.
    static bool IsValid(const uint8_t* buffer, long long length);
    // Decodes and appends to list (no validity check of its own).
    static void FormDataRunList(const uint8_t* buffer, long long length, RunList& list);
    static unsigned int GetTotalClusters(const uint8_t* buffer, long long length);

    bool InitFromBuffer(const uint8_t* buffer, long long length);
    // Appends the decoded runs with their VCN moved by firstVCN.
    bool AddDataRunsfromBuffer(const uint8_t* buffer, long long length, long long firstVCN);
    void AddDataRun(long long lcn, long long vcn, long long length);

    long long GetTotalClusters() const;
    // Cluster of a VCN; -1 when no run covers it or the run is sparse.
    long long GetLCN(long long vcn) const;
    long long GetVCN(long long lcn) const;
    bool IsLCNContained(long long lcn) const { return GetVCN(lcn) >= 0; }
    void GetDataRunList(RunList& out) const;
    RunList::const_iterator GetBegin() const { return m_runs.begin(); }
    RunList::const_iterator GetEnd() const { return m_runs.end(); }
    bool IsEmpty() const { return m_runs.empty(); }
    size_t GetCount() const { return m_runs.size(); }
    void Sort();
    bool IsEqual(const CNTFSDataRunList& other) const;
    void ClearDataRunList() { m_runs.clear(); }

    // Run count, then per run LCN, length and VCN (8 bytes each).
    int Save(IRSData& data) const;
    int Restore(IRSData& data);

private:
    RunList m_runs;
};

// Data that lives inside a file record: one run (record start sector, 1) and
// the offset of the data from the start of the record.
class CResidentNTFSDataRunList : public CDataRunList {
public:
    void InitList(long long startSector, long long length, unsigned int dataOffset);
    int IsResident() override { return 1; }
    long long GetOffset() override { return m_dwDataOffset; }
    int GetDataRunListType() override { return 1; }
    IDataRunList* Clone() override;

private:
    unsigned int m_dwDataOffset = 0;
};

// Cluster runs (LCN, count); LCN -1 for sparse runs.
class CNoneResidentNTFSDataRunList : public CDataRunList {
public:
    int GetDataRunListType() override { return 2; }
    IDataRunList* Clone() override;
    void AddDataRun(const DataRun& run) { CDataRunList::AddDataRun(&run); }
    using CDataRunList::AddDataRun;
    // Decodes the compact bytes; nothing for a length below 1.
    bool InitFromBuffer(const uint8_t* buffer, long long length);
};

// The compact extent form: mapping pairs of the file's runs (or of the single
// resident run) and, for resident data, the data offset in the record.
class CCompressedDataRunList {
public:
    ~CCompressedDataRunList() = default;
    // A new compact list, or null for an empty list.
    static CCompressedDataRunList* Compress(IDataRunList* list);
    // A new extent list owned by the caller.
    IDataRunList* Decompress() const;
    size_t GetCompressedDataRunSize() const { return m_vecBytes.size(); }
    CCompressedDataRunList* Clone() const { return new CCompressedDataRunList(*this); }
    const uint8_t* GetBytes() const { return m_vecBytes.data(); }

    uint16_t m_u16DataOffset = 0;

private:
    std::vector<uint8_t> m_vecBytes;
};

// Header of an "INDX" block.
class CStandardIndexHeader {
public:
    static bool IsValidMagicNumber(const uint8_t* buffer);
    static bool IsValid(const uint8_t* buffer, unsigned int size);
    static unsigned int GetOffsetofIndexEntries(const uint8_t* buffer);
    static unsigned int GetSizeofIndexEntries(const uint8_t* buffer);
    static unsigned long long GetVCN(const uint8_t* buffer);
    static unsigned long long GetLogFileSequenceNumber(const uint8_t* buffer);
};

class CIndexRecord {
public:
    // Header valid, protection removable and entries consistent; the buffer
    // is left as it came.
    static bool IsValid(uint8_t* buffer, unsigned int size);
    static bool IsValidUpdateSequence(const uint8_t* buffer, unsigned int size);
    static bool UnfixupIndexRecord(uint8_t* buffer, unsigned int size);
    static bool FixupIndexRecord(uint8_t* buffer, unsigned int size);
    static bool CheckIndexEntries(const uint8_t* buffer, unsigned int size);
    static unsigned long long GetVCN(const uint8_t* buffer) { return CStandardIndexHeader::GetVCN(buffer); }
    static unsigned long long GetLogFileSequenceNumber(const uint8_t* buffer)
    {
        return CStandardIndexHeader::GetLogFileSequenceNumber(buffer);
    }
    // Low 32 bits of the first entry's parent reference; 0xFFFFFFFF when the
    // block is not valid.
    static unsigned int GetParentFileReference(uint8_t* buffer, unsigned int size);
    // An entry whose real size is not above its allocated size.
    static bool IsValid(const uint8_t* entry);
};

// A $LogFile record page.
class CRCRDRecord {
public:
    static bool IsValidRCRDRecordFirstSector(const uint8_t* buffer, unsigned int size);
    static bool IsValid(const uint8_t* buffer, unsigned int size);
    static bool IsValidUpdateSequence(const uint8_t* buffer, unsigned int size);
    static bool Unfixup(uint8_t* buffer, unsigned int size);
    static bool GetRecordHead(const uint8_t* buffer, unsigned int size, const uint8_t** out);
    static bool GetOperationRecordHeader(const uint8_t* buffer, unsigned int size, const uint8_t** out);
};
