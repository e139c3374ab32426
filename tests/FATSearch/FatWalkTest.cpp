// The FAT directory walk over the fixture images, compared with The Sleuth
// Kit and with the files the fixture script put there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "FATBuildChildren.h"
#include "FATBuildWorker.h"
#include "FATSearchedPartitionInfo.h"
#include "FATTable.h"
#include "FatSearchTestSupport.h"
#include "TestSupport.h"
#include "WorkPath.h"

namespace {

constexpr unsigned long long kFirstEmptyId = 0x100000000ULL;
const unsigned long long kFixtureTime = UnixToFileTime(1614834368);  // 2021-03-04 05:06:08 UTC

struct ImageCase {
    const char* image;
    enumFILE_SYSTEM_TYPE type;
    unsigned int sectorSize;
    int subFiles;     // entries of the deleted SUB that its first cluster holds
    bool fragmented;  // FRAG/D in two extents
};
const ImageCase kWalkImages[] = {
    {"fat32.img", FS_FAT32, 512, 4, true},
    {"fat16.img", FS_FAT16, 512, 6, true},
    {"fat16-4k.img", FS_FAT16, 4096, 6, true},
    {"fat32-4k.img", FS_FAT32, 4096, 6, false},
};

// fls names an erased entry with "_" where the walk puts "#"; names are
// compared without regard to case.
std::string FlsName(const std::string& path)
{
    std::string out = Lower(path);
    std::replace(out.begin(), out.end(), '#', '_');
    return out;
}

std::string Parent(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

CFATSearchedPartitionInfo* RecordOf(FatScan& scan, std::unique_ptr<CSearchedPartitionInfo>& holder)
{
    CSearchedPartitionInfo* clone = nullptr;
    scan.searcher.GetSearchedPartitionInfo(&clone, 1);
    holder.reset(clone);
    return dynamic_cast<CFATSearchedPartitionInfo*>(clone);
}

// How many logged reads cover each of sectors, leaving out the read with
// index `skip`.
std::map<long long, int> ReadsCovering(const FatScan& scan, const std::set<long long>& sectors,
                                       size_t skip = SIZE_MAX)
{
    std::map<long long, int> out;
    for (long long s : sectors)
        out[s] = 0;
    for (size_t i = 0; i < scan.device->reads.size(); ++i) {
        if (i == skip)
            continue;
        const CReadLogDevice::Read& r = scan.device->reads[i];
        for (auto it = out.lower_bound(r.first); it != out.end() && it->first < r.first + r.count; ++it)
            ++it->second;
    }
    return out;
}

// The listing's paths, for a readable failure message.
std::vector<std::string> Keys(const auto& map)
{
    std::vector<std::string> out;
    for (const auto& [key, value] : map)
        out.push_back(key);
    return out;
}

// Sends standard output (the nodes' diagnostic lines) away while it lives.
class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        std::FILE* null = std::fopen("/dev/null", "w");
        if (null) {
            dup2(fileno(null), STDOUT_FILENO);
            std::fclose(null);
        }
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        if (m_saved >= 0) {
            dup2(m_saved, STDOUT_FILENO);
            close(m_saved);
        }
    }

private:
    int m_saved = -1;
};

}  // namespace

