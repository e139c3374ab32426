// Properties records built from directory runs of real images, FAT file
// nodes and the FAT partition record.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "FATDirEntry.h"
#include "FATFileNode.h"
#include "FATFilePropertiesBuilder.h"
#include "FATSearchedPartitionInfo.h"
#include "FatTestSupport.h"
#include "TestSupport.h"

namespace {

struct BuiltEntry {
    std::unique_ptr<CFATFileProperties> props;
    size_t longEntries;     // long-name entries before the short entry
    unsigned int cluster;   // the short entry's first cluster
    size_t offset;          // of the short entry in the directory bytes
};

// Splits directory bytes into runs the way the directory walk does (invalid
// entries, labels and dot entries end a run) and builds a record per run.
std::map<std::string, BuiltEntry> BuildRuns(CFATFilePropertiesBuilder& builder, const std::vector<uint8_t>& bytes)
{
    std::map<std::string, BuiltEntry> out;
    size_t runStart = std::string::npos;
    for (size_t off = 0; off + 32 <= bytes.size(); off += 32) {
        CTempFATDirEntry entry(bytes.data() + off);
        if (!entry.IsValidFATDirEntry(0)) {
            runStart = std::string::npos;
            continue;
        }
        if (entry.IsLongFileNameEntry()) {
            if (runStart == std::string::npos)
                runStart = off;
            continue;
        }
        size_t from = runStart == std::string::npos ? off : runStart;
        runStart = std::string::npos;
        if (entry.IsVolumeLabel() || bytes[off] == '.')
            continue;
        std::unique_ptr<CFATFileProperties> props(
            builder.BuildFATFilePropertyFromDirEntryBuffer(bytes.data() + from, off + 32 - from));
        if (!props)
            continue;
        std::string name = props->GetFileName();
        out[name] = {std::move(props), (off - from) / 32, entry.GetFirstClusterNO(), off};
    }
    return out;
}

std::vector<uint8_t> DirectoryBytes(const std::string& image, long long inode)
{
    std::vector<uint8_t> bytes;
    for (long long s : IstatSectors(image, inode)) {
        auto sector = ReadImageSectors(image, s, 1);
        bytes.insert(bytes.end(), sector.begin(), sector.end());
    }
    return bytes;
}

}  // namespace

