// The deep scan over the disk variants: the volumes rebuilt, their evidence
// flags, the root sets, and the nodes against the quick scan of the same
// volumes; then damaged and random devices.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>

#include "ExFatCompleteSearch.h"
#include "ExFatDeepSupport.h"
#include "ExFatFileNode.h"
#include "ExFatTestSupport.h"
#include "ImageFileDevice.h"
#include "TestSupport.h"

namespace {

unsigned long Flags(const std::map<std::string, std::string>& fields) { return std::stoul(fields.at("flags"), nullptr, 16); }

struct ExpectedVolume {
    long long start;
    long long heap;
    unsigned int spc;
    unsigned long mustHave;
    unsigned long mustNotHave;
    long long total;  // -1: not checked
    unsigned int rootCluster;
};

struct QuickVolume {
    std::string image;
    long long start, count;
};

struct Variant {
    std::string name;
    std::function<std::string(const TempDir&)> make;
    std::vector<ExpectedVolume> volumes;
    std::vector<QuickVolume> quick;
};

constexpr unsigned long kBoot = 0x80000000, kBackup = 0x40000000, kRootEv = 0x10000000, kFat = 0x1;

std::vector<Variant> Variants()
{
    const std::string disk = ExFatImagePath("ex-disk.img");
    const std::vector<QuickVolume> diskQuick = {{disk, kDiskP1Start, kDiskP1Sectors},
                                                {disk, kDiskP2Start, kDiskP2Sectors}};
    const ExpectedVolume p1 = {kDiskP1Start, kDiskP1Heap, 8, kBoot | kBackup | kFat, 0, kDiskP1Sectors, 5};
    const ExpectedVolume p2 = {kDiskP2Start, kDiskP2Heap, 64, kBoot | kBackup | kFat, 0, kDiskP2Sectors, 4};
    auto variant = [](const char* v) { return [v](const TempDir& d) { return MakeDiskVariant(d, v); }; };
    return {
        {"intact", variant("intact"), {p1, p2}, diskQuick},
        {"no MBR", variant("no-mbr"), {p1, p2}, diskQuick},
        {"p1 main boot region zeroed",
         variant("p1-main"),
         {{kDiskP1Start, kDiskP1Heap, 8, kBackup | kFat, kBoot, kDiskP1Sectors, 5}, p2},
         diskQuick},
        {"p1 both boot regions zeroed",
         variant("p1-both"),
         {{0, kDiskP1Heap, 8, kRootEv, kBoot | kBackup | kFat, 126976, 5}, p2},
         diskQuick},
        {"ex-quick.img as a volume",
         [](const TempDir&) { return ExFatImagePath("ex-quick.img"); },
         {{0, kQuickHeap, kQuickSectorsPerCluster, kBoot | kBackup | kFat, 0, 131072, 5}},
         {{ExFatImagePath("ex-quick.img"), 0, 131072}}},
        {"late-disk.img",
         [](const TempDir& d) { return MakeLateDisk(d); },
         {{0, kLateOffset + 4096, 1, kRootEv, kBoot | kBackup | kFat, -1, 45}},
         {{ExFatImagePath("ex-late.img"), 0, 131072}}},
    };
}

std::multiset<std::string> QuickLines(const std::vector<QuickVolume>& volumes)
{
    std::multiset<std::string> out;
    for (const QuickVolume& v : volumes) {
        auto lines = QuickTreeLines(v.image, v.start, v.count);
        out.insert(lines.begin(), lines.end());
    }
    return out;
}

std::optional<std::map<std::string, std::string>> CandidateAt(const std::string& listing, long long start)
{
    for (const auto& c : ListingLines(listing, "candidate"))
        if (std::stoll(c.at("start")) == start)
            return c;
    return std::nullopt;
}

CExFatFileNode* NodeNamed(const CRecordingBuilder& b, const std::string& name)
{
    for (CExFatFileNode* n : b.m_nodes)
        if (name == n->GetFileName())
            return n;
    return nullptr;
}

}  // namespace

