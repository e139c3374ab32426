// Boot sectors, the recogniser, FAT copies and their checks, directory
// entries, the directory-sector analyser and the label search, on images
// made by mkfs.fat and mtools with The Sleuth Kit as oracle.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <random>

#include "FATDBR.h"
#include "FATDirEntry.h"
#include "FATFilePropertiesBuilder.h"
#include "FATFolderAnalyser.h"
#include "FATTable.h"
#include "FATTableAnalyser.h"
#include "FATVolume.h"
#include "FatTestSupport.h"
#include "FatVolumeAnalyze.h"
#include "Log.h"
#include "SearcherRegistry.h"
#include "StampedMemoryDevice.h"
#include "TestSupport.h"

namespace {

using Patch = std::pair<unsigned long long, std::vector<uint8_t>>;

std::vector<uint8_t> Text(const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); }

// A damaged copy of a fixture image in dir.
std::string DamagedCopy(const TempDir& dir, const std::string& image, const std::vector<Patch>& patches)
{
    std::string path = dir / ("damaged-" + image);
    CopyImage(FatImagePath(image), path);
    for (const auto& [offset, bytes] : patches)
        PatchFile(path, offset, bytes);
    return path;
}

struct Geometry {
    long long reserved;
    unsigned int sectorsPerFat;
    unsigned int entryBytes;
    enumFILE_SYSTEM_TYPE type;
};
const Geometry kFat16 = {4, 128, 2, FS_FAT16};     // fat16.img: FAT1 at byte 2,048
const Geometry kFat32 = {32, 1513, 4, FS_FAT32};   // fat32.img: FAT1 at byte 16,384

Patch FatEntry(const Geometry& g, unsigned int cluster, unsigned int value)
{
    return {static_cast<unsigned long long>(g.reserved) * 512 + static_cast<unsigned long long>(g.entryBytes) * cluster,
            g.entryBytes == 2 ? Le16(value) : Le32(value)};
}

}  // namespace

// ---- boot sectors and the recogniser --------------------------------------------

TEST(fat_structures, RecogniserTable)
{
    TempDir dir;
    struct Row {
        const char* name;
        std::string image;
        unsigned int sectorSize;
        std::vector<Patch> patches;
        enumFILE_SYSTEM_TYPE type;
        long long total;      // -1: not checked
        const char* label;    // null: not checked
    };
    const std::vector<Row> rows = {
        {"fat12", "fat12.img", 512, {}, FS_UNKNOWN, 0, ""},
        {"fat16", "fat16.img", 512, {}, FS_FAT16, 131072, "PART16"},
        {"fat32", "fat32.img", 512, {}, FS_FAT32, 196608, "FIXT32"},
        {"fat16-4k", "fat16-4k.img", 4096, {}, FS_FAT16, 16384, "K16"},
        {"fat32-4k", "fat32-4k.img", 4096, {}, FS_FAT32, 149984, "K32"},
        {"label after a long name", "lab.img", 512, {}, FS_FAT16, 65536, "LATELABEL"},
        {"root chain loops", "loop32.img", 512, {}, FS_FAT32, 131072, ""},
        {"512-byte volume on a 4096-byte device", "fat16.img", 4096, {}, FS_UNKNOWN, 0, ""},
        {"lower-case type text", "fat16.img", 512, {{54, Text("fat16   ")}}, FS_FAT16, 131072, "PART16"},
        {"one FAT", "fat16.img", 512, {{16, {1}}}, FS_UNKNOWN, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string path = row.patches.empty() ? FatImagePath(row.image) : DamagedCopy(dir, row.image, row.patches);
        std::string before = FileDigest(path);
        auto device = OpenFatImage(path, row.sectorSize);
        ASSERT_TRUE(device);

        auto start = std::chrono::steady_clock::now();
        std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(device.get(), 0));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        ASSERT_TRUE(analyze);
        EXPECT_EQ(analyze->GetFileSystemType(), row.type);
        if (row.total >= 0) {
            EXPECT_EQ(analyze->GetTotalSector(), row.total);
        }
        if (row.type != FS_UNKNOWN && row.patches.empty()) {
            EXPECT_EQ(analyze->GetTotalSector(), FsstatTotalSectors(path));
        }
        char label[100];
        std::memset(label, 'x', sizeof(label));
        analyze->GetLabel(label, sizeof(label));
        if (row.label) {
            EXPECT_STREQ(label, row.label);
        }
        EXPECT_EQ(FileDigest(path), before);
    }
}

TEST(fat_structures, RecogniserIsRegisteredAndLabelCopyIsTerminated)
{
    auto factories = GetVolumeAnalyzeFactories();
    ASSERT_FALSE(factories.empty());
    EXPECT_EQ(factories.front(), &CreateFatVolumeAnalyze);

    auto device = OpenFatImage("fat16.img");
    std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(device.get(), 0));
    char small[4];
    std::memset(small, 'x', sizeof(small));
    analyze->GetLabel(small, sizeof(small));
    EXPECT_STREQ(small, "PAR");

    // No device or a device of tiny sectors: type 10, nothing read.
    std::unique_ptr<IVolumeAnalyze> none(CreateFatVolumeAnalyze(nullptr, 0));
    EXPECT_EQ(none->GetFileSystemType(), FS_UNKNOWN);
    EXPECT_EQ(none->GetTotalSector(), 0);
    CBufferDevice tiny(std::vector<uint8_t>(4096), 256);
    std::unique_ptr<IVolumeAnalyze> t(CreateFatVolumeAnalyze(&tiny, 0));
    EXPECT_EQ(t->GetFileSystemType(), FS_UNKNOWN);
    EXPECT_EQ(tiny.m_iReads, 0);
}

