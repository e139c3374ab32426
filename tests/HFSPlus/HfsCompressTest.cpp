// Files the file system keeps compressed: an attributes tree with
// "com.apple.decmpfs" records is added to a copy of the fixture, and three
// root files are marked compressed (zlib inline, LZVN inline, zlib blocks in
// the resource fork). The reader must give back the original bytes, through
// the node and through vantrel-cli.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

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

struct CompressedFixture {
    HfsFixture fixture;
    std::map<std::string, std::string> contents;  // root file name to its bytes
    // docs/big.txt: inline zlib data that inflates to fewer bytes than its
    // header announces.
    std::string shortContent;
    uint64_t announced = 0;
};

CompressedFixture MakeCompressedFixture(const std::string& dir)
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
        {aId, Decmpfs(3, inlineText.size(), Zlib(inlineText))},
        {emptyId, Decmpfs(4, forkText.size(), {})},
        {unicodeId, Decmpfs(7, 3, {0xE3, 'a', 'b', 'c', 0x06, 0, 0, 0, 0, 0, 0, 0})},
        {bigId, Decmpfs(3, c.announced, Zlib(c.shortContent))},
    };
    std::sort(records.begin(), records.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<Bytes> leafRecords;
    for (const auto& [id, data] : records)
        leafRecords.push_back(AttributeRecord(id, data));
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
    RunTool(std::string(VANTREL_CLI) + " scan --quick --offset " + std::to_string(f.volumeStart) + " '" + f.image +
            "' --recover '" + out.path() + "' > '" + dir.path() + "/out.txt' 2>&1");
    const std::string roots = RunTool("cd '" + out.path() + "' && find . -name big.txt");
    ASSERT_FALSE(roots.empty());
    const std::string root = out.path() + "/" + roots.substr(0, roots.rfind("/docs/big.txt"));
    for (const auto& [name, content] : c.contents)
        EXPECT_TRUE(ReadFileBytes(root + "/" + name) == content) << name << ": " << ReadFileBytes(root + "/" + name).size();
    EXPECT_EQ(FileDigest(f.image), digest);
}