TEST(fat_nodes, NamesAndTimesFromImages)
{
    struct Row {
        std::string image;
        std::string dir;    // fls path of the folder, "" for the root
        std::string name;   // as the builder must give it
        std::string fls;    // fls path of the entry (times oracle)
        bool deleted;
        int longEntries;    // -1: not checked
    };
    std::vector<Row> rows = {
        {"lfn.img", "", "emoji-😀-name.txt", "emoji-😀-name.txt", false, 2},
        {"lfn.img", "", "abcdefghijkl😀.txt", "abcdefghijkl😀.txt", false, 2},
        {"lfn.img", "", "COLON_~1.TXT", "colon:in:name.txt", false, 2},
        {"lfn.img", "reuse", "A very long file name numb", "reuse/A very long file name numb", true, 2},
        {"lfn.img", "reuse", "x.txt", "reuse/x.txt", false, 0},
        {"lfn.img", "reuse", "other.txt", "reuse/other.txt", false, 0},
    };
    for (const char* image : {"fat16.img", "fat32.img"}) {
        rows.push_back({image, "", "Long file name with spaces.txt", "Long file name with spaces.txt", true, 3});
        rows.push_back({image, "", "Ünïcödé-名前.txt", "Ünïcödé-名前.txt", false, -1});
        rows.push_back({image, "", "readme.txt", "readme.txt", false, 0});
        rows.push_back({image, "", "empty1.dat", "empty1.dat", false, 0});
        rows.push_back({image, "dirA", "#ile31.bin", "dirA/_ile31.bin", true, 0});
        rows.push_back({image, "dirA", "file00.bin", "dirA/file00.bin", false, 0});
        rows.push_back({image, "dirA", "#ub", "dirA/_ub", true, 0});
    }

    CFATFilePropertiesBuilder builder;
    std::map<std::string, std::map<std::string, BuiltEntry>> dirs;
    std::map<std::string, std::map<std::string, long long>> inodes;
    std::map<std::string, std::string> digests;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.image + ": " + row.name);
        const std::string path = FatImagePath(row.image);
        if (!inodes.count(row.image)) {
            digests[row.image] = FileDigest(path);
            inodes[row.image] = FlsInodes(path);
        }
        auto& nodes = inodes[row.image];
        const std::string key = row.image + "/" + row.dir;
        if (!dirs.count(key))
            dirs[key] = BuildRuns(builder, DirectoryBytes(path, row.dir.empty() ? 2 : nodes.at(row.dir)));
        auto& found = dirs[key];
        auto it = found.find(row.name);
        ASSERT_NE(it, found.end());
        CFATFileProperties& props = *it->second.props;
        EXPECT_EQ(props.GetState(), row.deleted ? 1 : 0);
        EXPECT_EQ(props.GetFileNameLength(), static_cast<int>(row.name.size()));
        if (row.longEntries >= 0) {
            EXPECT_EQ(it->second.longEntries, static_cast<size_t>(row.longEntries));
        }

        ASSERT_TRUE(nodes.count(row.fls)) << row.fls;
        IstatTimes t = IstatTimesOf(path, nodes.at(row.fls));
        EXPECT_EQ(props.GetModificationTime(), UnixToFileTime(t.written));
        EXPECT_EQ(props.GetCreationTime(), UnixToFileTime(t.created));
        EXPECT_EQ(props.GetLastAccessTime(), UnixToFileTime(t.accessed));
        if (row.name.find('.') != std::string::npos && !(props.GetAttribute() & 0x10)) {
            // Every file of the fixtures carries this time (touch -d, mcopy -m).
            struct tm when = {};
            when.tm_year = 121, when.tm_mon = 2, when.tm_mday = 4, when.tm_hour = 5, when.tm_min = 6, when.tm_sec = 8;
            EXPECT_EQ(props.GetModificationTime(), UnixToFileTime(timegm(&when)));
        }
    }
    for (const auto& [image, digest] : digests)
        EXPECT_EQ(FileDigest(FatImagePath(image)), digest) << image;

    // Once: a node takes its ids and its metadata sector from the record.
    auto& root = dirs.at("fat16.img/");
    BuiltEntry& readme = root.at("readme.txt");
    const long long rootSector = 260;
    readme.props->SetFirstClusterNum(readme.cluster);
    readme.props->SetParentFirstClusterNum(0);
    readme.props->SetMetaDataSector(rootSector);
    CFATFileNode node;
    node.SetBelongedPartition(3);
    testing::internal::CaptureStdout();
    node.SetFileProperties(readme.props.release());
    std::string line = testing::internal::GetCapturedStdout();
    auto sectors = IstatSectors(FatImagePath("fat16.img"), inodes.at("fat16.img").at("readme.txt"));
    ASSERT_FALSE(sectors.empty());
    const long long cluster = (sectors.front() - 292) / 4 + 2;
    EXPECT_EQ(node.GetCurrentNodeID(), cluster);
    EXPECT_EQ(node.GetParentNodeID(), 0);
    EXPECT_EQ(static_cast<long long>(node.GetStatusWord()) >> 24, rootSector);
    EXPECT_EQ(node.GetBelongedPartition(), 3);
    char expected[80];
    std::snprintf(expected, sizeof(expected), "=====readme.txt====== Current:%llx Parent:0\n",
                  static_cast<unsigned long long>(cluster));
    EXPECT_EQ(line, expected);
}