TEST(fat_structures, BootSectorTypeDecision)
{
    const auto fat16 = ReadImageSectors(FatImagePath("fat16.img"), 0, 1);
    const auto fat32 = ReadImageSectors(FatImagePath("fat32.img"), 0, 1);
    const auto fat12 = ReadImageSectors(FatImagePath("fat12.img"), 0, 1);
    struct Row {
        const char* name;
        const std::vector<uint8_t>* base;
        std::vector<Patch> patches;
        enumFILE_SYSTEM_TYPE type;
    };
    const std::vector<Row> rows = {
        {"fat16", &fat16, {}, FS_FAT16},
        {"fat32", &fat32, {}, FS_FAT32},
        {"fat12 is not recognised", &fat12, {}, FS_UNKNOWN},
        {"both tests pass: FAT16 wins", &fat32, {{54, Text("FAT16   ")}, {17, Le16(512)}, {22, Le16(1)}}, FS_FAT16},
        {"lower-case FAT32 text", &fat32, {{82, Text("fat32   ")}}, FS_FAT32},
        {"three FATs", &fat16, {{16, {3}}}, FS_UNKNOWN},
        {"3 sectors per cluster", &fat16, {{13, {3}}}, FS_UNKNOWN},
        {"0 sectors per cluster", &fat32, {{13, {0}}}, FS_UNKNOWN},
        {"128 sectors per cluster", &fat16, {{13, {128}}}, FS_FAT16},
        {"1024 bytes per sector on a 512-byte device", &fat16, {{11, Le16(1024)}}, FS_UNKNOWN},
        {"223 root entries", &fat16, {{17, Le16(223)}}, FS_UNKNOWN},
        {"240 root entries (15 sectors)", &fat16, {{17, Le16(240)}}, FS_FAT16},
        {"232 root entries (half a sector)", &fat16, {{17, Le16(232)}}, FS_UNKNOWN},
        {"FAT16 without sectors per FAT", &fat16, {{22, Le16(0)}}, FS_UNKNOWN},
        {"FAT32 without sectors per FAT", &fat32, {{36, Le32(0)}}, FS_UNKNOWN},
        {"no 55 AA", &fat16, {{510, {0x55, 0x00}}}, FS_UNKNOWN},
        {"other type text", &fat16, {{54, Text("FAT12   ")}}, FS_UNKNOWN},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> sector = *row.base;
        for (const auto& [offset, bytes] : row.patches)
            std::copy(bytes.begin(), bytes.end(), sector.begin() + static_cast<long>(offset));
        CTempFATDBR dbr(sector.data(), 512);
        EXPECT_EQ(dbr.GetFileSystemType(), row.type);
        EXPECT_EQ(dbr.IsValidDBR(), row.type != FS_UNKNOWN);
    }

    // Geometry and the total-sector rule, against the facts fsstat gives.
    CTempFATDBR d16(fat16.data(), 512);
    EXPECT_EQ(d16.GetReservedSector(), 4u);
    EXPECT_EQ(d16.GetSectorsPerFat(), 128u);
    EXPECT_EQ(d16.GetSectorsperCluster(), 4u);
    EXPECT_EQ(d16.GetRootDirStartCluster(), 0u);
    EXPECT_EQ(d16.GetTotalSectors(), 131072u);  // 16-bit field 0: the 32-bit one
    std::vector<uint8_t> small16 = fat16;
    std::copy_n(Le16(1000).begin(), 2, small16.begin() + 19);
    EXPECT_EQ(CTempFATDBR(small16.data(), 512).GetTotalSectors(), 1000u);
    CTempFATDBR d32(fat32.data(), 512);
    EXPECT_EQ(d32.GetReservedSector(), 32u);
    EXPECT_EQ(d32.GetSectorsPerFat(), 1513u);
    EXPECT_EQ(d32.GetRootDirStartCluster(), 2u);
    // An unrecognised boot sector hands out no geometry but its FAT start.
    CTempFATDBR d12(fat12.data(), 512);
    EXPECT_EQ(d12.GetSectorsPerFat(), 0u);
    EXPECT_EQ(d12.GetTotalSectors(), 0u);
    EXPECT_EQ(d12.GetFatTableStartSector(), 1u);

    EXPECT_TRUE(CTempFATDBR::SimpleCheck(fat16.data()));
    std::vector<uint8_t> zeroFirst = fat16;
    zeroFirst[0] = 0;
    EXPECT_FALSE(CTempFATDBR::SimpleCheck(zeroFirst.data()));
}

// ---- FAT copies -------------------------------------------------------------------

TEST(fat_structures, IntactCopiesLoad)
{
    struct Row {
        const char* image;
        unsigned int sectorSize;
        enumFILE_SYSTEM_TYPE type;
        long long reserved;
        unsigned int sectorsPerFat;
    };
    const Row rows[] = {
        {"fat12.img", 512, FS_FAT12, 1, 9},       {"fat16.img", 512, FS_FAT16, 4, 128},
        {"fat32.img", 512, FS_FAT32, 32, 1513},   {"fat16-4k.img", 4096, FS_FAT16, 4, 4},
        {"fat32-4k.img", 4096, FS_FAT32, 32, 147}, {"lab.img", 512, FS_FAT16, 4, 64},
        {"lfn.img", 512, FS_FAT16, 4, 64},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.image);
        auto device = OpenFatImage(row.image, row.sectorSize);
        for (int copy = 0; copy < 2; ++copy) {
            std::unique_ptr<IRealFATTable> table(IFATTableFactory::CreateRealFATTable(
                device.get(), row.type, row.reserved + copy * row.sectorsPerFat, row.sectorsPerFat));
            EXPECT_TRUE(table) << "copy " << copy;
        }
    }
    // loop32.img: FAT1 says FAT[2] = 2, FAT2 is intact.
    auto loop = OpenFatImage("loop32.img");
    std::unique_ptr<IRealFATTable> first(IFATTableFactory::CreateRealFATTable(loop.get(), FS_FAT32, 32, 1009));
    std::unique_ptr<IRealFATTable> second(IFATTableFactory::CreateRealFATTable(loop.get(), FS_FAT32, 32 + 1009, 1009));
    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
}

