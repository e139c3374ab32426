// Partition candidates of the deep search (placement, ordering, merging,
// saving) and the evidence records read from the FILE and INDX records of a
// volume made by mkntfs and an ntfs-3g mount.
#include <gtest/gtest.h>

#include <cstring>

#include "NTFSDBR.h"
#include "NTFSSearchInfo.h"
#include "NtfsTestSupport.h"
#include "RSData.h"
#include "TestSupport.h"

namespace {

std::unique_ptr<CSearchedNTFSPartitionInfo> Place(long long sector, long long lcn, unsigned int spc)
{
    return std::unique_ptr<CSearchedNTFSPartitionInfo>(
        BuildPartitionInfoAccordingtoFileRecord(sector, lcn, spc, NTFS_BUILD_FROM_MFT, 1000, 512));
}

struct CandidateSet {
    NTFSPartitionSet set;
    ~CandidateSet()
    {
        for (auto* c : set)
            delete c;
    }
};

}  // namespace

TEST(ntfs_evidence, Placement)
{
    struct Case {
        long long sector, lcn;
        unsigned spc;
        long long start;  // -1: no candidate
    } cases[] = {
        {100, 12, 8, 4}, {100, 13, 8, -1}, {100, 0, 4, -1}, {100, 1, 4, -1},
        {100, 2, 4, 92}, {100, 1, 0, -1},  {100, -1, 8, -1}, {9, 1, 1, -1},
        {100, 1LL << 60, 128, -1},
    };
    for (const Case& c : cases) {
        auto candidate = Place(c.sector, c.lcn, c.spc);
        ASSERT_EQ(candidate != nullptr, c.start >= 0) << c.sector << " " << c.lcn << " " << c.spc;
        if (!candidate)
            continue;
        EXPECT_EQ(candidate->GetStartSector(), c.start);
        EXPECT_EQ(candidate->GetSectorsPerUnit(), c.spc);
        EXPECT_EQ(candidate->GetFileSystemType(), FS_NTFS);
        EXPECT_EQ(candidate->m_s64TotalClusters, (1000 - c.start) / c.spc);
        EXPECT_EQ(candidate->GetTotalSectors(), static_cast<unsigned long long>((1000 - c.start) / c.spc * c.spc));
        EXPECT_EQ(candidate->GetPartitionBuildFromFlags(), NTFS_BUILD_FROM_MFT);
        EXPECT_EQ(candidate->GetFolderIndexMatchCount(), 0);
    }
    // Every cluster size that places the volume 8 or more sectors back.
    std::list<CSearchedNTFSPartitionInfo*> all;
    BuildPartitionInfoAccordingtoFileRecord(all, 300, 4, NTFS_BUILD_FROM_INDX, 1000, 512);
    std::vector<unsigned> sizes;
    for (auto* c : all) {
        sizes.push_back(c->GetSectorsPerUnit());
        EXPECT_EQ(c->GetStartSector(), 300 - 4LL * c->GetSectorsPerUnit());
        delete c;
    }
    EXPECT_EQ(sizes, (std::vector<unsigned>{2, 4, 8, 16, 32, 64}));
}

TEST(ntfs_evidence, OrderingAndMerging)
{
    CandidateSet s;
    CNTFSPartitionInfoBuilder builder(s.set, 1000);
    builder.MergeOrInsert(Place(100, 12, 8).release(), NTFS_BUILD_FROM_MFT);
    builder.MergeOrInsert(Place(100, 24, 4).release(), NTFS_BUILD_FROM_MFT);  // same start, other cluster size
    builder.MergeOrInsert(Place(60, 1, 8).release(), NTFS_BUILD_FROM_MFT);
    ASSERT_EQ(s.set.size(), 3u);
    std::vector<std::pair<long long, unsigned>> order;
    for (auto* c : s.set)
        order.emplace_back(c->GetStartSector(), c->GetSectorsPerUnit());
    EXPECT_EQ(order, (std::vector<std::pair<long long, unsigned>>{{4, 4}, {4, 8}, {52, 8}}));

    // An equal hypothesis merges its flag into the candidate it equals only.
    auto again = Place(100, 12, 8);
    again->SetPartitionBuildFromFlag(NTFS_BUILD_FROM_RSTR1);
    builder.MergeOrInsert(again.release(), NTFS_BUILD_FROM_RSTR1);
    ASSERT_EQ(s.set.size(), 3u);
    for (auto* c : s.set)
        EXPECT_EQ(c->GetPartitionBuildFromFlags(),
                  c->GetStartSector() == 4 && c->GetSectorsPerUnit() == 8 ? (NTFS_BUILD_FROM_MFT | NTFS_BUILD_FROM_RSTR1)
                                                                          : NTFS_BUILD_FROM_MFT);

    // Taking away the only flag removes a candidate; taking away one of two
    // keeps it.
    auto probe = Place(100, 12, 8);
    EXPECT_TRUE(builder.AdjustPartitionBuildFromFlag(*probe, 0, NTFS_BUILD_FROM_RSTR1));
    EXPECT_EQ(s.set.size(), 3u);
    EXPECT_TRUE(builder.AdjustPartitionBuildFromFlag(*probe, 0, NTFS_BUILD_FROM_MFT));
    EXPECT_EQ(s.set.size(), 2u);
    EXPECT_FALSE(builder.AdjustPartitionBuildFromFlag(*probe, NTFS_BUILD_FROM_MFT, 0));
    EXPECT_EQ(s.set.size(), 2u);
}

