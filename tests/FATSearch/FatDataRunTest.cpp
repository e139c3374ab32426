// Extents of live and deleted FAT files over a FAT given entry by entry.
// (The run list joins extents that touch, so a deleted file's clusters come
// out as one run where they are contiguous.)
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "FATBuildDataRun.h"
#include "FATTable.h"
#include "FileNode.h"

namespace {

// Entries not listed are 0 (free).
class CMapFAT : public IFATTable {
public:
    explicit CMapFAT(std::map<unsigned int, unsigned int> next) : m_next(std::move(next)) {}
    unsigned int GetNextCluster(unsigned int cluster) override
    {
        ++lookups;
        auto it = m_next.find(cluster);
        return it == m_next.end() ? 0 : it->second;
    }
    int lookups = 0;

private:
    std::map<unsigned int, unsigned int> m_next;
};

using Runs = std::vector<std::pair<long long, long long>>;

Runs RunsOf(IDataRunList* list)
{
    Runs out;
    if (!list)
        return out;
    for (DataRun* run = list->GetFirst(); run; run = list->GetNext())
        out.emplace_back(run->llStart, run->llLength);
    list->Release();
    return out;
}

constexpr unsigned int kEnd = 0x0FFFFFFF;
constexpr unsigned int kBad = 0x0FFFFFF7;

}  // namespace

TEST(fat_runs, LiveAndDeletedFiles)
{
    // 512-byte sectors, 2 sectors per cluster (1 KiB clusters).
    struct Case {
        const char* what;
        std::map<unsigned int, unsigned int> fat;
        unsigned int first;
        long long size;
        int deleted;
        unsigned long long limit;
        Runs runs;
    };
    const Case cases[] = {
        {"live, contiguous", {{10, 11}, {11, 12}, {12, kEnd}}, 10, 3000, 0, 1000, {{8, 3}}},
        {"live, two extents", {{10, 11}, {11, 20}, {20, 21}, {21, kEnd}}, 10, 4000, 0, 1000, {{8, 2}, {18, 2}}},
        {"live, FAT16 end mark", {{10, 0x0FFFFFF8}}, 10, 1000, 0, 1000, {{8, 1}}},
        {"live, chain ends early: the last extent is stretched", {{10, 11}, {11, kEnd}}, 10, 5000, 0, 1000, {{8, 5}}},
        {"live, chain of free entries", {}, 10, 2500, 0, 1000, {{8, 3}}},
        {"live, chain longer than the file", {{10, 11}, {11, 12}, {12, 13}, {13, kEnd}}, 10, 1500, 0, 1000, {{8, 2}}},
        {"live, extent ending beyond the limit drops all", {{10, 11}, {11, 600}, {600, kEnd}}, 10, 3000, 0, 1000, {}},
        {"live, stretched beyond the limit drops all", {{10, kEnd}}, 10, 600 * 1024, 0, 1000, {}},
        {"live, chain loops", {{10, 11}, {11, 10}}, 10, 5000, 0, 1000, {{8, 2}, {8, 2}, {8, 1}}},
        {"live, first cluster below 2", {}, 1, 1000, 0, 1000, {}},
        {"live, no limit", {{10, kEnd}}, 10, 1000, 0, 0, {}},
        {"deleted, cleared chain: contiguous", {}, 10, 3000, 1, 1000, {{8, 3}}},
        {"deleted, chain kept, then cleared", {{10, 20}}, 10, 3000, 1, 1000, {{8, 1}, {18, 2}}},
        {"deleted, bad cluster adds nothing", {{10, kBad}}, 10, 3000, 1, 1000, {{8, 1}}},
        {"deleted, end mark ends the walk", {{10, kEnd}}, 10, 3000, 1, 1000, {{8, 1}}},
        {"deleted, walk stops at the limit", {}, 10, 8000, 1, 22, {{8, 3}}},
        {"deleted, first cluster below 2", {}, 0, 1000, 1, 1000, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMapFAT fat(c.fat);
        CFATBuildDataRun builder(&fat, 512, 2, c.limit);
        EXPECT_EQ(RunsOf(builder.BuildDataRunList(c.first, c.size, c.deleted)), c.runs);
    }

    // No FAT reader: no extents.
    CFATBuildDataRun none(nullptr, 512, 2, 1000);
    EXPECT_EQ(RunsOf(none.BuildDataRunList(10, 1000, 0)), Runs{});
    EXPECT_EQ(RunsOf(none.BuildDataRunList(10, 1000, 1)), Runs{});
}

TEST(fat_runs, DamagedChainsCannotHoldTheWalk)
{
    // A FAT whose every entry points to the next cluster: a 4 KiB file
    // needs 4 lookups at most, not a walk to the end of the table.
    struct Endless : IFATTable {
        unsigned int GetNextCluster(unsigned int c) override
        {
            ++lookups;
            return c + 1;
        }
        int lookups = 0;
    } endless;
    CFATBuildDataRun builder(&endless, 512, 2, 1ULL << 40);
    EXPECT_EQ(RunsOf(builder.BuildDataRunList(10, 4096, 0)), (Runs{{8, 4}}));
    EXPECT_LE(endless.lookups, 4);
    endless.lookups = 0;
    EXPECT_EQ(RunsOf(builder.BuildDataRunList(10, 4096, 1)), (Runs{{8, 4}}));
    EXPECT_LE(endless.lookups, 4);
}