// Each variant: the final partitions with their flags, heap and cluster
// size; the root set of each flagged as one; every node against the quick
// scan of the intact volume, parents included.
TEST(exfat_deep_variants, VolumesFlagsAndNodes)
{
    TempDir dir;
    for (const Variant& v : Variants()) {
        SCOPED_TRACE(v.name);
        const std::string image = v.make(dir);
        const std::string digest = FileDigest(image);
        DeepRun run;
        RunDeep(run, image);
        EXPECT_EQ(FileDigest(image), digest);

        const auto finals = ListingLines(run.after, "final");
        ASSERT_EQ(finals.size(), v.volumes.size()) << run.after;
        const auto sets = ListingLines(run.before, "set");
        for (const ExpectedVolume& e : v.volumes) {
            SCOPED_TRACE("heap " + std::to_string(e.heap));
            auto it = std::find_if(finals.begin(), finals.end(),
                                   [&](const auto& f) { return std::stoll(f.at("heap")) == e.heap; });
            ASSERT_NE(it, finals.end()) << run.after;
            EXPECT_EQ(std::stoul(it->at("spc")), e.spc);
            EXPECT_EQ(std::stoll(it->at("start")), e.start);
            EXPECT_EQ(Flags(*it) & e.mustHave, e.mustHave) << run.after;
            EXPECT_EQ(Flags(*it) & e.mustNotHave, 0u) << run.after;
            if (e.total >= 0) {
                EXPECT_EQ(std::stoll(it->at("total")), e.total);
            }
            EXPECT_EQ(std::stoul(it->at("root")), e.rootCluster);

            const long long rootSector = e.heap + static_cast<long long>(e.rootCluster - 2) * e.spc;
            auto root = std::find_if(sets.begin(), sets.end(),
                                     [&](const auto& s) { return std::stoll(s.at("0")) == rootSector; });
            ASSERT_NE(root, sets.end()) << "no set at the root sector " << rootSector;
            EXPECT_EQ(Flags(*root) & 7u, 7u) << "the root set is flagged as one";
        }
        // Neither reading of a boot sector as its own backup survives.
        for (const auto& c : ListingLines(run.before, "candidate")) {
            EXPECT_NE(std::stoll(c.at("start")), kDiskP1Start - 12);
            EXPECT_NE(std::stoll(c.at("start")), kDiskP2Start - 12);
        }

        // The nodes: root id -1, tree 33, partition index of a final one.
        const CRecordingBuilder& b = *run.builder;
        ASSERT_FALSE(b.m_events.empty());
        EXPECT_EQ(b.m_events.front(), "info 33 -1");
        EXPECT_EQ(b.m_events.back(), "flash 33");
        for (size_t i = 0; i < b.m_nodes.size(); ++i) {
            EXPECT_EQ(b.m_nodeTypes[i], SEARCHER_EXFAT);
            EXPECT_LT(b.m_nodes[i]->GetBelongedPartition(), v.volumes.size());
        }
        EXPECT_EQ(TreeLines(b), QuickLines(v.quick));

        if (v.name == "p1 both boot regions zeroed") {
            // Without FAT evidence a FAT-chained file keeps its first cluster.
            CExFatFileNode* d = NodeNamed(b, "D.txt");
            ASSERT_TRUE(d);
            IDataRunList* runs = d->GetDataRunList();
            ASSERT_TRUE(runs && runs->GetFirst());
            EXPECT_EQ(runs->GetFirst()->llLength, 1);
            EXPECT_EQ(runs->GetNext(), nullptr);
        }
        if (v.name == "intact") {
            // The deleted folder's own cluster holds its deleted files.
            CExFatFileNode* trash = NodeNamed(b, "trash me");
            ASSERT_TRUE(trash);
            EXPECT_TRUE(trash->IsDeleted());
            for (const char* name : {"t1.txt", "t2.txt", "t3.txt", "t4.txt"}) {
                CExFatFileNode* t = NodeNamed(b, name);
                ASSERT_TRUE(t) << name;
                EXPECT_TRUE(t->IsDeleted()) << name;
                EXPECT_EQ(t->GetParentNodeID(), trash->GetCurrentNodeID()) << name;
            }
        }
        if (v.name == "ex-quick.img as a volume") {
            // The contiguous folder owns all its clusters, so the sets of
            // its later clusters hang under it.
            CExFatFileNode* contig = NodeNamed(b, "contig");
            ASSERT_TRUE(contig);
            int children = 0;
            for (CExFatFileNode* n : b.m_nodes)
                children += n->GetParentNodeID() == contig->GetCurrentNodeID();
            EXPECT_EQ(children, 121);
            EXPECT_TRUE(NodeNamed(b, "emoji-😀-name.txt"));
            EXPECT_TRUE(NodeNamed(b, "abcdefghijklmn😀.txt"));
        }
    }
}