TEST(ntfs_evidence, SaveAndRestore)
{
    TempDir dir;
    const std::string path = dir / "candidate.rsf";
    const tagGUIDSIGN id = {{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6}};
    CSearchedNTFSPartitionInfo saved(4096);
    saved.SetSerialNumber(0x1122334455667788LL);
    saved.SetPartitionBuildFromFlag(0x0D);
    saved.m_dwMark = 1;
    saved.m_s64TotalClusters = 123456789;
    saved.m_s64LogFileMatchCount = 3;
    saved.m_s64MFTRecordSector = 1LL << 40;
    saved.m_s64BitmapSectors = 77;
    {
        CRSData w(RS_MODE_WRITE);
        ASSERT_EQ(w.StartRS(path.c_str(), 1), 1);
        ASSERT_EQ(w.WriteFileHeader(FILEHEADER{}), 1);
        ASSERT_EQ(w.OpenFrame(id), 1);
        ASSERT_EQ(saved.Save(w), 1);
        ASSERT_EQ(w.CloseFrame(), 1);
        ASSERT_EQ(w.EndRS(), 1);
    }
    CRSData r(RS_MODE_READ);
    ASSERT_EQ(r.StartRS(path.c_str(), 0), 1);
    ASSERT_EQ(r.OpenFrame(id), 1);
    EXPECT_EQ(r.GetFrameSize(), 96u);
    CSearchedNTFSPartitionInfo back;
    ASSERT_EQ(back.Restore(r), 1);
    EXPECT_EQ(back.GetSerialNumber(), saved.GetSerialNumber());
    EXPECT_EQ(back.GetSectorsperFileRecord(), 2u);
    EXPECT_EQ(back.GetPartitionBuildFromFlags(), 0x0Du);
    EXPECT_EQ(back.m_dwMark, 1u);
    EXPECT_EQ(back.m_s64TotalClusters, 123456789);
    EXPECT_EQ(back.m_s64LogFileMatchCount, 3);
    EXPECT_EQ(back.m_s64AttrDefMatchCount, -1);
    EXPECT_EQ(back.m_s64MFTRecordSector, 1LL << 40);
    EXPECT_EQ(back.m_s64BitmapSectors, 77);
    // A frame that holds less restores nothing.
    CSearchedNTFSPartitionInfo other;
    EXPECT_EQ(other.Restore(r), 0);
    EXPECT_EQ(other.m_s64TotalClusters, -1);
}

