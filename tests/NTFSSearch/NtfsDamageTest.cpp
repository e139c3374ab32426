// Damaged records and run lists yield fewer files, never a crash or a hang;
// a stop request ends the walk with what was found so far.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <set>

#include "ImageFileDevice.h"
#include "NTFSFileNode.h"
#include "NTFSFileRecord.h"
#include "NTFSQuickSearch.h"
#include "NtfsTestSupport.h"
#include "TestSupport.h"

namespace {

struct Result {
    ResultCode code = 0;
    std::set<std::string> paths;
    std::map<std::string, long long> sizes;
};

Result ScanImage(const std::string& image, CNtfsRecordingProgress* progress = nullptr)
{
    Result out;
    auto device = OpenImageFileDisk(image);
    EXPECT_TRUE(device);
    if (!device)
        return out;
    CNtfsRecordingBuilder builder;
    CNtfsRecordingProgress own;
    CNTFSQuickSearch searcher;
    searcher.SetDirecotryTreeBuilder(&builder);
    out.code = searcher.QuickSearchFiles(device.get(), progress ? progress : &own);
    for (const auto& [path, node] : builder.ByPath()) {
        out.paths.insert(path);
        out.sizes[path] = node->GetFileSize();
    }
    return out;
}

uint32_t U32(const std::vector<uint8_t>& r, size_t at)
{
    uint32_t v;
    std::memcpy(&v, r.data() + at, 4);
    return v;
}

}  // namespace

