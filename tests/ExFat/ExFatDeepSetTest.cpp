// The set machinery of the deep scan: entry sets restored across sector and
// cluster boundaries, joins of sets split over distant sectors, cluster-size
// bounds, and the batch trigger.
#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "EFDTAnalyze.h"
#include "ExFatDeepSupport.h"
#include "ExFatFileNode.h"
#include "ExFatFileSet.h"
#include "ExFatPartition.h"
#include "ExFatPartitionRebuild.h"
#include "TestSupport.h"

namespace {

using RecordKey = std::tuple<std::string, uint32_t, uint64_t, int, int, int, uint32_t, uint32_t, uint32_t>;

RecordKey KeyOf(const _tagFileBaseInfo& r)
{
    return {r.szName,         r.dwFirstCluster, r.u64DataLength, r.u8NoFatChain, r.u8InUse,
            r.wAttributes,    r.dwCreateTime,   r.dwModifyTime,  r.dwAccessTime};
}

// The records of a directory as the quick walk reads them: its clusters
// through the FAT, the entry set being assembled carried from cluster to
// cluster.
std::multiset<RecordKey> RecordsThroughFat(IStorageDevice* volume, CExFatPartition& part, uint32_t first,
                                           std::vector<uint32_t>& clusters)
{
    CEFDTAnalyze analyze;
    analyze.PrepareAnayze(9, 12, static_cast<unsigned long long>(volume->GetTotalSectors()));
    std::vector<uint8_t> buffer(4096);
    for (uint32_t c = first; c >= 2 && c < part.m_dwClusterLimit && clusters.size() < 64; c = part.GetNextCluster(c, 0)) {
        clusters.push_back(c);
        const long long sector = part.ConvertClusterNumToSector(c);
        EXPECT_EQ(volume->ReadSector(buffer.data(), sector, 8), 1);
        if (!analyze.Analyze(buffer.data(), buffer.size(), sector))
            break;
    }
    std::multiset<RecordKey> out;
    for (const _tagFileBaseInfo& r : analyze.GetFileList())
        out.insert(KeyOf(r));
    return out;
}

}  // namespace

// The records of `many` (three FAT-chained clusters, five-entry sets that
// cross sector and cluster boundaries) and of p1's root (sets crossing a
// sector boundary) equal what the quick walk's parser gives on the same
// clusters; the cluster crossings are tied by joins.
TEST(exfat_deep_sets, PreAnalyserRestoresCrossingSets)
{
    const std::string image = ExFatImagePath("ex-disk.img");
    DeepRun run;
    RunDeep(run, image, kBlockSectors, kDiskP2Start);
    const auto& sets = run.searcher->GetBuilder().GetAllSets();

    auto disk = OpenImageFileDisk(image, 512);
    ASSERT_TRUE(disk);
    CWindowDevice volume(disk.get(), kDiskP1Start, kDiskP1Sectors);
    CExFatPartition part;
    part.m_s64HeapStart = kDiskP1Heap - kDiskP1Start;
    part.m_dwSectorsPerCluster = 8;
    part.m_dwBytesPerCluster = 4096;
    part.m_dwClusterLimit = 15872;
    ASSERT_TRUE(part.CreateFatTable(&volume, 2048, 128, 15872));

    struct Dir {
        const char* name;
        uint32_t firstCluster;
        size_t clusters;
        size_t joins;
    };
    // many is the root's second folder: cluster 10 (after top, a, b, c).
    for (const Dir& dir : {Dir{"root", 5, 1, 0}, Dir{"many", 10, 3, 2}}) {
        SCOPED_TRACE(dir.name);
        std::vector<uint32_t> clusters;
        const std::multiset<RecordKey> expected = RecordsThroughFat(&volume, part, dir.firstCluster, clusters);
        ASSERT_EQ(clusters.size(), dir.clusters);

        std::multiset<RecordKey> found;
        size_t joins = 0;
        size_t setsSeen = 0;
        for (const auto& set : sets) {
            const long long first = set->m_s64FirstSector - kDiskP1Start;
            const bool inside = std::any_of(clusters.begin(), clusters.end(), [&](uint32_t c) {
                const long long s = part.ConvertClusterNumToSector(c);
                return first >= s && first < s + 8;
            });
            if (!inside)
                continue;
            ++setsSeen;
            joins += set->m_pNext != nullptr;
            for (const auto* list : {&set->m_listInUse, &set->m_listDeleted})
                for (const _tagFileBaseInfo& r : *list)
                    found.insert(KeyOf(r));
        }
        EXPECT_EQ(setsSeen, dir.clusters);
        EXPECT_EQ(joins, dir.joins);
        EXPECT_EQ(found, expected);
        EXPECT_FALSE(expected.empty());
    }
}

