// The HFS+ quick scan end to end through vantrel-cli: the recogniser picks
// the volume, the listing matches the fixture, recovered files match their
// sources, deleted files come back from the journal, and the image is never
// changed.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "HfsTestSupport.h"
#include "IStorageDevice.h"
#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

void RunCli(const TempDir& dir, const std::string& image, const std::string& args)
{
    const std::string before = FileDigest(image);
    RunTool("(" + std::string(VANTREL_CLI) + " " + args + " > " + Quote(dir / "out.txt") + " 2> " +
            Quote(dir / "err.txt") + ")");
    EXPECT_EQ(FileDigest(image), before) << "the scan changed " << image;
}

// path to its tab-separated fields
std::map<std::string, std::vector<std::string>> Listing(const std::string& text)
{
    std::map<std::string, std::vector<std::string>> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, '\t'))
            fields.push_back(field);
        if (fields.size() == 7)
            out[fields[1]] = fields;
    }
    return out;
}

// NFD form of the fixture's one non-ASCII name.
std::string Stored(const std::string& path)
{
    return path.rfind("\xC3\x9C", 0) == 0 ? "U\xCC\x88ni\xCC\x88" "co\xCC\x88" "de\xCC\x81 \xF0\x9F\x98\x80.txt" : path;
}

// Every fixture file recovered below out (the tree's root is where a.txt
// landed) with its bytes.
void ExpectRecoveredFixture(const std::string& out)
{
    const std::string roots = RunTool("cd " + Quote(out) + " && find . -name a.txt");
    ASSERT_FALSE(roots.empty()) << "nothing recovered to " << out;
    const std::string root = out + "/" + roots.substr(0, roots.rfind("/a.txt"));
    for (const auto& [path, content] : HfsFixtureFiles())
        EXPECT_EQ(ReadFileBytes(root + "/" + Stored(path)), content) << path;
}

// Every fixture file in a deep scan's listing, live, with its size, and
// a.txt with the modification time the fixture set.
void ExpectListedFixture(const std::string& listed, const std::string& context)
{
    const auto listing = Listing(listed);
    for (const auto& [path, content] : HfsFixtureFiles()) {
        auto it = listing.find("/" + Stored(path));
        ASSERT_NE(it, listing.end()) << context << " " << path << "\n" << listed;
        EXPECT_EQ(it->second[0], "31");
        EXPECT_EQ(it->second[2], std::to_string(content.size())) << path;
        EXPECT_EQ(it->second[3], "0") << path;
    }
    EXPECT_EQ(listing.at("/a.txt")[6], "2021-03-04T05:06:08Z");
}

}  // namespace

TEST(hfs_cli, ListAndRecoverQuickScan)
{
    const HfsFixture& f = SharedHfsFixture();
    TempDir dir;
    RunCli(dir, f.image, "scan --quick --offset " + std::to_string(f.volumeStart) + " " + Quote(f.image) + " --list");
    const auto listing = Listing(ReadFileBytes(dir / "out.txt"));
    for (const auto& [path, content] : HfsFixtureFiles()) {
        auto it = listing.find("/" + Stored(path));
        ASSERT_NE(it, listing.end()) << path << "\n" << ReadFileBytes(dir / "out.txt");
        EXPECT_EQ(it->second[0], "31");
        EXPECT_EQ(it->second[2], std::to_string(content.size())) << path;
        EXPECT_EQ(it->second[3], "0") << path;
        EXPECT_EQ(it->second[4], "0") << path;
    }
    for (const std::string& folder : HfsFixtureFolders())
        EXPECT_EQ(listing.at("/" + folder)[4], "1") << folder;
    EXPECT_EQ(listing.at("/a.txt")[6], "2021-03-04T05:06:08Z");

    TempDir out;
    RunCli(dir, f.image,
           "scan --quick --offset " + std::to_string(f.volumeStart) + " " + Quote(f.image) + " --recover " +
               Quote(out.path()));
    ExpectRecoveredFixture(out.path());
}

