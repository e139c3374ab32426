// End to end through vantrel-cli: listing, recovery and the finished state,
// with the image's digest unchanged by every run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "ExFatTestSupport.h"
#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs the command with standard output and error in files of dir; the
// image must be unchanged afterwards.
// The exit status.
int RunCli(const TempDir& dir, const std::string& image, const std::string& args)
{
    const std::string before = FileDigest(image);
    const std::string status = RunTool("(" + std::string(VANTREL_CLI) + " " + args + " > " + Quote(dir / "out.txt") +
                                       " 2> " + Quote(dir / "err.txt") + "; echo $?)");
    EXPECT_EQ(FileDigest(image), before) << "the scan changed " << image;
    return std::atoi(status.c_str());
}

std::vector<std::vector<std::string>> Lines(const std::string& text)
{
    std::vector<std::vector<std::string>> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, '\t'))
            fields.push_back(field);
        out.push_back(fields);
    }
    return out;
}

}  // namespace

TEST(exfat_cli, ListQuickImage)
{
    TempDir dir;
    const std::string image = ExFatImagePath("ex-quick.img");
    RunCli(dir, image, "scan --quick --offset 0 " + Quote(image) + " --list");
    const auto lines = Lines(ReadFileBytes(dir / "out.txt"));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kQuickNodes)) << ReadFileBytes(dir / "out.txt");

    std::map<std::string, std::vector<std::string>> byPath;
    for (const auto& f : lines) {
        ASSERT_EQ(f.size(), 7u);
        EXPECT_EQ(f[0], "33");
        byPath[f[1]] = f;
    }
    ASSERT_TRUE(byPath.count("/contig/data.txt"));
    EXPECT_EQ(byPath["/contig/data.txt"][2], "42000");
    EXPECT_TRUE(byPath.count("/contig/sub/inner.txt"));
    EXPECT_TRUE(byPath.count("/emoji-😀-name.txt"));
    EXPECT_TRUE(byPath.count("/abcdefghijklmn😀.txt"));

    std::set<std::string> deleted;
    for (const auto& [path, f] : byPath)
        if (f[3] == "1")
            deleted.insert(path);
    const std::set<std::string> expected = {"/S.txt", "/gone.txt", "/photos/photo 2.txt", "/photos/photo 5.txt",
                                            "/old stuff", "/old stuff/note 1.txt", "/old stuff/note 2.txt",
                                            "/old stuff/note 3.txt"};
    EXPECT_EQ(deleted, expected);
    int written = 0;
    for (const auto& [path, f] : byPath) {
        if (f[4] == "1" || f[2] == "0")
            continue;  // folders and the empty files keep the time they were made
        EXPECT_EQ(f[6], "2021-03-04T05:06:08Z") << path;
        ++written;
    }
    EXPECT_EQ(written, 142 - 121);
}

TEST(exfat_cli, RecoverQuickImage)
{
    TempDir dir;
    const std::string image = ExFatImagePath("ex-quick.img");
    const std::string out = dir / "outq";
    // S.txt's chain was lost: it is recovered as far as its one known
    // cluster goes and reported incomplete.
    EXPECT_EQ(RunCli(dir, image, "scan --quick --offset 0 " + Quote(image) + " --recover " + Quote(out)), 1);
    const std::string err = ReadFileBytes(dir / "err.txt");
    EXPECT_NE(err.find("/S.txt: incomplete, 4096 of 54000 bytes"), std::string::npos) << err;
    EXPECT_NE(err.find("recovered 141 files; 1 incomplete: /EXQUICK/S.txt; 0 failed"), std::string::npos) << err;
    const std::string root = TreeRootUnder(out, "contig");

    // Every file written, deleted ones and the chained D.txt included, but
    // S.txt, whose chain was lost.
    const std::string report = RunTool("(cd " + Quote(root) + " && sha256sum -c " +
                                       Quote(ExFatManifestPath("ex-quick.sha256")) + " 2>&1; true)");
    std::istringstream lines(report);
    std::string line;
    int ok = 0;
    while (std::getline(lines, line)) {
        if (line.size() > 4 && line.compare(line.size() - 4, 4, ": OK") == 0)
            ++ok;
        else if (line.rfind("./S.txt:", 0) != 0 && line.rfind("sha256sum: WARNING", 0) != 0)
            ADD_FAILURE() << line;
    }
    EXPECT_EQ(ok, 141);
    // S.txt's FAT chain was zeroed: its first cluster is right.
    const std::string s = ReadFileBytes(root + "/S.txt");
    std::string source;
    char text[32];
    for (int i = 0; source.size() < 4096; ++i) {
        std::snprintf(text, sizeof text, "S.txt line %06d\n", i);
        source += text;
    }
    ASSERT_EQ(s.size(), 4096u);
    EXPECT_EQ(s, source.substr(0, 4096));

    int empty = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file() && entry.file_size() == 0)
            ++empty;
    EXPECT_EQ(empty, 121);
}