TEST(fat_nodes, LongNameRuns)
{
    const EntryBuilder shortEntry = EntryBuilder("LONGNA~1TXT", 0x20).Cluster(9).Size(10);
    const EntryBuilder erasedShort = EntryBuilder("\xe5ONGNA~1TXT", 0x20).Cluster(9).Size(10);
    auto orphan = [](const std::u16string& units) {
        EntryBuilder e = LongNameEntry(0x02, units);
        return std::vector<uint8_t>(e.b, e.b + 32);
    };
    auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    auto repeat = [](char16_t c, size_t n) { return std::u16string(n, c); };
    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* expected;  // null: no record
        int state;
    };
    const std::vector<Row> rows = {
        {"three pieces in order", LongNameRun(u"A thirty character long name.x", shortEntry),
         "A thirty character long name.x", 0},
        {"a pair split across two pieces", LongNameRun(u"abcdefghijkl\U0001F600.txt", shortEntry),
         "abcdefghijkl\U0001F600.txt", 0},
        {"a high surrogate alone", LongNameRun(u"a\xD800" u"b.txt", shortEntry), "a\xEF\xBF\xBD" "b.txt", 0},
        {"a low surrogate alone", LongNameRun(u"a\xDC00" u"b.txt", shortEntry), "a\xEF\xBF\xBD" "b.txt", 0},
        {"an unfinished name before a new one", join(orphan(u"zzzzzzzzzzzzz"), LongNameRun(u"short.txt", shortEntry)),
         "short.txt", 0},
        // The last piece holds 5 units but 15 UTF-8 bytes: counted in units
        // it still starts a new name.
        {"a short last piece of wide characters",
         join(orphan(u"zzzzzzzzzzzzz"), LongNameRun(u"abcdefghijklm名前名前名", shortEntry)),
         "abcdefghijklm名前名前名", 0},
        {"a colon falls back to the short name", LongNameRun(u"a:b.txt", shortEntry), "LONGNA~1.TXT", 0},
        {"an empty piece reads as _",
         [&] {
             EntryBuilder e = LongNameEntry(0x41, u"");
             return join(std::vector<uint8_t>(e.b, e.b + 32), LongNameRun(u"", shortEntry));
         }(),
         "_", 0},
        {"the checksum is not checked", LongNameRun(u"checksum.txt", shortEntry), "checksum.txt", 0},
        {"2,046 bytes", LongNameRun(repeat(u'n', 2046), shortEntry), "", 0},
        {"2,047 bytes", LongNameRun(repeat(u'n', 2047), shortEntry), nullptr, 0},
        {"2,046 bytes of two-byte characters", LongNameRun(repeat(u'é', 1023), shortEntry), "", 0},
        {"2,048 bytes of two-byte characters", LongNameRun(repeat(u'é', 1024), shortEntry), nullptr, 0},
        {"no short entry within the length",
         [&] { auto r = LongNameRun(u"x.txt", shortEntry); r.resize(r.size() - 32); return r; }(), nullptr, 0},
        {"an erased short entry alone", std::vector<uint8_t>(erasedShort.b, erasedShort.b + 32), "#ONGNA~1.TXT", 1},
        {"a never-used entry", std::vector<uint8_t>(32, 0), nullptr, 0},
        {"an invalid short name without a long name",
         [] { EntryBuilder e("A?B     TXT", 0x20); return std::vector<uint8_t>(e.b, e.b + 32); }(), nullptr, 0},
    };
    CFATFilePropertiesBuilder builder;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::unique_ptr<CFATFileProperties> props(
            builder.BuildFATFilePropertyFromDirEntryBuffer(row.bytes.data(), row.bytes.size()));
        if (!row.expected) {
            EXPECT_FALSE(props);
            continue;
        }
        ASSERT_TRUE(props);
        if (*row.expected) {
            EXPECT_STREQ(props->GetFileName(), row.expected);
        } else {
            EXPECT_EQ(std::strlen(props->GetFileName()), 2046u);
        }
        EXPECT_EQ(props->GetState(), row.state);
        EXPECT_EQ(props->GetFileSize(), 10);
    }
}

