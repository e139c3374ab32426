#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "ImageFileDevice.h"
#include "PartitionTableAnalyze.h"
#include "StorageDevice.h"
#include "TestSupport.h"

namespace {

namespace E = PartitionTableError;

// How the device handed to the analysis differs from a plain disk.
enum class Setup { Disk, Window, NoRecord, VolumeRecord, RecordState1 };

// Expected code meaning "the device's own code for its failed read".
constexpr ResultCode kDeviceCode = ~0ULL;

struct Row {
    std::string name;     // case name
    std::string fixture;  // image made by make-fixtures.sh
    unsigned sectorSize;
    ResultCode code;
    // "index start count type", type the GPT type GUID or the APM type name.
    std::vector<std::string> lines;
    int scheme;  // what the disk record's partition scheme becomes
    Setup setup = Setup::Disk;
    // Compare start and count with partx, leaving out the rows listed here
    // (extended containers, GPT entries of 8 MiB or less).
    bool partx = false;
    std::vector<int> partxDropped = {};
};

const char kEfi[] = "c12a7328-f81f-11d2-ba4b-00a0c93ec93b";

std::vector<Row> Rows()
{
    const std::vector<std::string> mbr = {"1 2048 20480 ", "5 24576 8192 ", "6 34816 8192 ", "7 45056 8192 "};
    const std::string efi = std::string(" ") + kEfi;
    return {
        {"mbr", "mbr", 512, 0, mbr, 1, Setup::Disk, true, {2}},
        {"mbr_primary_after_extended", "mbr3", 512, 0,
         {"1 2048 20480 ", "5 24576 8192 ", "6 34816 8192 ", "3 63488 8192 "}, 1, Setup::Disk, true, {2}},
        {"boot01", "boot01", 512, E::kMbrBootIndicator, {}, 0},
        {"dyn", "dyn", 512, E::kDynamicMbrDisk, {}, 0},
        {"past", "past", 512, 0, {"5 24576 8192 ", "6 34816 8192 ", "7 45056 8192 "}, 1},
        {"ebrloop", "ebrloop", 512, 0, {"1 2048 20480 ", "5 24576 8192 "}, 1},
        {"ebr_link_past_end", "ebr-linkpast", 512, 0, {"1 2048 20480 ", "5 24576 8192 "}, 1},
        {"ebr_no_signature", "ebr-nosig", 512, E::kEbrSignature, {"1 2048 20480 "}, 0},
        // The walk ends at the damaged EBR: primary 3 after it is not read.
        {"ebr_two_links", "ebr-twolinks", 512, E::kEbrTwoLinks, {"1 2048 20480 ", "5 24576 8192 "}, 0},
        {"x85", "x85", 512, 0, {"1 2048 20480 ", "5 24576 8192 ", "6 34816 8192 "}, 1, Setup::Disk, true, {2}},
        {"ee", "ee", 512, 0, {}, 2},
        {"gpt", "gpt", 512, 0, {"2 4096 409600" + efi}, 2, Setup::Disk, true, {1}},
        {"gpt_trunc", "gpt-trunc", 512, 0, {"2 4096 303104" + efi}, 2},
        {"gpt_lastff", "gpt-lastff", 512, 0, {"2 4096 520192" + efi}, 2},
        {"gpt_firstff", "gpt-firstff", 512, 0, {}, 2},
        {"gpt_dyn", "gpt-dyn", 512, E::kDynamicGptDisk, {}, 2},
        {"gpt_unreadable_entries", "gpt-short", 512, kDeviceCode, {}, 2},
        {"g4k", "g4k", 4096, 0, {"1 256 16384 0fc63daf-8483-4772-8e79-3d69d8477de4"}, 2},
        {"apm", "apm", 512, 0,
         {"1 1 63 Apple_partition_map", "2 2048 59392 Apple_HFS", "3 61440 61440 Apple_HFS", "4 64 1984 Apple_Free",
          "5 122880 8192 Apple_Free"},
         3, Setup::Disk, true},
        {"apm32", "apm32", 512, E::kApmTooManyEntries, {}, 3},
        {"apm_no_map", "apm-nomap", 512, E::kApmNoPartitionMap, {}, 3},
        // Entry 1 is cut at the 4-sector end; entries 2 and 3 start past it;
        // reading entry 4 fails and what was listed stays.
        {"apm_unreadable_entry", "apm-short", 512, kDeviceCode, {"1 1 3 Apple_partition_map"}, 3},
        {"apm_2048_byte_blocks", "apm2k", 512, 0,
         {"1 4 12 Apple_partition_map", "2 2048 29696 Apple_HFS", "3 31744 33792 Apple_Free"}, 3, Setup::Disk, true},
        {"apm_on_4096_byte_sectors", "apm", 4096, E::kApmNoPartitionMap, {}, 3},
        {"bare_fat_volume", "fat", 512, 0, {}, 0},
        {"window_device", "mbr", 512, E::kNotWholeDisk, {}, 0, Setup::Window},
        {"no_disk_record", "mbr", 512, E::kNoDiskRecord, {}, 0, Setup::NoRecord},
        {"volume_record", "mbr", 512, E::kNoDiskHolder, {}, 0, Setup::VolumeRecord},
        {"disk_record_state_1", "mbr", 512, E::kDiskRecordNotFilled, {}, 0, Setup::RecordState1},
    };
}

std::string Line(const PartitionEntry& e)
{
    std::ostringstream s;
    s << e.iIndex << ' ' << e.s64StartSector << ' ' << e.s64SectorCount << ' ';
    const _GUID zero{};
    if (std::memcmp(&e.typeGuid, &zero, sizeof zero) != 0)
        s << FormatPartitionGuid(e.typeGuid);
    else
        s << e.szTypeName;
    return s.str();
}

std::vector<std::string> Lines(const std::list<PartitionEntry>& list)
{
    std::vector<std::string> out;
    for (const PartitionEntry& e : list)
        out.push_back(Line(e));
    return out;
}

// "index start count" of every entry partx lists, less the dropped ones.
std::vector<std::string> PartxEntries(const std::string& image, const std::vector<int>& dropped)
{
    std::istringstream in(RunTool("partx -g -o NR,START,SECTORS '" + image + "'"));
    std::vector<std::string> out;
    int nr;
    long long start, count;
    while (in >> nr >> start >> count)
        if (std::find(dropped.begin(), dropped.end(), nr) == dropped.end())
            out.push_back(std::to_string(nr) + ' ' + std::to_string(start) + ' ' + std::to_string(count));
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> OurEntries(const std::list<PartitionEntry>& list)
{
    std::vector<std::string> out;
    for (const PartitionEntry& e : list)
        out.push_back(std::to_string(e.iIndex) + ' ' + std::to_string(e.s64StartSector) + ' ' +
                      std::to_string(e.s64SectorCount));
    std::sort(out.begin(), out.end());
    return out;
}

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs vantrel-cli with args; its output goes through files in dir.
CliRun RunCli(const TempDir& dir, const std::string& args)
{
    const std::string out = dir / "cli.out", err = dir / "cli.err";
    const std::string command = "'" VANTREL_CLI "' " + args + " >'" + out + "' 2>'" + err + "'";
    CliRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFileBytes(out);
    run.err = ReadFileBytes(err);
    return run;
}

std::string Hex(ResultCode c)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", c);
    return text;
}

// "index start count" of every line the command line printed.
std::vector<std::string> CliEntries(const std::string& output)
{
    std::istringstream in(output);
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string index, start, count;
        std::getline(fields, index, '\t');
        std::getline(fields, start, '\t');
        std::getline(fields, count, '\t');
        out.push_back(index + ' ' + start + ' ' + count);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::unique_ptr<CImageFileDevice> OpenDevice(const std::string& image, const Row& row)
{
    if (row.setup == Setup::Disk || row.setup == Setup::RecordState1) {
        auto disk = OpenImageFileDisk(image, row.sectorSize);
        if (disk && row.setup == Setup::RecordState1)
            dynamic_cast<IDiskDeviceData*>(disk->GetPrivateData())->GetDiskInfo()->iState = 1;
        return disk;
    }
    auto device = std::make_unique<CImageFileDevice>(
        row.sectorSize, row.setup == Setup::Window ? STORAGE_DEVICE_WINDOW : STORAGE_DEVICE_DISK);
    std::string path = image;
    if (!device->Open(path.data()))
        return nullptr;
    if (row.setup == Setup::Window)
        device->SetPrivateData(CreateDiskDeviceData(new CCollectDiskDeviceInfoStruct));
    else if (row.setup == Setup::VolumeRecord)
        device->SetPrivateData(CreateVolumeDeviceData(new CCollectedVolumeDeviceInfoStruct));
    return device;
}

class PartitionTableTable : public testing::TestWithParam<Row> {};

TEST_P(PartitionTableTable, Lists)
{
    const Row& row = GetParam();
    TempDir dir;
    RunTool("bash '" PARTITION_FIXTURE_SCRIPT "' '" + dir.path() + "' " + row.fixture);
    const std::string image = dir / (row.fixture + ".img");
    const std::string digest = FileDigest(image);

    auto device = OpenDevice(image, row);
    ASSERT_NE(device, nullptr);
    std::unique_ptr<IPartitionTableAnalyze> reader(CreatePartitionTableAnalyze());
    std::list<PartitionEntry> list = {PartitionEntry{}};  // must be cleared

    const auto begin = std::chrono::steady_clock::now();
    const ResultCode rc = reader->AnalyzePartitionTable(device.get(), list);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));