// Block by block over p1's boot regions: the main boot sector also reads as
// a backup 12 sectors earlier; that candidate goes once the real backup is
// seen, and the volume gains the backup flag.
TEST(exfat_deep_variants, BackupBootSectorRemovesSpuriousCandidate)
{
    DeepRun run;
    std::map<long long, std::string> seen;  // block end -> candidate lines
    RunDeep(run, ExFatImagePath("ex-disk.img"), 4, 2068,
            [&](long long end, const CExFatCompleteSearch& s) { seen[end] = s.GetBuilder().ListCandidates(); });
    // The block ending at 2052 examined 2046..2049.
    EXPECT_FALSE(CandidateAt(seen.at(2048), kDiskP1Start - 12));
    const auto spurious = CandidateAt(seen.at(2052), kDiskP1Start - 12);
    ASSERT_TRUE(spurious) << seen.at(2052);
    EXPECT_EQ(Flags(*spurious), kBackup);
    ASSERT_TRUE(CandidateAt(seen.at(2052), kDiskP1Start));
    EXPECT_EQ(Flags(*CandidateAt(seen.at(2052), kDiskP1Start)), kBoot);
    // Still there just before the backup (2060) is examined ...
    EXPECT_TRUE(CandidateAt(seen.at(2060), kDiskP1Start - 12));
    // ... and gone right after.
    EXPECT_FALSE(CandidateAt(seen.at(2064), kDiskP1Start - 12)) << seen.at(2064);
    ASSERT_TRUE(CandidateAt(seen.at(2064), kDiskP1Start));
    EXPECT_EQ(Flags(*CandidateAt(seen.at(2064), kDiskP1Start)), kBoot | kBackup);
}

// A boot sector in the first 12 sectors cannot be anyone's backup.
TEST(exfat_deep_variants, BootSectorAtZeroMakesNoBackupCandidate)
{
    DeepRun run;
    std::map<long long, std::string> seen;
    RunDeep(run, ExFatImagePath("ex-quick.img"), 4, 20,
            [&](long long end, const CExFatCompleteSearch& s) { seen[end] = s.GetBuilder().ListCandidates(); });
    const auto first = ListingLines(seen.at(4), "candidate");
    ASSERT_EQ(first.size(), 1u) << seen.at(4);
    EXPECT_EQ(std::stoll(first[0].at("start")), 0);
    EXPECT_EQ(Flags(first[0]), kBoot);
    const auto later = ListingLines(seen.at(20), "candidate");
    ASSERT_EQ(later.size(), 1u) << seen.at(20);
    EXPECT_EQ(Flags(later[0]), kBoot | kBackup);
}

