// End to end through vantrel-cli: listing, recovery and the finished state,
// with the image's digest unchanged by every run.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "ExFatTestSupport.h"
#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs the command with standard output and error in files of dir; the
// image must be unchanged afterwards.
void RunCli(const TempDir& dir, const std::string& image, const std::string& args)
{
    const std::string before = FileDigest(image);
    RunTool("(" + std::string(VANTREL_CLI) + " " + args + " > " + Quote(dir / "out.txt") + " 2> " +
            Quote(dir / "err.txt") + ")");
    EXPECT_EQ(FileDigest(image), before) << "the scan changed " << image;
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
    RunCli(dir, image, "scan --quick --offset 0 " + Quote(image) + " --recover " + Quote(out));
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
    ASSERT_GE(s.size(), 4096u);
    EXPECT_EQ(s.substr(0, 4096), source.substr(0, 4096));

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
