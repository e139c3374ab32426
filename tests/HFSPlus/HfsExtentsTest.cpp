// Files of more than eight extents: the ninth comes from the extents
// overflow tree, or, when the live tree lost it, from an older copy of its
// leaf in the journal; without either the file ends after eight.
#include <gtest/gtest.h>

#include <algorithm>

#include "HFSPlusFileNode.h"
#include "HFSPlusQuickSearch.h"
#include "HfsTestSupport.h"
#include "IStorageDevice.h"
#include "TestSupport.h"

namespace {

enum class Continuation { Live, Journal, None };

// docs/big.txt split into eight one-block extents and one of the rest.
std::string ScanSplitFile(const std::string& dir, Continuation where)
{
    const HfsFixture f = MakeHfsFixture(dir);
    const HfsGeometry g = ReadGeometry(f);
    const unsigned long long volume = static_cast<unsigned long long>(f.volumeStart) * 512;
    const uint32_t docs = ReadBE32(ReadAt(f.image, FindRecord(f, g, u"docs", 2, 1) + 8, 4).data());
    const unsigned long long record = FindRecord(f, g, u"big.txt", docs);
    const uint32_t id = ReadBE32(ReadAt(f.image, record + 8, 4).data());
    Bytes fork = ReadAt(f.image, record + 88, 80);
    const uint32_t start = ReadBE32(fork.data() + 16);
    const uint32_t blocks = ReadBE32(fork.data() + 12);
    EXPECT_GT(blocks, 9u);
    for (int i = 0; i < 8; ++i) {
        PutBE(fork, 16 + 8 * i, start + static_cast<uint32_t>(i), 4);
        PutBE(fork, 20 + 8 * i, 1, 4);
    }
    WriteAt(f.image, record + 88, fork.data(), fork.size());

    Bytes overflow(12 + 64, 0);
    PutBE(overflow, 0, 10, 2);
    PutBE(overflow, 4, id, 4);
    PutBE(overflow, 8, 8, 4);
    PutBE(overflow, 12, start + 8, 4);
    PutBE(overflow, 16, blocks - 8, 4);
    const Bytes withRecord = MakeBTreeFile(4096, 10, {overflow});
    const Bytes tree = where == Continuation::Live ? withRecord : MakeBTreeFile(4096, 10, {});

    // The journal (when there is one) lies behind the volume's last block;
    // the tree goes behind everything.
    const uint32_t totalBlocks = ReadBE32(ReadAt(f.image, volume + 1024 + 44, 4).data());
    const unsigned long long journalEnd = (totalBlocks + 1ull) * g.blockSize + 65536;
    const unsigned long long imageEnd = ReadFileBytes(f.image).size() - volume;
    const uint32_t treeAt = static_cast<uint32_t>(
        (std::max(imageEnd, where == Continuation::Journal ? journalEnd : 0) + g.blockSize - 1) / g.blockSize);
    if (where == Continuation::Journal)
        AddJournal(f, static_cast<unsigned long long>(treeAt) * g.blockSize + 4096,
                   Bytes(withRecord.begin() + 4096, withRecord.end()), 1);
    EXPECT_EQ(AppendBlocks(f, tree), treeAt);
    Bytes extents(80, 0);
    PutBE(extents, 0, tree.size(), 8);
    PutBE(extents, 12, tree.size() / g.blockSize, 4);
    PutBE(extents, 16, treeAt, 4);
    PutBE(extents, 20, tree.size() / g.blockSize, 4);
    WriteAt(f.image, volume + 1024 + 192, extents.data(), extents.size());

    const auto scan = ScanWholeImage(f);
    EXPECT_EQ(scan->rc, 0u);
    const auto byPath = scan->builder.ByPath();
    auto it = byPath.find("docs/big.txt");
    if (it == byPath.end()) {
        ADD_FAILURE() << "docs/big.txt not found";
        return "";
    }
    EXPECT_EQ(byPath.size(), HfsFixtureFiles().size() + HfsFixtureFolders().size() + 1);
    return ReadNodeData(f, it->second, g.blockSize);
}

}  // namespace

TEST(hfs_extents, NinthExtentFromTheTreeOrTheJournal)
{
    const std::string content = HfsFixtureFiles().at("docs/big.txt");
    {
        TempDir dir;
        EXPECT_TRUE(ScanSplitFile(dir.path(), Continuation::Live) == content);
    }
    {
        TempDir dir;
        EXPECT_TRUE(ScanSplitFile(dir.path(), Continuation::Journal) == content);
    }
    {
        TempDir dir;
        const std::string cut = ScanSplitFile(dir.path(), Continuation::None);
        EXPECT_EQ(cut.size(), 8u * 2048u);
        EXPECT_TRUE(cut == content.substr(0, cut.size()));
    }
}
