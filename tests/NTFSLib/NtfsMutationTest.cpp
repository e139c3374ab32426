// Thousands of damaged variants of a record that holds every attribute the
// engine reads go through every parser: each answers, none reads outside
// the record (the sanitizer build checks), none loops.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "NTFSFileNode.h"
#include "NTFSFileRecord.h"
#include "NtfsTestSupport.h"

namespace {

std::vector<uint8_t> RichRecord()
{
    std::vector<uint8_t> list(64, 0);
    for (int i = 0; i < 2; ++i) {
        list[i * 32] = i == 0 ? 0x30 : 0x80;
        list[i * 32 + 4] = 32;
        list[i * 32 + 16] = static_cast<uint8_t>(100 + i);
    }
    std::vector<uint8_t> root(16 + 16 + 96 + 16, 0);
    root[16] = 16;                          // entries right after the index header
    root[20] = static_cast<uint8_t>(16 + 96 + 16);  // bytes in use
    root[32 + 8] = 96;
    root[32 + 16] = 40;                     // parent
    root[32 + 16 + 64] = 2;                 // name length
    root[32 + 96 + 8] = 16;
    root[32 + 96 + 12] = 2;                 // last entry
    RecordSpec spec;
    spec.number = 100;
    spec.flags = 3;
    spec.attributes = {
        StandardInformation(1, 2, 3, 0x26),
        MakeResident(NTFS_ATTR_ATTRIBUTE_LIST, list),
        FileName(40, u"SHORT~1.TXT", 2, 5000),
        FileName(40, u"a long file name.txt", 1, 5000),
        MakeResident(NTFS_ATTR_VOLUME_NAME, {'L', 0, 'B', 0}),
        MakeNonResident(NTFS_ATTR_DATA, {0x21, 3, 0x00, 0x10, 0x01, 2, 0x11, 1, 0x10, 0}, 0, 5, 5000, 24576),
        MakeResident(NTFS_ATTR_INDEX_ROOT, root),
    };
    return MakeRecord(spec);
}

// Every parser over one buffer.
void Exercise(std::vector<uint8_t>& r)
{
    const unsigned int size = static_cast<unsigned int>(r.size());
    CNTFSFileRecord::IsValid(r.data(), size);
    CNTFSFileRecord::IsValidUpdateSequence(r.data(), size);
    CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(r.data());
    CIsMetaFileRecord::IsMetaFileRecord(r.data(), size);
    CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(r.data());
    CNTFSDataRunList runs;
    unsigned long long real = 0;
    CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(r.data(), runs, true, real);
    CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(r.data());
    const uint32_t rootAt = CNTFSFileRecord::GetAttributeOffset(r.data(), NTFS_ATTR_INDEX_ROOT, 0);
    if (rootAt != 0xFFFFFFFFu)
        CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(r.data() + rootAt, size - rootAt);
    char label[100] = {};
    CVolumeFileAnalyzer::GetLabel(r.data(), label, size);
    CNTFSDataRunList mft;
    mft.AddDataRun(10, 0, 64);
    auto extend = CNTFSMultiFileRecord::InitExtendFileRecord(r.data(), size, 200, 8, 0, nullptr, mft, 2);
    CNTFSMultiFileRecord multi(r.data(), size, 200, nullptr, extend.get());
    if (multi.IsValid()) {
        long long parent = -1;
        std::unique_ptr<CNTFSFileProperties> p(
            CNTFSFilePropertiesBuilder::BuildFileProperties(200, multi, 4096, &parent));
        if (p) {
            IDataRunList* list = p->GetDataRunList();
            if (list)
                list->Release();
        }
    }
}

}  // namespace

TEST(ntfs_mutation, DamagedRecordsAreAnsweredSafely)
{
    const std::vector<uint8_t> rich = RichRecord();
    {
        std::vector<uint8_t> r = rich;
        ASSERT_TRUE(CNTFSFileRecord::IsValid(r.data(), 1024));
        CNTFSMultiFileRecord multi(r.data(), 1024, 200, nullptr, nullptr);
        std::unique_ptr<CNTFSFileProperties> p(CNTFSFilePropertiesBuilder::BuildFileProperties(200, multi, 4096, nullptr));
        ASSERT_TRUE(p);
        EXPECT_STREQ(p->GetFileName(), "a long file name.txt");
    }
    std::mt19937 random(20261210);
    int stillValid = 0;
    for (int round = 0; round < 4000; ++round) {
        std::vector<uint8_t> r = rich;
        CNTFSFileRecord::UnfixupFileRecord(r.data(), 1024);
        const int flips = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < flips; ++i) {
            // Mostly the header and the attribute headers, where lengths and
            // offsets live.
            const size_t at = (random() % 3 == 0) ? random() % 1024 : random() % 600;
            r[at] = static_cast<uint8_t>(random() % 4 == 0 ? 0xFF : random());
        }
        if (random() % 2)
            CNTFSFileRecord::FixupFileRecord(r.data(), 1024);
        Exercise(r);
        stillValid += CNTFSFileRecord::IsValid(r.data(), 1024) ? 1 : 0;
    }
    // Some damage is harmless: the mutations reached valid records too.
    EXPECT_GT(stillValid, 100);
}
