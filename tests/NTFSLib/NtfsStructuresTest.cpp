// Boot sector, file-record and attribute checks, system files, the volume
// label and extension records, on crafted records and on records of an image
// made by mkntfs.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "NTFSDBR.h"
#include "NTFSFileRecord.h"
#include "NtfsTestSupport.h"
#include "TestSupport.h"

namespace {

std::vector<uint8_t> BootSector(const std::string& image) { return ReadAt(image, 0, 512); }

std::vector<uint8_t> ReadRecord(const std::string& image, long long n) { return NtfsReadRecord(image, n); }

std::vector<uint8_t> Unprotected(std::vector<uint8_t> r)
{
    CNTFSFileRecord::UnfixupFileRecord(r.data(), static_cast<unsigned int>(r.size()));
    return r;
}

}  // namespace

TEST(ntfs_structures, BootSectorChecks)
{
    const std::vector<uint8_t> good = BootSector(NtfsImagePath("ntfs-basic.img"));
    ASSERT_TRUE(CNTFSDBR::IsFullValidDBR(good.data()));
    EXPECT_FALSE(CNTFSDBR::IsFullValidDBR(nullptr));

    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> change;
        bool valid;
    };
    const Case cases[] = {
        {"4096 bytes and 128 per cluster", [](auto& b) { b[11] = 0; b[12] = 0x10; b[13] = 128; }, true},
        {"96 per cluster", [](auto& b) { b[13] = 96; }, false},
        {"256 bytes per sector", [](auto& b) { b[11] = 0; b[12] = 1; }, false},
        {"0 bytes per sector", [](auto& b) { b[11] = 0; b[12] = 0; }, false},
        {"reserved sectors", [](auto& b) { b[14] = 1; }, false},
        {"media descriptor", [](auto& b) { b[21] = 0x12; }, true},
        {"FAT field 17", [](auto& b) { b[17] = 1; }, false},
        {"large sector count", [](auto& b) { b[34] = 1; }, false},
        {"end marker", [](auto& b) { b[510] = 0; }, false},
        {"OEM id", [](auto& b) { b[7] = 'X'; }, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> b = good;
        c.change(b);
        EXPECT_EQ(CNTFSDBR::IsFullValidDBR(b.data()), c.valid) << c.what;
        CNTFSDBR dbr;
        EXPECT_EQ(dbr.InitFromBuffer(b.data()), c.valid) << c.what;
    }

    CNTFSDBR dbr;
    ASSERT_TRUE(dbr.InitFromBuffer(good.data()));
    EXPECT_EQ(dbr.GetSectorsperCluster(), 8u);
    EXPECT_EQ(dbr.GetTotalSectors(), 24ULL * 1024 * 1024 / 512 - 1);
    // An invalid sector leaves the old copy.
    std::vector<uint8_t> bad = good;
    bad[510] = 0;
    EXPECT_FALSE(dbr.InitFromBuffer(bad.data()));
    EXPECT_EQ(dbr.GetSectorsperCluster(), 8u);
}

TEST(ntfs_structures, FileRecordSize)
{
    std::vector<uint8_t> b = BootSector(NtfsImagePath("ntfs-basic.img"));
    struct Case {
        uint8_t byte;
        unsigned long long size;
    } cases[] = {{0xF6, 1024}, {0, 1024}, {2, 8192}, {0xF4, 4096}, {0x80, 0}, {0xE0, 0}};
    for (const Case& c : cases) {
        b[64] = c.byte;
        CNTFSDBR dbr;
        ASSERT_TRUE(dbr.InitFromBuffer(b.data()));
        EXPECT_EQ(dbr.GetFileRecordSizeByByte(), c.size) << int(c.byte);
    }
}

TEST(ntfs_structures, RecordHeaderChecks)
{
    const std::vector<uint8_t> good = MakeRecord({});
    ASSERT_TRUE(CNTFSFileRecordHeader::IsValid(good.data(), 1024));
    ASSERT_TRUE(CNTFSFileRecord::IsValid(good.data(), 1024));
    struct Case {
        const char* what;
        size_t at;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"update sequence count 0", 6, {0, 0}},
        {"update sequence count 17", 6, {17, 0}},
        {"update sequence offset 40", 4, {40, 0}},
        {"update sequence offset 258", 4, {2, 1}},
        {"1,536 bytes allocated", 28, {0, 6, 0, 0}},
        {"8,192 bytes allocated", 28, {0, 0x20, 0, 0}},
        {"signature", 0, {'B', 'A', 'A', 'D'}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> r = good;
        std::memcpy(r.data() + c.at, c.bytes.data(), c.bytes.size());
        EXPECT_FALSE(CNTFSFileRecordHeader::IsValid(r.data(), 1024)) << c.what;
        EXPECT_FALSE(CNTFSFileRecord::IsValid(r.data(), 1024)) << c.what;
    }
    EXPECT_FALSE(CNTFSFileRecord::IsValid(good.data(), 512));
}