namespace {

// Entries as bytes.
std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> Entries(const std::vector<uint8_t>& set, size_t from, size_t count)
{
    return std::vector<uint8_t>(set.begin() + from * 32, set.begin() + (from + count) * 32);
}

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

struct SplitCase {
    const char* what;
    std::u16string name;
    bool inUse;
    size_t firstPart;  // entries of the split set before the cut
    bool headFirst;    // the sector with the rest comes first on the disk
    bool breakHead;    // a character of the rest altered: no join
};

// The set that starts at sector, or null.
const CFileSet* SetAt(const CPartitionBuilder& b, long long sector) { return b.FindSet(sector); }

bool HasName(const CFileSet* set, const std::string& name)
{
    if (!set)
        return false;
    for (const auto* list : {&set->m_listInUse, &set->m_listDeleted})
        for (const _tagFileBaseInfo& r : *list)
            if (name == r.szName)
                return true;
    return false;
}

}  // namespace

// An entry set cut in two, its first part at the end of one sector and the
// rest at the start of a sector 200 sectors away, is completed through
// Joint in either order; the name, a surrogate pair straddling the cut
// included, comes out whole.
TEST(exfat_deep_sets, SplitSetJoinedAcrossDistantSectors)
{
    const std::u16string emoji = u"abcdefghijklmn\U0001F600.txt";  // the pair straddles the two name entries
    const SplitCase cases[] = {
        {"cut after the stream, file part first", U16("the split set name.txt"), true, 2, false, false},
        {"cut inside the name, file part first", emoji, true, 3, false, false},
        {"cut after the stream, rest first", U16("the split set name.txt"), true, 2, true, false},
        {"deleted set, rest first", U16("the split set name.txt"), false, 2, true, false},
        {"deleted set, cut inside the name", emoji, false, 3, false, false},
        {"rest altered: the checksum fails", U16("the split set name.txt"), true, 2, false, true},
    };
    // Fillers of 3 and 5 entries, so that the split set ends its sector.
    const auto three = [](const char* n, uint32_t c) { return EntrySet(U16(n), c, 100); };
    const auto five = [](const char* n, uint32_t c) {
        return EntrySet(U16(std::string(n) + "-with-a-name-of-more-than-30-chars.txt"), c, 100);
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> split = EntrySet(c.name, 500, 5000, c.inUse);
        const size_t total = split.size() / 32;
        ASSERT_EQ(total, 4u);
        std::vector<uint8_t> rest = Entries(split, c.firstPart, total - c.firstPart);
        if (c.breakHead)
            rest[rest.size() - 30] ^= 0x01;  // a character of the last name entry
        const std::vector<uint8_t> fillers =
            c.firstPart == 2 ? Concat({three("f1.txt", 10), three("f2.txt", 11), three("f3.txt", 12), five("f4", 13)})
                             : Concat({three("f1.txt", 10), five("f4", 13), five("f5", 14)});
        const std::vector<uint8_t> cutSector = Concat({fillers, Entries(split, 0, c.firstPart)});
        ASSERT_EQ(cutSector.size(), 512u);
        const std::vector<uint8_t> restSector = Concat({rest, three("after.txt", 20)});

        const long long cutAt = c.headFirst ? 300 : 100;
        const long long restAt = c.headFirst ? 100 : 300;
        TempDir dir;
        const std::string image = dir / "split.img";
        std::ofstream(image, std::ios::binary).put('\0');
        RunTool("truncate -s 1M '" + image + "'");
        WriteAt(image, cutAt * 512, cutSector.data(), cutSector.size());
        WriteAt(image, restAt * 512, restSector.data(), restSector.size());

        DeepRun run;
        RunDeep(run, image, kBlockSectors, 2048);
        const CPartitionBuilder& b = run.searcher->GetBuilder();
        const CFileSet* cut = SetAt(b, cutAt);
        const CFileSet* head = SetAt(b, restAt);
        ASSERT_TRUE(cut) << run.before;
        ASSERT_TRUE(head) << run.before;
        EXPECT_TRUE(cut->m_dwFlags & CFileSet::kNotEnded);
        EXPECT_TRUE(head->m_dwFlags & CFileSet::kAbridged);
        EXPECT_TRUE(HasName(cut, "f1.txt"));
        EXPECT_TRUE(HasName(head, "after.txt"));

        std::string name;
        CUtf16NameConverter().Convert(c.name, name);
        // The set being parsed when the join is made takes the record.
        const CFileSet* later = c.headFirst ? cut : head;
        if (c.breakHead) {
            EXPECT_FALSE(HasName(cut, name) || HasName(head, name));
            EXPECT_EQ(cut->m_pNext, nullptr);
            continue;
        }
        EXPECT_TRUE(HasName(later, name)) << run.before;
        EXPECT_EQ(cut->m_pNext, head);
        EXPECT_EQ(head->m_pLast, cut);
        for (const auto* list : {&later->m_listInUse, &later->m_listDeleted})
            for (const _tagFileBaseInfo& r : *list)
                if (name == r.szName) {
                    EXPECT_EQ(r.u8InUse, c.inUse ? 1 : 0);
                    EXPECT_EQ(r.dwFirstCluster, 500u);
                    EXPECT_EQ(r.u64DataLength, 5000u);
                    EXPECT_EQ(r.s64MetadataSector, cutAt) << "the file entry's sector";
                }
    }
}

