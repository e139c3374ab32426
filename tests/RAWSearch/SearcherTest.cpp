// The RAW searcher with analysers of the test's own in set 0, 16-sector
// blocks and a device laid out by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ISearcher.h"
#include "SearchHarness.h"
#include "SearchedPartitionInfo.h"

namespace {

constexpr uint32_t kKey = Key4('F', 'A', 'K', '1');
constexpr uint32_t kOtherKey = Key4('F', 'A', 'K', '2');
constexpr uint32_t kZeroLeadKey = Key4(0, 0, 'z', 'z');

const RawAnalyserRow kOrderRows[] = {
    {RAW_KEY_4, kKey, &CreateFakeAnalyser, 'A'},
    {RAW_KEY_2, Key2('F', 'A'), &CreateFakeAnalyser, 'B'},
    {RAW_KEY_2, Key2('F', 'A'), &CreateFakeAnalyser, 'C'},
    {RAW_KEY_2, Key2(0, 0), &CreateFakeAnalyser, 'D'},
    {RAW_EVERY_SECTOR, 0, &CreateFakeAnalyser, 'E'},
    {RAW_EVERY_SECTOR, 0, &CreateFakeAnalyser, 'F'},
    {RAW_KEY_4, kOtherKey, &CreateFakeSpecialAnalyser, 'X'},
};

// One analyser under the test key accepts everything marked for it.
const RawAnalyserRow kOneRow[] = {
    {RAW_KEY_4, kKey, &CreateFakeAnalyser, 'A'},
};

std::vector<std::string> EventsStartingWith(const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& e : FakeEvents())
        if (e.rfind(prefix, 0) == 0)
            out.push_back(e);
    return out;
}

std::vector<long long> FedSectors(long long candidateStart)
{
    std::vector<long long> out;
    const std::string prefix = "feed " + std::to_string(candidateStart) + " ";
    for (const std::string& e : EventsStartingWith(prefix))
        out.push_back(std::stoll(e.substr(prefix.size())));
    return out;
}

TEST(rawSearcher, AsksTheKeyedAnalysersInOrderAndZeroLeadingSectorsOnlyTheList)
{
    SearchHarness h(32, 512, kOrderRows);
    StampSectorNumbers(h.Device());
    // Sector 1: the map's A declines, then B, then C accepts; the list is
    // not asked.
    MarkSector(h.Device(), 1, kKey, 'S', 'C', 700);
    // Sector 2: four zero bytes: no keyed analyser, not even D under the key
    // of two zero bytes; the list in order.
    MarkSector(h.Device(), 2, 0, 'S', 'F', 600);
    // Sector 3: two zero bytes, then two others: D is asked.
    MarkSector(h.Device(), 3, kZeroLeadKey, 'S', 'D', 500);
    // Sector 4: the special probe answers through its extended probe only.
    MarkSector(h.Device(), 4, kOtherKey, 'S', '*', 400);
    h.Prepare();
    h.Block(0);

    std::vector<std::string> asks;
    for (const std::string& e : EventsStartingWith("ask ")) {
        const std::string sector = e.substr(e.rfind(' ') + 1);
        if (sector == "1" || sector == "2" || sector == "3")
            asks.push_back(e);
    }
    EXPECT_EQ(asks, (std::vector<std::string>{"ask A 1", "ask B 1", "ask C 1", "ask E 2", "ask F 2", "ask D 3"}));
    EXPECT_EQ(EventsStartingWith("ex "), (std::vector<std::string>{"ex 512 4 0 16"}));
    EXPECT_TRUE(EventsStartingWith("plain ask").empty());
    // A sector that nothing matches is asked of the list alone.
    EXPECT_EQ(EventsStartingWith("ask D").size(), 1u);
    EXPECT_EQ(EventsStartingWith("ask E").size(), 13u) << "sectors 0, 2 and 5 to 15";

    h.End();
    ASSERT_EQ(h.Files().size(), 4u);
    for (auto [start, size] : {std::pair{1LL, 700LL}, {2LL, 600LL}, {3LL, 500LL}, {4LL, 400LL}}) {
        const CarvedFile* f = h.FileAt(start);
        ASSERT_NE(f, nullptr) << start;
        EXPECT_EQ(f->size, size);
        EXPECT_EQ(f->folder, "jpg");
        EXPECT_EQ(h.FileSectors().at(start), 35u);
    }
}