TEST(fat_walk, NodeListsIdsRunsAndReadsOfTheFourImages)
{
    for (const ImageCase& c : kWalkImages) {
        SCOPED_TRACE(c.image);
        const std::string image = FatImagePath(c.image);
        const std::string digest = FileDigest(image);
        auto scan = QuickScan(c.image, c.type, c.sectorSize);
        ASSERT_EQ(scan->result, 0u);
        CRecordingTreeBuilder& builder = scan->builder;
        EXPECT_EQ(builder.searcherInfos, (std::vector<std::pair<_tagSearcherType, long long>>{{SEARCHER_FAT, 0}}));
        EXPECT_EQ(builder.flashBuilds, std::vector<_tagSearcherType>{SEARCHER_FAT});
        EXPECT_EQ(builder.partitionDeviceCalls, 1);
        EXPECT_EQ(builder.device, scan->device.get());
        for (_tagSearcherType t : builder.nodeTypes)
            EXPECT_EQ(t, SEARCHER_FAT);

        // Names, sizes, flags and times.
        const auto nodes = NodesByPath(builder);
        const auto expected = ExpectedWalkTree(c.subFiles);
        ASSERT_EQ(Keys(nodes), Keys(expected));
        for (const auto& [path, want] : expected) {
            SCOPED_TRACE(path);
            CFATFileNode* node = nodes.at(path);
            EXPECT_EQ(node->GetFileSize(), want.size);
            EXPECT_EQ(node->IsDeleted() != 0, want.deleted);
            EXPECT_EQ(node->IsDirectory() != 0, want.directory);
            EXPECT_EQ(node->GetBelongedPartition(), 0);
            if (!want.directory) {
                EXPECT_EQ(node->GetCreationTime(), kFixtureTime);
                EXPECT_EQ(node->GetModificationTime(), kFixtureTime);
            }
            const std::string parent = Parent(path);
            EXPECT_EQ(node->GetParentNodeID(), parent.empty() ? 0 : nodes.at(parent)->GetCurrentNodeID());
        }
        EXPECT_EQ(nodes.at("empty1.dat")->GetCurrentNodeID(), static_cast<long long>(kFirstEmptyId));
        EXPECT_EQ(nodes.at("empty2.dat")->GetCurrentNodeID(), static_cast<long long>(kFirstEmptyId + 1));

        // Ids and extents against istat; bytes against the sources.
        std::unique_ptr<CSearchedPartitionInfo> holder;
        CFATSearchedPartitionInfo* record = RecordOf(*scan, holder);
        ASSERT_NE(record, nullptr);
        const long long dataStart = record->GetUnitBase();
        const unsigned int spc = record->GetSectorsPerUnit();
        const auto inodes = FlsInodes(image);
        std::map<std::string, long long> byFlsName;
        for (const auto& [path, inode] : inodes)
            byFlsName[Lower(path)] = inode;
        std::set<long long> liveDirectorySectors;
        for (const auto& [path, node] : nodes) {
            SCOPED_TRACE(path);
            if (!node->IsDirectory() && node->GetFileSize() == 0)
                continue;
            ASSERT_TRUE(byFlsName.count(FlsName(path)));
            std::vector<long long> sectors = IstatSectors(image, byFlsName.at(FlsName(path)));
            // istat pads its list with zeros up to whole clusters.
            sectors.erase(std::remove(sectors.begin(), sectors.end(), 0), sectors.end());
            ASSERT_FALSE(sectors.empty());
            EXPECT_EQ(node->GetCurrentNodeID(), (sectors.front() - dataStart) / spc + 2);
            if (node->IsDirectory()) {
                if (!node->IsDeleted())
                    liveDirectorySectors.insert(sectors.begin(), sectors.end());
                continue;
            }
            // The extents hold the clusters the size needs; istat lists the
            // sectors that hold bytes of the file.
            std::vector<long long> ours = RunSectors(node, dataStart, spc);
            const long long clusterBytes = static_cast<long long>(spc) * c.sectorSize;
            EXPECT_EQ(static_cast<long long>(ours.size()),
                      (node->GetFileSize() + clusterBytes - 1) / clusterBytes * spc);
            ours.resize(std::min<size_t>(ours.size(), (node->GetFileSize() + c.sectorSize - 1) / c.sectorSize));
            EXPECT_EQ(ours, sectors);
            EXPECT_TRUE(ReadNodeBytes(scan->device.get(), node, record) == ReadFileBytes(SourceFile(path)))
                << "bytes differ from " << SourceFile(path);
        }
        IDataRunList* fragD = nodes.at("frag/D")->GetDataRunList();
        ASSERT_NE(fragD, nullptr);
        EXPECT_EQ(static_cast<CDataRunList*>(fragD)->GetCount(), c.fragmented ? 2u : 1u);

        // Reads: the root and each live folder cluster once by the walk,
        // each FAT copy that is read in one call, and nothing outside the
        // volume. Before the walk the tree's label lookup reads the root's
        // first cluster once, in one call.
        const long long fatStart = record->GetReservedSector();
        const long long fatSectors = record->GetSectorPerFAT();
        long long rootFirst = fatStart + 2 * fatSectors;
        if (c.type == FS_FAT16) {
            for (long long s = rootFirst; s < dataStart; ++s)
                liveDirectorySectors.insert(s);  // the fixed root directory
        } else {
            std::vector<long long> root = IstatSectors(image, 2);
            root.erase(std::remove(root.begin(), root.end(), 0), root.end());
            ASSERT_FALSE(root.empty());
            rootFirst = root.front();
            liveDirectorySectors.insert(root.begin(), root.end());
        }
        const auto& reads = scan->device->reads;
        const auto labelRead = std::find_if(reads.begin(), reads.end(), [&](const CReadLogDevice::Read& r) {
            return r.first <= rootFirst && rootFirst < r.first + r.count;
        });
        ASSERT_NE(labelRead, reads.end());
        EXPECT_EQ(labelRead->first, rootFirst);
        EXPECT_EQ(labelRead->count, static_cast<long long>(spc));
        EXPECT_EQ(labelRead->tag, 0u);
        const size_t labelIndex = static_cast<size_t>(labelRead - reads.begin());
        for (const auto& [sector, count] : ReadsCovering(*scan, liveDirectorySectors, labelIndex))
            EXPECT_EQ(count, 1) << "directory sector " << sector;
        int wholeCopyReads = 0, otherFatReads = 0;
        for (const CReadLogDevice::Read& r : scan->device->reads) {
            EXPECT_TRUE(r.first >= 0 && r.first + r.count <= scan->device->GetTotalSectors())
                << "read of " << r.count << " at " << r.first;
            if (r.first == fatStart && r.count == fatSectors)
                ++wholeCopyReads;
            else if (r.first < fatStart + 2 * fatSectors && fatStart < r.first + r.count)
                ++otherFatReads;
        }
        // The first copy (sound, so the second is not needed) in one read;
        // besides it only the boot-sector test's look at the FAT's first
        // sector.
        EXPECT_EQ(wholeCopyReads, 1);
        EXPECT_EQ(otherFatReads, 1);
        EXPECT_EQ(FileDigest(image), digest);
    }
}

