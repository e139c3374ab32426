// End to end through vantrel-cli: listing and recovery of an NTFS volume,
// with the image unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "NtfsTestSupport.h"
#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::map<std::string, std::vector<std::string>> ListByPath(const std::string& text)
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

// Runs the driver with its output in out (under dir unless absolute) and
// its log in dir/err.txt.
void Cli(const TempDir& dir, const std::string& args, const std::string& out)
{
    const std::string target = out[0] == '/' ? out : dir / out;
    RunTool("(" + std::string(VANTREL_CLI) + " " + args + " > " + Quote(target) + " 2> " + Quote(dir / "err.txt") + ")");
}

// File name to bytes of every file recovered below folder.
std::map<std::string, std::string> RecoveredFiles(const std::string& folder)
{
    std::map<std::string, std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            out[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return out;
}

}  // namespace

TEST(ntfs_cli, ListAndRecover)
{
    const std::string image = NtfsImagePath("ntfs-basic.img");
    const std::string before = FileDigest(image);
    TempDir dir;
    Cli(dir, "scan --quick --offset 0 " + Quote(image) + " --list", "list.txt");
    const auto listed = ListByPath(ReadFileBytes(dir / "list.txt"));
    const auto oracle = NtfsFlsTree(image);
    ASSERT_EQ(listed.size(), oracle.size()) << ReadFileBytes(dir / "list.txt");
    for (const auto& [path, e] : oracle) {
        ASSERT_TRUE(listed.count(path)) << path;
        const auto& f = listed.at(path);
        EXPECT_EQ(f[0], "35");
        EXPECT_EQ(f[3], e.deleted ? "1" : "0") << path;
        EXPECT_EQ(f[4], e.directory ? "1" : "0") << path;
    }
    ASSERT_TRUE(listed.count("/big.bin"));
    EXPECT_EQ(listed.at("/big.bin")[2], "100000");
    if (NtfsFixtureMounted()) {
        EXPECT_EQ(listed.at("/big.bin")[6], "2021-03-04T05:06:08Z");
    }

    Cli(dir, "scan --quick --offset 0 " + Quote(image) + " --recover " + Quote(dir / "out"), "/dev/null");
    const auto recovered = RecoveredFiles(dir / "out");
    for (const char* name : {"small.txt", "big.bin"}) {
        ASSERT_TRUE(recovered.count(name)) << name;
        EXPECT_TRUE(recovered.at(name) == NtfsSource(name)) << name;
    }
    if (NtfsFixtureMounted()) {
        for (const auto& [file, source] : std::map<std::string, std::string>{
                 {"frag.bin", "frag.bin"}, {"deep.bin", "deep.bin"}, {"gone.bin", "gone.bin"},
                 {"tinygone.txt", "tinygone.txt"}, {"Ünïcödé-名前.txt", "uni.txt"}}) {
            ASSERT_TRUE(recovered.count(file)) << file;
            EXPECT_TRUE(recovered.at(file) == NtfsSource(source)) << file;
        }
    }
    EXPECT_EQ(FileDigest(image), before);
}

TEST(ntfs_cli, CompressedAndSparseFiles)
{
    const std::string image = NtfsImagePath("ntfs-packed.img");
    if (!std::filesystem::exists(image))
        GTEST_SKIP() << "no ntfs-3g mount or setfattr here";
    const std::string before = FileDigest(image);
    TempDir dir;
    Cli(dir, "scan --quick --offset 0 " + Quote(image) + " --list", "list.txt");
    const auto listed = ListByPath(ReadFileBytes(dir / "list.txt"));
    ASSERT_TRUE(listed.count("/packed/comp.txt"));
    ASSERT_TRUE(listed.count("/sparse.bin"));
    EXPECT_EQ(listed.at("/packed/comp.txt")[2], std::to_string(NtfsSource("comp.txt").size()));
    EXPECT_EQ(listed.at("/sparse.bin")[2], std::to_string(NtfsSource("sparse.bin").size()));

    Cli(dir, "scan --quick --offset 0 " + Quote(image) + " --recover " + Quote(dir / "out"), "/dev/null");
    const auto recovered = RecoveredFiles(dir / "out");
    for (const char* name : {"comp.txt", "sparse.bin"}) {
        ASSERT_TRUE(recovered.count(name)) << name;
        EXPECT_TRUE(recovered.at(name) == NtfsSource(name)) << name;
    }
    EXPECT_EQ(FileDigest(image), before);
}