TEST(ntfs_structures, UpdateSequenceProtection)
{
    RecordSpec spec;
    spec.attributes.push_back(FileName(5, u"a.txt", 1));
    // A resident value that covers the end of the first stride.
    spec.attributes.push_back(MakeResident(NTFS_ATTR_DATA, std::vector<uint8_t>(600, 0x5A)));
    std::vector<uint8_t> r = MakeRecord(spec);
    // Protected: the stride ends hold the sequence number, not the data.
    EXPECT_EQ(r[510], 0x01);
    EXPECT_EQ(r[511], 0x01);
    const std::vector<uint8_t> original = r;
    ASSERT_TRUE(CNTFSFileRecord::IsValidUpdateSequence(r.data(), 1024));
    ASSERT_EQ(CNTFSFileRecord::UnfixupFileRecord(r.data(), 1024), 1);
    EXPECT_EQ(r[510], 0x5A);
    EXPECT_EQ(r[511], 0x5A);
    ASSERT_EQ(CNTFSFileRecord::FixupFileRecord(r.data(), 1024), 1);
    EXPECT_EQ(r, original);

    {
        // A borrowed buffer comes back as it was given.
        CNTFSFileRecord view(r.data(), 1024, 0);
        ASSERT_TRUE(view.IsValid());
        EXPECT_EQ(r[510], 0x5A);
    }
    EXPECT_EQ(r, original);

    // Second stride without the sequence number: still a record (checked as
    // it is), but the view does not take the protection off.
    std::vector<uint8_t> torn = original;
    torn[1022] = 0x77;
    EXPECT_FALSE(CNTFSFileRecord::IsValidUpdateSequence(torn.data(), 1024));
    EXPECT_TRUE(CNTFSFileRecord::IsValid(torn.data(), 1024));
    {
        CNTFSFileRecord view(torn.data(), 1024, 1);
        ASSERT_TRUE(view.IsValid());
        EXPECT_EQ(view.GetRecord()[510], 0x01);
    }
    EXPECT_EQ(CNTFSFileRecord::UnfixupFileRecord(torn.data(), 512), 0);
}