    if (row.code == kDeviceCode) {
        EXPECT_TRUE(IsResultFailure(rc)) << FormatResultCode(rc);
        EXPECT_EQ(rc, device->GetLastError()) << FormatResultCode(rc);
    } else {
        EXPECT_EQ(rc, row.code) << FormatResultCode(rc) << " expected " << FormatResultCode(row.code);
    }
    EXPECT_EQ(Lines(list), row.lines);
    if (row.partx) {
        EXPECT_EQ(OurEntries(list), PartxEntries(image, row.partxDropped));
    }

    EXPECT_EQ(FillDiskPartitionScheme(device.get()), row.scheme);
    if (auto* holder = dynamic_cast<IDiskDeviceData*>(device->GetPrivateData())) {
        EXPECT_EQ(holder->GetDiskInfo()->iPartitionScheme, row.scheme);
    }

    device.reset();

    if (row.setup == Setup::Disk) {
        // The disk device the engine opens images with fills the scheme too.
        std::unique_ptr<IStorageDevice> disk(CreateImageDiskDevice(image.c_str(), row.sectorSize));
        ASSERT_NE(disk, nullptr);
        auto* holder = dynamic_cast<IDiskDeviceData*>(disk->GetPrivateData());
        ASSERT_NE(holder, nullptr);
        EXPECT_EQ(holder->GetDiskInfo()->iPartitionScheme, row.scheme);
        disk.reset();

        // The command line prints the same listing, tab-separated, or names
        // the refusal's code.
        const std::string sizeOption = row.sectorSize == 512 ? "" : "--sector-size " + std::to_string(row.sectorSize) + " ";
        const CliRun cli = RunCli(dir, "parts " + sizeOption + "'" + image + "'");
        if (row.code == 0) {
            std::string expected;
            for (std::string line : row.lines) {
                std::replace(line.begin(), line.end(), ' ', '\t');
                expected += line + "\n";
            }
            EXPECT_EQ(cli.status, 0) << cli.err;
            EXPECT_EQ(cli.out, expected);
            if (row.partx) {
                EXPECT_EQ(CliEntries(cli.out), PartxEntries(image, row.partxDropped));
            }
        } else {
            EXPECT_EQ(cli.status, 1);
            EXPECT_EQ(cli.out, "");
            if (row.code != kDeviceCode) {
                EXPECT_NE(cli.err.find(Hex(row.code)), std::string::npos) << cli.err;
            }
        }
    }

    EXPECT_EQ(FileDigest(image), digest);
}

// The row's name is what ctest shows for each case.
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

INSTANTIATE_TEST_SUITE_P(Fixtures, PartitionTableTable, testing::ValuesIn(Rows()));

TEST(PartitionTableAnalyze, NoDisk)
{
    std::unique_ptr<IPartitionTableAnalyze> reader(CreatePartitionTableAnalyze());
    std::list<PartitionEntry> list(1);
    EXPECT_EQ(reader->AnalyzePartitionTable(nullptr, list), E::kNoDisk);
    EXPECT_TRUE(list.empty());
    enumDiskPartitionScheme type = DISK_PARTITION_SCHEME_MBR;
    EXPECT_EQ(GetDiskType(nullptr, type), E::kNoDiskForType);
    EXPECT_EQ(type, DISK_PARTITION_SCHEME_NONE);
    EXPECT_EQ(FillDiskPartitionScheme(nullptr), DISK_PARTITION_SCHEME_NONE);
}

}  // namespace