TEST(fat_nodes, RecordFromEntryAndTimes)
{
    EntryBuilder e = EntryBuilder("README  TXT", 0x21)
                         .Cluster(0x12345)
                         .Size(870)
                         .Word(14, Time(5, 6, 4))
                         .Word(16, Date(2021, 3, 4))
                         .Word(18, Date(2022, 1, 2))
                         .Word(22, Time(23, 59, 29))
                         .Word(24, Date(2107, 12, 31));
    CTempFATDirEntry entry(e.b);
    std::unique_ptr<CFATFileProperties> props(CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntry("n", entry));
    auto at = [](int y, int mo, int d, int h, int mi, int s) {
        struct tm t = {};
        t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = mi, t.tm_sec = s;
        return UnixToFileTime(timegm(&t));
    };
    EXPECT_EQ(props->GetAttribute(), 0x21u);
    EXPECT_EQ(props->GetFileSize(), 870);
    EXPECT_EQ(props->GetState(), 0);
    EXPECT_EQ(props->GetCreationTime(), at(2021, 3, 4, 5, 6, 8));
    EXPECT_EQ(props->GetModificationTime(), at(2107, 12, 31, 23, 59, 58));
    EXPECT_EQ(props->GetLastAccessTime(), at(2022, 1, 2, 0, 0, 0));
    EXPECT_EQ(props->GetFirstClusterNum(), 0);  // clusters are the caller's
    EXPECT_EQ(props->GetDataRunList(), nullptr);

    // Date word 0 is not special: the conversion normalises it.
    _FILETIME ft;
    DosDateTimeToFileTime(0, 0, &ft);
    EXPECT_EQ(FileTimeToU64(ft), at(1979, 11, 30, 0, 0, 0));
    DosDateTimeToFileTime(0, Time(1, 2, 3), &ft);
    EXPECT_EQ(FileTimeToU64(ft), at(1979, 11, 30, 1, 2, 6));
    EXPECT_EQ(FileTimeToU64(SecondsSince1970ToFileTime(0)), 116444736000000000ULL);
}

namespace {

CFATFileProperties* Props(const char* name, unsigned short attribute, long long first, long long parent,
                          long long metadata, unsigned long long created)
{
    auto* p = CFATFileProperties::Create();
    p->SetFileName(name);
    p->SetAttribute(attribute);
    p->SetFirstClusterNum(first);
    p->SetParentFirstClusterNum(parent);
    p->SetMetaDataSector(metadata);
    p->SetCreationTime(U64ToFileTime(created));
    p->SetModificationTime(U64ToFileTime(created + 1));
    p->SetLastAccessTime(U64ToFileTime(created + 2));
    p->SetFileSize(77);
    return p;
}

}  // namespace

TEST(fat_nodes, NodeForwardsToItsRecord)
{
    testing::internal::CaptureStdout();
    CFATFileNode node;
    node.SetBelongedPartition(5);
    node.SetFileProperties(Props("..folder", 0x10, 0x1234, 2, 0x800, 1000));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "=====..folder====== Current:1234 Parent:2\n");
    EXPECT_EQ(node.GetCurrentNodeID(), 0x1234);
    EXPECT_EQ(node.GetParentNodeID(), 2);
    EXPECT_EQ(node.GetMetadataStartPosition(), 0x800);
    EXPECT_EQ(node.GetBelongedPartition(), 5);
    EXPECT_EQ(node.IsDirectory(), 1);
    EXPECT_EQ(node.GetAttribute(), 0x10u);
    EXPECT_EQ(node.GetSearcheType(), SEARCHER_FAT);
    EXPECT_EQ(node.GetFileSize(), 77);
    EXPECT_EQ(node.GetModificationTime(), 1001u);

    node.GetFileProperties()->SetState(8);
    node.MarkDeleted();
    EXPECT_EQ(node.IsDeleted(), 1);
    EXPECT_EQ(node.GetFileProperties()->GetState(), 9);

    node.FilterFileNameByDot();
    EXPECT_STREQ(node.GetFileName(), "folder");
    node.SetParentNodeID(7);
    EXPECT_EQ(node.GetFileProperties()->GetParentFirstClusterNum(), 7);

    DataRun run;
    run.llStart = 40;
    run.llLength = 3;
    // A second list replaces the first, which is released (the sanitizer
    // build reports it otherwise).
    IDataRunList* first = CreateDataRunList();
    first->AddDataRun(&run);
    node.SetDataRunList(first);
    IDataRunList* runs = CreateDataRunList();
    runs->AddDataRun(&run);
    node.SetDataRunList(runs);
    EXPECT_EQ(node.GetDataRunList(), runs);

    testing::internal::CaptureStdout();
    std::unique_ptr<IFileNode> clone(node.Clone());
    testing::internal::GetCapturedStdout();
    auto* c = dynamic_cast<CFATFileNode*>(clone.get());
    ASSERT_TRUE(c);
    EXPECT_STREQ(c->GetFileName(), "folder");
    EXPECT_NE(c->GetFileName(), node.GetFileName());
    EXPECT_EQ(c->GetCurrentNodeID(), 0x1234);
    EXPECT_EQ(c->GetParentNodeID(), 7);
    EXPECT_EQ(c->GetMetadataStartPosition(), 0x800);
    EXPECT_EQ(c->GetBelongedPartition(), 5);
    EXPECT_EQ(c->IsDeleted(), 1);
    ASSERT_TRUE(c->GetDataRunList());
    EXPECT_NE(c->GetDataRunList(), node.GetDataRunList());
    EXPECT_EQ(c->GetDataRunList()->GetFirst()->llStart, 40);

    CFATFileNode file;
    testing::internal::CaptureStdout();
    file.SetFileProperties(Props("ro.txt", 0x01, 9, 2, 0, 0));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(file.IsDirectory(), 0);
    EXPECT_EQ(file.IsDeleted(), 0);

    CFATFileNode empty;
    EXPECT_STREQ(empty.GetFileName(), "");
    EXPECT_EQ(empty.IsDirectory(), 0);
    EXPECT_EQ(std::unique_ptr<IFileNode>(empty.Clone())->GetCurrentNodeID(), -1);
}

