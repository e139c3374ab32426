// Every kept fuzzing input (the seeds of fuzz/corpus and the inputs that once
// crashed, hung or leaked, in fuzz/regress) through the same entry point the
// fuzzer drives, in the ordinary build: each must finish, within a time and
// memory bound, and the seeds must reach the parsers they were made for.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "FuzzDevice.h"
#include "FuzzTargets.h"

// Test names and failure texts show the harness by its name.
void PrintTo(const FuzzTarget& target, std::ostream* out)
{
    *out << target.name;
}

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadInput(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> InputsOf(const std::string& folder, const std::string& name)
{
    std::vector<fs::path> inputs;
    const fs::path dir = fs::path(VANTREL_FUZZ_DIR) / folder / name;
    if (fs::is_directory(dir))
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

size_t PeakMemoryMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<size_t>(usage.ru_maxrss) / 1024;
}

class fuzz_inputs : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(fuzz_inputs, EachKeptInputFinishesWithinBounds)
{
    const FuzzTarget& target = GetParam();
    const std::vector<fs::path> seeds = InputsOf("corpus", target.name);
    EXPECT_FALSE(seeds.empty()) << "no seeds for " << target.name;
    // The seeds of the searching entry points are real volumes and files:
    // each lists something, else the harness no longer reaches its parsers.
    // (FAT12 volumes are recognised, not searched.)
    const bool lists = target.name != "partition" && target.name != "exif";
    for (const fs::path& input : seeds) {
        const std::vector<uint8_t> bytes = ReadInput(input);
        target.entry(bytes.data(), bytes.size());
        if (lists && input.filename() != "fat12") {
            EXPECT_GT(FuzzLastRunStats().uNodes, 0u) << input;
        }
    }
    std::vector<fs::path> all = seeds;
    for (const fs::path& p : InputsOf("regress", target.name))
        all.push_back(p);
    for (const fs::path& input : all) {
        const std::vector<uint8_t> bytes = ReadInput(input);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(target.entry(bytes.data(), bytes.size()), 0) << input;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 20.0) << input;
    }
    EXPECT_LT(PeakMemoryMiB(), 1024u);
}

INSTANTIATE_TEST_SUITE_P(all, fuzz_inputs, ::testing::ValuesIn(FuzzTargets()),
                         [](const ::testing::TestParamInfo<FuzzTarget>& info) { return info.param.name; });

// The sparse input format: records place sectors, a repeated or outside
// record is ignored, a short last record is zero-filled, the size is capped.
TEST(fuzz_device, SparseInputPlacesSectors)
{
    auto u32 = [](std::vector<uint8_t>& b, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    std::vector<uint8_t> in;
    u32(in, 100);
    u32(in, 7);
    in.insert(in.end(), kFuzzSectorSize, 0xAA);
    u32(in, 7);  // again: ignored
    in.insert(in.end(), kFuzzSectorSize, 0xBB);
    u32(in, 100);  // outside the disk: ignored
    in.insert(in.end(), kFuzzSectorSize, 0xCC);
    u32(in, 99);  // short: zero-filled
    in.push_back(0xDD);

    CFuzzDisk disk = CFuzzDisk::FromSparse(in.data(), in.size());
    ASSERT_EQ(disk.GetTotalSectors(), 100);
    std::vector<uint8_t> s(kFuzzSectorSize * 2);
    ASSERT_EQ(disk.ReadSector(s.data(), 6, 2), 1);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[kFuzzSectorSize], 0xAA);
    EXPECT_EQ(s[2 * kFuzzSectorSize - 1], 0xAA);
    ASSERT_EQ(disk.ReadSector(s.data(), 99, 1), 1);
    EXPECT_EQ(s[0], 0xDD);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(disk.ReadSector(s.data(), 99, 2), 0);
    EXPECT_EQ(disk.ReadSector(s.data(), -1, 1), 0);
    EXPECT_EQ(disk.BlocksWithData(64), (std::vector<long long>{0, 64}));

    std::vector<uint8_t> huge;
    u32(huge, 0xFFFFFFFFu);
    EXPECT_EQ(CFuzzDisk::FromSparse(huge.data(), huge.size()).GetTotalSectors(), kMaxFuzzSectors);
    EXPECT_EQ(CFuzzDisk::FromSparse(huge.data(), 3).GetTotalSectors(), 0);
}

}  // namespace
