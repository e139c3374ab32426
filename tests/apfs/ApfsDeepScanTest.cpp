#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "APFSDeepScan.h"
#include "ApfsTestSupport.h"
#include "IFileNode.h"
#include "ImageFileDevice.h"
#include "SearchedPartitionInfo.h"
#include "TestSupport.h"

namespace {

// Feeds the device to the searcher in ranges, as the deep-scan controller does.
void RunDeepScan(APFSDeepScan& scan, IStorageDevice* device, RecordingBuilder& builder,
                 IProgress* progress = nullptr, long long range = 2048)
{
    scan.SetDirecotryTreeBuilder(&builder);
    scan.SetDevice(device);
    scan.SetIProgressSink(progress);
    scan.PreparetoSearch();
    const long long total = device->GetTotalSectors();
    for (long long s = 0; s < total; s += range)
        scan.AnalyzeBlock(s, std::min(range, total - s));
    scan.EndSearch(1);
}

// The node's bytes, read through its runs from the partition's first sector.
std::string ReadNodeBytes(IStorageDevice* device, IFileNode* node, long long base)
{
    auto* file = dynamic_cast<CFileNode*>(node);
    std::string bytes;
    if (!file || !file->GetDataRunList()) {
        ADD_FAILURE() << "no runs: " << node->GetFileName();
        return bytes;
    }
    IDataRunList* runs = file->GetDataRunList()->Clone();
    const unsigned int ss = device->GetSectorSize();
    for (DataRun* run = runs->GetFirst(); run; run = runs->GetNext()) {
        std::string chunk(static_cast<size_t>(run->llLength) * ss, '\0');
        if (!device->ReadSector(chunk.data(), base + run->llStart, run->llLength))
            break;
        bytes += chunk;
        if (runs->IsDone())
            break;
    }
    runs->Release();
    bytes.resize(std::min<size_t>(bytes.size(), static_cast<size_t>(node->GetFileSize())));
    return bytes;
}

std::vector<std::unique_ptr<CSearchedPartitionInfo>> Partitions(APFSDeepScan& scan, int max = 8)
{
    std::vector<CSearchedPartitionInfo*> raw(static_cast<size_t>(max), nullptr);
    const int n = scan.GetSearchedPartitionInfo(raw.data(), max);
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> out;
    for (int i = 0; i < n; ++i)
        out.emplace_back(raw[static_cast<size_t>(i)]);
    return out;
}

void ExpectSameBytes(const std::string& found, const std::string& expected)
{
    EXPECT_EQ(found.size(), expected.size());
    EXPECT_TRUE(found == expected) << "the bytes differ";
}

unsigned long long FileTime(uint64_t ns)
{
    return 116444736000000000ULL + ns / 1000000000ULL * 10000000ULL;
}

}  // namespace

