// Destination paths of recovered files: per-root folders, one safe component
// per ancestor, free names, and nothing created outside the destination.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "BridgeUtil.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

// A tree root named like the builder names them, with a folder and files.
struct Tree {
    explicit Tree(const char* volume = "CARD", _tagSearcherType type = SEARCHER_FAT)
        : root("tree", volume, type, 0), dcim("DCIM", 2, true)
    {
        root.AddChild(&dcim);
    }
    ~Tree()
    {
        for (auto& f : files)
            dcim.RemoveChild(f.get());
        root.RemoveChild(&dcim);
    }
    TestNode* File(const std::string& name)
    {
        files.push_back(std::make_unique<TestNode>(name, 100 + static_cast<long long>(files.size())));
        dcim.AddChild(files.back().get());
        return files.back().get();
    }
    CFilesystemNode root;
    TestNode dcim;
    std::vector<std::unique_ptr<TestNode>> files;
};

class recovery_path : public ::testing::Test {
protected:
    std::string Build(IFileNode* node, CCreateDirIndexMap& index)
    {
        char* p = CreateRecoveryFilePathByNode(node, dest.c_str(), &index);
        if (!p)
            return "(null)";
        std::string s(p);
        free(p);
        return s.substr(0, dest.size()) == dest ? s.substr(dest.size()) : s;
    }
    TempDir dir;
    std::string dest = dir.path() + "/DEST/";
};

TEST_F(recovery_path, FoldersPerRootAndFreeNames)
{
    Tree tree;
    TestNode* a = tree.File("a.jpg");
    CCreateDirIndexMap first;
    EXPECT_EQ(Build(a, first), "Fat_0001/CARD/DCIM/a.jpg");
    EXPECT_TRUE(fs::is_regular_file(dest + "Fat_0001/CARD/DCIM/a.jpg"));
    // The same run keeps its folder; a taken name gets the next number.
    fs::path dcim = dest + "Fat_0001/CARD/DCIM";
    std::ofstream(dcim / "a_0001.jpg") << "x";
    EXPECT_EQ(Build(a, first), "Fat_0001/CARD/DCIM/a_0002.jpg");
    TestNode* readme = tree.File("README");
    EXPECT_EQ(Build(readme, first), "Fat_0001/CARD/DCIM/README");
    EXPECT_EQ(Build(readme, first), "Fat_0001/CARD/DCIM/README_0001");
    // A second run makes the next folder.
    CCreateDirIndexMap second;
    EXPECT_EQ(Build(a, second), "Fat_0002/CARD/DCIM/a.jpg");
}

TEST_F(recovery_path, TypesWithoutPrefixShareTheNumbers)
{
    CCreateDirIndexMap index;
    const std::pair<_tagSearcherType, const char*> cases[] = {
        {SEARCHER_NTFS, "0001"}, {SEARCHER_LABEL_RAW, "0002"}, {SEARCHER_APFS, "0003"},
        {SEARCHER_HFSPLUS, "HFS+_0001"}, {SEARCHER_EXFAT, "ExFat_0001"}, {SEARCHER_RAW, "RAW_0001"}};
    for (auto [type, folder] : cases) {
        Tree tree("CARD", type);
        EXPECT_EQ(Build(tree.File("a.jpg"), index), std::string(folder) + "/CARD/DCIM/a.jpg");
    }
}

