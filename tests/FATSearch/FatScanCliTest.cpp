// End to end: quick scans of FAT volumes through vantrel-cli, listing and
// recovering, with the scanned image checked unchanged after every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>

#include "CommandStatus.h"
#include "FATRawAnalysers.h"
#include "FatSearchTestSupport.h"
#include "RawAnalyserTable.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

struct CliRun {
    int status = -1;
    std::string out;   // standard output
    std::string text;  // standard error
};

// Runs vantrel-cli with args; the image must be the same afterwards.
CliRun RunCli(const std::string& args, const std::string& image)
{
    TempDir tmp;
    const std::string digest = FileDigest(image);
    CliRun run;
    // Standard output to a file; standard error (joined by the helper) is
    // the text.
    run.status =
        RunCommandStatus("(" + std::string(VANTREL_CLI) + " " + args + " > " + Quote(tmp / "stdout") + ")", run.text);
    run.out = ReadFileBytes(tmp / "stdout");
    EXPECT_EQ(FileDigest(image), digest) << "the scan changed " << image;
    return run;
}

struct ListedNode {
    std::string tree;
    long long size;
    bool deleted;
    bool directory;
    std::string created, modified;
};

// --list lines by path below the tree root.
std::map<std::string, ListedNode> ParseListing(const std::string& out)
{
    std::map<std::string, ListedNode> nodes;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            f.push_back(field);
        while (f.size() < 7)
            f.emplace_back();
        std::string path = f[1];
        if (!path.empty() && path[0] == '/')
            path.erase(0, 1);
        EXPECT_TRUE(nodes.emplace(path, ListedNode{f[0], std::stoll(f[2]), f[3] == "1", f[4] == "1", f[5], f[6]})
                        .second)
            << "listed twice: " << path;
    }
    return nodes;
}

void ExpectListing(const std::string& out, int subFiles)
{
    const auto listed = ParseListing(out);
    const auto expected = ExpectedWalkTree(subFiles);
    std::vector<std::string> got, want;
    for (const auto& [path, node] : listed)
        got.push_back(path);
    for (const auto& [path, node] : expected)
        want.push_back(path);
    ASSERT_EQ(got, want);
    for (const auto& [path, want] : expected) {
        SCOPED_TRACE(path);
        const ListedNode& node = listed.at(path);
        EXPECT_EQ(node.tree, "32");
        EXPECT_EQ(node.size, want.size);
        EXPECT_EQ(node.deleted, want.deleted);
        EXPECT_EQ(node.directory, want.directory);
        if (!want.directory) {
            EXPECT_EQ(node.created, "2021-03-04T05:06:08Z");
            EXPECT_EQ(node.modified, "2021-03-04T05:06:08Z");
        }
    }
}

// Files written below out/Fat_NNNN/VOLUME/, by their path below that.
std::map<std::string, std::string> RecoveredFiles(const std::string& out)
{
    std::map<std::string, std::string> files;
    if (!fs::exists(out))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (!entry.is_regular_file())
            continue;
        fs::path rel = fs::relative(entry.path(), out);
        auto it = rel.begin();
        fs::path below;
        for (int skip = 0; it != rel.end(); ++it, ++skip)
            if (skip >= 2)
                below /= *it;
        files[below.string()] = entry.path().string();
    }
    return files;
}

// Every file of the walk tree recovered byte for byte (only the deleted ones
// when deletedOnly).
void ExpectRecovered(const std::string& out, int subFiles, bool deletedOnly)
{
    const auto files = RecoveredFiles(out);
    std::set<std::string> got, want;
    for (const auto& [path, file] : files)
        got.insert(path);
    for (const auto& [path, node] : ExpectedWalkTree(subFiles))
        if (!node.directory && (!deletedOnly || node.deleted))
            want.insert(path);
    ASSERT_EQ(got, want);
    for (const std::string& path : want) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(ReadFileBytes(files.at(path)) == ReadFileBytes(SourceFile(path)))
            << "differs from " << SourceFile(path);
    }
}

}  // namespace