TEST(fat_walk, LongNameCutByTheEndOfARunIsAssembledWhole)
{
    const std::string image = FatImagePath("fat32-bigdir.img");
    auto scan = QuickScan("fat32-bigdir.img", FS_FAT32);
    ASSERT_EQ(scan->result, 0u);
    const auto nodes = NodesByPath(scan->builder);

    std::set<std::string> want{"many", "many/FIRST.TXT", "many/SECOND.TXT"};
    for (int i = 1; i <= 420; ++i) {
        char name[80];
        std::snprintf(name, sizeof name, "many/%03d a long file name that needs four entries.txt", i);
        want.insert(name);
    }
    std::set<std::string> got;
    std::set<long long> ids;
    for (const auto& [path, node] : nodes) {
        got.insert(path);
        if (!node->IsDirectory()) {
            EXPECT_EQ(node->GetFileSize(), 0);
            ids.insert(node->GetCurrentNodeID());
        }
    }
    EXPECT_EQ(got, want);
    ASSERT_EQ(ids.size(), 422u);
    EXPECT_EQ(*ids.begin(), static_cast<long long>(kFirstEmptyId));
    EXPECT_EQ(*ids.rbegin(), static_cast<long long>(kFirstEmptyId + 421));

    // The folder is one contiguous piece of 132 one-sector clusters, read as
    // 128 sectors and then 4; the name of slot 2048 begins in the first read.
    const long long folder = scan->DataStart() + (nodes.at("many")->GetCurrentNodeID() - 2);
    std::vector<std::pair<long long, long long>> folderReads;
    for (const CReadLogDevice::Read& r : scan->device->reads)
        if (r.first >= folder && r.first < folder + 132)
            folderReads.emplace_back(r.first, r.count);
    EXPECT_EQ(folderReads, (std::vector<std::pair<long long, long long>>{{folder, 128}, {folder + 128, 4}}));
    const std::vector<uint8_t> slots = ReadImageSectors(image, folder + 127, 2);
    for (size_t slot = 2044; slot < 2048; ++slot)
        EXPECT_EQ(slots[(slot - 2032) * 32 + 11], 0x0F) << "slot " << slot << " is a long-name entry";
    EXPECT_EQ(slots[(2048 - 2032) * 32 + 11], 0x20) << "slot 2048 is the short entry";
    EXPECT_TRUE(nodes.count("many/409 a long file name that needs four entries.txt"));
}

namespace {

// The nine entries the fixture erased, and the files they were.
struct ErasedCase {
    const char* path;
    const char* source;  // in win/, none for the folder
};
const ErasedCase kErased[] = {
    {"photos/photo one.jpg", "photo one.jpg"},
    {"photos/photo two.png", "photo two.png"},
    {"old stuff", nullptr},
    {"old stuff/letter A.pdf", "letter A.pdf"},
    {"old stuff/letter B.pdf", "letter B.pdf"},
    {"root picture.jpg", "root picture.jpg"},
    {"docs/doc picture.jpg", "doc picture.jpg"},
    {"docs/doc image.png", "doc image.png"},
    {"docs/doc paper.pdf", "doc paper.pdf"},
};

// Single-sector reads made while the walk worked out node index's entry:
// after the node before it was handed over, leaving out directory reads.
int CandidateReads(FatScan& scan, size_t index, const std::set<long long>& folderSectors)
{
    int count = 0;
    for (const CReadLogDevice::Read& r : scan.device->reads)
        if (r.tag == index && r.count == 1 && !folderSectors.count(r.first))
            ++count;
    return count;
}

}  // namespace

