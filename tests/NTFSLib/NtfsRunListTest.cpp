// Mapping pairs, the compact extent form, index blocks and log pages.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "NTFSDataRunList.h"
#include "NTFSFileRecord.h"
#include "NtfsTestSupport.h"
#include "RSData.h"
#include "TestSupport.h"

namespace {

struct RunRow {
    long long lcn, vcn, length;
    bool operator==(const RunRow&) const = default;
};

std::vector<RunRow> Decode(const std::vector<uint8_t>& pairs)
{
    CNTFSDataRunList list;
    if (!list.InitFromBuffer(pairs.data(), static_cast<long long>(pairs.size())))
        return {{-99, -99, -99}};
    std::vector<RunRow> out;
    for (auto it = list.GetBegin(); it != list.GetEnd(); ++it)
        out.push_back({(*it)->m_s64LCN, (*it)->m_s64VCN, (*it)->m_s64Length});
    return out;
}

std::vector<DataRun> Runs(IDataRunList* list)
{
    std::vector<DataRun> out;
    for (DataRun* r = list->GetFirst(); r; r = list->GetNext())
        out.push_back(*r);
    return out;
}

void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) { std::memcpy(v.data() + at, &x, 2); }
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) { std::memcpy(v.data() + at, &x, 4); }
void Put64(std::vector<uint8_t>& v, size_t at, uint64_t x) { std::memcpy(v.data() + at, &x, 8); }

// A 4,096-byte INDX block of entries (parent, real size, allocated size),
// protected with sequence number 0x0202.
std::vector<uint8_t> IndexBlock(const std::vector<std::array<uint64_t, 3>>& entries, uint16_t count = 9)
{
    std::vector<uint8_t> b(4096, 0);
    std::memcpy(b.data(), "INDX", 4);
    Put16(b, 4, 40);
    Put16(b, 6, count);
    Put32(b, 24, 40);    // first entry at 24 + 40 = 64
    Put32(b, 32, 4072);  // allocated
    size_t at = 64;
    for (const auto& e : entries) {
        Put64(b, at, 70);      // file reference
        Put16(b, at + 8, 96);  // entry length
        Put16(b, at + 10, 80);
        Put64(b, at + 16, e[0]);
        Put64(b, at + 16 + 40, e[2]);
        Put64(b, at + 16 + 48, e[1]);
        b[at + 16 + 64] = 3;
        at += 96;
    }
    Put16(b, at + 8, 16);
    Put16(b, at + 12, 2);  // last entry
    at += 16;
    Put32(b, 28, static_cast<uint32_t>(at - 24));
    Put16(b, 40, 0x0202);
    for (unsigned int k = 0; k < 8; ++k) {
        std::memcpy(b.data() + 42 + 2 * k, b.data() + k * 512 + 510, 2);
        Put16(b, k * 512 + 510, 0x0202);
    }
    return b;
}

}  // namespace

TEST(ntfs_runs, DecodeCases)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> pairs;
        std::vector<RunRow> runs;
    } cases[] = {
        {"one run", {0x11, 0x30, 0x20, 0x00}, {{32, 0, 48}}},
        {"sparse keeps the running cluster", {0x11, 0x08, 0x64, 0x01, 0x10, 0x11, 0x04, 0xF6, 0x00},
         {{100, 0, 8}, {-1, 8, 16}, {90, 24, 4}}},
        {"3-byte negative offset", {0x11, 0x01, 0x10, 0x31, 0x01, 0x00, 0x00, 0x80, 0x00},
         {{16, 0, 1}, {16 - 8388608, 1, 1}}},
        {"2-byte offset -1", {0x11, 0x01, 0x10, 0x21, 0x01, 0xFF, 0xFF, 0x00}, {{16, 0, 1}, {15, 1, 1}}},
        {"empty", {0x00}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decode(c.pairs), c.runs) << c.what;

    const std::vector<uint8_t> wide = {0x51, 1, 1, 2, 3, 4, 5, 0};
    EXPECT_FALSE(CNTFSDataRunList::IsValid(wide.data(), 8));
    const std::vector<uint8_t> full = {0x11, 0x30, 0x20};  // no room for the final 0
    EXPECT_FALSE(CNTFSDataRunList::IsValid(full.data(), 3));
    const std::vector<uint8_t> ok = {0x11, 0x30, 0x20, 0x00};
    EXPECT_TRUE(CNTFSDataRunList::IsValid(ok.data(), 4));
    EXPECT_FALSE(CNTFSDataRunList::IsValid(ok.data(), 0));
    EXPECT_EQ(CNTFSDataRunList::GetTotalClusters(ok.data(), 4), 48u);
}