// contig (NoFatChain, clusters 6-10) with the checksum of the entry set
// that crosses from its first cluster into its second broken: the join
// fails, so the set of clusters 7-10 is not tied to the first one. It still
// hangs under contig, which owns all five clusters. The crossing file
// itself is lost to the deep scan, which tests the checksum of every set it
// joins, while the quick walk (no checksum test) lists it.
TEST(exfat_deep_variants, ContiguousFolderOwnsItsLaterClusters)
{
    TempDir dir;
    const std::string image = dir / "ex-quick-cut.img";
    CopyFile(ExFatImagePath("ex-quick.img"), image);
    const long long lastOfFirst = kQuickRootSector + 2 * kQuickSectorsPerCluster - 1;  // sector 4135
    std::vector<uint8_t> sector = ReadAt(image, lastOfFirst * 512, 512);
    int crossing = -1;
    for (int i = 0; i < 16; ++i)
        if (sector[i * 32] == 0x85 && i + 1 + sector[i * 32 + 1] > 16)
            crossing = i;
    ASSERT_GE(crossing, 0) << "no entry set crosses into contig's second cluster";
    sector[crossing * 32 + 2] ^= 0xFF;
    WriteAt(image, lastOfFirst * 512, sector.data(), sector.size());

    DeepRun run;
    RunDeep(run, image);
    const auto sets = ListingLines(run.before, "set");
    auto second = std::find_if(sets.begin(), sets.end(),
                               [&](const auto& s) { return std::stoll(s.at("0")) == lastOfFirst + 1; });
    ASSERT_NE(second, sets.end()) << run.before;
    EXPECT_EQ(second->at("last"), "-1") << "the broken set must not tie the clusters";

    const CRecordingBuilder& b = *run.builder;
    CExFatFileNode* contig = NodeNamed(b, "contig");
    ASSERT_TRUE(contig);
    int children = 0;
    for (CExFatFileNode* n : b.m_nodes)
        children += n->GetParentNodeID() == contig->GetCurrentNodeID();
    EXPECT_EQ(children, 120);

    std::multiset<std::string> expected = QuickTreeLines(image, 0, 131072);
    const std::string crossingLine = "contig/empty file with a long name 026.txt\t0\t0\t0";
    ASSERT_EQ(expected.count(crossingLine), 1u);
    expected.erase(crossingLine);
    EXPECT_EQ(TreeLines(b), expected);
}

namespace {

long PeakRssKiB()
{
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void WriteRandom(std::fstream& f, std::mt19937_64& rng, size_t bytes)
{
    std::vector<char> buffer(bytes);
    for (size_t i = 0; i + 8 <= bytes; i += 8) {
        const uint64_t v = rng();
        std::memcpy(buffer.data() + i, &v, 8);
    }
    f.write(buffer.data(), static_cast<std::streamsize>(bytes));
}

}  // namespace

// Random data and a disk with every seventh sector overwritten: the scan
// ends, memory stays bounded, and the damaged disk still gives volumes.
TEST(exfat_deep_damage, RandomAndDamagedDevices)
{
    TempDir dir;
    std::mt19937_64 rng(0x5eed);
    const long rssBefore = PeakRssKiB();
    {
        const std::string random = dir / "random.img";
        std::fstream f(random, std::ios::out | std::ios::binary);
        for (int mib = 0; mib < 64; ++mib)
            WriteRandom(f, rng, 1 << 20);
        f.close();
        DeepRun run;
        RunDeep(run, random);
        EXPECT_LT(run.builder->m_nodes.size(), 1000u);
        EXPECT_LT(ListingLines(run.before, "candidate").size(), 1025u);
    }
    {
        const std::string damaged = MakeDiskVariant(dir, "intact");
        std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
        for (long long s = 0; s < kDiskP2Start + kDiskP2Sectors; s += 7) {
            f.seekp(s * 512);
            WriteRandom(f, rng, 512);
        }
        f.close();
        DeepRun run;
        RunDeep(run, damaged);
        EXPECT_GE(ListingLines(run.after, "final").size(), 1u) << run.after;
        EXPECT_LT(run.builder->m_nodes.size(), 1000u);
    }
    EXPECT_LT(PeakRssKiB() - rssBefore, 512L * 1024) << "peak memory grew by more than 512 MiB";
}
