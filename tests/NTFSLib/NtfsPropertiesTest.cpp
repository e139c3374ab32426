// Properties built from crafted records: which name, parent, times and size
// the user sees; the node over them; resident data read from an image.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "IRecovery.h"
#include "ImageFileDevice.h"
#include "NTFSFileNode.h"
#include "NtfsTestSupport.h"
#include "TestSupport.h"

namespace {

struct Built {
    std::unique_ptr<CNTFSFileProperties> properties;
    long long parent = -1;
};

Built Build(const RecordSpec& spec, unsigned int clusterBytes = 4096, long long sector = 777)
{
    std::vector<uint8_t> r = MakeRecord(spec);
    CNTFSMultiFileRecord multi(r.data(), 1024, sector, nullptr, nullptr);
    Built b;
    b.properties.reset(CNTFSFilePropertiesBuilder::BuildFileProperties(sector, multi, clusterBytes, &b.parent));
    return b;
}

std::vector<DataRun> Runs(CNTFSFileProperties& p)
{
    std::vector<DataRun> out;
    IDataRunList* list = p.GetDataRunList();
    if (!list)
        return out;
    for (DataRun* r = list->GetFirst(); r; r = list->GetNext())
        out.push_back(*r);
    list->Release();
    return out;
}

}  // namespace

TEST(ntfs_properties, NameAndParentChoice)
{
    struct Case {
        const char* what;
        std::vector<std::vector<uint8_t>> names;
        const char* shown;
        long long parent;
    } cases[] = {
        {"DOS then Win32", {FileName(40, u"LONGNA~1.TXT", 2), FileName(40, u"long name.txt", 1)}, "long name.txt", 40},
        {"DOS then POSIX", {FileName(40, u"SHORT.TXT", 2), FileName(40, u"posix", 0)}, "SHORT.TXT", 40},
        {"only one", {FileName(41, u"Ünï.txt", 3)}, "Ünï.txt", 41},
        {"F1 parent not above 4", {FileName(5, u"a", 2), FileName(3, u"b", 1)}, "b", 5},
        {"both parents small", {FileName(2, u"a", 2), FileName(3, u"b", 1)}, "b", 3},
        {"lone surrogate", {FileName(40, std::u16string(u"x") + char16_t(0xD800) + u"y", 1)}, "x\xEF\xBF\xBDy", 40},
    };
    for (const Case& c : cases) {
        RecordSpec spec;
        spec.attributes = c.names;
        Built b = Build(spec);
        ASSERT_TRUE(b.properties) << c.what;
        EXPECT_STREQ(b.properties->GetFileName(), c.shown) << c.what;
        EXPECT_EQ(b.properties->GetFileNameLength(), static_cast<int>(std::strlen(c.shown))) << c.what;
        EXPECT_EQ(b.parent, c.parent) << c.what;
    }

    RecordSpec none;
    none.attributes.push_back(StandardInformation(1, 2, 3, 0));
    EXPECT_FALSE(Build(none).properties);
    RecordSpec empty;
    empty.attributes.push_back(FileName(40, u"", 1));
    Built e = Build(empty);
    EXPECT_FALSE(e.properties);
    EXPECT_EQ(e.parent, 40);  // the parent is reported even without properties
}

TEST(ntfs_properties, TimesAttributesAndState)
{
    RecordSpec spec;
    spec.attributes.push_back(FileName(40, u"f", 1, 0, 1111, 0));
    Built plain = Build(spec);
    ASSERT_TRUE(plain.properties);
    EXPECT_EQ(plain.properties->GetCreationTime(), 1111u);
    EXPECT_EQ(plain.properties->GetModificationTime(), 1111u);
    EXPECT_EQ(plain.properties->GetLastAccessTime(), 1111u);
    EXPECT_EQ(plain.properties->GetState(), 0);
    EXPECT_EQ(plain.properties->GetFileRecordStartSector(), 777);

    spec.attributes.insert(spec.attributes.begin(), StandardInformation(10, 20, 30, 0x27 | 0x100));
    spec.flags = 0;  // not in use: deleted
    Built withSi = Build(spec);
    ASSERT_TRUE(withSi.properties);
    EXPECT_EQ(withSi.properties->GetCreationTime(), 10u);
    EXPECT_EQ(withSi.properties->GetModificationTime(), 20u);
    EXPECT_EQ(withSi.properties->GetLastAccessTime(), 30u);
    EXPECT_EQ(withSi.properties->GetAttribute(), 0x27u);
    EXPECT_EQ(withSi.properties->GetState(), 1);

    RecordSpec folder;
    folder.flags = 3;
    folder.attributes.push_back(FileName(5, u"dir", 1, 0, 0, 0x10000000));
    Built f = Build(folder);
    ASSERT_TRUE(f.properties);
    EXPECT_EQ(f.properties->GetAttribute() & 0x10u, 0x10u);
    EXPECT_TRUE(Runs(*f.properties).empty());

    // Compressed and encrypted: encrypted wins.
    RecordSpec both;
    both.attributes.push_back(FileName(5, u"c", 1));
    both.attributes.push_back(MakeNonResident(NTFS_ATTR_DATA, {0x11, 2, 0x20, 0}, 0, 1, 100, 8192, 0x4001));
    Built c = Build(both);
    EXPECT_EQ(c.properties->GetAttribute() & 0x840u, 0x40u);
    both.attributes[1] = MakeNonResident(NTFS_ATTR_DATA, {0x11, 2, 0x20, 0}, 0, 1, 100, 8192, 0x0001);
    EXPECT_EQ(Build(both).properties->GetAttribute() & 0x840u, 0x800u);
}

