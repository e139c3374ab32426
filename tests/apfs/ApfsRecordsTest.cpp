// Record rules of the container parser, fed through loose leaf blocks made
// here and offered to a container that the deep scan found on an empty
// mkapfs image.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "APFSDeepScan.h"
#include "ApfsTestSupport.h"
#include "IFileNode.h"
#include "ImageFileDevice.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Append(Bytes& out, const void* p, size_t n)
{
    const auto* b = static_cast<const unsigned char*>(p);
    out.insert(out.end(), b, b + n);
}
template <typename T>
void Append(Bytes& out, T value)
{
    Append(out, &value, sizeof value);
}

struct Entry {
    Bytes key;
    Bytes value;
};

Entry Inode(uint64_t oid, uint64_t parent, const std::string& name, uint16_t mode, uint64_t time,
            uint64_t size = 0)
{
    Entry e;
    Append(e.key, oid | (3ULL << 60));
    Append(e.value, parent);
    Append(e.value, oid);
    for (uint64_t t : {time, time, time, time})
        Append(e.value, t);
    e.value.resize(80, 0);
    Append(e.value, mode);
    e.value.resize(92, 0);
    const std::string raw = name + '\0';
    const uint16_t fields = size ? 2 : 1;
    Append(e.value, fields);
    Append(e.value, static_cast<uint16_t>(0));
    Append(e.value, static_cast<uint16_t>(0x0204));
    Append(e.value, static_cast<uint16_t>(raw.size()));
    if (size) {
        Append(e.value, static_cast<uint16_t>(0x2008));
        Append(e.value, static_cast<uint16_t>(40));
    }
    Append(e.value, raw.data(), raw.size());
    e.value.resize((e.value.size() + 7) / 8 * 8, 0);
    if (size) {
        Append(e.value, size);
        e.value.resize(e.value.size() + 32, 0);
    }
    return e;
}

Entry DirRecord(uint64_t parent, const std::string& name, uint64_t oid, bool folder, uint64_t time)
{
    Entry e;
    const std::string raw = name + '\0';
    Append(e.key, parent | (9ULL << 60));
    Append(e.key, static_cast<uint32_t>(raw.size()));
    Append(e.key, raw.data(), raw.size());
    Append(e.value, oid);
    Append(e.value, time);
    Append(e.value, static_cast<uint16_t>(folder ? 4 : 8));
    return e;
}

// A non-root fs-tree leaf with a virtual object id.
Bytes Leaf(const std::vector<Entry>& entries)
{
    Bytes node(4096, 0);
    const uint64_t oid = 0x777;
    const uint32_t type = 3, subtype = 14;
    std::memcpy(&node[8], &oid, 8);
    std::memcpy(&node[24], &type, 4);
    std::memcpy(&node[28], &subtype, 4);
    const uint16_t flags = 2, tableLength = 8 * 64;
    const uint32_t count = static_cast<uint32_t>(entries.size());
    std::memcpy(&node[32], &flags, 2);
    std::memcpy(&node[36], &count, 4);
    std::memcpy(&node[42], &tableLength, 2);
    size_t keyAt = 0, valueEnd = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        valueEnd += e.value.size();
        const uint16_t toc[4] = {static_cast<uint16_t>(keyAt), static_cast<uint16_t>(e.key.size()),
                                 static_cast<uint16_t>(valueEnd), static_cast<uint16_t>(e.value.size())};
        std::memcpy(&node[56 + 8 * i], toc, 8);
        std::memcpy(&node[56 + tableLength + keyAt], e.key.data(), e.key.size());
        std::memcpy(&node[4096 - valueEnd], e.value.data(), e.value.size());
        keyAt += (e.key.size() + 7) / 8 * 8;
    }
    return node;
}

constexpr uint64_t kNs = 1000000000ULL;

class ApfsRecords : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_device = OpenImageFileDisk(SharedApfsFixture().empty);
        ASSERT_TRUE(m_device);
        m_scan.SetDirecotryTreeBuilder(&m_builder);
        m_scan.SetDevice(m_device.get());
        m_scan.AnalyzeBlock(0, 64);  // the container superblock
        ASSERT_EQ(m_scan.GetContainerCount(), 1u);
        m_builder.nodes.clear();
    }
    void Offer(const std::vector<Entry>& entries, uint64_t block = 30000)
    {
        const Bytes leaf = Leaf(entries);
        m_scan.GetContainers().begin()->second->AnalyzeLeafBlock(block * 8, block, leaf.data());
    }

    std::unique_ptr<CImageFileDevice> m_device;
    APFSDeepScan m_scan;
    RecordingBuilder m_builder;
};

}  // namespace