TEST(fat_structures, DamagedFirstCopyFallsBackToSecond)
{
    TempDir dir;
    struct Row {
        const char* name;
        std::string image;
        Geometry g;
        std::vector<Patch> patches;
    };
    const std::vector<Row> rows = {
        {"fat16 self-loop", "fat16.img", kFat16, {FatEntry(kFat16, 40, 40)}},
        {"fat16 join", "fat16.img", kFat16, {FatEntry(kFat16, 41, 45), FatEntry(kFat16, 42, 45)}},
        {"fat16 2-cycle", "fat16.img", kFat16, {FatEntry(kFat16, 43, 44), FatEntry(kFat16, 44, 43)}},
        {"fat16 value beyond the table", "fat16.img", kFat16, {FatEntry(kFat16, 46, 0xFFF0)}},
        {"fat16 value 1", "fat16.img", kFat16, {FatEntry(kFat16, 47, 1)}},
        {"fat16 header", "fat16.img", kFat16, {FatEntry(kFat16, 0, 0xFFF0)}},
        {"fat32 self-loop", "fat32.img", kFat32, {FatEntry(kFat32, 40, 40)}},
        {"fat32 join", "fat32.img", kFat32, {FatEntry(kFat32, 41, 45), FatEntry(kFat32, 42, 45)}},
        {"fat32 2-cycle", "fat32.img", kFat32, {FatEntry(kFat32, 43, 44), FatEntry(kFat32, 44, 43)}},
        {"fat32 value beyond the table", "fat32.img", kFat32, {FatEntry(kFat32, 46, 0x0FFFFFF0)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto intactDevice = OpenFatImage(row.image);
        std::unique_ptr<IRealFATTable> intact(
            IFATTableFactory::CreateRealFATTable(intactDevice.get(), row.g.type, row.g.reserved, row.g.sectorsPerFat));
        ASSERT_TRUE(intact);

        std::string path = DamagedCopy(dir, row.image, row.patches);
        std::string before = FileDigest(path);
        auto device = OpenFatImage(path);
        std::unique_ptr<IRealFATTable> refused(
            IFATTableFactory::CreateRealFATTable(device.get(), row.g.type, row.g.reserved, row.g.sectorsPerFat));
        EXPECT_FALSE(refused);

        std::unique_ptr<IFATTable> table(IFATTableFactory::CreateFATTable(device.get(), row.g.reserved, row.g.type,
                                                                          row.g.sectorsPerFat, 0x80, 0x200));
        ASSERT_TRUE(table);
        unsigned int mismatches = 0;
        for (unsigned int c = 0; c < intact->GetEntryCount(); ++c)
            mismatches += table->GetNextCluster(c) != intact->GetNextCluster(c);
        EXPECT_EQ(mismatches, 0u);
        EXPECT_NE(table->GetNextCluster(40), 0u);
        EXPECT_EQ(FileDigest(path), before);
    }
}

TEST(fat_structures, MediaF0CopiesAreRefused)
{
    TempDir dir;
    std::string path = dir / "m.img";
    RunTool("mkfs.fat -C -F 16 -s 4 -M 0xF0 --invariant '" + path + "' 65536 >/dev/null");
    auto device = OpenFatImage(path);
    for (int copy = 0; copy < 2; ++copy)
        EXPECT_FALSE(IFATTableFactory::CreateRealFATTable(device.get(), FS_FAT16, 4 + copy * 128, 128));
    std::unique_ptr<IFATTable> table(IFATTableFactory::CreateFATTable(device.get(), 4, FS_FAT16, 128, 0x80, 0x200));
    ASSERT_TRUE(table);
    for (unsigned int c = 0; c < 100; ++c)
        EXPECT_EQ(table->GetNextCluster(c), 0u);
    // Support can see in the log why the walk took every chain as contiguous.
    const std::string log = ReadFileBytes(std::string(CatchExeception::GetWorkPath()) + "/sMAC_iKolm.log");
    EXPECT_NE(log.find("FAT16 FAT copy at sector 132 (128 sectors) refused: it failed the consistency checks"),
              std::string::npos)
        << log;

    // The FAT32 header mask lets media 0xF0 through.
    std::string path32 = dir / "m32.img";
    RunTool("mkfs.fat -C -F 32 -s 1 -M 0xF0 --invariant '" + path32 + "' 65536 >/dev/null");
    auto device32 = OpenFatImage(path32);
    std::unique_ptr<IRealFATTable> fat32(IFATTableFactory::CreateRealFATTable(device32.get(), FS_FAT32, 32, 1009));
    EXPECT_TRUE(fat32);
}

TEST(fat_structures, CopyFlagsDecideWhichCopiesAreRead)
{
    TempDir dir;
    std::string damaged = DamagedCopy(dir, "fat16.img", {FatEntry(kFat16, 40, 40)});
    using Reads = std::vector<std::pair<long long, long long>>;
    struct Row {
        const char* name;
        bool damaged;
        unsigned int first;
        unsigned int second;
        Reads reads;
        bool answers;
    };
    const Reads fat1 = {{4, 128}}, fat2 = {{132, 128}}, both = {{4, 128}, {132, 128}};
    const std::vector<Row> rows = {
        {"(0,1) intact", false, 0, 1, fat2, true},   {"(0,0) intact", false, 0, 0, fat1, true},
        {"(1,1) intact", false, 1, 1, fat1, true},   {"(1,0) intact", false, 1, 0, fat1, true},
        {"(1,1) damaged", true, 1, 1, both, true},   {"(0,0) damaged", true, 0, 0, fat1, false},
        {"(0,1) damaged", true, 0, 1, fat2, true},   {"(0x80,0x200) damaged", true, 0x80, 0x200, both, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto source = OpenFatImage(row.damaged ? damaged : FatImagePath("fat16.img"));
        CCountingDevice device(source.get());
        std::unique_ptr<IFATTable> table(
            IFATTableFactory::CreateFATTable(&device, 4, FS_FAT16, 128, row.first, row.second));
        Reads reads;
        for (const auto& r : device.Reads())
            reads.emplace_back(r.first, r.count);
        EXPECT_EQ(reads, row.reads);
        EXPECT_EQ(table->GetNextCluster(2) != 0, row.answers);
    }
}

TEST(fat_structures, SizeLimitsRefuseBeforeReading)
{
    struct Row {
        enumFILE_SYSTEM_TYPE type;
        unsigned int sectorSize;
        unsigned int sectorsPerFat;
        bool read;
    };
    const Row rows[] = {
        {FS_FAT16, 512, 300, false},  {FS_FAT16, 512, 11, false},    {FS_FAT16, 512, 12, true},
        {FS_FAT16, 512, 256, true},   {FS_FAT16, 512, 257, false},   {FS_FAT16, 4096, 1, true},
        {FS_FAT16, 4096, 32, true},   {FS_FAT16, 4096, 33, false},   {FS_FAT12, 512, 12, true},
        {FS_FAT12, 512, 13, false},   {FS_FAT12, 512, 0, false},     {FS_FAT32, 512, 255, false},
        {FS_FAT32, 512, 256, true},   {FS_FAT32, 512, 128000, true}, {FS_FAT32, 512, 128001, false},
        {FS_FAT32, 4096, 31, false},  {FS_FAT32, 4096, 16000, true}, {FS_FAT32, 4096, 16001, false},
        {FS_FAT16, 256, 24, false},   {FS_NTFS, 512, 20, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.type << ", " << row.sectorSize << "-byte sectors, "
                                        << row.sectorsPerFat << " per FAT");
        CStampedMemoryDevice source(1 << 20, row.sectorSize);
        CCountingDevice device(&source);
        // Stamped sectors never look like a FAT, so every copy is refused;
        // what differs is whether it was read.
        EXPECT_FALSE(IFATTableFactory::CreateRealFATTable(&device, row.type, 8, row.sectorsPerFat));
        EXPECT_EQ(device.Reads().size(), row.read ? 1u : 0u);
    }
    const std::string log = ReadFileBytes(std::string(CatchExeception::GetWorkPath()) + "/sMAC_iKolm.log");
    EXPECT_NE(log.find("FAT16 FAT copy at sector 8 (300 sectors) refused: its size is outside the limits"),
              std::string::npos)
        << log;
}

// A boot sector's FAT size is believed only as far as the device holds the
// copy: one running past the device's end is refused before any buffer is
// made or any read tried.
TEST(fat_structures, CopyPastTheDeviceEndIsRefusedBeforeReading)
{
    struct Row {
        enumFILE_SYSTEM_TYPE type;
        long long start;
        unsigned int sectorsPerFat;
        bool read;
    };
    // A device of 4,096 sectors.
    const Row rows[] = {
        {FS_FAT32, 8, 4088, true},     {FS_FAT32, 8, 4089, false}, {FS_FAT32, 8, 128000, false},
        {FS_FAT32, 4095, 256, false},  {FS_FAT32, 4096, 256, false}, {FS_FAT32, -1, 256, false},
        {FS_FAT16, 3840, 256, true},   {FS_FAT16, 3841, 256, false}, {FS_FAT12, 4090, 12, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.type << ", " << row.sectorsPerFat << " sectors at "
                                        << row.start);
        CStampedMemoryDevice source(4096, 512);
        CCountingDevice device(&source);
        std::unique_ptr<IRealFATTable> table;
        if (row.type == FS_FAT12)
            table = std::make_unique<CFAT12Table>(&device, row.start, row.sectorsPerFat);
        else if (row.type == FS_FAT16)
            table = std::make_unique<CFAT16Table>(&device, row.start, row.sectorsPerFat);
        else
            table = std::make_unique<CFAT32Table>(&device, row.start, row.sectorsPerFat);
        EXPECT_EQ(table->HasBuffer(), row.read);
        EXPECT_EQ(device.Reads().size(), row.read ? 1u : 0u);
        EXPECT_EQ(table->GetLoadState(), row.read ? IRealFATTable::kLoaded : IRealFATTable::kPastDeviceEnd);
    }
    CStampedMemoryDevice small(4096, 512);
    EXPECT_FALSE(IFATTableFactory::CreateRealFATTable(&small, FS_FAT32, 8, 128000));
    const std::string log = ReadFileBytes(std::string(CatchExeception::GetWorkPath()) + "/sMAC_iKolm.log");
    EXPECT_NE(log.find("FAT32 FAT copy at sector 8 (128000 sectors) refused: it runs past the end of the device"),
              std::string::npos)
        << log;
}

// ---- lookups and checks over crafted tables ------------------------------------------

namespace {

void SetFat12(std::vector<uint8_t>& b, unsigned int c, unsigned int v)
{
    size_t at = c * 3 / 2;
    unsigned int word = b[at] | (b[at + 1] << 8);
    word = (c & 1) ? ((word & 0x000F) | (v << 4)) : ((word & 0xF000) | v);
    b[at] = static_cast<uint8_t>(word);
    b[at + 1] = static_cast<uint8_t>(word >> 8);
}

// A device holding one FAT of sectors x 512 bytes with the given entries.
CBufferDevice FatDevice(enumFILE_SYSTEM_TYPE type, unsigned int sectors,
                        const std::vector<std::pair<unsigned int, unsigned int>>& entries)
{
    std::vector<uint8_t> b(sectors * 512ULL);
    for (const auto& [c, v] : entries) {
        if (type == FS_FAT12)
            SetFat12(b, c, v);
        else if (type == FS_FAT16)
            std::copy_n(Le16(v).begin(), 2, b.begin() + 2 * c);
        else
            std::copy_n(Le32(v).begin(), 4, b.begin() + 4 * static_cast<size_t>(c));
    }
    return CBufferDevice(std::move(b));
}

// The smallest copy the size limits allow on 512-byte sectors.
unsigned int MinimumSectors(enumFILE_SYSTEM_TYPE type) { return type == FS_FAT12 ? 1 : type == FS_FAT16 ? 12 : 256; }

std::unique_ptr<IRealFATTable> RawTable(enumFILE_SYSTEM_TYPE type, CBufferDevice& device, unsigned int sectors)
{
    if (type == FS_FAT12)
        return std::make_unique<CFAT12Table>(&device, 0, sectors);
    if (type == FS_FAT16)
        return std::make_unique<CFAT16Table>(&device, 0, sectors);
    return std::make_unique<CFAT32Table>(&device, 0, sectors);
}

}  // namespace

TEST(fat_structures, NextClusterMapping)
{
    struct Row {
        enumFILE_SYSTEM_TYPE type;
        unsigned int cluster;
        unsigned int stored;
        unsigned int expected;
    };
    const Row rows[] = {
        {FS_FAT12, 2, 0x123, 0x123},        {FS_FAT12, 3, 0xABC, 0xABC},       {FS_FAT12, 4, 0xFFF, 0xFFFFFFFF},
        {FS_FAT12, 5, 0xFF8, 0x0FFFFFF8},   {FS_FAT12, 6, 0xFFE, 0x0FFFFFF8},  {FS_FAT12, 7, 0xFF7, 0xFF7},
        {FS_FAT12, 8, 0x001, 0x001},        {FS_FAT16, 2, 0x1234, 0x1234},     {FS_FAT16, 3, 0xFFF7, 0x0FFFFFF7},
        {FS_FAT16, 4, 0xFFF8, 0x0FFFFFF8},  {FS_FAT16, 5, 0xFFFF, 0x0FFFFFF8}, {FS_FAT16, 6, 0xFFF6, 0xFFF6},
        {FS_FAT32, 2, 0x0FFFFFFF, 0x0FFFFFFF}, {FS_FAT32, 3, 0xF0000005, 0xF0000005},
        {FS_FAT32, 4, 0x00012345, 0x00012345},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.type << " cluster " << row.cluster);
        // Neighbours hold other values, so that the FAT12 half-byte
        // extraction cannot pass by reading the wrong nibbles.
        const unsigned int sectors = MinimumSectors(row.type);
        CBufferDevice device = FatDevice(row.type, sectors,
                                         {{row.cluster - 1, 0x0A5}, {row.cluster, row.stored}, {row.cluster + 1, 0x05A}});
        auto table = RawTable(row.type, device, sectors);
        EXPECT_EQ(table->GetNextCluster(row.cluster), row.expected);
    }

    // Outside the table: 0. A FAT12 of one sector ends at cluster 340; its
    // last word straddles the end for cluster 341.
    CBufferDevice d12 = FatDevice(FS_FAT12, 1, {{340, 0x345}});
    EXPECT_EQ(RawTable(FS_FAT12, d12, 1)->GetNextCluster(340), 0x345u);
    EXPECT_EQ(RawTable(FS_FAT12, d12, 1)->GetNextCluster(341), 0u);
    EXPECT_EQ(RawTable(FS_FAT12, d12, 1)->GetNextCluster(0xFFFFFFFF), 0u);
    CBufferDevice d16 = FatDevice(FS_FAT16, 12, {{3071, 7}});
    EXPECT_EQ(RawTable(FS_FAT16, d16, 12)->GetNextCluster(3071), 7u);
    EXPECT_EQ(RawTable(FS_FAT16, d16, 12)->GetNextCluster(3072), 0u);
    CBufferDevice d32 = FatDevice(FS_FAT32, 256, {{32767, 9}});
    EXPECT_EQ(RawTable(FS_FAT32, d32, 256)->GetNextCluster(32767), 9u);
    EXPECT_EQ(RawTable(FS_FAT32, d32, 256)->GetNextCluster(32768), 0u);
    // A copy outside the size limits holds nothing and answers 0.
    CBufferDevice small = FatDevice(FS_FAT16, 11, {{5, 7}});
    EXPECT_EQ(RawTable(FS_FAT16, small, 11)->GetNextCluster(5), 0u);

    CDoubleFATTable empty(nullptr, nullptr);
    EXPECT_EQ(empty.GetNextCluster(2), 0u);
}

namespace {

// The consistency checks as first written: the index check follows every
// chain start to its end again, which is quadratic but plainly right.
bool LiteralVerdict(enumFILE_SYSTEM_TYPE type, const std::function<unsigned int(unsigned int)>& entry, unsigned int n)
{
    const bool f32 = type == FS_FAT32;
    unsigned int w0 = f32 ? entry(0) : (entry(0) | (entry(1) << 16));
    if (f32 ? ((w0 & 0x0FFFFFF0) != 0x0FFFFFF0 || (entry(1) & 0x07FFFFF8) != 0x07FFFFF8)
            : (w0 & 0x7FFFFFF8) != 0x7FFFFFF8)
        return false;
    const unsigned int reserved = f32 ? 0x0FFFFFF7 : 0xFFF7;
    for (unsigned int i = 2; i < n; ++i) {
        unsigned int v = entry(i);
        if ((v >= n && v < reserved) || v == 1 || v == i)
            return false;
    }
    std::vector<unsigned int> pred(n, 0);
    for (unsigned int s = 2; s < n; ++s) {
        if (pred[s] != 0)
            continue;
        unsigned int cur = s, steps = 0;
        while (steps < n) {
            unsigned int v = entry(cur);
            if (v < 2 || v > reserved - 1)
                break;
            if (pred[v] == 0)
                pred[v] = cur;
            else if (pred[v] != cur)
                return false;
            ++steps;
            cur = v;
        }
        if (steps >= n - 2)
            return false;
    }
    return true;
}

using Entries = std::vector<std::pair<unsigned int, unsigned int>>;

Entries Header(enumFILE_SYSTEM_TYPE type)
{
    if (type == FS_FAT16)
        return {{0, 0xFFF8}, {1, 0xFFFF}};
    return {{0, 0x0FFFFFF8}, {1, 0x0FFFFFFF}};
}

unsigned int Eoc(enumFILE_SYSTEM_TYPE type) { return type == FS_FAT16 ? 0xFFFF : 0x0FFFFFFF; }

}  // namespace

TEST(fat_structures, ConsistencyVerdicts)
{
    struct Row {
        const char* name;
        std::function<Entries(enumFILE_SYSTEM_TYPE)> entries;
        bool valid;
    };
    auto chain = [](Entries e, unsigned int from, unsigned int to, unsigned int eoc) {
        for (unsigned int c = from; c < to; ++c)
            e.push_back({c, c + 1});
        e.push_back({to, eoc});
        return e;
    };
    const std::vector<Row> rows = {
        {"valid chains", [&](auto t) { return chain(chain(Header(t), 2, 9, Eoc(t)), 20, 30, Eoc(t)); }, true},
        {"end mark anywhere", [&](auto t) { auto e = Header(t); e.push_back({500, Eoc(t)}); return e; }, true},
        {"bad-cluster mark", [&](auto t) { auto e = Header(t); e.push_back({9, Eoc(t) - 8}); return e; }, true},
        {"descending chain",
         [&](auto t) {
             auto e = Header(t);
             for (unsigned int c = 3; c <= 2000; ++c)
                 e.push_back({c, c - 1});
             e.push_back({2, Eoc(t)});
             return e;
         },
         true},
        {"join", [&](auto t) { auto e = chain(Header(t), 2, 5, Eoc(t)); e.push_back({10, 4}); return e; }, false},
        {"self-loop", [&](auto t) { auto e = Header(t); e.push_back({5, 5}); return e; }, false},
        {"2-cycle", [&](auto t) { auto e = Header(t); e.push_back({7, 8}); e.push_back({8, 7}); return e; }, false},
        {"pure 3-cycle at the top",
         [&](auto t) { auto e = Header(t); e.insert(e.end(), {{100, 101}, {101, 102}, {102, 100}}); return e; },
         false},
        {"rho: a tail into a loop",
         [&](auto t) { auto e = Header(t); e.insert(e.end(), {{10, 11}, {11, 12}, {12, 13}, {13, 11}}); return e; },
         false},
        {"rho walked from inside the loop",
         [&](auto t) { auto e = Header(t); e.insert(e.end(), {{50, 11}, {11, 12}, {12, 13}, {13, 11}}); return e; },
         false},
        {"value 1", [&](auto t) { auto e = Header(t); e.push_back({6, 1}); return e; }, false},
        {"value beyond the table",
         [&](auto t) { auto e = Header(t); e.push_back({6, t == FS_FAT16 ? 0xFFF0u : 0x0FFFFFF0u}); return e; },
         false},
        // Media 0xF0 fails the FAT16 mask; the FAT32 mask lets it pass.
        {"media F0 header",
         [&](auto t) { Entries e = {{0, t == FS_FAT16 ? 0xFFF0u : 0x0FFFFFF0u}, {1, Eoc(t)}}; return e; },
         true},
    };
    for (enumFILE_SYSTEM_TYPE type : {FS_FAT16, FS_FAT32}) {
        const unsigned int sectors = type == FS_FAT16 ? 12 : 256;
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << "type " << type << ": " << row.name);
            CBufferDevice device = FatDevice(type, sectors, row.entries(type));
            auto table = RawTable(type, device, sectors);
            const bool valid = row.valid && !(type == FS_FAT16 && std::string(row.name) == "media F0 header");
            EXPECT_EQ(table->IsValidFATTable() != 0, valid);
            std::unique_ptr<IRealFATTable> made(IFATTableFactory::CreateRealFATTable(&device, type, 0, sectors));
            EXPECT_EQ(made != nullptr, valid);
        }
    }
}

