// End to end: a deep scan of a whole disk that holds two volumes of one file
// system, made by the real tools with the same folder layout, so that their
// folders carry the same node ids. Every file of each volume must come back
// in its own folder with its own bytes, none among the lost files, and the
// image must stay as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

const std::string kScript = std::string(VANTREL_SOURCE_DIR) + "/tests/DirectoryTreeBuilder/make_two_volumes.sh";

// Runs vantrel-cli in dir; its standard output.
std::string Cli(const TempDir& dir, const std::string& args)
{
    RunTool("(" + std::string(VANTREL_CLI) + " " + args + " > " + Quote(dir / "stdout") + " 2> " +
            Quote(dir / "stderr") + ")");
    return ReadFileBytes(dir / "stdout");
}

// Path below the root to bytes, of every file below folder.
std::map<std::string, std::string> FilesBelow(const std::string& folder)
{
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            out[fs::relative(entry.path(), folder).string()] = ReadFileBytes(entry.path().string());
    return out;
}

std::vector<std::string> FoldersBelow(const std::string& folder)
{
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_directory())
            out.push_back(fs::relative(entry.path(), folder).string());
    return out;
}

// The lines of one searcher type as "path<TAB>size<TAB>deleted<TAB>folder".
std::multiset<std::string> ListedLines(const std::string& listing, const std::string& type)
{
    std::multiset<std::string> out;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            f.push_back(field);
        if (f.size() >= 5 && f[0] == type)
            out.insert(f[1] + "\t" + f[2] + "\t" + f[3] + "\t" + f[4]);
    }
    return out;
}

void ExpectBothVolumesInTheirFolders(const std::string& kind, const std::string& image, const std::string& type)
{
    TempDir fixtures;
    RunTool("bash " + Quote(kScript) + " " + Quote(fixtures.path()) + " " + kind);
    const std::string disk = fixtures / image;
    if (!fs::exists(disk))
        GTEST_SKIP() << "the tools for " << kind << " images are missing here";
    const std::map<std::string, std::string> src[2] = {FilesBelow(fixtures / "src1"), FilesBelow(fixtures / "src2")};
    ASSERT_EQ(src[0].size(), 5u);
    const std::string before = FileDigest(disk);

    // The listing: every folder twice, every file once per volume, each
    // with its own volume's size, below its own folder.
    TempDir dir;
    std::multiset<std::string> expected;
    for (const std::string& folder : FoldersBelow(fixtures / "src1"))
        for (int v = 0; v < 2; ++v)
            expected.insert("/" + folder + "\t0\t0\t1");
    for (const auto& volume : src)
        for (const auto& [path, bytes] : volume)
            expected.insert("/" + path + "\t" + std::to_string(bytes.size()) + "\t0\t0");
    const std::string listing = Cli(dir, "scan --deep-disk " + Quote(disk) + " --list");
    EXPECT_EQ(ListedLines(listing, type), expected) << listing;
    EXPECT_EQ(listing.find("Other lost files"), std::string::npos) << listing;
    EXPECT_EQ(FileDigest(disk), before);

    // Recovery: every file of both volumes comes back once, with its bytes,
    // in its own folder below the tree's output folder (two levels down),
    // under its own name (the second of two equal names gets a counter).
    Cli(dir, "scan --deep-disk " + Quote(disk) + " --recover " + Quote(dir / "out"));
    EXPECT_EQ(FileDigest(disk), before);
    std::map<std::string, std::string> sourceOf;  // bytes to "volume:path"
    for (int v = 0; v < 2; ++v)
        for (const auto& [path, bytes] : src[v])
            sourceOf[bytes] = std::to_string(v + 1) + ":" + path;
    ASSERT_EQ(sourceOf.size(), 10u) << "the fixture's files must differ";
    std::set<std::string> found;
    for (const auto& [rel, bytes] : FilesBelow(dir / "out")) {
        SCOPED_TRACE(rel);
        fs::path below;
        int skip = 0;
        for (const auto& piece : fs::path(rel))
            if (skip++ >= 2)
                below /= piece;
        const auto it = sourceOf.find(bytes);
        if (it == sourceOf.end()) {
            ADD_FAILURE() << "recovered bytes of no file of the fixture";
            continue;
        }
        EXPECT_TRUE(found.insert(it->second).second) << "recovered twice";
        const fs::path source = it->second.substr(2);
        EXPECT_EQ(below.parent_path(), source.parent_path()) << "not in its own folder";
        EXPECT_EQ(below.filename().string().rfind(source.stem().string(), 0), 0u) << "not under its own name";
        EXPECT_EQ(below.extension(), source.extension());
    }
    EXPECT_EQ(found.size(), 10u);
}

}  // namespace

TEST(tree_builder_two_volumes_cli, NtfsRecordNumbersRepeat)
{
    ExpectBothVolumesInTheirFolders("ntfs", "ntfs-two.img", "35");
}

TEST(tree_builder_two_volumes_cli, HfsPlusCatalogIdsRepeat)
{
    ExpectBothVolumesInTheirFolders("hfs", "hfs-two.img", "31");
}