TEST_F(ApfsRecords, InodeDatesOutsideTheirRangeLeaveAFileUnreported)
{
    const uint64_t early = 400000000ULL * kNs;  // 1982
    const uint64_t late = 1900000000ULL * kNs;  // 2030
    const uint64_t fine = 1600000000ULL * kNs;
    Offer({Inode(40, 2, "early.txt", 0100644, early, 10), Inode(41, 2, "late.txt", 0100644, late, 10),
           Inode(42, 2, "fine.txt", 0100644, fine, 10)});
    m_scan.EndSearch(1);
    EXPECT_EQ(m_builder.Find("early.txt"), nullptr);
    EXPECT_EQ(m_builder.Find("late.txt"), nullptr);
    IFileNode* node = m_builder.Find("fine.txt");
    ASSERT_NE(node, nullptr);
    EXPECT_NE(node->IsDeleted(), 0);  // found after the container was parsed
    EXPECT_EQ(node->GetFileSize(), 10);
}

TEST_F(ApfsRecords, ModeBitDecidesTheKindAndSpecialNamesAreHandled)
{
    const uint64_t t = 1600000000ULL * kNs;
    Offer({Inode(50, 2, "socket", 0140755, t), Inode(51, 2, "blockdev", 0060644, t),
           Inode(52, 2, "plain", 0100644, t), Inode(53, 2, ".DS_Store", 0100644, t),
           DirRecord(2, ".Trashes", 54, true, t), DirRecord(2, ".DS_Store", 55, false, t)});
    m_scan.EndSearch(1);
    for (const char* name : {"socket", "blockdev"}) {
        IFileNode* node = m_builder.Find(name);
        ASSERT_NE(node, nullptr) << name;
        EXPECT_NE(node->IsDirectory(), 0) << name;
    }
    ASSERT_NE(m_builder.Find("plain"), nullptr);
    EXPECT_EQ(m_builder.Find("plain")->IsDirectory(), 0);
    for (IFileNode* node : m_builder.nodes)
        EXPECT_EQ(std::string(node->GetFileName()).find("DS_Store"), std::string::npos);
    IFileNode* trash = m_builder.Find(std::string("Trashes\0", 8).c_str());
    ASSERT_NE(trash, nullptr);
    EXPECT_NE(trash->IsDirectory(), 0);
    EXPECT_NE(trash->IsDeleted(), 0);
}

TEST_F(ApfsRecords, DeadPlaceholderNameTakesTheNameOfTheNearestSameObject)
{
    const uint64_t t = 1600000000ULL * kNs;
    Offer({DirRecord(2, "Photos", 61, true, t), Inode(61, 2, "Photos", 040755, t)}, 30000);
    Offer({DirRecord(2, "0x12-dead", 61, true, t + kNs)}, 30002);
    m_scan.EndSearch(1);
    ASSERT_NE(m_builder.Find("Photos"), nullptr);
    IFileNode* renamed = m_builder.Find("Photos-12");
    ASSERT_NE(renamed, nullptr);
    // A further node of the same object gets an id of its own.
    EXPECT_NE(renamed->GetCurrentNodeID(), m_builder.Find("Photos")->GetCurrentNodeID());
    EXPECT_NE(renamed->GetCurrentNodeID() & 0xFFFFFFFF, 61);
}

// Damaged leaves: every offset, length and count in a leaf comes from the
// disk. Mutated copies of a valid leaf must never be read outside the block.
TEST_F(ApfsRecords, MutatedLeavesAreReadInsideTheBlock)
{
    const uint64_t t = 1600000000ULL * kNs;
    const Bytes valid = Leaf({DirRecord(2, "a.txt", 70, false, t), Inode(70, 2, "a.txt", 0100644, t, 5000),
                              Inode(71, 2, "Folder", 040755, t), DirRecord(71, "b.bin", 72, false, t),
                              Inode(72, 71, "b.bin", 0100644, t, 100)});
    std::mt19937 random(11);
    APFSContainer* container = m_scan.GetContainers().begin()->second;
    for (int round = 0; round < 3000; ++round) {
        Bytes leaf = valid;
        const int flips = 1 + static_cast<int>(random() % 16);
        for (int i = 0; i < flips; ++i) {
            // Mostly the header, table and key area, where the offsets live.
            const size_t at = random() % 3 ? 32 + random() % 800 : 32 + random() % (4096 - 32);
            leaf[at] = static_cast<unsigned char>(random());
        }
        container->AnalyzeLeafBlock(30000ULL * 8, 30000 + static_cast<uint64_t>(round % 7), leaf.data());
    }
    m_scan.EndSearch(1);
    SUCCEED();
}
