// Shared helpers of the APFS tests: a container made by mkapfs and filled by
// the fixture script at test time, byte patches of image copies, and a
// recording tree builder and progress sink.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "IProgress.h"
#include "ITreeBuilder.h"

class IFileNode;

// 2020-09-13 12:26:40 UTC in nanoseconds: the fixture's first time.
constexpr uint64_t kApfsFixtureTime = 1600000000ULL * 1000000000ULL;
constexpr long long kApfsFixtureSectors = 128LL * 1024 * 1024 / 512;

struct ApfsFixture {
    std::string image;   // the filled container (tests only read it)
    std::string empty;   // the container as mkapfs left it
    std::string source;  // the folder with the bytes the script put there
};
// Made once per test process.
const ApfsFixture& SharedApfsFixture();

std::vector<unsigned char> ReadImage(const std::string& path);
void WriteImage(const std::string& path, const std::vector<unsigned char>& bytes);
void Put32(std::vector<unsigned char>& image, size_t offset, uint32_t value);
void Put64(std::vector<unsigned char>& image, size_t offset, uint64_t value);

class RecordingBuilder : public IDirecotryTreeBuilder {
public:
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override;
    int FlashBuild(_tagSearcherType type) override;
    void Release() override {}
    int SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override { return 1; }

    std::vector<IFileNode*> nodes;
    std::vector<std::pair<int, long long>> searchers;
    std::vector<int> builds;
    // The node with that name (empty names never match), or null.
    IFileNode* Find(const std::string& name) const;
};

class CountingProgress : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO*) override {}
    // Answers 1 for the first `allowed` questions, then 0.
    int Continued() override { return asked++ < allowed ? 1 : 0; }
    int shouldBuild() override { return 1; }
    long long allowed = 1LL << 62;
    long long asked = 0;
};