TEST(ntfs_damage, DamagedRecordsLoseOnlyThemselves)
{
    const std::string basic = NtfsImagePath("ntfs-basic.img");
    const auto oracle = NtfsFlsTree(basic);
    const Result intact = ScanImage(basic);
    ASSERT_EQ(intact.code, 0u);
    ASSERT_TRUE(oracle.count("/small.txt") && oracle.count("/big.bin"));
    const long long small = oracle.at("/small.txt").inode, big = oracle.at("/big.bin").inode;

    struct Case {
        const char* what;
        long long record;
        std::function<void(std::vector<uint8_t>&)> change;
        bool keepRaw;
        const char* lost;  // the path that goes, or null when the file stays
    };
    const Case cases[] = {
        {"attribute longer than the record", big,
         [](auto& r) {
             const uint32_t at = CNTFSFileRecord::GetAttributeOffset(r.data(), NTFS_ATTR_DATA, 0);
             const uint32_t length = 0x10000;
             std::memcpy(r.data() + at + 4, &length, 4);
         },
         false, "/big.bin"},
        {"first attribute at 1,016", small, [](auto& r) { r[20] = 0xF8; r[21] = 0x03; }, false, "/small.txt"},
        {"first attribute at 65,535", small, [](auto& r) { r[20] = 0xFF; r[21] = 0xFF; }, false, "/small.txt"},
        {"update sequence offset past the record", small, [](auto& r) { r[4] = 0xF0; r[5] = 0x03; }, true,
         "/small.txt"},
        {"signature", big, [](auto& r) { r[0] = 'B'; }, true, "/big.bin"},
        {"torn second stride", big, [](auto& r) { r[1022] ^= 0xFF; }, true, nullptr},
        {"mapping pairs running off the attribute", big,
         [](auto& r) {
             const uint32_t at = CNTFSFileRecord::GetAttributeOffset(r.data(), NTFS_ATTR_DATA, 0);
             const uint16_t pairs = static_cast<uint16_t>(r[at + 32] | r[at + 33] << 8);
             std::memset(r.data() + at + pairs, 0x44, U32(r, at + 4) - pairs);
         },
         false, "/big.bin"},
        {"record number of a base record far away", big,
         [](auto& r) { const uint64_t base = 0xFFFFFFFFFFFFULL; std::memcpy(r.data() + 32, &base, 8); }, false,
         "/big.bin"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string image = dir / "damaged.img";
        CopyImage(basic, image);
        PatchRecord(image, c.record, c.change, c.keepRaw);
        const Result got = ScanImage(image);
        EXPECT_EQ(got.code, 0u) << c.what;
        std::set<std::string> expected = intact.paths;
        if (c.lost)
            expected.erase(c.lost);
        EXPECT_EQ(got.paths, expected) << c.what;
    }
}

namespace {

// An image whose listed sectors cannot be read: any read that touches one
// fails and zero-fills.
class CBadSectorDevice : public CImageFileDevice {
public:
    explicit CBadSectorDevice(std::set<long long> bad) : m_bad(std::move(bad)) {}
    int ReadSector(void* buffer, long long first, long long count) override
    {
        for (long long s : m_bad)
            if (s >= first && s < first + count) {
                std::memset(buffer, 0, static_cast<size_t>(count) * GetSectorSize());
                return 0;
            }
        return CImageFileDevice::ReadSector(buffer, first, count);
    }

private:
    std::set<long long> m_bad;
};

}  // namespace

TEST(ntfs_damage, UnreadableSectorCostsOnlyItsRecord)
{
    const std::string basic = NtfsImagePath("ntfs-basic.img");
    const Result intact = ScanImage(basic);
    const auto oracle = NtfsFlsTree(basic);
    // The first sector of small.txt's record (with only the second one
    // unreadable the record would survive: its attributes end in the first).
    const long long bad = static_cast<long long>(NtfsRecordOffset(basic, oracle.at("/small.txt").inode) / 512);
    CBadSectorDevice device({bad});
    std::string path = basic;
    ASSERT_EQ(device.Open(path.data()), 1);
    CNtfsRecordingBuilder builder;
    CNtfsRecordingProgress progress;
    CNTFSQuickSearch searcher;
    searcher.SetDirecotryTreeBuilder(&builder);
    EXPECT_EQ(searcher.QuickSearchFiles(&device, &progress), 0u);
    std::set<std::string> expected = intact.paths;
    expected.erase("/small.txt");
    std::set<std::string> got;
    for (const auto& [p, node] : builder.ByPath())
        got.insert(p);
    EXPECT_EQ(got, expected);
}

TEST(ntfs_damage, MFTRunListsCannotRunAway)
{
    const std::string basic = NtfsImagePath("ntfs-basic.img");
    const Result intact = ScanImage(basic);
    // Each case rewrites the mapping pairs of the $MFT record's $DATA, given
    // the real pairs and the room there is.
    struct Case {
        const char* what;
        std::function<std::vector<uint8_t>(const uint8_t* pairs, size_t room)> make;
    } cases[] = {
        {"huge first run at the real start",
         [](const uint8_t* pairs, size_t room) {
             const int L = pairs[0] & 0x0F, O = pairs[0] >> 4;
             const int width = static_cast<int>(std::min<size_t>(4, room - 2 - O));
             std::vector<uint8_t> b = {static_cast<uint8_t>(O << 4 | width)};
             for (int i = 0; i < width; ++i)
                 b.push_back(i + 1 == width ? 0x7F : 0xFF);
             b.insert(b.end(), pairs + 1 + L, pairs + 1 + L + O);
             b.push_back(0);
             return b;
         }},
        {"run past the device", [](const uint8_t*, size_t) { return std::vector<uint8_t>{0x41, 0x10, 0, 0, 0, 0x40, 0}; }},
        {"only a sparse run", [](const uint8_t*, size_t) { return std::vector<uint8_t>{0x01, 0x40, 0}; }},
        {"negative start", [](const uint8_t*, size_t) { return std::vector<uint8_t>{0x11, 0x10, 0x80, 0}; }},
    };
    for (Case& c : cases) {
        TempDir dir;
        const std::string image = dir / "runs.img";
        CopyImage(basic, image);
        PatchRecord(image, 0, [&](std::vector<uint8_t>& r) {
            const uint32_t at = CNTFSFileRecord::GetAttributeOffset(r.data(), NTFS_ATTR_DATA, 0);
            ASSERT_NE(at, 0xFFFFFFFFu);
            const uint16_t pairsAt = static_cast<uint16_t>(r[at + 32] | r[at + 33] << 8);
            const size_t room = U32(r, at + 4) - pairsAt;
            uint8_t* pairs = r.data() + at + pairsAt;
            const std::vector<uint8_t> bytes = c.make(pairs, room);
            ASSERT_LE(bytes.size(), room) << c.what;
            std::memset(pairs, 0, room);
            std::memcpy(pairs, bytes.data(), bytes.size());
        });
        CNtfsRecordingProgress progress;
        const Result got = ScanImage(image, &progress);
        // The walk ends, over no more than the device, and finds nothing the
        // intact image does not hold.
        ASSERT_FALSE(progress.m_reports.empty()) << c.what;
        EXPECT_LE(progress.m_reports.back().total, 24ULL * 1024 * 1024 / 512) << c.what;
        for (const std::string& p : got.paths)
            EXPECT_TRUE(intact.paths.count(p)) << c.what << ": " << p;
    }
}

TEST(ntfs_damage, RandomGarbageInTheMFT)
{
    const std::string basic = NtfsImagePath("ntfs-basic.img");
    const unsigned long long first = NtfsRecordOffset(basic, 16);
    for (unsigned seed = 1; seed <= 12; ++seed) {
        TempDir dir;
        const std::string image = dir / "fuzz.img";
        CopyImage(basic, image);
        std::mt19937 random(seed);
        std::vector<uint8_t> region = ReadAt(image, first, 80 * 1024);
        // Flip bytes, keeping most signatures so that the walk goes deep.
        for (int i = 0; i < 400; ++i)
            region[random() % region.size()] = static_cast<uint8_t>(random());
        WriteAt(image, first, region.data(), region.size());
        const Result got = ScanImage(image);
        EXPECT_EQ(got.code, 0u) << "seed " << seed;
    }
}

TEST(ntfs_damage, StopAfterTheFirstBatch)
{
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "no ntfs-3g mount here: the MFT is too small to stop in";
    const std::string basic = NtfsImagePath("ntfs-basic.img");
    const Result all = ScanImage(basic);
    CNtfsRecordingProgress progress;
    // One call before the run, two batches (MFT records 0 to 127), then stop.
    progress.m_stopAfter = 3;
    const Result some = ScanImage(basic, &progress);
    EXPECT_EQ(some.code, 0u);
    EXPECT_LT(some.paths.size(), all.paths.size());
    EXPECT_TRUE(some.paths.count("/small.txt"));       // record 64
    EXPECT_FALSE(some.paths.count("/many/m100.txt"));  // a record above 127
    ASSERT_FALSE(progress.m_reports.empty());
    EXPECT_EQ(progress.m_reports.back().state, 3u);

    // Nodes the builder refuses are given back at once (the sanitizer build
    // reports any that are not).
    auto device = OpenImageFileDisk(basic);
    CNtfsRecordingBuilder refusing;
    refusing.m_refuse = [](IFileNode*) { return true; };
    CNtfsRecordingProgress sink;
    CNTFSQuickSearch searcher;
    searcher.SetDirecotryTreeBuilder(&refusing);
    EXPECT_EQ(searcher.QuickSearchFiles(device.get(), &sink), 0u);
    EXPECT_TRUE(refusing.m_nodes.empty());
}