TEST(ntfs_runs, ClusterQuestions)
{
    const std::vector<uint8_t> pairs = {0x11, 0x08, 0x64, 0x01, 0x10, 0x11, 0x04, 0xF6, 0x00};
    CNTFSDataRunList list;
    ASSERT_TRUE(list.InitFromBuffer(pairs.data(), static_cast<long long>(pairs.size())));
    EXPECT_EQ(list.GetLCN(0), 100);
    EXPECT_EQ(list.GetLCN(7), 107);
    EXPECT_EQ(list.GetLCN(8), -1);   // sparse
    EXPECT_EQ(list.GetLCN(25), 91);
    EXPECT_EQ(list.GetLCN(28), -1);  // past the end
    EXPECT_EQ(list.GetVCN(91), 25);
    EXPECT_EQ(list.GetVCN(99), -1);
    EXPECT_TRUE(list.IsLCNContained(107));
    EXPECT_EQ(list.GetTotalClusters(), 28);

    // Runs of a second extent are moved by its first VCN; Sort restores order.
    CNTFSDataRunList two;
    const std::vector<uint8_t> later = {0x11, 0x04, 0x50, 0x00};
    ASSERT_TRUE(two.AddDataRunsfromBuffer(later.data(), 4, 8));
    const std::vector<uint8_t> first = {0x11, 0x08, 0x10, 0x00};
    ASSERT_TRUE(two.AddDataRunsfromBuffer(first.data(), 4, 0));
    two.Sort();
    EXPECT_EQ(two.GetLCN(0), 16);
    EXPECT_EQ(two.GetLCN(9), 81);
    EXPECT_EQ(two.GetBegin()->get()->m_s64VCN, 0);
    CNTFSDataRunList same;
    same.AddDataRun(16, 0, 8);
    same.AddDataRun(80, 8, 4);
    EXPECT_TRUE(two.IsEqual(same));
    same.AddDataRun(1, 12, 1);
    EXPECT_FALSE(two.IsEqual(same));
}

TEST(ntfs_runs, CompactFormRoundTrip)
{
    CNoneResidentNTFSDataRunList runs;
    for (DataRun r : {DataRun{100, 8}, DataRun{-1, 8}, DataRun{90, 4}})
        runs.AddDataRun(r);
    std::unique_ptr<CCompressedDataRunList> compact(CCompressedDataRunList::Compress(&runs));
    ASSERT_TRUE(compact);
    const std::vector<uint8_t> expected = {0x11, 0x08, 0x64, 0x01, 0x08, 0x11, 0x04, 0xF6, 0x00};
    ASSERT_EQ(compact->GetCompressedDataRunSize(), expected.size());
    EXPECT_EQ(std::vector<uint8_t>(compact->GetBytes(), compact->GetBytes() + expected.size()), expected);
    EXPECT_EQ(compact->m_u16DataOffset, 0);
    IDataRunList* back = compact->Decompress();
    ASSERT_EQ(back->GetDataRunListType(), 2);
    const auto got = Runs(back);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1].llStart, -1);
    EXPECT_EQ(got[2].llStart, 90);
    EXPECT_EQ(got[2].llLength, 4);
    back->Release();

    // Large values and a length of 128 (two bytes) survive.
    CNoneResidentNTFSDataRunList big;
    for (DataRun r : {DataRun{0x123456789A, 128}, DataRun{5, 0x10000}, DataRun{0x7FFFFFFF00, 1}})
        big.AddDataRun(r);
    std::unique_ptr<CCompressedDataRunList> bigCompact(CCompressedDataRunList::Compress(&big));
    IDataRunList* bigBack = bigCompact->Decompress();
    const auto bigRuns = Runs(bigBack);
    ASSERT_EQ(bigRuns.size(), 3u);
    EXPECT_EQ(bigRuns[0].llStart, 0x123456789A);
    EXPECT_EQ(bigRuns[0].llLength, 128);
    EXPECT_EQ(bigRuns[1].llStart, 5);
    EXPECT_EQ(bigRuns[1].llLength, 0x10000);
    EXPECT_EQ(bigRuns[2].llStart, 0x7FFFFFFF00);
    bigBack->Release();

    // Resident data: the record's sector and the data offset.
    CResidentNTFSDataRunList resident;
    resident.InitList(5000, 1, 0x98);
    std::unique_ptr<CCompressedDataRunList> residentCompact(CCompressedDataRunList::Compress(&resident));
    EXPECT_EQ(residentCompact->m_u16DataOffset, 0x98);
    IDataRunList* residentBack = residentCompact->Decompress();
    EXPECT_EQ(residentBack->IsResident(), 1);
    EXPECT_EQ(residentBack->GetDataRunListType(), 1);
    EXPECT_EQ(residentBack->GetOffset(), 0x98);
    IDataRunList* clone = residentBack->Clone();
    EXPECT_EQ(clone->GetOffset(), 0x98);
    EXPECT_EQ(Runs(clone)[0].llStart, 5000);
    clone->Release();
    residentBack->Release();

    CNoneResidentNTFSDataRunList empty;
    EXPECT_EQ(CCompressedDataRunList::Compress(&empty), nullptr);
}