namespace {

struct Rec {
    uint32_t cluster;
    uint64_t length;
    bool noFat = true;
    bool dir = false;
    bool inUse = true;
};

_tagFileBaseInfo Record(const Rec& r)
{
    _tagFileBaseInfo info;
    info.dwFirstCluster = r.cluster;
    info.u64DataLength = r.length;
    info.u8NoFatChain = r.noFat ? 1 : 0;
    info.u8InUse = r.inUse ? 1 : 0;
    info.wAttributes = r.dir ? 0x10 : 0x20;
    return info;
}

}  // namespace

// Bounds in sectors: the smallest from contiguous files spread over the
// clusters up to the next file, the largest from folder lengths.
TEST(exfat_deep_sets, ClusterSizeBounds)
{
    struct Case {
        const char* what;
        std::vector<Rec> records;
        unsigned int sectorShift;
        uint32_t min, max;
    };
    const Case cases[] = {
        {"no records", {}, 9, 1, 65536},
        {"4 KiB in one cluster", {{10, 4096}, {11, 100}}, 9, 8, 65536},
        {"4,097 bytes over two clusters round up", {{10, 4097}, {12, 1}}, 9, 8, 65536},
        {"a FAT chain bounds nothing", {{10, 40960, false}, {11, 1}}, 9, 1, 65536},
        {"small spread stays one sector", {{10, 100}, {20, 1}}, 9, 1, 65536},
        {"arrival order does not matter", {{20, 1}, {10, 65536}}, 9, 16, 65536},
        {"an empty file in between is passed over", {{10, 16384}, {0, 0}, {12, 1}}, 9, 16, 65536},
        {"the largest bound of all pairs", {{10, 4096}, {11, 1}, {30, 8192}, {31, 1}}, 9, 16, 65536},
        {"a deleted file bounds nothing", {{10, 65536, true, false, false}, {11, 1}}, 9, 1, 65536},
        {"a folder caps the largest", {{10, 32768, true, true}}, 9, 1, 64},
        {"a folder of three clusters", {{10, 12288, false, true}}, 9, 1, 8},
        {"4,096-byte sectors", {{10, 4096}, {11, 1}}, 12, 1, 8192},
        {"contradicting evidence", {{10, 65536}, {11, 1}, {12, 4096, true, true}}, 9, 128, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CFileSet set;
        for (const Rec& r : c.records)
            set.AddRecord(Record(r));
        uint32_t previous = 0;
        for (const _tagFileBaseInfo& r : set.m_listInUse) {
            EXPECT_GE(r.dwFirstCluster, previous) << "in-use records ascend by cluster";
            previous = r.dwFirstCluster;
        }
        set.CalculateClusterSize(c.sectorShift);
        EXPECT_EQ(set.m_dwMinClusterSize, c.min);
        EXPECT_EQ(set.m_dwMaxClusterSize, c.max);
    }
}

// One pending set is processed per sector once more than 2,176 wait, and
// one when the scan runs 0x2000000 sectors past the last set's reach.
TEST(exfat_deep_sets, BatchTrigger)
{
    CPartitionBuilder b;
    b.PrepareBuild(512, 1LL << 40);
    for (long long i = 0; i < 3000; ++i) {
        auto set = std::make_unique<CFileSet>();
        set->m_s64FirstSector = 1000 + i;
        set->m_dwSectorCount = 1;
        set->AddRecord(Record({static_cast<uint32_t>(100 + i), 10}));
        set->CalculateClusterSize(9);
        b.PushFileSet(std::move(set), nullptr, nullptr);
        b.Build(1000 + i);
        ASSERT_EQ(b.GetProcessedCount(), static_cast<size_t>(std::max<long long>(0, i + 1 - 2176))) << i;
    }
    EXPECT_EQ(b.GetWaitingCount(), 2176u);
    // The last set reaches sector 3999 + cluster 3099.
    const long long reach = 3999 + 3099;
    b.Build(reach + 0x2000000);
    EXPECT_EQ(b.GetProcessedCount(), 824u);
    b.Build(reach + 0x2000001);
    b.Build(reach + 0x2000001);
    EXPECT_EQ(b.GetProcessedCount(), 826u);
    b.FinishBuid();
    EXPECT_EQ(b.GetWaitingCount(), 0u);
}

// Pairing a set that holds 20,000 folders with its neighbours costs the
// square of that count in tree lookups; the work stops at its bound
// instead of running for minutes.
TEST(exfat_deep_sets, PairingWorkIsBounded)
{
    CPartitionBuilder b;
    b.PrepareBuild(512, 1LL << 30);
    long long sector = 100000;
    auto push = [&](uint32_t firstFolder, uint32_t folders) {
        auto set = std::make_unique<CFileSet>();
        set->m_s64FirstSector = sector;
        set->m_dwSectorCount = 8;
        for (uint32_t i = 0; i < folders; ++i)
            set->AddRecord(Record({firstFolder + i, 4096, true, true}));
        set->AddRecord(Record({firstFolder + folders + 10, 100}));
        set->CalculateClusterSize(9);
        b.PushFileSet(std::move(set), nullptr, nullptr);
        sector += 59;
    };
    push(1000, 20000);
    for (uint32_t i = 0; i < 150; ++i)
        push(30000 + 20 * i, 5);
    b.BuildFromTree();
    EXPECT_EQ(b.GetProcessedCount(), 1u);
    EXPECT_GE(b.GetTreeSteps(), CPartitionBuilder::kMaxPairingSteps);
    EXPECT_LT(b.GetTreeSteps(), CPartitionBuilder::kMaxPairingSteps + 2 * 20000);
}
