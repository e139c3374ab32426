// Files the file system keeps compressed: an attributes tree with
// "com.apple.decmpfs" records is added to a copy of the fixture, and three
// root files are marked compressed (zlib inline, LZVN inline, zlib blocks in
// the resource fork). The reader must give back the original bytes, through
// the node and through vantrel-cli.
#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "HFSPlusFileNode.h"
#include "HFSPlusQuickSearch.h"
#include "HFSPlusStructs.h"
#include "HFSPlusVolume.h"
#include "HfsTestSupport.h"
#include "IStorageDevice.h"
#include "TestSupport.h"

namespace {

Bytes Zlib(const std::string& text)
{
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, reinterpret_cast<const Bytes::value_type*>(text.data()),
                        static_cast<uLong>(text.size()), 9),
              Z_OK);
    out.resize(size);
    return out;
}

Bytes Decmpfs(uint32_t type, uint64_t size, const Bytes& payload)
{
    Bytes b(16, 0);
    PutLE(b, 0, 0x636D7066, 4);
    PutLE(b, 4, type, 4);
    PutLE(b, 8, size, 8);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes AttributeRecord(uint32_t fileId, const Bytes& data)
{
    const std::string name = "com.apple.decmpfs";
    Bytes r(14 + 2 * name.size(), 0);
    PutBE(r, 0, 12 + 2 * name.size(), 2);
    PutBE(r, 4, fileId, 4);
    PutBE(r, 12, name.size(), 2);
    for (size_t i = 0; i < name.size(); ++i)
        PutBE(r, 14 + 2 * i, static_cast<uint8_t>(name[i]), 2);
    Bytes inlineData(16, 0);
    PutBE(inlineData, 0, 0x10, 4);
    PutBE(inlineData, 12, data.size(), 4);
    inlineData.insert(inlineData.end(), data.begin(), data.end());
    if (inlineData.size() % 2)
        inlineData.push_back(0);
    r.insert(r.end(), inlineData.begin(), inlineData.end());
    return r;
}

// Damage done to a.txt's records while the fixture is made.
struct Damage {
    uint64_t announced = 0;      // the decmpfs header's size, when not 0
    uint32_t attributeSize = 0;  // the inline attribute record's size, when not 0
};

struct CompressedFixture {
    HfsFixture fixture;
    std::map<std::string, std::string> contents;  // root file name to its bytes
    // docs/big.txt: inline zlib data that inflates to fewer bytes than its
    // header announces.
    std::string shortContent;
    uint64_t announced = 0;
};

CompressedFixture MakeCompressedFixture(const std::string& dir, const Damage& damage = {})
{
    CompressedFixture c;
    c.fixture = MakeHfsFixture(dir);
    const HfsFixture& f = c.fixture;
    const HfsGeometry g = ReadGeometry(f);
    const unsigned long long volume = static_cast<unsigned long long>(f.volumeStart) * 512;
    const uint32_t bs = g.blockSize;

    std::string inlineText;
    for (int i = 0; i < 400; ++i)
        inlineText += "inline zlib line " + std::to_string(i) + "\n";
    std::string forkText;
    for (int i = 0; i < 9000; ++i)
        forkText += "resource fork line " + std::to_string(i * 7919 % 10007) + "\n";
    c.contents["a.txt"] = inlineText;
    c.contents["empty.txt"] = forkText;
    const std::string unicode = "U\xCC\x88ni\xCC\x88" "co\xCC\x88" "de\xCC\x81 \xF0\x9F\x98\x80.txt";
    c.contents[unicode] = "abc";

    const std::u16string unicodeUnits = u"U\u0308ni\u0308co\u0308de\u0301 \U0001F600.txt";
    const unsigned long long aRecord = FindRecord(f, g, u"a.txt");
    const unsigned long long emptyRecord = FindRecord(f, g, u"empty.txt");
    const unsigned long long unicodeRecord = FindRecord(f, g, unicodeUnits);
    const uint32_t aId = ReadBE32(ReadAt(f.image, aRecord + 8, 4).data());
    const uint32_t emptyId = ReadBE32(ReadAt(f.image, emptyRecord + 8, 4).data());
    const uint32_t unicodeId = ReadBE32(ReadAt(f.image, unicodeRecord + 8, 4).data());
    const uint32_t docsId = ReadBE32(ReadAt(f.image, FindRecord(f, g, u"docs", 2, 1) + 8, 4).data());
    const unsigned long long bigRecord = FindRecord(f, g, u"big.txt", docsId);
    const uint32_t bigId = ReadBE32(ReadAt(f.image, bigRecord + 8, 4).data());
    c.shortContent = "shorter than announced\n";
    c.announced = c.shortContent.size() + 100;

    // Resource fork of empty.txt: header, block table, two zlib blocks.
    const Bytes first = Zlib(forkText.substr(0, 65536));
    const Bytes second = Zlib(forkText.substr(65536));
    // Block offsets count from the block count, which follows the data size.
    Bytes fork(0x100 + 4 + 4 + 16, 0);
    PutBE(fork, 0, 0x100, 4);
    PutLE(fork, 0x104, 2, 4);
    PutLE(fork, 0x108, 4 + 16, 4);
    PutLE(fork, 0x10C, first.size(), 4);
    PutLE(fork, 0x110, 4 + 16 + first.size(), 4);
    PutLE(fork, 0x114, second.size(), 4);
    fork.insert(fork.end(), first.begin(), first.end());
    fork.insert(fork.end(), second.begin(), second.end());
    PutBE(fork, 0x100, fork.size() - 0x104, 4);
    const uint32_t forkBlocks = static_cast<uint32_t>((fork.size() + bs - 1) / bs);

    // The attributes tree: header node and one leaf; the resource fork
    // behind it.
    std::vector<std::pair<uint32_t, Bytes>> records = {
        {aId, Decmpfs(3, damage.announced ? damage.announced : inlineText.size(), Zlib(inlineText))},
        {emptyId, Decmpfs(4, forkText.size(), {})},
        {unicodeId, Decmpfs(7, 3, {0xE3, 'a', 'b', 'c', 0x06, 0, 0, 0, 0, 0, 0, 0})},
        {bigId, Decmpfs(3, c.announced, Zlib(c.shortContent))},
    };
    std::sort(records.begin(), records.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<Bytes> leafRecords;
    for (const auto& [id, data] : records) {
        leafRecords.push_back(AttributeRecord(id, data));
        // The size field of the inline data, behind the 48-byte key.
        if (id == aId && damage.attributeSize)
            PutBE(leafRecords.back(), 48 + 12, damage.attributeSize, 4);
    }
    const Bytes tree = MakeBTreeFile(4096, 266, leafRecords);

    const uint32_t treeAt = AppendBlocks(f, tree);
    const uint32_t forkAt = AppendBlocks(f, fork);

    Bytes attributes(80, 0);
    PutBE(attributes, 0, 8192, 8);
    PutBE(attributes, 12, 4, 4);
    PutBE(attributes, 16, treeAt, 4);
    PutBE(attributes, 20, 4, 4);
    WriteAt(f.image, volume + 1024 + 352, attributes.data(), attributes.size());

    const uint8_t compressed = 0x20;
    for (unsigned long long record : {aRecord, emptyRecord, unicodeRecord, bigRecord})
        WriteAt(f.image, record + 41, &compressed, 1);
    Bytes resource(80, 0);
    PutBE(resource, 0, fork.size(), 8);
    PutBE(resource, 12, forkBlocks, 4);
    PutBE(resource, 16, forkAt, 4);
    PutBE(resource, 20, forkBlocks, 4);
    WriteAt(f.image, emptyRecord + 168, resource.data(), resource.size());
    return c;
}

}  // namespace

TEST(hfs_compressed, ReaderGivesTheOriginalBytes)
{
    TempDir dir;
    const CompressedFixture c = MakeCompressedFixture(dir.path());
    const HfsFixture& f = c.fixture;
    const std::string digest = FileDigest(f.image);
    const auto scan = ScanWholeImage(f);
    ASSERT_EQ(scan->rc, 0u);
    ASSERT_NE(scan->searcher.GetPrivateData()->GetVolume()->GetAttributesTree(), nullptr);

    const auto byPath = scan->builder.ByPath();
    for (const auto& [name, content] : c.contents) {
        ASSERT_TRUE(byPath.count(name)) << name;
        CHFSPlusFileNode* node = byPath.at(name);
        EXPECT_TRUE(node->IsCompressed()) << name;
        // The uncompressed size is known from the start, and asking again
        // changes nothing.
        EXPECT_EQ(node->GetFileSize(), static_cast<long long>(content.size())) << name;
        node->UpdateNodeInfo();
        EXPECT_EQ(node->GetFileSize(), static_cast<long long>(content.size())) << name;
        std::unique_ptr<IFileReader, void (*)(IFileReader*)> reader(node->CreateCompressFileReader(nullptr),
                                                                     [](IFileReader* r) { r->Release(); });
        ASSERT_NE(reader, nullptr);
        EXPECT_TRUE(reader->IsCompressFile());
        EXPECT_EQ(reader->Clone(), nullptr);
        std::string out;
        std::vector<char> chunk(7000);
        for (long long at = 0;; ) {
            const int got = reader->ReadData(at, chunk.data(), static_cast<unsigned>(chunk.size()), nullptr);
            if (got <= 0)
                break;
            out.append(chunk.data(), static_cast<size_t>(got));
            at += got;
        }
        EXPECT_EQ(out.size(), content.size()) << name;
        EXPECT_TRUE(out == content) << name;
        // Past the end there is nothing.
        EXPECT_EQ(reader->ReadData(static_cast<long long>(content.size()) + 10, chunk.data(), 10, nullptr), 0);
    }
    // Inline data that inflates short: the announced size stays, the reader
    // gives what there is.
    CHFSPlusFileNode* big = byPath.at("docs/big.txt");
    EXPECT_EQ(big->GetFileSize(), static_cast<long long>(c.announced));
    IFileReader* reader = big->CreateCompressFileReader(nullptr);
    std::vector<char> buffer(4096);
    testing::internal::CaptureStdout();
    EXPECT_EQ(reader->ReadData(0, buffer.data(), 4096, nullptr), static_cast<int>(c.shortContent.size()));
    // The mismatch is an engine log entry (printed, and in the log file).
    EXPECT_NE(testing::internal::GetCapturedStdout().find("decmpfs: size mismatch\n"), std::string::npos);
    EXPECT_EQ(std::string(buffer.data(), c.shortContent.size()), c.shortContent);
    reader->Release();
    // A fork-compressed file without data runs reads nothing.
    CHFSPlusFileNode* forked = byPath.at("empty.txt");
    forked->SetDataRunList(nullptr);
    reader = forked->CreateCompressFileReader(nullptr);
    EXPECT_EQ(reader->ReadData(0, buffer.data(), 4096, nullptr), 0);
    reader->Release();
    // A live file that is not compressed is untouched.
    EXPECT_FALSE(byPath.at("docs/sub/deep.txt")->IsCompressed());
    EXPECT_EQ(FileDigest(f.image), digest);
}

TEST(hfs_compressed, CliRecoversDecompressedFiles)
{
    TempDir dir;
    const CompressedFixture c = MakeCompressedFixture(dir.path());
    const HfsFixture& f = c.fixture;
    const std::string digest = FileDigest(f.image);
    TempDir out;
    const std::string output =
        RunTool(std::string(VANTREL_CLI) + " scan --quick --offset " + std::to_string(f.volumeStart) + " '" + f.image +
                "' --recover '" + out.path() + "' 2>&1; echo exit=$?");
    const std::string roots = RunTool("cd '" + out.path() + "' && find . -name big.txt");
    ASSERT_FALSE(roots.empty());
    const std::string root = out.path() + "/" + roots.substr(0, roots.rfind("/docs/big.txt"));
    for (const auto& [name, content] : c.contents)
        EXPECT_TRUE(ReadFileBytes(root + "/" + name) == content) << name << ": " << ReadFileBytes(root + "/" + name).size();
    // The file that decodes short is what its data gives, and no success.
    EXPECT_EQ(ReadFileBytes(root + "/docs/big.txt"), c.shortContent);
    const std::string note = "big.txt: incomplete, " + std::to_string(c.shortContent.size()) + " of " +
                             std::to_string(c.announced) + " bytes";
    EXPECT_NE(output.find(note), std::string::npos) << output;
    EXPECT_NE(output.find("; 1 incomplete: /ISOIMAGE/docs/big.txt; 0 failed"), std::string::npos) << output;
    EXPECT_NE(output.find("exit=1"), std::string::npos) << output;
    EXPECT_EQ(FileDigest(f.image), digest);
}

namespace {

long long PeakKiB(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

// Runs command through the shell and returns the peak resident size (KiB)
// of its processes. A small interpreter starts it: a process forked from
// this (large) test would count this test's memory as its own.
long long RunMeasured(const std::string& dir, const std::string& command)
{
    std::ofstream(dir + "/measured.sh") << command << "\n";
    const std::string peak =
        RunTool("python3 -c 'import resource, subprocess, sys; subprocess.run([\"sh\", sys.argv[1]]); "
                "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' '" +
                dir + "/measured.sh'");
    return std::atoll(peak.c_str());
}

std::vector<std::string> LinesWith(const std::string& text, const std::string& part)
{
    std::vector<std::string> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (line.find(part) != std::string::npos)
            out.push_back(line);
    return out;
}

}  // namespace

// Records of a.txt that lie: an attribute that claims more bytes than its
// record holds, and decmpfs headers that claim 2 GiB or 2^63 bytes from a
// few KiB of data. The volume lists and recovers within 200 MiB and a few
// seconds; a.txt is listed at its claimed size and recovered as far as its
// data goes, reported incomplete with a bounded log; the other files come
// back whole and the image is unchanged.
TEST(hfs_compressed, LyingSizesCostNeitherMemoryNorTime)
{
    struct Case {
        const char* what;
        Damage damage;
        long long listed;      // a.txt's size in the listing
        bool decoded;          // whether a.txt's text comes back
    };
    const Case cases[] = {
        {"attribute record of 4 GiB", {0, 0xFFFFFFFFu}, 0, false},
        {"decmpfs header of 2 GiB", {0x80000000ULL, 0}, 0x80000000LL, true},
        {"decmpfs header of 2^63 bytes", {0x7FFFFFFFFFFFFFFFULL, 0}, 0x7FFFFFFFFFFFFFFFLL, false},
    };
    constexpr long long kCapKiB = 200 * 1024;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const CompressedFixture fixture = MakeCompressedFixture(dir.path(), c.damage);
        const HfsFixture& f = fixture.fixture;
        const std::string digest = FileDigest(f.image);
        const std::string inlineText = fixture.contents.at("a.txt");
        {
            const long long before = PeakKiB(RUSAGE_SELF);
            const auto scan = ScanWholeImage(f);
            ASSERT_EQ(scan->rc, 0u);
            const auto byPath = scan->builder.ByPath();
            ASSERT_TRUE(byPath.count("a.txt"));
            CHFSPlusFileNode* node = byPath.at("a.txt");
            EXPECT_EQ(node->GetFileSize(), c.listed);
            std::unique_ptr<IFileReader, void (*)(IFileReader*)> reader(node->CreateCompressFileReader(nullptr),
                                                                         [](IFileReader* r) { r->Release(); });
            ASSERT_NE(reader, nullptr);
            std::vector<char> chunk(1 << 20);
            testing::internal::CaptureStderr();
            const int got = reader->ReadData(0, chunk.data(), static_cast<unsigned>(chunk.size()), nullptr);
            testing::internal::GetCapturedStderr();
            if (c.decoded) {
                ASSERT_EQ(got, static_cast<int>(inlineText.size()));
                EXPECT_EQ(std::string(chunk.data(), inlineText.size()), inlineText);
            } else {
                EXPECT_EQ(got, 0);
            }
            EXPECT_EQ(reader->ReadData(1 << 30, chunk.data(), 4096, nullptr), 0);
            EXPECT_LT(PeakKiB(RUSAGE_SELF) - before, kCapKiB);
        }

        TempDir out;
        const auto start = std::chrono::steady_clock::now();
        // A sanitizer build keeps freed memory in quarantine: kept small, the
        // figure is the program's own.
        const std::string asan = "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=8\" ";
        const long long peak = RunMeasured(dir.path(), "cd '" + dir.path() + "' && " + asan + VANTREL_CLI +
                                           " scan --quick --offset " + std::to_string(f.volumeStart) + " '" +
                                           f.image + "' --recover '" + out.path() +
                                           "' > out.txt 2>&1; echo exit=$? >> out.txt");
        const std::string output = ReadFileBytes(dir.path() + "/out.txt");
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s: recovery peak %lld KiB in %.1f s\n", c.what, peak, seconds);
        EXPECT_LT(seconds, 30.0);
        EXPECT_GT(peak, 0);
        EXPECT_LT(peak, kCapKiB);
        EXPECT_EQ(FileDigest(f.image), digest);

        const std::string roots = RunTool("cd '" + out.path() + "' && find . -name big.txt");
        ASSERT_FALSE(roots.empty()) << output;
        const std::string root = out.path() + "/" + roots.substr(0, roots.rfind("/docs/big.txt"));
        for (const auto& [name, content] : fixture.contents) {
            if (name != "a.txt") {
                EXPECT_TRUE(ReadFileBytes(root + "/" + name) == content) << name;
            }
        }
        const std::string a = ReadFileBytes(root + "/a.txt");
        EXPECT_EQ(a, c.decoded ? inlineText : std::string()) << output.substr(0, 2000);
        EXPECT_NE(output.find("exit=1"), std::string::npos) << output.substr(0, 2000);
        if (c.listed == 0) {
            // Nothing claimed, nothing missing: an empty file.
            EXPECT_NE(output.find("; 1 incomplete: /ISOIMAGE/docs/big.txt; 0 failed"), std::string::npos);
            continue;
        }
        // docs/big.txt decodes short by the fixture's making: it is
        // incomplete as well.
        const auto summary = LinesWith(output, "recovered ");
        ASSERT_EQ(summary.size(), 1u) << output.substr(0, 2000);
        EXPECT_NE(summary[0].find("; 2 incomplete: /ISOIMAGE/a.txt, /ISOIMAGE/docs/big.txt; 0 failed"), std::string::npos)
            << summary[0];
        const auto note = LinesWith(output, "a.txt: incomplete, " + std::to_string(c.decoded ? inlineText.size() : 0) +
                                                " of " + std::to_string(c.listed) + " bytes");
        ASSERT_EQ(note.size(), 1u) << output.substr(0, 2000);
        EXPECT_NE(note[0].find("could not be read"), std::string::npos) << note[0];
        // One line per distinct failure, not one per chunk; no stale errno.
        EXPECT_LE(LinesWith(output, "RecoverTo").size(), 4u) << output.substr(0, 2000);
        EXPECT_EQ(output.find("File exists"), std::string::npos);
        EXPECT_LT(output.size(), 16000u);
    }
}
