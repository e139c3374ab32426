// The exFAT deep scan end to end through vantrel-cli: listings against the
// quick scans of the same volumes and recovered bytes against the
// manifests, over the disk variants, with every image unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "ExFatDeepSupport.h"
#include "ExFatTestSupport.h"
#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs vantrel-cli with its standard output in a file; the image must be
// unchanged afterwards. Returns the output.
std::string RunCli(const TempDir& dir, const std::string& image, const std::string& args)
{
    const std::string before = FileDigest(image);
    RunTool("(" + std::string(VANTREL_CLI) + " " + args + " > " + Quote(dir / "out.txt") + " 2> " +
            Quote(dir / "err.txt") + ")");
    EXPECT_EQ(FileDigest(image), before) << "the run changed " << image;
    return ReadFileBytes(dir / "out.txt");
}

// Recovers with vantrel-cli; files of partial (names below their volume's
// root) must be reported incomplete, with exit status 1, and nothing else.
void RecoverCli(const TempDir& dir, const std::string& image, const std::string& args,
                const std::set<std::string>& partial)
{
    const std::string before = FileDigest(image);
    const std::string status = RunTool("(" + std::string(VANTREL_CLI) + " " + args + " > " + Quote(dir / "out.txt") +
                                       " 2> " + Quote(dir / "err.txt") + "; echo $?)");
    EXPECT_EQ(FileDigest(image), before) << "the run changed " << image;
    const std::string err = ReadFileBytes(dir / "err.txt");
    EXPECT_EQ(std::atoi(status.c_str()), partial.empty() ? 0 : 1)
        << err.substr(err.size() - std::min<size_t>(err.size(), 2000));
    for (const std::string& name : partial)
        EXPECT_NE(err.find("/" + name + ": incomplete, "), std::string::npos) << name;
    const std::string summary =
        partial.empty() ? ", 0 failed (" : "; " + std::to_string(partial.size()) + " incomplete: ";
    EXPECT_NE(err.find(summary), std::string::npos) << summary;
}

// "path\tsize\tdeleted\tis_dir" of every tree-33 line.
std::multiset<std::string> Tree33(const std::string& listing)
{
    std::multiset<std::string> out;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, '\t'))
            f.push_back(field);
        if (f.size() >= 5 && f[0] == "33")
            out.insert(f[1] + "\t" + f[2] + "\t" + f[3] + "\t" + f[4]);
    }
    return out;
}

// The lines only one of two listings has, for failure messages.
std::string Difference(const std::multiset<std::string>& a, const std::multiset<std::string>& b)
{
    std::vector<std::string> onlyA, onlyB;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(onlyA));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(onlyB));
    std::string out;
    for (const auto& l : onlyA)
        out += "only in the first: " + l + "\n";
    for (const auto& l : onlyB)
        out += "only in the second: " + l + "\n";
    return out;
}

// Every manifest file under root matches; those in partial (FAT-chained
// files whose chain is not known) match in their first 4,096 bytes.
void ExpectRecovered(const std::string& root, const std::string& manifest, const std::set<std::string>& partial)
{
    for (const auto& [path, sha] : Manifest(manifest)) {
        const std::string got = root + "/" + path;
        ASSERT_TRUE(std::filesystem::exists(got)) << path;
        if (partial.count(path))
            EXPECT_EQ(ReadFileBytes(got).substr(0, 4096), PutContent(std::filesystem::path(path).filename().string(), 1000).substr(0, 4096))
                << path;
        else
            EXPECT_EQ(FileDigest(got), sha) << path;
    }
}

}  // namespace

// The deep scan of each variant of ex-disk.img lists what the quick scans of
// its two volumes list, and recovers every file written, the deleted ones
// and the FAT-chained D.txt included.
TEST(exfat_deep_cli, DiskVariantsListAndRecover)
{
    TempDir dir;
    const std::string intact = ExFatImagePath("ex-disk.img");
    std::multiset<std::string> quick = Tree33(RunCli(dir, intact, "scan --quick --volume 1 " + Quote(intact) + " --list"));
    EXPECT_EQ(quick.size(), 94u);
    const auto second = Tree33(RunCli(dir, intact, "scan --quick --volume 2 " + Quote(intact) + " --list"));
    EXPECT_EQ(second.size(), 19u);
    quick.insert(second.begin(), second.end());

    for (const char* variant : {"intact", "no-mbr", "p1-main", "p1-both"}) {
        SCOPED_TRACE(variant);
        const std::string image = MakeDiskVariant(dir, variant);
        const auto deep = Tree33(RunCli(dir, image, "scan --deep-disk " + Quote(image) + " --list"));
        EXPECT_TRUE(deep == quick) << Difference(deep, quick);

        const std::string out = dir / (std::string("out-") + variant);
        // Without FAT evidence D.txt keeps its first cluster only.
        const std::set<std::string> partial =
            std::string(variant) == "p1-both" ? std::set<std::string>{"D.txt"} : std::set<std::string>{};
        RecoverCli(dir, image, "scan --deep-disk " + Quote(image) + " --recover " + Quote(out), partial);
        const std::string root = TreeRootUnder(out, "top");
        EXPECT_EQ(TreeRootUnder(out, "pics"), root) << "both volumes under one tree";
        ExpectRecovered(root, "ex-disk-p1.sha256", partial);
        ExpectRecovered(root, "ex-disk-p2.sha256", {});
        for (const char* deleted : {"trash me/t1.txt", "trash me/t4.txt", "lost.txt"})
            EXPECT_TRUE(std::filesystem::exists(root + "/" + deleted)) << deleted;
    }
}

// A deep scan of ex-quick.img as a volume lists its quick scan, contig's
// 121 direct children under contig, and recovers the manifest.
TEST(exfat_deep_cli, QuickImageAsVolume)
{
    TempDir dir;
    const std::string image = ExFatImagePath("ex-quick.img");
    const auto quick = Tree33(RunCli(dir, image, "scan --quick --offset 0 " + Quote(image) + " --list"));
    const auto deep = Tree33(RunCli(dir, image, "scan --deep --offset 0 " + Quote(image) + " --list"));
    EXPECT_EQ(deep.size(), 146u);
    EXPECT_TRUE(deep == quick) << Difference(deep, quick);
    size_t contig = 0;
    for (const std::string& line : deep) {
        const std::string path = line.substr(0, line.find('\t'));
        contig += path.rfind("/contig/", 0) == 0 && path.find('/', 8) == std::string::npos;
    }
    EXPECT_EQ(contig, 121u);

    RecoverCli(dir, image, "scan --deep --offset 0 " + Quote(image) + " --recover " + Quote(dir / "outq"), {"S.txt"});
    ExpectRecovered(TreeRootUnder(dir / "outq", "contig"), "ex-quick.sha256", {"S.txt"});
}

// Only root evidence is left, a million sectors in: the volume is still
// found and its one file recovered byte for byte.
TEST(exfat_deep_cli, LateDiskRecover)
{
    TempDir dir;
    const std::string image = MakeLateDisk(dir);
    RunCli(dir, image, "scan --deep-disk " + Quote(image) + " --recover " + Quote(dir / "outl"));
    const std::string root = TreeRootUnder(dir / "outl", "late-moved");
    EXPECT_EQ(ReadFileBytes(root + "/late-moved/only.txt"), PutContent("only.txt", 50));
}
