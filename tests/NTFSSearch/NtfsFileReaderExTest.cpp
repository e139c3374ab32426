// The extended reader over nodes of a quick scan: whole files read in odd
// pieces, requests past the end, pieces across extents, resident data,
// sparse extents and refused opens.
#include <gtest/gtest.h>

#include <cstring>

#include "FileReaderEx.h"
#include "ImageFileDevice.h"
#include "NTFSFileNode.h"
#include "NTFSQuickSearch.h"
#include "NtfsTestSupport.h"
#include "TestSupport.h"

namespace {

struct Scanned {
    std::unique_ptr<CImageFileDevice> device;
    CNtfsRecordingBuilder builder;
    std::map<std::string, CNTFSFileNode*> nodes;
};

void ScanBasic(Scanned& s)
{
    s.device = OpenImageFileDisk(NtfsImagePath("ntfs-basic.img"));
    ASSERT_TRUE(s.device);
    CNtfsRecordingProgress progress;
    CNTFSQuickSearch searcher;
    searcher.SetDirecotryTreeBuilder(&s.builder);
    ASSERT_EQ(searcher.QuickSearchFiles(s.device.get(), &progress), 0u);
    s.nodes = s.builder.ByPath();
}

std::string ReadAll(CFileReaderEx& reader, long long size, long long piece)
{
    std::string out;
    std::vector<uint8_t> buffer(static_cast<size_t>(piece));
    for (long long at = 0; at < size; at += piece) {
        long long got = 0;
        if (!reader.Read(at, buffer.data(), piece, got))
            return "<failed at " + std::to_string(at) + ">";
        out.append(reinterpret_cast<char*>(buffer.data()), static_cast<size_t>(got));
    }
    return out;
}

}  // namespace

TEST(ntfs_reader_ex, ReadsFilesThroughTheirExtents)
{
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "no ntfs-3g mount here";
    Scanned s;
    ScanBasic(s);
    for (const auto& [path, source] : std::map<std::string, std::string>{
             {"/frag.bin", "frag.bin"}, {"/big.bin", "big.bin"}, {"/old folder/gone.bin", "gone.bin"}}) {
        ASSERT_TRUE(s.nodes.count(path)) << path;
        CNTFSFileNode* node = s.nodes.at(path);
        CFileReaderEx reader;
        ASSERT_EQ(reader.Open(s.device.get(), node, 0, 8), 1) << path;
        const std::string bytes = NtfsSource(source);
        // Pieces that are not cluster sized, and one that is larger than the
        // reader's own buffer of eight clusters.
        for (long long piece : {1000LL, 4096LL, 40000LL})
            EXPECT_TRUE(ReadAll(reader, node->GetFileSize(), piece) == bytes) << path << " in pieces of " << piece;
        // Twice the same: the node's extents survive a read.
        EXPECT_TRUE(ReadAll(reader, node->GetFileSize(), 7000) == bytes) << path;
    }

    // frag.bin: a piece that starts in the last cluster of one extent and
    // ends in the next one.
    CNTFSFileNode* frag = s.nodes.at("/frag.bin");
    IDataRunList* runs = frag->GetDataRunList();
    const long long firstLength = runs->GetFirst()->llLength;
    ASSERT_LT(firstLength * 4096, frag->GetFileSize());
    CFileReaderEx reader;
    ASSERT_EQ(reader.Open(s.device.get(), frag, 0, 8), 1);
    const long long at = firstLength * 4096 - 100;
    std::vector<uint8_t> piece(300);
    long long got = 0;
    ASSERT_EQ(reader.Read(at, piece.data(), 300, got), 1);
    EXPECT_EQ(got, 300);
    EXPECT_EQ(std::string(piece.begin(), piece.end()), NtfsSource("frag.bin").substr(static_cast<size_t>(at), 300));

    // Past the end, and a request cut to the file.
    EXPECT_EQ(reader.Read(frag->GetFileSize(), piece.data(), 10, got), 0);
    ASSERT_EQ(reader.Read(frag->GetFileSize() - 30, piece.data(), 300, got), 1);
    EXPECT_EQ(got, 30);
}

TEST(ntfs_reader_ex, ResidentData)
{
    Scanned s;
    ScanBasic(s);
    ASSERT_TRUE(s.nodes.count("/small.txt"));
    CFileReaderEx reader;
    ASSERT_EQ(reader.Open(s.device.get(), s.nodes.at("/small.txt"), 0, 8), 1);
    uint8_t buffer[1024];
    long long got = 0;
    ASSERT_EQ(reader.Read(0, buffer, 1024, got), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(got)), NtfsSource("small.txt"));
    ASSERT_EQ(reader.Read(2, buffer, 1024, got), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(got)), NtfsSource("small.txt").substr(2));
    EXPECT_EQ(reader.Read(5, buffer, 1, got), 0);
}

TEST(ntfs_reader_ex, RefusedOpensAndSparseExtents)
{
    Scanned s;
    ScanBasic(s);
    CNTFSFileNode* big = s.nodes.at("/big.bin");
    CFileReaderEx reader;
    EXPECT_EQ(reader.Open(nullptr, big, 0, 8), 0);
    EXPECT_EQ(reader.Open(s.device.get(), nullptr, 0, 8), 0);
    EXPECT_EQ(reader.Open(s.device.get(), big, 0, 0), 0);
    if (s.nodes.count("/many")) {
        EXPECT_EQ(reader.Open(s.device.get(), s.nodes.at("/many"), 0, 8), 0);  // size 0
    }

    // A node of 300 bytes over a sparse cluster then big.bin's first one.
    const long long firstCluster = big->GetDataRunList()->GetFirst()->llStart;
    auto* properties = CNTFSFileProperties::Create();
    CNoneResidentNTFSDataRunList runs;
    runs.AddDataRun(DataRun{-1, 1});
    runs.AddDataRun(DataRun{firstCluster, 1});
    properties->SetDataRunList(&runs);
    properties->SetFileSize(4096 + 300);
    CNTFSFileNode node;
    node.SetFileProperties(properties);
    ASSERT_EQ(reader.Open(s.device.get(), &node, 0, 8), 1);
    std::vector<uint8_t> buffer(8192, 0xEE);
    long long got = 0;
    ASSERT_EQ(reader.Read(4000, buffer.data(), 1024, got), 1);
    EXPECT_EQ(got, 396);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 96), std::vector<uint8_t>(96, 0));
    EXPECT_EQ(std::string(buffer.begin() + 96, buffer.begin() + 396), NtfsSource("big.bin").substr(0, 300));

    // Extents shorter than the size: what is there, never more.
    properties->SetFileSize(3 * 4096);
    node.SetFileProperties(properties);  // same properties, extents again
    ASSERT_EQ(reader.Open(s.device.get(), &node, 0, 8), 1);
    ASSERT_EQ(reader.Read(0, buffer.data(), 3 * 4096, got), 1);
    EXPECT_EQ(got, 2 * 4096);
}