TEST(ntfs_runs, IndexBlocks)
{
    std::vector<uint8_t> b = IndexBlock({{70, 10, 4096}, {70, 0, 0}});
    const std::vector<uint8_t> original = b;
    EXPECT_TRUE(CStandardIndexHeader::IsValid(b.data(), 4096));
    EXPECT_TRUE(CIndexRecord::IsValid(b.data(), 4096));
    EXPECT_EQ(b, original);  // left protected
    EXPECT_EQ(CIndexRecord::GetParentFileReference(b.data(), 4096), 70u);

    struct Case {
        const char* what;
        std::vector<uint8_t> block;
    } bad[] = {
        {"count 8", IndexBlock({{70, 10, 4096}}, 8)},
        {"second entry of another folder", IndexBlock({{70, 10, 4096}, {71, 10, 4096}})},
        {"real size above allocated", IndexBlock({{70, 5000, 4096}})},
    };
    for (Case& c : bad)
        EXPECT_FALSE(CIndexRecord::IsValid(c.block.data(), 4096)) << c.what;
    EXPECT_EQ(CIndexRecord::GetParentFileReference(bad[1].block.data(), 4096), 0xFFFFFFFFu);

    std::vector<uint8_t> torn = original;
    torn[3 * 512 + 510] = 0;
    EXPECT_FALSE(CIndexRecord::IsValid(torn.data(), 4096));
    std::vector<uint8_t> smaller = original;
    Put32(smaller, 32, 5000);  // more allocated than the buffer
    EXPECT_FALSE(CStandardIndexHeader::IsValid(smaller.data(), 4096));
}

TEST(ntfs_runs, LogPages)
{
    std::vector<uint8_t> page(4096, 0);
    std::memcpy(page.data(), "RCRD", 4);
    Put16(page, 4, 40);
    Put16(page, 6, 9);
    Put16(page, 40, 0x0303);
    for (unsigned int k = 0; k < 8; ++k) {
        Put16(page, 42 + 2 * k, static_cast<uint16_t>(0x1000 + k));
        Put16(page, k * 512 + 510, 0x0303);
    }
    EXPECT_TRUE(CRCRDRecord::IsValidRCRDRecordFirstSector(page.data(), 512));
    EXPECT_TRUE(CRCRDRecord::IsValid(page.data(), 4096));
    ASSERT_TRUE(CRCRDRecord::Unfixup(page.data(), 4096));
    EXPECT_EQ(page[7 * 512 + 510], 0x07);
    EXPECT_EQ(page[7 * 512 + 511], 0x10);
    EXPECT_FALSE(CRCRDRecord::IsValid(page.data(), 4096));  // no longer protected
    const uint8_t* head = nullptr;
    EXPECT_TRUE(CRCRDRecord::GetRecordHead(page.data(), 4096, &head));
    EXPECT_EQ(head, page.data());
    EXPECT_FALSE(CRCRDRecord::GetOperationRecordHeader(page.data(), 47, &head));
    Put16(page, 6, 8);
    EXPECT_FALSE(CRCRDRecord::IsValidUpdateSequence(page.data(), 4096));
}

