// vantrel-cli scan end to end: the fake searchers' view of the blocks, the
// progress lines, the found-node list, and the real driver's refusals.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CommandStatus.h"
#include "SearcherRegistry.h"
#include "StampedImage.h"
#include "TestSupport.h"

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the driver with standard output and standard error kept apart.
CliRun RunCli(const std::string& exe, const std::string& args, const TempDir& dir)
{
    CliRun run;
    std::string ignored;
    const std::string out = dir / "stdout.txt", err = dir / "stderr.txt";
    run.status = RunCommandStatus("('" + exe + "' " + args + " >'" + out + "' 2>'" + err + "')", ignored);
    run.out = ReadFileBytes(out);
    run.err = ReadFileBytes(err);
    return run;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// zlib's CRC-32 of sectors [first, first + count) of the image.
unsigned long SliceCrc(const std::string& image, long long first, long long count, unsigned int sectorSize)
{
    std::ifstream in(image, std::ios::binary);
    std::vector<char> bytes(static_cast<size_t>(count) * sectorSize);
    in.seekg(static_cast<std::streamoff>(first) * sectorSize);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_EQ(in.gcount(), static_cast<std::streamsize>(bytes.size()));
    return crc32_z(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
}

const int kDeepOrder[] = {31, 33, 32, 34, 35, 37};

// The expected per-block lines and progress lines of a deep scan whose
// blocks start at sector `base` of the image.
void ExpectDeepScan(const CliRun& run, const std::string& image, long long base, long long sectors,
                    unsigned int sectorSize, long long block)
{
    ASSERT_EQ(run.status, 0) << run.err;
    const long long blocks = (sectors + block - 1) / block;
    std::vector<std::string> expected;
    for (long long b = 0; b < blocks; ++b) {
        const long long first = b * block, count = std::min(block, sectors - first);
        const unsigned long crc = SliceCrc(image, base + first, count, sectorSize);
        for (int type : kDeepOrder)
            expected.push_back(std::to_string(type) + " " + std::to_string(first) + " " + std::to_string(count) +
                               " " + std::to_string(crc));
    }
    EXPECT_EQ(Lines(run.out), expected);

    std::vector<std::string> progress = {"progress 2 1 0 0x0", "progress 0 " + std::to_string(blocks) + " 0 0x0"};
    for (long long done = 1; done <= blocks; ++done)
        progress.push_back("progress 2 " + std::to_string(blocks) + " " + std::to_string(done * 4 / 5) + " 0x0");
    progress.push_back("progress 3 1 1 0x0");
    std::vector<std::string> reported;
    for (const std::string& line : Lines(run.err))
        if (line.rfind("progress ", 0) == 0)
            reported.push_back(line);
    EXPECT_EQ(reported, progress);
}

TEST(controller_cli, DeepScanHandsEveryBlockToEverySearcher)
{
    TempDir dir;
    struct Case {
        const char* what;
        long long imageSectors;  // of 512 bytes
        const char* options;
        unsigned int sectorSize;
        long long base, sectors, block;
    };
    const Case cases[] = {
        {"50 MiB", 102400, "--deep", 512, 0, 102400, 8192},
        {"4096-byte sectors", 102400, "--deep --sector-size 4096", 4096, 0, 12800, 1024},
        {"one sector past a block", 8193, "--deep-disk", 512, 0, 8193, 8192},
        {"shorter than a block", 5000, "--deep", 512, 0, 5000, 5000},
        {"a volume from an offset", 102400, "--deep --offset 90000", 512, 90000, 12400, 8192},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string image = dir / ("stamped" + std::to_string(c.imageSectors) + ".img");
        if (!std::ifstream(image)) {
            ASSERT_TRUE(MakeStampedImage(image, c.imageSectors, 512));
        }
        const std::string before = FileDigest(image);
        CliRun run = RunCli(VANTREL_CLI_FAKES, std::string("scan ") + c.options + " --progress=engine '" + image + "'", dir);
        ExpectDeepScan(run, image, c.base, c.sectors, c.sectorSize, c.block);
        EXPECT_EQ(FileDigest(image), before);
    }
}

TEST(controller_cli, VolumeFromThePartitionTable)
{
    TempDir dir;
    const std::string image = dir / "parted.img";
    ASSERT_TRUE(MakeStampedImage(image, 16384, 512));
    RunTool("printf 'label: dos\\nstart=2048, size=10000, type=83\\n' | sfdisk -q '" + image + "'");
    const std::string before = FileDigest(image);
    CliRun run = RunCli(VANTREL_CLI_FAKES, "scan --deep --volume 1 --progress=engine '" + image + "'", dir);
    ExpectDeepScan(run, image, 2048, 10000, 512, 8192);

    CliRun missing = RunCli(VANTREL_CLI_FAKES, "scan --deep --volume 2 '" + image + "'", dir);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no partition-table entry 2"), std::string::npos) << missing.err;
    EXPECT_EQ(FileDigest(image), before);
}

TEST(controller_cli, ListShowsEachSearchersNodes)
{
    TempDir dir;
    const std::string image = dir / "stamped.img";
    ASSERT_TRUE(MakeStampedImage(image, 8193, 512));
    const std::string before = FileDigest(image);
    CliRun run = RunCli(VANTREL_CLI_FAKES, "scan --deep --list '" + image + "'", dir);
    ASSERT_EQ(run.status, 0) << run.err;

    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : Lines(run.out)) {
        if (line.find('\t') == std::string::npos)
            continue;  // the searchers' block lines
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string f; std::getline(in, f, '\t');)
            fields.push_back(f);
        while (fields.size() < 7)
            fields.emplace_back();  // trailing empty times
        rows.push_back(fields);
    }
    for (int type : kDeepOrder) {
        SCOPED_TRACE(type);
        const std::string t = std::to_string(type);
        bool dirSeen = false, fileSeen = false;
        for (const auto& f : rows) {
            if (f[0] != t)
                continue;
            if (f[1] == "/dir") {
                dirSeen = true;
                EXPECT_EQ(f[4], "1");
            } else if (f[1] == "/dir/b.txt") {
                fileSeen = true;
                EXPECT_EQ(f, (std::vector<std::string>{t, "/dir/b.txt", "5", "1", "0", "2024-01-02T03:04:05Z",
                                                       "2024-01-02T03:04:05Z"}));
            } else {
                ADD_FAILURE() << "unexpected node " << f[1];
            }
        }
        EXPECT_TRUE(dirSeen);
        EXPECT_TRUE(fileSeen);
    }
    EXPECT_EQ(FileDigest(image), before);
}

