// Shared helpers of the exFAT tests: the committed images (decompressed once
// per build folder), the FAT images of make_fat.sh, The Sleuth Kit as
// oracle, crafted entries, and recording builder and progress sinks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "IProgress.h"
#include "ITreeBuilder.h"

class IFileNode;
class CExFatFileNode;

// A committed image (ex-quick.img, ex-4k.img, ex-disk.img, ex-late.img),
// decompressed under the build folder. Tests only
// read these; damaged variants are copies in a test's own TempDir.
std::string ExFatImagePath(const std::string& name);
// The committed sha256 manifest (ex-quick.sha256, ex-4k.sha256).
std::string ExFatManifestPath(const std::string& name);
// Folder holding every image of the FAT fixture script.
std::string FatFixtureImagesDir();
// path below the root ("contig/data.txt") to sha256, from a committed
// manifest.
std::map<std::string, std::string> Manifest(const std::string& name);
// What the fixture script's put() writes: lines that name the file.
std::string PutContent(const std::string& name, int lines);
// The folder under out that holds child (the tree root's folder of a
// recovery).
std::string TreeRootUnder(const std::string& out, const std::string& child);

// Geometry of ex-quick.img.
constexpr long long kQuickHeap = 4096;
constexpr unsigned int kQuickSectorsPerCluster = 8;
constexpr long long kQuickRootSector = 4120;
constexpr long long kQuickNodes = 146;

void CopyFile(const std::string& from, const std::string& to);
void WriteAt(const std::string& path, unsigned long long offset, const void* bytes, size_t size);
std::vector<uint8_t> ReadAt(const std::string& path, unsigned long long offset, size_t size);

// What fls and istat say about one file or folder of a volume.
struct OracleEntry {
    long long inode = 0;
    bool deleted = false;
    bool directory = false;
};
// `fls -r -p` without the volume's metadata files: path below the root to
// entry.
std::map<std::string, OracleEntry> FlsTree(const std::string& image);
struct IstatInfo {
    long long size = -1;
    std::vector<long long> sectors;  // the non-zero sector numbers
    long long written = -1, accessed = -1, created = -1;  // seconds since 1970
};
IstatInfo Istat(const std::string& image, long long inode);

// 100-ns units since 1601 for seconds since 1970, and back.
unsigned long long UnixToFileTime(long long seconds);
long long FileTimeToUnix(unsigned long long fileTime);

// Crafted 32-byte entries.
struct Entry {
    uint8_t b[32] = {};
    Entry& Byte(size_t at, uint8_t v)
    {
        b[at] = v;
        return *this;
    }
    Entry& U16(size_t at, unsigned int v);
    Entry& U32(size_t at, uint32_t v);
    Entry& U64(size_t at, uint64_t v);
};
// A plausible file entry (2021-03-04 05:06:08 in all three stamps).
Entry FileEntry(uint8_t secondaryCount, uint16_t attributes = 0x20, bool inUse = true);
Entry StreamEntry(uint8_t nameLength, uint32_t firstCluster, uint64_t length, bool noFatChain = true,
                  bool inUse = true);
Entry NameEntry(const std::u16string& units, bool inUse = true);
// A whole entry set for name, with its checksum, as consecutive bytes.
std::vector<uint8_t> EntrySet(const std::u16string& name, uint32_t firstCluster, uint64_t length,
                              bool inUse = true, uint16_t attributes = 0x20);
uint16_t SetChecksumOf(const uint8_t* bytes, size_t length);

// Records what a searcher hands to its tree builder; owns the accepted nodes.
class CRecordingBuilder : public IDirecotryTreeBuilder {
public:
    ~CRecordingBuilder() override;
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override;
    int FlashBuild(_tagSearcherType type) override;
    void Release() override {}
    int SetPartitonDevice(CSearchedPartitionInfo* partition, IStorageDevice* device) override;

    // Path of a node below the tree root, through the recorded parent ids.
    std::string PathOf(CExFatFileNode* node) const;
    // Accepted nodes by path.
    std::map<std::string, CExFatFileNode*> ByPath() const;

    std::vector<std::string> m_events;  // "info 33 4120", "node", "partition", "flash 33"
    std::vector<CExFatFileNode*> m_nodes;
    std::vector<_tagSearcherType> m_nodeTypes;
    long long m_rootId = -1;
    // When set, nodes for which it answers true are refused.
    std::function<bool(IFileNode*)> m_refuse;
};

// Records every progress report; Continued() answers 0 from its
// (stopAfter + 1)-th call on when stopAfter is not negative.
class CRecordingProgress : public IProgress {
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
