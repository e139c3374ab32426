// The HFS+ deep searcher over a GPT disk image holding two xorriso volumes:
// volumes are found where the fixture put them, catalog records go to the
// volume they belong to, damaged and lost structures cost only what they
// hold, and the image is never changed.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

#include "HFSPlusCompleteSearch.h"
#include "HFSPlusFileNode.h"
#include "HfsTestSupport.h"
#include "ImageFileDevice.h"
#include "SearchedPartitionInfo.h"
#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

constexpr long long kFirstStart = 40;
constexpr long long kSecondStart = 8192;

// A GPT disk whose first partition (sector 40) and second (sector 8192)
// each hold a copy of the fixture volume; the second copy gets another
// creation date, as a volume made apart from the first would have.
struct DeepDisk {
    HfsFixture volume;
    std::string image;
    long long sectors = 0;
};

DeepDisk MakeDeepDisk(const std::string& dir, long long firstStart = kFirstStart)
{
    DeepDisk d;
    d.volume = MakeHfsFixture(dir);
    d.image = dir + "/disk.img";
    d.sectors = MakeGptDiskOfVolumes(d.volume, d.image, {firstStart, kSecondStart});
    return d;
}

struct DeepRun {
    CHfsRecordingBuilder builder;
    CHFSPlusCompleteFileSystemSearchController searcher;
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> partitions;
};

std::unique_ptr<DeepRun> RunDeep(const std::string& image, unsigned int sectorSize = 512)
{
    auto run = std::make_unique<DeepRun>();
    auto device = std::make_unique<CImageFileDevice>(sectorSize);
    std::string path = image;
    EXPECT_TRUE(device->Open(path.data()));
    const long long block = 2048;
    run->searcher.SetDevice(device.get());
    run->searcher.SetBlockSize(static_cast<int>(block));
    run->searcher.SetDirecotryTreeBuilder(&run->builder);
    run->searcher.PreparetoSearch();
    for (long long s = 0; s < device->GetTotalSectors(); s += block)
        EXPECT_EQ(run->searcher.AnalyzeBlock(s, std::min(block, device->GetTotalSectors() - s)), 1);
    run->searcher.EndSearch(1);
    CSearchedPartitionInfo* none = nullptr;
    const int count = run->searcher.GetSearchedPartitionInfo(&none, 0);
    EXPECT_EQ(none, nullptr);
    std::vector<CSearchedPartitionInfo*> out(static_cast<size_t>(count), nullptr);
    EXPECT_EQ(run->searcher.GetSearchedPartitionInfo(out.data(), count), count);
    for (CSearchedPartitionInfo* p : out)
        run->partitions.emplace_back(p);
    // The nodes keep pointers into the searcher's volumes, which read
    // through the device: it must stay open as long as they do.
    static std::vector<std::unique_ptr<CImageFileDevice>> devices;
    devices.push_back(std::move(device));
    return run;
}

// Names (below the root, through parent ids) of the nodes of one partition.
std::map<std::string, CHFSPlusFileNode*> NodesOf(const CHfsRecordingBuilder& builder, unsigned short partition)
{
    std::map<long long, CHFSPlusFileNode*> byId;
    for (CHFSPlusFileNode* n : builder.m_nodes)
        if (n->GetBelongedPartition() == partition)
            byId[n->GetCurrentNodeID()] = n;
    std::map<std::string, CHFSPlusFileNode*> out;
    for (const auto& [id, node] : byId) {
        std::string path = node->GetFileName();
        long long parent = node->GetParentNodeID();
        for (int depth = 0; parent != 2 && depth < 32; ++depth) {
            auto it = byId.find(parent);
            if (it == byId.end()) {
                path = "?/" + path;
                break;
            }
            path = std::string(it->second->GetFileName()) + "/" + path;
            parent = it->second->GetParentNodeID();
        }
        out[path] = node;
    }
    return out;
}

// The ASCII-named files of the fixture and their contents.
std::map<std::string, std::string> AsciiFiles()
{
    std::map<std::string, std::string> out;
    for (const auto& [path, content] : HfsFixtureFiles())
        if (static_cast<unsigned char>(path[0]) < 0x80)
            out[path] = content;
    return out;
}