TEST(ntfs_properties, SizesAndExtents)
{
    struct Case {
        const char* what;
        uint64_t nameSize;
        std::vector<std::vector<uint8_t>> data;
        long long size;
        std::vector<DataRun> runs;
    } cases[] = {
        {"real size 0, three clusters", 0, {MakeNonResident(NTFS_ATTR_DATA, {0x11, 3, 0x20, 0}, 0, 2, 0, 12288)},
         12288, {{32, 3}}},
        {"real size above the allocation", 0,
         {MakeNonResident(NTFS_ATTR_DATA, {0x11, 8, 0x20, 0}, 0, 7, 100000, 32768)}, 32768, {{32, 8}}},
        {"name size within the allocation", 5000,
         {MakeNonResident(NTFS_ATTR_DATA, {0x11, 2, 0x20, 0}, 0, 1, 4000, 8192)}, 5000, {{32, 2}}},
        {"second extent first, sorted by VCN", 0,
         {MakeNonResident(NTFS_ATTR_DATA, {0x11, 2, 0x40, 0}, 3, 4, 0, 0),
          MakeNonResident(NTFS_ATTR_DATA, {0x11, 3, 0x20, 0}, 0, 2, 20000, 20480)},
         20000, {{32, 3}, {64, 2}}},
        {"sparse run", 0, {MakeNonResident(NTFS_ATTR_DATA, {0x11, 1, 0x20, 0x01, 2, 0x11, 1, 0x10, 0}, 0, 3, 16384, 16384)},
         16384, {{32, 1}, {-1, 2}, {48, 1}}},
        {"named stream skipped", 0,
         {MakeNonResident(NTFS_ATTR_DATA, {0x11, 9, 0x20, 0}, 0, 8, 36864, 36864, 0, u"ads"),
          MakeResident(NTFS_ATTR_DATA, {'h', 'e', 'l', 'l', 'o'})},
         5, {}},
    };
    for (const Case& c : cases) {
        RecordSpec spec;
        spec.attributes.push_back(FileName(40, u"f.bin", 1, c.nameSize));
        for (const auto& d : c.data)
            spec.attributes.push_back(d);
        Built b = Build(spec);
        ASSERT_TRUE(b.properties) << c.what;
        EXPECT_EQ(b.properties->GetFileSize(), c.size) << c.what;
        if (c.runs.empty())
            continue;
        const auto runs = Runs(*b.properties);
        ASSERT_EQ(runs.size(), c.runs.size()) << c.what;
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].llStart, c.runs[i].llStart) << c.what << " run " << i;
            EXPECT_EQ(runs[i].llLength, c.runs[i].llLength) << c.what << " run " << i;
        }
    }
}

TEST(ntfs_properties, ResidentExtentPointsAtTheData)
{
    RecordSpec spec;
    spec.attributes.push_back(FileName(40, u"five.txt", 1, 0));
    spec.attributes.push_back(MakeResident(NTFS_ATTR_DATA, {'h', 'e', 'l', 'l', 'o'}));
    std::vector<uint8_t> r = MakeRecord(spec);
    CNTFSMultiFileRecord multi(r.data(), 1024, 5000, nullptr, nullptr);
    std::unique_ptr<CNTFSFileProperties> p(CNTFSFilePropertiesBuilder::BuildFileProperties(5000, multi, 4096, nullptr));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->GetFileSize(), 5);
    IDataRunList* list = p->GetDataRunList();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->IsResident(), 1);
    EXPECT_EQ(list->GetFirst()->llStart, 5000);
    CNTFSFileRecord::UnfixupFileRecord(r.data(), 1024);
    EXPECT_EQ(std::memcmp(r.data() + list->GetOffset(), "hello", 5), 0);
    list->Release();
}