TEST(fat_nodes, AssignmentAndCloneOfRecords)
{
    std::unique_ptr<CFATFileProperties> a(Props("a", 0x20, 10, 2, 0x111, 500));
    std::unique_ptr<CFATFileProperties> b(Props("bee", 0x10, 20, 3, 0x222, 900));
    DataRun run;
    run.llStart = 5;
    run.llLength = 1;
    CFATFilePropertiesStruct fields;
    IDataRunList* runs = CreateDataRunList();
    runs->AddDataRun(&run);
    fields.pDataRunList = runs;
    fields.pszFileName = const_cast<char*>("with runs");
    fields.s64MetaDataSector = 0x333;
    fields.ucState = 1;
    CFATFileProperties withRuns(fields);
    runs->Release();
    EXPECT_STREQ(withRuns.GetFileName(), "with runs");
    EXPECT_EQ(withRuns.GetMetaDataSector(), 0x333);
    ASSERT_TRUE(withRuns.GetDataRunList());

    IDataRunList* before = withRuns.GetDataRunList();
    withRuns = *b;
    EXPECT_STREQ(withRuns.GetFileName(), "bee");
    EXPECT_EQ(withRuns.GetFileNameLength(), 3);
    EXPECT_EQ(withRuns.GetFirstClusterNum(), 20);
    EXPECT_EQ(withRuns.GetParentFirstClusterNum(), 3);
    EXPECT_EQ(withRuns.GetAttribute(), 0x10u);
    EXPECT_EQ(withRuns.GetCreationTime(), 900u);
    EXPECT_EQ(withRuns.GetLastAccessTime(), 902u);
    EXPECT_EQ(withRuns.GetState(), 0);
    EXPECT_EQ(withRuns.GetMetaDataSector(), 0x333);      // kept
    EXPECT_EQ(withRuns.GetDataRunList(), before);        // kept

    std::unique_ptr<IFileProperties> clone(a->Clone());
    auto* c = dynamic_cast<CFATFileProperties*>(clone.get());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->GetMetaDataSector(), 0x111);
    EXPECT_NE(c->GetFileName(), a->GetFileName());
    a->SetFileName(nullptr);
    EXPECT_EQ(a->GetFileName(), nullptr);
    EXPECT_EQ(a->GetFileNameLength(), 0);
    EXPECT_STREQ(c->GetFileName(), "a");
    c->SetState(0x1FF);
    EXPECT_EQ(c->GetState(), 0xFF);
}