// A node's bytes read from the disk through a partition record, as the
// recovery does: allocation unit n starts at unit base + n × units.
std::string ReadThrough(const std::string& image, const CSearchedPartitionInfo& p, CHFSPlusFileNode* node)
{
    std::string bytes;
    IDataRunList* runs = node->GetDataRunList();
    const unsigned long long unit = static_cast<unsigned long long>(p.GetSectorsPerUnit()) * 512;
    for (DataRun* r = runs ? runs->GetFirst() : nullptr; r; r = runs->GetNext()) {
        const std::vector<uint8_t> part =
            ReadAt(image, static_cast<unsigned long long>(p.GetUnitBase()) * 512 + r->llStart * unit,
                   static_cast<size_t>(r->llLength * unit));
        bytes.append(part.begin(), part.end());
    }
    bytes.resize(std::min<size_t>(bytes.size(), static_cast<size_t>(node->GetFileSize())));
    return bytes;
}

void ExpectVolumeFiles(const DeepDisk& d, const DeepRun& run, unsigned short partition)
{
    const auto nodes = NodesOf(run.builder, partition);
    ASSERT_LT(partition, run.partitions.size());
    const CSearchedPartitionInfo& p = *run.partitions[partition];
    for (const auto& [path, content] : AsciiFiles()) {
        auto it = nodes.find(path);
        ASSERT_NE(it, nodes.end()) << "partition " << partition << ": " << path;
        EXPECT_FALSE(it->second->IsDeleted()) << path;
        EXPECT_EQ(it->second->GetFileSize(), static_cast<long long>(content.size())) << path;
        EXPECT_EQ(ReadThrough(d.image, p, it->second), content) << partition << ": " << path;
    }
    for (const std::string& folder : HfsFixtureFolders()) {
        auto it = nodes.find(folder);
        ASSERT_NE(it, nodes.end()) << folder;
        EXPECT_TRUE(it->second->IsDirectory()) << folder;
    }
    // 100-ns units since 1601 of the modification time the fixture set.
    const unsigned long long expected = (static_cast<unsigned long long>(kHfsFixtureATime) + 11644473600ULL) * 10000000ULL;
    EXPECT_EQ(nodes.at("a.txt")->GetModificationTime(), expected);
}

}  // namespace

TEST(hfs_deep, FindsBothVolumesOfAGptDisk)
{
    TempDir dir;
    const DeepDisk d = MakeDeepDisk(dir.path());
    const std::string before = FileDigest(d.image);
    auto run = RunDeep(d.image);
    EXPECT_EQ(FileDigest(d.image), before);

    EXPECT_EQ(run->builder.m_events.front(), "info 31 2");
    EXPECT_EQ(run->builder.m_events.back(), "flash 31");
    ASSERT_EQ(run->partitions.size(), 2u);
    const auto& found = run->searcher.GetFoundVolumes();
    // The first volume's header joined the record a GPT disk starts with;
    // the second (its alternate header a duplicate) opened its own.
    EXPECT_EQ(found[0]->s64HeaderSector, kFirstStart + 2);
    EXPECT_EQ(found[1]->s64HeaderSector, kSecondStart + 2);
    for (size_t i = 0; i < 2; ++i) {
        const CSearchedPartitionInfo& p = *run->partitions[i];
        EXPECT_EQ(p.GetPartitionIndex(), i);
        EXPECT_EQ(p.GetFileSystemType(), FS_HFSPLUS);
        EXPECT_EQ(p.GetUnitBase(), i == 0 ? kFirstStart : kSecondStart);
        EXPECT_EQ(p.GetPartitionStart(), p.GetUnitBase());
        EXPECT_EQ(p.GetTotalSectors(), static_cast<unsigned long long>(d.volume.volumeSectors));
        EXPECT_EQ(p.GetSectorsPerUnit(), ReadGeometry(d.volume).blockSize / 512);
        EXPECT_NE(found[i]->pVolume, nullptr);
    }
    ExpectVolumeFiles(d, *run, 0);
    ExpectVolumeFiles(d, *run, 1);
}

TEST(hfs_deep, DamagedCatalogRecordCostsOnlyItself)
{
    TempDir dir;
    const DeepDisk d = MakeDeepDisk(dir.path());
    // An unknown record type in the second copy's a.txt record.
    const HfsGeometry g = ReadGeometry(d.volume);
    const unsigned long long inVolume =
        FindRecord(d.volume, g, u"a.txt") - static_cast<unsigned long long>(d.volume.volumeStart) * 512;
    const uint8_t bad[2] = {0x00, 0x07};
    WriteAt(d.image, kSecondStart * 512 + inVolume, bad, sizeof bad);
    // A leaf-looking sector of garbage offsets in free space before it.
    std::vector<uint8_t> junk(512, 0xFF);
    junk[8] = 0xFF;
    junk[9] = 1;
    junk[10] = 0x7F;
    junk[11] = 0xFF;
    junk[12] = junk[13] = 0;
    WriteAt(d.image, (kSecondStart - 8) * 512, junk.data(), junk.size());

    const std::string before = FileDigest(d.image);
    auto run = RunDeep(d.image);
    EXPECT_EQ(FileDigest(d.image), before);
    ASSERT_EQ(run->partitions.size(), 2u);
    ExpectVolumeFiles(d, *run, 0);
    const auto second = NodesOf(run->builder, 1);
    EXPECT_EQ(second.count("a.txt"), 0u);
    EXPECT_EQ(second.count("docs/sub/deep.txt"), 1u);
    EXPECT_EQ(second.count("many/f300.txt"), 1u);
}