TEST(rawSearcher, SkipsSectorsOwnedByFilesWholeGranulesAtATime)
{
    for (unsigned int granule : {8u, 3u}) {
        SCOPED_TRACE(granule);
        SearchHarness h(64, 512, kOrderRows);
        StampSectorNumbers(h.Device());
        MarkSector(h.Device(), 0, kKey, 'T', 'A');
        // Owned: bit 1 (sectors granule..2*granule-1) and bit 5.
        h.Bitmap().SetBit(1, granule);
        h.Bitmap().SetBit(5, granule);
        h.Run();

        std::vector<long long> asked;
        for (const std::string& e : EventsStartingWith("ask E "))
            asked.push_back(std::stoll(e.substr(6)));
        std::vector<long long> expected;
        for (long long s = 1; s < 64; ++s)
            if (s / granule != 1 && s / granule != 5)
                expected.push_back(s);
        EXPECT_EQ(asked, expected) << "owned sectors are not probed";
        expected.insert(expected.begin(), 0);
        EXPECT_EQ(FedSectors(0), expected) << "nor fed to open candidates";
    }
}

TEST(rawSearcher, ASizedProbeIsHandedOnAtOnceAndItsSectorFeedsNobody)
{
    SearchHarness h(48, 512, kOneRow);
    StampSectorNumbers(h.Device());
    MarkSector(h.Device(), 0, kKey, 'T', 'A');
    MarkSector(h.Device(), 2, kKey, 'S', 'A', 1000);
    std::memcpy(h.Device().Sector(5), "END!", 4);
    h.Prepare();
    h.Block(0);
    // Both are files before the search ends.
    ASSERT_EQ(h.Files().size(), 2u);
    EXPECT_EQ(h.Files()[0].start, 2);
    EXPECT_EQ(h.Files()[0].size, 1000);
    EXPECT_EQ(h.Files()[1].start, 0);
    EXPECT_EQ(h.Files()[1].size, 6 * 512);
    EXPECT_EQ(FedSectors(0), (std::vector<long long>{0, 1, 3, 4, 5}));
    EXPECT_EQ(FedSectors(2), std::vector<long long>{}) << "never opened";
    h.BlocksFrom(1);
    h.End();
    EXPECT_EQ(h.Files().size(), 2u);
}

TEST(rawSearcher, TheThirtyThirdStreamingCandidatePushesOutTheOldest)
{
    SearchHarness h(64, 512, kOneRow);
    StampSectorNumbers(h.Device());
    for (long long s = 0; s < 33; ++s)
        MarkSector(h.Device(), s, kKey, 'T', 'A', 100 + static_cast<uint64_t>(s));
    h.Prepare();
    h.Block(0);
    h.Block(1);
    EXPECT_TRUE(EventsStartingWith("remove ").empty());
    EXPECT_EQ(h.Searcher().GetOpenCount(), 32);
    h.Block(2);
    EXPECT_EQ(EventsStartingWith("remove "), (std::vector<std::string>{"remove 0 32"}));
    EXPECT_EQ(h.Searcher().GetOpenCount(), 32);
    EXPECT_EQ(FedSectors(0).back(), 31) << "not fed the sector that pushed it out";
    h.BlocksFrom(3);
    h.End();
    // Every candidate is sized by its owner in the end, the pushed-out one
    // too.
    ASSERT_EQ(h.Files().size(), 33u);
    for (long long s = 0; s < 33; ++s) {
        const CarvedFile* f = h.FileAt(s);
        ASSERT_NE(f, nullptr) << s;
        EXPECT_EQ(f->size, 100 + s);
    }
}

