// On-disk record checks that need no volume: the result-code printer, node
// and thread tests, key conversion and comparison, node ownership guesses,
// file nodes of crafted records, and the LZVN decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "HFSPlusBTree.h"
#include "HFSPlusError.h"
#include "HFSPlusFileNode.h"
#include "HFSPlusStructs.h"
#include "HfsTestSupport.h"

namespace {

// A catalog leaf record: key (parent, name) then data.
std::vector<uint8_t> CatalogRecord(uint32_t parent, const std::u16string& name, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> r(8 + 2 * name.size(), 0);
    PutBE(r, 0, static_cast<unsigned>(6 + 2 * name.size()), 2);
    PutBE(r, 2, parent, 4);
    PutBE(r, 6, static_cast<unsigned>(name.size()), 2);
    for (size_t i = 0; i < name.size(); ++i)
        PutBE(r, 8 + 2 * i, name[i], 2);
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

std::vector<uint8_t> FileData(uint32_t id)
{
    std::vector<uint8_t> d(248, 0);
    PutBE(d, 0, 2, 2);
    PutBE(d, 8, id, 4);
    return d;
}

BTKey CatalogKey(uint32_t parent, const std::u16string& name)
{
    BTKey k;
    std::memset(&k, 0, sizeof k);
    k.catalog.parentID = parent;
    k.catalog.nodeName.length = static_cast<uint16_t>(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const uint16_t u = name[i];
        std::memcpy(k.raw + 8 + 2 * i, &u, 2);
    }
    return k;
}

int Fold(const std::u16string& a, const std::u16string& b)
{
    return FastUnicodeCompare(reinterpret_cast<const unsigned short*>(a.data()), static_cast<unsigned short>(a.size()),
                              reinterpret_cast<const unsigned short*>(b.data()), static_cast<unsigned short>(b.size()));
}

}  // namespace

TEST(hfs_records, FormatErrorPrintsBaseNameAndReturnsTheCode)
{
    struct Case {
        long long code;
        const char* file;
        const char* expected;
    } cases[] = {
        {0x105003C00000005LL, "/src/HFSPlus/HFSPlusLib/HFSPlusBTNode.cpp",
         "Return Error:0x105003c00000005\tFile:HFSPlusBTNode.cpp\tLine:60\tFuction:GetRecord\n"},
        {0x10500A30000000DLL, "C:\\work\\lib\\BTree.cpp",
         "Return Error:0x10500a30000000d\tFile:BTree.cpp\tLine:60\tFuction:GetRecord\n"},
        {0, "plain.cpp", "Return Error:0x0\tFile:plain.cpp\tLine:60\tFuction:GetRecord\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        const long long back = FormatError(c.code, c.file, 60, "GetRecord");
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(back, c.code);
        EXPECT_EQ(out, c.expected);
    }
    EXPECT_EQ(HfsCode(0x3C, kHfsKindBadArgument), 0x105003C00000005ULL);
}

TEST(hfs_records, NodeValidity)
{
    const std::vector<uint8_t> record = CatalogRecord(2, u"a", {0, 1, 2, 3});
    struct Case {
        const char* what;
        std::vector<uint8_t> node;
        bool valid;
    };
    std::vector<Case> cases;
    cases.push_back({"empty leaf", MakeBTreeNode(512, -1, 1, {}), true});
    cases.push_back({"leaf of height 2", MakeBTreeNode(512, -1, 2, {}), false});
    cases.push_back({"header of height 1", MakeBTreeNode(512, 1, 1, {}), false});
    cases.push_back({"kind 3", MakeBTreeNode(512, 3, 1, {}), false});
    cases.push_back({"one record", MakeBTreeNode(512, -1, 1, {record}), true});
    cases.push_back({"size not a multiple of 512", MakeBTreeNode(700, -1, 1, {}), false});
    {
        auto n = MakeBTreeNode(512, -1, 1, {record, record});
        PutBE(n, 512 - 4, 14, 2);  // second record where the first starts
        cases.push_back({"second offset not above the first", n, false});
    }
    {
        auto n = MakeBTreeNode(512, -1, 1, {record});
        PutBE(n, 510, 16, 2);
        cases.push_back({"first offset not 14", n, false});
    }
    {
        auto n = MakeBTreeNode(512, -1, 1, {record});
        PutBE(n, 10, 0xFFFF, 2);  // more records than the table can hold
        cases.push_back({"record count beyond the node", n, false});
    }
    {
        auto n = MakeBTreeNode(512, -1, 1, {record});
        PutBE(n, 508, 511, 2);  // free space inside the offset table
        cases.push_back({"offset inside the table", n, false});
    }
    for (const Case& c : cases) {
        EXPECT_EQ(CHFSPlusBTNode::IsValidNode(c.node.data(), static_cast<unsigned short>(c.node.size())),
                  c.valid ? 1 : 0)
            << c.what;
        CHFSPlusBTNode node(c.node.data(), static_cast<unsigned short>(c.node.size()), 0);
        EXPECT_EQ(node.GetDescriptor() != nullptr, c.valid) << c.what;
        // Records of an invalid node are never handed out.
        EXPECT_EQ(node.GetRecord(0, nullptr) != nullptr, c.valid && node.GetRecordCount() > 0) << c.what;
    }
    CHFSPlusBTNode one(cases[4].node.data(), 512, 0);
    unsigned short length = 0;
    ASSERT_NE(one.GetRecord(0, &length), nullptr);
    EXPECT_EQ(length, record.size());
    EXPECT_EQ(one.GetRecord(1, &length), nullptr);
    EXPECT_EQ(one.GetLastError(), 0x105003C00000005ULL);
}

TEST(hfs_records, NodeOwnerGuessAndThreads)
{
    std::vector<uint8_t> thread(10 + 2 * 3, 0);
    PutBE(thread, 0, 3, 2);
    PutBE(thread, 4, 1, 4);
    PutBE(thread, 8, 3, 2);
    EXPECT_EQ(IsValidCatalogThread(thread.data(), static_cast<short>(thread.size())), 1);
    EXPECT_EQ(IsValidCatalogThread(thread.data(), static_cast<short>(thread.size() - 2)), 0);
    EXPECT_EQ(IsValidCatalogThread(thread.data(), 9), 0);

    std::vector<uint8_t> extentKey(12, 0);
    PutBE(extentKey, 0, 10, 2);
    std::vector<uint8_t> extentRecord = extentKey;
    extentRecord.resize(12 + 64, 0);
    std::vector<uint8_t> attrFork(14, 0);
    PutBE(attrFork, 0, 12, 2);
    attrFork.resize(14 + 88, 0);
    PutBE(attrFork, 14, 0x20, 4);

    struct Case {
        const char* what;
        std::vector<std::vector<uint8_t>> records;
        int expected;
    } cases[] = {
        {"catalog file", {CatalogRecord(2, u"f", FileData(20))}, 4},
        {"catalog thread after extents", {extentRecord, CatalogRecord(16, u"", thread)}, 4},
        {"extents", {extentRecord, extentRecord}, 3},
        {"attributes fork data last", {extentRecord, attrFork}, 8},
        {"nothing known", {CatalogRecord(2, u"x", std::vector<uint8_t>(20, 0))}, 0},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> buf = MakeBTreeNode(4096, -1, 1, c.records);
        CHFSPlusBTNode node(buf.data(), 4096, 0);
        EXPECT_EQ(node.TestNodeBelongToFile(), c.expected) << c.what;
    }
}

TEST(hfs_records, CaseFoldingAndKeyComparison)
{
    EXPECT_EQ(Fold(u"ABC", u"abc"), 0);
    EXPECT_EQ(Fold(u"a:b", u"a/b"), 0);
    EXPECT_EQ(Fold(u"na\u200Cme", u"name"), 0);
    EXPECT_EQ(Fold(u"A", u"B"), -1);
    EXPECT_EQ(Fold(u"b", u"A"), 1);
    EXPECT_EQ(Fold(u"ab", u"abc"), -1);
    EXPECT_EQ(Fold(u"\u0391", u"\u03B1"), 0);  // Greek capital and small alpha

    BTKey upper = CatalogKey(2, u"A"), lower = CatalogKey(2, u"a"), other = CatalogKey(3, u"A");
    EXPECT_NE(CHFSPlusCatalog::CompareKey(&upper, &lower, kHFSBinaryCompare), 0);
    EXPECT_EQ(CHFSPlusCatalog::CompareKey(&upper, &lower, kHFSCaseFolding), 0);
    EXPECT_EQ(CHFSPlusCatalog::CompareKey(&upper, &lower, 0), 0);
    EXPECT_EQ(CHFSPlusCatalog::CompareKey(&upper, &other, kHFSCaseFolding), -1);
    BTKey empty = CatalogKey(2, u""), prefix = CatalogKey(2, u"ab"), longer = CatalogKey(2, u"abc");
    EXPECT_EQ(CHFSPlusCatalog::CompareKey(&empty, &upper, kHFSBinaryCompare), -1);
    EXPECT_EQ(CHFSPlusCatalog::CompareKey(&prefix, &longer, kHFSBinaryCompare), -1);

    BTKey e1{}, e2{};
    std::memset(&e1, 0, sizeof e1);
    std::memset(&e2, 0, sizeof e2);
    e1.extent.fileID = e2.extent.fileID = 20;
    e1.extent.forkType = 0;
    e2.extent.forkType = 0xFF;
    EXPECT_EQ(CHFSPlusExtents::CompareKey(&e1, &e2), -1);
    e2.extent.forkType = 0;
    e2.extent.startBlock = 8;
    EXPECT_EQ(CHFSPlusExtents::CompareKey(&e2, &e1), 1);
}

TEST(hfs_records, CatalogKeyReadTurnsSlashIntoColon)
{
    std::vector<uint8_t> record = CatalogRecord(2, u"a/b", FileData(33));
    const std::vector<uint8_t> buf = MakeBTreeNode(4096, -1, 1, {record});
    CHFSPlusBTNode node(buf.data(), 4096, 0);
    CHFSPlusCatalog catalog(nullptr, nullptr);  // a codec without a tree
    BTKey* key = nullptr;
    ASSERT_EQ(catalog.ReadKey(&node, 0, key), 0u);
    std::unique_ptr<BTKey> owned(key);
    EXPECT_EQ(uint32_t{key->catalog.parentID}, 2u);
    ASSERT_EQ(uint16_t{key->catalog.nodeName.length}, 3);
    uint16_t units[3];
    std::memcpy(units, key->raw + 8, sizeof units);
    EXPECT_EQ(units[1], u':');
    unsigned char* data = nullptr;
    ASSERT_EQ(catalog.ReadData(&node, 0, data), 0u);
    std::unique_ptr<unsigned char[]> ownedData(data);
    EXPECT_EQ(uint32_t{reinterpret_cast<HFSPlusCatalogRecord*>(data)->file.fileID}, 33u);

    // A key that claims more bytes than its record holds is not read.
    PutBE(record, 0, 400, 2);
    const std::vector<uint8_t> bad = MakeBTreeNode(4096, -1, 1, {record});
    CHFSPlusBTNode badNode(bad.data(), 4096, 0);
    EXPECT_EQ(catalog.ReadKey(&badNode, 0, key), 0x10500F100000006ULL);
    EXPECT_EQ(key, nullptr);
    // Records of index nodes are not catalog records.
    const std::vector<uint8_t> index = MakeBTreeNode(4096, 0, 2, {CatalogRecord(2, u"a", {0, 0, 0, 5})});
    CHFSPlusBTNode indexNode(index.data(), 4096, 0);
    EXPECT_EQ(catalog.ReadData(&indexNode, 0, data), 0x10500EA00000006ULL);
}

TEST(hfs_records, FileNodesOfCraftedRecords)
{
    HFSPlusCatalogRecord record;
    std::memset(&record, 0, sizeof record);
    record.file.recordType = kHFSPlusFileRecord;
    record.file.fileID = 40;
    record.file.createDate = 1;
    record.file.dataFork.totalBlocks = 3;
    BTKey key = CatalogKey(7, std::u16string(u"\0\0\0\0HFS+ Private Data", 21));
    CHFSPlusFileNode node(nullptr, &key, &record, 0);
    EXPECT_STREQ(node.GetFileName(), "HFS+ Private Data");
    EXPECT_EQ(node.GetCurrentNodeID(), 40);
    EXPECT_EQ(node.GetParentNodeID(), 7);
    EXPECT_EQ(node.GetFileSize(), 12288);
    EXPECT_EQ(node.GetCreationTime(), 95616288010000000ULL);
    EXPECT_EQ(node.GetModificationTime(), 0u);
    EXPECT_FALSE(node.IsDirectory());
    EXPECT_FALSE(node.IsDeleted());
    EXPECT_EQ(node.Clone(), &node);

    record.file.userInfo.fileType = 0x66647270;  // "fdrp"
    CHFSPlusFileNode alias(nullptr, &key, &record, 1);
    EXPECT_TRUE(alias.IsDirectory());
    EXPECT_TRUE(alias.IsDeleted());

    HFSPlusCatalogRecord folder;
    std::memset(&folder, 0, sizeof folder);
    folder.folder.recordType = kHFSPlusFolderRecord;
    folder.folder.folderID = 1;
    CHFSPlusFileNode rootParent(nullptr, &key, &folder, 0);
    EXPECT_EQ(rootParent.GetCurrentNodeID(), -1);
    folder.folder.folderID = 21;
    CHFSPlusFileNode deep(nullptr, 0x1234, 3, &key, &folder);
    EXPECT_EQ(deep.GetCurrentNodeID(), 21);
    EXPECT_TRUE(deep.IsDirectory());
    EXPECT_EQ(deep.GetBelongedPartition(), 3);
    EXPECT_EQ(deep.GetMetadataStartPosition(), 0x1234);

    HFSPlusCatalogRecord thread;
    std::memset(&thread, 0, sizeof thread);
    thread.thread.recordType = kHFSPlusFileThreadRecord;
    CHFSPlusFileNode none(nullptr, &key, &thread, 0);
    EXPECT_EQ(none.GetCurrentNodeID(), -1);
}

TEST(hfs_records, LzvnStreams)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> stream;
        size_t outSize;
        size_t expected;
        std::string text;
    } cases[] = {
        {"literal", {0xE3, 'a', 'b', 'c', 0x06, 0, 0, 0, 0, 0, 0, 0}, 16, 3, "abc"},
        // 3 literals, then a match of 3 + 0 at distance 3 (small distance).
        {"overlapping match", {0xC0, 0x03, 'x', 'y', 'z', 0xF3, 0x06, 0, 0, 0, 0, 0, 0, 0}, 16, 9, "xyzxyzxyz"},
        {"undefined opcode", {0xE1, 'a', 0x1E, 0x06, 0, 0, 0, 0, 0, 0, 0}, 16, 0, ""},
        {"distance beyond output", {0xE1, 'a', 0x00, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0}, 16, 0, ""},
        {"output under 16 bytes", {0xE3, 'a', 'b', 'c', 0x06, 0, 0, 0, 0, 0, 0, 0}, 8, 0, ""},
        {"no padding", {0xE3, 'a', 'b', 'c', 0x06}, 16, 0, ""},
        {"truncated stream", {0xE3, 'a', 'b', 'c'}, 16, 0, ""},
        {"output fills", {0xEF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o',
                          0x38, 0x01, 0x06, 0, 0, 0, 0, 0, 0, 0}, 16, 16, "abcdefghijklmnoo"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out(c.outSize, 0);
        EXPECT_EQ(lzvn_decode(out.data(), out.size(), c.stream.data(), c.stream.size()), c.expected) << c.what;
        if (!c.text.empty()) {
            EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<long>(c.text.size())), c.text) << c.what;
        }
    }
    // The "previous distance" of a fresh stream is no distance at all.
    const std::vector<uint8_t> noDistance = {0xE1, 'a', 0xF3, 0x06, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> out(16, 0);
    EXPECT_EQ(lzvn_decode(out.data(), out.size(), noDistance.data(), noDistance.size()), 0u);
}