TEST(fat_structures, LinearCheckAgreesWithTheLiteralOne)
{
    // Random small tables: chains in random cluster order, some of them
    // then disturbed by one random entry (joins, loops, stray values).
    std::mt19937 rng(20240611);
    int valid = 0, invalid = 0;
    for (int round = 0; round < 3000; ++round) {
        const enumFILE_SYSTEM_TYPE type = round % 2 ? FS_FAT32 : FS_FAT16;
        const unsigned int sectors = type == FS_FAT16 ? 12 : 256;
        const unsigned int used = 4 + rng() % 60;
        std::vector<unsigned int> clusters;
        for (unsigned int c = 2; c < 2 + used; ++c)
            clusters.push_back(c);
        std::shuffle(clusters.begin(), clusters.end(), rng);
        Entries e = Header(type);
        for (size_t i = 0; i < clusters.size(); ++i) {
            bool end = i + 1 == clusters.size() || rng() % 5 == 0;
            e.push_back({clusters[i], end ? Eoc(type) : clusters[i + 1]});
        }
        const int disturbances = rng() % 3;
        for (int k = 0; k < disturbances; ++k)
            e.push_back({2 + rng() % used, rng() % 8 == 0 ? 1 : 2 + rng() % (used + 2)});
        CBufferDevice device = FatDevice(type, sectors, e);
        auto table = RawTable(type, device, sectors);
        const unsigned int n = table->GetEntryCount();
        const auto& bytes = device.Bytes();
        auto entry = [&](unsigned int i) {
            return type == FS_FAT16 ? static_cast<unsigned int>(bytes[2 * i] | (bytes[2 * i + 1] << 8))
                                    : (static_cast<unsigned int>(bytes[4 * i]) | (bytes[4 * i + 1] << 8) |
                                       (bytes[4 * i + 2] << 16) | (static_cast<unsigned int>(bytes[4 * i + 3]) << 24));
        };
        bool expected = LiteralVerdict(type, entry, n);
        ASSERT_EQ(table->IsValidFATTable() != 0, expected) << "round " << round;
        (expected ? valid : invalid)++;
    }
    // Both verdicts occur often enough for the comparison to mean something.
    EXPECT_GT(valid, 500);
    EXPECT_GT(invalid, 500);
}