TEST(ntfs_structures, AttributeWalkAndChecks)
{
    RecordSpec spec;
    spec.attributes.push_back(StandardInformation(1, 2, 3, 0x20));
    spec.attributes.push_back(FileName(5, u"one.txt", 2));
    spec.attributes.push_back(FileName(5, u"one long name.txt", 1));
    spec.attributes.push_back(MakeResident(NTFS_ATTR_DATA, {1, 2, 3}));
    std::vector<uint8_t> r = Unprotected(MakeRecord(spec));
    EXPECT_EQ(CNTFSFileRecord::GetAttibuteCountofSpecifiedType(r.data(), NTFS_ATTR_FILE_NAME), 2u);
    EXPECT_EQ(CNTFSFileRecord::GetAttributeOffset(r.data(), NTFS_ATTR_STANDARD_INFORMATION, 0), 56u);
    EXPECT_EQ(CNTFSFileRecord::FindAttibute(r.data(), NTFS_ATTR_INDEX_ROOT, 0), nullptr);
    EXPECT_FALSE(CNTFSFileRecord::HasAttributeList(r.data()));
    EXPECT_TRUE(CNTFSFileRecord::CheckAttibutes(r.data(), 1024));

    // First attribute at 1,016: nothing to walk, and that passes.
    std::vector<uint8_t> empty = r;
    empty[20] = 0xF8;
    empty[21] = 0x03;
    EXPECT_EQ(CNTFSFileRecord::GetAttibuteCountofSpecifiedType(empty.data(), NTFS_ATTR_FILE_NAME), 0u);
    EXPECT_TRUE(CNTFSFileRecord::CheckAttibutes(empty.data(), 1024));

    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> change;
    };
    const Case bad[] = {
        {"name with ?", [](auto& b) {
             const uint32_t at = CNTFSFileRecord::GetAttributeOffset(b.data(), NTFS_ATTR_FILE_NAME, 1);
             b[at + 24 + 66 + 6] = '?';
         }},
        {"attribute longer than the record", [](auto& b) {
             const uint32_t at = CNTFSFileRecord::GetAttributeOffset(b.data(), NTFS_ATTR_DATA, 0);
             const uint32_t length = 5000;
             std::memcpy(b.data() + at + 4, &length, 4);
         }},
        {"resident value past its attribute", [](auto& b) {
             const uint32_t at = CNTFSFileRecord::GetAttributeOffset(b.data(), NTFS_ATTR_DATA, 0);
             b[at + 16] = 0xF0;
         }},
        {"name longer than its attribute", [](auto& b) {
             const uint32_t at = CNTFSFileRecord::GetAttributeOffset(b.data(), NTFS_ATTR_FILE_NAME, 0);
             b[at + 24 + 64] = 200;
         }},
    };
    for (const Case& c : bad) {
        std::vector<uint8_t> b = r;
        c.change(b);
        EXPECT_FALSE(CNTFSFileRecord::CheckAttibutes(b.data(), 1024)) << c.what;
        EXPECT_FALSE(CNTFSFileRecord::IsValid(b.data(), 1024)) << c.what;
    }

    // A non-resident $DATA must carry well-formed mapping pairs.
    RecordSpec runs;
    runs.attributes.push_back(FileName(5, u"r", 1));
    runs.attributes.push_back(MakeNonResident(NTFS_ATTR_DATA, {0x51, 1, 1, 2, 3, 4, 5, 0}, 0, 0, 10, 4096));
    EXPECT_FALSE(CNTFSFileRecord::IsValid(MakeRecord(runs).data(), 1024));
    runs.attributes[1] = MakeNonResident(NTFS_ATTR_DATA, {0x11, 1, 0x20, 0}, 0, 0, 10, 4096);
    EXPECT_TRUE(CNTFSFileRecord::IsValid(MakeRecord(runs).data(), 1024));
    // A non-resident attribute too short for its own header.
    std::vector<uint8_t> shortHeader = MakeNonResident(NTFS_ATTR_DATA, {0x11, 1, 0x20, 0}, 0, 0, 10, 4096);
    shortHeader.resize(40);
    shortHeader[4] = 40;
    runs.attributes[1] = shortHeader;
    EXPECT_FALSE(CNTFSFileRecord::IsValid(MakeRecord(runs).data(), 1024));
}

TEST(ntfs_structures, FileNameComparisonAndStandardInformation)
{
    const std::vector<uint8_t> fn = FileName(0x0005000000000040ULL, u"Abc", 1, 77, 1234, 0x10000000);
    EXPECT_TRUE(CNTFSFileRecordFileNameAttribute::IsValid(fn.data(), static_cast<long long>(fn.size())));
    EXPECT_TRUE(CNTFSFileRecordFileNameAttribute::IsFileNameEqual(fn.data(), L"Abc"));
    EXPECT_FALSE(CNTFSFileRecordFileNameAttribute::IsFileNameEqual(fn.data(), L"abc"));
    EXPECT_FALSE(CNTFSFileRecordFileNameAttribute::IsFileNameEqual(fn.data(), L"Abcd"));
    EXPECT_EQ(CNTFSFileRecordFileNameAttribute::GetParentFileRecordNumber(fn.data()), 0x40u);
    EXPECT_EQ(CNTFSFileRecordFileNameAttribute::GetRealSize(fn.data()), 77u);
    EXPECT_TRUE(CNTFSFileRecordFileNameAttribute::IsDirectory(fn.data()));
    std::vector<uint8_t> odd = fn;
    odd[24 + 65] = 9;
    EXPECT_EQ(CNTFSFileRecordFileNameAttribute::GetNameSpace(odd.data()), 4u);

    const std::vector<uint8_t> si = StandardInformation(1, 2, 3, 0x06);
    EXPECT_TRUE(CNTFSFileRecordStandardInformationAttribute::IsValid(si.data(), 1024));
    EXPECT_EQ(CNTFSFileRecordStandardInformationAttribute::GetModificationTime(si.data()), 2u);
    EXPECT_EQ(CNTFSFileRecordStandardInformationAttribute::GetDosFilePermission(si.data()), 6u);
    std::vector<uint8_t> shortSi = si;
    shortSi[4] = 56;
    EXPECT_FALSE(CNTFSFileRecordStandardInformationAttribute::IsValid(shortSi.data(), 1024));
}