TEST(fat_walk, ErasedFat32FirstClustersAreGuessed)
{
    const std::string image = FatImagePath("fat32-win.img");
    CAnalyserDouble analysers;
    const CFATRawAnalyserSet empty;
    for (bool withDouble : {true, false}) {
        SCOPED_TRACE(withDouble ? "registry double" : "empty registry");
        ScopedFATRawAnalysers installed(withDouble ? analysers.set : empty);
        auto scan = QuickScan("fat32-win.img", FS_FAT32);
        ASSERT_EQ(scan->result, 0u);
        const auto nodes = NodesByPath(scan->builder);
        std::unique_ptr<CSearchedPartitionInfo> holder;
        CFATSearchedPartitionInfo* record = RecordOf(*scan, holder);
        ASSERT_NE(record, nullptr);

        EXPECT_EQ(nodes.at("photos")->GetCurrentNodeID(), 0x11004);
        EXPECT_EQ(nodes.at("old stuff")->GetCurrentNodeID(), 0x11005);
        EXPECT_TRUE(nodes.at("old stuff")->IsDeleted());
        for (const ErasedCase& e : kErased) {
            SCOPED_TRACE(e.path);
            CFATFileNode* node = nodes.at(e.path);
            EXPECT_TRUE(node->IsDeleted());
            if (!e.source)
                continue;
            const bool inDocs = std::string(e.path).rfind("docs/", 0) == 0;
            if (inDocs && !withDouble) {
                // Nothing tells where they went: they stay at their low clusters.
                EXPECT_LT(node->GetCurrentNodeID(), 0x10000);
                continue;
            }
            EXPECT_GT(node->GetCurrentNodeID(), 0x10000);
            EXPECT_TRUE(ReadNodeBytes(scan->device.get(), node, record) ==
                        ReadFileBytes(FatImagePath(std::string("win/") + e.source)))
                << "bytes differ from win/" << e.source;
        }

        // Candidate reads per file: none under photos (its own high word
        // places them), at most 43 (9, then 34) anywhere.
        std::set<long long> folderSectors;
        for (CFATFileNode* node : scan->builder.nodes)
            if (node->IsDirectory())
                folderSectors.insert(record->GetUnitBase() + node->GetCurrentNodeID() - 2);
        folderSectors.insert(record->GetUnitBase() + record->GetRootInfo() - 2);
        for (size_t i = 0; i < scan->builder.nodes.size(); ++i) {
            CFATFileNode* node = scan->builder.nodes[i];
            if (node->IsDirectory())
                continue;
            const std::string path = NodePath(scan->builder, node);
            const int reads = CandidateReads(*scan, i, folderSectors);
            EXPECT_LE(reads, 43) << path;
            if (path.rfind("photos/", 0) == 0) {
                EXPECT_EQ(reads, 0) << path;
            }
        }
    }
}

TEST(fat_walk, EveryBuildStartsFromTheSameState)
{
    CAnalyserDouble analysers;
    ScopedFATRawAnalysers installed(analysers.set);
    for (const char* image : {"fat32.img", "fat32-win.img"}) {
        SCOPED_TRACE(image);
        std::vector<std::vector<std::pair<std::string, long long>>> runs;
        for (int i = 0; i < 2; ++i) {
            auto scan = QuickScan(image, FS_FAT32);
            ASSERT_EQ(scan->result, 0u);
            runs.emplace_back();
            for (const auto& [path, node] : NodesByPath(scan->builder))
                runs.back().emplace_back(path, node->GetCurrentNodeID());
        }
        EXPECT_EQ(runs[0], runs[1]);
    }
}

TEST(fat_walk, ReviseSwitchChangesNothing)
{
    CAnalyserDouble analysers;
    ScopedFATRawAnalysers installed(analysers.set);
    const std::string saved = GetAppWorkPath();
    std::vector<std::pair<std::string, long long>> reference;
    struct IniCase {
        const char* name;
        const char* text;  // none: no file
    };
    const IniCase cases[] = {
        {"missing", nullptr},
        {"off", "[UserExperience]\nbRevise=0\n"},
        {"on", "[UserExperience]\nbRevise=1\n"},
        {"malformed", "bRevise=0\n[UserExperience\n"},
        {"empty value", "[UserExperience]\nbRevise=\n"},
    };
    for (const IniCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir work;
        if (c.text)
            std::ofstream(work / "UIConfig.ini") << c.text;
        SetAppWorkPath(work.path());
        auto scan = QuickScan("fat32-win.img", FS_FAT32);
        SetAppWorkPath(saved);
        ASSERT_EQ(scan->result, 0u);
        std::vector<std::pair<std::string, long long>> ids;
        for (const auto& [path, node] : NodesByPath(scan->builder))
            ids.emplace_back(path, node->GetCurrentNodeID());
        if (reference.empty())
            reference = ids;
        EXPECT_EQ(ids, reference);
    }
}

TEST(fat_walk, ProgressInWholePercentagesAndStop)
{
    auto scan = QuickScan("fat32.img", FS_FAT32);
    ASSERT_EQ(scan->result, 0u);
    const auto& reports = scan->progress.reports;
    ASSERT_GE(reports.size(), 3u);
    unsigned long long last = 0;
    for (size_t i = 0; i + 1 < reports.size(); ++i) {
        EXPECT_EQ(reports[i].dwState, 2u);
        EXPECT_EQ(reports[i].u64Total, 100u);
        EXPECT_GT(reports[i].u64Done, last);
        last = reports[i].u64Done;
    }
    EXPECT_EQ(last, 100u);
    EXPECT_EQ(reports.back().dwState, 3u);
    EXPECT_EQ(reports.back().u64Done, 100u);

    // Asked to stop after the first folder.
    auto stopped = QuickScan("fat32.img", FS_FAT32, 512, [](FatScan& s) { s.progress.stopAfter = 1; });
    EXPECT_EQ(stopped->result, CFATBuildWorker::kResultStopped);
    EXPECT_LT(stopped->builder.nodes.size(), scan->builder.nodes.size());
    EXPECT_EQ(stopped->builder.flashBuilds, std::vector<_tagSearcherType>{SEARCHER_FAT});
    ASSERT_FALSE(stopped->progress.reports.empty());
    EXPECT_EQ(stopped->progress.reports.back().dwState, 3u);
}

// ---- Damaged directories and FATs -------------------------------------------