TEST(fat_structures, FirstFatSectorAndUsedClusters)
{
    struct Row {
        const char* image;
        long long sector;
        int recognised;
        enumFILE_SYSTEM_TYPE type;
    };
    const Row rows[] = {
        {"fat32.img", 32, 1, FS_FAT32}, {"fat32.img", 32 + 1513, 1, FS_FAT32},
        // The FAT32 test runs first; fat16.img's clusters 2 and 3 both hold
        // end marks, which the FAT32 header test cannot tell apart.
        {"fat16.img", 4, 1, FS_FAT32},  {"fat16.img", 132, 1, FS_FAT32},
        {"fat12.img", 1, 0, FS_UNKNOWN}, {"fat16.img", 0, 0, FS_UNKNOWN},     {"fat16.img", 292, 0, FS_UNKNOWN},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.image << " sector " << row.sector);
        auto sector = ReadImageSectors(FatImagePath(row.image), row.sector, 1);
        enumFILE_SYSTEM_TYPE type = FS_UNKNOWN;
        EXPECT_EQ(CFATTableAnalyser::IsValidFATTableFirstSector(sector.data(), sector.size(), &type), row.recognised);
        EXPECT_EQ(type, row.type);
    }
    uint8_t fat16[8] = {0xF8, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0xFF, 0xFF};
    enumFILE_SYSTEM_TYPE type = FS_UNKNOWN;
    EXPECT_EQ(CFATTableAnalyser::IsValidFATTableFirstSector(fat16, sizeof(fat16), &type), 1);
    EXPECT_EQ(type, FS_FAT16);
    uint8_t few[4] = {0xF8, 0xFF, 0xFF, 0x0F};
    EXPECT_EQ(CFATTableAnalyser::IsValidFATTableFirstSector(few, sizeof(few), nullptr), 0);

    const std::pair<unsigned long long, bool> clusters[] = {
        {0, false}, {1, false}, {2, true}, {0x0FFFFFEF, true}, {0x0FFFFFF0, false}, {0xFFFFFFFF, false}};
    for (const auto& [c, used] : clusters)
        EXPECT_EQ(CFATTableAnalyser::IsUsedCluster(c), used) << c;
}

// ---- directory entries ---------------------------------------------------------------


