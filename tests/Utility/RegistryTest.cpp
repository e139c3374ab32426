#include <gtest/gtest.h>

#include "SearcherRegistry.h"

namespace {

ICompleteFileSystemSearchController* FakeA() { return nullptr; }
ICompleteFileSystemSearchController* FakeB() { return nullptr; }
IQuickFileSystemSearchController* FakeQuick() { return nullptr; }
IVolumeAnalyze* FakeAnalyzeFat(IStorageDevice*, unsigned long long) { return nullptr; }
IVolumeAnalyze* FakeAnalyzeNtfs(IStorageDevice*, unsigned long long) { return nullptr; }

TEST(SearcherRegistry, OrderIsFixedAndScopeRestores)
{
    auto before = GetCompleteSearcherFactories();
    auto beforeAnalyze = GetVolumeAnalyzeFactories();
    auto beforeQuick = GetQuickSearcherFactory(FS_FAT16);
    {
        ScopedSearcherRegistry scope;
        EXPECT_TRUE(GetCompleteSearcherFactories().empty());
        RegisterCompleteSearcher(SEARCHER_RAW, FakeA);
        RegisterCompleteSearcher(SEARCHER_HFSPLUS, FakeB);
        auto got = GetCompleteSearcherFactories();
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].type, SEARCHER_HFSPLUS);
        EXPECT_EQ(got[0].factory, FakeB);
        EXPECT_EQ(got[1].type, SEARCHER_RAW);
        EXPECT_EQ(got[1].factory, FakeA);
        // Registering a slot again replaces it.
        RegisterCompleteSearcher(SEARCHER_RAW, FakeB);
        EXPECT_EQ(GetCompleteSearcherFactories()[1].factory, FakeB);
        // Out-of-range slots are ignored.
        RegisterCompleteSearcher(SEARCHER_NONE, FakeA);
        EXPECT_EQ(GetCompleteSearcherFactories().size(), 2u);

        RegisterVolumeAnalyze(FS_NTFS, FakeAnalyzeNtfs);
        RegisterVolumeAnalyze(FS_FAT32, FakeAnalyzeFat);
        auto an = GetVolumeAnalyzeFactories();
        ASSERT_EQ(an.size(), 2u);
        EXPECT_EQ(an[0], FakeAnalyzeFat);
        EXPECT_EQ(an[1], FakeAnalyzeNtfs);

        RegisterQuickSearcher(FS_FAT16, FakeQuick);
        EXPECT_EQ(GetQuickSearcherFactory(FS_FAT16), FakeQuick);
        EXPECT_EQ(GetQuickSearcherFactory(static_cast<enumFILE_SYSTEM_TYPE>(42)), nullptr);
    }
    auto after = GetCompleteSearcherFactories();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].type, before[i].type);
        EXPECT_EQ(after[i].factory, before[i].factory);
    }
    EXPECT_EQ(GetVolumeAnalyzeFactories(), beforeAnalyze);
    EXPECT_EQ(GetQuickSearcherFactory(FS_FAT16), beforeQuick);
}

}  // namespace