TEST(ntfs_evidence, RecordsOfARealVolume)
{
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "no ntfs-3g mount here: the image has no folders";
    const std::string image = NtfsImagePath("ntfs-basic.img");
    const auto oracle = NtfsFlsTree(image);
    const std::vector<uint8_t> boot = ReadAt(image, 0, 512);
    CNTFSDBR dbr;
    ASSERT_TRUE(dbr.InitFromBuffer(boot.data()));
    auto sectorOf = [&](long long n) { return static_cast<long long>(NtfsRecordOffset(image, n) / 512); };

    auto mft = CMFTInfo::Build(NtfsReadRecord(image, 0).data(), 1024, sectorOf(0));
    ASSERT_TRUE(mft);
    EXPECT_EQ(mft->GetSectorsPerCluster(), 8u);
    EXPECT_EQ(mft->GetSectorsPerFileRecord(), 2u);
    EXPECT_EQ(mft->GetFirstClusterNO(), static_cast<long long>(dbr.GetMFTStartCluster()));
    EXPECT_EQ(mft->GetSectorAddress(), sectorOf(0));
    // The $MFT record lies at its own first cluster: the placement rule puts
    // the volume at sector 0.
    auto candidate = Place(mft->GetSectorAddress(), mft->GetFirstClusterNO(), mft->GetSectorsPerCluster());
    ASSERT_TRUE(candidate);
    EXPECT_EQ(candidate->GetStartSector(), 0);

    auto mirror = CMFTMirrInfo::Build(NtfsReadRecord(image, 1).data(), 1024, sectorOf(1));
    ASSERT_TRUE(mirror);
    EXPECT_EQ(mirror->GetFirstClusterNO(), static_cast<long long>(dbr.GetMFTMirrorStartCluster()));
    CLogFileInfo log;
    EXPECT_TRUE(log.InitFromBuffer(NtfsReadRecord(image, 2).data(), 1024, sectorOf(2)));
    EXPECT_EQ(log.GetSectorsPerCluster(), 8u);
    CBitmapFileInfo bitmap;
    EXPECT_TRUE(bitmap.InitFromBuffer(NtfsReadRecord(image, 6).data(), 1024, sectorOf(6)));
    // 24 MiB of 4 KiB clusters: 6,144 bits.
    EXPECT_EQ(bitmap.GetFileSize(), 768);
    // A resident file has no runs: no meta-file evidence.
    CMetaFileInfo small;
    EXPECT_FALSE(small.InitFromBuffer(NtfsReadRecord(image, oracle.at("/small.txt").inode).data(), 1024, 0));

    // An ordinary file: its number and its folder.
    const long long inner = oracle.at("/dir1/inner.txt").inode;
    CCommonFileRecordInfo file;
    ASSERT_TRUE(file.InitFromBuffer(NtfsReadRecord(image, inner).data(), 1024, sectorOf(inner)));
    EXPECT_EQ(file.GetMFTFileRecordNumber(), inner);
    EXPECT_EQ(file.GetFileRecordNumberofParentDirectory(), oracle.at("/dir1").inode);
    EXPECT_FALSE(file.IsDirectory());
    CCommonFileRecordInfo top;
    ASSERT_TRUE(top.InitFromBuffer(NtfsReadRecord(image, oracle.at("/dir1").inode).data(), 1024, 0));
    EXPECT_TRUE(top.IsDirectory());
    EXPECT_EQ(top.GetFileRecordNumberofParentDirectory(), 5);

    // A folder of 100 files keeps its index in clusters; the index record
    // there names the folder back.
    const long long many = oracle.at("/many").inode;
    CFolderIndexAllocationInfo folder;
    ASSERT_TRUE(folder.InitFromBuffer(NtfsReadRecord(image, many).data(), 1024, sectorOf(many)));
    EXPECT_EQ(folder.GetMFTFileRecordNumber(), many);
    EXPECT_EQ(folder.GetSectorsPerCluster(), 8u);
    const long long lcn = folder.GetLCN(0);
    ASSERT_GT(lcn, 0);
    EXPECT_EQ(folder.GetLCN(1LL << 40), -1);
    std::vector<uint8_t> indx = ReadAt(image, static_cast<unsigned long long>(lcn) * 4096, 4096);
    CIndexRecordInfo index;
    ASSERT_TRUE(index.InitFromBuffer(indx.data(), 4096, lcn * 8));
    EXPECT_EQ(index.m_s64MFTNumber, many);
    EXPECT_EQ(index.m_u64VCN, 0u);
    // The root folder is never index evidence of its own.
    CFolderIndexAllocationInfo root;
    EXPECT_FALSE(root.InitFromBuffer(NtfsReadRecord(image, 5).data(), 1024, sectorOf(5)));
    std::vector<uint8_t> junk(4096, 0x5A);
    EXPECT_FALSE(index.InitFromBuffer(junk.data(), 4096, 0));
}

TEST(ntfs_evidence, FileRecordRuns)
{
    CCommonFileRecordPositionInfo run(100);
    EXPECT_TRUE(run.Merge(102));
    EXPECT_TRUE(run.Merge(104));
    EXPECT_FALSE(run.Merge(104));
    EXPECT_FALSE(run.Merge(107));
    EXPECT_EQ(run.GetFileRecordStartSector(), 100);
    EXPECT_EQ(run.GetFileRecordCount(), 3);
    CCommonFileRecordPositionInfo empty;
    EXPECT_FALSE(empty.Merge(1));
}
