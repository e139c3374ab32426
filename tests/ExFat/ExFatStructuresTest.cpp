// Boot sector, entry tests, entry-set checksum, times, the directory-cluster
// parser and the recogniser, against the committed images and crafted
// entries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "EFDTAnalyze.h"
#include "ExFatDBR.h"
#include "ExFatDirEntry.h"
#include "ExFatQuickSearch.h"
#include "ExFatTestSupport.h"
#include "ExFatVolumeAnalyze.h"
#include "ImageFileDevice.h"
#include "SearcherRegistry.h"
#include "TestSupport.h"

namespace {

std::vector<uint8_t> BootSector(const std::string& image, unsigned int sectorSize = 512)
{
    return ReadAt(image, 0, sectorSize);
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

const _tagExFatDirEntry& AsEntry(const Entry& e) { return *_tagExFatDirEntry::At(e.b); }

std::string Utf8(const std::u16string& s)
{
    CUtf16NameConverter converter;
    std::string out;
    converter.Convert(s, out);
    return out;
}

// The clusters of one folder of ex-quick.img, as istat lists its sectors.
std::vector<uint32_t> FolderClusters(const std::string& image, long long inode)
{
    std::vector<uint32_t> clusters;
    for (long long s : Istat(image, inode).sectors)
        if ((s - kQuickHeap) % kQuickSectorsPerCluster == 0)
            clusters.push_back(static_cast<uint32_t>((s - kQuickHeap) / kQuickSectorsPerCluster + 2));
    return clusters;
}

std::vector<uint8_t> ReadClusters(const std::string& image, const std::vector<uint32_t>& clusters)
{
    std::vector<uint8_t> out;
    for (uint32_t c : clusters) {
        std::vector<uint8_t> one = ReadAt(image, (kQuickHeap + (c - 2ULL) * kQuickSectorsPerCluster) * 512, 4096);
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

struct Folder {
    std::string path;  // "" for the root
    std::vector<uint32_t> clusters;
};

std::vector<Folder> QuickFolders()
{
    const std::string image = ExFatImagePath("ex-quick.img");
    std::vector<Folder> folders{{"", {5}}};
    for (const auto& [path, e] : FlsTree(image))
        if (e.directory)
            folders.push_back({path, FolderClusters(image, e.inode)});
    return folders;
}

}  // namespace

TEST(exfat_structures, BootSectorOfImagesAndSectorSizes)
{
    struct Case {
        std::string image;
        unsigned int sectorSize;
        bool valid;
    } cases[] = {
        {ExFatImagePath("ex-quick.img"), 512, true},
        {ExFatImagePath("ex-quick.img"), 4096, false},
        {ExFatImagePath("ex-4k.img"), 4096, true},
        {ExFatImagePath("ex-4k.img"), 512, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> sector = BootSector(c.image, 4096);
        EXPECT_EQ(CExFatDBR(sector.data()).IsValid(c.sectorSize), c.valid) << c.image << " @" << c.sectorSize;
        auto device = OpenImageFileDisk(c.image, c.sectorSize);
        ASSERT_TRUE(device);
        std::unique_ptr<IVolumeAnalyze> analyze(CreateExfatVolumeAnalyze(device.get(), 0));
        EXPECT_EQ(analyze != nullptr, c.valid) << c.image << " @" << c.sectorSize;
    }

    std::vector<uint8_t> quick = BootSector(ExFatImagePath("ex-quick.img"));
    CExFatDBR dbr(quick.data());
    EXPECT_EQ(dbr.GetBytePerSector(), 512u);
    EXPECT_EQ(dbr.GetSectorsperCluster(), 8u);
    EXPECT_EQ(dbr.GetFatStartSector(), 2048u);
    EXPECT_EQ(dbr.GetSectorsPerFat(), 128u);
    EXPECT_EQ(dbr.GetNumberOfFat(), 1u);
    EXPECT_EQ(dbr.GetTotalSectors(), 131072u);
    EXPECT_EQ(dbr.GetDataRegionStartSector(), 4096u);
    EXPECT_EQ(dbr.GetTotalCluster(), 15872u);
    EXPECT_EQ(dbr.GetRootDirStartCluster(), 5u);
    EXPECT_EQ(dbr.GetFileSystemType(), FS_EXFAT);
    EXPECT_EQ(dbr.GetActiveFatNumber(), 0u);

    std::vector<uint8_t> k4 = BootSector(ExFatImagePath("ex-4k.img"), 4096);
    CExFatDBR dbr4(k4.data());
    EXPECT_EQ(dbr4.GetBytePerSector(), 4096u);
    EXPECT_EQ(dbr4.GetSectorsperCluster(), 1u);
    EXPECT_EQ(dbr4.GetDataRegionStartSector(), 512u);
    EXPECT_EQ(dbr4.GetTotalSectors(), 16384u);
}

TEST(exfat_structures, NoFatImageIsTakenForExFat)
{
    int images = 0;
    for (const auto& file : std::filesystem::directory_iterator(FatFixtureImagesDir())) {
        if (file.path().extension() != ".img")
            continue;
        ++images;
        for (unsigned int sectorSize : {512u, 4096u}) {
            std::vector<uint8_t> sector = ReadAt(file.path().string(), 0, 4096);
            EXPECT_FALSE(CExFatDBR(sector.data()).IsValid(sectorSize)) << file.path() << " @" << sectorSize;
            auto device = OpenImageFileDisk(file.path().string(), sectorSize);
            ASSERT_TRUE(device);
            std::unique_ptr<IVolumeAnalyze> analyze(CreateExfatVolumeAnalyze(device.get(), 0));
            EXPECT_FALSE(analyze) << file.path() << " @" << sectorSize;
        }
    }
    EXPECT_GE(images, 5);
}

// Each case changes one field of ex-quick.img's boot sector.
TEST(exfat_structures, BootSectorRules)
{
    const std::vector<uint8_t> good = BootSector(ExFatImagePath("ex-quick.img"));
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> change;
        bool valid;
    } cases[] = {
        {"unchanged", [](std::vector<uint8_t>&) {}, true},
        {"signature", [](std::vector<uint8_t>& b) { b[510] = 0x56; }, false},
        {"name", [](std::vector<uint8_t>& b) { b[7] = 'X'; }, false},
        {"byte 11 set", [](std::vector<uint8_t>& b) { b[11] = 1; }, false},
        {"byte 63 set", [](std::vector<uint8_t>& b) { b[63] = 1; }, false},
        {"byte 64 set (partition offset)", [](std::vector<uint8_t>& b) { b[64] = 1; }, true},
        {"sector shift 8", [](std::vector<uint8_t>& b) { b[108] = 8; }, false},
        {"sector shift 13", [](std::vector<uint8_t>& b) { b[108] = 13; }, false},
        {"shifts add to 25", [](std::vector<uint8_t>& b) { b[109] = 16; Put32(b, 92, 1); }, true},
        {"shifts add to 26", [](std::vector<uint8_t>& b) { b[109] = 17; Put32(b, 92, 1); }, false},
        {"no FAT", [](std::vector<uint8_t>& b) { b[110] = 0; }, false},
        {"two FATs", [](std::vector<uint8_t>& b) { b[110] = 2; }, true},
        {"three FATs", [](std::vector<uint8_t>& b) { b[110] = 3; }, false},
        {"FAT length 0", [](std::vector<uint8_t>& b) { Put32(b, 84, 0); }, false},
        {"heap offset 0", [](std::vector<uint8_t>& b) { Put32(b, 88, 0); }, false},
        {"FAT offset 0", [](std::vector<uint8_t>& b) { Put32(b, 80, 0); }, false},
        {"volume length 0", [](std::vector<uint8_t>& b) { Put32(b, 72, 0); Put32(b, 76, 0); }, false},
        {"cluster count 0", [](std::vector<uint8_t>& b) { Put32(b, 92, 0); }, false},
        {"root cluster 1", [](std::vector<uint8_t>& b) { Put32(b, 96, 1); }, false},
        {"root cluster 2", [](std::vector<uint8_t>& b) { Put32(b, 96, 2); }, true},
        {"FAT past the volume", [](std::vector<uint8_t>& b) { Put32(b, 80, 131073); }, false},
        {"heap past the volume", [](std::vector<uint8_t>& b) { Put32(b, 88, 131073); }, false},
        {"FAT runs into the heap", [](std::vector<uint8_t>& b) { Put32(b, 84, 2049); }, false},
        {"FAT ends at the heap", [](std::vector<uint8_t>& b) { Put32(b, 84, 2048); }, true},
        // 4096 + 15873 x 8 = 131080: the heap ends one cluster past the volume.
        {"heap ends one cluster past", [](std::vector<uint8_t>& b) { Put32(b, 92, 15873); }, true},
        {"heap ends two clusters past", [](std::vector<uint8_t>& b) { Put32(b, 92, 15874); }, false},
        {"cluster count 2^32 - 1", [](std::vector<uint8_t>& b) { Put32(b, 92, 0xFFFFFFFF); }, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> b = good;
        c.change(b);
        EXPECT_EQ(CExFatDBR(b.data()).IsValid(512), c.valid) << c.what;
    }
    std::vector<uint8_t> b = good;
    b[106] = 1;
    EXPECT_EQ(CExFatDBR(b.data()).GetActiveFatNumber(), 1u);
}

TEST(exfat_structures, FileNameCharacterTable)
{
    const std::set<unsigned int> invalid = {0x22, 0x2A, 0x2F, 0x3A, 0x3C, 0x3E, 0x3F, 0x5C, 0x7C, 0xFF};
    for (unsigned int c = 0; c < 256; ++c) {
        const bool expected = c >= 0x1A && !invalid.count(c);
        EXPECT_EQ(g_u8FileNameCheckTable[c] != 0, expected) << "0x" << std::hex << c;
        EXPECT_EQ(IsValidFileNameChar(static_cast<char16_t>(c)), expected) << "0x" << std::hex << c;
    }
    for (char16_t c : {char16_t(0x100), char16_t(0x13A), char16_t(0xD83D), char16_t(0xFFFF)})
        EXPECT_TRUE(IsValidFileNameChar(c)) << "0x" << std::hex << static_cast<unsigned>(c);
}

TEST(exfat_structures, FileEntryRules)
{
    struct Case {
        const char* what;
        Entry entry;
        bool valid;
    } cases[] = {
        {"plain", FileEntry(2), true},
        {"deleted", FileEntry(2, 0x20, false), true},
        {"18 secondaries", FileEntry(18), true},
        {"1 secondary", FileEntry(1), false},
        {"19 secondaries", FileEntry(19), false},
        {"type bit 5", FileEntry(2).Byte(0, 0xA5), false},
        {"type bit 6", FileEntry(2).Byte(0, 0xC5), false},
        {"day 0 in the created stamp", FileEntry(2).U32(8, (41u << 25) | (3u << 21)), false},
        {"month 0 in the modified stamp", FileEntry(2).U32(12, (41u << 25) | (4u << 16)), false},
        {"month 13 in the accessed stamp", FileEntry(2).U32(16, (41u << 25) | (13u << 21) | (4u << 16)), false},
        {"hour 24", FileEntry(2).U32(8, (41u << 25) | (3u << 21) | (4u << 16) | (24u << 11)), false},
        {"minute 60", FileEntry(2).U32(8, (41u << 25) | (3u << 21) | (4u << 16) | (60u << 5)), false},
        {"seconds/2 = 30", FileEntry(2).U32(8, (41u << 25) | (3u << 21) | (4u << 16) | 30u), false},
        {"seconds/2 = 29", FileEntry(2).U32(8, (41u << 25) | (3u << 21) | (4u << 16) | 29u), true},
        {"10 ms 199", FileEntry(2).Byte(20, 199).Byte(21, 199), true},
        {"create 10 ms 200", FileEntry(2).Byte(20, 200), false},
        {"modify 10 ms 200", FileEntry(2).Byte(21, 200), false},
        {"reserved word at 6", FileEntry(2).U16(6, 1), false},
        {"byte 25", FileEntry(2).Byte(25, 1), false},
        {"byte 31", FileEntry(2).Byte(31, 1), false},
        {"UTC offsets and checksum are not judged", FileEntry(2).U16(2, 0xBEEF).Byte(22, 0xFF).Byte(24, 0x84), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsValidFileEntry(AsEntry(c.entry)), c.valid) << c.what;
}

TEST(exfat_structures, StreamEntryRules)
{
    ExFatEntryLimits limits;
    limits.dwSectorShift = 9;
    limits.dwClusterShift = 12;
    limits.u64DeviceSectors = 131072;
    struct Case {
        const char* what;
        Entry entry;
        bool valid;
    } cases[] = {
        {"plain", StreamEntry(5, 24, 18000), true},
        {"deleted", StreamEntry(5, 24, 18000, true, false), true},
        {"empty file, cluster 0", StreamEntry(5, 0, 0, false), true},
        {"cluster 1", StreamEntry(5, 1, 100), false},
        {"cluster 0xFFFFFFF6", StreamEntry(5, 0xFFFFFFF6, 0, false), true},
        {"cluster 0xFFFFFFF7", StreamEntry(5, 0xFFFFFFF7, 0, false), false},
        {"type bits 0b11", StreamEntry(5, 24, 100).Byte(0, 0xE0), false},
        {"type bits 0b00", StreamEntry(5, 24, 100).Byte(0, 0x80), false},
        {"byte 2", StreamEntry(5, 24, 100).Byte(2, 1), false},
        {"word at 6", StreamEntry(5, 24, 100).U16(6, 1), false},
        {"dword at 16", StreamEntry(5, 24, 100).U32(16, 1), false},
        {"length just inside the device", StreamEntry(5, 2, 131071ULL * 512 + 511), true},
        {"length of the whole device", StreamEntry(5, 2, 131072ULL * 512), false},
        {"valid length of the whole device", StreamEntry(5, 2, 100).U64(8, 131072ULL * 512), false},
        {"contiguous run past the last cluster", StreamEntry(5, 0xFFFFFFF0, 6 * 4096ULL), false},
        {"contiguous run up to the last cluster", StreamEntry(5, 0xFFFFFFF0, 5 * 4096ULL), true},
        {"chained, the run test does not apply", StreamEntry(5, 0xFFFFFFF0, 6 * 4096ULL, false), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsValidStreamEntry(AsEntry(c.entry), limits), c.valid) << c.what;
}

TEST(exfat_structures, NameAndLabelEntryRules)
{
    struct Case {
        const char* what;
        Entry entry;
        bool valid;
    } names[] = {
        {"plain", NameEntry(u"data.txt"), true},
        {"deleted", NameEntry(u"data.txt", false), true},
        {"0x1A", NameEntry(u"a\x1A" "b"), true},
        {"0x1F", NameEntry(u"a\x1F" "b"), true},
        {"0x19", NameEntry(u"a\x19" "b"), false},
        {"colon", NameEntry(u"a:b"), false},
        {"0xFF", NameEntry(u"a\xFF"), false},
        {"U+0100 and above", NameEntry(u"\x100\xFFFF\xD83D"), true},
        {"first character 0", NameEntry(u"").U16(4, 'a'), false},
        {"bad character after the first zero", NameEntry(u"ab").U16(8, ':'), true},
        {"secondary flags", NameEntry(u"ab").Byte(1, 1), false},
        {"type bits 0b00", NameEntry(u"ab").Byte(0, 0x81), false},
    };
    for (const Case& c : names)
        EXPECT_EQ(IsValidFileNameEntry(AsEntry(c.entry)), c.valid) << c.what;

    auto label = [](const std::u16string& text, uint8_t count) {
        Entry e = NameEntry(text);
        e.Byte(0, 0x83).Byte(1, count);
        return e;
    };
    Case labels[] = {
        {"EXQUICK", label(u"EXQUICK", 7), true},
        {"no label", label(u"", 0).Byte(0, 0x03), true},
        {"11 characters", label(u"ABCDEFGHIJK", 11), true},
        {"count 12", label(u"ABCDEFGHIJK", 12), false},
        {"character past the count", label(u"EXQUICK", 6), false},
        {"invalid character", label(u"EX*", 3), false},
        {"byte 24", label(u"EX", 2).Byte(24, 1), false},
        {"type bit 5", label(u"EX", 2).Byte(0, 0xA3), false},
    };
    for (const Case& c : labels)
        EXPECT_EQ(IsValidVolumeLabelEntry(AsEntry(c.entry)), c.valid) << c.what;
}

TEST(exfat_structures, ChecksumOfEveryEntrySetOfTheImage)
{
    const std::string image = ExFatImagePath("ex-quick.img");
    int live = 0, deleted = 0;
    for (const Folder& folder : QuickFolders()) {
        const std::vector<uint8_t> bytes = ReadClusters(image, folder.clusters);
        for (size_t at = 0; at + 32 <= bytes.size(); at += 32) {
            const uint8_t type = bytes[at];
            if (type == 0)
                break;
            if (type != 0x85 && type != 0x05)
                continue;
            const size_t length = (bytes[at + 1] + 1u) * 32;
            ASSERT_LE(at + length, bytes.size()) << folder.path;
            const uint16_t stored = static_cast<uint16_t>(bytes[at + 2] | (bytes[at + 3] << 8));
            EXPECT_TRUE(CheckDirEntry(bytes.data() + at, length, stored)) << folder.path << " entry " << at / 32;
            std::vector<uint8_t> set(bytes.begin() + at, bytes.begin() + at + length);
            set.back() ^= 0x40;  // one bit of the last name
            EXPECT_FALSE(CheckDirEntry(set.data(), length, stored)) << folder.path << " entry " << at / 32;
            if (type == 0x05) {
                ++deleted;
                // Only the sum over the restored types matches a deleted set.
                set = std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + length);
                set[0] = 0x85;
                for (size_t i = 32; i < length; i += 32)
                    set[i] = i == 32 ? 0xC0 : 0xC1;
                EXPECT_EQ(SetChecksumOf(set.data(), length), stored);
                set = std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + length);
                EXPECT_NE(SetChecksumOf(set.data(), length), stored);
            } else {
                ++live;
            }
        }
    }
    EXPECT_EQ(live, kQuickNodes - 8);
    EXPECT_EQ(deleted, 8);

    EXPECT_TRUE(CheckDirEntry(nullptr, 0, 0));
    EXPECT_FALSE(CheckDirEntry(nullptr, 0, 1));
    // A crafted set: the restored sum is tried only for a deleted file entry.
    std::vector<uint8_t> set = EntrySet(u"x.txt", 9, 100);
    const uint16_t sum = static_cast<uint16_t>(set[2] | (set[3] << 8));
    EXPECT_TRUE(CheckDirEntry(set.data(), set.size(), sum));
    for (size_t i = 32; i < set.size(); i += 32)
        set[i] &= 0x7F;
    EXPECT_FALSE(CheckDirEntry(set.data(), set.size(), sum)) << "live file entry, deleted secondaries";
    set[0] = 0x05;
    EXPECT_TRUE(CheckDirEntry(set.data(), set.size(), sum));
}

TEST(exfat_structures, DosTimeIsReadAsLocalTime)
{
    struct Case {
        uint16_t time, date;
        long long unixSeconds;
    } cases[] = {
        {(5u << 11) | (6u << 5) | 4u, (41u << 9) | (3u << 5) | 4u, 1614834368},   // 2021-03-04 05:06:08
        {0, (0u << 9) | (1u << 5) | 1u, 315532800},                                // 1980-01-01 00:00:00
        {(23u << 11) | (59u << 5) | 29u, (127u << 9) | (12u << 5) | 31u, 4354819198},  // 2107-12-31 23:59:58
        {(12u << 11), (44u << 9) | (2u << 5) | 29u, 1709208000},                   // 2024-02-29 12:00:00
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileTimeToU64(DosTime2FileTime({c.time, c.date})), UnixToFileTime(c.unixSeconds))
            << c.unixSeconds;

    // The stamp is taken as local time: five hours west, the same stamp is
    // five hours later in UTC.
    const char* saved = std::getenv("TZ");
    const std::string savedTz = saved ? saved : "";
    setenv("TZ", "EST5", 1);
    tzset();
    const unsigned long long west = FileTimeToU64(DosTime2FileTime({cases[0].time, cases[0].date}));
    if (saved)
        setenv("TZ", savedTz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    EXPECT_EQ(west, UnixToFileTime(cases[0].unixSeconds + 5 * 3600));
}

// Every folder of ex-quick.img, cluster by cluster, against fls and istat.
TEST(exfat_structures, ParserRecordsMatchTheOracle)
{
    const std::string image = ExFatImagePath("ex-quick.img");
    const auto tree = FlsTree(image);
    const std::set<std::string> chained = {"D.txt", "S.txt"};
    size_t records = 0;
    for (const Folder& folder : QuickFolders()) {
        CEFDTAnalyze analyze;
        analyze.PrepareAnayze(9, 12, 131072);
        const std::vector<uint8_t> bytes = ReadClusters(image, folder.clusters);
        for (size_t k = 0; k < folder.clusters.size(); ++k) {
            const long long sector = kQuickHeap + (folder.clusters[k] - 2LL) * kQuickSectorsPerCluster;
            const bool whole = analyze.Analyze(bytes.data() + k * 4096, 4096, sector);
            // Only the last cluster holds the end-of-folder entry.
            EXPECT_EQ(whole, k + 1 < folder.clusters.size()) << folder.path << " cluster " << k;
        }
        std::map<std::string, _tagFileBaseInfo> found;
        for (const _tagFileBaseInfo& r : analyze.GetFileList())
            found[r.szName] = r;

        const std::string prefix = folder.path.empty() ? "" : folder.path + "/";
        size_t children = 0;
        for (const auto& [path, e] : tree) {
            if (path.compare(0, prefix.size(), prefix) != 0 || path.find('/', prefix.size()) != std::string::npos)
                continue;
            ++children;
            const std::string name = path.substr(prefix.size());
            auto it = found.find(name);
            ASSERT_NE(it, found.end()) << path;
            const _tagFileBaseInfo& r = it->second;
            const IstatInfo info = Istat(image, e.inode);
            EXPECT_EQ(static_cast<long long>(r.u64DataLength), info.size) << path;
            const uint32_t cluster = info.sectors.empty()
                                         ? 0
                                         : static_cast<uint32_t>((info.sectors[0] - kQuickHeap) / 8 + 2);
            EXPECT_EQ(r.dwFirstCluster, cluster) << path;
            EXPECT_EQ(r.u8InUse, e.deleted ? 0 : 1) << path;
            EXPECT_EQ(r.IsDirectory(), e.directory) << path;
            EXPECT_EQ(r.u8NoFatChain, cluster != 0 && !chained.count(name) ? 1 : 0) << path;
            // The metadata sector is the first sector of the cluster that
            // holds the file entry.
            EXPECT_EQ((r.s64MetadataSector - kQuickHeap) % 8, 0) << path;
        }
        EXPECT_EQ(found.size(), children) << folder.path;
        records += found.size();
    }
    EXPECT_EQ(records, static_cast<size_t>(kQuickNodes));
}

TEST(exfat_structures, ParserRulesOnCraftedClusters)
{
    auto cat = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> out;
        for (const auto& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    auto bytes = [](const Entry& e) { return std::vector<uint8_t>(e.b, e.b + 32); };
    const std::vector<uint8_t> good = EntrySet(u"good.txt", 9, 100);

    struct Case {
        const char* what;
        std::vector<uint8_t> cluster;
        bool result;
        std::vector<std::string> names;
    } cases[] = {
        {"a name without its stream clears the set, the parse goes on",
         cat({bytes(FileEntry(2)), bytes(NameEntry(u"lost.txt")), good}), true, {"good.txt"}},
        {"a cluster that starts with 0x00", std::vector<uint8_t>(4096, 0), false, {}},
        {"0x00 after a set ends the parse", cat({good, bytes(Entry()), EntrySet(u"after.txt", 12, 5)}), false,
         {"good.txt"}},
        {"bitmap and up-case entries are passed over",
         cat({bytes(Entry().Byte(0, 0x81)), bytes(Entry().Byte(0, 0x82)), good}), true, {"good.txt"}},
        {"an unknown type ends the parse", cat({bytes(Entry().Byte(0, 0xA0)), good}), false, {}},
        {"a vendor entry inside a set ends the parse",
         cat({bytes(FileEntry(3)), bytes(StreamEntry(1, 9, 1)), bytes(Entry().Byte(0, 0xE0)),
              bytes(NameEntry(u"v"))}),
         false, {}},
        {"a name with 0x1A", EntrySet(u"a\x1A" "b", 9, 1), true, {"a\x1A" "b"}},
        {"a name with 0x19", cat({EntrySet(u"a\x19" "b", 9, 1), good}), false, {}},
        {"an implausible file entry ends the parse", cat({bytes(FileEntry(1)), good}), false, {}},
        {"an implausible label ends the parse", cat({bytes(Entry().Byte(0, 0x83).Byte(1, 12)), good}), false, {}},
        {"a deleted stream in a live set clears it",
         cat({bytes(FileEntry(2)), bytes(StreamEntry(5, 9, 1, true, false)), bytes(NameEntry(u"mixed")), good}),
         true, {"good.txt"}},
        {"entries that are not consecutive",
         cat({bytes(FileEntry(2)), bytes(Entry().Byte(0, 0x81)), bytes(StreamEntry(5, 9, 1)),
              bytes(NameEntry(u"apart")), good}),
         true, {"good.txt"}},
        {"a second stream clears the set",
         cat({bytes(FileEntry(3)), bytes(StreamEntry(2, 9, 1)), bytes(StreamEntry(2, 9, 1)),
              bytes(NameEntry(u"tw")), good}),
         true, {"good.txt"}},
        {"a deleted set", EntrySet(u"gone.txt", 9, 100, false), true, {"gone.txt"}},
        {"a set that is not finished in the cluster", cat({bytes(FileEntry(3)), bytes(StreamEntry(20, 9, 1)),
                                                           bytes(NameEntry(u"unfinished-name"))}),
         true, {}},
    };
    for (const Case& c : cases) {
        CEFDTAnalyze analyze;
        analyze.PrepareAnayze(9, 12, 131072);
        std::vector<uint8_t> cluster = c.cluster;
        cluster.resize(std::max<size_t>(cluster.size(), 32), 0);
        if (c.result)  // fill the rest with bitmap entries so that only the case decides
            for (size_t at = c.cluster.size(); at < cluster.size(); at += 32)
                cluster[at] = 0x81;
        EXPECT_EQ(analyze.Analyze(cluster.data(), cluster.size(), 777), c.result) << c.what;
        std::vector<std::string> names;
        for (const auto& r : analyze.GetFileList()) {
            names.push_back(r.szName);
            EXPECT_EQ(r.s64MetadataSector, 777) << c.what;
        }
        EXPECT_EQ(names, c.names) << c.what;
    }
}

TEST(exfat_structures, SetCrossingAClusterCompletesInTheNext)
{
    const std::u16string name = u"a name that needs two name entries.txt";
    const std::vector<uint8_t> set = EntrySet(name, 40, 5000);
    ASSERT_EQ(set.size(), 5u * 32);
    std::vector<uint8_t> first(4096), second(4096);
    for (size_t at = 0; at < 4096; at += 32)
        first[at] = second[at] = 0x81;
    std::copy(set.begin(), set.begin() + 64, first.end() - 64);  // file and stream
    std::copy(set.begin() + 64, set.end(), second.begin());      // the three names

    CEFDTAnalyze analyze;
    analyze.PrepareAnayze(9, 12, 131072);
    EXPECT_TRUE(analyze.Analyze(first.data(), first.size(), 4120));
    EXPECT_TRUE(analyze.GetFileList().empty());
    EXPECT_TRUE(analyze.Analyze(second.data(), second.size(), 4128));
    ASSERT_EQ(analyze.GetFileList().size(), 1u);
    const _tagFileBaseInfo& r = analyze.GetFileList().front();
    EXPECT_EQ(std::string(r.szName), Utf8(name));
    EXPECT_EQ(r.u64DataLength, 5000u);
    EXPECT_EQ(r.dwFirstCluster, 40u);
    EXPECT_EQ(r.s64MetadataSector, 4120);  // where the set started

    // A new preparation, or a new folder, forgets the unfinished set.
    analyze.GetFileList().clear();
    EXPECT_TRUE(analyze.Analyze(first.data(), first.size(), 4120));
    analyze.ClearEntrySet();
    EXPECT_TRUE(analyze.Analyze(second.data(), second.size(), 4128));
    EXPECT_TRUE(analyze.GetFileList().empty());
}

TEST(exfat_structures, NamesAreAssembledFromTheirUnits)
{
    const std::u16string emoji = u"emoji-\U0001F600-name.txt";
    const std::u16string straddle = u"abcdefghijklmn\U0001F600.txt";  // the pair spans entries 1 and 2
    ASSERT_EQ(straddle[14], 0xD83D);
    std::u16string cjk;
    for (int i = 0; i < 255; ++i)
        cjk.push_back(static_cast<char16_t>(0x540D));  // 3 UTF-8 bytes each
    std::u16string lone = u"lone-";
    lone.push_back(0xD800);
    lone += u"-x.txt";

    struct Case {
        const char* what;
        std::vector<uint8_t> set;
        std::string name;
    } cases[] = {
        {"outside the BMP", EntrySet(emoji, 9, 1), "emoji-😀-name.txt"},
        {"pair across two name entries", EntrySet(straddle, 9, 1), "abcdefghijklmn😀.txt"},
        {"unicode", EntrySet(u"Ünïcödé-名前.txt", 9, 1), "Ünïcödé-名前.txt"},
        {"lone surrogate", EntrySet(lone, 9, 1), "lone-\xEF\xBF\xBD-x.txt"},
        // 255 characters of 3 bytes: cut to whole characters within 259 bytes.
        {"longest name", EntrySet(cjk, 9, 1), std::string(Utf8(cjk), 0, 258)},
    };
    for (const Case& c : cases) {
        CEFDTAnalyze analyze;
        analyze.PrepareAnayze(9, 12, 131072);
        std::vector<uint8_t> cluster = c.set;
        cluster.push_back(0);
        cluster.resize((cluster.size() + 31) / 32 * 32, 0);
        analyze.Analyze(cluster.data(), cluster.size(), 0);
        ASSERT_EQ(analyze.GetFileList().size(), 1u) << c.what;
        EXPECT_EQ(std::string(analyze.GetFileList().front().szName), c.name) << c.what;
    }

    // NameLength decides where the name ends, not the first zero unit.
    std::vector<uint8_t> set = EntrySet(u"abcdef.txt", 9, 1);
    set[32 + 3] = 6;  // NameLength
    CEFDTAnalyze analyze;
    analyze.PrepareAnayze(9, 12, 131072);
    analyze.Analyze(set.data(), set.size(), 0);
    ASSERT_EQ(analyze.GetFileList().size(), 1u);
    EXPECT_STREQ(analyze.GetFileList().front().szName, "abcdef");
}

TEST(exfat_structures, RecogniserAndRegistration)
{
    auto device = OpenImageFileDisk(ExFatImagePath("ex-quick.img"), 512);
    ASSERT_TRUE(device);
    std::unique_ptr<IVolumeAnalyze> analyze(CreateExfatVolumeAnalyze(device.get(), 0));
    ASSERT_TRUE(analyze);
    EXPECT_EQ(analyze->GetFileSystemType(), FS_EXFAT);
    EXPECT_EQ(analyze->GetTotalSector(), 131072);
    // The empty label is one 4-byte terminator; a smaller buffer is left alone.
    char label[8];
    std::memset(label, 0x55, sizeof label);
    EXPECT_EQ(analyze->GetLabel(label, 3), 0);
    EXPECT_EQ(static_cast<unsigned char>(label[0]), 0x55u);
    EXPECT_EQ(analyze->GetLabel(label, 4), 0);
    EXPECT_EQ(std::string(label, 4), std::string(4, '\0'));
    EXPECT_EQ(static_cast<unsigned char>(label[4]), 0x55u);
    EXPECT_EQ(analyze->GetLabel(nullptr, 100), 0);

    EXPECT_FALSE(CreateExfatVolumeAnalyze(nullptr, 0));
    EXPECT_FALSE(CreateExfatVolumeAnalyze(device.get(), 1));                // not a boot sector
    EXPECT_FALSE(CreateExfatVolumeAnalyze(device.get(), 1LL << 40));       // not readable

    const std::vector<VolumeAnalyzeFactory> order = GetVolumeAnalyzeFactories();
    auto at = std::find(order.begin(), order.end(), &CreateExfatVolumeAnalyze);
    ASSERT_NE(at, order.end());
    EXPECT_NE(at, order.begin()) << "the FAT recogniser comes first";
    EXPECT_EQ(GetQuickSearcherFactory(FS_EXFAT), &CreateEXFatQuickSearcher);
}