TEST(exfat_cli, RecoverFourKiBSectorImage)
{
    TempDir dir;
    const std::string image = ExFatImagePath("ex-4k.img");
    const std::string out = dir / "out4";
    RunCli(dir, image, "scan --quick --offset 0 --sector-size 4096 " + Quote(image) + " --recover " + Quote(out));
    const std::string root = TreeRootUnder(out, "three.txt");
    RunTool("cd " + Quote(root) + " && sha256sum --quiet -c " + Quote(ExFatManifestPath("ex-4k.sha256")));
}

TEST(exfat_cli, UnreadableRootEndsFinished)
{
    TempDir dir;
    const std::string image = dir / "cut.img";
    CopyFile(ExFatImagePath("ex-quick.img"), image);
    RunTool("truncate -s " + std::to_string(4120 * 512) + " " + Quote(image));
    RunCli(dir, image, "scan --quick --progress=engine --offset 0 " + Quote(image) + " --list");
    EXPECT_EQ(ReadFileBytes(dir / "out.txt"), "");
    std::istringstream lines(ReadFileBytes(dir / "err.txt"));
    std::string line, last;
    while (std::getline(lines, line))
        if (line.rfind("progress ", 0) == 0)
            last = line;
    EXPECT_EQ(last.rfind("progress 3 1 1 ", 0), 0u) << ReadFileBytes(dir / "err.txt");
}

// A name carrying an escape character (which exFAT names may hold) is
// listed with the character shown as "?" and recovered with "_" in its
// place: no control character reaches the terminal or a file name.
TEST(exfat_cli, ControlCharactersInNamesAreShownAndMadeSafe)
{
    const std::string image = ExFatImagePath("ex-quick.img");
    const unsigned long long root = kQuickRootSector * 512ULL;
    const std::vector<uint8_t> cluster = ReadAt(image, root, kQuickSectorsPerCluster * 512);
    // The root's first in-use file (not folder) of at least two characters.
    size_t at = 0;
    std::string name;
    for (size_t e = 0; e + 3 * 32 <= cluster.size() && name.empty(); e += 32) {
        if (cluster[e] != 0x85 || cluster[e + 32] != 0xC0 || cluster[e + 64] != 0xC1 || (cluster[e + 4] & 0x10) ||
            cluster[e + 32 + 3] < 2 || cluster[e + 32 + 3] > 15)
            continue;
        at = e;
        for (size_t i = 0; i < cluster[e + 32 + 3]; ++i)
            name.push_back(static_cast<char>(cluster[e + 64 + 2 + 2 * i]));
    }
    ASSERT_FALSE(name.empty());

    TempDir dir;
    const std::string copy = dir / "esc.img";
    CopyFile(image, copy);
    const uint8_t escape[2] = {0x1B, 0};
    WriteAt(copy, root + at + 64 + 2 + 2, escape, 2);
    const std::string shown = name.substr(0, 1) + "?" + name.substr(2);
    const std::string safe = name.substr(0, 1) + "_" + name.substr(2);

    RunCli(dir, copy, "scan --quick --offset 0 " + Quote(copy) + " --list");
    const std::string listing = ReadFileBytes(dir / "out.txt");
    EXPECT_NE(listing.find("\t/" + shown + "\t"), std::string::npos) << listing.substr(0, 2000);
    for (char c : listing)
        EXPECT_TRUE(c == '\n' || c == '\t' || static_cast<unsigned char>(c) >= 0x20) << static_cast<int>(c);

    const std::string out = dir / "out";
    RunTool("(" + std::string(VANTREL_CLI) + " scan --quick --offset 0 " + Quote(copy) + " --recover " + Quote(out) +
            " > /dev/null 2>&1; true)");
    const std::string tree = TreeRootUnder(out, "contig");
    EXPECT_TRUE(std::filesystem::exists(tree + "/" + safe)) << safe;
    const auto manifest = Manifest("ex-quick.sha256");
    if (manifest.count(name)) {
        EXPECT_EQ(FileDigest(tree + "/" + safe), manifest.at(name));
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out))
        for (char c : entry.path().filename().string())
            EXPECT_GE(static_cast<unsigned char>(c), 0x20) << entry.path();
}