TEST(rawSearcher, AWaitingCandidateIsSizedFromTheRingBeforeItsBlockLeaves)
{
    const long long blocks = 22;
    SearchHarness h(blocks * SearchHarness::kBlock, 512, kOneRow);
    StampSectorNumbers(h.Device());
    MarkSector(h.Device(), 5, kKey, 'P', 'A', 777);
    MarkSector(h.Device(), 40, kKey, 'P', 'A', 888);
    h.Prepare();
    for (long long b = 0; b < 20; ++b)
        h.Block(b);
    EXPECT_TRUE(h.Files().empty()) << "the ring is not full yet";
    EXPECT_EQ(h.Searcher().GetWaitCount(), 2u);
    h.Block(20);
    // Block 0 leaves the ring now: its candidate is sized from memory.
    ASSERT_EQ(h.Files().size(), 1u);
    EXPECT_EQ(h.Files()[0].start, 5);
    EXPECT_EQ(h.Files()[0].size, 777);
    h.Block(21);
    EXPECT_EQ(h.Files().size(), 1u) << "block 2 is still in the ring";
    h.End();
    ASSERT_EQ(h.Files().size(), 2u);
    EXPECT_EQ(h.Files()[1].size, 888);
    // The device was read block by block and, at the end, for the candidate
    // still waiting; never for the one the ring sized.
    for (const CCountingDevice::Read& r : h.Counting().Reads())
        EXPECT_TRUE(r.count == SearchHarness::kBlock || r.first == 40) << r.first << "+" << r.count;
}

TEST(rawSearcher, EndSearchWithoutBuildingAddsNothing)
{
    SearchHarness h(32, 512, kOneRow);
    StampSectorNumbers(h.Device());
    MarkSector(h.Device(), 3, kKey, 'P', 'A', 300);
    MarkSector(h.Device(), 4, kKey, 'T', 'A');
    MarkSector(h.Device(), 6, kKey, 'Z', 'A');
    h.Prepare();
    h.BlocksFrom(0);
    const int alive = FakeCandidatesAlive();
    EXPECT_EQ(alive, 3);
    h.End(0);
    EXPECT_TRUE(h.Files().empty());
    EXPECT_TRUE(h.Builder().Flashed().empty());
    EXPECT_TRUE(EventsStartingWith("size ").empty());
    h.DestroySearcher();
    EXPECT_EQ(FakeCandidatesAlive(), 0);
}

// A streaming candidate that knows its size from its first sector and never
// finishes (as archives that count while they stream) is a file after all.
TEST(rawSearcher, ACandidateSizedWhileStreamingBecomesAFileAtTheEnd)
{
    SearchHarness h(32, 512, kOneRow);
    StampSectorNumbers(h.Device());
    MarkSector(h.Device(), 7, kKey, 'Z', 'A');
    h.Run();
    ASSERT_EQ(h.Files().size(), 1u);
    EXPECT_EQ(h.Files()[0].start, 7);
    EXPECT_EQ(h.Files()[0].size, 3 * 512);
    EXPECT_TRUE(EventsStartingWith("size ").empty()) << "its owner is not asked again";
    EXPECT_EQ(FakeCandidatesAlive(), 0);
}

TEST(rawSearcher, AStopMidBlockLeavesNothingBehind)
{
    SearchHarness h(64, 512, kOneRow);
    StampSectorNumbers(h.Device());
    MarkSector(h.Device(), 1, kKey, 'T', 'A');
    MarkSector(h.Device(), 2, kKey, 'P', 'A', 100);
    MarkSector(h.Device(), 3, kKey, 'Z', 'A');
    h.StopAfter(20);
    h.Prepare();
    h.BlocksFrom(0);
    EXPECT_GT(FakeCandidatesAlive(), 0);
    // The deep scan skips the end of a stopped RAW search.
    h.DestroySearcher();
    EXPECT_EQ(FakeCandidatesAlive(), 0);
    EXPECT_TRUE(h.Files().empty());
}

