// Shared helpers of the HFS+ tests: a volume made by xorriso at test time,
// reads and patches of image bytes, and recording builder and progress sinks.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "HFSPlusQuickSearch.h"
#include "IProgress.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"

class IFileNode;
class IStorageDevice;
class CHFSPlusFileNode;

// The fixture: an ISO image whose HFS+ partition holds a volume of
// the files below, made once per test process.
struct HfsFixture {
    std::string image;          // the image file (tests only read it)
    long long volumeStart = 0;  // the volume's first 512-byte sector
    long long volumeSectors = 0;
    std::string source;         // the folder the files came from
};
const HfsFixture& SharedHfsFixture();
// Makes a fresh fixture in dir (for tests that damage their copy).
HfsFixture MakeHfsFixture(const std::string& dir);

// The files the fixture holds: path below the root to content.
std::map<std::string, std::string> HfsFixtureFiles();
// Folders of the fixture (paths below the root).
std::vector<std::string> HfsFixtureFolders();
// Seconds since 1970 that the fixture gives a.txt as modification time.
constexpr long long kHfsFixtureATime = 1614834368;  // 2021-03-04 05:06:08 UTC

void CopyImage(const std::string& from, const std::string& to);
void WriteAt(const std::string& path, unsigned long long offset, const void* bytes, size_t size);
std::vector<uint8_t> ReadAt(const std::string& path, unsigned long long offset, size_t size);

using Bytes = std::vector<uint8_t>;
// Big- and little-endian integers of width bytes into b at at.
void PutBE(Bytes& b, size_t at, uint64_t v, int width);
void PutLE(Bytes& b, size_t at, uint64_t v, int width);
// A B-tree node whose records lie one after another from byte 14.
Bytes MakeBTreeNode(size_t size, int8_t kind, uint8_t height, const std::vector<Bytes>& records);
// A whole one-leaf tree file: header node 0 and leaf node 1.
Bytes MakeBTreeFile(uint16_t nodeSize, uint16_t maxKeyLength, const std::vector<Bytes>& leafRecords);
// Writes bytes in new allocation blocks behind everything the image holds;
// the first block's number in the volume.
uint32_t AppendBlocks(const HfsFixture& fixture, const Bytes& bytes);
// Makes the fixture journaled (info block at the volume's end, the journal
// behind it) with one stale transaction holding copies of node whose home is
// the byte offset home of the volume.
void AddJournal(const HfsFixture& fixture, unsigned long long home, const Bytes& node, int copies);

// Makes the fixture journaled: the last records of a catalog leaf of many/
// leave the live leaf, and the journal's stale part keeps two copies of the
// old leaf (the image grows to hold the journal). Returns the names of the
// files and folders the live tree lost.
std::set<std::string> AddJournalOfOldLeaf(const HfsFixture& fixture);

// A GPT disk image (512-byte sectors) whose partitions start at the given
// sectors, each holding a copy of the fixture's volume; every copy after
// the first gets another creation date in both its headers, as volumes made
// apart would have. Returns the image's sectors.
long long MakeGptDiskOfVolumes(const HfsFixture& fixture, const std::string& path, const std::vector<long long>& starts);

// A disk image holding one copy of the fixture's volume from byte offset
// startByte on, behind a partition table of the given sfdisk label ("gpt",
// "dos", or "" for none; tables count 512-byte sectors). The image is a whole
// number of 4096-byte sectors long.
void MakeDiskOfOneVolume(const HfsFixture& fixture, const std::string& path, const std::string& label,
                         unsigned long long startByte);

// A read-only window of 512-byte sectors over an image file.
std::unique_ptr<IStorageDevice> OpenVolume(const std::string& image, long long start, long long count);

// Geometry of the fixture volume read from its header (host order).
struct HfsGeometry {
    uint32_t blockSize = 0;
    unsigned long long catalogOffset = 0;  // byte offset of the catalog file in the image
    uint32_t catalogNodeSize = 0;
    uint32_t catalogRoot = 0;
    uint32_t catalogFirstLeaf = 0;
    uint32_t catalogTotalNodes = 0;
};
HfsGeometry ReadGeometry(const HfsFixture& fixture);
// Byte offset in the image of the catalog record data (of the given type:
// 1 folder, 2 file) of a file or folder.
unsigned long long FindRecord(const HfsFixture& f, const HfsGeometry& g, const std::u16string& name,
                              uint32_t parent = 2, uint8_t type = 2);

// Records what a searcher hands to its tree builder; owns the accepted nodes.
class CHfsRecordingBuilder : public IDirecotryTreeBuilder {
public:
    ~CHfsRecordingBuilder() override;
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override;
    int FlashBuild(_tagSearcherType type) override;
    void Release() override {}
    int SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override { return 1; }

    // Path below the root through the recorded parent ids ("?" parts for
    // unknown parents).
    std::string PathOf(CHFSPlusFileNode* node) const;
    std::map<std::string, CHFSPlusFileNode*> ByPath() const;

    std::vector<std::string> m_events;  // "info 31 2", "flash 31"
    std::vector<CHFSPlusFileNode*> m_nodes;
    bool m_refuseAll = false;
};

// Records every report; Continued() answers 0 from its (stopAfter + 1)-th
// call on when stopAfter is not negative.
class CHfsRecordingProgress : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override;
    int Continued() override;
    int shouldBuild() override { return 1; }

    struct Report {
        uint32_t state;
        uint64_t total, done;
    };
    std::vector<Report> m_reports;
    int m_stopAfter = -1;
    int m_continuedCalls = 0;
};

// Reads a node's data runs (allocation blocks of the volume) from the image,
// cut to its size.
std::string ReadNodeData(const HfsFixture& fixture, CHFSPlusFileNode* node, uint32_t blockSize);

// A quick scan of a fixture's volume through a window that reaches the
// image's end (for fixtures that keep extra trees behind the volume).
struct HfsImageScan {
    std::unique_ptr<IStorageDevice> device;
    CHfsRecordingBuilder builder;
    CHfsRecordingProgress progress;
    CHFSPlusQuickFileSystemSearchController searcher;
    ResultCode rc = 0;
};
std::unique_ptr<HfsImageScan> ScanWholeImage(const HfsFixture& fixture);