TEST(fat_nodes, SameIdFolderOfAnotherNameTakesTheNewerRecord)
{
    testing::internal::CaptureStdout();
    struct Row {
        const char* name;
        unsigned short otherAttribute;
        unsigned long long otherCreated;
        const char* nameAfter;
    };
    const Row rows[] = {
        {"newer folder", 0x10, 2000, "NEWNAME"},
        {"same time", 0x10, 1000, "NEWNAME"},
        {"older folder", 0x10, 999, "OLDNAME"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CFATFileNode mine, other;
        mine.SetFileProperties(Props("OLDNAME", 0x10, 30, 2, 0x500, 1000));
        other.SetFileProperties(Props("NEWNAME", row.otherAttribute, 30, 2, 0x900, row.otherCreated));
        EXPECT_FALSE(mine == other);
        EXPECT_STREQ(mine.GetFileName(), row.nameAfter);
        EXPECT_EQ(mine.GetFileProperties()->GetMetaDataSector(), 0x500);
    }
    // A file of the same id and another name is never taken over.
    CFATFileNode file, other;
    file.SetFileProperties(Props("FILE", 0x20, 31, 2, 0, 1000));
    other.SetFileProperties(Props("OTHER", 0x20, 31, 2, 0, 5000));
    EXPECT_FALSE(file == other);
    EXPECT_STREQ(file.GetFileName(), "FILE");
    testing::internal::GetCapturedStdout();
}

TEST(fat_nodes, PartitionRecordClone)
{
    std::unique_ptr<CFATSearchedPartitionInfo> info(CFATSearchedPartitionInfo::CreateFATSearchedPartitionInfo(4096));
    EXPECT_EQ(info->GetType(), 1);
    info->SetPartitionIndex(3);
    info->SetFileSystemType(FS_FAT32);
    info->SetSectorsPerUnit(8);
    info->SetUnitBase(3058);
    info->SetStartSector(2048);
    info->SetCounter1(11);
    info->SetCounter2(12);
    info->SetFlags(13);
    info->SetTotalSectors(196608);
    info->SetReliability(14);
    info->SetScore(0.75);
    info->SetExtra(15);
    info->SetVolumeContext(info.get());
    info->SetReservedSector(32);
    info->SetSectorPerFAT(1513);
    info->SetTotalCluster(193550);
    info->SetRootInfo(2);
    info->MergeFlag(0x40);
    info->MergeFlag(0x80);

    std::unique_ptr<CSearchedPartitionInfo> clone(info->Clone());
    auto* c = dynamic_cast<CFATSearchedPartitionInfo*>(clone.get());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->GetType(), 1);
    EXPECT_EQ(c->GetSectorSize(), 4096u);
    EXPECT_EQ(c->GetPartitionIndex(), 3);
    EXPECT_EQ(c->GetFileSystemType(), FS_FAT32);
    EXPECT_EQ(c->GetSectorsPerUnit(), 8u);
    EXPECT_EQ(c->GetUnitBase(), 3058);
    EXPECT_EQ(c->GetStartSector(), 2048);
    EXPECT_EQ(c->GetTotalSectors(), 196608u);
    EXPECT_EQ(c->GetReservedSector(), 32);
    EXPECT_EQ(c->GetSectorPerFAT(), 1513u);
    EXPECT_EQ(c->GetTotalCluster(), 193550u);
    EXPECT_EQ(c->GetRootInfo(), 2u);
    EXPECT_EQ(c->GetFlag(), 0xC0u);
    // Not copied: the score and the other base fields keep their defaults.
    CSearchedPartitionInfo defaults(4096);
    EXPECT_EQ(c->GetScore(), 0.0);
    EXPECT_EQ(c->GetCounter1(), defaults.GetCounter1());
    EXPECT_EQ(c->GetCounter2(), defaults.GetCounter2());
    EXPECT_EQ(c->GetFlags(), defaults.GetFlags());
    EXPECT_EQ(c->GetReliability(), defaults.GetReliability());
    EXPECT_EQ(c->GetExtra(), defaults.GetExtra());
    EXPECT_EQ(c->GetVolumeContext(), nullptr);
}