TEST(ntfs_properties, NodeOverProperties)
{
    RecordSpec spec;
    spec.attributes.push_back(StandardInformation(10, 20, 30, 0x20));
    spec.attributes.push_back(FileName(40, u"..  .hidden name", 1, 9000));
    spec.attributes.push_back(MakeNonResident(NTFS_ATTR_DATA, {0x11, 3, 0x20, 0}, 0, 2, 9000, 12288));
    Built b = Build(spec, 4096, 1234);
    ASSERT_TRUE(b.properties);
    auto* node = new CNTFSFileNode();
    node->SetFileProperties(b.properties.release());
    EXPECT_EQ(node->GetCurrentNodeID(), 0);
    EXPECT_EQ(node->GetParentNodeID(), 5);
    EXPECT_EQ(node->GetMetadataStartPosition(), 1234);
    EXPECT_EQ(node->GetSearcheType(), SEARCHER_NTFS);
    ASSERT_TRUE(node->GetDataRunList());
    EXPECT_EQ(node->GetDataRunList()->GetFirst()->llStart, 32);
    node->SetCurrentNodeID(77);
    node->SetParentNodeID(40);
    EXPECT_FALSE(node->IsDeleted());
    node->MarkDeleted();
    EXPECT_TRUE(node->IsDeleted());

    std::unique_ptr<IFileNode, void (*)(IFileNode*)> clone(node->Clone(), [](IFileNode* n) { n->Release(); });
    ASSERT_TRUE(clone);
    EXPECT_STREQ(clone->GetFileName(), "..  .hidden name");
    EXPECT_EQ(clone->GetFileSize(), 9000);
    EXPECT_EQ(clone->GetCurrentNodeID(), 0);
    EXPECT_EQ(clone->GetParentNodeID(), 5);
    EXPECT_TRUE(clone->IsDeleted());

    node->FilterFileNameByDot();
    EXPECT_STREQ(node->GetFileName(), "hidden name");
    EXPECT_EQ(node->GetFileProperties()->GetFileNameLength(), 12);
    EXPECT_STREQ(clone->GetFileName(), "..  .hidden name");  // independent copy
    IFileReader* reader = node->CreateCompressFileReader(nullptr);
    ASSERT_TRUE(reader);
    reader->Release();
    node->Release();
}

TEST(ntfs_properties, NegativeSizeFromRuns)
{
    std::unique_ptr<CNTFSFileProperties> p(CNTFSFileProperties::Create());
    CNoneResidentNTFSDataRunList runs;
    runs.AddDataRun(DataRun{10, 3});
    runs.AddDataRun(DataRun{-1, 2});
    p->SetDataRunList(&runs);
    p->SetFileSize(-1);
    CNTFSFilePropertiesBuilder::AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(p.get(), 8, 512);
    EXPECT_EQ(p->GetFileSize(), 5 * 4096);
    p->SetFileSize(100);
    CNTFSFilePropertiesBuilder::AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(p.get(), 8, 512);
    EXPECT_EQ(p->GetFileSize(), 100);
}

TEST(ntfs_properties, ResidentDataFromImage)
{
    const std::string image = NtfsImagePath("ntfs-basic.img");
    auto device = OpenImageFileDisk(image);
    ASSERT_TRUE(device);
    // small.txt is record 64 of a fresh volume; its sector comes from fls.
    const auto tree = NtfsFlsTree(image);
    ASSERT_TRUE(tree.count("/small.txt"));
    const std::string istat = RunTool("istat '" + image + "' " + std::to_string(tree.at("/small.txt").inode));
    ASSERT_NE(istat.find("Resident"), std::string::npos);

    // Record sector: MFT start + number * 2 (the MFT's first run holds it).
    const std::vector<uint8_t> boot = ReadAt(image, 0, 512);
    unsigned long long mftCluster = 0;
    std::memcpy(&mftCluster, boot.data() + 48, 8);
    const long long sector = static_cast<long long>(mftCluster * 8 + tree.at("/small.txt").inode * 2);
    unsigned int length = 0;
    uint8_t buffer[4096];
    ASSERT_EQ(GetResidentDataRunsStream(sector, *device, &length, buffer, sizeof buffer), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), NtfsSource("small.txt"));
    EXPECT_EQ(GetResidentDataRunsStream(sector, *device, &length, buffer, 3), 0);  // does not fit

    // big.bin is not resident; a folder never gives resident data.
    const long long bigSector = static_cast<long long>(mftCluster * 8 + tree.at("/big.bin").inode * 2);
    EXPECT_EQ(GetResidentDataRunsStream(bigSector, *device, &length, buffer, sizeof buffer), 0);
    RecordSpec folder;
    folder.flags = 3;
    folder.attributes.push_back(FileName(5, u"dir", 1, 0, 0, 0x10000000));
    Built f = Build(folder, 4096, sector);
    CNTFSFileNode node;
    node.SetFileProperties(f.properties.release());
    EXPECT_EQ(GetResidentDataRunsStream(node, *device, &length, buffer, sizeof buffer), 0);
}