TEST(fat_cli, ListVolumesOfAPartitionedDisk)
{
    const std::string disk = FatImagePath("fat-disk.img");
    const std::pair<int, int> volumes[] = {{2, 4}, {1, 6}};
    for (const auto& [volume, subFiles] : volumes) {
        SCOPED_TRACE(volume);
        CliRun run = RunCli("scan --quick --volume " + std::to_string(volume) + " " + Quote(disk) + " --list", disk);
        ASSERT_EQ(run.status, 0) << run.text;
        ExpectListing(run.out, subFiles);
    }
}

TEST(fat_cli, RecoverVolumesAndFourKiBSectors)
{
    struct Case {
        const char* what;
        std::string args;
        std::string image;
        int subFiles;
        bool deletedOnly;
    };
    const std::string disk = FatImagePath("fat-disk.img");
    const Case cases[] = {
        {"FAT32 volume", "scan --quick --volume 2 " + Quote(disk), disk, 4, false},
        {"FAT16 volume", "scan --quick --volume 1 " + Quote(disk), disk, 6, false},
        {"deleted only", "scan --quick --volume 2 --deleted-only " + Quote(disk), disk, 4, true},
        {"4 KiB sectors", "scan --quick --offset 0 --sector-size 4096 " + Quote(FatImagePath("fat32-4k.img")),
         FatImagePath("fat32-4k.img"), 6, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir out;
        CliRun run = RunCli(c.args + " --recover " + Quote(out / "out"), c.image);
        ASSERT_EQ(run.status, 0) << run.text;
        ExpectRecovered(out / "out", c.subFiles, c.deletedOnly);
    }
}

TEST(fat_cli, RecoverErasedFat32Files)
{
    const std::string image = FatImagePath("fat32-win.img");
    TempDir out;
    CliRun run = RunCli("scan --quick --offset 0 " + Quote(image) + " --recover " + Quote(out / "out"), image);
    ASSERT_EQ(run.status, 0) << run.text;
    const auto files = RecoveredFiles(out / "out");
    std::vector<std::pair<std::string, std::string>> want = {
        {"photos/photo one.jpg", "photo one.jpg"}, {"photos/photo two.png", "photo two.png"},
        {"old stuff/letter A.pdf", "letter A.pdf"}, {"old stuff/letter B.pdf", "letter B.pdf"},
        {"root picture.jpg", "root picture.jpg"},
    };
    // The docs files are found only by their formats' signatures: checked
    // once the registry knows JPEG, PNG and PDF.
    const CFATRawAnalyserSet registry = GetFATRawAnalysers();
    if (registry.map.count(Key4(0xFF, 0xD8, 0xFF, 0xE0)) && registry.map.count(Key4(0x89, 'P', 'N', 'G')) &&
        registry.map.count(Key4('%', 'P', 'D', 'F'))) {
        want.insert(want.end(), {{"docs/doc picture.jpg", "doc picture.jpg"},
                                 {"docs/doc image.png", "doc image.png"},
                                 {"docs/doc paper.pdf", "doc paper.pdf"}});
    }
    for (const auto& [path, source] : want) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(files.count(path));
        EXPECT_TRUE(ReadFileBytes(files.at(path)) == ReadFileBytes(FatImagePath("win/" + source)))
            << "differs from " << source;
    }
}