TEST(hfs_deep, LostVolumeHeaderFallsBackToTheAlternate)
{
    TempDir dir;
    const DeepDisk d = MakeDeepDisk(dir.path());
    // The first volume's header is wiped: its alternate near the volume's
    // end still names block size and size, and the GPT start holds.
    const std::vector<uint8_t> zero(512, 0);
    WriteAt(d.image, (kFirstStart + 2) * 512, zero.data(), zero.size());
    const std::string before = FileDigest(d.image);
    auto run = RunDeep(d.image);
    EXPECT_EQ(FileDigest(d.image), before);
    ASSERT_EQ(run->partitions.size(), 2u);
    EXPECT_EQ(run->searcher.GetFoundVolumes()[0]->s64HeaderSector, kFirstStart + d.volume.volumeSectors - 2);
    EXPECT_EQ(run->partitions[0]->GetUnitBase(), kFirstStart);
    ExpectVolumeFiles(d, *run, 0);
    ExpectVolumeFiles(d, *run, 1);
}

// A volume later on a GPT disk than the first record's guess (sector 40):
// its journal info block tells where it starts, but only a block whose tail
// is the 0xDB fill counts as one.
TEST(hfs_deep, JournalInfoBlockFixesTheFirstVolumesStart)
{
    constexpr long long kLater = 2048;
    struct Case {
        const char* name;
        bool filled;
        long long start;
    };
    for (const Case& c : {Case{"filled", true, kLater}, Case{"other byte in the tail", false, kFirstStart}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const DeepDisk d = MakeDeepDisk(dir.path(), kLater);
        const HfsGeometry g = ReadGeometry(d.volume);
        const uint32_t blocks = static_cast<uint32_t>(d.volume.volumeSectors * 512 / g.blockSize);
        // The info block sits in the block just behind the volume.
        for (long long s : {kLater + 2, kLater + d.volume.volumeSectors - 2}) {
            Bytes field(4, 0);
            PutBE(field, 0, blocks, 4);
            WriteAt(d.image, static_cast<unsigned long long>(s) * 512 + 12, field.data(), field.size());
        }
        Bytes info(512, 0xDB);
        std::fill(info.begin(), info.begin() + 180, 0);
        PutBE(info, 0, 1, 4);
        PutBE(info, 36, 0x10000, 8);
        PutBE(info, 44, 0x8000, 8);
        if (!c.filled)
            info[300] = 0;
        const long long infoSector = kLater + static_cast<long long>(blocks) * g.blockSize / 512;
        WriteAt(d.image, static_cast<unsigned long long>(infoSector) * 512, info.data(), info.size());
        // A journal header (little-endian magic) in the next sector.
        Bytes journal(512, 0);
        PutLE(journal, 0, 0x4A4E4C78, 4);
        PutLE(journal, 4, 0x12345678, 4);
        WriteAt(d.image, static_cast<unsigned long long>(infoSector + 1) * 512, journal.data(), journal.size());

        auto run = RunDeep(d.image);
        ASSERT_EQ(run->partitions.size(), 2u);
        const auto& first = *run->searcher.GetFoundVolumes()[0];
        EXPECT_EQ(first.s64JournalInfoSector, c.filled ? infoSector : -1);
        EXPECT_EQ(first.s64JournalHeaderSector, infoSector + 1);
        EXPECT_EQ(run->searcher.GetFoundVolumes()[1]->s64JournalHeaderSector, -1);
        EXPECT_EQ(run->partitions[0]->GetUnitBase(), c.start);
        if (c.filled)
            ExpectVolumeFiles(d, *run, 0);
        ExpectVolumeFiles(d, *run, 1);
    }
}

TEST(hfs_deep, EndWithoutFlushAndShortPartitionList)
{
    TempDir dir;
    const DeepDisk d = MakeDeepDisk(dir.path());
    CHfsRecordingBuilder builder;
    CHFSPlusCompleteFileSystemSearchController searcher;
    CImageFileDevice device(512);
    std::string path = d.image;
    ASSERT_TRUE(device.Open(path.data()));
    searcher.SetDevice(&device);
    searcher.SetDirecotryTreeBuilder(&builder);
    searcher.PreparetoSearch();
    searcher.AnalyzeBlock(0, device.GetTotalSectors());
    searcher.EndSearch(0);
    const auto& found = searcher.GetFoundVolumes();
    ASSERT_EQ(found.size(), 2u);
    // Untouched: the block size stays the guess, the start the GPT's.
    EXPECT_EQ(found[0]->dwBlockSize, 4096u);
    EXPECT_EQ(found[0]->s64StartSector, kFirstStart);
    EXPECT_EQ(found[0]->s64TotalSectors, device.GetTotalSectors() - kFirstStart);
    EXPECT_EQ(builder.m_events.back(), "info 31 2");
    CSearchedPartitionInfo* one[1] = {nullptr};
    EXPECT_EQ(searcher.GetSearchedPartitionInfo(one, 1), 2);
    EXPECT_EQ(one[0], nullptr);
}

TEST(hfs_deep, DeviceThatIsTheVolumeRunsItsQuickScan)
{
    const HfsFixture& f = SharedHfsFixture();
    TempDir dir;
    const std::string image = dir / "volume.img";
    RunTool("dd if=" + Quote(f.image) + " of=" + Quote(image) + " bs=512 skip=" + std::to_string(f.volumeStart) +
            " count=" + std::to_string(f.volumeSectors) + " status=none");
    auto run = RunDeep(image);
    ASSERT_EQ(run->partitions.size(), 1u);
    EXPECT_EQ(run->partitions[0]->GetUnitBase(), 0);
    const auto nodes = NodesOf(run->builder, 0);
    for (const auto& [p, content] : AsciiFiles())
        EXPECT_EQ(nodes.count(p), 1u) << p;
    // The volume's own counts joined those of the records found in leaves.
    const auto& v = *run->searcher.GetFoundVolumes()[0];
    EXPECT_GE(v.dwFileCount, HfsFixtureFiles().size() * 2);
}

TEST(hfs_deep, NoDeviceAndNoHeadersGiveNothing)
{
    CHFSPlusCompleteFileSystemSearchController searcher;
    EXPECT_EQ(searcher.AnalyzeBlock(0, 16), 1);
    EXPECT_NE(searcher.GetLastError(), 0u);
    TempDir dir;
    const std::string image = dir / "zero.img";
    RunTool("truncate -s 1M " + Quote(image));
    auto run = RunDeep(image);
    ASSERT_EQ(run->partitions.size(), 1u);
    EXPECT_TRUE(run->builder.m_nodes.empty());
    EXPECT_EQ(run->partitions[0]->GetSectorsPerUnit(), 8u);
}

// On 4096-byte sectors a header is recorded only when it is the one thing
// its sector holds besides zeros.
TEST(hfs_deep, HeaderSlicesOfLargeSectors)
{
    const HfsFixture& f = SharedHfsFixture();
    const std::vector<uint8_t> header = ReadAt(f.image, static_cast<unsigned long long>(f.volumeStart + 2) * 512, 512);
    std::vector<uint8_t> other = header;
    other[19] = static_cast<uint8_t>(other[19] + 1);  // another creation date
    const std::vector<uint8_t> junk(512, 0x5A);
    const std::vector<uint8_t> zero(512, 0);
    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> slices;
        long long recorded;  // header sector of the first record, -1 none
    };
    const Case cases[] = {
        {"second slice", {zero, header}, 10},
        {"two headers", {header, other}, -1},
        {"header then other data", {header, junk}, -1},
        {"data then header", {junk, header}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string image = dir / "big-sectors.img";
        RunTool("truncate -s 1M " + Quote(image));
        for (size_t i = 0; i < c.slices.size(); ++i)
            WriteAt(image, 10 * 4096 + i * 512, c.slices[i].data(), 512);
        auto run = RunDeep(image, 4096);
        const auto& found = run->searcher.GetFoundVolumes();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0]->s64HeaderSector, c.recorded);
        EXPECT_EQ(found[0]->pHeader != nullptr, c.recorded >= 0);
    }
}