TEST(ntfs_structures, SystemFiles)
{
    struct Case {
        std::u16string name;
        uint32_t dos;
        uint32_t index;
        bool meta;
    } cases[] = {
        {u"$MFT", 0x06, 0, true},     {u"$Quota", 0x06, 32, true}, {u"$Reparse", 0x26, 34, true},
        {u".", 0x06, 5, true},        {u"$Quota", 0x02, 32, false}, {u"$Boot", 0x00, 7, false},
        {u"$Other", 0x06, 0xFFFFFFFFu, false}, {u"plain.txt", 0x06, 0xFFFFFFFFu, false},
    };
    for (const Case& c : cases) {
        RecordSpec spec;
        spec.attributes.push_back(StandardInformation(0, 0, 0, c.dos));
        spec.attributes.push_back(FileName(5, c.name, 3));
        const std::vector<uint8_t> r = MakeRecord(spec);
        EXPECT_EQ(CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(r.data()), c.index);
        EXPECT_EQ(CIsMetaFileRecord::IsMetaFileRecord(r.data(), 1024), c.meta);
        // Extension records are never system files.
        spec.baseReference = 3;
        EXPECT_EQ(CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(MakeRecord(spec).data()), 0xFFFFFFFFu);
    }
    EXPECT_TRUE(CIsMetaFileRecord::IsMetaFileRecord(24));
    EXPECT_FALSE(CIsMetaFileRecord::IsMetaFileRecord(25));

    const std::string image = NtfsImagePath("ntfs-basic.img");
    const std::vector<uint8_t> mft = ReadRecord(image, 0);
    EXPECT_TRUE(CMetaFileRecordTypeAnalyzer::IsValidMFTFileRecord(mft.data()));
    EXPECT_FALSE(CMetaFileRecordTypeAnalyzer::IsValidLogFileRecord(mft.data()));
    EXPECT_TRUE(CMetaFileRecordTypeAnalyzer::IsValidLogFileRecord(ReadRecord(image, 2).data()));
    EXPECT_TRUE(CMetaFileRecordTypeAnalyzer::IsValidUpCaseFileRecord(ReadRecord(image, 10).data()));
    EXPECT_FALSE(CIsMetaFileRecord::IsMetaFileRecord(ReadRecord(image, 64).data(), 1024));  // small.txt
}

TEST(ntfs_structures, VolumeLabel)
{
    char label[100] = {};
    const std::vector<uint8_t> volume = ReadRecord(NtfsImagePath("ntfs-basic.img"), 3);
    CVolumeFileAnalyzer::GetLabel(volume.data(), label, 1024);
    EXPECT_STREQ(label, "BASIC");

    // Not the $Volume record, or a name reaching past the record: no label.
    char none[100] = {};
    CVolumeFileAnalyzer::GetLabel(ReadRecord(NtfsImagePath("ntfs-basic.img"), 2).data(), none, 1024);
    EXPECT_STREQ(none, "");
    std::vector<uint8_t> bad = Unprotected(volume);
    const uint32_t at = CNTFSFileRecord::GetAttributeOffset(bad.data(), NTFS_ATTR_VOLUME_NAME, 0);
    ASSERT_NE(at, 0xFFFFFFFFu);
    bad[at + 20] = 0xF0;
    bad[at + 21] = 0x03;
    CNTFSFileRecord::FixupFileRecord(bad.data(), 1024);
    CVolumeFileAnalyzer::GetLabel(bad.data(), none, 1024);
    EXPECT_STREQ(none, "");

    // A long label is cut at 99 bytes, never inside a character.
    RecordSpec spec;
    spec.attributes.push_back(StandardInformation(0, 0, 0, 0x06));
    spec.attributes.push_back(FileName(5, u"$Volume", 3));
    std::u16string longName(60, u'é');
    std::vector<uint8_t> value(longName.size() * 2);
    std::memcpy(value.data(), longName.data(), value.size());
    spec.attributes.push_back(MakeResident(NTFS_ATTR_VOLUME_NAME, value));
    char cut[100];
    std::memset(cut, 0, sizeof cut);
    CVolumeFileAnalyzer::GetLabel(MakeRecord(spec).data(), cut, 1024);
    EXPECT_EQ(std::strlen(cut), 98u);
    std::string expected;
    for (int i = 0; i < 49; ++i)
        expected += "\xC3\xA9";
    EXPECT_EQ(std::string(cut), expected);
}