TEST(ApfsDeepScan, FindsLiveAndDeletedFilesWithTheirBytes)
{
    const ApfsFixture& f = SharedApfsFixture();
    const std::string before = FileDigest(f.image);
    for (unsigned int sectorSize : {512u, 4096u}) {
        SCOPED_TRACE(sectorSize);
        auto device = OpenImageFileDisk(f.image, sectorSize);
        ASSERT_TRUE(device);
        APFSDeepScan scan;
        RecordingBuilder builder;
        RunDeepScan(scan, device.get(), builder);

        // The superblock copy at block 2 is the same container.
        ASSERT_EQ(scan.GetContainerCount(), 1u);
        ASSERT_EQ(builder.searchers.size(), 1u);
        EXPECT_EQ(builder.searchers[0], std::make_pair(static_cast<int>(SEARCHER_APFS), 2LL));
        EXPECT_EQ(builder.builds, std::vector<int>{SEARCHER_APFS});
        auto parts = Partitions(scan);
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0]->GetFileSystemType(), FS_APFS);
        EXPECT_EQ(parts[0]->GetPartitionIndex(), 0);
        EXPECT_EQ(parts[0]->GetSectorsPerUnit(), 1u);
        EXPECT_EQ(parts[0]->GetUnitBase(), 0);
        EXPECT_EQ(parts[0]->GetTotalSectors(), 128ULL * 1024 * 1024 / sectorSize);

        struct Expect {
            const char* name;
            bool folder;
            bool deleted;
            long long size;
            uint64_t created;
            const char* parent;  // name of the parent node, or "" for the volume's root
            const char* source;  // file under src/ with the bytes, or null
        } expected[] = {
            {"Docs", true, false, 0, kApfsFixtureTime, "root", nullptr},
            {"hello.txt", false, false, 5000, kApfsFixtureTime, "root", "hello.txt"},
            {"inner.bin", false, false, 10000, kApfsFixtureTime, "Docs", "Docs/inner.bin"},
            {"gone.txt", false, true, 3000, kApfsFixtureTime + 100000000000ULL, "root", "gone.txt"},
            {"OldDir", true, true, 0, kApfsFixtureTime + 200000000000ULL, "root", nullptr},
            {"old.txt", false, true, 100, kApfsFixtureTime + 300000000000ULL, "OldDir", "OldDir/old.txt"},
            // Named only by a left-over value of the volume's object-map leaf;
            // the walk of the first object map finds it, so it counts as live.
            {"stale-map.txt", false, false, 20, kApfsFixtureTime + 600000000000ULL, "root", "stale-map.txt"},
            // Two folders of one name under one parent are one folder.
            {"extra.txt", false, true, 50, kApfsFixtureTime + 500000000000ULL, "Docs", "Docs/extra.txt"},
        };
        for (const Expect& e : expected) {
            SCOPED_TRACE(e.name);
            IFileNode* node = builder.Find(std::string(e.name));
            ASSERT_NE(node, nullptr);
            EXPECT_EQ(node->IsDirectory() != 0, e.folder);
            EXPECT_EQ(node->IsDeleted() != 0, e.deleted);
            if (!e.folder) {
                EXPECT_EQ(node->GetFileSize(), e.size);
                EXPECT_EQ(node->GetCreationTime(), FileTime(e.created));
                // The inode's change time is taken as the modification time.
                EXPECT_EQ(node->GetModificationTime(), FileTime(e.created + 2000000000ULL));
            }
            IFileNode* parent = builder.Find(std::string(e.parent));
            ASSERT_NE(parent, nullptr);
            EXPECT_EQ(node->GetParentNodeID(), parent->GetCurrentNodeID());
            EXPECT_EQ(static_cast<CFileNode*>(node)->GetBelongedPartition(), 0);
            if (e.source) {
                ExpectSameBytes(ReadNodeBytes(device.get(), node, 0), ReadFileBytes(f.source + "/" + e.source));
            }
        }
        IFileNode* root = builder.Find("root");
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(root->GetParentNodeID(), 2);
        EXPECT_EQ(builder.Find("DS_Store"), nullptr);
        EXPECT_EQ(std::count_if(builder.nodes.begin(), builder.nodes.end(),
                                [](IFileNode* n) { return std::string(n->GetFileName()) == "Docs"; }),
                  1);
        for (IFileNode* node : builder.nodes)
            EXPECT_EQ(std::string(node->GetFileName()).find("DS_Store"), std::string::npos);
    }
    EXPECT_EQ(FileDigest(f.image), before);
}

TEST(ApfsDeepScan, DeviceWithoutApfsAnnouncesNothing)
{
    TempDir dir;
    RunTool("truncate -s 4M '" + dir / "zero.img" + "'");
    auto device = OpenImageFileDisk(dir / "zero.img");
    ASSERT_TRUE(device);
    APFSDeepScan scan;
    RecordingBuilder builder;
    RunDeepScan(scan, device.get(), builder);
    EXPECT_TRUE(builder.searchers.empty());
    EXPECT_TRUE(builder.builds.empty());
    EXPECT_TRUE(builder.nodes.empty());
    EXPECT_TRUE(Partitions(scan).empty());
}

TEST(ApfsDeepScan, ContainerAtAnOffsetAndASecondCopyBeyondIt)
{
    const ApfsFixture& f = SharedApfsFixture();
    TempDir dir;
    // 1 MiB of zeros, the container, then the container again. The device
    // ends 3 blocks into a 64 KiB read.
    std::vector<unsigned char> container = ReadImage(f.image);
    std::vector<unsigned char> image(1024 * 1024, 0);
    image.insert(image.end(), container.begin(), container.end());
    image.insert(image.end(), container.begin(), container.end());
    image.resize(image.size() + 3 * 4096, 0);
    WriteImage(dir / "two.img", image);
    auto device = OpenImageFileDisk(dir / "two.img");
    ASSERT_TRUE(device);
    APFSDeepScan scan;
    RecordingBuilder builder;
    RunDeepScan(scan, device.get(), builder, nullptr, 3000);

    ASSERT_EQ(scan.GetContainerCount(), 2u);
    EXPECT_EQ(builder.searchers.size(), 1u);
    auto parts = Partitions(scan);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0]->GetUnitBase(), 2048);
    EXPECT_EQ(parts[1]->GetUnitBase(), 2048 + kApfsFixtureSectors);
    EXPECT_EQ(parts[1]->GetPartitionIndex(), 1);
    auto first = Partitions(scan, 1);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0]->GetUnitBase(), 2048);

    // Both containers' files are found; those of the second are all deleted,
    // and its root takes the container's name.
    int hellos = 0;
    for (IFileNode* node : builder.nodes) {
        auto* file = static_cast<CFileNode*>(node);
        const unsigned short index = file->GetBelongedPartition();
        ASSERT_LE(index, 1);
        if (index == 1) {
            EXPECT_NE(node->IsDeleted(), 0) << node->GetFileName();
        }
        if (std::string(node->GetFileName()) == "hello.txt") {
            ++hellos;
            ExpectSameBytes(ReadNodeBytes(device.get(), node, parts[index]->GetUnitBase()),
                            ReadFileBytes(f.source + "/hello.txt"));
            EXPECT_EQ(node->GetCurrentNodeID() >> 32, index);
        }
    }
    EXPECT_EQ(hellos, 2);
}

