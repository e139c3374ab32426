// Nodes, partition records and expected bytes for the reader and writer tests.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "CompressFileReader.h"
#include "SearchedPartitionInfo.h"
#include "TestSupport.h"

// A file node with extents; compressed nodes hand out the LZNT1 reader.
class RunNode : public TestNode {
public:
    explicit RunNode(std::string name = "f.bin", long long size = 0,
                     std::initializer_list<std::pair<long long, long long>> runs = {})
        : TestNode(std::move(name), 1)
    {
        m_size = size;
        SetRuns(runs);
    }
    void SetRuns(std::initializer_list<std::pair<long long, long long>> runs)
    {
        auto* list = new CDataRunList();
        for (auto [start, length] : runs) {
            DataRun r;
            r.llStart = start;
            r.llLength = length;
            list->AddDataRun(&r);
        }
        SetDataRunList(list);
    }
    void SetCompressed(bool on) { m_dwCompressed = on ? 1 : 0; }
    IFileReader* CreateCompressFileReader(void*) override
    {
        return m_dwCompressed ? new CCompressFileReader() : nullptr;
    }
};

// A run list that says its data lives in the file record.
class ResidentRunList : public CDataRunList {
public:
    int IsResident() override { return 1; }
};

inline CSearchedPartitionInfo MakePartition(unsigned int sectorsPerUnit, long long unitBase,
                                            enumFILE_SYSTEM_TYPE fs = FS_FAT16, unsigned int sectorSize = 512)
{
    CSearchedPartitionInfo p(sectorSize);
    p.SetSectorsPerUnit(sectorsPerUnit);
    p.SetUnitBase(unitBase);
    p.SetFileSystemType(fs);
    p.SetPartitionIndex(0);
    p.SetScore(1);
    return p;
}

// The bytes a node with these extents holds on a stamped image (every
// sector carries its number as a little-endian u64, repeated).
inline std::vector<unsigned char> StampedFileBytes(const std::vector<std::pair<long long, long long>>& runs,
                                                   long long sectorsPerUnit, long long unitBase, long long size,
                                                   long long sectorSize = 512)
{
    std::vector<unsigned char> out;
    const long long cluster = sectorsPerUnit * sectorSize;
    for (auto [start, length] : runs) {
        for (long long b = 0; b < length * cluster && static_cast<long long>(out.size()) < size; ++b) {
            if (start < 0) {
                out.push_back(0);
                continue;
            }
            long long sector = start * sectorsPerUnit + unitBase + b / sectorSize;
            out.push_back(static_cast<unsigned char>(static_cast<unsigned long long>(sector) >> (8 * (b % 8))));
        }
    }
    return out;
}