namespace {

// Clusters of a live folder of fat32.img, in chain order.
std::vector<long long> FolderClusters(const std::string& image, const std::string& path, long long dataStart,
                                      unsigned int spc)
{
    std::vector<long long> clusters;
    for (long long s : IstatSectors(image, FlsInodes(image).at(path)))
        if ((s - dataStart) % spc == 0)
            clusters.push_back((s - dataStart) / spc + 2);
    return clusters;
}

// The 8.3 names of the short entries in bytes, as the walk names them.
std::set<std::string> ShortNamesIn(const std::vector<uint8_t>& bytes)
{
    std::set<std::string> out;
    for (size_t at = 0; at + 32 <= bytes.size(); at += 32) {
        const uint8_t* e = bytes.data() + at;
        if (e[0] == 0 || e[0] == '.' || e[11] == 0x0F)
            continue;
        std::string base(reinterpret_cast<const char*>(e), 8), ext(reinterpret_cast<const char*>(e) + 8, 3);
        base.erase(base.find_last_not_of(' ') + 1);
        ext.erase(ext.find_last_not_of(' ') + 1);
        // Byte 12's lower-case flags: 0x08 the base, 0x10 the extension.
        const auto lower = [](std::string& s) {
            for (char& ch : s)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        };
        if (e[12] & 0x08)
            lower(base);
        if (e[12] & 0x10)
            lower(ext);
        if (base[0] == '\xE5')
            base[0] = '#';
        out.insert(ext.empty() ? base : base + "." + ext);
    }
    return out;
}

// Forwards to the volume's FAT but sends one cluster elsewhere.
class CRedirectedFAT : public IFATTable {
public:
    CRedirectedFAT(IFATTable* real, unsigned int from, unsigned int to) : m_pReal(real), m_from(from), m_to(to) {}
    unsigned int GetNextCluster(unsigned int cluster) override
    {
        return cluster == m_from ? m_to : m_pReal->GetNextCluster(cluster);
    }

private:
    IFATTable* m_pReal;
    unsigned int m_from, m_to;
};

}  // namespace

TEST(fat_walk, FailedDirectoryReadIsSkipped)
{
    const std::string image = FatImagePath("fat32.img");
    auto intact = QuickScan("fat32.img", FS_FAT32);
    const long long dataStart = intact->DataStart();
    const unsigned int spc = intact->SectorsPerCluster();
    const std::vector<long long> dirA = FolderClusters(image, "dirA", dataStart, spc);
    ASSERT_EQ(dirA.size(), 3u);
    const long long second = dataStart + (dirA[1] - 2) * spc;
    const std::set<std::string> lost = ShortNamesIn(ReadImageSectors(image, second, spc));
    ASSERT_EQ(lost.size(), 16u);

    auto scan = QuickScan("fat32.img", FS_FAT32, 512, [&](FatScan& s) { s.device->FailSectors(second, spc); });
    ASSERT_EQ(scan->result, 0u);
    std::set<std::string> want;
    for (const auto& [path, node] : NodesByPath(intact->builder))
        if (!(Parent(path) == "dirA" && lost.count(path.substr(5))))
            want.insert(path);
    const auto nodes = NodesByPath(scan->builder);  // fails on a path found twice
    const std::vector<std::string> paths = Keys(nodes);
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()), want);
    EXPECT_EQ(nodes.size(), intact->builder.nodes.size() - 16);
}

TEST(fat_walk, DirectoryChainsEndAtTheVolume)
{
    // fat16.img: 32,768 FAT entries, 32,697 clusters; dirA fits in its
    // first cluster, so a longer chain only sends reads past its end.
    const std::string image = FatImagePath("fat16.img");
    auto intact = QuickScan("fat16.img", FS_FAT16);
    std::unique_ptr<CSearchedPartitionInfo> holder;
    CFATSearchedPartitionInfo* record = RecordOf(*intact, holder);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->GetTotalCluster() + 2, 32697u);
    ASSERT_EQ(record->GetSectorPerFAT() * 512 / 2, 32768u);
    const long long dirA = NodesByPath(intact->builder).at("dirA")->GetCurrentNodeID();
    const auto intactPaths = Keys(NodesByPath(intact->builder));

    for (unsigned int next : {32700u, 0xFFF7u}) {
        SCOPED_TRACE(next);
        TempDir dir;
        const std::string copy = dir / "chain.img";
        CopyImage(image, copy);
        for (unsigned int fat = 0; fat < 2; ++fat)
            PatchFile(copy, (record->GetReservedSector() + fat * record->GetSectorPerFAT()) * 512ULL + 2 * dirA,
                      Le16(next));
        auto scan = QuickScan(copy, FS_FAT16);
        ASSERT_EQ(scan->result, 0u);
        const auto nodes = NodesByPath(scan->builder);
        EXPECT_EQ(Keys(nodes), intactPaths);
        // The patched FAT is still in use: FRAG/D keeps its two extents.
        EXPECT_EQ(static_cast<CDataRunList*>(nodes.at("frag/D")->GetDataRunList())->GetCount(), 2u);
        const long long first = record->GetUnitBase() + (dirA - 2) * record->GetSectorsPerUnit();
        int dirAReads = 0;
        for (const CReadLogDevice::Read& r : scan->device->reads) {
            EXPECT_TRUE(r.first >= 0 && r.first + r.count <= scan->device->GetTotalSectors())
                << "read of " << r.count << " at " << r.first;
            dirAReads += r.first <= first && first < r.first + r.count;
        }
        EXPECT_EQ(dirAReads, 1);
    }
}