TEST(ApfsDeepScan, StopRequestEndsTheScanQuickly)
{
    const ApfsFixture& f = SharedApfsFixture();
    auto device = OpenImageFileDisk(f.image);
    for (long long allowed : {0LL, 3LL, 50LL, 500LL}) {
        SCOPED_TRACE(allowed);
        APFSDeepScan scan;
        RecordingBuilder builder;
        CountingProgress progress;
        progress.allowed = allowed;
        RunDeepScan(scan, device.get(), builder, &progress);
        // Each range asks only a few times once the answer is no.
        EXPECT_LT(progress.asked, allowed + 1000);
    }
}

// Damaged metadata yields fewer files, never a crash, a hang or a read
// outside the block.
TEST(ApfsDeepScan, DamagedMetadataYieldsFewerFiles)
{
    const ApfsFixture& f = SharedApfsFixture();
    TempDir dir;
    const std::vector<unsigned char> original = ReadImage(f.image);
    std::vector<size_t> metadata;
    for (size_t b = 0; b + 4096 <= original.size(); b += 4096) {
        uint64_t oid = 0;
        std::memcpy(&oid, original.data() + b + 8, 8);
        if (oid != 0 && oid != ~0ULL)
            metadata.push_back(b);
    }
    ASSERT_GE(metadata.size(), 10u);
    size_t fsRoot = 0, omapRoot = 0, staleLeaf = 25999ULL * 4096 + 4096;
    for (size_t b : metadata) {
        uint32_t type = 0, subtype = 0;
        std::memcpy(&type, original.data() + b + 24, 4);
        std::memcpy(&subtype, original.data() + b + 28, 4);
        if ((type & 0xFFFF) == 2 && subtype == 14)
            fsRoot = b;
        if ((type & 0xFFFF) == 2 && subtype == 11 && !omapRoot)
            omapRoot = b;
    }
    ASSERT_NE(fsRoot, 0u);
    ASSERT_NE(omapRoot, 0u);

    struct Patch {
        const char* what;
        size_t offset;
        uint64_t value;
        int width;
    } patches[] = {
        {"fs-tree key count huge", fsRoot + 36, 0xFFFFFFFF, 4},
        {"fs-tree key count 1023", fsRoot + 36, 1023, 4},
        {"fs-tree table space huge", fsRoot + 42, 0xFFFF, 2},
        {"fs-tree first value offset huge", fsRoot + 56 + 4, 0xFFFF, 2},
        {"fs-tree first key offset huge", fsRoot + 56, 0xFFF0, 2},
        {"stale leaf key count huge", staleLeaf + 36, 5000, 4},
        {"stale leaf value offsets zero", staleLeaf + 56 + 4, 0, 2},
        {"object map root names itself", omapRoot + 4096 - 40 - 16 + 8, omapRoot / 4096, 8},
        {"object map root names beyond the device", omapRoot + 4096 - 40 - 16 + 8, 1ULL << 50, 8},
        {"object map root as index node", omapRoot + 32, 5, 2},
        {"object map root odd flags", omapRoot + 32, 9, 2},
        {"container object map beyond the device", 160, 1ULL << 40, 8},
        {"container block count huge", 40, ~0ULL, 8},
        {"container block count zero", 40, 0, 8},
        {"container block size huge", 36, 1U << 30, 4},
        {"checkpoint field loops", 136, 2, 4},
    };
    for (const Patch& p : patches) {
        SCOPED_TRACE(p.what);
        std::vector<unsigned char> image = original;
        if (p.width == 8)
            Put64(image, p.offset, p.value);
        else if (p.width == 4)
            Put32(image, p.offset, static_cast<uint32_t>(p.value));
        else
            std::memcpy(image.data() + p.offset, &p.value, 2);
        WriteImage(dir / "bad.img", image);
        auto device = OpenImageFileDisk(dir / "bad.img");
        APFSDeepScan scan;
        RecordingBuilder builder;
        RunDeepScan(scan, device.get(), builder, nullptr, 8192);
        EXPECT_LE(builder.nodes.size(), 12u);
    }

    // Random bytes over the metadata blocks.
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        std::vector<unsigned char> image = original;
        for (int i = 0; i < 64; ++i) {
            const size_t block = metadata[random() % metadata.size()];
            image[block + 32 + random() % (4096 - 32)] = static_cast<unsigned char>(random());
        }
        WriteImage(dir / "fuzz.img", image);
        auto device = OpenImageFileDisk(dir / "fuzz.img");
        APFSDeepScan scan;
        RecordingBuilder builder;
        RunDeepScan(scan, device.get(), builder, nullptr, 8192);
        EXPECT_LE(builder.nodes.size(), 64u);
    }
}