TEST(hfs_cli, DeletedFilesFromTheJournal)
{
    TempDir dir;
    const HfsFixture base = MakeHfsFixture(dir.path());
    const std::set<std::string> expected = AddJournalOfOldLeaf(base);
    RunCli(dir, base.image,
           "scan --quick --offset " + std::to_string(base.volumeStart) + " " + Quote(base.image) + " --list");
    std::set<std::string> deleted;
    for (const auto& [path, fields] : Listing(ReadFileBytes(dir / "out.txt")))
        if (fields[3] == "1")
            deleted.insert(path);
    std::set<std::string> wanted;
    for (const std::string& name : expected)
        wanted.insert("/many/" + name);
    EXPECT_EQ(deleted, wanted);

    TempDir out;
    RunCli(dir, base.image,
           "scan --quick --offset " + std::to_string(base.volumeStart) + " " + Quote(base.image) +
               " --deleted-only --recover " + Quote(out.path()));
    const auto files = HfsFixtureFiles();
    for (const std::string& name : expected) {
        const std::string found = RunTool("cd " + Quote(out.path()) + " && find . -name " + Quote(name));
        ASSERT_FALSE(found.empty()) << name;
        EXPECT_EQ(ReadFileBytes(out.path() + "/" + found.substr(0, found.size() - 1)), files.at("many/" + name)) << name;
    }
}

// A deep scan of a GPT disk whose volume lost its header: the files are
// listed and recovered through the volume the alternate header describes.
TEST(hfs_cli, DeepScanRecoversAVolumeWithoutItsHeader)
{
    const HfsFixture& f = SharedHfsFixture();
    TempDir dir;
    const std::string disk = dir / "disk.img";
    constexpr long long kStart = 40;
    MakeGptDiskOfVolumes(f, disk, {kStart});
    const std::vector<uint8_t> zero(512, 0);
    WriteAt(disk, (kStart + 2) * 512, zero.data(), zero.size());

    for (const char* mode : {"--deep", "--deep-disk"}) {
        RunCli(dir, disk, std::string("scan ") + mode + " " + Quote(disk) + " --list");
        ExpectListedFixture(ReadFileBytes(dir / "out.txt"), mode);
    }

    TempDir out;
    RunCli(dir, disk, "scan --deep " + Quote(disk) + " --recover " + Quote(out.path()));
    ExpectRecoveredFixture(out.path());
}

// Allocation blocks of 2048 bytes on a device of 4096-byte sectors: a block
// can start in the middle of a sector, and both scans still recover every
// file with its bytes.
TEST(hfs_cli, BlocksSmallerThanSectorsAreRecovered)
{
    const HfsFixture& f = SharedHfsFixture();
    ASSERT_LT(ReadGeometry(f).blockSize, 4096u);
    TempDir dir;
    const std::string image = dir / "volume4k.img";
    RunTool("dd if=" + Quote(f.image) + " of=" + Quote(image) + " bs=512 skip=" + std::to_string(f.volumeStart) +
            " count=" + std::to_string(f.volumeSectors) + " status=none");
    RunTool("truncate -s " + std::to_string((f.volumeSectors * 512 + 4095) / 4096 * 4096) + " " + Quote(image));

    for (const char* mode : {"--quick --offset 0", "--deep"}) {
        SCOPED_TRACE(mode);
        TempDir out;
        RunCli(dir, image,
               std::string("scan ") + mode + " --sector-size 4096 " + Quote(image) + " --recover " + Quote(out.path()));
        ExpectRecoveredFixture(out.path());
    }
}

// A whole-disk deep scan of a disk whose only volume has no journal and
// starts at sector 2048, behind an MBR or a GPT: its header is all that says
// where it starts, and every file is listed and recovered with its bytes.
TEST(hfs_cli, DeepDiskScanOfAVolumeWithoutJournalAtSector2048)
{
    const HfsFixture& f = SharedHfsFixture();
    for (const char* label : {"dos", "gpt"}) {
        SCOPED_TRACE(label);
        TempDir dir;
        const std::string disk = dir / "disk.img";
        MakeDiskOfOneVolume(f, disk, label, 2048 * 512);

        RunCli(dir, disk, "scan --deep-disk " + Quote(disk) + " --list");
        ExpectListedFixture(ReadFileBytes(dir / "out.txt"), label);

        TempDir out;
        RunCli(dir, disk, "scan --deep-disk " + Quote(disk) + " --recover " + Quote(out.path()));
        ExpectRecoveredFixture(out.path());
    }
}
