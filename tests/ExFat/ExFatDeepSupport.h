// Shared helpers of the exFAT deep-scan tests: the disk variants made from
// the committed images without root, a window device over one partition,
// and the canonical listing of a result tree.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ExFatCompleteSearch.h"
#include "ExFatTestSupport.h"
#include "ImageFileDevice.h"
#include "IStorageDevice.h"

class TempDir;

// ex-disk.img geometry.
constexpr long long kDiskP1Start = 2048;
constexpr long long kDiskP1Heap = 6144;
constexpr long long kDiskP1Sectors = 131072;
constexpr long long kDiskP2Start = 133120;
constexpr long long kDiskP2Heap = 137216;
constexpr long long kDiskP2Sectors = 194560;
// late-disk.img: ex-late.img placed this far into a 600 MiB disk.
constexpr long long kLateOffset = 1000000;

// Sectors set to zero in place (dd conv=notrunc).
void ZeroSectors(const std::string& image, long long first, long long count);
// A copy of ex-disk.img in dir: "intact", "no-mbr" (sector 0 zeroed),
// "p1-main" (p1's main boot region zeroed) or "p1-both" (both boot regions
// of p1 zeroed).
std::string MakeDiskVariant(const TempDir& dir, const std::string& variant);
// ex-late.img at sector 1,000,000 of a sparse 600 MiB disk, with both boot
// regions and the up-case table's first sector zeroed.
std::string MakeLateDisk(const TempDir& dir);

// Sectors [start, start + count) of a source device, seen as a device of
// their own (a partition as a volume).
class CWindowDevice : public IStorageDevice {
public:
    CWindowDevice(IStorageDevice* source, long long start, long long count)
        : m_pSource(source), m_llStart(start), m_llCount(count)
    {
    }
    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, long long first, long long count) override;
    unsigned int GetSectorSize() override { return m_pSource->GetSectorSize(); }
    long long GetTotalSectors() override { return m_llCount; }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return STORAGE_DEVICE_VOLUME; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

private:
    IStorageDevice* m_pSource;
    long long m_llStart;
    long long m_llCount;
};

// One line per node: "path\tsize\tdeleted\tis_dir", the path through the
// recorded parent ids up to the builder's root id ("?<id>/" in front when a
// parent was never found). Of two folders with one id, the live one names
// the path.
std::multiset<std::string> TreeLines(const CRecordingBuilder& builder);
// Quick scan of the volume at [start, start + count) of image.
std::multiset<std::string> QuickTreeLines(const std::string& image, long long start, long long count);

// The controller's block: 4 MiB of 512-byte sectors.
constexpr long long kBlockSectors = 8192;

struct DeepRun {
    std::unique_ptr<CImageFileDevice> device;
    std::unique_ptr<CRecordingBuilder> builder = std::make_unique<CRecordingBuilder>();
    std::unique_ptr<CExFatCompleteSearch> searcher = std::make_unique<CExFatCompleteSearch>();
    std::string before;  // listing after the last block
    std::string after;   // listing after EndSearch
};

// Feeds the image to the searcher block by block, as the deep controller
// does, then ends the search. With stopAt, only the sectors before it are
// fed and the search is not ended. afterBlock (when given) sees the
// searcher after each block.
void RunDeep(DeepRun& run, const std::string& image, long long block = kBlockSectors, long long stopAt = -1,
             const std::function<void(long long end, const CExFatCompleteSearch&)>& afterBlock = nullptr);

// The "key=value" fields of the debug-listing lines of one kind ("set",
// "candidate", "final"); bare words are keyed by position ("0" is a set's
// first sector). Fields stop at "names=".
std::vector<std::map<std::string, std::string>> ListingLines(const std::string& listing, const std::string& kind);
