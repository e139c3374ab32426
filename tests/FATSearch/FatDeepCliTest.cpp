// End to end: deep scans of FAT disks and volumes through vantrel-cli,
// listing and recovering, each run checked to leave its image unchanged.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>

#include "CommandStatus.h"
#include "FatDeepSupport.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs vantrel-cli; standard output is returned, and the run must exit 0
// and leave the image as it was.
std::string Cli(const std::string& args, const std::string& image)
{
    TempDir tmp;
    const std::string digest = FileDigest(image);
    std::string text;
    const int status =
        RunCommandStatus("(" + std::string(VANTREL_CLI) + " " + args + " > " + Quote(tmp / "stdout") + ")", text);
    EXPECT_EQ(status, 0) << args << "\n" << text;
    EXPECT_EQ(FileDigest(image), digest) << "the scan changed " << image;
    return ReadFileBytes(tmp / "stdout");
}

// The tree-32 lines of a listing as "path size deleted is_dir", path below
// the tree root.
std::multiset<std::string> FatLines(const std::string& listing)
{
    std::multiset<std::string> out;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            f.push_back(field);
        if (f.size() < 5 || f[0] != "32")
            continue;
        out.insert(f[1] + "\t" + f[2] + "\t" + f[3] + "\t" + f[4]);
    }
    return out;
}

// The name without the "_NNNN" the writer puts before the extension of a
// repeated name.
std::string WithoutCounter(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        dot = path.size();
    if (dot < nameStart + 5 || path[dot - 5] != '_')
        return path;
    for (size_t i = dot - 4; i < dot; ++i)
        if (!std::isdigit(static_cast<unsigned char>(path[i])))
            return path;
    return path.substr(0, dot - 5) + path.substr(dot);
}

std::string Difference(const std::multiset<std::string>& got, const std::multiset<std::string>& want)
{
    std::ostringstream out;
    for (const std::string& line : std::set<std::string>(got.begin(), got.end()))
        if (got.count(line) != want.count(line))
            out << "  " << line << ": " << got.count(line) << " listed, " << want.count(line) << " expected\n";
    for (const std::string& line : std::set<std::string>(want.begin(), want.end()))
        if (!got.count(line))
            out << "  " << line << ": missing\n";
    return out.str();
}

const std::string kLostLines[] = {"/Other lost files\t0\t0\t1", "/Other lost files/#UBFIL~5.TXT\t1500\t1\t0",
                                  "/Other lost files/sub file 5.txt\t1500\t1\t0"};

// Every recovered file (below out/Fat_NNNN/<volume>/) against its source;
// the counter "_NNNN" the writer adds to a repeated name is taken off
// first. Returns how many files were compared.
size_t ExpectRecoveredAsSources(const std::string& out)
{
    // Names the walk's own source lookup does not know.
    const std::map<std::string, std::string> renamed = {
        {"other lost files/#ubfil~5.txt", "dirA/sub/sub file 4.txt"},
        {"other lost files/sub file 5.txt", "dirA/sub/sub file 5.txt"},
        {"#mpty2.dat", "empty2.dat"},
    };
    size_t compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (!entry.is_regular_file())
            continue;
        const fs::path rel = fs::relative(entry.path(), out);
        fs::path below;
        int skip = 0;
        for (const auto& part : rel)
            if (skip++ >= 2)
                below /= part;
        const std::string path = WithoutCounter(below.string());
        SCOPED_TRACE(rel.string());
        std::string source;
        if (const auto it = renamed.find(Lower(path)); it != renamed.end())
            source = FatImagePath("src") + "/" + it->second;
        else
            source = SourceFile(path);
        if (source.empty()) {
            ADD_FAILURE() << "no source for " << path;
            continue;
        }
        EXPECT_TRUE(ReadFileBytes(entry.path().string()) == ReadFileBytes(source)) << "differs from " << source;
        ++compared;
    }
    return compared;
}

}  // namespace