TEST(fat_walk, LoopingDirectoryChainIsReadOnce)
{
    const std::string image = FatImagePath("fat32.img");
    auto intact = QuickScan("fat32.img", FS_FAT32);
    std::unique_ptr<CSearchedPartitionInfo> holder;
    CFATSearchedPartitionInfo* record = RecordOf(*intact, holder);
    ASSERT_NE(record, nullptr);
    const long long dataStart = record->GetUnitBase();
    const std::vector<long long> dirA = FolderClusters(image, "dirA", dataStart, 1);
    ASSERT_EQ(dirA.size(), 3u);
    const auto intactPaths = Keys(NodesByPath(intact->builder));

    // A FAT reader whose dirA chain comes back to its start: every cluster
    // is read once and every entry comes once.
    {
        auto device = OpenFatVolume("fat32.img", FS_FAT32);
        CReadLogDevice log(device.get());
        std::unique_ptr<IFATTable, void (*)(IFATTable*)> fat(
            IFATTableFactory::CreateFATTable(&log, record->GetReservedSector(), FS_FAT32, record->GetSectorPerFAT(), 1,
                                             1),
            IFATTableFactory::DestroyFATTable);
        CRedirectedFAT looping(fat.get(), static_cast<unsigned int>(dirA[2]), static_cast<unsigned int>(dirA[0]));
        CRecordingTreeBuilder builder;
        CFATBuildWorker worker(&builder, nullptr, record, &log, FS_FAT32, 0, 1, 0, 0, record->GetRootInfo(), 1,
                               dataStart, static_cast<long long>(record->GetTotalSectors()), &looping);
        ASSERT_EQ(worker.QuickBuildDirectoryTree(1), 0u);
        EXPECT_EQ(Keys(NodesByPath(builder)), intactPaths);
        std::set<long long> sectors;
        for (long long c : dirA)
            sectors.insert(dataStart + c - 2);
        int covering = 0;
        for (const CReadLogDevice::Read& r : log.reads)
            for (long long s : sectors)
                covering += r.first <= s && s < r.first + r.count;
        EXPECT_EQ(covering, 3);
    }

    // The same loop written into both FAT copies: the copies fail their
    // checks, so every chain is one cluster long; dirA's first cluster is
    // read once and its entries come once.
    TempDir dir;
    const std::string copy = dir / "loop.img";
    CopyImage(image, copy);
    for (unsigned int fat = 0; fat < 2; ++fat)
        PatchFile(copy, (record->GetReservedSector() + fat * record->GetSectorPerFAT()) * 512ULL + 4 * dirA[2],
                  Le32(static_cast<unsigned int>(dirA[0])));
    auto scan = QuickScan(copy, FS_FAT32);
    ASSERT_EQ(scan->result, 0u);
    const auto nodes = NodesByPath(scan->builder);
    EXPECT_TRUE(nodes.count("dirA/file00.bin"));
    int firstReads = 0;
    for (const CReadLogDevice::Read& r : scan->device->reads)
        firstReads += r.first <= dataStart + dirA[0] - 2 && dataStart + dirA[0] - 2 < r.first + r.count;
    EXPECT_EQ(firstReads, 1);
}

TEST(fat_walk, FolderWithoutDotEntryIsDropped)
{
    const std::string image = FatImagePath("fat32.img");
    TempDir dir;
    const std::string copy = dir / "nodot.img";
    CopyImage(image, copy);
    const long long frag = IstatSectors(image, FlsInodes(image).at("frag")).front();
    PatchFile(copy, frag * 512ULL, std::vector<uint8_t>(32, 0));

    auto scan = QuickScan(copy, FS_FAT32);
    ASSERT_EQ(scan->result, 0u);
    auto want = ExpectedWalkTree(4);
    want.erase("frag/A");
    want.erase("frag/C");
    want.erase("frag/D");
    const auto nodes = NodesByPath(scan->builder);
    EXPECT_EQ(Keys(nodes), Keys(want));
}