TEST(ntfs_cli, PartitionOfADisk)
{
    // The volume copied into partition 1 of an MBR disk at sector 2048.
    const std::string volume = NtfsImagePath("ntfs-basic.img");
    TempDir dir;
    const std::string disk = dir / "disk.img";
    RunTool("truncate -s 40M " + Quote(disk) + " && printf 'label: dos\\nstart=2048, size=49152, type=7\\n' | sfdisk " +
            Quote(disk) + " >/dev/null && dd if=" + Quote(volume) + " of=" + Quote(disk) +
            " bs=512 seek=2048 conv=notrunc status=none");
    const std::string before = FileDigest(disk);
    Cli(dir, "scan --quick --volume 1 " + Quote(disk) + " --list", "list.txt");
    const auto listed = ListByPath(ReadFileBytes(dir / "list.txt"));
    EXPECT_EQ(listed.size(), NtfsFlsTree(volume).size());
    Cli(dir, "scan --quick --volume 1 " + Quote(disk) + " --recover " + Quote(dir / "out"), "/dev/null");
    const auto recovered = RecoveredFiles(dir / "out");
    for (const char* name : {"small.txt", "big.bin"}) {
        ASSERT_TRUE(recovered.count(name)) << name;
        EXPECT_TRUE(recovered.at(name) == NtfsSource(name)) << name;
    }
    EXPECT_EQ(FileDigest(disk), before);
}

TEST(ntfs_cli, FolderLoopsEnd)
{
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "no ntfs-3g mount here";
    const std::string basic = NtfsImagePath("ntfs-basic.img");
    const auto oracle = NtfsFlsTree(basic);
    TempDir dir;
    const std::string image = dir / "loops.img";
    CopyImage(basic, image);
    // dir1 inside its own sub folder, and a folder that is its own parent.
    SetRecordParent(image, oracle.at("/dir1").inode, oracle.at("/dir1/sub").inode);
    SetRecordParent(image, oracle.at("/old folder").inode, oracle.at("/old folder").inode);
    Cli(dir, "scan --quick --offset 0 " + Quote(image) + " --list", "list.txt");
    const auto listed = ListByPath(ReadFileBytes(dir / "list.txt"));
    // Files outside the loops keep their places; the looped ones are still
    // listed somewhere below the root.
    EXPECT_TRUE(listed.count("/big.bin"));
    EXPECT_TRUE(listed.count("/many/m050.txt"));
    EXPECT_FALSE(listed.count("/dir1/inner.txt"));
    bool inner = false;
    for (const auto& [path, fields] : listed)
        inner = inner || path.find("/inner.txt") != std::string::npos;
    EXPECT_TRUE(inner);
}

// The deep scan of a whole disk finds the volume in its partition, with the
// same files as the quick scan of the volume, also when the volume's boot
// sector is gone.
TEST(ntfs_cli, DeepDiskScan)
{
    const std::string basic = NtfsImagePath("ntfs-basic.img");
    TempDir dir;
    Cli(dir, "scan --quick --offset 0 " + Quote(basic) + " --list", "quick.txt");
    const auto quick = ListByPath(ReadFileBytes(dir / "quick.txt"));
    ASSERT_FALSE(quick.empty());
    // The deep scan of the volume alone lists the same files.
    Cli(dir, "scan --deep --offset 0 " + Quote(basic) + " --list", "volume.txt");
    const auto volume = ListByPath(ReadFileBytes(dir / "volume.txt"));
    EXPECT_EQ(volume.size(), quick.size());
    for (const auto& [path, f] : quick)
        EXPECT_TRUE(volume.count(path) && volume.at(path)[2] == f[2]) << path;
    for (bool wipeBoot : {false, true}) {
        SCOPED_TRACE(wipeBoot ? "boot sector wiped" : "intact");
        const std::string image = dir / "disk.img";
        std::filesystem::remove(image);
        std::filesystem::copy_file(NtfsImagePath("ntfs-disk.img"), image);
        if (wipeBoot) {
            const std::vector<uint8_t> zeros(512, 0);
            WriteAt(image, 2048 * 512, zeros.data(), zeros.size());
        }
        const std::string before = FileDigest(image);
        Cli(dir, "scan --deep-disk " + Quote(image) + " --list", "deep.txt");
        const auto deep = ListByPath(ReadFileBytes(dir / "deep.txt"));
        ASSERT_EQ(deep.size(), quick.size()) << ReadFileBytes(dir / "deep.txt");
        for (const auto& [path, f] : quick) {
            ASSERT_TRUE(deep.count(path)) << path;
            // Searcher, size, deleted and folder flags, modification time.
            for (int field : {0, 2, 3, 4, 6})
                EXPECT_EQ(deep.at(path)[field], f[field]) << path << " field " << field;
        }
        std::filesystem::remove_all(dir / "out");
        Cli(dir, "scan --deep-disk " + Quote(image) + " --recover " + Quote(dir / "out"), "/dev/null");
        const auto recovered = RecoveredFiles(dir / "out");
        for (const char* name : {"small.txt", "big.bin", "frag.bin"}) {
            ASSERT_TRUE(recovered.count(name)) << name;
            EXPECT_TRUE(recovered.at(name) == NtfsSource(name)) << name;
        }
        EXPECT_EQ(FileDigest(image), before);
    }
}