// The whole disk: both FAT partitions as their quick scans show them, in
// one tree, plus the two files of the deleted SUB that only the deep scan
// finds. A FAT16 folder and a FAT32 folder of the same cluster stay apart.
TEST(fat_deep_cli, DiskListAndRecover)
{
    const std::string disk = FatImagePath("fat-disk.img");
    std::multiset<std::string> expected;
    for (const char* offset : {"2048", "133120"}) {
        const std::multiset<std::string> quick =
            FatLines(Cli("scan --quick --offset " + std::string(offset) + " " + Quote(disk) + " --list", disk));
        EXPECT_EQ(quick.size(), std::string(offset) == "2048" ? 57u : 55u);
        expected.insert(quick.begin(), quick.end());
    }
    expected.insert(std::begin(kLostLines), std::end(kLostLines));
    EXPECT_EQ(expected.count("/dirA\t0\t0\t1"), 2u);
    EXPECT_EQ(expected.count("/frag\t0\t0\t1"), 2u);

    const std::pair<const char*, std::vector<std::pair<long long, long long>>> variants[] = {
        {"intact", {}}, {"no MBR", {{0, 1}}}, {"FAT32 primary boot sector zeroed", {{133120, 1}}}};
    for (const auto& [name, zeroed] : variants) {
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string image = ZeroedCopy(dir, "fat-disk.img", "v.img", zeroed);
        const std::multiset<std::string> listed = FatLines(Cli("scan --deep-disk " + Quote(image) + " --list", image));
        EXPECT_EQ(listed, expected) << Difference(listed, expected);

        Cli("scan --deep-disk " + Quote(image) + " --recover " + Quote(dir / "out"), image);
        // Every file of both volumes (folders and the lost-files folder
        // are not files): 57 + 55 lines, less 6 folders, plus 2 lost files.
        EXPECT_EQ(ExpectRecoveredAsSources(dir / "out"), 57u + 55u - 6u + 2u);
    }
}

// A FAT16 without its boot sector: rebuilt from its directories and FATs,
// the root read from the sectors before the data area.
TEST(fat_deep_cli, Fat16WithoutBootSector)
{
    const std::string intact = FatImagePath("fat16-end.img");
    const std::multiset<std::string> quick = FatLines(Cli("scan --quick --offset 2048 " + Quote(intact) + " --list", intact));
    ASSERT_EQ(quick.size(), 57u);
    ASSERT_EQ(quick.count("/#mpty2.dat\t0\t1\t0"), 1u);

    TempDir dir;
    const std::string image = ZeroedCopy(dir, "fat16-end.img", "v.img", {{2048, 1}});
    const std::multiset<std::string> listed = FatLines(Cli("scan --deep-disk " + Quote(image) + " --list", image));
    EXPECT_EQ(listed, quick) << Difference(listed, quick);
    Cli("scan --deep-disk " + Quote(image) + " --recover " + Quote(dir / "out"), image);
    EXPECT_EQ(ExpectRecoveredAsSources(dir / "out"), 57u - 3u);
}

// FAT12 volumes are not found by the deep scan.
// A FAT12 floppy inside a disk, with files in its root only: found by its
// boot sector and its FAT, and listed as fls lists it.
TEST(fat_deep_cli, Fat12DiskIsRebuiltFromItsBootSector)
{
    const std::string image = FatImagePath("fat12-disk.img");
    EXPECT_EQ(FatLines(Cli("scan --deep-disk " + Quote(image) + " --list", image)),
              (std::multiset<std::string>{"/readme.txt\t870\t0\t0", "/A\t20000\t0\t0"}));
}

// Deleted FAT32 files above cluster 0x10000 whose entries lost the high
// half: those next to their folder or neighbours come back whole.
TEST(fat_deep_cli, Fat32VolumeRecoversRebasedFiles)
{
    const std::string image = FatImagePath("fat32-win.img");
    TempDir dir;
    Cli("scan --deep --offset 0 " + Quote(image) + " --recover " + Quote(dir / "out"), image);
    std::map<std::string, std::string> files;  // path below the volume folder
    for (const auto& entry : fs::recursive_directory_iterator(dir / "out")) {
        if (!entry.is_regular_file())
            continue;
        const fs::path rel = fs::relative(entry.path(), dir / "out");
        fs::path below;
        int skip = 0;
        for (const auto& part : rel)
            if (skip++ >= 2)
                below /= part;
        files[below.string()] = entry.path().string();
    }
    // The docs files need the RAW search's map of file starts; they are not
    // asserted here.
    const std::pair<const char*, const char*> want[] = {
        {"photos/photo one.jpg", "photo one.jpg"}, {"photos/photo two.png", "photo two.png"},
        {"old stuff/letter A.pdf", "letter A.pdf"}, {"old stuff/letter B.pdf", "letter B.pdf"},
        {"root picture.jpg", "root picture.jpg"},
    };
    for (const auto& [path, source] : want) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(files.count(path));
        EXPECT_TRUE(ReadFileBytes(files.at(path)) == ReadFileBytes(FatImagePath("win") + "/" + source));
    }
}