TEST(ntfs_structures, IndexRootParent)
{
    const std::string image = NtfsImagePath("ntfs-basic.img");
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "the fixture has no folders";
    const auto tree = NtfsFlsTree(image);
    ASSERT_TRUE(tree.count("/dir1"));
    const std::vector<uint8_t> dir = Unprotected(ReadRecord(image, tree.at("/dir1").inode));
    const uint32_t at = CNTFSFileRecord::GetAttributeOffset(dir.data(), NTFS_ATTR_INDEX_ROOT, 0);
    ASSERT_NE(at, 0xFFFFFFFFu);
    EXPECT_EQ(CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(dir.data() + at, 1024 - at),
              tree.at("/dir1").inode);
    EXPECT_FALSE(CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(dir.data()));
    // The root folder's index is too large for its record.
    EXPECT_TRUE(CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(
        Unprotected(ReadRecord(image, 5)).data()));
}

TEST(ntfs_structures, AttributeListNamingOnlyTheBase)
{
    std::vector<uint8_t> entry(32, 0);
    entry[0] = 0x10;
    entry[4] = 32;
    entry[16] = 100;  // the base record itself
    RecordSpec spec;
    spec.number = 100;
    spec.attributes.push_back(StandardInformation(0, 0, 0, 0));
    spec.attributes.push_back(MakeResident(NTFS_ATTR_ATTRIBUTE_LIST, entry));
    spec.attributes.push_back(FileName(5, u"x", 1));
    std::vector<uint8_t> r = MakeRecord(spec);
    const std::vector<uint8_t> before = r;
    auto list = CNTFSMultiFileRecord::GetExtendFileRecordInfoList(r.data(), 1024, 0, 8, nullptr);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ(list->front()->m_s64MFTNumber, 100);
    EXPECT_EQ(list->front()->m_s64StartSector, -1);
    EXPECT_EQ(r, before);  // protection put back

    // MFT at cluster 100 (sectors 800...): record 100 starts at sector 1000.
    CNTFSDataRunList mft;
    mft.AddDataRun(100, 0, 64);
    EXPECT_EQ(CNTFSMultiFileRecord::GetFileRecordStartSectorfromMFTNumber(100, 8, 0, mft, 2), 1000);
    EXPECT_EQ(CNTFSMultiFileRecord::GetFileRecordStartSectorfromMFTNumber(1000, 8, 0, mft, 2), -1);
    EXPECT_FALSE(CNTFSMultiFileRecord::InitExtendFileRecord(r.data(), 1024, 1000, 8, 0, nullptr, mft, 2));

    // Two entries for another record and one for the base: one extension.
    std::vector<uint8_t> two(96, 0);
    for (int i = 0; i < 3; ++i) {
        two[i * 32] = 0x80;
        two[i * 32 + 4] = 32;
        two[i * 32 + 16] = i == 0 ? 100 : 101;
    }
    spec.attributes[1] = MakeResident(NTFS_ATTR_ATTRIBUTE_LIST, two);
    r = MakeRecord(spec);
    auto placed = CNTFSMultiFileRecord::InitExtendFileRecord(r.data(), 1024, 1000, 8, 0, nullptr, mft, 2);
    ASSERT_TRUE(placed);
    ASSERT_EQ(placed->size(), 1u);
    EXPECT_EQ(placed->front()->m_s64MFTNumber, 101);
    EXPECT_EQ(placed->front()->m_s64StartSector, 1002);
}

TEST(ntfs_structures, ClusterMatch)
{
    EXPECT_TRUE(NTFSPublicFunction::IsClusterNOMatch(2048 + 80, 10, 2048, 8));
    EXPECT_FALSE(NTFSPublicFunction::IsClusterNOMatch(2048 + 81, 10, 2048, 8));
    EXPECT_FALSE(NTFSPublicFunction::IsClusterNOMatch(2048 + 88, 10, 2048, 8));
    EXPECT_FALSE(NTFSPublicFunction::IsClusterNOMatch(100, 0, 2048, 8));
}