TEST_F(recovery_path, NamesFromTheDiskStayOneComponent)
{
    const std::pair<std::string, std::string> cases[] = {
        {"x/../../../escape.txt", "x_.._.._.._escape.txt"},
        {"a/b.txt", "a_b.txt"},
        {"", "_"},
        {".", "_."},
        {"..", "_.."},
        {"../../etc", "_.._.._etc"},
        {"plain.jpg", "plain.jpg"},
        // Control characters never reach a file name.
        {"bell\x07.txt", "bell_.txt"},
        {"line\nbreak\r.txt", "line_break_.txt"},
        {"\x1b[31mred\x1b[0m.txt", "_[31mred_[0m.txt"},
        {"tab\there\x01\x1f\x7f.txt", "tab_here___.txt"},
        {"\x01.hidden", "_.hidden"},
    };
    for (const auto& [raw, safe] : cases)
        EXPECT_EQ(MakeSafePathComponent(raw), safe) << raw;

    std::string e200;
    for (int i = 0; i < 200; ++i)
        e200 += "\xC3\xA9";
    std::string longName = MakeSafePathComponent(e200 + ".txt");
    EXPECT_LE(longName.size() + 5, 255u);
    EXPECT_EQ(longName.substr(longName.size() - 4), ".txt");
    EXPECT_TRUE(isValidString(longName.c_str()));
    EXPECT_EQ(longName.substr(0, longName.size() - 4).size() % 2, 0u);

    // A hostile volume name.
    Tree tree("../../etc");
    CCreateDirIndexMap index;
    EXPECT_EQ(Build(tree.File("a.jpg"), index), "Fat_0001/_.._.._etc/DCIM/a.jpg");
    // A file and volume whose names carry escape sequences and newlines.
    Tree coloured("\x1b]0;title\x07\nCARD");
    EXPECT_EQ(Build(coloured.File("\x1b[2Jx\n.jpg"), index), "Fat_0001/_]0;title__CARD/DCIM/_[2Jx_.jpg");
    // A name of 400 bytes still makes a file, twice.
    TestNode* big = tree.File(e200 + ".txt");
    std::string p1 = Build(big, index), p2 = Build(big, index);
    EXPECT_NE(p1, "(null)");
    EXPECT_NE(p2, "(null)");
    EXPECT_NE(p1, p2);
}

TEST_F(recovery_path, LinksBelowTheDestinationAreNeverFollowed)
{
    fs::create_directories(dest);
    fs::path outside = dir.path() + "/outside";
    fs::create_directories(outside);
    // A link where the first root folder would go: the next number is used.
    fs::create_directory_symlink(outside, dest + "Fat_0001");
    Tree tree;
    CCreateDirIndexMap index;
    EXPECT_EQ(Build(tree.File("a.jpg"), index), "Fat_0002/CARD/DCIM/a.jpg");

    // A link in place of a folder below it: no path, nothing outside.
    fs::remove_all(dest + "Fat_0002/CARD/DCIM");
    fs::create_directory_symlink(outside, dest + "Fat_0002/CARD/DCIM");
    EXPECT_EQ(Build(tree.File("b.jpg"), index), "(null)");
    EXPECT_TRUE(fs::is_empty(outside));
}

TEST_F(recovery_path, RefusedNodes)
{
    CCreateDirIndexMap index;
    Tree tree;
    TestNode* a = tree.File("a.jpg");
    // A folder node makes its folders and gives no path.
    EXPECT_EQ(Build(&tree.dcim, index), "(null)");
    EXPECT_TRUE(fs::is_directory(dest + "Fat_0001/CARD/DCIM"));
    EXPECT_TRUE(fs::is_empty(dest + "Fat_0001/CARD/DCIM"));
    // Hidden nodes are not recovered.
    a->ShowNode(0);
    EXPECT_EQ(Build(a, index), "(null)");
    EXPECT_EQ(Build(nullptr, index), "(null)");

    // A chain of 1,025 folders below the root: no tree is found.
    CFilesystemNode root("tree", "CARD", SEARCHER_FAT, 0);
    std::vector<std::unique_ptr<TestNode>> chain;
    CFileNode* parent = &root;
    for (int i = 0; i < 1025; ++i) {
        chain.push_back(std::make_unique<TestNode>("d", 10 + i, i < 1024));
        parent->AddChild(chain.back().get());
        parent = chain.back().get();
    }
    EXPECT_EQ(ZRCPPPublic::instance().GetNodeSearcheType(chain.back().get()), SEARCHER_NONE);
    EXPECT_EQ(ZRCPPPublic::instance().GetNodeSearcheType(chain[chain.size() - 2].get()), SEARCHER_FAT);
    EXPECT_EQ(Build(chain.back().get(), index), "(null)");
    for (size_t i = chain.size(); i-- > 0;) {
        CFileNode* up = i == 0 ? static_cast<CFileNode*>(&root) : chain[i - 1].get();
        up->RemoveChild(chain[i].get());
    }
}

}  // namespace