TEST(fat_walk, AnotherDirectoryStartEndsTheBuffer)
{
    auto device = OpenFatVolume("fat32.img", FS_FAT32);
    CFATSearchedPartitionInfo record;
    record.SetPartitionIndex(0);
    CRecordingTreeBuilder builder;
    CFATBuildWorker worker(&builder, nullptr, &record, device.get(), FS_FAT32, 0, 1, 0, 0, 2, 1, 100, 190000, nullptr);
    CFATBuildChildren children(worker);

    auto dot = [](const char* name, unsigned int cluster) { return EntryBuilder(name, 0x10).Cluster(cluster); };
    auto file = [](const char* name, unsigned int cluster) {
        return EntryBuilder(name, 0x20).Cluster(cluster).Size(100);
    };
    // Another "." and ".." pair: these bytes hold two directories.
    const EntryBuilder entries[] = {dot(".          ", 50), dot("..         ", 0), file("AAA     TXT", 60),
                                    dot(".          ", 70), dot("..         ", 50), file("BBB     TXT", 80)};
    std::vector<uint8_t> buffer;
    for (const EntryBuilder& e : entries)
        buffer.insert(buffer.end(), e.b, e.b + 32);
    FATFolderList list;
    EXPECT_EQ(children.BuildChildrenFromBuffer(buffer.data(), static_cast<unsigned int>(buffer.size()), nullptr,
                                               list, 0),
              CFATBuildChildren::kNotADirectory);
    ASSERT_EQ(builder.nodes.size(), 1u);
    EXPECT_STREQ(builder.nodes[0]->GetFileName(), "AAA.TXT");

    // A lone dot-named entry is damage: it costs itself, the rest is read.
    for (int drop : {4, 3}) {
        SCOPED_TRACE(drop);
        std::vector<uint8_t> one = buffer;
        one.erase(one.begin() + drop * 32, one.begin() + (drop + 1) * 32);
        CRecordingTreeBuilder fresh;
        CFATBuildWorker freshWorker(&fresh, nullptr, &record, device.get(), FS_FAT32, 0, 1, 0, 0, 2, 1, 100, 190000,
                                    nullptr);
        CFATBuildChildren freshChildren(freshWorker);
        EXPECT_EQ(freshChildren.BuildChildrenFromBuffer(one.data(), static_cast<unsigned int>(one.size()), nullptr,
                                                        list, 0),
                  one.size());
        ASSERT_EQ(fresh.nodes.size(), 2u);
        EXPECT_STREQ(fresh.nodes[1]->GetFileName(), "BBB.TXT");
    }
}

// An 8.3 entry renamed "." or ".." inside a folder, as its first entry or in
// the middle: the walk loses that entry only, never the entries after it.
TEST(fat_walk, DotNamedEntryCostsOnlyItself)
{
    const std::string image = FatImagePath("fat32.img");
    const auto inodes = FlsInodes(image);
    struct Case {
        const char* folder;
        const char* entry;  // 8.3 name as stored
        const char* lost;   // its path in the listing
        const char* name;   // the damage
    };
    const Case cases[] = {
        {"frag", "A          ", "frag/A", ".          "},
        {"frag", "A          ", "frag/A", "..         "},
        {"dirA", "FILE10  BIN", "dirA/file10.bin", ".          "},
        {"dirA", "FILE10  BIN", "dirA/file10.bin", "..         "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lost) + " named '" + c.name + "'");
        TempDir dir;
        const std::string copy = dir / "dot.img";
        CopyImage(image, copy);
        long long inode = -1;
        for (const auto& [path, number] : inodes)
            if (Lower(path) == Lower(c.folder))
                inode = number;
        ASSERT_GE(inode, 0);
        unsigned long long at = 0;
        for (long long sector : IstatSectors(image, inode)) {
            std::ifstream in(image, std::ios::binary);
            std::vector<char> bytes(512);
            in.seekg(sector * 512);
            in.read(bytes.data(), 512);
            for (size_t slot = 0; slot < 16 && !at; ++slot)
                if (std::memcmp(bytes.data() + slot * 32, c.entry, 11) == 0)
                    at = sector * 512ULL + slot * 32;
            if (at)
                break;
        }
        ASSERT_NE(at, 0u);
        PatchFile(copy, at, std::vector<uint8_t>(c.name, c.name + 11));
        const std::string digest = FileDigest(copy);

        auto scan = QuickScan(copy, FS_FAT32);
        ASSERT_EQ(scan->result, 0u);
        auto want = ExpectedWalkTree(4);
        ASSERT_EQ(want.erase(c.lost), 1u);
        EXPECT_EQ(Keys(NodesByPath(scan->builder)), Keys(want));
        EXPECT_EQ(FileDigest(copy), digest);
    }
}