// An image cut inside the file whose data lies last: that file is listed at
// its size, recovered as far as the image goes and reported incomplete with
// the reason; every other file comes back whole.
TEST(fat_cli, ACutImageRecoversItsLastFileIncomplete)
{
    const std::string image = FatImagePath("fat32.img");
    // The file whose data reaches furthest, and its sectors in file order.
    std::string last;
    std::vector<long long> lastSectors;
    for (const auto& [path, inode] : FlsInodes(image)) {
        const std::string name = path.substr(path.rfind('/') + 1);
        const auto want = ExpectedWalkTree(4);
        auto it = std::find_if(want.begin(), want.end(), [&](const auto& e) { return Lower(e.first) == Lower(path); });
        if (it == want.end() || it->second.directory || it->second.deleted || it->second.size == 0)
            continue;
        const std::vector<long long> sectors = IstatSectors(image, inode);
        if (!sectors.empty() && (lastSectors.empty() || sectors.back() > lastSectors.back())) {
            last = it->first;
            lastSectors = sectors;
        }
    }
    ASSERT_FALSE(last.empty());
    ASSERT_GE(lastSectors.size(), 2u) << last;
    // Cut before the file's last sector but one.
    const long long cut = lastSectors[lastSectors.size() - 2];
    const long long held = std::find_if(lastSectors.begin(), lastSectors.end(), [&](long long s) { return s >= cut; }) -
                           lastSectors.begin();
    TempDir dir;
    const std::string copy = dir / "cut.img";
    CopyImage(image, copy);
    fs::resize_file(copy, static_cast<uintmax_t>(cut) * 512);

    CliRun run = RunCli("scan --quick --offset 0 " + Quote(copy) + " --recover " + Quote(dir / "out"), copy);
    EXPECT_EQ(run.status, 1) << run.text;
    const std::string base = last.substr(last.rfind('/') + 1);
    EXPECT_NE(run.text.find(base + ": incomplete, " + std::to_string(held * 512) + " of "), std::string::npos)
        << run.text;
    EXPECT_NE(run.text.find(" incomplete: "), std::string::npos) << run.text;
    EXPECT_NE(run.text.find("larger than what holds it"), std::string::npos) << run.text;
    EXPECT_EQ(run.text.find("File exists"), std::string::npos) << run.text;
    const auto files = RecoveredFiles(dir / "out");
    const std::string source = ReadFileBytes(SourceFile(last));
    for (const auto& [path, node] : ExpectedWalkTree(4)) {
        if (node.directory || node.deleted)
            continue;
        SCOPED_TRACE(path);
        ASSERT_TRUE(files.count(path));
        const std::string got = ReadFileBytes(files.at(path));
        if (path == last)
            EXPECT_TRUE(got == source.substr(0, static_cast<size_t>(held) * 512)) << got.size();
        else
            EXPECT_TRUE(got == ReadFileBytes(SourceFile(path)));
    }
}

TEST(fat_cli, BackupBootSectorWhenTheReservedCountIsWrong)
{
    TempDir dir;
    const std::string copy = dir / "r.img";
    CopyImage(FatImagePath("fat32.img"), copy);
    RunTool("printf '\\041' | dd of=" + Quote(copy) + " bs=1 seek=14 conv=notrunc status=none");
    CliRun list = RunCli("scan --quick --offset 0 " + Quote(copy) + " --list", copy);
    ASSERT_EQ(list.status, 0) << list.text;
    ExpectListing(list.out, 4);
    CliRun recover = RunCli("scan --quick --offset 0 " + Quote(copy) + " --recover " + Quote(dir / "out"), copy);
    ASSERT_EQ(recover.status, 0) << recover.text;
    ExpectRecovered(dir / "out", 4, false);
}

TEST(fat_cli, Fat12AndOtherVolumesAreUnsupported)
{
    const std::string fat12 = FatImagePath("fat12.img");
    const std::string disk = FatImagePath("fat-disk.img");
    const std::pair<std::string, std::string> cases[] = {
        {"scan --quick --offset 0 " + Quote(fat12) + " --list", fat12},
        {"scan --quick --volume 3 " + Quote(disk) + " --list", disk},
    };
    for (const auto& [args, image] : cases) {
        SCOPED_TRACE(args);
        CliRun run = RunCli(args, image);
        EXPECT_NE(run.status, 0);
        EXPECT_NE(Lower(run.text).find("unsupported"), std::string::npos) << run.text;
        EXPECT_EQ(run.out, "");
    }
}