TEST(controller_cli, RefusalsNameTheirCodes)
{
    TempDir dir;
    const std::string image = dir / "stamped.img";
    ASSERT_TRUE(MakeStampedImage(image, 20000, 512));
    const std::string before = FileDigest(image);

    // A quick scan of a disk with neither a partition table nor a known
    // volume at its start, and of a volume no recogniser knows.
    for (const char* exe : {VANTREL_CLI_FAKES, VANTREL_CLI}) {
        CliRun disk = RunCli(exe, "scan --quick --list '" + image + "'", dir);
        EXPECT_EQ(disk.status, 1);
        EXPECT_NE(disk.err.find("no partition table"), std::string::npos) << disk.err;
        EXPECT_NE(disk.err.find("--deep-disk"), std::string::npos) << disk.err;
        EXPECT_EQ(disk.out, "");
    }
    CliRun unknown = RunCli(VANTREL_CLI_FAKES, "scan --quick --list --offset 0 '" + image + "'", dir);
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("0x104005700000401"), std::string::npos) << unknown.err;
    EXPECT_EQ(unknown.out, "");

    // The real driver has no complete searcher until the file systems
    // register theirs.
    if (GetCompleteSearcherFactories().empty()) {
        CliRun deep = RunCli(VANTREL_CLI, "scan --deep '" + image + "'", dir);
        EXPECT_EQ(deep.status, 1);
        EXPECT_NE(deep.err.find("0x104008e00000402"), std::string::npos) << deep.err;
    }
    EXPECT_EQ(FileDigest(image), before);
}

}  // namespace