namespace {

// A catalog file record (key and data) of a file with the given id.
Bytes CatalogFile(const std::u16string& name, uint32_t id)
{
    Bytes r(8 + 2 * name.size() + 248, 0);
    PutBE(r, 0, 6 + 2 * name.size(), 2);
    PutBE(r, 2, 2, 4);
    PutBE(r, 6, name.size(), 2);
    for (size_t i = 0; i < name.size(); ++i)
        PutBE(r, 8 + 2 * i, name[i], 2);
    const size_t data = 8 + 2 * name.size();
    PutBE(r, data, 2, 2);
    PutBE(r, data + 8, id, 4);
    PutBE(r, data + 12, 0xD0000000u, 4);  // created in 2014
    return r;
}

}  // namespace

// A catalog leaf of 8192 bytes on 512-byte sectors is read whole, and the
// scan goes on behind it: a node-like sector inside it is not read again.
TEST(hfs_deep, LargeLeafIsReadOnceAndSkipped)
{
    TempDir dir;
    const std::string image = dir / "leaf.img";
    RunTool("truncate -s 1M " + Quote(image));
    constexpr long long kAt = 100;
    const Bytes outer = MakeBTreeNode(8192, -1, 1, {CatalogFile(u"outer.txt", 20)});
    WriteAt(image, kAt * 512, outer.data(), outer.size());
    const Bytes inner = MakeBTreeNode(512, -1, 1, {CatalogFile(u"inner.txt", 21)});
    WriteAt(image, (kAt + 8) * 512, inner.data(), inner.size());
    const Bytes after = MakeBTreeNode(512, -1, 1, {CatalogFile(u"after.txt", 22)});
    WriteAt(image, (kAt + 16) * 512, after.data(), after.size());

    auto run = RunDeep(image);
    std::set<std::string> names;
    for (CHFSPlusFileNode* n : run->builder.m_nodes) {
        names.insert(n->GetFileName());
        EXPECT_EQ(n->GetBelongedPartition(), 0);
        EXPECT_EQ(n->GetVolume(), nullptr);
    }
    EXPECT_EQ(names, (std::set<std::string>{"outer.txt", "after.txt"}));
    // Nodes without a volume header: the first record keeps its guesses.
    ASSERT_EQ(run->partitions.size(), 1u);
    EXPECT_EQ(run->partitions[0]->GetUnitBase(), 0);
    EXPECT_EQ(run->partitions[0]->GetSectorsPerUnit(), 8u);
}