// The fixture's loose leaf of deleted records sits at block 26000.
TEST(ApfsDeepScan, LooseLeafIsTakenOnlyWhenItsHeaderFitsItsPlace)
{
    const ApfsFixture& f = SharedApfsFixture();
    TempDir dir;
    const std::vector<unsigned char> original = ReadImage(f.image);
    const size_t leaf = 26000ULL * 4096;
    struct Case {
        const char* what;
        uint64_t oid;
        uint32_t type;
        bool found;
    } cases[] = {
        {"virtual leaf", 0x500, 0x00000003, true},
        {"physical leaf at its own block", 26000, 0x40000003, true},
        {"physical leaf elsewhere", 0x500, 0x40000003, false},
        {"root node", 0x500, 0x00000002, false},
        {"oid beyond the container", 1ULL << 20, 0x00000003, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> image = original;
        Put64(image, leaf + 8, c.oid);
        Put32(image, leaf + 24, c.type);
        WriteImage(dir / "leaf.img", image);
        auto device = OpenImageFileDisk(dir / "leaf.img");
        APFSDeepScan scan;
        RecordingBuilder builder;
        RunDeepScan(scan, device.get(), builder);
        EXPECT_EQ(builder.Find("gone.txt") != nullptr, c.found);
        EXPECT_NE(builder.Find("hello.txt"), nullptr);
    }
}

TEST(ApfsDeepScan, VolumeBeforeAnyContainerMakesAVolumeOnlyContainer)
{
    const ApfsFixture& f = SharedApfsFixture();
    TempDir dir;
    // Without its container superblocks the volume superblock is met first.
    std::vector<unsigned char> headless = ReadImage(f.image);
    std::fill(headless.begin(), headless.begin() + 3 * 4096, 0);
    std::vector<unsigned char> image = headless;
    // Then a whole container after it.
    const std::vector<unsigned char> whole = ReadImage(f.image);
    image.insert(image.end(), whole.begin(), whole.end());
    WriteImage(dir / "volume.img", image);
    auto device = OpenImageFileDisk(dir / "volume.img");
    APFSDeepScan scan;
    RecordingBuilder builder;
    RunDeepScan(scan, device.get(), builder);

    ASSERT_EQ(scan.GetContainerCount(), 2u);
    EXPECT_EQ(builder.searchers.size(), 1u);
    auto parts = Partitions(scan);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0]->GetUnitBase(), 0);
    EXPECT_EQ(parts[0]->GetTotalSectors(), static_cast<unsigned long long>(device->GetTotalSectors()));
    EXPECT_EQ(parts[1]->GetUnitBase(), kApfsFixtureSectors);

    std::map<std::string, int> live, deleted;
    for (IFileNode* node : builder.nodes) {
        const unsigned short index = static_cast<CFileNode*>(node)->GetBelongedPartition();
        if (index == 0) {
            EXPECT_EQ(node->IsDeleted(), 0) << node->GetFileName();
            ++live[node->GetFileName()];
        } else {
            EXPECT_NE(node->IsDeleted(), 0) << node->GetFileName();
            ++deleted[node->GetFileName()];
        }
    }
    // The volume-only container takes no loose leaves; the container does.
    EXPECT_EQ(live.count("hello.txt"), 1u);
    EXPECT_EQ(live.count("gone.txt"), 0u);
    EXPECT_EQ(deleted.count("hello.txt"), 1u);
    EXPECT_EQ(deleted.count("gone.txt"), 1u);
    // Each container's root folder hangs under its own container's root id.
    for (IFileNode* node : builder.nodes) {
        if (std::string(node->GetFileName()) == "root") {
            const long long index = static_cast<CFileNode*>(node)->GetBelongedPartition();
            EXPECT_EQ(node->GetParentNodeID(), (index << 32) | 2);
        }
    }
}