TEST(rawSearcher, AnUnreadableBlockKeepsTheMemoryAligned)
{
    const long long blocks = 26;
    SearchHarness h(blocks * SearchHarness::kBlock, 512, kOneRow);
    StampSectorNumbers(h.Device());
    MarkSector(h.Device(), 2, kKey, 'T', 'A');
    std::memcpy(h.Device().Sector(70), "END!", 4);
    // Wait in blocks 2 and 5, and are sized from the ring when blocks 22
    // and 25 arrive.
    MarkSector(h.Device(), 34, kKey, 'P', 'A', 3434);
    MarkSector(h.Device(), 82, kKey, 'P', 'A', 8282);
    h.Counting().FailSectors(3 * SearchHarness::kBlock + 4, 1);
    h.Prepare();
    h.BlocksFrom(0);
    h.End();

    std::vector<long long> fed = FedSectors(2);
    EXPECT_TRUE(std::none_of(fed.begin(), fed.end(), [](long long s) { return s >= 48 && s < 64; }))
        << "nothing of the unreadable block is fed";
    EXPECT_EQ(fed.back(), 70);
    ASSERT_NE(h.FileAt(2), nullptr);
    EXPECT_EQ(h.FileAt(2)->size, 69 * 512);
    for (auto [start, size] : {std::pair{34LL, 3434LL}, {82LL, 8282LL}}) {
        ASSERT_NE(h.FileAt(start), nullptr);
        EXPECT_EQ(h.FileAt(start)->size, size) << "the ring holds each sector at its place";
    }
    for (const CCountingDevice::Read& r : h.Counting().Reads())
        EXPECT_EQ(r.count, SearchHarness::kBlock) << "sized from the ring, not the device: " << r.first;
}

// Reads past a short last block see zeros, never the block that was in
// memory before.
TEST(rawSearcher, BytesPastAShortLastBlockAreNeverStale)
{
    SearchHarness h(40, 512, kOneRow);
    for (long long s = 0; s < 40; ++s)
        std::memset(h.Device().Sector(s), 0xA5, 512);
    StampSectorNumbers(h.Device());
    MarkSector(h.Device(), 1, kKey, 'R', 'A');
    h.Run();
    EXPECT_EQ(EventsStartingWith("past "), (std::vector<std::string>{"past 15 zero", "past 31 zero", "past 39 zero"}));
}

TEST(rawSearcher, SizesEndAtTheDeviceEnd)
{
    // The real probes: a bitmap whose size field claims 2 GiB, and a
    // metafile whose size in words does not fit 32 bits once doubled.
    SearchHarness h(64, 512, GetRawAnalyserRows());
    unsigned char bmp[64] = {'B', 'M'};
    const uint32_t bmpSize = 0x7FFFFFFF, header = 40;
    std::memcpy(bmp + 2, &bmpSize, 4);
    std::memcpy(bmp + 14, &header, 4);
    h.Device().Put(40 * 512, bmp, sizeof(bmp));
    unsigned char wmf[32] = {0x01, 0x00, 0x09, 0x00};
    const uint32_t words = 0x80000001;
    std::memcpy(wmf + 6, &words, 4);
    h.Device().Put(60 * 512, wmf, sizeof(wmf));
    h.Run();
    const CarvedFile* b = h.FileAt(40);
    const CarvedFile* w = h.FileAt(60);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(b->size, 24 * 512);
    EXPECT_EQ(b->folder, "bmp");
    EXPECT_EQ(w->size, 4 * 512);
    EXPECT_EQ(w->folder, "wmf");
}