TEST(ntfs_runs, SaveAndRestore)
{
    TempDir dir;
    const std::string path = dir / "runs.rsf";
    const tagGUIDSIGN id = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    CNTFSDataRunList runs;
    runs.AddDataRun(100, 0, 8);
    runs.AddDataRun(-1, 8, 16);
    runs.AddDataRun(0x123456789A, 24, 4);
    {
        CRSData w(RS_MODE_WRITE);
        ASSERT_EQ(w.StartRS(path.c_str(), 1), 1);
        ASSERT_EQ(w.WriteFileHeader(FILEHEADER{}), 1);
        ASSERT_EQ(w.OpenFrame(id), 1);
        ASSERT_EQ(runs.Save(w), 1);
        ASSERT_EQ(w.CloseFrame(), 1);
        ASSERT_EQ(w.EndRS(), 1);
    }
    {
        CRSData r(RS_MODE_READ);
        ASSERT_EQ(r.StartRS(path.c_str(), 0), 1);
        ASSERT_EQ(r.OpenFrame(id), 1);
        CNTFSDataRunList back;
        back.AddDataRun(1, 0, 1);  // Restore appends
        ASSERT_EQ(back.Restore(r), 1);
        CNTFSDataRunList expected;
        expected.AddDataRun(1, 0, 1);
        expected.AddDataRun(100, 0, 8);
        expected.AddDataRun(-1, 8, 16);
        expected.AddDataRun(0x123456789A, 24, 4);
        EXPECT_TRUE(back.IsEqual(expected));
    }
    // A count larger than the frame holds: nothing is read.
    {
        CRSData w(RS_MODE_WRITE);
        ASSERT_EQ(w.StartRS(path.c_str(), 1), 1);
        ASSERT_EQ(w.WriteFileHeader(FILEHEADER{}), 1);
        ASSERT_EQ(w.OpenFrame(id), 1);
        const unsigned long long count = 1ULL << 60;
        ASSERT_EQ(w.WriteCurFrame(&count, sizeof count), 1);
        ASSERT_EQ(w.CloseFrame(), 1);
        ASSERT_EQ(w.EndRS(), 1);
        CRSData r(RS_MODE_READ);
        ASSERT_EQ(r.StartRS(path.c_str(), 0), 1);
        ASSERT_EQ(r.OpenFrame(id), 1);
        CNTFSDataRunList back;
        EXPECT_EQ(back.Restore(r), 0);
        EXPECT_TRUE(back.IsEmpty());
    }
}

TEST(ntfs_runs, SectorsPerClusterGuess)
{
    struct Case {
        unsigned int sectorSize;
        unsigned long long bytes, clusters;
        unsigned int guess;
    } cases[] = {
        {512, 40960, 10, 8},  {0, 40960, 10, 8},   {1000, 40960, 10, 8}, {4096, 40960, 10, 1},
        {512, 40000, 10, 8},  {512, 3000, 1, 8},   {512, 512, 1, 1},     {512, 65536 * 2, 1, 0},
        {512, 65536, 1, 128}, {512, 0, 5, 0},      {512, 5, 0, 0},
    };
    for (const Case& c : cases) {
        SetNtfsGuessSectorSize(c.sectorSize);
        EXPECT_EQ(GuessSectorsPerCluster(c.bytes, c.clusters), c.guess)
            << c.sectorSize << " " << c.bytes << " " << c.clusters;
    }
    SetNtfsGuessSectorSize(512);
    // From an attribute (initialized size over its clusters) and a record
    // (first extent's real size over every unnamed extent's clusters).
    const std::vector<uint8_t> a = MakeNonResident(NTFS_ATTR_DATA, {0x11, 10, 0x20, 0}, 0, 9, 40960, 40960);
    EXPECT_EQ(CNTFSFileRecordDataRunsAttribute::GetSectorsPerCluster(a.data(), static_cast<long long>(a.size())), 8u);
    EXPECT_EQ(CNTFSFileRecordDataRunsAttribute::GetSectorsPerCluster(a.data(), 20), 0u);
    RecordSpec spec;
    spec.attributes.push_back(FileName(5, u"f", 1));
    spec.attributes.push_back(MakeNonResident(NTFS_ATTR_DATA, {0x11, 4, 0x20, 0}, 0, 3, 40960, 40960));
    spec.attributes.push_back(MakeNonResident(NTFS_ATTR_DATA, {0x11, 6, 0x40, 0}, 4, 9, 0, 0));
    spec.attributes.push_back(MakeNonResident(NTFS_ATTR_DATA, {0x11, 50, 0x60, 0}, 0, 49, 5, 5, 0, u"ads"));
    std::vector<uint8_t> r = MakeRecord(spec);
    CNTFSFileRecord::UnfixupFileRecord(r.data(), 1024);
    EXPECT_EQ(CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(r.data()), 8u);
    SetNtfsGuessSectorSize(0);
}