TEST(fat_walk, DeepNestingIsWalkedWithoutRecursion)
{
    // Folder k (cluster k + 3) holds ".", ".." and folder k + 1; the root
    // (cluster 2) holds folder 0. Every FAT chain is one cluster long.
    constexpr unsigned int kDepth = 100000;
    constexpr long long kDataStart = 8;
    std::vector<uint8_t> bytes((kDataStart + kDepth + 1) * 512, 0);
    auto put = [&](unsigned int cluster, unsigned int slot, const EntryBuilder& e) {
        std::copy(e.b, e.b + 32, bytes.begin() + (kDataStart + cluster - 2) * 512 + slot * 32);
    };
    put(2, 0, EntryBuilder("D          ", 0x10).Cluster(3));
    for (unsigned int c = 3; c < kDepth + 3; ++c) {
        put(c, 0, EntryBuilder(".          ", 0x10).Cluster(c));
        put(c, 1, EntryBuilder("..         ", 0x10).Cluster(c == 3 ? 0 : c - 1));
        if (c + 1 < kDepth + 3)
            put(c, 2, EntryBuilder("D          ", 0x10).Cluster(c + 1));
    }
    CBufferDevice device(std::move(bytes));
    struct EndEverywhere : IFATTable {
        unsigned int GetNextCluster(unsigned int) override { return 0x0FFFFFFF; }
    } fat;
    CFATSearchedPartitionInfo record;
    CRecordingTreeBuilder builder;
    CRecordingProgress progress;
    CFATBuildWorker worker(&builder, &progress, &record, &device, FS_FAT32, 0, 1, 0, 0, 2, 1, kDataStart,
                           device.GetTotalSectors(), &fat);
    {
        QuietStdout quiet;
        ASSERT_EQ(worker.QuickBuildDirectoryTree(1), 0u);
    }
    ASSERT_EQ(builder.nodes.size(), kDepth);
    for (unsigned int k = 0; k < kDepth; ++k) {
        ASSERT_EQ(builder.nodes[k]->GetCurrentNodeID(), k + 3);
        ASSERT_EQ(builder.nodes[k]->GetParentNodeID(), k == 0 ? 0 : k + 2);
    }
    EXPECT_EQ(device.m_iReads, static_cast<int>(kDepth) + 1);
    ASSERT_FALSE(progress.reports.empty());
    EXPECT_EQ(progress.reports.back().u64Done, 100u);
}

// Run by bench/fat_quick.sh: the walk alone, over FAT_BENCH_IMAGE, into a
// builder that only keeps the nodes; the scan through vantrel-cli adds the
// tree builder to this.
TEST(fat_walk, DISABLED_WalkTimeForTheBenchmark)
{
    const char* image = std::getenv("FAT_BENCH_IMAGE");
    if (!image)
        GTEST_SKIP() << "FAT_BENCH_IMAGE names the image";
    double best = 0;
    size_t nodes = 0;
    for (int run = 0; run < 3; ++run) {
        QuietStdout quiet;
        const auto start = std::chrono::steady_clock::now();
        auto scan = QuickScan(image, FS_FAT32);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ASSERT_EQ(scan->result, 0u);
        nodes = scan->builder.nodes.size();
        best = run == 0 ? seconds : std::min(best, seconds);
    }
    std::printf("walk alone: %zu nodes in %.3f s\n", nodes, best);
}

TEST(fat_walk, CandidateSectorTests)
{
    // A FAT32 root (cluster 2) holding one erased 1,000-byte file whose
    // entry kept only the low half, 0x20, of its first cluster; the sector
    // at cluster 0x10020 holds the bytes of each case, cluster 0x20 zeros.
    constexpr long long kDataStart = 8;
    constexpr unsigned int kLow = 0x20, kHigh = 0x10020;
    CSignatureAnalyser listed({'L', 'I', 'S', 'T'});
    CAnalyserDouble analysers;
    analysers.set.list.push_back(&listed);
    ScopedFATRawAnalysers installed(analysers.set);

    auto pe = [](uint32_t offset, const char* mark) {
        std::vector<uint8_t> s(512, 0);
        s[0] = 'M';
        s[1] = 'Z';
        std::copy_n(Le32(offset).begin(), 4, s.begin() + 60);
        if (offset + 2 <= 512)
            std::copy_n(mark, 2, s.begin() + offset);
        return s;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> sector;
        bool found;
    };
    std::vector<uint8_t> edgePe = pe(510, "PE");
    const Case cases[] = {
        {"PE executable", pe(0x80, "PE"), true},
        {"MZ without PE", pe(0x80, "XX"), false},
        {"PE header past the sector", edgePe, false},
        {"a list analyser accepts", {'L', 'I', 'S', 'T'}, true},
        {"first-u16 analyser refuses", {0xFF, 0xD8, 0x00}, false},
        {"first-u32 key", {'%', 'P', 'D', 'F'}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes((kDataStart + kHigh + 64) * 512, 0);
        const EntryBuilder erased = EntryBuilder("\xE5ILE    BIN", 0x20).Cluster(kLow).Size(1000);
        std::copy(erased.b, erased.b + 32, bytes.begin() + kDataStart * 512);
        std::copy(c.sector.begin(), c.sector.end(), bytes.begin() + (kDataStart + kHigh - 2) * 512);
        CBufferDevice device(std::move(bytes));
        struct EndEverywhere : IFATTable {
            unsigned int GetNextCluster(unsigned int) override { return 0x0FFFFFFF; }
        } fat;
        CFATSearchedPartitionInfo record;
        CRecordingTreeBuilder builder;
        CFATBuildWorker worker(&builder, nullptr, &record, &device, FS_FAT32, 0, 1, 0, 0, 2, 1, kDataStart,
                               device.GetTotalSectors(), &fat);
        ASSERT_EQ(worker.QuickBuildDirectoryTree(1), 0u);
        ASSERT_EQ(builder.nodes.size(), 1u);
        EXPECT_EQ(builder.nodes[0]->GetCurrentNodeID(), c.found ? kHigh : kLow);
    }
    EXPECT_GT(analysers.jpeg.calls, 0);
}