TEST(fat_structures, EntryValidity)
{
    struct Row {
        const char* name;
        EntryBuilder entry;
        int valid;
        int validSkippingClusters;
    };
    const Row rows[] = {
        {"plain file", EntryBuilder("README  TXT", 0x20).Cluster(5).Size(100), 1, 1},
        {"empty file", EntryBuilder("EMPTY   DAT", 0x20), 1, 1},
        {"cluster 0 with a size", EntryBuilder("README  TXT", 0x20).Size(100), 0, 1},
        {"cluster without a size", EntryBuilder("README  TXT", 0x20).Cluster(5), 0, 1},
        {"folder with size and high cluster", EntryBuilder("DIR        ", 0x10).Cluster(0x10005).Size(10), 0, 1},
        {"folder with size, low cluster", EntryBuilder("DIR        ", 0x10).Cluster(5).Size(10), 1, 1},
        {"long-name entry of garbage", EntryBuilder("\x01\xff\xff\x00\x01\x02\x03\x04\x05\x06\x07", 0x0F), 1, 1},
        {"attribute above 0x3F", EntryBuilder("README  TXT", 0x41), 0, 0},
        {"attribute 0x80", EntryBuilder("README  TXT", 0xA0), 0, 0},
        {"month 13", EntryBuilder("README  TXT", 0x20).Word(24, Date(2021, 13, 4)), 0, 0},
        {"day 0", EntryBuilder("README  TXT", 0x20).Word(16, Date(2021, 3, 0)), 0, 0},
        {"last-access month 0", EntryBuilder("README  TXT", 0x20).Word(18, Date(2021, 0, 4)), 0, 0},
        {"date 0 and time 0", EntryBuilder("README  TXT", 0x20), 1, 1},
        {"24:00", EntryBuilder("README  TXT", 0x20).Word(22, Time(24, 0, 0)), 0, 0},
        {"minute 60", EntryBuilder("README  TXT", 0x20).Word(14, Time(10, 60, 0)), 0, 0},
        {"two-second count 30", EntryBuilder("README  TXT", 0x20).Word(22, Time(10, 1, 30)), 0, 0},
        {"two-second count 29", EntryBuilder("README  TXT", 0x20).Word(22, Time(23, 59, 29)), 1, 1},
        {"volume label of any bytes", EntryBuilder("\x01??:       ", 0x08), 1, 1},
        {"space first", EntryBuilder(" EADME  TXT", 0x20), 0, 0},
        {"question mark", EntryBuilder("READ?E  TXT", 0x20), 0, 0},
        {"control byte", EntryBuilder("READ\x05\x45  TXT", 0x20), 0, 0},
        {"lower case", EntryBuilder("readme  txt", 0x20), 1, 1},
        {"erased: the byte after 0xE5 is not checked", EntryBuilder("\xe5?EADME TXT", 0x20), 1, 1},
        {"double-byte lead skips a control byte", EntryBuilder("\x81\x05      TXT", 0x20), 1, 1},
        {"double-byte lead at the end", EntryBuilder("ABCDEFGHIJ\x81", 0x20), 1, 1},
        {"never used (all zero)", EntryBuilder("\0\0\0\0\0\0\0\0\0\0\0", 0x00), 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CTempFATDirEntry entry(row.entry.b);
        EXPECT_EQ(entry.IsValidFATDirEntry(0), row.valid);
        EXPECT_EQ(entry.IsValidFATDirEntry(1), row.validSkippingClusters);
        EXPECT_EQ(entry.InitFromBuffer(row.entry.b), row.valid);
    }
}

TEST(fat_structures, ShortNamesAndClusters)
{
    struct Row {
        const char* bytes;
        int noDot;
        const char* name;
    };
    const Row rows[] = {
        {"README  TXT", 0, "README.TXT"}, {"\xe5" "EADME  TXT", 0, "#EADME.TXT"},
        {"FILE       ", 0, "FILE"},       {"A B     C  ", 0, "A B.C"},
        {"CAF\x82    TXT", 0, "CAF_.TXT"}, {"LATELABEL  ", 1, "LATELABEL"},
        {"PART16     ", 1, "PART16"},     {"ABCDEFGHIJK", 0, "ABCDEFGH.IJK"},
        {"X       \x81\x40 ", 0, "X._@"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EntryBuilder e(row.bytes, row.noDot ? 0x08 : 0x20);
        CTempFATDirEntry entry(e.b);
        char name[CTempFATDirEntry::kShortNameBufferSize];
        entry.GetShortName(name, row.noDot);
        EXPECT_STREQ(name, row.name);
    }

    EntryBuilder e("FILE    BIN", 0x20);
    CTempFATDirEntry entry(e.b);
    entry.SetFirstClusterNO(0x0012ABCD);
    EXPECT_EQ(entry.GetFirstClusterNO(), 0x0012ABCDu);
    EXPECT_EQ(e.b[20], 0x12);
    EXPECT_EQ(e.b[26], 0xCD);
    EXPECT_EQ(e.b[27], 0xAB);
    EXPECT_TRUE(entry.IsFilenameEqual("FILE    ", "BIN"));
    EXPECT_FALSE(entry.IsFilenameEqual("FILE    ", "BIM"));
}

TEST(fat_structures, LongNamePieces)
{
    struct Row {
        std::u16string units;
        size_t length;
        const char* text;
    };
    const Row rows[] = {
        {u"abc.txt", 64, "abc.txt"},
        {u"abcdefghijklm", 64, "abcdefghijklm"},
        {u"", 64, "_"},
        {u"名前名前名", 64, "名前名前名"},
        {u"名前", 5, "名"},                       // cut at a character boundary
        {u"a\xD83D", 64, "a\xEF\xBF\xBD"},       // half a pair becomes U+FFFD
    };
    for (const Row& row : rows) {
        EntryBuilder e = LongNameEntry(0x41, row.units);
        CTempFATDirEntry entry(e.b);
        char out[64];
        EXPECT_EQ(entry.GetLongFileName(out, row.length), 1);
        EXPECT_STREQ(out, row.text);
    }
    EXPECT_TRUE(CTempFATDirEntry::IsValidLongFileName("A very long name.txt"));
    for (const char* bad : {"", "a?b", "a*b", "a|b", "a\\b", "a/b", "a:b", "a\"b", "a<b", "a>b"})
        EXPECT_FALSE(CTempFATDirEntry::IsValidLongFileName(bad)) << bad;
    EXPECT_FALSE(CTempFATDirEntry::IsValidLongFileName(nullptr));
}

// ---- directory sectors ------------------------------------------------------------

namespace {

struct Recorder : CFatFolderAnalyzeCB {
    std::vector<std::pair<unsigned int, uint16_t>> calls;
    void OnFatFolderEntry(CFATFolderAnalyser*, CTempFATDirEntry* entry, unsigned int reserved, unsigned int index,
                          uint16_t both, void* context) override
    {
        EXPECT_EQ(reserved, 0xFFFFFFFFu);
        EXPECT_EQ(context, this);
        // Every entry handed over may be named.
        char name[CTempFATDirEntry::kShortNameBufferSize];
        entry->GetShortName(name, entry->IsVolumeLabel());
        calls.emplace_back(index, both);
    }
};

struct VolumeFacts {
    const char* image;
    long long dataStart;
    unsigned int sectorsPerCluster;
    long long rootSector;  // FAT16 only
};
const VolumeFacts kFacts16 = {"fat16.img", 292, 4, 260};
const VolumeFacts kFacts32 = {"fat32.img", 3058, 1, -1};

unsigned int ClusterOf(const VolumeFacts& f, long long sector)
{
    return static_cast<unsigned int>((sector - f.dataStart) / f.sectorsPerCluster + 2);
}

}  // namespace

TEST(fat_structures, AnalyseRealSectors)
{
    for (const VolumeFacts& f : {kFacts16, kFacts32}) {
        SCOPED_TRACE(f.image);
        const std::string path = FatImagePath(f.image);
        const std::string before = FileDigest(path);
        auto inodes = FlsInodes(path);
        auto firstSector = [&](const std::string& name) {
            auto it = inodes.find(name);
            EXPECT_NE(it, inodes.end()) << name;
            auto sectors = it == inodes.end() ? std::vector<long long>{} : IstatSectors(path, it->second);
            EXPECT_FALSE(sectors.empty()) << name;
            return sectors.empty() ? 0LL : sectors.front();
        };
        const long long dirA = firstSector("dirA");
        const long long frag = firstSector("frag");
        const long long sub = firstSector("dirA/_ub");  // deleted
        const long long file00 = firstSector("dirA/file00.bin");

        struct Row {
            const char* name;
            long long sector;
            unsigned int type;
            unsigned int dot;
            unsigned int dotDot;
        };
        std::vector<Row> rows = {
            {"dirA", dirA, 2, ClusterOf(f, dirA), 0},
            {"frag", frag, 2, ClusterOf(f, frag), 0},
            {"deleted sub", sub, 2, ClusterOf(f, sub), ClusterOf(f, dirA)},
            {"data of file00.bin", file00, 0, 0, 0},
            {"zero sector", 2, 0, 0, 0},
        };
        if (f.sectorsPerCluster > 1)
            rows.push_back({"second sector of dirA", dirA + 1, 1, 0, 0});
        if (f.rootSector >= 0)
            rows.push_back({"root with two empty files in a row", f.rootSector, 0, 0, 0});
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            auto sector = ReadImageSectors(path, row.sector, 1);
            if (std::string(row.name) == "zero sector") {
                ASSERT_EQ(std::count(sector.begin(), sector.end(), 0), 512);
            }
            CFATFolderAnalyser analyser(512);
            Recorder cb;
            EXPECT_EQ(analyser.AnalyseSector(sector.data(), &cb, &cb), row.type != 0 ? 1 : 0);
            EXPECT_EQ(analyser.GetDirectoryEntryType(), row.type);
            EXPECT_EQ(analyser.GetCurDirFirstClusterNum(), row.dot);
            EXPECT_EQ(analyser.GetParentFirstClusterNum(), row.dotDot);
            if (row.type == 2) {
                ASSERT_FALSE(cb.calls.empty());
                EXPECT_GE(cb.calls.front().first, 2u);
                for (const auto& call : cb.calls)
                    EXPECT_EQ(call.second, 1);
                EXPECT_GE(analyser.GetMaxClusterNum(), row.dot);
            }
            if (row.type == 0) {
                EXPECT_EQ(analyser.GetMaxClusterNum(), 0u);
            }
        }
        EXPECT_EQ(FileDigest(path), before);
    }

    // With EMPTY2.DAT erased the root sector no longer holds two live
    // entries of cluster 0 in a row.
    TempDir dir;
    const std::string copy = dir / "copy.img";
    CopyImage(FatImagePath("fat16.img"), copy);
    RunTool("MTOOLS_SKIP_CHECK=1 mdel -i '" + copy + "' ::/empty2.dat");
    auto sector = ReadImageSectors(copy, kFacts16.rootSector, 1);
    CFATFolderAnalyser analyser(512);
    EXPECT_EQ(analyser.AnalyseSector(sector.data(), nullptr, nullptr), 1);
    EXPECT_EQ(analyser.GetDirectoryEntryType(), 1u);
    EXPECT_GT(analyser.GetEntryCount(), 5u);
}

TEST(fat_structures, AnalyseCraftedSectors)
{
    auto sectorOf = [](std::vector<EntryBuilder> entries, uint8_t fill) {
        std::vector<uint8_t> s(512, fill);
        for (size_t i = 0; i < entries.size(); ++i)
            std::memcpy(s.data() + 32 * i, entries[i].b, 32);
        return s;
    };
    const EntryBuilder dot = EntryBuilder(".          ", 0x10).Cluster(7);
    const EntryBuilder dotDot = EntryBuilder("..         ", 0x10).Cluster(3);
    const EntryBuilder a = EntryBuilder("A       TXT", 0x20).Cluster(9).Size(5);
    const EntryBuilder b = EntryBuilder("B       TXT", 0x20).Cluster(10).Size(5);
    const EntryBuilder e1 = EntryBuilder("E1      TXT", 0x20);
    const EntryBuilder e2 = EntryBuilder("E2      TXT", 0x20);
    const EntryBuilder erased = EntryBuilder("\xe5" "2      TXT", 0x20);
    const EntryBuilder garbage = EntryBuilder("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b", 0xFF);
    struct Row {
        const char* name;
        std::vector<uint8_t> sector;
        unsigned int type;
        unsigned int count;
    };
    const Row rows[] = {
        {"dot entries, then garbage", sectorOf({dot, dotDot, garbage}, 0xFF), 2, 0},
        {"dot entries, two empty files", sectorOf({dot, dotDot, e1, e2}, 0), 2, 1},
        {"two empty files", sectorOf({a, e1, e2}, 0), 0, 0},
        {"an empty file and an erased one", sectorOf({a, e1, erased}, 0), 1, 3},
        {"entries then zeros", sectorOf({a, b}, 0), 1, 2},
        {"entries then garbage", sectorOf({a, b}, 0xFF), 0, 0},
        // Out of place, "." and ".." are ordinary entries.
        {"dot entries swapped", sectorOf({dotDot, dot, a}, 0), 1, 3},
        // ".." in second place is passed over even without ".".
        {"dot-dot alone", sectorOf({a, dotDot, b}, 0), 1, 2},
        {"nothing but zeros", std::vector<uint8_t>(512, 0), 0, 0},
        {"a full sector of files",
         [&] {
             std::vector<EntryBuilder> v;
             for (unsigned int i = 0; i < 16; ++i)
                 v.push_back(EntryBuilder("F       TXT", 0x20).Cluster(100 + i).Size(1));
             return sectorOf(v, 0);
         }(),
         1, 16},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CFATFolderAnalyser analyser(512);
        EXPECT_EQ(analyser.AnalyseSector(row.sector.data(), nullptr, nullptr), row.type != 0 ? 1 : 0);
        EXPECT_EQ(analyser.GetDirectoryEntryType(), row.type);
        EXPECT_EQ(analyser.GetEntryCount(), row.count);
    }
    CFATFolderAnalyser none(0);
    std::vector<uint8_t> s = sectorOf({a, b}, 0);
    EXPECT_EQ(none.AnalyseSector(s.data(), nullptr, nullptr), 0);
}

// ---- labels -------------------------------------------------------------------

TEST(fat_structures, LabelSearches)
{
    // FAT12 (not recognised by the boot-sector view): the label reader
    // works from the geometry alone.
    const std::string fat12 = FatImagePath("fat12.img");
    auto boot = ReadImageSectors(fat12, 0, 1);
    FatLabelGeometry g;
    g.dwReservedSectors = boot[14] | (boot[15] << 8);
    g.dwNumberOfFATs = boot[16];
    g.dwSectorsPerFAT = boot[22] | (boot[23] << 8);
    g.dwRootEntries = boot[17] | (boot[18] << 8);
    g.dwSectorsPerCluster = boot[13];
    auto device = OpenFatImage("fat12.img");
    CFATVolume volume(device.get());
    char label[100] = {};
    EXPECT_EQ(volume.GetFatLabel(0, g, label), 1);
    EXPECT_STREQ(label, "FLOPPY");

    // The FAT12 table follows README.TXT's and A's chains as istat lists them.
    std::unique_ptr<IRealFATTable> table(IFATTableFactory::CreateRealFATTable(device.get(), FS_FAT12, 1, 9));
    ASSERT_TRUE(table);
    auto inodes = FlsInodes(fat12);
    const long long dataStart = 1 + 2 * 9 + 224 * 32 / 512;
    for (const char* name : {"readme.txt", "A"}) {
        SCOPED_TRACE(name);
        auto sectors = IstatSectors(fat12, inodes.at(name));
        ASSERT_FALSE(sectors.empty());
        unsigned int c = static_cast<unsigned int>(sectors.front() - dataStart + 2);
        for (size_t i = 1; i < sectors.size(); ++i) {
            unsigned int next = table->GetNextCluster(c);
            EXPECT_EQ(next, static_cast<unsigned int>(sectors[i] - dataStart + 2));
            c = next;
        }
        EXPECT_EQ(table->GetNextCluster(c), 0xFFFFFFFFu);
    }

    // FAT32 root chains that come back on themselves end the search. Every
    // cluster of the loop is a copy of the full first root cluster, so only
    // the loop can end the search.
    TempDir dir;
    const std::vector<uint8_t> root = ReadImageSectors(FatImagePath("loop32.img"), 2050, 1);
    auto fat = [](unsigned int c, unsigned int v) { return Patch{32 * 512 + 4ULL * c, Le32(v)}; };
    auto cluster = [&](unsigned int c) { return Patch{(2050ULL + c - 2) * 512, root}; };
    struct Row {
        const char* name;
        std::vector<Patch> patches;
    };
    const std::vector<Row> rows = {
        {"FAT[2] = 2", {}},
        {"2-cycle", {fat(2, 3), fat(3, 2), cluster(3)}},
        {"tail into a loop", {fat(2, 3), fat(3, 4), fat(4, 3), cluster(3), cluster(4)}},
        {"long loop", [&] {
             std::vector<Patch> p = {fat(2, 3)};
             for (unsigned int c = 3; c < 40; ++c) {
                 p.push_back(fat(c, c + 1));
                 p.push_back(cluster(c));
             }
             p.push_back(fat(40, 10));
             p.push_back(cluster(40));
             return p;
         }()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string path = DamagedCopy(dir, "loop32.img", row.patches);
        auto source = OpenFatImage(path);
        CCountingDevice d(source.get());
        std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(&d, 0));
        // The loop is noticed within a few rounds of it, long before the
        // bound of one visit per FAT entry (131,072 here).
        EXPECT_LT(d.Reads().size(), 200u);
        EXPECT_EQ(analyze->GetFileSystemType(), FS_FAT32);
        char l[100];
        analyze->GetLabel(l, sizeof(l));
        EXPECT_STREQ(l, "");
    }
}

// ---- random sectors ----------------------------------------------------------------

TEST(fat_structures, RandomSectorsNeverAssert)
{
    // Half the sectors are random bytes. The other half are made of
    // plausible entries (valid names, attributes, dates, cluster and size),
    // long-name entries, erased and blank entries and "." / ".." starts, with
    // a random byte changed now and then, so that the name code and the
    // directory-sector analysis are reached with damaged input.
    std::mt19937_64 rng(0x5eed0010);
    const char nameChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-~!#$%&'()@^{} \x81\xe5";
    const uint8_t attributes[] = {0x00, 0x01, 0x08, 0x10, 0x20, 0x22, 0x28, 0x30};
    auto plausible = [&](uint8_t* e) {
        for (int i = 0; i < 11; ++i)
            e[i] = static_cast<uint8_t>(nameChars[rng() % (sizeof(nameChars) - 1)]);
        e[11] = attributes[rng() % sizeof(attributes)];
        std::memset(e + 12, 0, 20);
        if (rng() % 2) {
            unsigned int date = Date(1980 + rng() % 120, 1 + rng() % 12, 1 + rng() % 28);
            unsigned int time = Time(rng() % 24, rng() % 60, rng() % 30);
            for (size_t at : {16u, 18u, 24u})
                e[at] = static_cast<uint8_t>(date), e[at + 1] = static_cast<uint8_t>(date >> 8);
            for (size_t at : {14u, 22u})
                e[at] = static_cast<uint8_t>(time), e[at + 1] = static_cast<uint8_t>(time >> 8);
        }
        if (rng() % 4) {
            unsigned int cluster = static_cast<unsigned int>(rng() % 0x20000) + 2;
            std::copy_n(Le16(cluster >> 16).begin(), 2, e + 20);
            std::copy_n(Le16(cluster & 0xFFFF).begin(), 2, e + 26);
            std::copy_n(Le32(static_cast<unsigned int>(rng() % 100000) + 1).begin(), 4, e + 28);
        }
    };
    CFATFilePropertiesBuilder builder;
    CFATFolderAnalyser analyser(512);
    Recorder cb;
    std::vector<uint8_t> sector(512);
    unsigned long long named = 0, built = 0, directories = 0, firstSectors = 0;
    for (int round = 0; round < 100000; ++round) {
        for (size_t i = 0; i < sector.size(); i += 8) {
            uint64_t r = rng();
            std::memcpy(sector.data() + i, &r, 8);
        }
        if (round % 2) {
            bool dots = rng() % 3 == 0;
            for (size_t e = 0; e < 512; e += 32) {
                uint8_t* p = sector.data() + e;
                if (dots && e < 64) {
                    EntryBuilder d(e == 0 ? ".          " : "..         ", 0x10);
                    d.Cluster(static_cast<unsigned int>(rng() % 1000));
                    std::memcpy(p, d.b, 32);
                    continue;
                }
                switch (rng() % 10) {
                case 0: {  // long-name piece, maybe short, maybe holding surrogates
                    std::u16string units;
                    size_t n = rng() % 14;
                    for (size_t k = 0; k < n; ++k)
                        units.push_back(static_cast<char16_t>(rng() % 3 ? 0x41 + rng() % 26 : 0xD800 + rng() % 0x800));
                    EntryBuilder l = LongNameEntry(static_cast<uint8_t>(rng()), units);
                    std::memcpy(p, l.b, 32);
                    break;
                }
                case 1:
                    plausible(p);
                    p[0] = 0xE5;
                    break;
                case 2:
                    std::memset(p, 0, 512 - e);
                    e = 512;
                    break;
                case 3:
                    break;  // stays random
                default:
                    plausible(p);
                }
            }
            if (rng() % 4 == 0)
                sector[rng() % 512] = static_cast<uint8_t>(rng());
        }
        cb.calls.clear();
        if (analyser.AnalyseSector(sector.data(), &cb, &cb)) {
            ++directories;
            firstSectors += analyser.GetDirectoryEntryType() == 2;
        }
        for (size_t e = 0; e < 512; e += 32) {
            CTempFATDirEntry entry(sector.data() + e);
            if (entry.IsValidFATDirEntry(0) && !entry.IsLongFileNameEntry()) {
                char name[CTempFATDirEntry::kShortNameBufferSize];
                entry.GetShortName(name, entry.IsVolumeLabel());
                ++named;
            }
        }
        std::unique_ptr<CFATFileProperties> whole(builder.BuildFATFilePropertyFromDirEntryBuffer(sector.data(), 512));
        size_t from = 32 * (rng() % 16);
        std::unique_ptr<CFATFileProperties> part(
            builder.BuildFATFilePropertyFromDirEntryBuffer(sector.data() + from, 512 - from));
        built += (whole != nullptr) + (part != nullptr);
    }
    // The plausible half reaches the code under test.
    EXPECT_GT(named, 100000u);
    EXPECT_GT(built, 20000u);
    EXPECT_GT(directories, 1000u);
    EXPECT_GT(firstSectors, 1000u);
}