// A first volume with no journal that starts elsewhere than the first
// record's guess (0, or sector 40 behind a protective MBR): its header tells
// where it starts, in sectors of the scanned device, and its files are read
// from there.
TEST(hfs_deep, FirstVolumeWithoutJournalStartsBeforeItsHeader)
{
    struct Case {
        const char* label;  // sfdisk label, "" for a bare disk
        unsigned int sectorSize;
        unsigned long long startByte;
    };
    const Case cases[] = {
        {"dos", 512, 2048 * 512},
        {"gpt", 512, 2048 * 512},
        {"", 512, 2048 * 512},
        // On 1024-byte sectors the header lies one sector into the volume.
        {"", 1024, 2048 * 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("label '") + c.label + "', sector " + std::to_string(c.sectorSize) + ", at byte " +
                     std::to_string(c.startByte));
        TempDir dir;
        DeepDisk d;
        d.volume = SharedHfsFixture();
        ASSERT_EQ(ReadAt(d.volume.image, static_cast<unsigned long long>(d.volume.volumeStart + 2) * 512 + 12, 4),
                  std::vector<uint8_t>(4, 0))
            << "the fixture volume has a journal";
        d.image = dir / "disk.img";
        MakeDiskOfOneVolume(d.volume, d.image, c.label, c.startByte);
        const std::string before = FileDigest(d.image);
        auto run = RunDeep(d.image, c.sectorSize);
        EXPECT_EQ(FileDigest(d.image), before);
        ASSERT_EQ(run->partitions.size(), 1u);
        const long long start = static_cast<long long>(c.startByte / c.sectorSize);
        EXPECT_EQ(run->partitions[0]->GetUnitBase(), start);
        EXPECT_EQ(run->partitions[0]->GetPartitionStart(), start);
        EXPECT_EQ(run->partitions[0]->GetTotalSectors(),
                  static_cast<unsigned long long>(d.volume.volumeSectors) * 512 / c.sectorSize);
        EXPECT_NE(run->searcher.GetFoundVolumes()[0]->pVolume, nullptr);
        if (c.sectorSize == 512) {
            ExpectVolumeFiles(d, *run, 0);
        } else {
            const auto nodes = NodesOf(run->builder, 0);
            for (const auto& [path, content] : AsciiFiles())
                EXPECT_EQ(nodes.count(path), 1u) << path;
        }
    }
}