TEST(rawSearcher, ReportsOnePartitionForTheWholeDeviceAndChecksItsArguments)
{
    ByteDevice device(8, 4096);
    CRAWSearchController searcher;
    EXPECT_EQ(searcher.GetSearchedPartitionInfo(nullptr, 1), 1);
    CSearchedPartitionInfo* out[1] = {nullptr};
    EXPECT_EQ(searcher.GetSearchedPartitionInfo(out, 0), 1);
    EXPECT_EQ(out[0], nullptr);
    searcher.SetDevice(&device);
    EXPECT_EQ(searcher.GetSearchedPartitionInfo(out, 1), 1);
    ASSERT_NE(out[0], nullptr);
    EXPECT_EQ(out[0]->GetSectorSize(), 4096u);
    EXPECT_EQ(out[0]->GetScore(), 1.0);
    EXPECT_EQ(out[0]->GetSectorsPerUnit(), 1u);
    EXPECT_EQ(out[0]->GetUnitBase(), 0);
    EXPECT_EQ(out[0]->GetPartitionStart(), 0);
    EXPECT_EQ(out[0]->GetTotalSectors(), 0u);
    EXPECT_EQ(out[0]->GetFileSystemType(), FS_UNKNOWN);
    delete out[0];

    EXPECT_DEATH(searcher.SetDevice(nullptr), "NULL != pDevice");
    EXPECT_DEATH(searcher.SetBlockSize(0), "0 < iSectorsperBlock");
}

TEST(rawSearcher, AnnouncesBothTreesAndFlashesThemAtTheEnd)
{
    SearchHarness h(16, 512, kOneRow);
    h.Run();
    EXPECT_EQ(h.Builder().SearcherInfos(),
              (std::vector<std::pair<_tagSearcherType, long long>>{{SEARCHER_RAW, 1}, {SEARCHER_LABEL_RAW, 1000}}));
    EXPECT_EQ(h.Builder().Flashed(), (std::vector<_tagSearcherType>{SEARCHER_RAW, SEARCHER_LABEL_RAW}));
    EXPECT_EQ(h.Searcher().GetBitmap(), nullptr) << "forgotten at the end";
}

}  // namespace

// A header at a sector start ends every open candidate that has no size yet
// and whose structure does not hold that sector: no output runs into the
// head of another file.
TEST(rawSearcher, AHeaderEndsAnOpenCandidateThatDoesNotHoldItsSector)
{
    const struct {
        const char* what;
        long long openAt;
        char openKind;
        long long headerAt;
        char headerKind;
        // The open candidate's size: its owner's field (99999) cut at the
        // header, or its own end at the END! sector 30.
        long long size;
    } cases[] = {
        {"a sized file's header", 1, 'U', 6, 'S', 5 * 512},
        {"another streaming file's header", 1, 'U', 4, 'T', 3 * 512},
        {"a header in the next block", 10, 'U', 16, 'S', 6 * 512},
        {"a header two blocks on", 2, 'U', 28, 'S', 26 * 512},
        {"a candidate that holds the sector", 1, 'T', 6, 'S', 30 * 512},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SearchHarness h(64, 512, kOneRow);
        StampSectorNumbers(h.Device());
        MarkSector(h.Device(), c.openAt, kKey, c.openKind, 'A', 99999);
        MarkSector(h.Device(), c.headerAt, kKey, c.headerKind, 'A', 700);
        std::memcpy(h.Device().Sector(c.openAt + 29), "END!", 4);
        h.Run();
        const CarvedFile* open = h.FileAt(c.openAt);
        ASSERT_NE(open, nullptr);
        EXPECT_EQ(open->size, c.size);
        const std::vector<long long> fed = FedSectors(c.openAt);
        ASSERT_FALSE(fed.empty());
        if (c.openKind == 'U') {
            // The two zero sectors it ends on stand in the header's place.
            EXPECT_LE(fed.back(), c.headerAt + 1) << "not fed past the header";
        }
        const CarvedFile* next = h.FileAt(c.headerAt);
        ASSERT_NE(next, nullptr) << "the header's own file";
    }
}
