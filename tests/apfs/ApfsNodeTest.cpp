#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "APFSFileNode.h"

namespace {

std::string Name(const char* text)
{
    return std::string(text, std::strlen(text) + 1);  // on-disk names count their zero
}

}  // namespace

TEST(ApfsNode, NamesDropOneLeadingDotAndStoreDsRecordsNot)
{
    struct Case {
        std::string raw;
        std::string made;
        bool accepted;
    } cases[] = {
        {Name("report.txt"), Name("report.txt"), true},
        {Name(".hidden"), Name("hidden"), true},
        {Name("..twice"), Name(".twice"), true},
        {Name("."), Name(""), true},
        {Name(".DS_Store"), "", false},
        {Name(".ds_store"), "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        EXPECT_EQ(APFSFileNode::MakeName(c.raw.data(), static_cast<int>(c.raw.size())), c.made);
        EXPECT_EQ(APFSFileNode::AcceptName(c.raw.data(), static_cast<int>(c.raw.size())), c.accepted);
    }
    EXPECT_EQ(APFSFileNode::MakeName(nullptr, 5), "");
    EXPECT_EQ(APFSFileNode::MakeName("abc", -3), "");
}

TEST(ApfsNode, TrashesFolderIsADeletedFolderWhateverItsRecordSays)
{
    APFSFileNode node;
    const std::string raw = Name(".Trashes");
    node.SetName(raw.data(), static_cast<int>(raw.size()));
    EXPECT_EQ(node.m_strName.size(), 8u);
    EXPECT_NE(node.IsDirectory(), 0);
    EXPECT_NE(node.IsDeleted(), 0);
    node.SetKind(false);  // the kind is fixed now
    EXPECT_NE(node.IsDirectory(), 0);
    EXPECT_EQ(node.GetAttribute(), 0x10u);
}

TEST(ApfsNode, TimesAreWholeSecondsSince1601AndParentOneIsTheRoot)
{
    APFSFileNode node;
    node.m_u64CreationTime = 1600000000ULL * 1000000000ULL + 999999999ULL;
    EXPECT_EQ(node.GetCreationTime(), 116444736000000000ULL + 1600000000ULL * 10000000ULL);
    node.SetBelongedPartition(3);
    node.SetParentNodeID((3LL << 32) | 1);
    EXPECT_EQ(node.GetParentNodeID(), (3LL << 32) | 2);
    node.m_byFlags |= APFSFileNode::kReported;
    node.SetParentNodeID(77);
    EXPECT_EQ(node.GetParentNodeID(), (3LL << 32) | 2);
}

TEST(ApfsNode, ExtentsRebuildRunsAndStopOnceTheyCoverTheSize)
{
    APFSFileNode node;
    node.SetSize(10000);
    EXPECT_FALSE(node.AddExtent(800, 8, 512, 0));
    EXPECT_TRUE(node.AddExtent(1600, 16, 512, 4096));
    ASSERT_NE(node.GetDataRunList(), nullptr);
    DataRun* run = node.GetDataRunList()->GetFirst();
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->llStart, 800);
    EXPECT_EQ(run->llLength, 8);
    // Covered: a further extent is ignored.
    EXPECT_FALSE(node.AddExtent(9000, 8, 512, 12288));
    EXPECT_EQ(node.m_mapExtents.size(), 2u);
    EXPECT_EQ(node.GetFileSize(), 10000);
    // Extents beyond the size rounded up to whole blocks grow the size.
    APFSFileNode grown;
    grown.AddExtent(100, 24, 512, 0);
    grown.SetSize(5000);
    EXPECT_FALSE(grown.AddExtent(200, 8, 512, 12288));
    EXPECT_EQ(grown.GetFileSize(), 12288);
    EXPECT_EQ(grown.m_mapExtents.size(), 1u);

    // An extent at offset 0 starts the list again.
    APFSFileNode other;
    other.AddExtent(100, 8, 512, 0);
    other.AddExtent(200, 8, 512, 4096);
    other.AddExtent(300, 4, 512, 0);
    ASSERT_EQ(other.m_mapExtents.size(), 1u);
    EXPECT_EQ(other.m_mapExtents.begin()->second.llStart, 300);
    // Same start, smaller count shortens it; a different start is ignored.
    other.AddExtent(300, 2, 512, 0);
    other.AddExtent(301, 1, 512, 0);
    EXPECT_EQ(other.m_mapExtents.size(), 0u + 1u);
}

TEST(ApfsNode, SameNamedFoldersUnderOneParentMerge)
{
    APFSFileNode parent, first, second, file;
    parent.SetNodeID(10);
    for (APFSFileNode* folder : {&first, &second}) {
        folder->SetKind(true);
        const std::string raw = Name("Photos");
        folder->SetName(raw.data(), static_cast<int>(raw.size()));
    }
    first.SetNodeID(20);
    second.SetNodeID(21);
    APFSFileNode::AttachToParent(&parent, &first);
    APFSFileNode::AttachToParent(&parent, &second);
    EXPECT_EQ(parent.m_pApfsFirstChild, &first);
    EXPECT_EQ(second.m_pMergedInto, &first);
    EXPECT_FALSE(second.IsReportable(true));
    // A child of the merged folder lands in the one that stays.
    file.SetKind(false);
    APFSFileNode::AttachToParent(&second, &file);
    EXPECT_EQ(file.GetParentNodeID(), 20);
    EXPECT_EQ(first.m_pApfsFirstChild, &file);
    // A node is never its own parent.
    APFSFileNode::AttachToParent(&first, &first);
    EXPECT_EQ(first.m_pApfsParent, &parent);
    EXPECT_EQ(first.m_pApfsFirstChild, &file);
}

TEST(ApfsNode, ReportableNeedsANameAParentAndForFilesACreationTime)
{
    APFSFileNode file;
    file.SetKind(false);
    const std::string raw = Name("a.txt");
    file.SetName(raw.data(), static_cast<int>(raw.size()));
    file.SetBelongedPartition(1);
    EXPECT_FALSE(file.IsReportable(true));  // no creation time, not even at the end
    file.m_u64CreationTime = 1;
    EXPECT_FALSE(file.IsReportable(false));  // no parent yet
    EXPECT_TRUE(file.IsReportable(true));    // the final pass files it as lost
    EXPECT_EQ(file.GetParentNodeID(), (1LL << 32) | 3);

    APFSFileNode folder;
    folder.SetKind(true);
    EXPECT_FALSE(folder.IsReportable(true));  // no name
    folder.SetName(raw.data(), static_cast<int>(raw.size()));
    folder.SetParentNodeID(2);
    EXPECT_TRUE(folder.IsReportable(false));
    folder.m_byFlags |= APFSFileNode::kReported;
    EXPECT_FALSE(folder.IsReportable(true));
}
